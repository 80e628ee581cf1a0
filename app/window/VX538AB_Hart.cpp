// TForm1: the "Transparent Mode" tab: HART frames to the instrument through the converter, and the
// decoding of the identity and dynamic-variable replies.
#include "app/window/VX538AB.h"

#include "app/window/Latin1.h"
#include "app/window/Lists.h"
#include "app/window/Messages.h"
#include "hart/HartReplies.h"
#include "tools/Conversions.h"
#include "ui_VX538AB.h"

using app::latin1;

namespace {

std::string bytesAsString(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

// The master bit comes from the command mode list: "Master Mode" is item 0.
bool masterMode(int index) {
    if (index < 0) {
        throw tools::InputRefused("HART Command Mode must be Master Mode or Secondary Master Mode.");
    }
    return index == 0;
}

bool masterMode(const QComboBox* list) {
    return masterMode(app::SelectedIndex(list));
}

} // namespace

void TForm1::Button7Click() {
    Request request = Request::hart(
        Request::Kind::Hart,
        [this] {
            // Read in frame order: the preambles first, then the address byte (polling address and
            // master bit). The builder checks the preamble length and the address; the mode's own
            // refusal follows them.
            const std::string preambleText = FieldText(ui->Edit9);
            const int address = app::SelectedIndex(ui->ComboBox30);
            const int mode = app::SelectedIndex(ui->ComboBox42);
            const auto frame = hart::IdentityQueryFrame(preambleText, address, mode == 0);
            masterMode(mode);
            // The reply tells the identity of the instrument at this address; remember which one was asked.
            hartIdentity_.pollingAddress = static_cast<uint8_t>(address);
            return bytesAsString(frame);
        },
        exchange::pending::HartIdentity);
    request.prepare = [this] { clearHartIdentityFields(); };
    SendRequest(request);
}

void TForm1::Button16Click() {
    SendRequest(Request::hart(
        Request::Kind::Hart,
        [this] {
            return bytesAsString(
                hart::VariablesQueryFrame(FieldText(ui->Edit9), masterMode(ui->ComboBox42), hartIdentity_));
        },
        exchange::pending::HartVariables));
}

void TForm1::Button14Click() {
    Request request = Request::hart(
        Request::Kind::HartAddress,
        [this] {
            return bytesAsString(hart::WritePollingAddressFrame(FieldText(ui->Edit9),
                                                                masterMode(ui->ComboBox42), hartIdentity_,
                                                                app::SelectedIndex(ui->ComboBox27)));
        },
        exchange::pending::HartAddress);
    // The address request always goes out with RTS raised, whatever RTS mode the port was left in.
    request.prepare = [this] { Comm1->SetRtsControl(serial::TRtsControl::RtsEnable); };
    SendRequest(request);
}

void TForm1::Button20Click() {
    // The hex text is read after the fields are emptied; its failures are plain messages.
    const hart::HexBytes typed = hart::ParseHexBytes(FieldText(ui->Edit10), hart::kManualFrameMaxBytes);
    if (!typed.ok()) {
        ui->Edit8->clear();
        ui->Memo10->clear();
        observer().requestRefused(typed.failure, exchange::pending::HartManual);
        app::ShowMessage(latin1(typed.failure));
        return;
    }
    SendRequest(Request::hart(
        Request::Kind::Hart,
        [this, &typed] { return bytesAsString(hart::ManualFrame(FieldText(ui->Edit9), typed.bytes)); },
        exchange::pending::HartManual));
}

bool TForm1::refusedDamagedHartReply() {
    const std::string message = exchange::DamagedHartReplyMessage(LastReading(), ReceiveBuffer());
    if (message.empty()) {
        return false;
    }
    app::ShowMessage(latin1(message));
    return true;
}

void TForm1::clearHartIdentityFields() {
    ui->Edit28->clear();
    ui->Edit29->clear();
    ui->Edit31->clear();
    ui->Edit32->clear();
}

void TForm1::decodeHartIdentity() {
    pendingCommand_ = exchange::pending::None;
    Timer3->SetEnabled(false);
    if (refusedDamagedHartReply()) {
        return;
    }
    const auto reply = hart::DecodeIdentityReply(ReceiveBuffer(), ReceivedText().size());
    if (!reply) {
        clearHartIdentityFields();
        return;
    }
    hart::StoreIdentity(*reply, hartIdentity_);
    ui->Edit28->setText(latin1(reply->manufacturerText));
    ui->Edit29->setText(latin1(reply->deviceTypeText));
    ui->Edit31->setText(latin1(reply->reportedPreamblesText));
    app::SelectIndex(ui->ComboBox27, hartIdentity_.pollingAddress);
    ui->Edit32->setText(latin1(reply->deviceIdText));
}

void TForm1::decodeHartVariables() {
    pendingCommand_ = exchange::pending::None;
    Timer3->SetEnabled(false);
    if (refusedDamagedHartReply()) {
        return;
    }
    const hart::VariablesReply reply = hart::DecodeVariablesReply(ReceiveBuffer(), ReceivedText().size());
    QLineEdit* const values[] = {ui->Edit25, ui->Edit26, ui->Edit27, ui->Edit30};
    QComboBox* const units[] = {ui->ComboBox3, ui->ComboBox31, ui->ComboBox32, ui->ComboBox33};
    for (std::size_t i = 0; i < reply.variables.size(); ++i) {
        if (reply.variables[i]) {
            values[i]->setText(latin1(reply.variables[i]->valueText));
            app::SelectIndex(units[i], reply.variables[i]->unitIndex);
        }
    }
}
