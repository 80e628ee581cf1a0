// The frame interpreter: what a request or a received block means, in one line. Plain C++ so that the
// traffic monitor, a command-line tool and a fuzz harness can all call it with just the bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace traffic {

enum class Direction {
    Sent,     // a request written to the port
    Received, // a block delivered by the port
};

// Pending command codes of the exchange: the request whose reply is awaited (0: none). They decide
// what a received block is expected to be.
namespace pending {
inline constexpr int32_t None = 0;
inline constexpr int32_t HartIdentity = 100;
inline constexpr int32_t HartVariables = 103;
inline constexpr int32_t HartManual = 104;
inline constexpr int32_t HartAddress = 106;
inline constexpr int32_t SetCommand = 200;
inline constexpr int32_t SystemParameters = 201;
inline constexpr int32_t AnalogOutputs = 202;
inline constexpr int32_t CustomHart = 203;
inline constexpr int32_t ParseFormat = 204;
inline constexpr int32_t TestValues = 206;
inline constexpr int32_t ModbusTest = 302;
} // namespace pending

// One line (no line break, no tab) saying what the bytes are: a text command by name and value, a
// text reply by its block markers and fields, a MODBUS RTU or HART frame field by field with its
// checksum verdict, or their length and "not recognised". `pendingCommand` is the code recorded by
// the exchange at that moment: for a sent frame the one the request set, for a received block the
// one it is handled under. Any bytes are accepted; nothing past the span is read.
std::string Interpret(std::span<const uint8_t> bytes, Direction direction, int32_t pendingCommand);

} // namespace traffic
