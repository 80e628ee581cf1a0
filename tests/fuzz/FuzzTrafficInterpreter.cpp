// The traffic monitor's frame interpreter over any bytes, in either direction and under every pending
// command the exchange can record (chosen by the first byte). Its meaning is one line without tabs,
// so the log file and the text save stay one event per line.
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
    const int32_t code = kPending[(data[0] & 0x7F) % kPending.size()];
    const std::string meaning = traffic::Interpret({data + 1, size - 1}, direction, code);
    fuzzcheck::check(!meaning.empty(), "interpreter: empty meaning");
    fuzzcheck::check(meaning.find_first_of("\n\r\t") == std::string::npos, "interpreter: not one line");
    return 0;
}
