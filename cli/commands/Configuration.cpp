// The commands of the converter's configuration: the serial devices present (ports), the parameter
// table (params), values read (get) and set (set), the whole configuration into a file (backup), a
// file put onto the converter (restore) and compared with it (diff, verify).
#include <algorithm>
#include <iterator>

#include <CLI/CLI.hpp>

#include "cli/Files.h"
#include "cli/Main.h"
#include "cli/Jobs.h"
#include "cli/Steps.h"
#include "jobs/Write.h"
#include "config/TextCommands.h"
#include "profile/BackupFile.h"
#include "profile/Parameters.h"
#include "serial/PortScan.h"
#include "tools/Utf8Text.h"
#include "traffic/EventLog.h"

namespace cli::commands {

namespace {

// The differences as lines for people ("name  file X, converter Y") and "differences" for scripts;
// the lines are returned, for the command to print or to put into its failure.
std::vector<std::string> differences(Result& result, const std::vector<profile::Difference>& differences) {
    Json json = Json::array();
    for (const auto& d : differences) {
        json.push_back({{"parameter", NameOf(d.parameter)},
                        {"expected", d.expected.value_or(jobs::kNoFileValue)},
                        {"actual", d.actual.value_or(jobs::kNotRead)}});
    }
    result.data("differences", std::move(json));
    return jobs::DifferenceLines(differences);
}

// The configuration file of a command that works from one (-i FILE), read and checked whole before
// any port is opened.
struct InputFile {
    std::string name;
    profile::Backup backup;
};

std::shared_ptr<InputFile> defineInput(CLI::App& app) {
    auto file = std::make_shared<InputFile>();
    app.add_option("-i,--input", file->name,
                   "configuration FILE (from backup or the window; '-' for standard input)")
        ->type_name("FILE")
        ->required();
    return file;
}

void readInput(InputFile& file, const Globals& globals) {
    RefuseOutputsOver(globals, file.name, "-i");
    const std::string text = ReadInputFile(file.name, globals.stopFd);
    try {
        file.backup = profile::ReadBackup(text);
    } catch (const profile::FileError& error) {
        throw Failure(error.kind() == profile::FileError::Kind::NotABackup ? code::BadFile : code::Usage,
                      tools::EchoName(file.name) + ": " + error.what());
    }
    if (jobs::PresentIn(file.backup.values).empty()) {
        throw Failure(code::BadFile,
                      tools::EchoName(file.name) + " holds no parameter to restore or compare");
    }
}

// Runs a write (read, plan, send, read back) on the session's line, which follows the converter's
// RS485 port when it runs at its settings. What was sent and the account go into the result; a read
// or send that stopped ends the command (Fail), and so do values it could not read (`unreadable`
// says so) or a plan no frame can carry. The plan, dry run and read back are the caller's.
jobs::WriteResult Write(Session& session, Result& result, jobs::WriteOptions options, std::string_view unreadable) {
    const LineOptions& line = session.line().options();
    options.line = jobs::Request::LineSettings{line.baud, std::string(ParityName(line.parity))};
    options.serverKeepsLine = serial::serverKeepsLineSettings(session.line().kind());
    jobs::WriteJob job(std::move(options));
    RunJob(session, job);
    const jobs::WriteResult& write = job.result();
    using End = jobs::WriteResult::End;
    if (write.end == End::Unreadable) {
        Unexpected(result, write.problems, unreadable);
    }
    if (write.end == End::BadPlan) {
        throw Failure(code::Usage, write.badPlan + "; nothing was sent");
    }
    if (!write.plan.empty() && write.end != End::Planned) {
        ShowSent(result, write.send, jobs::SetCommandsOf(write.plan, write.before.values));
    }
    if (write.stop) {
        Fail(*write.stop);
    }
    if (write.end == End::LineKept) {
        result.data("line", {{"changed", false},
                             {"reason", "the device server's own line settings apply"},
                             {"converter_baud", write.send.lineKept->baud},
                             {"converter_parity", write.send.lineKept->parity}});
        result.account->next = "set the device server's port as said above, then check with vx538 verify or get";
    }
    return write;
}

// diff and verify: reads the parameters the file has and compares: Done when they match, Differences
// otherwise (the differing lines listed when `list`).
Run compare(CLI::App& app, const char* help, bool list) {
    app.description(help);
    const auto file = defineInput(app);
    return {.prepare = [file](const Globals& globals) { readInput(*file, globals); },
            .port =
                [file, list](Session& session, Result& result) {
                    jobs::CompareJob job(file->backup.values);
                    RunJob(session, job);
                    const jobs::CompareResult& compare = job.result();
                    if (compare.read.stop) {
                        Fail(*compare.read.stop);
                    }
                    if (!compare.problems.empty()) {
                        Unexpected(result, compare.problems, "the converter's values cannot all be read");
                    }
                    const std::vector<std::size_t>& compared = compare.compared;
                    const auto lines = differences(result, compare.differences);
                    result.data("compared", compared.size());
                    if (list) {
                        for (const std::string& line : lines) {
                            result.line(line);
                        }
                    }
                    if (lines.empty()) {
                        result.line("matches " + file->name + " (" + std::to_string(compared.size()) +
                                    " parameters)");
                        return;
                    }
                    result.line(std::to_string(lines.size()) + " of " + std::to_string(compared.size()) +
                                " parameters differ from " + file->name);
                    result.exit = code::Differences;
                }};
}

} // namespace

Run Ports(CLI::App& app) {
    app.description("list the serial devices present (as the window's port list)");
    return {.alone = [](const Globals&, Result& result) {
        // Each device once, under its most stable name: udev's by-id name where it has one (the scan
        // lists those first), so the list can be given back with --ports-from.
        std::vector<std::pair<std::string, std::string>> ports;
        for (const std::string& name : serial::ScanSerialDevices("/")) {
            const std::string device = DeviceOf(name);
            const bool seen =
                std::any_of(ports.begin(), ports.end(), [&](const auto& p) { return p.second == device; });
            if (!seen) {
                ports.emplace_back(name, device);
            }
        }
        result.data("ports", Json::array());
        for (const auto& [name, device] : ports) {
            result.append("ports", {{"name", name}, {"device", device}}, name);
        }
        if (ports.empty()) {
            result.error = "no serial devices found (COM1..COM9 still name /dev/ttyS0..8)";
        }
    }};
}

Run Params(CLI::App& app) {
    app.description("list the named parameters, their values and meanings");
    const auto markdown = std::make_shared<bool>(false);
    app.add_flag("--markdown", *markdown, "as the Markdown table of docs/parameters.md");
    return {.alone = [markdown](const Globals&, Result& result) {
        if (*markdown) {
            const std::string text = profile::ParametersMarkdown();
            result.line(text.substr(0, text.size() - 1));
            return;
        }
        Json all = Json::array();
        for (const profile::Parameter& p : profile::Parameters()) {
            std::string values = profile::ValuesText(p);
            if (!p.unit.empty()) {
                values += " (" + std::string(p.unit) + ")";
            }
            all.push_back({{"name", p.name},
                           {"query", profile::QueryKey(p.query)},
                           {"values", profile::ValuesText(p)},
                           {"unit", p.unit},
                           {"restorable", p.restorable},
                           {"description", p.description}});
            result.field(
                {}, std::string(p.name),
                values + "  -- " + std::string(p.description) + (p.restorable ? "" : " (not restored)"), {});
        }
        result.document(std::move(all));
    }};
}

Run Get(CLI::App& app) {
    app.description("read parameters (all when none is named) and print them");
    struct Options {
        std::vector<std::string> typed;
        std::vector<std::size_t> names;
    };
    const auto o = std::make_shared<Options>();
    app.add_option("NAME", o->typed, "parameter names, as 'vx538 params' lists them");
    return {.prepare =
                [o](const Globals&) {
                    for (const std::string& name : o->typed) {
                        o->names.push_back(profile::ParameterIndex(name));
                    }
                    if (o->names.empty()) {
                        o->names = jobs::AllParameters(false);
                    }
                },
            .port =
                [o](Session& session, Result& result) {
                    const jobs::ReadResult read = ReadConverter(session, jobs::QueriesFor(o->names));
                    // "name = value" for people, "parameters" for scripts.
                    profile::Configuration only;
                    for (const std::size_t p : o->names) {
                        const auto& value = read.values.value(p);
                        result.field({}, NameOf(p), value.value_or("(not read)"), {}, " = ");
                        if (value) {
                            only.set(p, *value);
                        }
                    }
                    result.data("parameters", Json::parse(profile::ParametersJson(only)));
                    const auto problems = jobs::ProblemsFor(read.problems, o->names);
                    if (!problems.empty()) {
                        Unexpected(result, problems, "some values could not be read");
                    }
                }};
}

Run Set(CLI::App& app) {
    app.description("set parameters, then read them back and say whether they took");
    struct Options {
        std::vector<std::string> assignments;
        profile::Configuration values;
    };
    const auto o = std::make_shared<Options>();
    app.add_option("NAME=VALUE", o->assignments, "e.g. rs485.baud=19200 mode=single-meter ao3.variable=2")
        ->required();
    return {.prepare =
                [o](const Globals&) {
                    if (o->assignments.empty()) {
                        throw Failure(code::Usage, "set needs NAME=VALUE");
                    }
                    for (const std::string& assignment : o->assignments) {
                        const auto equals = assignment.find('=');
                        if (equals == std::string::npos) {
                            throw Failure(code::Usage, profile::Quoted(assignment) + " is not NAME=VALUE");
                        }
                        const std::string name = assignment.substr(0, equals);
                        const std::size_t index = profile::ParameterIndex(name);
                        if (o->values.has(index)) {
                            throw Failure(code::Usage, std::string(profile::Parameters()[index].name) +
                                                           " is given twice; give each parameter once");
                        }
                        if (!profile::Parameters()[index].restorable) {
                            throw Failure(code::Usage, name + " is reported by the converter but no command "
                                                              "sets it (test-output and test-totalizer drive "
                                                              "the outputs)");
                        }
                        o->values.setTyped(name, assignment.substr(equals + 1));
                    }
                },
            .port =
                [o](Session& session, Result& result) {
                    session.identifyBeforeSets();
                    const profile::Configuration& values = o->values;
                    result.account.emplace().next = "nothing was sent: run the same set again";
                    const std::vector<std::size_t> named = jobs::PresentIn(values);
                    // The set commands also carry the other parameters of their frame: read those first.
                    std::vector<std::size_t> carried;
                    for (const std::size_t p : named) {
                        for (const std::size_t q : profile::ParametersOf(*profile::SetterOf(p))) {
                            carried.push_back(q);
                        }
                    }
                    const auto queries = jobs::QueriesFor(carried);
                    const jobs::WriteResult write =
                        Write(session, result,
                              {values, queries, carried, queries, true, false, false, {}, "run the same set again"},
                              "the values sent with these cannot be read");
                    if (write.end == jobs::WriteResult::End::LineKept) {
                        return;
                    }
                    Json took = Json::object();
                    bool allTook = true;
                    for (const std::size_t p : named) {
                        const auto& now = write.after.values.value(p);
                        const bool ok = now == values.value(p);
                        allTook = allTook && ok;
                        result.line(NameOf(p) + (ok ? " = " + *now + " (took)"
                                                    : ": did not take, the converter holds " +
                                                          now.value_or("(not read)")));
                        took[NameOf(p)] = ok;
                    }
                    result.data("took", std::move(took));
                    if (!allTook) {
                        throw Failure(code::Unexpected, "the converter did not take every value");
                    }
                }};
}

Run Backup(CLI::App& app) {
    app.description("read the whole configuration into a file");
    struct Options {
        std::string file;
        bool json = false;
    };
    const auto o = std::make_shared<Options>();
    app.add_option("-o,--output", o->file,
                   "FILE to write ('-' for standard output; '{port}' in the name stands "
                   "for the port, needed with several ports)")
        ->type_name("FILE")
        ->required();
    return {.prepare =
                [o](const Globals& globals) {
                    if (globals.ports.size() > 1 &&
                        (o->file == "-" || o->file.find("{port}") == std::string::npos)) {
                        throw Failure(code::Usage,
                                      "with several ports the backup file name needs {port}, e.g. -o "
                                      "'backup-{port}.json'");
                    }
                    o->json = globals.json;
                    // A file that cannot take the backup is said before any converter is read.
                    for (const std::string& file : PortFileNames(o->file, globals.ports)) {
                        if (!globals.portsFrom.empty()) {
                            RefuseSameFile(file, "-o", globals.portsFrom, "--ports-from");
                        }
                        CheckOutputFile(file);
                    }
                },
            .port =
                [o](Session& session, Result& result) {
                    profile::Backup file;
                    file.writtenBy = "vx538 " VX538_VERSION;
                    file.date = profile::UtcDateText(traffic::Now().wallMs);
                    file.port = session.line().path();
                    const jobs::ReadResult read = ReadConverter(
                        session, std::vector<profile::Query>(std::begin(profile::kQueries), std::end(profile::kQueries)),
                        true);
                    file.device = read.device.value_or("");
                    if (!read.problems.empty()) {
                        Unexpected(result, read.problems,
                                   "the converter's replies do not hold every value; nothing was written");
                    }
                    file.values = read.values;
                    file.replies.emplace_back("QV", file.device);
                    file.replies.insert(file.replies.end(), read.replies.begin(), read.replies.end());
                    const std::string text = profile::WriteBackup(file);
                    const std::string path = PortFileName(o->file, session.port());
                    if (path == "-") {
                        // With --json the file is the "backup" member of the port's object, so the output
                        // stays one object per port.
                        if (o->json) {
                            result.data("backup", Json::parse(text));
                        } else {
                            result.line(text.substr(0, text.size() - 1));
                        }
                        return;
                    }
                    WriteOutputFile(path, text, session.line().stop().fd());
                    result.field("file", {},
                                 "backup of " + tools::EchoName(session.port()) + " (" +
                                     std::to_string(file.values.count()) + " parameters) written to " +
                                     tools::EchoName(path),
                                 path);
                }};
}

Run Restore(CLI::App& app) {
    app.description("check the whole of FILE first (a wrong version, an unknown name or a value out "
                    "of range: nothing is sent), read the converter, send what differs (the line "
                    "settings last: RS485B, slave address, RS485), read back and compare");
    const auto file = defineInput(app);
    const auto all = std::make_shared<bool>(false);
    const auto dryRun = std::make_shared<bool>(false);
    app.add_flag("--all", *all, "send every set command, not only those that differ");
    app.add_flag("--dry-run", *dryRun, "print the frames that would be sent, send none");
    return {.prepare = [file](const Globals& globals) { readInput(*file, globals); },
            .port =
                [file, all, dryRun](Session& session, Result& result) {
                    session.identifyBeforeSets();
                    result.account.emplace().next = "nothing was sent: run the same restore again";
                    const profile::Configuration& target = file->backup.values;
                    const std::vector<std::size_t> restored = jobs::PresentIn(target);
                    const jobs::WriteResult write =
                        Write(session, result,
                              {target, jobs::QueriesFor(jobs::AllParameters(true)), restored,
                               jobs::QueriesFor(restored), *all, *all, *dryRun, {},
                               "run the same restore again to finish: it sends what still differs"},
                              "the converter's values cannot all be read, so what differs is not known; "
                              "nothing was sent (--all sends everything without comparing)");
                    using End = jobs::WriteResult::End;
                    if (write.end == End::LineKept) {
                        return;
                    }
                    if (write.end == End::Planned) {
                        result.account.reset();
                        result.data("would_send", Json::array());
                        for (const auto& planned : write.plan) {
                            result.append("would_send", FrameText(planned.frame), FrameText(planned.frame));
                        }
                        result.line(std::to_string(write.plan.size()) + " set commands would be sent");
                        return;
                    }
                    if (write.end == End::NothingToDo) {
                        result.account.emplace();
                        result.line("the converter already holds every value of " + file->name + "; nothing sent");
                        result.data("sent", Json::array());
                        return;
                    }
                    const auto lines = differences(result, write.differences);
                    if (!lines.empty()) {
                        std::string message = "read back, " + std::to_string(lines.size()) +
                                              " parameters differ from the file:";
                        for (const std::string& line : lines) {
                            message += "\n  " + line;
                        }
                        throw Failure(code::Unexpected, message);
                    }
                    result.line("restored " + std::to_string(write.plan.size()) + " set commands; read back, all " +
                                std::to_string(restored.size()) + " parameters match " + file->name);
                }};
}

Run Diff(CLI::App& app) {
    return compare(app, "list the parameters that differ from FILE (exit 1 when some do)", true);
}

Run Verify(CLI::App& app) {
    return compare(app, "say whether the converter holds FILE's configuration (exit 1 when not)", false);
}

} // namespace cli::commands
