// vx538: the command-line companion of the configuration tool. Reads, sets, backs up, restores and
// verifies VX538-T-B converters, one or many at once (one worker per port), for scripts and for the
// production line.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "profile/Parameters.h"
#include "serial/PortScan.h"

namespace {

using namespace cli;

constexpr const char* kExitCodes = R"(Every command takes the options of 'vx538 --help' (--port, --ports-from, --baud, --parity,
--timeout, --gap, --retries, --json, --log), before or after the command's name.

Exit status:
  0   done
  1   verify or diff found differences
  2   bad usage or a bad value (nothing was sent)
  3   the port cannot be opened (not found, permission: join the dialout group, busy)
  4   no reply
  5   a reply that is not what the command expects (a refused set command, a value that did not take)
  6   the HART instrument did not answer (the converter passes HART only in transparent mode)
  7   the MODBUS reply failed its CRC or is an exception
  8   a file that cannot be read or is not a configuration file
  10  several ports failed in different ways (otherwise several ports give 0 only if all
      gave 0, else the code all failed ports share)
  130 interrupted (Ctrl+C); the ports' settings are put back

Ports: COM1..COM256 name /dev/ttyS0..; a name with a '/' is a path; any other name is looked up
under /dev/ (ttyUSB0). --port may be given many times: the ports run in parallel, each one's output
kept together, then a summary. With --json, one JSON object per port and line.)";

serial::EventFd* stopEvent = nullptr;

extern "C" void onInterrupt(int) {
    // Wakes every worker's wait; their ports close and put their settings back. A second Ctrl+C
    // ends the program at once.
    if (stopEvent) {
        stopEvent->signal();
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

struct Globals {
    std::vector<std::string> ports;
    std::string portsFrom;
    uint32_t baud = 9600;
    std::string parity = "none";
    int timeoutMs = 1000;
    int gapMs = 50;
    int retries = 0;
    bool json = false;
    std::string log;
    bool markdown = false;
};

struct PortResult {
    std::string port;
    int code = 0;
    double seconds = 0;
    std::string error;
};

std::string resultText(int exitCode) {
    switch (exitCode) {
    case code::Done: return "ok";
    case code::Differences: return "differs";
    case code::Usage: return "bad value";
    case code::PortUnusable: return "port unusable";
    case code::NoReply: return "no reply";
    case code::Unexpected: return "unexpected reply";
    case code::HartSilent: return "HART silent";
    case code::ModbusFault: return "MODBUS fault";
    case code::BadFile: return "bad file";
    case code::Interrupted: return "interrupted";
    }
    return "failed";
}

std::vector<std::string> readPortsFile(const std::string& path) {
    std::ifstream file(path);
    if (!file) {
        throw Failure(code::BadFile, "cannot read " + path);
    }
    std::vector<std::string> ports;
    for (std::string line; std::getline(file, line);) {
        if (const auto hash = line.find('#'); hash != std::string::npos) {
            line.erase(hash);
        }
        const auto begin = line.find_first_not_of(" \t\r");
        if (begin == std::string::npos) {
            continue;
        }
        ports.push_back(line.substr(begin, line.find_last_not_of(" \t\r") - begin + 1));
    }
    return ports;
}

// The device a port name leads to, links followed, so one adapter is known under every name.
std::string deviceOf(const std::string& port) {
    std::error_code error;
    const auto device = std::filesystem::weakly_canonical(serial::portPathFor(port), error);
    return error ? serial::portPathFor(port) : device.string();
}

int listPorts(const Globals& globals) {
    // Each device once, under its most stable name: udev's by-id name where it has one (the scan lists
    // those first), so the list can be given back with --ports-from.
    std::vector<std::pair<std::string, std::string>> ports;
    for (const std::string& name : serial::ScanSerialDevices("/")) {
        const std::string device = deviceOf(name);
        const bool seen = std::any_of(ports.begin(), ports.end(), [&](const auto& p) { return p.second == device; });
        if (!seen) {
            ports.emplace_back(name, device);
        }
    }
    if (globals.json) {
        Json list = Json::array();
        for (const auto& [name, device] : ports) {
            list.push_back({{"name", name}, {"device", device}});
        }
        std::cout << Json{{"ports", list}}.dump() << "\n";
    } else if (ports.empty()) {
        std::cerr << "vx538: no serial devices found (COM1..COM9 still name /dev/ttyS0..8)\n";
    } else {
        for (const auto& [name, device] : ports) {
            std::cout << name << "\n";
        }
    }
    return code::Done;
}

int listParameters(const Globals& globals) {
    if (globals.markdown) {
        std::cout << profile::ParametersMarkdown();
        return code::Done;
    }
    if (globals.json) {
        Json all = Json::array();
        for (const profile::Parameter& p : profile::Parameters()) {
            all.push_back({{"name", p.name},
                           {"query", profile::QueryKey(p.query)},
                           {"values", profile::ValuesText(p)},
                           {"unit", p.unit},
                           {"restorable", p.restorable},
                           {"description", p.description}});
        }
        std::cout << all.dump() << "\n";
        return code::Done;
    }
    std::size_t width = 0;
    for (const profile::Parameter& p : profile::Parameters()) {
        width = std::max(width, p.name.size());
    }
    for (const profile::Parameter& p : profile::Parameters()) {
        std::string values = profile::ValuesText(p);
        if (!p.unit.empty()) {
            values += " (" + std::string(p.unit) + ")";
        }
        std::cout << p.name << std::string(width + 2 - p.name.size(), ' ') << values << "  -- " << p.description
                  << (p.restorable ? "" : " (not restored)") << "\n";
    }
    return code::Done;
}

class Runner {
public:
    Runner(const Globals& globals, const Prepared& prepared, TrafficLog* log)
        : globals_(globals), prepared_(prepared), log_(log), many_(globals.ports.size() > 1),
          progress_(many_ && ::isatty(STDERR_FILENO)) {}

    int run(const serial::EventFd& stop) {
        std::vector<std::thread> workers;
        results_.resize(globals_.ports.size());
        for (std::size_t i = 0; i < globals_.ports.size(); ++i) {
            workers.emplace_back([this, i, &stop] { results_[i] = runPort(globals_.ports[i], stop); });
        }
        for (std::thread& worker : workers) {
            worker.join();
        }
        if (progress_) {
            std::cerr << "\r\033[K" << std::flush;
        }
        if (many_ && !globals_.json) {
            summary();
        }
        return combinedCode();
    }

private:
    PortResult runPort(const std::string& port, const serial::EventFd& stop) {
        LineOptions options;
        options.port = port;
        options.baud = globals_.baud;
        options.parity = ParityNamed(globals_.parity).value_or(serial::TParity::None);
        options.timeout = Millis(globals_.timeoutMs);
        options.gap = Millis(globals_.gapMs);
        options.retries = globals_.retries;
        Session session(options, stop, log_);
        PortResult result{port, code::Done, 0, {}};
        const auto start = std::chrono::steady_clock::now();
        try {
            session.open();
            result.code = Run(session, prepared_);
        } catch (const Failure& failure) {
            result.code = failure.code();
            result.error = failure.what();
        }
        session.line().close();
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        print(session, result);
        return result;
    }

    void print(Session& session, const PortResult& result) {
        const std::lock_guard lock(outputMutex_);
        if (progress_) {
            std::cerr << "\r\033[K" << std::flush;
        }
        if (globals_.json) {
            Json object = {{"port", result.port}, {"path", session.line().path()}, {"exit", result.code},
                           {"result", resultText(result.code)}, {"seconds", result.seconds}};
            if (!result.error.empty()) {
                object["error"] = result.error;
            }
            for (auto& [key, value] : session.json.items()) {
                object[key] = value;
            }
            std::cout << object.dump() << "\n" << std::flush;
        } else {
            if (many_) {
                std::cout << "== " << result.port << " ==\n";
            }
            std::cout << session.text;
            if (!result.error.empty()) {
                (many_ ? std::cout : std::cerr) << (many_ ? "error: " : "vx538: " + result.port + ": ") << result.error
                                                << "\n";
            }
            std::cout << std::flush;
        }
        ++done_;
        if (progress_ && done_ < globals_.ports.size()) {
            std::cerr << "vx538: " << done_ << " of " << globals_.ports.size() << " ports done" << std::flush;
        }
    }

    void summary() const {
        std::size_t width = 4;
        for (const PortResult& r : results_) {
            width = std::max(width, r.port.size());
        }
        std::printf("\n%-*s  %-20s  %s\n", static_cast<int>(width), "port", "result", "time");
        for (const PortResult& r : results_) {
            const std::string result = std::to_string(r.code) + " " + resultText(r.code);
            std::printf("%-*s  %-20s  %.2f s\n", static_cast<int>(width), r.port.c_str(), result.c_str(), r.seconds);
        }
        std::fflush(stdout);
    }

    int combinedCode() const {
        std::optional<int> shared;
        for (const PortResult& r : results_) {
            if (r.code == code::Done) {
                continue;
            }
            if (shared && *shared != r.code) {
                return code::Mixed;
            }
            shared = r.code;
        }
        return shared.value_or(code::Done);
    }

    const Globals& globals_;
    const Prepared& prepared_;
    TrafficLog* log_;
    const bool many_;
    const bool progress_;
    std::mutex outputMutex_;
    std::size_t done_ = 0;
    std::vector<PortResult> results_;
};

int mainBody(int argc, char** argv) {
    CLI::App app{"vx538 " VX538_VERSION ": reads, sets, backs up, restores and verifies VX538-T-B converters over "
                 "their serial line, one or many at once. Values are named as 'vx538 params' lists them.",
                 "vx538"};
    app.footer(kExitCodes);
    app.set_version_flag("--version", "vx538 " VX538_VERSION);
    app.require_subcommand(1);
    app.fallthrough();

    Globals g;
    Args args;
    app.add_option("-p,--port", g.ports, "serial port of a converter (COM3, ttyUSB0, /dev/ttyUSB0); may be given "
                                         "several times to work on several converters in parallel")
        ->type_name("PORT");
    app.add_option("--ports-from", g.portsFrom, "read the ports from FILE, one per line ('#' starts a comment)")->type_name("FILE");
    app.add_option("--baud", g.baud, "baud rate of the line (default 9600)")
        ->type_name("BAUD")
        ->check(CLI::PositiveNumber);
    app.add_option("--parity", g.parity, "parity of the line: none, odd or even (default none)")
        ->type_name("PARITY")
        ->check(CLI::IsMember({"none", "odd", "even"}, CLI::ignore_case));
    app.add_option("--timeout", g.timeoutMs, "milliseconds to wait for the first byte of a reply (default 1000)")
        ->type_name("MS")
        ->check(CLI::Range(1, 600000));
    app.add_option("--gap", g.gapMs, "milliseconds of silence that end a reply whose end its bytes do not show, "
                                     "such as a set command's (default 50)")
        ->type_name("MS")
        ->check(CLI::Range(1, 60000));
    app.add_option("--retries", g.retries, "resend a query that got no reply N times (never a set command; default 0)")
        ->type_name("N")
        ->check(CLI::Range(0, 100));
    app.add_flag("--json", g.json, "machine-readable output: one JSON object per port and line");
    app.add_option("--log", g.log, "append every frame to FILE in the window's traffic log format, naming the port")
        ->type_name("FILE");

    const auto sub = [&](const char* name, const char* help, Command command) {
        CLI::App* s = app.add_subcommand(name, help);
        s->callback([&args, command] { args.command = command; });
        return s;
    };
    CLI::App* ports = app.add_subcommand("ports", "list the serial devices present (as the window's port list)");
    CLI::App* params = app.add_subcommand("params", "list the named parameters, their values and meanings");
    params->add_flag("--markdown", g.markdown, "as the Markdown table of docs/parameters.md");
    sub("ping", "send the communication query and show the reply", Command::Ping);
    sub("get", "read parameters (all when none is named) and print them", Command::Get)
        ->add_option("NAME", args.names, "parameter names, as 'vx538 params' lists them");
    sub("set", "set parameters, then read them back and say whether they took", Command::Set)
        ->add_option("NAME=VALUE", args.assignments, "e.g. rs485.baud=19200 mode=single-meter ao3.variable=2")
        ->required();
    sub("reset", "parameter initialization: the converter's factory values (sent at once, no question asked)",
        Command::Reset);
    CLI::App* factory = sub("factory", "write the factory record (board serial number and inspector)", Command::Factory);
    factory->add_option("--pcbsn", args.pcbsn, "board serial number, 0..99999999")->required();
    factory->add_option("--inspector", args.inspector, "inspector number, 0..999")->required();
    CLI::App* testOutput = sub("test-output", "drive analog output N (0..7, DOUTA0..DOUTA7) to VALUE", Command::TestOutput);
    testOutput->add_option("N", args.output, "output 0..7")->required()->check(CLI::Range(0, 7));
    testOutput->add_option("VALUE", args.value, "test value 0..999.9, sent as typed")->required();
    sub("test-totalizer", "drive the totalizer output to VALUE (0..999999999)", Command::TestTotalizer)
        ->add_option("VALUE", args.value, "totalizer test value")
        ->required();
    CLI::App* raw = sub("raw", "send TEXT (or --hex BYTES) as it stands and show the reply", Command::Raw);
    raw->add_option("TEXT", args.rawText, "a frame of text, e.g. 'QQQ#QX1#'");
    raw->add_option("--hex", args.rawHex, "the frame as hex bytes, e.g. '51 51 51 23 51 56 23'");
    sub("backup", "read the whole configuration into a file", Command::Backup)
        ->add_option("-o,--output", args.file, "FILE to write ('-' for standard output; '{port}' in the name stands "
                                               "for the port, needed with several ports)")
        ->type_name("FILE")
        ->required();
    CLI::App* restore = sub("restore", "check the whole of FILE first (a wrong version, an unknown name or a value out "
                                       "of range: nothing is sent), read the converter, send what differs (the line "
                                       "settings last: RS485B, slave address, RS485), read back and compare",
                            Command::Restore);
    restore->add_option("-i,--input", args.file, "configuration FILE (from backup or the window)")
        ->type_name("FILE")
        ->required();
    restore->add_flag("--all", args.all, "send every set command, not only those that differ");
    restore->add_flag("--dry-run", args.dryRun, "print the frames that would be sent, send none");
    sub("diff", "list the parameters that differ from FILE (exit 1 when some do)", Command::Diff)
        ->add_option("-i,--input", args.file, "configuration FILE")
        ->type_name("FILE")
        ->required();
    sub("verify", "say whether the converter holds FILE's configuration (exit 1 when not)", Command::Verify)
        ->add_option("-i,--input", args.file, "configuration FILE")
        ->type_name("FILE")
        ->required();
    CLI::App* hart = app.add_subcommand("hart", "talk HART to the instrument through the converter (transparent mode)");
    hart->require_subcommand(1);
    const auto hartSub = [&](const char* name, const char* help, Command command) {
        CLI::App* s = hart->add_subcommand(name, help);
        s->callback([&args, command] { args.command = command; });
        s->add_option("--preambles", args.preambles, "preamble length of the request (default 5)");
        s->add_flag("--secondary", args.secondary, "address as a secondary master");
        return s;
    };
    hartSub("id", "HART command 0: the instrument's identity", Command::HartId)
        ->add_option("--address", args.hartAddress, "polling address 0..9 (default 0)")
        ->check(CLI::Range(0, 9));
    hartSub("vars", "HART command 3: the four dynamic variables with their units", Command::HartVars)
        ->add_option("--address", args.hartAddress, "polling address of the identity query 0..9 (default 0)")
        ->check(CLI::Range(0, 9));
    hartSub("send", "send a HART frame typed as hex byte text after the preambles", Command::HartSend)
        ->add_option("HEX", args.hartHex, "delimiter to data, e.g. '82 26 0C 0A 1B 2C 03 00'")
        ->required();
    CLI::App* modbus = app.add_subcommand("modbus", "the MODBUS RTU read test");
    modbus->require_subcommand(1);
    CLI::App* read = modbus->add_subcommand("read", "read holding registers and show them with the CRC verdict");
    read->callback([&args] { args.command = Command::ModbusRead; });
    read->add_option("--slave", args.slave, "slave address 0..255 (default 1)");
    read->add_option("--start", args.start, "start address 0..65535 (default 0, register 40001)");
    read->add_option("--count", args.count, "register count 0..65535 (default 18)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? code::Done : code::Usage;
    }
    if (ports->parsed()) {
        return listPorts(g);
    }
    if (params->parsed()) {
        return listParameters(g);
    }

    try {
        if (!g.portsFrom.empty()) {
            const auto more = readPortsFile(g.portsFrom);
            g.ports.insert(g.ports.end(), more.begin(), more.end());
        }
        if (g.ports.empty()) {
            throw Failure(code::Usage, "no port: give --port NAME ('vx538 ports' lists the serial devices present)");
        }
        for (std::size_t i = 0; i < g.ports.size(); ++i) {
            for (std::size_t j = 0; j < i; ++j) {
                if (deviceOf(g.ports[i]) == deviceOf(g.ports[j])) {
                    throw Failure(code::Usage, "ports " + g.ports[j] + " and " + g.ports[i] + " are the same device " +
                                                   deviceOf(g.ports[i]));
                }
            }
        }
        if (args.command == Command::Backup && g.ports.size() > 1 &&
            (args.file == "-" || args.file.find("{port}") == std::string::npos)) {
            throw Failure(code::Usage, "with several ports the backup file name needs {port}, e.g. -o 'backup-{port}.json'");
        }
        args.json = g.json;
        const Prepared prepared = Prepare(args);
        TrafficLog log;
        if (!g.log.empty()) {
            if (const std::string failure = log.open(g.log); !failure.empty()) {
                throw Failure(code::BadFile, "cannot open the log file " + g.log + ": " + failure);
            }
        }
        serial::EventFd stop;
        stop.create();
        stopEvent = &stop;
        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
        Runner runner(g, prepared, &log);
        const int status = runner.run(stop);
        stopEvent = nullptr;
        return status;
    } catch (const Failure& failure) {
        std::cerr << "vx538: " << failure.what() << "\n";
        return failure.code();
    }
}

} // namespace

int main(int argc, char** argv) {
    try {
        return mainBody(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "vx538: " << error.what() << "\n";
        return code::Usage;
    }
}
