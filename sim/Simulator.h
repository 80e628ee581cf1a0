// The simulated converter on its line: bytes as they arrive in, replies out with the time each is
// due, shaped by the fault switches. No I/O: the vx538-sim program and the tests drive it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "sim/Converter.h"
#include "sim/Faults.h"
#include "sim/LineFramer.h"
#include "sim/ModbusSide.h"

namespace sim {

using Millis = std::chrono::milliseconds;
using Micros = std::chrono::microseconds;

struct Write {
    Millis at{0}; // since the simulator started
    std::string bytes;
};

// The speed of the simulated line. Without a baud rate the line is as fast as the pseudo-terminal:
// requests are complete when their bytes are read and replies go out whole.
struct LineTiming {
    int baud = 0;              // 0: not paced
    int bitsPerCharacter = 10; // start bit, 8 data bits, stop bit; 11 with a parity bit

    bool paced() const { return baud > 0; }
    // When the `count`th character since a moment is complete on the line, counted from that moment
    // (rounded up to the microsecond, so nothing is ever early).
    Micros charactersTime(int64_t count) const;
};

// "--parity none|odd|even" as bits per character, or 0 for any other name.
int BitsPerCharacter(std::string_view parity);

class Simulator {
public:
    // How long the line must stay quiet before a frame still incomplete is given up (a MODBUS RTU
    // frame ends after 3.5 characters of silence; this is generous for every speed the tool offers).
    static constexpr Millis kQuietLine{100};

    explicit Simulator(Faults faults = {}, LineTiming timing = {});

    // Bytes read from the terminal at `now`; returns the writes they cause, in order. On a paced line
    // each byte counts as arrived no earlier than one character time after the one before it, and a
    // request is answered from when its last byte arrived. A paced reply is one write per
    // millisecond of the bytes that are complete on the line by then, starting one character time
    // after its delay ends and never before the simulator's previous reply has gone out.
    std::vector<Write> receive(std::string_view bytes, Millis now);
    // The line has been quiet since the last bytes: an incomplete frame is given up (its bytes are
    // read again from one position on, see LineFramer::flush).
    std::vector<Write> lineQuiet(Millis now);
    // When lineQuiet is due, while bytes of an incomplete frame are waiting.
    std::optional<Millis> quietDeadline() const;

    // The hang-up switch has fired: the line goes down once the writes returned so far are out, and
    // nothing more is read.
    bool lineClosed() const { return closed_; }

    Converter& converter() { return converter_; }

    Faults faults;
    // Every frame read from the line, as "text", "hart", "modbus" or "skip" (garbage), with its bytes.
    std::function<void(Millis at, std::string_view kind, std::string_view bytes)> onFrame;

    // Bytes read from the line, with when the last of them was complete on it (on a paced line each
    // byte a character time after the one before): what a listen-only adapter sees of the requests.
    std::function<void(Micros at, std::string_view bytes)> onBytesIn;

    const LineTiming& timing() const { return timing_; }

private:
    // The frames' replies; a frame counts as complete when its last byte arrived, or at `now`.
    std::vector<Write> answer(const std::vector<Frame>& frames, Millis now);
    std::optional<std::string> respond(const Frame& frame, Millis now);
    // Appends the writes that put `bytes` on the line from `start` on; returns when the last is out.
    Micros transmit(std::vector<Write>& writes, std::string_view bytes, Micros start) const;

    LineFramer framer_;
    Converter converter_;
    ModbusSide modbus_{kHoldingRegisters};
    std::minstd_rand noise_{538};
    LineTiming timing_;
    // When each byte the framer still holds arrived on the line, oldest first.
    std::deque<Micros> arrivals_;
    std::optional<Micros> arrivalAnchor_; // the last arrival on an idle line
    int64_t charactersSinceAnchor_ = 0;
    Micros transmitterFree_{0}; // a paced line sends one reply after the other
    Millis lastBytes_{0};
    int requests_ = 0;
    bool closed_ = false;
};

// One line of the traffic log: the time in milliseconds, the direction or frame kind, the bytes as
// hex pairs and as text (non-printable bytes as "."):
// "     1234 ms  in text   51 51 51 23 51 56 23  |QQQ#QV#|"
std::string FormatLogLine(Millis at, std::string_view label, std::string_view bytes);

} // namespace sim
