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

} // namespace cli
