// The frame interpreter's entry: picks the reader by what the bytes look like, by the request they
// answer and by what the exchange waits for, so that a reply is read the way the window reads it and
// anything else still gets a name.
#include "traffic/Interpreter.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "tools/ModbusLayout.h"
#include "tools/ModbusRequest.h"
#include "traffic/Meanings.h"

namespace traffic {

namespace {

using detail::Bytes;

bool waitsForHart(int32_t pendingCommand) {
    return pendingCommand == pending::HartIdentity || pendingCommand == pending::HartVariables ||
           pendingCommand == pending::HartManual || pendingCommand == pending::HartAddress;
}

// Codes under which the exchange waits for a reply of a known kind, so that a block of no kind at
// all is a fault rather than nothing to judge. 201 is left out: the communication query shares it
// and its reply has no shape of its own.
bool expectsKnownReply(int32_t pendingCommand) {
    return waitsForHart(pendingCommand) || pendingCommand == pending::ModbusTest ||
           (pendingCommand != pending::SystemParameters && !detail::BlockMarkerFor(pendingCommand).empty());
}

std::string notRecognised(Bytes bytes) {
    return detail::Counted(bytes.size(), "byte") + ", not recognised";
}

// A frame read by its own shape; a reply the exchange waits for (`judged`) also by its own check, in
// the order of FrameCheck (a request read back is no reply).
Reading frameReading(detail::FrameMeaning frame, Protocol protocol, bool judged) {
    constexpr Verdict kByCheck[] = {Verdict::Unexpected, Verdict::Good, Verdict::ChecksumWrong, Verdict::Cut};
    Verdict verdict =
        frame.masterToSlave ? Verdict::Unexpected : kByCheck[static_cast<std::size_t>(frame.check)];
    if (verdict == Verdict::Good && frame.exception) {
        verdict = Verdict::Exception;
    }
    return {std::move(frame.text), judged ? verdict : Verdict::None, frame.start, frame.length, protocol};
}

Reading textOwnShape(Bytes bytes, int32_t pendingCommand) {
    if (pendingCommand == pending::SetCommand) {
        if (std::optional<Reading> acknowledgement = detail::FindAcknowledgement(bytes, {}, {})) {
            return *acknowledgement;
        }
    }
    detail::TextReplyMeaning reply = detail::ReadTextReply(bytes, pendingCommand);
    if (pendingCommand == pending::SystemParameters && !reply.expectedMarker) {
        if (std::optional<Reading> communication = detail::CommunicationReply(bytes)) {
            return *communication;
        }
    }
    // Under a query's code a block without its marker is a fault (the communication query's excepted).
    const bool blockAwaited =
        expectsKnownReply(pendingCommand) && !detail::BlockMarkerFor(pendingCommand).empty();
    const Verdict verdict = reply.expectedMarker ? (reply.whole ? Verdict::Good : Verdict::Cut)
                            : blockAwaited       ? Verdict::Unexpected
                                                 : Verdict::None;
    return {std::move(reply.text), verdict, 0, reply.expectedMarker ? bytes.size() : 0, Protocol::Text};
}

} // namespace

namespace detail {

Protocol FrameProtocol(Bytes frame, int32_t pendingCommand) {
    if (StartsLikeTextCommand(frame)) {
        return Protocol::Text;
    }
    // The MODBUS test's slave address may be 255, which would otherwise pass for a preamble.
    if (pendingCommand == pending::ModbusTest) {
        return Protocol::Modbus;
    }
    if (HartFrameStart(frame, false) >= 0) {
        return Protocol::Hart;
    }
    return HasModbusCrc(frame) ? Protocol::Modbus : Protocol::None;
}

Reading SentReading(Bytes bytes, int32_t pendingCommand) {
    const Protocol protocol = FrameProtocol(bytes, pendingCommand);
    std::string meaning = protocol == Protocol::Text     ? TextCommandMeaning(bytes)
                          : protocol == Protocol::Hart   ? HartMeaning(bytes, Direction::Sent).text
                          : protocol == Protocol::Modbus ? ModbusMeaning(bytes, Direction::Sent).text
                                                         : notRecognised(bytes);
    return {std::move(meaning), Verdict::None, 0, bytes.size(), protocol};
}

Reading OwnShapeReading(Bytes bytes, int32_t pendingCommand) {
    const bool waitsForModbus = pendingCommand == pending::ModbusTest;
    // A reply to the MODBUS test: its function (or its exception) is the one asked for, or its CRC holds.
    if (waitsForModbus && (bytes.size() < 2 || (bytes[1] & ~tools::kModbusExceptionBit) == tools::kReadHoldingRegisters ||
                           detail::HasModbusCrc(bytes))) {
        return frameReading(ModbusMeaning(bytes, Direction::Received), Protocol::Modbus, true);
    }
    // A HART reply through the converter may carry a stray byte or two before its preambles.
    const bool waitsForHartReply = waitsForHart(pendingCommand);
    if (HartFrameStart(bytes, waitsForHartReply) >= 0) {
        return frameReading(HartMeaning(bytes, Direction::Received), Protocol::Hart, waitsForHartReply);
    }
    if (LooksLikeTextReply(bytes)) {
        return textOwnShape(bytes, pendingCommand);
    }
    // Under the MODBUS test a block that is nothing else is a reply damaged on the line.
    if (waitsForModbus || HasModbusCrc(bytes)) {
        return frameReading(ModbusMeaning(bytes, Direction::Received), Protocol::Modbus, waitsForModbus);
    }
    return {notRecognised(bytes), expectsKnownReply(pendingCommand) ? Verdict::Unexpected : Verdict::None};
}

} // namespace detail

namespace {

struct PendingName {
    int32_t code;
    std::string_view name;
};
constexpr PendingName kPendingNames[] = {
    {pending::None, "None"},
    {pending::HartIdentity, "HART Device Parameters"},
    {pending::HartVariables, "HART Dynamic Variables"},
    {pending::HartManual, "HART Manual Frame"},
    {pending::HartAddress, "HART Polling Address"},
    {pending::SetCommand, "Set Command"},
    {pending::SystemParameters, "System Parameters"},
    {pending::AnalogOutputs, "Analog Outputs"},
    {pending::CustomHart, "Custom HART Commands"},
    {pending::ParseFormat, "Parse Format"},
    {pending::TestValues, "Test Values"},
    {pending::ModbusTest, "MODBUS Test"},
};

// What each verdict is called, whether a status line shows it as a fault, and whether a reader may
// stop at it; in the order of Verdict.
struct VerdictFacts {
    std::string_view text;
    bool fault;
    ReplyEnd end;
};
constexpr VerdictFacts kVerdicts[] = {
    {"no verdict", false, ReplyEnd::Unknown},
    {"good", false, ReplyEnd::Whole},
    {"acknowledged", false, ReplyEnd::Whole},
    {"refused", true, ReplyEnd::Whole},
    {"CRC or check byte wrong", true, ReplyEnd::Unknown},
    {"exception", true, ReplyEnd::Whole},
    {"cut short", true, ReplyEnd::Partial},
    {"echo", false, ReplyEnd::Partial},
    {"unexpected", true, ReplyEnd::Unknown},
};
static_assert(std::size(kVerdicts) == static_cast<std::size_t>(Verdict::Unexpected) + 1);

} // namespace

std::string PendingText(int32_t pendingCommand, std::span<const uint8_t> request) {
    const std::string code = std::to_string(pendingCommand);
    // The communication query waits under the system parameters' code.
    if (pendingCommand == pending::SystemParameters && detail::IsCommunicationQuery(request)) {
        return code + " Communication Query";
    }
    const auto* row = std::ranges::find(kPendingNames, pendingCommand, &PendingName::code);
    return row == std::end(kPendingNames) ? code : code + ' ' + std::string(row->name);
}

ReplyEnd ReplyEndOf(const Reading& reading) {
    return kVerdicts[static_cast<std::size_t>(reading.verdict)].end;
}

bool IsFault(Verdict verdict) {
    return kVerdicts[static_cast<std::size_t>(verdict)].fault;
}

std::string_view VerdictText(Verdict verdict) {
    return kVerdicts[static_cast<std::size_t>(verdict)].text;
}

Reading Read(std::span<const uint8_t> bytes, Direction direction, int32_t pendingCommand,
             std::span<const uint8_t> request) {
    if (bytes.empty()) {
        return {direction == Direction::Sent ? "empty frame" : "empty block"};
    }
    if (direction == Direction::Sent) {
        return detail::SentReading(bytes, pendingCommand);
    }
    if (request.empty()) {
        return detail::OwnShapeReading(bytes, pendingCommand);
    }
    return detail::AnswerReading(bytes, pendingCommand, request);
}

std::string Interpret(std::span<const uint8_t> bytes, Direction direction, int32_t pendingCommand) {
    return Read(bytes, direction, pendingCommand).meaning;
}

} // namespace traffic
