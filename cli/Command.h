// A vx538 command: its words and options on the command line, what it checks before any port is
// opened, and its run on one port. A new command is a file in cli/commands/ and its line in
// cli/Commands.def; nothing else names it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
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
    std::vector<std::string> ports; // --port, then those of --ports-from
    std::string portsFrom;
    uint32_t baud = 9600;
    std::string parity = "none";
    int timeoutMs = 1000;
    int gapMs = 50;
    bool gapGiven = false; // --gap given: used for every port, network or not (see DefaultGap)
    int retries = 0;
    bool json = false;
    std::string log;
};

class Command {
public:
    // `name`: the words that name it, "ping", or a group and a word, "hart id" (the group's own help
    // is in Options.cpp's table of groups); `help`: its line in --help.
    Command(std::string_view name, std::string_view help) : name_(name), help_(help) {}
    virtual ~Command() = default;

    std::string_view name() const { return name_; }
    std::string_view help() const { return help_; }
    // Adds its own options and arguments to its subcommand.
    virtual void define(CLI::App& app) { (void)app; }
    // Whether it talks to converters on --port; ports and params do not.
    virtual bool usesPorts() const { return true; }

    // Checks what needs no converter (names, values, files, frames) once the ports are known:
    // Failure(Usage or BadFile) before any port is opened or anything sent.
    virtual void prepare(const Globals& globals) { (void)globals; }
    // One port's run, filling `result`; a Failure ends it early, keeping what the result holds. Every
    // port's worker calls it at once: it changes nothing of the command's own.
    virtual void run(Session& session, Result& result) const {
        (void)session;
        (void)result;
    }
    // The run of a command that uses no port.
    virtual void runAlone(const Globals& globals, Result& result) const {
        (void)globals;
        (void)result;
    }
    // A command that uses no port of --port's kind and writes as it goes until Ctrl+C (the bus
    // monitor): it runs instead of runAlone with the program's streams and stop event and returns the
    // exit status; nothing means it has no such run.
    virtual std::optional<int> runLive(const Globals& globals, const Environment& environment) const {
        (void)globals;
        (void)environment;
        return std::nullopt;
    }

private:
    std::string_view name_;
    std::string_view help_;
};

// Every command, in the order --help lists them (cli/Commands.def).
std::vector<std::unique_ptr<Command>> MakeCommands();

} // namespace cli
