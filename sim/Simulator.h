// The simulated converter on its line: bytes as they arrive in, replies out with the time each is
// due, shaped by the fault switches. No I/O: the vx538-sim program and the tests drive it.
#pragma once

#include <chrono>
#include <cstdint>
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

struct Write {
    Millis at{0}; // since the simulator started
    std::string bytes;
};

class Simulator {
public:
    // How long the line must stay quiet before a frame still incomplete is given up (a MODBUS RTU
    // frame ends after 3.5 characters of silence; this is generous for every speed the tool offers).
    static constexpr Millis kQuietLine{100};

    explicit Simulator(Faults faults = {});

    // Bytes received at `now`; returns the writes they cause, in order.
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

private:
    std::vector<Write> answer(const std::vector<Frame>& frames, Millis now);
    std::optional<std::string> respond(const Frame& frame, Millis now);

    LineFramer framer_;
    Converter converter_;
    ModbusSide modbus_{kHoldingRegisters};
    std::minstd_rand noise_{538};
    Millis lastBytes_{0};
    int requests_ = 0;
    bool closed_ = false;
};

// One line of the traffic log: the time in milliseconds, the direction or frame kind, the bytes as
// hex pairs and as text (non-printable bytes as "."):
// "     1234 ms  in text   51 51 51 23 51 56 23  |QQQ#QV#|"
std::string FormatLogLine(Millis at, std::string_view label, std::string_view bytes);

} // namespace sim
