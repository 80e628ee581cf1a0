// The frame interpreter's entry: picks the reader by what the bytes look like and by what the exchange
// waits for, so that a reply is read the way the window reads it and anything else still gets a name.
#include "traffic/Interpreter.h"

#include "traffic/Meanings.h"

namespace traffic {

namespace {

using detail::Bytes;

bool waitsForHart(int32_t pendingCommand) {
    return pendingCommand == pending::HartIdentity || pendingCommand == pending::HartVariables ||
           pendingCommand == pending::HartManual || pendingCommand == pending::HartAddress;
}

std::string notRecognised(Bytes bytes) {
    return detail::Counted(bytes.size(), "byte") + ", not recognised";
}

std::string sentMeaning(Bytes bytes, int32_t pendingCommand) {
    if (detail::StartsLikeTextCommand(bytes)) {
        return detail::TextCommandMeaning(bytes);
    }
    // The MODBUS test's slave address may be 255, which would otherwise pass for a preamble.
    if (pendingCommand == pending::ModbusTest) {
        return detail::ModbusMeaning(bytes, Direction::Sent);
    }
    if (detail::HartFrameStart(bytes, false) >= 0) {
        return detail::HartMeaning(bytes, Direction::Sent);
    }
    if (detail::HasModbusCrc(bytes)) {
        return detail::ModbusMeaning(bytes, Direction::Sent);
    }
    return notRecognised(bytes);
}

std::string receivedMeaning(Bytes bytes, int32_t pendingCommand) {
    if (pendingCommand == pending::ModbusTest) {
        return detail::ModbusMeaning(bytes, Direction::Received);
    }
    // A HART reply through the converter may carry a stray byte or two before its preambles.
    if (detail::HartFrameStart(bytes, waitsForHart(pendingCommand)) >= 0) {
        return detail::HartMeaning(bytes, Direction::Received);
    }
    if (detail::LooksLikeTextReply(bytes)) {
        return detail::TextReplyMeaning(bytes, pendingCommand);
    }
    if (detail::HasModbusCrc(bytes)) {
        return detail::ModbusMeaning(bytes, Direction::Received);
    }
    return notRecognised(bytes);
}

} // namespace

std::string Interpret(std::span<const uint8_t> bytes, Direction direction, int32_t pendingCommand) {
    if (bytes.empty()) {
        return direction == Direction::Sent ? "empty frame" : "empty block";
    }
    return direction == Direction::Sent ? sentMeaning(bytes, pendingCommand)
                                        : receivedMeaning(bytes, pendingCommand);
}

} // namespace traffic
