// What the window's status line says: the port's state and, after each event of the exchange, what
// that event was (the frame interpreter's one-line meaning with its verdict), whether it is a fault,
// and while a reply is awaited the time left. Plain C++: the window feeds it the exchange's events and
// shows its text; nothing here changes the exchange.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/RegisterValues.h"

namespace exchange {

struct StatusText {
    std::string port;   // "COM3 (/dev/ttyS2) open, 9600 None", "Port closed"
    std::string event;  // empty before the first event after the port's
    bool fault = false; // the event is a fault (shown in red)
    // The event is the window's own note in UTF-8 (a file name); otherwise bytes of the line, one
    // character per byte.
    bool noteText = false;
};

// The word order of the parse format of variables 1..8 as the window's lists hold it; nullopt when
// the list has no selection.
using WordOrders = std::array<std::optional<tools::WordOrder>, 8>;

// "None", "Odd", "Even", "Mark", "Space" for the port component's parity 0..4.
std::string_view ParityText(int parity);

// The variables of a good MODBUS read reply as floats, each in its parse format's word order:
// "1 = 101.3, 2 = 24.5" (variable numbers). A variable counts when both its registers (40001 + 2n and
// the next) are in the reply; `request` gives the first register. Empty when none is, or when the
// request is no read of holding registers.
std::string ModbusVariablesText(std::span<const uint8_t> replyFrame, std::span<const uint8_t> request,
                                const WordOrders& orders);

class ExchangeStatus {
public:
    void portOpened(std::string_view name, std::string_view path, uint32_t baud, int parity);
    void portClosed(std::string_view name, std::string_view path);
    void portOpenFailed(std::string_view name, std::string_view path, std::string_view message);
    void portLost(std::string_view name, std::string_view path);

    // `awaitsReply`: the reply timer runs after the request. `portOpen` tells why an unwritten frame
    // was not taken.
    void frameSent(std::span<const uint8_t> frame, int32_t pendingCommand, bool written, bool awaitsReply,
                   bool portOpen);
    void blockReceived(std::span<const uint8_t> block, int32_t pendingCommand, const WordOrders& orders);
    void replyTimedOut(std::string_view message);
    void requestRefused(std::string_view message);
    // An event of the window's own, not of the exchange: shown until the next one.
    void note(std::string_view text);
    // The parse timer's decoder ran under `pendingCommand`; `error` is what stopped it, if anything.
    void replyDecoded(int32_t pendingCommand, std::string_view error);

    bool waiting() const { return waiting_; }
    // The line, with `remainingMs` of the reply timer while waiting (negative: not known).
    StatusText text(int remainingMs) const;

private:
    void event(std::string text, bool fault);
    // The port's state changed: nothing is awaited any more.
    void portEvent(std::string port, std::string text, bool fault);

    std::string port_ = "Port closed";
    std::string event_;
    bool fault_ = false;
    bool note_ = false;
    bool waiting_ = false;
    bool blockShown_ = false; // the event is a received block, which a decode may follow
    std::string request_;     // the meaning of the request last sent
    int32_t requestPending_ = 0;
    std::vector<uint8_t> requestBytes_;
    std::string replyMeaning_;
};

} // namespace exchange
