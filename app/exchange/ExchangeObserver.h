// What the exchange reports as it happens, for observers that must not change it (the traffic
// monitor, the status line) and for runs of requests that follow it (Read All, Write All, a window
// that polls). Every call comes from the main thread, inside the window's handler where it happens;
// the "...Handled" and "replyDecoded" hooks come once that handler has run to its end (its message box
// closed). Each hook does nothing unless an observer overrides it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "traffic/Interpreter.h"

namespace serial {
class TComm;
}

namespace app {

class ExchangeObserver {
public:
    virtual ~ExchangeObserver() = default;

    // A request handed to the port, with the pending command it recorded (or left as it was).
    // `written` is false when the port did not take it (not open): nothing went on the line.
    virtual void frameSent(std::span<const uint8_t> /*frame*/, int32_t /*pendingCommand*/, bool /*written*/) {
    }
    // A block delivered by the port, before the window handles it, with the pending command then.
    virtual void blockReceived(std::span<const uint8_t> /*block*/, int32_t /*pendingCommand*/) {}
    // The receive handler is done with a block that arrived under `pendingBefore`; `reading` is the
    // frame interpreter's reading of it against the last request written; `decodes` tells whether the
    // parse timer was started for it (a decoder follows, and then replyDecoded).
    virtual void blockHandled(const traffic::Reading& /*reading*/, int32_t /*pendingBefore*/,
                              bool /*decodes*/) {}
    // The parse timer's decoder ran under `pendingCommand`; `error` is the message that stopped it,
    // shown to the user, or empty.
    virtual void replyDecoded(int32_t /*pendingCommand*/, std::string_view /*error*/) {}
    // The reply timer ran out; `message` is what the window shows (empty for a kind with none).
    virtual void replyTimedOut(std::string_view /*message*/, int32_t /*pendingCommand*/) {}
    // ... and the timeout's message box was closed.
    virtual void timeoutHandled(std::string_view /*message*/) {}
    // A request stopped before anything was written, with the message the user is shown and the
    // pending command the request would have left.
    virtual void requestRefused(std::string_view /*message*/, int32_t /*pendingCommand*/) {}
    // The port was opened, closed by the user, failed to open, or hung up.
    virtual void portOpened(const serial::TComm& /*port*/) {}
    virtual void portClosed(const serial::TComm& /*port*/) {}
    virtual void portOpenFailed(const serial::TComm& /*port*/, std::string_view /*message*/) {}
    virtual void portLost(const serial::TComm& /*port*/) {}
    // A network port's server set the line otherwise than asked ("the server set 9600 baud where
    // 19200 was asked"); the port stays open.
    virtual void portLineDiffers(const serial::TComm& /*port*/, std::string_view /*difference*/) {}
};

} // namespace app
