// TForm1: the converter's system parameter commands, the factory record, the test-value query, and
// the decoding of their replies into the "System Parameters" tab.
#include "app/window/VX538AB.h"

#include "app/window/Latin1.h"
#include "app/window/Lists.h"
#include "config/TextCommands.h"
#include "config/TextReplies.h"
#include "tools/Conversions.h"
#include "ui_VX538AB.h"

using app::latin1;

void TForm1::Button6Click() {
    SendRequest(Request::text([] { return config::communicationQueryFrame(); },
                              exchange::pending::SystemParameters, exchange::timeout::Connection));
}

void TForm1::Button23Click() {
    SendRequest(Request::configurationQuery(profile::Query::QX1));
}

void TForm1::Button52Click() {
    SendRequest(Request::configurationQuery(profile::Query::QX6));
}

void TForm1::Button24Click() {
    SendRequest(Request::set([this] { return config::workingModeFrame(app::SelectedIndex(ui->ComboBox7)); }));
}

void TForm1::Button29Click() {
    SendRequest(Request::set([this] { return config::slaveAddressFrame(FieldText(ui->Edit14)); }));
}

void TForm1::Button27Click() {
    SendRequest(Request::set([this] { return config::commandIntervalFrame(FieldText(ui->Edit6)); }));
}

void TForm1::Button32Click() {
    SendRequest(Request::set([this] {
        return config::rs485Frame(config::Rs485Port::Rs485, app::SelectedIndex(ui->BRAT1),
                                  app::SelectedIndex(ui->XIAO1));
    }));
}

void TForm1::Button33Click() {
    SendRequest(Request::set([this] {
        return config::rs485Frame(config::Rs485Port::Rs485B, app::SelectedIndex(ui->BRAT2),
                                  app::SelectedIndex(ui->XIAO2));
    }));
}

void TForm1::Button30Click() {
    SendRequest(Request::set([] { return config::parameterInitializationFrame(); }));
}

void TForm1::Button53Click() {
    SendRequest(Request::unrecorded(Request::Kind::FactoryRecord, [this] {
        return config::factoryRecordFrame(FieldText(ui->PCBSN), FieldText(ui->JIANZHI));
    }));
}

void TForm1::Edit14Change() {
    ui->Edit18->setText(ui->Edit14->text());
}

void TForm1::decodeSystemParameters() {
    const config::SystemParameters reply = config::decodeSystemParameters(ReceivedText());
    if (reply.slaveAddress) {
        ui->Edit14->setText(latin1(*reply.slaveAddress));
    }
    if (reply.baud1) {
        app::SelectIndex(ui->BRAT1, *reply.baud1);
    }
    if (reply.parity1) {
        app::SelectIndex(ui->XIAO1, *reply.parity1);
    }
    if (reply.baud2) {
        app::SelectIndex(ui->BRAT2, *reply.baud2);
    }
    if (reply.parity2) {
        app::SelectIndex(ui->XIAO2, *reply.parity2);
    }
    if (reply.workingMode) {
        app::SelectIndex(ui->ComboBox7, *reply.workingMode);
    }
    if (reply.commandInterval) {
        ui->Edit6->setText(latin1(*reply.commandInterval));
    }
    if (reply.error) {
        throw tools::ConversionError(*reply.error);
    }
}

void TForm1::decodeTestValues() {
    const config::TestValues reply = config::decodeTestValues(ReceivedText());
    if (reply.totalizer) {
        ui->Edit3->setText(latin1(*reply.totalizer));
    }
    QLineEdit* const fields[] = {ui->AVO0, ui->AVO1, ui->AVO2, ui->AVO3,
                                 ui->AVO4, ui->AVO5, ui->AVO6, ui->AVO7};
    for (std::size_t i = 0; i < reply.outputs.size(); ++i) {
        if (reply.outputs[i]) {
            fields[i]->setText(latin1(*reply.outputs[i]));
        }
    }
}
