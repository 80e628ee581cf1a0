// The commissioning commands that read the converter's mapping and ask the instrument: the reply to a
// read meter command by offset (hart fields), what each register must hold against what it holds
// (check, which may switch the working mode for its HART reads and back), and the register map for the
// integrator (map).
#include <algorithm>
#include <cmath>

#include <CLI/CLI.hpp>

#include "cli/Steps.h"
#include "config/TextCommands.h"
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

// The index of transparent mode in the working mode's choices.
constexpr int kTransparentMode = 0;

// "transparent", "single-meter", "test-output".
std::string ModeName(int mode) {
    const auto& choices = profile::Parameters()[profile::ParameterIndex("mode")].choices;
    if (mode < 0 || static_cast<std::size_t>(mode) >= choices.size()) {
        return "mode " + std::to_string(mode);
    }
    return std::string(choices[static_cast<std::size_t>(mode)].name);
}

// Registers 40003-40018 at `slaveAddress`. Failure(NoReply) when nothing answers, Failure(ModbusFault)
// for an exception or a wrong CRC, Failure(Unexpected) for anything else.
std::vector<uint16_t> ReadVariableRegisters(Session& session, int slaveAddress) {
    Answer answer;
    if (auto registers = PollVariableRegisters(session, slaveAddress, &answer)) {
        return *registers;
    }
    const int failure = answer.reading.verdict == traffic::Verdict::ChecksumWrong ||
                                answer.reading.verdict == traffic::Verdict::Exception
                            ? code::ModbusFault
                            : code::Unexpected;
    throw Failure(failure, "no good reply to the MODBUS read of 40003-40018 at slave " +
                               std::to_string(slaveAddress) + ": " + answer.reading.meaning);
}

// Sets the working mode back to `mode` and checks it took, trying five times (a converter that
// went silent a moment may answer the next one). After Ctrl+C (the session's stop event signalled)
// the port is closed and opened again on a line of its own, so the mode is put back all the same.
// Returns whether it is back.
bool PutModeBack(Session& session, Result& result, int mode) {
    constexpr int attempts = 5;
    std::optional<serial::EventFd> ownStop;
    std::optional<Session> own;
    const std::string frame = config::workingModeFrame(mode);
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        try {
            const Answer answer =
                (own ? *own : session)
                    .request(frame, traffic::pending::SetCommand, false, "the working mode");
            if (answer.reading.verdict == traffic::Verdict::Acknowledged) {
                result.line("working mode: " + frame + " -> put back to " + ModeName(mode));
                return true;
            }
        } catch (const Failure& failure) {
            if (failure.code() == code::Interrupted && !own) {
                // Ctrl+C stops every wait on the shared stop event: the mode goes back over a line that
                // does not listen to it.
                LineOptions options = session.line().options();
                session.line().close();
                ownStop.emplace();
                ownStop->create();
                own.emplace(options, *ownStop, nullptr);
                try {
                    own->open();
                } catch (const Failure&) {
                    return false;
                }
                --attempt;
                continue;
            }
            if (failure.code() == code::PortUnusable) {
                return false;
            }
        }
    }
    return false;
}

void leftSwitched(Result& result, int mode) {
    result.line("the converter may still be in transparent mode: vx538 set mode=" + ModeName(mode));
    result.data("mode_left", "transparent");
}

// The read meter commands before and after the registers, and each variable's verdict.
void compare(Session& session, Result& result, const profile::Mapping& mapping,
             const std::vector<int>& commands, const std::string& preambles, double tolerance) {
    std::array<profile::CommandReads, 2> reads;
    const auto readHart = [&](bool after) {
        for (const int c : commands) {
            const auto& body = mapping.commands[static_cast<std::size_t>(c - 1)].body;
            profile::HartReply reply =
                SendHartBody(session, result, body, preambles, "read meter command " + std::to_string(c));
            (after ? reads[static_cast<std::size_t>(c - 1)].after
                   : reads[static_cast<std::size_t>(c - 1)].before) = std::move(reply);
        }
    };
    readHart(false);
    const std::vector<uint16_t> registers = ReadVariableRegisters(session, mapping.slaveAddress);
    readHart(true);
    const std::vector<profile::CheckRow> rows =
        profile::CheckMapping(mapping, reads, registers, profile::kFirstVariableRegister, tolerance);

    result.line("var  register  " + padded("source", 44) + "  " + padded("HART", 22) + "  " +
                padded("MODBUS", 14) + "  verdict");
    result.data("variables", Json::array());
    int failures = 0;
    for (const profile::CheckRow& row : rows) {
        char head[32];
        std::snprintf(head, sizeof head, "%3d  %8d  ", row.variable, row.registerNumber);
        std::string text =
            head + padded(row.source, 44) + "  " + padded(valueText(row.hartBefore, row.unit), 22) + "  " +
            padded(valueText(row.modbus, {}), 14) + "  " + std::string(profile::VerdictName(row.verdict));
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
        failures += profile::IsFailure(row.verdict) ? 1 : 0;
    }
    result.data("tolerance_percent", tolerance);
    if (failures > 0) {
        result.line(std::to_string(failures) + (failures == 1 ? " variable differs" : " variables differ"));
        result.exit = code::Differences;
    } else {
        result.line("every polled variable holds what the instrument's replies make of it");
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
                const ConverterMapping converter = ReadMapping(session, result);
                const profile::MeterCommand& meter =
                    converter.mapping.commands[static_cast<std::size_t>(*command - 1)];
                const std::string name = "read meter command " + std::to_string(*command);
                if (meter.body.empty()) {
                    throw Failure(code::Unexpected, name + " is empty in the converter (vx538 set read" +
                                                        std::to_string(*command) + ".command=...)");
                }
                if (!converter.mapping.polling || !meter.enabled) {
                    result.line("(the converter does not poll " + name + ": " +
                                (converter.mapping.polling ? "it is off" : "HART polling is off") + ")");
                }
                const profile::HartReply reply =
                    SendHartBody(session, result, meter.body, addressing->preambles, name);
                result.field("command", "HART command", std::to_string(reply.command), reply.command);
                if (!reply.succeeded()) {
                    result.line(
                        "the instrument answered with a response code the converter takes no values from");
                }
                result.line("offset  length  field             value");
                result.data("fields", Json::array());
                for (const profile::ReplyField& field : profile::ListFields(reply.command, reply.data)) {
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
    struct Options {
        double tolerance = 0.5;
        bool switchMode = false;
    };
    const auto o = std::make_shared<Options>();
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
                const ConverterMapping converter = ReadMapping(session, result);
                const profile::Mapping& mapping = converter.mapping;
                std::vector<int> commands;
                for (int c = 1; c <= 2; ++c) {
                    const profile::MeterCommand& meter = mapping.commands[static_cast<std::size_t>(c - 1)];
                    if (mapping.polling && meter.enabled && !meter.body.empty()) {
                        commands.push_back(c);
                    }
                }
                if (commands.empty()) {
                    result.line("the converter polls no read meter command: its registers hold nothing of "
                                "the instrument");
                    result.exit = code::Differences;
                    return;
                }
                const bool switching = converter.mode != kTransparentMode;
                if (switching && !o->switchMode) {
                    throw Failure(code::WrongMode,
                                  "the HART reads need the converter in transparent mode, and it is in " +
                                      ModeName(converter.mode) +
                                      ": run again with --switch-mode to switch it for the check "
                                      "and put " +
                                      ModeName(converter.mode) + " back afterwards");
                }
                try {
                    // Inside: a switch whose reply was lost or cut by Ctrl+C may still have been taken.
                    if (switching) {
                        SendSet(session, result, config::workingModeFrame(kTransparentMode), "working mode");
                    }
                    compare(session, result, mapping, commands, addressing->preambles, o->tolerance);
                } catch (...) {
                    if (switching && !PutModeBack(session, result, converter.mode)) {
                        leftSwitched(result, converter.mode);
                    }
                    throw;
                }
                if (switching && !PutModeBack(session, result, converter.mode)) {
                    leftSwitched(result, converter.mode);
                    throw Failure(code::NoReply, "the converter did not take its working mode back");
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
                    const ConverterMapping converter = ReadMapping(session, result);
                    const profile::Mapping& mapping = converter.mapping;
                    // The units come from the instrument where it answers; without it the map still stands.
                    std::optional<profile::InstrumentIdentity> identity;
                    std::array<std::optional<profile::HartReply>, 2> replies;
                    std::string silent;
                    const auto ask = [&](const std::vector<uint8_t>& body,
                                         const std::string& what) -> std::optional<profile::HartReply> {
                        try {
                            return SendHartBody(session, result, body, addressing->preambles, what);
                        } catch (const Failure& failure) {
                            if (failure.code() != code::HartSilent && failure.code() != code::Unexpected) {
                                throw;
                            }
                            silent = failure.what();
                            return std::nullopt;
                        }
                    };
                    const auto& first = mapping.commands[0].body.empty() ? mapping.commands[1].body
                                                                         : mapping.commands[0].body;
                    if (const std::vector<uint8_t> body = profile::BodyWithCommand(first, 0); !body.empty()) {
                        if (const auto reply = ask(body, "HART command 0 (identity)")) {
                            identity = profile::IdentityOfReply(*reply);
                        }
                    }
                    for (int c = 1; c <= 2 && silent.empty(); ++c) {
                        if (mapping.polled(c == 1 ? 1 : 5)) {
                            replies[static_cast<std::size_t>(c - 1)] =
                                ask(mapping.commands[static_cast<std::size_t>(c - 1)].body,
                                    "read meter command " + std::to_string(c));
                        }
                    }
                    const std::vector<profile::MapRow> rows = profile::RegisterMap(mapping, replies);
                    if (!silent.empty()) {
                        result.note(silent + "; the map lists no units of the instrument");
                    }
                    if (o->json) {
                        result.document(Json::parse(
                            profile::FormatRegisterMap(mapping, rows, identity, profile::MapFormat::Json)));
                        return;
                    }
                    const profile::MapFormat format = o->csv        ? profile::MapFormat::Csv
                                                      : o->markdown ? profile::MapFormat::Markdown
                                                                    : profile::MapFormat::Text;
                    std::string text = profile::FormatRegisterMap(mapping, rows, identity, format);
                    if (!text.empty() && text.back() == '\n') {
                        text.pop_back();
                    }
                    result.line(text);
                }};
}

} // namespace cli::commands
