// vx538's command line: the options every command takes, the table of commands with their own, the
// help texts and the exit code table's part of --help.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/Command.h"

namespace cli {

struct Parsed {
    Globals globals;
    Run run;                 // the command's
    std::optional<int> exit; // set when parsing ended the run (--help, --version, a usage error)
};

// Reads the arguments (without the program's name) against the commands; help, version and usage
// errors are written to `out` and `err`.
Parsed ParseArguments(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace cli
