// Exchange rules: receive actions and timeout messages.
#include "app/Exchange.h"

namespace app {

ReceiveAction ReceiveActionFor(int32_t pendingCommand) {
    switch (pendingCommand) {
    case pending::SystemParameters:
    case pending::AnalogOutputs:
    case pending::CustomHart:
    case pending::ParseFormat:
    case pending::TestValues:
        return {.showHex = false, .startParse = true, .clearPending = false};
    case pending::HartIdentity:
    case pending::HartVariables:
        return {.showHex = true, .startParse = true, .clearPending = false};
    case pending::HartManual:
    case pending::HartAddress:
    case pending::ModbusTest:
        return {.showHex = true, .startParse = false, .clearPending = false};
    default:
        return {.showHex = false, .startParse = false, .clearPending = true};
    }
}

std::string TimeoutMessage(int32_t kind) {
    switch (kind) {
    case timeout::Connection:
        return "Connection Timeout!";
    case timeout::ParameterQuery:
        return "Parameter Query Timeout!";
    case timeout::ParameterSetting:
        return "Parameter Setting Timeout!";
    case timeout::HartCommand:
        return "HART Command Timeout!";
    default:
        return {};
    }
}

std::string TextUpToZero(std::string_view text) {
    return std::string(text.substr(0, text.find('\0')));
}

} // namespace app
