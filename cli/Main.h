// vx538 as a function: its arguments, where its output goes and the stop event Ctrl+C signals. The
// program's main() calls it, and so do tests that run vx538 in-process. Then the pieces of its run that
// commands share: the ports a run works on (--port and --ports-from, each device once), their line
// options and a worker per port.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Command.h"
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

// The device a port name leads to, links followed, so one adapter is known under every name.
std::string DeviceOf(const std::string& port);

// Adds the ports of --ports-from to --port's and checks them: at least one, no device twice.
// Failure(Usage or BadFile) otherwise.
void ResolvePorts(Globals& globals);

// One port's line as the options every command takes set it.
LineOptions LineOptionsOf(const Globals& globals, const std::string& port);

// Failure(BadFile) when standard output or --log is the file `input` (given as `role`: "-i") that the
// run reads, before anything is written or sent (see SameFile).
void RefuseOutputsOver(const Globals& globals, const std::string& input, std::string_view role);

// Runs `work` for each of `count` ports on a thread of its own, all at once, and waits for them all.
void AtOnce(std::size_t count, const std::function<void(std::size_t)>& work);

// Where set commands are logged: --change-log's file, the default one, or nowhere (empty) with
// --no-change-log.
std::string ChangeLogPath(const Globals& globals);

} // namespace cli
