// The rules of the request/reply exchange that do not need a window: pending command codes, how a
// received block is shown and whether it is decoded, and the timeout messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "traffic/Interpreter.h"

namespace exchange {

// Pending command codes: the request whose reply is awaited (0: none). The frame interpreter reads
// a block by the code it is handled under, so the codes live with it.
namespace pending = traffic::pending;

// Timeout kinds, selecting the message shown when no reply comes.
namespace timeout {
inline constexpr int32_t Connection = 1;
inline constexpr int32_t ParameterQuery = 2;
inline constexpr int32_t ParameterSetting = 3;
inline constexpr int32_t HartCommand = 4;
} // namespace timeout

inline constexpr std::size_t kReceiveBufferSize = 604;
inline constexpr std::size_t kReceivedTextMax = 255;
inline constexpr int kReplyTimeoutMs = 3000;
inline constexpr int kParseDelayMs = 300;
inline constexpr int kReceivePauseMs = 200;

// What the receive handler does with a block, by the pending command at that moment.
struct ReceiveAction {
    bool showHex = false;      // hex pairs instead of the text
    bool startParse = false;   // start the parse timer (a decoder runs 300 ms later)
    bool clearPending = false; // the exchange is over: pending command back to 0
};
ReceiveAction ReceiveActionFor(int32_t pendingCommand);

// The message of a timeout kind; empty for a kind that shows nothing.
std::string TimeoutMessage(int32_t kind);

// The received text as the receive field shows it: up to its first zero byte.
std::string TextUpToZero(std::string_view text);

// For a HART reply whose check byte is wrong (`reading` of the `block` it arrived in): the message
// that says so and that no field changed, since a damaged reply's values are not the instrument's.
// Empty for any other reading.
std::string DamagedHartReplyMessage(const traffic::Reading& reading, std::span<const uint8_t> block);

} // namespace exchange
