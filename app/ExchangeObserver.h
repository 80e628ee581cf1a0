// What the exchange reports as it happens, for an observer that must not change it (the traffic
// monitor). Every call comes from the main thread, inside the window's handler where it happens.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace serial {
class TComm;
}

namespace app {

class ExchangeObserver {
public:
    virtual ~ExchangeObserver() = default;

    // A request handed to the port, with the pending command it recorded (or left as it was).
    // `written` is false when the port did not take it (not open): nothing went on the line.
    virtual void frameSent(std::span<const uint8_t> frame, int32_t pendingCommand, bool written) = 0;
    // A block delivered by the port, before the window handles it, with the pending command then.
    virtual void blockReceived(std::span<const uint8_t> block, int32_t pendingCommand) = 0;
    // The reply timer ran out; `message` is what the window shows (empty for a kind with none).
    virtual void replyTimedOut(std::string_view message, int32_t pendingCommand) = 0;
    // A request stopped before anything was written, with the message the user is shown and the
    // pending command the request would have left.
    virtual void requestRefused(std::string_view message, int32_t pendingCommand) = 0;
    // The port was opened, closed by the user, failed to open, or hung up.
    virtual void portOpened(const serial::TComm& port) = 0;
    virtual void portClosed(const serial::TComm& port) = 0;
    virtual void portOpenFailed(const serial::TComm& port, std::string_view message) = 0;
    virtual void portLost(const serial::TComm& port) = 0;
};

} // namespace app
