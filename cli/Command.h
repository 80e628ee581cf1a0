// A vx538 command is a row of the table in cli/Options.cpp: its words and the function that adds its
// help and options to its subcommand and returns its run, the options it reads bound to state that
// the run's functions keep. The functions are declared here, by the file in cli/commands/ that holds
// them.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/Result.h"
#include "cli/Session.h"

namespace CLI {
class App;
}

namespace cli {

struct Environment;

// The options every command takes.
struct Globals {
    std::vector<std::string> ports; // --port, then those of --config and --ports-from
    // The name given to each port of `ports` ("NAME PORT" lines; empty for none): what heads its topics.
    std::vector<std::string> names;
    std::string portsFrom;
    std::string config; // --config: options read from a file, after the command line's
    uint32_t baud = 9600;
    std::string parity = "none";
    int timeoutMs = 1000;
    int gapMs = 50;
    bool gapGiven = false; // --gap given: used for every port, network or not (see DefaultGap)
    int retries = 0;
    bool json = false;
    std::string log;
    std::string changeLog;    // --change-log; empty: the default place
    bool noChangeLog = false; // --no-change-log
    int stopFd = -1; // Ctrl+C's event: readable once it came, to end any wait (set by Vx538)
};

// What a command does once its options are read; a command has one of `port`, `alone` and `live`.
struct Run {
    // Checks what needs no converter (names, values, files, frames) once the ports are known:
    // Failure(Usage or BadFile) before any port is opened or anything sent.
    std::function<void(const Globals&)> prepare = nullptr;
    // One port's run on each of --port's ports, filling `result`; a Failure ends it early, keeping
    // what the result holds. Every port's worker calls it at once: it changes nothing it shares.
    std::function<void(Session&, Result&)> port = nullptr;
    // The run of a command that uses no port (ports, params).
    std::function<void(const Globals&, Result&)> alone = nullptr;
    // A command that writes as it goes until Ctrl+C (watch, monitor): it runs with the program's
    // streams and stop event, opens its own ports and returns the exit status.
    std::function<int(const Globals&, const Environment&)> live = nullptr;
};

struct Command {
    const char* name; // "ping", a group ("hart"), or a group and a word: "hart id"
    Run (*define)(CLI::App& app);
};

namespace commands {
// commands/Configuration.cpp
Run Ports(CLI::App& app);
Run Params(CLI::App& app);
Run Get(CLI::App& app);
Run Set(CLI::App& app);
Run Backup(CLI::App& app);
Run Restore(CLI::App& app);
Run Diff(CLI::App& app);
Run Verify(CLI::App& app);
// commands/Frames.cpp
Run Ping(CLI::App& app);
Run Reset(CLI::App& app);
Run Factory(CLI::App& app);
Run TestOutput(CLI::App& app);
Run TestTotalizer(CLI::App& app);
Run Raw(CLI::App& app);
Run ModbusRead(CLI::App& app);
// commands/Hart.cpp
Run HartId(CLI::App& app);
Run HartVars(CLI::App& app);
Run HartSend(CLI::App& app);
Run HartScan(CLI::App& app);
// commands/Commissioning.cpp
Run HartFields(CLI::App& app);
Run Check(CLI::App& app);
Run Map(CLI::App& app);
// commands/Inspection.cpp
Run LoopCheck(CLI::App& app);
Run Inspect(CLI::App& app);
Run Log(CLI::App& app);
// commands/Watch.cpp
Run Watch(CLI::App& app);
// commands/Monitor.cpp
Run Monitor(CLI::App& app);
} // namespace commands

// The command line read (Options.cpp).
struct Parsed {
    Globals globals;
    Run run;                 // the command's
    std::optional<int> exit; // set when parsing ended the run (--help, --version, a usage error)
};

// Reads the arguments (without the program's name) against the commands; help, version and usage
// errors are written to `out` and `err`.
Parsed ParseArguments(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace cli
