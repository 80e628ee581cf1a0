// TForm1: the "Modbus Parameter Configuration" tab's MODBUS RTU read test and IEEE-754 calculator.
#include "app/window/VX538AB.h"

#include "app/window/Messages.h"
#include "tools/Ieee754Calc.h"
#include "tools/ModbusRequest.h"
#include "ui_VX538AB.h"

void TForm1::Button4Click() {
    // The reply is only shown, in hex, by the receive path; nothing decodes it.
    Request request = Request::text(
        [this] {
            const auto frame = tools::ReadHoldingRegistersRequest(
                FieldText(ui->Edit18), FieldText(ui->Edit19), FieldText(ui->Edit20));
            return std::string(frame.begin(), frame.end());
        },
        exchange::pending::ModbusTest, exchange::timeout::ParameterQuery);
    request.showHex = true;
    SendRequest(request);
}

void TForm1::Button13Click() {
    // A local tool: the port, the pending command and the timers are left alone.
    const tools::Ieee754Reading reading = tools::Ieee754FromHexText(FieldText(ui->Edit7));
    if (!reading.ok()) {
        app::ShowMessage(QString::fromLatin1(reading.failure));
        return;
    }
    ui->Edit22->setText(QString::fromLatin1(reading.text));
}
