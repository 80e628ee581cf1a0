// The inspection commands: the loop check of the analog outputs (loop-check), an inspection with its
// report as found and as left (inspect), and the change log listed (log).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <poll.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "cli/Files.h"
#include "cli/Jobs.h"
#include "cli/Main.h"
#include "inspection/Readings.h"
#include "jobs/Inspection.h"
#include "traffic/Recorder.h"

namespace cli::commands {

namespace {

using inspection::Verdict;

// How a loop check gets its readings, as the options give it.
struct LoopSetup {
    std::vector<int> outputs;
    std::string points = "4,8,12,16,20";
    double tolerance = inspection::kDefaultTolerance;
    std::string readingsFile;
    std::string meterPort;
    uint32_t meterBaud = 9600;
    std::string meterParity = "none";
    int meterTimeoutMs = 3000;
    int settleMs = 500;

    std::vector<double> pointList;
    std::optional<inspection::Readings> readings;

    jobs::LoopCheckOptions options() const { return {outputs, pointList, tolerance}; }
    std::string source() const { return !meterPort.empty() ? "meter" : readings ? "file" : "typed"; }
};

void defineLoop(CLI::App& app, LoopSetup& s) {
    app.add_option("--output", s.outputs,
                   "output to check, 0 to 7 as DOUTA0 to DOUTA7; may be given several times (default: every "
                   "output mapped to a variable)")
        ->type_name("N")
        ->check(CLI::Range(0, 7));
    app.add_option("--points", s.points, "currents to drive, in mA (default 4,8,12,16,20)")
        ->type_name("LIST");
    app.add_option("--tolerance", s.tolerance,
                   "largest error that passes, in percent of the 16 mA span (default 0.25)")
        ->type_name("PERCENT")
        ->check(CLI::Range(0.0, 100.0));
    auto* file =
        app.add_option("--readings", s.readingsFile,
                       "take the readings from FILE (CSV: output,point,mA) instead of asking for them")
            ->type_name("FILE");
    auto* meter =
        app.add_option("--meter", s.meterPort,
                       "read each current from a bench multimeter speaking SCPI on PORT (MEAS:CURR:DC?)")
            ->type_name("PORT");
    file->excludes(meter);
    app.add_option("--meter-baud", s.meterBaud, "the meter's baud rate (default 9600)")->type_name("BAUD");
    app.add_option("--meter-parity", s.meterParity, "the meter's parity (default none)")
        ->type_name("PARITY")
        ->check(CLI::IsMember({"none", "odd", "even"}, CLI::ignore_case));
    app.add_option("--meter-timeout", s.meterTimeoutMs,
                   "milliseconds to wait for a meter's reading (default 3000)")
        ->type_name("MS")
        ->check(CLI::Range(1, 600000));
    app.add_option(
           "--settle", s.settleMs,
           "milliseconds between driving a point and reading the meter, for the output and the meter to "
           "settle (default 500)")
        ->type_name("MS")
        ->check(CLI::Range(0, 600000));
}

void prepareLoop(LoopSetup& s, const Globals& globals) {
    try {
        s.pointList = inspection::ReadPoints(s.points);
    } catch (const std::invalid_argument& error) {
        throw Failure(code::Usage, std::string("--points: ") + error.what());
    }
    if (globals.ports.size() > 1) {
        throw Failure(code::Usage, "a loop check reads one converter's loops: give one port");
    }
    if (!s.readingsFile.empty()) {
        try {
            s.readings = inspection::ReadReadingsFile(ReadInputFile(s.readingsFile));
        } catch (const inspection::ReadingsError& error) {
            throw Failure(code::BadFile, s.readingsFile + ": " + error.what());
        }
    }
}

// Waits `ms` unless the stop event comes first; false when it came.
bool pause(const serial::EventFd& stop, int ms) {
    pollfd fd{stop.fd(), POLLIN, 0};
    while (true) {
        const int n = ::poll(&fd, 1, ms);
        if (n >= 0 || errno != EINTR) {
            return n == 0;
        }
    }
}

// Where the readings come from: the meter on its own line, the file, or the person at the terminal.
class ReadingDesk {
public:
    ReadingDesk(const LoopSetup& setup, const serial::EventFd& stop) : setup_(setup), stop_(stop) {}

    // Opens the meter's line and asks its identity; Failure(PortUnusable) when it cannot be opened.
    void open() {
        if (setup_.meterPort.empty()) {
            return;
        }
        LineOptions options;
        options.port = setup_.meterPort;
        options.baud = setup_.meterBaud;
        options.parity = ParityNamed(setup_.meterParity).value_or(serial::TParity::None);
        options.timeout = Millis(setup_.meterTimeoutMs);
        options.gap = Millis(50);
        meter_.emplace(options, stop_);
        if (const auto failure = meter_->open()) {
            throw Failure(code::PortUnusable, "the meter: " + *failure);
        }
        const Reply reply = meter_->exchange(inspection::kMeterIdentityCommand, ReplyShape{}, false);
        identity_ = inspection::MeterText(reply.bytes);
    }
    const std::string& meterIdentity() const { return identity_; }

    jobs::Outcome read(const jobs::Request& request) {
        if (request.meterLeads) {
            return moveLeads(*request.meterLeads);
        }
        const jobs::Request::LoopReading& r = *request.loopReading;
        if (setup_.readings) {
            const auto ma = setup_.readings->find(r.output, r.pointMa);
            return ma ? jobs::ReadingOutcome(*ma) : jobs::NoReading("no reading in " + setup_.readingsFile);
        }
        if (meter_) {
            return fromMeter();
        }
        return typed(r);
    }

private:
    jobs::Outcome fromMeter() {
        if (!pause(stop_, setup_.settleMs)) {
            return jobs::Interrupted("interrupted (Ctrl+C)");
        }
        const Reply reply = meter_->exchange(inspection::kMeterReadCommand, ReplyShape{}, false);
        switch (reply.end) {
        case ReplyEnd::Interrupted:
            return jobs::Interrupted("interrupted (Ctrl+C)");
        case ReplyEnd::NoReply:
            return jobs::MeterSilent(setup_.meterTimeoutMs);
        case ReplyEnd::Lost:
            return jobs::MeterLost();
        case ReplyEnd::Complete:
        case ReplyEnd::Quiet:
            break;
        }
        return jobs::MeterOutcome(reply.bytes);
    }

    // The meter reads the loop its leads are in: at a terminal the person is asked to move them to the
    // next output's loop; without one (a fixture that switches the meter, a script) it is said once
    // that each output is read wherever the leads are.
    jobs::Outcome moveLeads(int output) {
        if (!meter_) {
            return jobs::ReadingOutcome(0);
        }
        if (!::isatty(STDIN_FILENO)) {
            if (!leadsSaid_) {
                leadsSaid_ = true;
                std::fputs("vx538: nobody at the terminal to move the meter's leads: each output is read "
                           "wherever they are\n",
                           stderr);
            }
            return jobs::ReadingOutcome(0);
        }
        std::fputs(("connect the meter's leads to " + jobs::OutputName(output) +
                    "'s loop, then press Enter (q to stop): ")
                       .c_str(),
                   stderr);
        std::fflush(stderr);
        const std::optional<std::string> line = readLine();
        if (!line) {
            return stopped_ ? jobs::Interrupted("interrupted (Ctrl+C)") : jobs::ReadingOutcome(0);
        }
        if (*line == "q" || *line == "Q") {
            return jobs::Interrupted("stopped at the prompt");
        }
        return jobs::ReadingOutcome(0);
    }

    // A prompt on the terminal and a line typed: a number, Enter to skip the point, q to stop.
    jobs::Outcome typed(const jobs::Request::LoopReading& r) {
        for (int tries = 0; tries < 5; ++tries) {
            const std::string prompt =
                jobs::ReadingPrompt(r) + ": reading in mA, Enter to skip, q to stop: ";
            std::fputs(prompt.c_str(), stderr);
            std::fflush(stderr);
            const std::optional<std::string> line = readLine();
            if (!line) {
                return stopped_ ? jobs::Interrupted("interrupted (Ctrl+C)")
                                : jobs::NoReading("no reading typed");
            }
            const std::string_view text = *line;
            if (text.find_first_not_of(" \t\r") == std::string_view::npos) {
                return jobs::NoReading("skipped");
            }
            if (text == "q" || text == "Q") {
                return jobs::Interrupted("stopped at the prompt");
            }
            if (const auto ma = inspection::ReadNumber(text)) {
                return jobs::ReadingOutcome(*ma);
            }
            std::fputs("not a number of mA; again\n", stderr);
        }
        return jobs::NoReading("no reading typed");
    }

    // A line of standard input; nothing at its end or on Ctrl+C.
    std::optional<std::string> readLine() {
        std::string line;
        while (true) {
            pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return std::nullopt;
            }
            if (fds[1].revents != 0) {
                stopped_ = true;
                return std::nullopt;
            }
            char c = 0;
            const ssize_t n = ::read(STDIN_FILENO, &c, 1);
            if (n <= 0) {
                return line.empty() ? std::nullopt : std::optional(line);
            }
            if (c == '\n') {
                return line;
            }
            if (line.size() < 200) {
                line += c;
            }
        }
    }

    const LoopSetup& setup_;
    const serial::EventFd& stop_;
    std::optional<Line> meter_;
    std::string identity_;
    bool stopped_ = false;
    bool leadsSaid_ = false;
};

// The exit status of a job's stop.
int stopCode(const std::optional<jobs::Stop>& stop) {
    return stop ? ExitOf(*stop) : code::NoReply;
}

std::string cell(const std::string& text, std::size_t width, bool right = true) {
    const std::size_t pad = text.size() < width ? width - text.size() : 0;
    return right ? std::string(pad, ' ') + text : text + std::string(pad, ' ');
}

std::string verdictWord(Verdict verdict) {
    return std::string(inspection::VerdictText(verdict));
}

// The loop check's table for people, its JSON for scripts, and its exit status.
void showLoop(Result& result, const jobs::LoopCheckResult& r, const std::string& source,
              const std::string& meter) {
    std::string about = "loop check: tolerance " + inspection::TestValueText(r.tolerance) +
                        " % of span, readings " +
                        (source == "meter"  ? "from the meter " + meter
                         : source == "file" ? "from the file"
                                            : "typed");
    result.line(about);
    // Each column as wide as its heading, the output's name left-aligned, the rest right-aligned.
    if (!r.outputs.empty()) {
        std::string heading;
        for (const char* h : jobs::kLoopHeadings) {
            heading += (heading.empty() ? "" : "  ") + std::string(h);
        }
        result.line(heading);
    }
    for (const jobs::LoopOutput& o : r.outputs) {
        for (const inspection::PointResult& p : o.points) {
            const std::vector<std::string> cells = jobs::PointCells(o.output, p);
            std::string line = cell(cells[0], 6, false);
            for (std::size_t c = 1; c + 1 < cells.size(); ++c) {
                line += "  " + cell(cells[c], std::strlen(jobs::kLoopHeadings[c]));
            }
            result.line(line + "  " + cells.back());
        }
    }
    for (const jobs::LoopOutput& o : r.outputs) {
        result.line(jobs::OutputLine(o));
    }
    for (const std::string& note : r.notes) {
        result.line(note);
    }
    result.line(r.summary());
    result.data("loop_check", jobs::LoopCheckJson(r, source, meter));
}

int loopExit(const jobs::LoopCheckResult& r) {
    using End = jobs::LoopCheckResult::End;
    if (r.end == End::Stopped || r.end == End::NoConfiguration) {
        return stopCode(r.stop);
    }
    if (r.leftSwitched) {
        return code::NoReply;
    }
    return r.verdict() == Verdict::Pass ? code::Done : code::Differences;
}

// The change log whole: it grows past what an input file may hold, and it is only read.
std::string changeLogText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int64_t nowMs() {
    return traffic::Now().wallMs;
}

// The report's form, by --format or the file's extension.
std::string formatOf(const std::string& format, const std::string& file) {
    if (!format.empty()) {
        return format;
    }
    const auto ends = [&](const char* e) { return file.size() > std::strlen(e) && file.ends_with(e); };
    return ends(".html") || ends(".htm") ? "html" : ends(".md") || ends(".markdown") ? "markdown" : "json";
}

std::string rendered(const inspection::Json& report, const std::string& format) {
    if (format == "html") {
        return inspection::ReportHtml(report);
    }
    if (format == "markdown") {
        return inspection::ReportMarkdown(report);
    }
    return report.dump(2) + "\n";
}

// An inspection that ran to its end but left a part not done exits as that part's own command
// would: the instrument silent is 6, registers not read their read's status, a loop check without a
// reading 1 as loop-check; the first such part in the report's order decides.
int incompleteExit(const jobs::InspectionResult& r, const inspection::Json& parts) {
    const auto done = [&](const char* part) { return parts.value(part, std::string("pass")) == "pass"; };
    if (!done("converter") || !done("configuration")) {
        return code::NoReply;
    }
    if (!done("instrument") || !done("check")) {
        if (r.check && r.check->registers && !r.check->hartSilent) {
            return ExitOf(*r.check->registers);
        }
        return code::HartSilent;
    }
    if (r.loop && !done("loop_check")) {
        return r.loop->stop ? ExitOf(*r.loop->stop) : loopExit(*r.loop);
    }
    return code::Differences;
}

// The JSON beside a rendered report: its name with ".json" for its extension.
std::string jsonBeside(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    const std::size_t dot = file.rfind('.');
    const std::string stem =
        dot != std::string::npos && (slash == std::string::npos || dot > slash) ? file.substr(0, dot) : file;
    return stem + ".json";
}

} // namespace

Run LoopCheck(CLI::App& app) {
    app.description(
        "drive each output through its output test to the test values of 4, 8, 12, 16 and 20 mA by its "
        "range, read the loop current (typed, from a file or a bench meter) and judge it (exit 1 when "
        "a point fails); the working mode and test values are put back");
    const auto setup = std::make_shared<LoopSetup>();
    defineLoop(app, *setup);
    return {.prepare = [setup](const Globals& globals) { prepareLoop(*setup, globals); },
            .port =
                [setup](Session& session, Result& result) {
                    session.identifyBeforeSets();
                    ReadingDesk desk(*setup, session.line().stop());
                    desk.open();
                    jobs::LoopCheckJob job(setup->options());
                    RunJob(session, job, [&](const jobs::Request& r) { return desk.read(r); });
                    const jobs::LoopCheckResult& r = job.result();
                    showLoop(result, r, setup->source(), desk.meterIdentity());
                    const int exit = loopExit(r);
                    if (exit == code::Done || exit == code::Differences) {
                        result.exit = exit;
                        return;
                    }
                    throw Failure(exit, r.leftSwitched && r.end != jobs::LoopCheckResult::End::Stopped
                                            ? "the converter did not take its working mode back"
                                            : r.summary());
                }};
}

Run Inspect(CLI::App& app) {
    app.description(
        "inspect a converter: its identity and configuration as found, the instrument's identity, the "
        "mapping check, the loop check (--loop-check) and the configuration as left, into one report "
        "(JSON, HTML or Markdown) with a verdict per part (exit 1 when one fails)");
    struct Options {
        LoopSetup loop;
        bool loopCheck = false;
        std::string inspector;
        std::string output;
        std::string format;
        bool asFound = false;
        bool asLeft = false;
        std::string from;
        double checkTolerance = 0.5;
        std::string preambles = "5";
        int address = 0;
        std::string changeLog;
        inspection::Json found;
    };
    const auto o = std::make_shared<Options>();
    app.add_flag("--loop-check", o->loopCheck,
                 "also check the analog outputs' loops (the loop-check options apply)");
    defineLoop(app, o->loop);
    app.add_option("--inspector", o->inspector, "who inspects, for the report")->type_name("NAME");
    app.add_option(
           "-o,--report", o->output,
           "write the report to FILE ('-' or none: standard output); a rendered report also gets its JSON "
           "beside it, FILE with .json")
        ->type_name("FILE");
    app.add_option("--format", o->format, "json, html or markdown (default: by FILE's extension, else json)")
        ->check(CLI::IsMember({"json", "html", "markdown"}));
    auto* found =
        app.add_flag("--as-found", o->asFound,
                     "stop after as found (identity, configuration, check, loop check) for an adjustment");
    auto* left =
        app.add_flag("--as-left", o->asLeft, "finish an inspection paused --as-found (needs --from)");
    found->excludes(left);
    app.add_option("--from", o->from, "the report --as-found wrote")->type_name("FILE");
    app.add_option("--check-tolerance", o->checkTolerance,
                   "the mapping check's tolerance in percent (default 0.5)")
        ->type_name("PERCENT")
        ->check(CLI::Range(0.0, 100.0));
    app.add_option("--preambles", o->preambles, "HART preambles (default 5)")
        ->check(CLI::IsMember(
            {"5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16", "17", "18", "19", "20"}));
    app.add_option("--address", o->address, "the instrument's polling address for command 0 (default 0)")
        ->check(CLI::Range(0, 63));
    return {
        .prepare =
            [o](const Globals& globals) {
                prepareLoop(o->loop, globals);
                if (o->asLeft != !o->from.empty()) {
                    throw Failure(code::Usage,
                                  "--as-left finishes the report given by --from FILE, and only it");
                }
                if (o->asFound && (o->output.empty() || o->output == "-")) {
                    throw Failure(code::Usage, "--as-found needs -o FILE: the as-left run goes on from it");
                }
                if (!o->output.empty() && o->output != "-") {
                    CheckOutputFile(o->output);
                }
                if (o->asLeft) {
                    try {
                        o->found = inspection::ReadReport(ReadInputFile(o->from));
                    } catch (const inspection::ReportError& error) {
                        throw Failure(code::BadFile, o->from + ": " + error.what());
                    }
                    if (o->found.value("stage", std::string()) != "as found") {
                        throw Failure(code::BadFile, o->from + ": not an inspection paused as found");
                    }
                    // A loop check as found is done again as left, so the two can be set side by side.
                    o->loopCheck = o->loopCheck || o->found["as_found"].contains("loop_check");
                }
                o->changeLog = ChangeLogPath(globals);
                o->format = formatOf(o->format, o->output);
            },
        .port =
            [o](Session& session, Result& result) {
                session.identifyBeforeSets();
                const int64_t started = nowMs();
                ReadingDesk desk(o->loop, session.line().stop());
                if (o->loopCheck) {
                    desk.open();
                }
                jobs::InspectionOptions options;
                options.readAsLeft = !o->asFound;
                options.loopCheck = o->loopCheck;
                options.loop = o->loop.options();
                options.check.tolerance = o->checkTolerance;
                options.check.preambles = o->preambles;
                options.identity.preambles = o->preambles;
                options.identity.address = o->address;
                jobs::InspectionJob job(options);
                RunJob(session, job, [&](const jobs::Request& r) { return desk.read(r); });
                const jobs::InspectionResult& r = job.result();

                jobs::ReportFacts facts{
                    "vx538 " VX538_VERSION, o->inspector,         session.port(),    started,   nowMs(),
                    o->loop.source(),       desk.meterIdentity(), o->checkTolerance, o->asFound};
                inspection::Json report;
                if (o->asLeft) {
                    // The changes since as found: the log's for this port, this run's among them.
                    std::vector<inspection::Change> changes = session.changesLogged();
                    const auto since = inspection::ReadUtcTime(o->found.value("finished", std::string()));
                    if (!o->changeLog.empty() && since) {
                        changes = inspection::ChangesSince(
                            inspection::ReadChangeLog(changeLogText(o->changeLog)), *since,
                            [&](const std::string& port) { return DeviceOf(port) == DeviceOf(session.port()); });
                    }
                    report = jobs::FinishedReport(o->found, r, facts, changes);
                } else {
                    report = jobs::InspectionReport(r, facts, session.changesLogged());
                }

                // What the run found, for people, when the report goes to a file; the report is the whole of
                // it.
                const bool toFile = !o->output.empty() && o->output != "-";
                Result summary;
                const inspection::Json& verdict = report["verdict"];
                summary.line("converter: " + report["converter"].value("version", std::string()) +
                             ", slave address " + report["converter"].value("slave_address", std::string()));
                for (const auto& [part, v] : verdict["parts"].items()) {
                    summary.line(part + ": " + v.get<std::string>());
                }
                if (r.loop) {
                    for (const jobs::LoopOutput& out : r.loop->outputs) {
                        summary.line("  " + jobs::OutputName(out.output) + ": " + verdictWord(out.verdict));
                    }
                }
                for (const std::string& note : r.notes) {
                    summary.line(note);
                }
                if (report.contains("differences")) {
                    summary.line(std::to_string(report["differences"].size()) +
                                 " parameters differ between as found and as left");
                }
                summary.line(std::to_string(report["changes"].size()) +
                             " set commands logged during the inspection");
                const std::string overall = verdict.value("overall", std::string());
                summary.line((o->asFound ? "verdict as found: " : "verdict: ") + overall);

                if (!toFile) {
                    if (o->format == "json") {
                        result.data("report", report);
                    }
                    const std::string text = rendered(report, o->format);
                    result.line(text.substr(0, text.size() - 1));
                } else {
                    result.line(summary.text().substr(0, summary.text().size() - 1));
                    WriteOutputFile(o->output, rendered(report, o->format));
                    result.field("report", "report written to", o->output, o->output);
                    if (o->format != "json" && jsonBeside(o->output) != o->output) {
                        WriteOutputFile(jsonBeside(o->output), rendered(report, "json"));
                        result.field("report_json", "its JSON to", jsonBeside(o->output),
                                     jsonBeside(o->output));
                    }
                }
                if (r.stop && overall != "fail") {
                    throw Failure(stopCode(r.stop), "the inspection is incomplete: " + r.stop->sentence());
                }
                result.exit = overall == "fail"   ? code::Differences
                              : overall == "pass" ? code::Done
                                                  : incompleteExit(r, verdict["parts"]);
            }};
}

Run Log(CLI::App& app) {
    app.description("list the change log: every set command sent to a converter, with old and new values "
                    "(--port lists one port's)");
    struct Options {
        std::string since;
        std::string parameter;
    };
    const auto o = std::make_shared<Options>();
    app.add_option(
           "--since", o->since,
           "only changes since WHEN: 2026-12-10, 2026-12-10T08:15 (local time; a trailing Z for UTC), or "
           "30m, 2h, 7d ago")
        ->type_name("WHEN");
    app.add_option("--parameter", o->parameter, "only changes of NAME (a reset changes every one)")
        ->type_name("NAME");
    return {.alone = [o](const Globals& globals, Result& result) {
        const std::string path = ChangeLogPath(globals);
        if (path.empty()) {
            throw Failure(code::Usage, "--no-change-log names no log to list");
        }
        inspection::ChangeFilter filter;
        if (!o->since.empty()) {
            filter.sinceMs = inspection::ReadSince(o->since, nowMs());
            if (!filter.sinceMs) {
                throw Failure(code::Usage, "--since " + profile::Quoted(o->since) +
                                               " is no time (2026-12-10, 2026-12-10T08:15, 2h, 7d)");
            }
        }
        filter.parameter = o->parameter;
        const std::string text = changeLogText(path);
        const inspection::ChangeLogText log = inspection::ReadChangeLog(text);
        std::vector<inspection::Change> shown;
        for (const inspection::Change& c : log.changes) {
            const bool port =
                globals.ports.empty() ||
                std::any_of(globals.ports.begin(), globals.ports.end(), [&](const std::string& p) {
                    return c.port == p || DeviceOf(c.port) == DeviceOf(p);
                });
            if (port && inspection::Matches(c, filter)) {
                shown.push_back(c);
            }
        }
        inspection::Json list = inspection::Json::array();
        for (const inspection::Change& c : shown) {
            list.push_back(inspection::Json::parse(inspection::ChangeLine(c)));
            result.line(inspection::UtcTimeText(c.timeMs) + "  " + c.port + "  " + c.parameter + "  " +
                        c.oldValue + " -> " + c.newValue + "  " +
                        std::string(inspection::StatusText(c.status)) +
                        (c.reason.empty() ? "" : " (" + c.reason + ")") + "  " + c.frontEnd + " " + c.user +
                        "@" + c.host);
        }
        result.document(list);
        if (shown.empty()) {
            result.line(text.empty() ? "no change logged yet (" + path + ")" : "no change matches");
        }
        if (log.unreadable > 0) {
            result.error =
                std::to_string(log.unreadable) + " lines of " + path + " are no change and were skipped";
        }
    }};
}

} // namespace cli::commands
