// One converter's serial line for vx538: a request written, its reply read synchronously until it is
// complete (not until 400 ms of silence), over serial/'s platform layer (the same port names,
// exclusive hold and restored settings as the window).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "serial/LineTypes.h"
#include "serial/PosixPort.h"
#include "serial/Transport.h"
#include "traffic/Interpreter.h"

namespace cli {

using Millis = std::chrono::milliseconds;

struct LineOptions {
    std::string port; // as typed: "COM3", "ttyUSB0", "/dev/ttyUSB0"
    uint32_t baud = 9600;
    serial::TParity parity = serial::TParity::None;
    Millis timeout{1000}; // for the first byte of a reply
    Millis gap{50};       // silence that ends a reply whose end cannot be told from its bytes
    int retries = 0;      // resends of a query that got no reply
};

// The silence that ends a reply whose end its bytes do not show, unless --gap says otherwise: 50 ms on
// a local line; 300 ms on a network port, where a server that gathers small writes (Nagle) can hold
// the second part of one reply for a round trip (200 ms on a link with 100 ms of delay each way).
Millis DefaultGap(const std::string& port);

// Makes the transport of a port name: serial::makeTransport, or a simulated line in tests.
using TransportMaker = std::function<std::unique_ptr<serial::Transport>(const std::string& port)>;

// "none", "odd", "even" (the names of --parity and of rs485.parity's values), "mark", "space".
std::optional<serial::TParity> ParityNamed(std::string_view name);
std::string_view ParityName(serial::TParity parity);

// What ends a reply before the line goes quiet.
struct ReplyShape {
    enum class Kind {
        Quiet,   // nothing known: only the gap ends it (raw frames)
        Request, // the traffic interpreter reads it against its request
    };
    Kind kind = Kind::Quiet;
    int32_t pending = 0; // the window's pending command code of the request, for the interpreter
};

// How far `received` holds the reply to `request`, wherever it starts (noise before it is allowed),
// as the interpreter reads it (traffic::ReplyEndOf): whole (a query's reply with every field its
// decoder reads and its closing "#", a set reply echoing the request's head and key, a HART or
// MODBUS reply at its length with its check right or an exception), still coming (cut short: the
// timeout, not the gap, ends the wait), or not telling (the gap ends it). Always Unknown for
// Kind::Quiet.
traffic::ReplyEnd ReplyProgress(const ReplyShape& shape, std::string_view received, std::string_view request);

enum class ReplyEnd {
    Complete,    // the shape says it is whole
    Quiet,       // bytes came, then the gap passed
    NoReply,     // nothing within the timeout
    Interrupted, // the stop event (Ctrl+C)
    Lost,        // the line went away (adapter unplugged)
};

struct Reply {
    std::string bytes;
    ReplyEnd end = ReplyEnd::NoReply;
    Millis elapsed{0}; // from the end of the (last) request to the end of the reply
    int attempts = 1;
    bool written = false; // the whole request went onto the line
};

// What the line did, for the traffic log.
struct LineObserver {
    std::function<void(std::string_view frame)> sent;
    std::function<void(std::string_view block)> received;
    std::function<void()> timedOut;
};

class Line {
public:
    // `stop` is shared by every line of the program; once signalled, waits end at once.
    // The transport of the port's name (serial::makeTransport) unless one is given (tests).
    Line(LineOptions options, const serial::EventFd& stop,
         std::unique_ptr<serial::Transport> transport = nullptr);
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // Opens and sets up the port; the reason it could not be opened, in the window's words, otherwise.
    std::optional<std::string> open();
    void close();
    const std::string& path() const { return path_; }
    const LineOptions& options() const { return options_; }
    // Ctrl+C's event, for the other waits of this port's run.
    const serial::EventFd& stop() const { return stop_; }

    // Discards stale bytes, writes the frame, reads the reply. `retry` allows resending (queries
    // only: a set command might have been taken even if its reply was lost).
    Reply exchange(std::string_view frame, const ReplyShape& shape, bool retry);

    // Speed and parity of an open line, e.g. after the converter's RS485 settings changed.
    void setLine(uint32_t baud, serial::TParity parity);

    LineObserver observer;

private:
    Reply readReply(const ReplyShape& shape, std::string_view request,
                    std::chrono::steady_clock::time_point written, Millis frameTime);
    bool write(std::string_view frame);
    void discardStale();
    Millis characterTime(std::size_t count) const;

    LineOptions options_;
    const serial::EventFd& stop_;
    std::unique_ptr<serial::Transport> port_;
    std::string path_;
    int terminalSlot_ = -1;
};

// Puts back the terminal settings of every open line as they were at its open; safe in a signal
// handler, for a program that must end at once and still leave no port in its raw settings.
void RestoreTerminalsNow() noexcept;

// The message for a port that cannot be opened: "cannot open /dev/ttyUSB0: not found: ...".
std::string OpenFailureMessage(const std::string& path, const serial::OpenOutcome& outcome);

} // namespace cli
