// TForm1: the "Analog Output Configuration" group (output mapping, totalizer output, query) and the
// "For Test" group's test commands.
#include "app/window/VX538AB.h"

#include "app/window/Latin1.h"
#include "app/window/Lists.h"
#include "config/TextCommands.h"
#include "config/TextReplies.h"
#include "tools/Conversions.h"
#include "ui_VX538AB.h"

using app::latin1;

namespace {

struct AnalogRow {
    QComboBox* variable;
    QLineEdit* upper;
    QLineEdit* lower;
    QPushButton* set;
    QLineEdit* testValue;
};

std::array<AnalogRow, config::kAnalogOutputs> analogRows(Ui::TForm1& ui) {
    return {{
        {ui.DOUT1, ui.DOUT1H, ui.DOUT1L, ui.Button2, ui.AVO0},
        {ui.DOUT2, ui.DOUT2H, ui.DOUT2L, ui.Button3, ui.AVO1},
        {ui.DOUT3, ui.DOUT3H, ui.DOUT3L, ui.Button5, ui.AVO2},
        {ui.DOUT4, ui.DOUT4H, ui.DOUT4L, ui.Button8, ui.AVO3},
        {ui.DOUT5, ui.DOUT5H, ui.DOUT5L, ui.Button12, ui.AVO4},
        {ui.DOUT6, ui.DOUT6H, ui.DOUT6L, ui.Button36, ui.AVO5},
        {ui.DOUT7, ui.DOUT7H, ui.DOUT7L, ui.Button37, ui.AVO6},
        {ui.DOUT8, ui.DOUT8H, ui.DOUT8L, ui.Button38, ui.AVO7},
    }};
}

} // namespace

void TForm1::setAnalogOutput(int output) {
    const AnalogRow row = analogRows(*ui)[static_cast<std::size_t>(output)];
    SendRequest(Request::set([row, output] {
        return config::analogOutputFrame(output, app::SelectedIndex(row.variable), FieldText(row.upper),
                                         FieldText(row.lower));
    }));
}

bool TForm1::AnalogOutputSettable(int output) const {
    return analogRows(*ui)[static_cast<std::size_t>(output)].set->isEnabled();
}

void TForm1::SetAnalogOutputSettable(int output, bool settable) {
    analogRows(*ui)[static_cast<std::size_t>(output)].set->setEnabled(settable);
}

void TForm1::testAnalogOutput(int output) {
    const AnalogRow row = analogRows(*ui)[static_cast<std::size_t>(output)];
    SendRequest(Request::unrecorded(Request::Kind::Test, [row, output] {
        return config::outputTestFrame(output, FieldText(row.testValue));
    }));
}

void TForm1::Button2Click() {
    setAnalogOutput(0);
}
void TForm1::Button3Click() {
    setAnalogOutput(1);
}
void TForm1::Button5Click() {
    setAnalogOutput(2);
}
void TForm1::Button8Click() {
    setAnalogOutput(3);
}
void TForm1::Button12Click() {
    setAnalogOutput(4);
}
void TForm1::Button36Click() {
    setAnalogOutput(5);
}
void TForm1::Button37Click() {
    setAnalogOutput(6);
}
void TForm1::Button38Click() {
    setAnalogOutput(7);
}

void TForm1::Button22Click() {
    testAnalogOutput(0);
}
void TForm1::Button25Click() {
    testAnalogOutput(1);
}
void TForm1::Button28Click() {
    testAnalogOutput(2);
}
void TForm1::Button35Click() {
    testAnalogOutput(3);
}
void TForm1::Button41Click() {
    testAnalogOutput(4);
}
void TForm1::Button42Click() {
    testAnalogOutput(5);
}
void TForm1::Button43Click() {
    testAnalogOutput(6);
}
void TForm1::Button51Click() {
    testAnalogOutput(7);
}

void TForm1::Button10Click() {
    SendRequest(
        Request::set([this] { return config::totalizerOutputFrame(app::SelectedIndex(ui->LEJIOUT)); }));
}

void TForm1::Button34Click() {
    SendRequest(Request::configurationQuery(profile::Query::QX2));
}

void TForm1::Button11Click() {
    SendRequest(Request::unrecorded(Request::Kind::Test,
                                    [this] { return config::totalizerTestFrame(FieldText(ui->Edit3)); }));
}

void TForm1::decodeAnalogOutputs() {
    const config::AnalogOutputs reply =
        config::decodeAnalogOutputs(ReceivedText(), app::SelectedIndex(ui->LEJIOUT));
    const auto rows = analogRows(*ui);
    if (reply.totalizerOutput) {
        app::SelectIndex(ui->LEJIOUT, *reply.totalizerOutput);
    }
    const auto applyRow = [&](int output) {
        const auto& decoded = reply.row(output);
        if (!decoded) {
            return;
        }
        const AnalogRow& row = rows[static_cast<std::size_t>(output)];
        app::SelectIndex(row.variable, decoded->variable);
        row.upper->setText(latin1(decoded->upperText));
        row.lower->setText(latin1(decoded->lowerText));
    };
    for (int output = 0; output < 4; ++output) {
        applyRow(output);
    }
    if (reply.lastRowsState == config::LastRows::Closed) {
        for (int output = 4; output < config::kAnalogOutputs; ++output) {
            app::SelectIndex(rows[static_cast<std::size_t>(output)].variable, 0);
            rows[static_cast<std::size_t>(output)].set->setEnabled(false);
        }
    } else if (reply.lastRowsState == config::LastRows::Enabled) {
        for (int output = 4; output < config::kAnalogOutputs; ++output) {
            rows[static_cast<std::size_t>(output)].set->setEnabled(true);
            applyRow(output);
        }
    }
    if (reply.error) {
        throw tools::ConversionError(*reply.error);
    }
}
