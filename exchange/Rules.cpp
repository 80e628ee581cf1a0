// Exchange rules: receive actions and timeout messages.
#include "exchange/Rules.h"

#include "hart/HartFrames.h"
#include "tools/Conversions.h"
#include "traffic/FrameSearch.h"

namespace exchange {

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

std::string DamagedHartReplyMessage(const traffic::Reading& reading, std::span<const uint8_t> block) {
    if (reading.verdict != traffic::Verdict::ChecksumWrong || reading.protocol != traffic::Protocol::Hart ||
        reading.frameOffset + reading.frameLength > block.size() || reading.frameLength < 2) {
        return {};
    }
    const auto frame = block.subspan(reading.frameOffset, reading.frameLength);
    std::size_t delimiter = 0;
    while (delimiter + 1 < frame.size() && frame[delimiter] == traffic::kHartPreamble) {
        ++delimiter;
    }
    const uint8_t expected = hart::CheckByte(frame.subspan(delimiter, frame.size() - 1 - delimiter));
    return "The HART reply is damaged: its check byte is " + tools::ByteToHex(frame.back()) +
           " where its bytes give " + tools::ByteToHex(expected) +
           ". No field was changed; send the request again.";
}

} // namespace exchange
