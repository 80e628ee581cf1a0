// vx538's run: options, then ports, then one worker per port, each port's result printed as it ends.
#include "cli/Main.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <sstream>
#include <thread>

#include "cli/Command.h"
#include "cli/ConfigFile.h"
#include "cli/Files.h"
#include "cli/Output.h"
#include "profile/Parameters.h"
#include "serial/PortUrl.h"
#include "serial/Transport.h"
#include "tools/Conversions.h"
#include "tools/Utf8Text.h"
#include "traffic/EventFormat.h"

namespace cli {

std::string DeviceOf(const std::string& port) {
    return serial::deviceOf(port);
}

void ResolvePorts(Globals& globals) {
    globals.names.resize(globals.ports.size());
    if (!globals.portsFrom.empty()) {
        // A port a line, perhaps after a name; '#' starts a comment.
        RefuseOutputsOver(globals, globals.portsFrom, "--ports-from");
        std::istringstream text(ReadInputFile(globals.portsFrom, globals.stopFd));
        int number = 0;
        for (std::string line; std::getline(text, line);) {
            ++number;
            const PortLineReading reading = ReadPortLine(line);
            if (!reading.error.empty()) {
                throw Failure(code::BadFile, tools::EchoName(globals.portsFrom) + ": line " +
                                                 std::to_string(number) + " " + reading.error);
            }
            if (reading.line) {
                globals.ports.push_back(reading.line->port);
                globals.names.push_back(reading.line->name);
            }
        }
    }
    if (globals.ports.empty()) {
        throw Failure(code::Usage,
                      "no port: give --port NAME ('vx538 ports' lists the serial devices present)");
    }
    for (std::size_t i = 0; i < globals.ports.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (DeviceOf(globals.ports[i]) == DeviceOf(globals.ports[j])) {
                throw Failure(code::Usage, "ports " + tools::EchoName(globals.ports[j]) + " and " +
                                               tools::EchoName(globals.ports[i]) + " are the same device " +
                                               tools::EchoName(DeviceOf(globals.ports[i])));
            }
            if (!globals.names[i].empty() && globals.names[i] == globals.names[j]) {
                throw Failure(code::Usage, "ports " + tools::EchoName(globals.ports[j]) + " and " +
                                               tools::EchoName(globals.ports[i]) + " are both named " +
                                               globals.names[i]);
            }
        }
    }
}

void RefuseOutputsOver(const Globals& globals, const std::string& input, std::string_view role) {
    RefuseSameFile("-", "standard output", input, role);
    if (!globals.log.empty()) {
        RefuseSameFile(globals.log, "--log", input, role);
    }
}

LineOptions LineOptionsOf(const Globals& globals, const std::string& port) {
    LineOptions options;
    options.port = port;
    options.baud = globals.baud;
    options.parity = ParityNamed(globals.parity).value_or(serial::TParity::None);
    options.timeout = Millis(globals.timeoutMs);
    options.gap = globals.gapGiven ? Millis(globals.gapMs) : DefaultGap(port);
    options.retries = globals.retries;
    return options;
}

void AtOnce(std::size_t count, const std::function<void(std::size_t)>& work) {
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < count; ++i) {
        workers.emplace_back([&work, i] { work(i); });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
}

std::string ChangeLogPath(const Globals& globals) {
    if (globals.noChangeLog) {
        return {};
    }
    return globals.changeLog.empty() ? inspection::DefaultChangeLogPath() : globals.changeLog;
}

namespace {

struct PortOutcome {
    std::string port;
    int code = code::Done;
    double seconds = 0;
};

// Writes each port's result as it ends, whole, under one lock, then the summary.
class Printer {
public:
    Printer(const Environment& environment, const Globals& globals)
        : env_(environment), json_(globals.json), many_(globals.ports.size() > 1),
          total_(globals.ports.size()), progress_(many_ && environment.progress) {}

    void port(const std::string& port, const std::string& path, double seconds, const Result& result) {
        const std::lock_guard lock(mutex_);
        if (progress_) {
            env_.err << "\r\033[K" << std::flush;
        }
        if (json_) {
            bool escaped = false;
            Json object = {{"port", tools::Utf8Text(port, &escaped)}};
            if (escaped) {
                object["port_hex"] = traffic::HexText(port);
            }
            object["path"] = path;
            object["exit"] = result.exit;
            object["result"] = ExitWord(result.exit);
            object["seconds"] = seconds;
            if (!result.error.empty()) {
                object["error"] = result.error;
            }
            if (!result.lineDiffers.empty()) {
                object["line_differs"] = result.lineDiffers;
            }
            const Json members = result.json();
            for (const auto& [key, value] : members.items()) {
                object[key] = value;
            }
            env_.out << JsonLine(object) << "\n" << std::flush;
            printNotes(port, result);
        } else {
            // A name is shown cut and escaped as every message echoes it; the JSON keeps it whole.
            const std::string shown = tools::EchoName(port);
            if (many_) {
                env_.out << "== " << shown << " ==\n";
            }
            for (const std::string& words : result.lineDiffers) {
                env_.err << "vx538: " << shown << ": warning: " << words << "\n";
            }
            env_.out << result.text() << std::flush;
            printNotes(port, result);
            if (!result.error.empty()) {
                (many_ ? env_.out : env_.err)
                    << (many_ ? "error: " : "vx538: " + shown + ": ") << result.error << "\n";
            }
            env_.out << std::flush;
        }
        ++done_;
        if (progress_ && done_ < total_) {
            env_.err << "vx538: " << done_ << " of " << total_ << " ports done" << std::flush;
        }
    }

    void summary(const std::vector<PortOutcome>& outcomes) {
        if (progress_) {
            env_.err << "\r\033[K" << std::flush;
        }
        if (!many_ || json_) {
            return;
        }
        std::size_t width = 4;
        for (const PortOutcome& o : outcomes) {
            width = std::max(width, tools::EchoName(o.port).size());
        }
        const auto row = [&](const std::string& port, const std::string& result, const std::string& time) {
            env_.out << port << std::string(width - port.size(), ' ') << "  " << result
                     << std::string(result.size() < 20 ? 20 - result.size() : 0, ' ') << "  " << time << "\n";
        };
        env_.out << "\n";
        row("port", "result", "time");
        for (const PortOutcome& o : outcomes) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.2f s", o.seconds);
            row(tools::EchoName(o.port), std::to_string(o.code) + " " + std::string(ExitWord(o.code)),
                seconds);
        }
        env_.out << std::flush;
    }

private:
    // What went wrong on the way, for people only: on standard error, so that what standard output
    // carries (CSV, Markdown, JSON) is data alone.
    void printNotes(const std::string& port, const Result& result) {
        for (const std::string& note : result.notes()) {
            env_.err << "vx538: " << tools::EchoName(port) << ": " << note << "\n";
        }
    }

    const Environment& env_;
    const bool json_;
    const bool many_;
    const std::size_t total_;
    const bool progress_;
    std::mutex mutex_;
    std::size_t done_ = 0;
};

// One port's run, its result printed as soon as it ends.
PortOutcome runPort(const std::string& port, const Run& run, const Globals& globals, TrafficLog& log,
                    inspection::ChangeLog& changes, Printer& printer, const Environment& env) noexcept {
    PortOutcome outcome{port, code::Done, 0};
    const auto start = std::chrono::steady_clock::now();
    Result result;
    std::string path = port;
    try {
        Session session(LineOptionsOf(globals, port), env.stop, &log, env.transport, &changes);
        path = session.line().path();
        try {
            session.open();
            run.port(session, result);
        } catch (const Failure& failure) {
            result.exit = failure.code();
            result.error = failure.what();
        }
        result.lineDiffers = session.lineDifferences();
        session.line().close();
        // Frames the --log file did not take: the run's record is incomplete, which a script must hear
        // of (the run itself stopped before its next request, see Session::request).
        if (const std::string failure = log.failure(); !failure.empty() && result.exit == code::Done) {
            result.exit = code::BadFile;
            result.error = failure;
        }
    } catch (const std::exception& error) {
        // A fault of this port's run never ends another port's.
        result.exit = code::Internal;
        result.error = std::string("internal error: ") + error.what();
    } catch (...) {
        result.exit = code::Internal;
        result.error = "internal error";
    }
    outcome.code = result.exit;
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    try {
        printer.port(port, path, outcome.seconds, result);
    } catch (...) {
        outcome.code = code::Internal;
    }
    return outcome;
}

// 0 when every port gave 0, else the code every failed port shares, else Mixed.
int combinedCode(const std::vector<PortOutcome>& outcomes) {
    std::optional<int> shared;
    for (const PortOutcome& o : outcomes) {
        if (o.code == code::Done) {
            continue;
        }
        if (shared && *shared != o.code) {
            return code::Mixed;
        }
        shared = o.code;
    }
    return shared.value_or(code::Done);
}

int runCommand(Parsed& parsed, const Environment& env) {
    Globals& g = parsed.globals;
    const Run& run = parsed.run;
    if (run.live) {
        return run.live(g, env);
    }
    if (run.alone) {
        Result result;
        run.alone(g, result);
        env.out << (g.json && result.hasJson() ? JsonLine(result.json()) + "\n" : result.text())
                << std::flush;
        if (!result.error.empty()) {
            env.err << "vx538: " << result.error << "\n";
        }
        return result.exit;
    }
    ResolvePorts(g);
    try {
        if (run.prepare) {
            run.prepare(g);
        }
    } catch (const profile::BadValue& error) {
        throw Failure(code::Usage, error.what());
    } catch (const tools::Error& error) {
        // The conversions' messages echo the text they were given: "'abc' is not a valid ...".
        std::string message = error.what();
        if (const auto end = message.rfind("' is not");
            message.starts_with('\'') && end != std::string::npos) {
            message = profile::Quoted(std::string_view(message).substr(1, end - 1)) + message.substr(end + 1);
        }
        throw Failure(code::Usage, message);
    }
    TrafficLog log;
    log.open(g.log);
    std::mutex warning;
    inspection::ChangeLog changes(ChangeLogPath(g), "vx538", [&](const std::string& text) {
        const std::lock_guard lock(warning);
        env.err << "vx538: warning: " << text << "\n" << std::flush;
    });
    Printer printer(env, g);
    std::vector<PortOutcome> outcomes(g.ports.size());
    AtOnce(g.ports.size(),
           [&](std::size_t i) { outcomes[i] = runPort(g.ports[i], run, g, log, changes, printer, env); });
    printer.summary(outcomes);
    return combinedCode(outcomes);
}

} // namespace

namespace {

int run(const std::vector<std::string>& arguments, const Environment& env) {
    Parsed parsed = ParseArguments(arguments, env.out, env.err);
    if (parsed.exit) {
        return *parsed.exit;
    }
    parsed.globals.stopFd = env.stop.fd();
    try {
        return runCommand(parsed, env);
    } catch (const Failure& failure) {
        env.err << "vx538: " << failure.what() << "\n";
        return failure.code();
    }
}

} // namespace

int Vx538(const std::vector<std::string>& arguments, const Environment& env) {
    // Output that cannot go anywhere (a closed descriptor) is said before anything is sent.
    if (const std::string failure = OutputFailure(env.out); !failure.empty()) {
        env.err << "vx538: " << failure << "\n";
        return code::BadFile;
    }
    const int status = run(arguments, env);
    // Whatever the command did, output that did not reach its reader makes the run a failure: what was
    // complete stays done, and the message says what was lost. (Commands that write as they go end at
    // the first failed write; see watch.)
    if (const std::string failure = OutputFailure(env.out); !failure.empty()) {
        env.err << "vx538: " << failure << "\n";
        return code::BadFile;
    }
    return status;
}

} // namespace cli
