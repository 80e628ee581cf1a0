// The commissioning commands that read the converter's mapping and ask the instrument: the reply to a
// read meter command by offset (hart fields), what each register must hold against what it holds
// (check, which may switch the working mode for its HART reads and back), and the register map for the
// integrator (map).
#include <algorithm>
#include <cmath>

#include <CLI/CLI.hpp>

#include "cli/Jobs.h"
#include "cli/Steps.h"
#include "jobs/Check.h"
#include "jobs/Instrument.h"
#include "profile/Parameters.h"

namespace cli::commands {

namespace {

std::string valueText(const std::optional<float>& value, const std::string& unit) {
    return value ? profile::ValueText(*value) + (unit.empty() ? "" : " " + unit) : "-";
}

// `text` followed by blanks to `width` characters (not bytes: units such as the degree signs take
// three bytes each).
std::string padded(const std::string& text, std::size_t width) {
    const auto characters = static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
    return text + std::string(characters < width ? width - characters : 0, ' ');
}

// A float as scripts get it: as its shortest text reads, null when there is none (or it is no number).
Json number(const std::optional<float>& value) {
    if (!value || !std::isfinite(*value)) {
        return nullptr;
    }
    return std::stod(profile::ValueText(*value));
}

// The rows of a check, a line each for people, "variables" for scripts.
void showRows(Result& result, const jobs::CheckResult& check) {
    result.line("var  register  " + padded("source", 44) + "  " + padded("HART", 22) + "  " + padded("MODBUS", 14) +
                "  verdict");
    result.data("variables", Json::array());
    for (const profile::CheckRow& row : check.rows) {
        char head[32];
        std::snprintf(head, sizeof head, "%3d  %8d  ", row.variable, row.registerNumber);
        std::string text = head + padded(row.source, 44) + "  " + padded(valueText(row.hartBefore, row.unit), 22) +
                           "  " + padded(valueText(row.modbus, {}), 14) + "  " +
                           std::string(profile::VerdictName(row.verdict));
        if (!row.note.empty() && row.verdict != profile::CheckVerdict::NotPolled) {
            text += "\n     " + row.note;
        }
        Json json = {{"variable", row.variable},
                     {"register", row.registerNumber},
                     {"source", row.source},
                     {"hart", number(row.hartBefore)},
                     {"hart_after", number(row.hartAfter)},
                     {"unit", row.unit},
                     {"modbus", number(row.modbus)},
                     {"verdict", profile::VerdictName(row.verdict)},
                     {"note", row.note}};
        result.append("variables", std::move(json), text);
    }
}

} // namespace

Run HartFields(CLI::App& app) {
    app.description("the instrument's reply to a read meter command by offset, the fields of commands 1, 2 "
                    "and 3 named: what each parse address reads");
    const auto addressing = DefineHartAddressing(app);
    const auto command = std::make_shared<int>(1);
    app.add_option("--command", *command, "read meter command 1 (variables 1-4, the default) or 2 (5-8)")
        ->check(CLI::IsMember({1, 2}));
    return {
        .prepare = [addressing](const Globals&) { CheckHartAddressing(*addressing); },
        .port =
            [addressing, command](Session& session, Result& result) {
                jobs::ReplyFieldsJob job({addressing->preambles, *command});
                RunJob(session, job);
                const jobs::FieldsResult& read = job.result();
                if (!read.mapping.mapping && !read.mapping.stop) {
                    Unexpected(result, read.mapping.problems, "the converter's configuration cannot be read");
                }
                for (const std::string& note : read.notes) {
                    if (!read.reply) {
                        result.line("(" + note + ")");
                    }
                }
                if (read.stop) {
                    jobs::Stop stop = *read.stop;
                    if (stop.kind == jobs::Outcome::Kind::Whole) {
                        stop.text += " (vx538 set read" + std::to_string(*command) + ".command=...)";
                    }
                    Fail(stop);
                }
                result.field("command", "HART command", std::to_string(read.reply->command), read.reply->command);
                for (const std::string& note : read.notes) {
                    result.line(note);
                }
                result.line("offset  length  field             value");
                result.data("fields", Json::array());
                for (const profile::ReplyField& field : read.fields) {
                    char line[64];
                    std::snprintf(line, sizeof line, "%6d  %6d  %-16s  ", field.offset, field.length,
                                  field.name.empty() ? "-" : field.name.c_str());
                    Json json = {{"offset", field.offset},
                                 {"length", field.length},
                                 {"name", field.name},
                                 {"value", field.value}};
                    if (field.number) {
                        json["number"] = number(field.number);
                    }
                    if (!field.unit.empty()) {
                        json["unit"] = field.unit;
                    }
                    json["pickable"] = field.pickable;
                    result.append("fields", std::move(json), line + field.value);
                }
            }};
}

Run Check(CLI::App& app) {
    app.description(
        "check that registers 40003-40018 hold what the instrument's replies make of them (exit 1 "
        "when a variable differs)");
    const auto addressing = DefineHartAddressing(app);
    const auto o = std::make_shared<jobs::CheckOptions>();
    app.add_option("--tolerance", o->tolerance,
                   "percent of the value a register may differ by, widened by how far the instrument's value "
                   "moved between the reads before and after the registers (default 0.5)")
        ->check(CLI::Range(0.0, 100.0));
    app.add_flag(
        "--switch-mode", o->switchMode,
        "switch the converter to transparent mode for the HART reads when it is in another mode, and "
        "put that mode back afterwards (also after a fault or Ctrl+C)");
    return {
        .prepare = [addressing](const Globals&) { CheckHartAddressing(*addressing); },
        .port =
            [addressing, o](Session& session, Result& result) {
                jobs::CheckOptions options = *o;
                options.preambles = addressing->preambles;
                jobs::CheckJob job(options);
                RunJob(session, job);
                const jobs::CheckResult& check = job.result();
                using End = jobs::CheckResult::End;
                switch (check.end) {
                case End::NoMapping:
                    if (check.mapping.stop) {
                        Fail(*check.mapping.stop);
                    }
                    Unexpected(result, check.mapping.problems, "the converter's configuration cannot be read");
                case End::NothingPolled:
                    result.line(check.summary());
                    result.exit = code::Differences;
                    return;
                case End::WrongMode: {
                    const std::string mode = jobs::ModeName(*check.mapping.mode);
                    throw Failure(code::WrongMode, check.summary() + ": run again with --switch-mode to switch it "
                                                                     "for the check and put " +
                                                       mode + " back afterwards");
                }
                case End::Stopped:
                case End::Checked:
                    break;
                }
                if (!check.rows.empty()) {
                    showRows(result, check);
                    result.data("tolerance_percent", options.tolerance);
                }
                const auto modeBack = [&] {
                    for (const std::string& note : check.notes) {
                        result.line(note);
                    }
                    if (check.leftSwitched) {
                        result.line("(vx538 set mode=" + jobs::ModeName(*check.mapping.mode) + ")");
                        result.data("mode_left", "transparent");
                    }
                };
                if (check.end == End::Stopped) {
                    modeBack();
                    Fail(*check.stop);
                }
                result.line(check.summary());
                modeBack();
                if (check.hartSilent) {
                    // Not one read meter command was answered: the instrument, or transparent mode, is not there.
                    throw Failure(code::HartSilent,
                                  "the instrument did not answer; the converter passes HART frames to the "
                                  "instrument only in transparent mode (vx538 get mode)");
                }
                if (check.registers) {
                    Fail(*check.registers);
                }
                if (check.stop) {
                    Fail(*check.stop);
                }
                if (check.failures() > 0) {
                    result.exit = code::Differences;
                }
            }};
}

Run Map(CLI::App& app) {
    app.description(
        "the register map for the integrator: registers 40001-40018 with source, unit, type, word "
        "order and coefficient (--json for scripts)");
    const auto addressing = DefineHartAddressing(app);
    struct Options {
        bool csv = false, markdown = false, json = false;
    };
    const auto o = std::make_shared<Options>();
    auto* csv = app.add_flag("--csv", o->csv, "as CSV, a row per register pair");
    app.add_flag("--markdown", o->markdown, "as a Markdown table")->excludes(csv);
    return {.prepare =
                [addressing, o](const Globals& globals) {
                    CheckHartAddressing(*addressing);
                    o->json = globals.json;
                    if (o->json && (o->csv || o->markdown)) {
                        throw Failure(code::Usage,
                                      "--json, --csv and --markdown each choose the whole output: give one");
                    }
                },
            .port =
                [addressing, o](Session& session, Result& result) {
                    jobs::RegisterMapJob job(addressing->preambles);
                    RunJob(session, job);
                    const jobs::MapResult& map = job.result();
                    if (map.stop) {
                        Fail(*map.stop);
                    }
                    if (!map.mapping.mapping) {
                        Unexpected(result, map.mapping.problems, "the converter's configuration cannot be read");
                    }
                    const profile::Mapping& mapping = *map.mapping.mapping;
                    const std::string missing = map.instrumentWords();
                    // The map stands without the instrument; what kept its units unknown is said beside
                    // the output, never in it.
                    if (map.instrumentProblem) {
                        result.note(map.instrumentProblem->sentence() +
                                    "; the map lists no units of the instrument");
                    }
                    if (o->json) {
                        result.document(profile::RegisterMapJson(mapping, map.rows, map.instrument, missing));
                        return;
                    }
                    const profile::MapFormat format = o->csv        ? profile::MapFormat::Csv
                                                      : o->markdown ? profile::MapFormat::Markdown
                                                                    : profile::MapFormat::Text;
                    std::string text = profile::FormatRegisterMap(mapping, map.rows, map.instrument, format, missing);
                    if (!text.empty() && text.back() == '\n') {
                        text.pop_back();
                    }
                    result.line(text);
                }};
}

} // namespace cli::commands
