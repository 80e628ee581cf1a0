// The fault switches of the simulated converter: what a flaky line, a slow or dead converter, an
// unplugged adapter and analog outputs out of adjustment look like to the tool; and which output the
// bench meter's leads are on. Set on the command line and changed while running through the control
// FIFO, one line per change.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "sim/Outputs.h"

namespace sim {

struct Faults {
    bool silent = false;  // reads the line, answers nothing, changes nothing
    int delayMs = 0;      // every reply starts this long after its request
    int splitMs = 0;      // every reply goes out in two parts this far apart (0: in one piece)
    bool corrupt = false; // HART replies with a wrong check byte, MODBUS replies with a wrong CRC
    bool noise = false;   // a few bytes of garbage before every reply
    int hangupAfter = 0;  // the line closes after this many requests (0: never)
    std::array<OutputTrim, kOutputs> outputs{}; // each output stage's own error
    int meterOutput = 0;                        // the output the bench meter measures
};

// Applies one control line: "silent on", "silent off", "delay MS", "split MS", "corrupt on|off",
// "noise on|off", "hangup-after N", "output-error N:MA" (output N's zero offset in mA, -16 to 16),
// "output-gain N:FACTOR" (its span factor, 0.5 to 2), "meter-output N" (N 0 to 7, as DOUTA0 to
// DOUTA7). Returns an empty text, or what was wrong with the line (the faults are then unchanged).
std::string ApplyControl(Faults& faults, std::string_view line);

// The switches as control lines would set them: "silent off, delay 0, split 0, ...", the outputs'
// errors only where they are not zero.
std::string Describe(const Faults& faults);

} // namespace sim
