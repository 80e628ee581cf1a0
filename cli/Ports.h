// The ports a run works on: --port and --ports-from, each device once.
#pragma once

#include <string>
#include <vector>

#include "cli/Command.h"

namespace cli {

// The device a port name leads to, links followed, so one adapter is known under every name.
std::string DeviceOf(const std::string& port);

// Adds the ports of --ports-from to --port's and checks them: at least one, no device twice.
// Failure(Usage or BadFile) otherwise.
void ResolvePorts(Globals& globals);

// One port's line as the options every command takes set it.
LineOptions LineOptionsOf(const Globals& globals, const std::string& port);

// Opens the --log file when one is given; Failure(BadFile) when it cannot be.
void OpenLog(TrafficLog& log, const Globals& globals);

// A file name for one port: "{port}" in `pattern` stands for the port's last path element.
std::string PortFileName(std::string pattern, const std::string& port);

} // namespace cli
