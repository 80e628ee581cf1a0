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
    // The silence that ends a MODBUS RTU frame, and that a slave leaves before its reply: 3.5
    // characters, or 1750 us above 19200 baud where the character time no longer sets it.
    Micros frameSilence() const;
};

// "--parity none|odd|even" as bits per character, or 0 for any other name.
int BitsPerCharacter(std::string_view parity);

class Simulator {
public:
    // How long the line must stay quiet before a frame still incomplete is given up (a MODBUS RTU
    // frame ends after 3.5 characters of silence; this is generous for every speed the tool offers).
    static constexpr Millis kQuietLine{100};

    explicit Simulator(Faults faults = {}, LineTiming timing = {},
                       ModbusFraming modbusFraming = ModbusFraming::Silence);

    // Bytes read from the terminal at `now`; returns the writes they cause, in order. On a paced line
    // each byte counts as arrived no earlier than one character time after the one before it, and a
    // request is answered from when its last byte arrived. A paced reply is one write per
    // millisecond of the bytes that are complete on the line by then, starting one character time
    // after its delay ends and never before the simulator's previous reply has gone out. A MODBUS
    // reply starts no earlier than the frame silence after its request's last byte, the delay added.
    std::vector<Write> receive(std::string_view bytes, Millis now);
    // Due at quietDeadline: the frame silence has passed since the last bytes (a MODBUS request
    // waiting for it is taken or discarded), or the line has been quiet so long that an incomplete
    // frame is given up (its bytes are read again from one position on, see LineFramer::flush).
    std::vector<Write> lineQuiet(Millis now);
    // When lineQuiet is due, while bytes of an incomplete frame are waiting.
    std::optional<Millis> quietDeadline() const;

    // On a line that is not paced, the speed the tool has set on its terminal: the character time
    // MODBUS's silences are counted in (9600 baud, 10 bits a character, until told).
    void setPortSpeed(int baud, int bitsPerCharacter);

    // The current analog output `output` (0 to 7) drives at `now`, in mA: what the converter means to
    // drive with the error of the output's stage (the fault switches) on top; 0 when it drives none.
    double outputCurrent(int output, Millis now);

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
    // The timing MODBUS's silences are counted in: the paced line's, or the terminal's speed.
    const LineTiming& modbusTiming() const { return timing_.paced() ? timing_ : portTiming_; }
    // When the frame silence after the last byte received is over.
    Millis burstDeadline() const;
    std::optional<std::string> respond(const Frame& frame, Millis now);
    // Appends the writes that put `bytes` on the line from `start` on; returns when the last is out.
    Micros transmit(std::vector<Write>& writes, std::string_view bytes, Micros start) const;

    LineFramer framer_;
    Converter converter_;
    ModbusSide modbus_{kHoldingRegisters};
    std::minstd_rand noise_{538};
    LineTiming timing_;
    LineTiming portTiming_{9600, 10};
    // When each byte the framer still holds arrived on the line, oldest first.
    std::deque<Micros> arrivals_;
    std::optional<Micros> lastArrival_;   // of the last byte received
    bool answeredInBurst_ = false;        // a reply was decided since the latest burst began
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
