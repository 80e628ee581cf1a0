// vx538 as a function: its arguments, where its output goes and the stop event Ctrl+C signals. The
// program's main() calls it, and so do tests that run vx538 in-process.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/Line.h"
#include "serial/PosixPort.h"

namespace cli {

struct Environment {
    std::ostream& out;
    std::ostream& err;
    const serial::EventFd& stop; // once signalled, every port's run ends
    bool progress = false;       // standard error is a terminal: a progress line while several ports run
    TransportMaker transport;    // how a port name becomes a line; none: serial::makeTransport
};

// The arguments without the program's name; returns the exit status.
int Vx538(const std::vector<std::string>& arguments, const Environment& environment);

} // namespace cli
