// The frame interpreter's entry: picks the reader by what the bytes look like and by what the exchange
// waits for, so that a reply is read the way the window reads it and anything else still gets a name.
#include "traffic/Interpreter.h"

#include "tools/ModbusRequest.h"
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

// A block that reads as a reply to the MODBUS test: its function (or its exception) is the one asked
// for, or its CRC holds.
bool looksLikeModbusTestReply(Bytes bytes) {
    return bytes.size() < 2 || (bytes[1] & 0x7F) == tools::kReadHoldingRegisters ||
           detail::HasModbusCrc(bytes);
}

std::string receivedMeaning(Bytes bytes, int32_t pendingCommand) {
    const bool waitsForModbus = pendingCommand == pending::ModbusTest;
    if (waitsForModbus && looksLikeModbusTestReply(bytes)) {
        return detail::ModbusMeaning(bytes, Direction::Received);
    }
    // A HART reply through the converter may carry a stray byte or two before its preambles.
    if (detail::HartFrameStart(bytes, waitsForHart(pendingCommand)) >= 0) {
        return detail::HartMeaning(bytes, Direction::Received);
    }
    if (detail::LooksLikeTextReply(bytes)) {
        return detail::TextReplyMeaning(bytes, pendingCommand);
    }
    // Under the MODBUS test a block that is nothing else is a reply damaged on the line.
    if (waitsForModbus || detail::HasModbusCrc(bytes)) {
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
