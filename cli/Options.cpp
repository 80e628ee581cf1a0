// The command line of vx538, through CLI11: the options every command takes, the table of commands
// with their own, the help texts and the exit code table's part of --help.
#include "cli/Command.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <ostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "cli/ConfigFile.h"
#include "cli/Files.h"
#include "tools/Utf8Text.h"

namespace cli {

namespace {

constexpr const char* kOptionsNote =
    "Every command takes the options of 'vx538 --help' (--port, --ports-from, --config, --baud, "
    "--parity,\n--timeout, --gap, --retries, --json, --log, --change-log, --no-change-log), before or "
    "after the\ncommand's name.\n";

constexpr const char* kPortsNote =
    "Ports: COM1..COM256 name /dev/ttyS0..; a name with a '/' is a path; any other name is looked up\n"
    "under /dev/ (ttyUSB0). Network ports: rfc2217://HOST:PORT (Telnet with RFC 2217: the line settings\n"
    "travel) and socket://HOST:PORT (raw TCP: the server's own line settings apply), an IPv6 address in\n"
    "brackets (rfc2217://[::1]:4001); neither carries authentication (tunnel with ssh -L). --port may be\n"
    "given many times: the ports run in parallel, each one's output kept together, then a summary. With\n"
    "--json, one JSON object per port and line.";

// A group of commands ("hart id", "modbus read"): what it is for; one of its commands must follow.
Run group(CLI::App& app, const char* help) {
    app.description(help);
    app.require_subcommand(1);
    return {};
}

// Every command, in the order --help lists them; a group's row comes before its commands'.
constexpr Command kCommands[] = {
    {"ports", commands::Ports},
    {"params", commands::Params},
    {"ping", commands::Ping},
    {"get", commands::Get},
    {"set", commands::Set},
    {"reset", commands::Reset},
    {"factory", commands::Factory},
    {"test-output", commands::TestOutput},
    {"test-totalizer", commands::TestTotalizer},
    {"raw", commands::Raw},
    {"backup", commands::Backup},
    {"restore", commands::Restore},
    {"diff", commands::Diff},
    {"verify", commands::Verify},
    {"hart",
     [](CLI::App& app) {
         return group(app, "talk HART to the instrument through the converter (transparent mode)");
     }},
    {"hart id", commands::HartId},
    {"hart vars", commands::HartVars},
    {"hart send", commands::HartSend},
    {"hart scan", commands::HartScan},
    {"hart fields", commands::HartFields},
    {"modbus", [](CLI::App& app) { return group(app, "the MODBUS RTU read test"); }},
    {"modbus read", commands::ModbusRead},
    {"check", commands::Check},
    {"loop-check", commands::LoopCheck},
    {"inspect", commands::Inspect},
    {"log", commands::Log},
    {"map", commands::Map},
    {"watch", commands::Watch},
    {"monitor", commands::Monitor},
};

// A whole number from `lowest` to `highest`: "1.5" or "abc" is said to be no whole number, not to be
// out of range.
CLI::Validator WholeNumber(long long lowest, long long highest) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            long long value = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (error == std::errc::invalid_argument || end != text.data() + text.size()) {
                return tools::EchoText(text) + " is not a whole number";
            }
            if (error != std::errc() || value < lowest || value > highest) {
                return tools::EchoText(text) + " is not in range " + std::to_string(lowest) + " to " +
                       std::to_string(highest);
            }
            return {};
        },
        "INT in [" + std::to_string(lowest) + " - " + std::to_string(highest) + "]");
}

void defineGlobals(CLI::App& app, Globals& g) {
    app.add_option("-p,--port", g.ports,
                   "serial port of a converter (COM3, ttyUSB0, /dev/ttyUSB0) or network port "
                   "(rfc2217://HOST:PORT, socket://HOST:PORT); may be given several times to "
                   "work on several converters in parallel")
        ->type_name("PORT");
    app.add_option("--ports-from", g.portsFrom,
                   "read the ports from FILE, one per line, 'PORT' or 'NAME PORT' (the name heads the "
                   "converter's MQTT topics; '#' starts a comment)")
        ->type_name("FILE");
    app.add_option("--config", g.config,
                   "read options from FILE, one a line as on the command line without the dashes "
                   "('mqtt mqtt://broker', 'interval 1000', 'port boiler rfc2217://10.0.0.5:4001'); the "
                   "command line's own win")
        ->type_name("FILE");
    app.add_option("--baud", g.baud, "baud rate of the line (default 9600)")
        ->type_name("BAUD")
        ->check(WholeNumber(1, 4000000));
    app.add_option("--parity", g.parity, "parity of the line: none, odd or even (default none)")
        ->type_name("PARITY")
        ->check(CLI::IsMember({"none", "odd", "even"}, CLI::ignore_case));
    app.add_option("--timeout", g.timeoutMs,
                   "milliseconds to wait for the first byte of a reply (default 1000)")
        ->type_name("MS")
        ->check(WholeNumber(1, 600000));
    app.add_option("--gap", g.gapMs,
                   "milliseconds of silence that end a reply whose end its bytes do not show, "
                   "such as a set command's (default 50; 300 on a network port, where one "
                   "reply may arrive in parts a round trip apart)")
        ->type_name("MS")
        ->check(WholeNumber(1, 60000));
    app.add_option("--retries", g.retries,
                   "resend a query that got no reply N times (never a set command; default 0)")
        ->type_name("N")
        ->check(WholeNumber(0, 100));
    app.add_flag("--json", g.json, "machine-readable output: one JSON object per port and line");
    app.add_option("--log", g.log,
                   "append every frame to FILE in the window's traffic log format, naming the port")
        ->type_name("FILE");
    app.add_option("--change-log", g.changeLog,
                   "log every set command to FILE (default $XDG_STATE_HOME/vx538/changes.jsonl, "
                   "~/.local/state/vx538/changes.jsonl without it)")
        ->type_name("FILE");
    app.add_flag("--no-change-log", g.noChangeLog, "log no set command (for scripts that must write nothing)");
}

} // namespace

namespace {

Parsed parseOnce(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    CLI::App app{"vx538 " VX538_VERSION
                 ": reads, sets, backs up, restores and verifies VX538-T-B converters over "
                 "their serial line, one or many at once. Values are named as 'vx538 params' lists them.",
                 "vx538"};
    app.footer(std::string(kOptionsNote) + "\n" + ExitCodesHelp() + "\n" + kPortsNote);
    app.set_version_flag("--version", "vx538 " VX538_VERSION);
    app.require_subcommand(1);
    app.fallthrough();

    Parsed parsed;
    defineGlobals(app, parsed.globals);
    std::map<std::string, CLI::App*> groups;
    std::vector<std::pair<Run, CLI::App*>> subcommands;
    for (const Command& command : kCommands) {
        const std::string name = command.name;
        const auto blank = name.find(' ');
        CLI::App* parent = blank == std::string::npos ? &app : groups.at(name.substr(0, blank));
        CLI::App* sub = groups[name] = parent->add_subcommand(name.substr(blank + 1));
        subcommands.emplace_back(command.define(*sub), sub);
    }

    try {
        std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
        app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) { // --help, --version
            app.exit(error, out, err);
            parsed.exit = code::Done;
            return parsed;
        }
        // CLI11's messages echo what was given: each word as messages echo values (a word of a megabyte
        // cut, a terminal's control bytes escaped).
        std::string message;
        std::istringstream words(error.what());
        for (std::string word; words >> word;) {
            message += (message.empty() ? "" : " ") + tools::EchoText(word);
        }
        err << "vx538: " << message << "\nRun with --help for more information.\n";
        parsed.exit = code::Usage;
        return parsed;
    }
    parsed.globals.gapGiven = app.count("--gap") > 0;
    for (auto& [run, sub] : subcommands) {
        if (sub->parsed()) {
            parsed.run = std::move(run);
        }
    }
    return parsed;
}


// Whether the command line gives option `name` itself ("--name VALUE" or "--name=VALUE").
bool givenOn(const std::vector<std::string>& arguments, const std::string& name) {
    const std::string option = "--" + name;
    return std::any_of(arguments.begin(), arguments.end(), [&](const std::string& argument) {
        return argument == option || argument.starts_with(option + "=");
    });
}

} // namespace

Parsed ParseArguments(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    Parsed parsed = parseOnce(arguments, out, err);
    if (parsed.exit || parsed.globals.config.empty()) {
        return parsed;
    }
    const std::string& file = parsed.globals.config;
    ConfigReading reading;
    try {
        reading = ReadConfigText(ReadInputFile(file));
    } catch (const Failure& failure) {
        err << "vx538: " << failure.what() << "\n";
        parsed.exit = failure.code();
        return parsed;
    }
    if (!reading.error.empty()) {
        err << "vx538: " << file << ": " << reading.error << "\n";
        parsed.exit = code::BadFile;
        return parsed;
    }
    // The file's options after the command line's, so they land in the command's own options as well as
    // the global ones; "--name=value", so a value starting with '-' stays a value.
    std::vector<std::string> all = arguments;
    for (const ConfigOption& option : reading.options) {
        if (!givenOn(arguments, option.name)) {
            all.push_back("--" + option.name + (option.value ? "=" + *option.value : std::string()));
        }
    }
    Parsed again = parseOnce(all, out, err);
    if (again.exit) {
        if (*again.exit != code::Done) {
            err << "vx538: (with the options of " << file << ")\n";
        }
        return again;
    }
    Globals& g = again.globals;
    g.names.resize(g.ports.size());
    for (const PortLine& port : reading.ports) {
        g.ports.push_back(port.port);
        g.names.push_back(port.name);
    }
    return again;
}

} // namespace cli
