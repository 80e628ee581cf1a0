// TForm1: the "HART Data Parsing Format" and "Custom HART Commands & Parsing Methods" groups of the
// "Modbus Parameter Configuration" tab: their set commands, their queries and the decoding of the replies.
#include "app/window/VX538AB.h"

#include "app/window/Latin1.h"
#include "app/window/Lists.h"
#include "app/window/Messages.h"
#include "config/CustomHart.h"
#include "config/ParseFormat.h"
#include "tools/Conversions.h"
#include "ui_VX538AB.h"

using app::latin1;

namespace {

struct ParseRow {
    QComboBox* format;
    QLineEdit* address;
    QComboBox* length;
    QLineEdit* coefficient;
};

std::array<ParseRow, config::kParseVariables> parseRows(Ui::TForm1& ui) {
    return {{
        {ui.FAMOUT1, ui.READADR1, ui.READLG1, ui.Xishou1},
        {ui.FAMOUT2, ui.READADR2, ui.READLG2, ui.Xishou2},
        {ui.FAMOUT3, ui.READADR3, ui.READLG3, ui.Xishou3},
        {ui.FAMOUT4, ui.READADR4, ui.READLG4, ui.Xishou4},
        {ui.FAMOUT5, ui.READADR5, ui.READLG5, ui.Xishou5},
        {ui.FAMOUT6, ui.READADR6, ui.READLG6, ui.Xishou6},
        {ui.FAMOUT7, ui.READADR7, ui.READLG7, ui.Xishou7},
        {ui.FAMOUT8, ui.READADR8, ui.READLG8, ui.Xishou8},
    }};
}

struct ReadMeterRow {
    QComboBox* enable;
    QLineEdit* bytes;
};

std::array<ReadMeterRow, config::kReadMeterCommands> readMeterRows(Ui::TForm1& ui) {
    return {{{ui.ComboBox28, ui.Edit4}, {ui.ComboBox29, ui.Edit5}}};
}

} // namespace

void TForm1::setParseFormat(int variable) {
    const ParseRow row = parseRows(*ui)[static_cast<std::size_t>(variable - 1)];
    SendRequest(Request::set([row, variable] {
        return config::parseFormatFrame(variable, app::SelectedIndex(row.format), FieldText(row.address),
                                        app::SelectedIndex(row.length), FieldText(row.coefficient));
    }));
}

void TForm1::Button39Click() {
    setParseFormat(1);
}
void TForm1::Button40Click() {
    setParseFormat(2);
}
void TForm1::Button44Click() {
    setParseFormat(3);
}
void TForm1::Button45Click() {
    setParseFormat(4);
}
void TForm1::Button46Click() {
    setParseFormat(5);
}
void TForm1::Button47Click() {
    setParseFormat(6);
}
void TForm1::Button48Click() {
    setParseFormat(7);
}
void TForm1::Button49Click() {
    setParseFormat(8);
}

void TForm1::Button50Click() {
    SendRequest(Request::set([this] { return config::addressBitFrame(app::SelectedIndex(ui->ComboBox15)); }));
}

void TForm1::Button19Click() {
    SendRequest(Request::configurationQuery(profile::Query::QX4));
}

void TForm1::Button9Click() {
    SendRequest(Request::set([this] {
        return config::hartPollingFrame(app::SelectedIndex(ui->ComboBox41), app::SelectedIndex(ui->ComboBox6),
                                        app::SelectedIndex(ui->ComboBox16),
                                        app::SelectedIndex(ui->ComboBox17),
                                        app::SelectedIndex(ui->ComboBox34), FieldText(ui->Edit2));
    }));
}

void TForm1::setReadMeterCommand(int command) {
    const ReadMeterRow row = readMeterRows(*ui)[static_cast<std::size_t>(command - 1)];
    // The hex text is read after the fields are emptied; its failures are plain messages. A list with no
    // selection is refused before anything changes.
    config::ReadMeterCommandFrame built;
    try {
        built = config::readMeterCommandFrame(command, app::SelectedIndex(row.enable), FieldText(row.bytes));
    } catch (const tools::InputRefused& refusal) {
        // Built before the request steps, so the refusal is recorded here as SendRequest would.
        observer().requestRefused(refusal.what(), exchange::pending::SetCommand);
        throw;
    }
    if (!built.ok()) {
        ui->Edit8->clear();
        ui->Memo10->clear();
        observer().requestRefused(built.failure, exchange::pending::SetCommand);
        app::ShowMessage(latin1(built.failure));
        return;
    }
    SendRequest(Request::readMeterCommand(built.frame));
}

void TForm1::Button17Click() {
    setReadMeterCommand(1);
}

void TForm1::Button18Click() {
    setReadMeterCommand(2);
}

void TForm1::Button31Click() {
    SendRequest(Request::configurationQuery(profile::Query::QX3));
}

void TForm1::decodeParseFormat() {
    const config::ParseFormatReply reply = config::decodeParseFormat(ReceivedText());
    if (reply.addressBitIndex) {
        app::SelectIndex(ui->ComboBox15, *reply.addressBitIndex);
    }
    const auto rows = parseRows(*ui);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const config::ParseFormatRow& decoded = reply.rows[i];
        if (decoded.format) {
            app::SelectIndex(rows[i].format, *decoded.format);
        }
        if (decoded.address) {
            rows[i].address->setText(latin1(*decoded.address));
        }
        if (decoded.length) {
            app::SelectIndex(rows[i].length, *decoded.length);
        }
        if (decoded.coefficient) {
            rows[i].coefficient->setText(latin1(*decoded.coefficient));
        }
    }
    if (reply.error) {
        throw tools::ConversionError(*reply.error);
    }
}

void TForm1::decodeCustomHart() {
    const config::CustomHartReply reply = config::decodeCustomHart(ReceivedText());
    if (reply.enable) {
        app::SelectIndex(ui->ComboBox6, *reply.enable);
    }
    if (reply.mode) {
        app::SelectIndex(ui->ComboBox16, *reply.mode);
    }
    if (reply.meterType) {
        app::SelectIndex(ui->ComboBox17, *reply.meterType);
    }
    if (reply.preambleIndex) {
        app::SelectIndex(ui->ComboBox34, *reply.preambleIndex);
    }
    if (reply.clearTime) {
        ui->Edit2->setText(latin1(*reply.clearTime));
    }
    const auto rows = readMeterRows(*ui);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (reply.commands[i].enable) {
            app::SelectIndex(rows[i].enable, *reply.commands[i].enable);
        }
        if (reply.commands[i].command) {
            rows[i].bytes->setText(latin1(*reply.commands[i].command));
        }
    }
    if (reply.error) {
        throw tools::ConversionError(*reply.error);
    }
}
