// The traffic monitor's frame interpreter over any bytes, in either direction and under every pending
// command the exchange can record, alone or against the request a block answers. The first byte
// chooses: bit 7 a sent frame, bit 6 a request follows (the next byte its length, then its bytes,
// then the block), the rest the pending command. Its meaning is one line without tabs, so the log
// file and the text save stay one event per line, the frame it places lies inside the block, and a
// reply whole enough for a reader to stop at is placed.
#include <algorithm>
#include <array>

#include "tests/fuzz/FuzzCheck.h"
#include "traffic/Interpreter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    namespace pending = traffic::pending;
    constexpr std::array<int32_t, 13> kPending = {pending::None,
                                                  pending::HartIdentity,
                                                  pending::HartVariables,
                                                  pending::HartManual,
                                                  pending::HartAddress,
                                                  pending::SetCommand,
                                                  pending::SystemParameters,
                                                  pending::AnalogOutputs,
                                                  pending::CustomHart,
                                                  pending::ParseFormat,
                                                  pending::TestValues,
                                                  pending::ModbusTest,
                                                  7};
    if (size == 0) {
        traffic::Interpret({}, traffic::Direction::Received, pending::None);
        return 0;
    }
    const auto direction = (data[0] & 0x80) != 0 ? traffic::Direction::Sent : traffic::Direction::Received;
    const int32_t code = kPending[(data[0] & 0x3F) % kPending.size()];
    std::span<const uint8_t> rest(data + 1, size - 1);
    std::span<const uint8_t> request;
    if ((data[0] & 0x40) != 0 && !rest.empty()) {
        const std::size_t length = std::min<std::size_t>(rest[0], rest.size() - 1);
        request = rest.subspan(1, length);
        rest = rest.subspan(1 + length);
    }
    const traffic::Reading reading = traffic::Read(rest, direction, code, request);
    fuzzcheck::check(!reading.meaning.empty(), "interpreter: empty meaning");
    fuzzcheck::check(reading.meaning.find_first_of("\n\r\t") == std::string::npos,
                     "interpreter: not one line");
    fuzzcheck::check(reading.frameOffset <= rest.size() &&
                         reading.frameLength <= rest.size() - reading.frameOffset,
                     "interpreter: the frame lies outside the block");
    // A reply a reader may stop at is placed in the block.
    fuzzcheck::check(traffic::ReplyEndOf(reading) != traffic::ReplyEnd::Whole || reading.frameLength > 0,
                     "interpreter: a whole reply without its place");
    fuzzcheck::check(!traffic::PendingText(code, request).empty(), "interpreter: no pending text");
    if (request.empty()) {
        fuzzcheck::check(reading.meaning == traffic::Interpret(rest, direction, code),
                         "interpreter: Read without a request differs from Interpret");
    }
    return 0;
}
