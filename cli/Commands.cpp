// The commands of vx538 that talk to a converter.
#include "cli/Commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>

#include "config/TextCommands.h"
#include "hart/HartFrames.h"
#include "hart/HartReplies.h"
#include "hart/UnitTable.h"
#include "tools/Conversions.h"
#include "tools/ModbusRequest.h"
#include "tools/RegisterValues.h"
#include "traffic/EventFormat.h"
#include "traffic/Interpreter.h"

namespace cli {

namespace {

using profile::Configuration;
using profile::Parameters;
using profile::Query;

constexpr const char* kTransparentReminder =
    "; the converter passes HART frames to the instrument only in transparent mode (vx538 get mode; "
    "vx538 set mode=transparent)";

std::span<const uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// Bytes as the traffic monitor shows them: hex pairs separated by blanks.
std::string hexText(std::string_view bytes) {
    return traffic::HexText(bytes);
}

// The request and the block that answered it, as hex, for people and scripts.
void printExchange(Session& session, std::string_view sent, const Answer& answer) {
    session.text += "sent     " + hexText(sent) + "\n";
    session.text += "received " + hexText(answer.reply.bytes) + "\n";
    session.json["reply_hex"] = hexText(answer.reply.bytes);
    session.json["meaning"] = answer.reading.meaning;
}

// Text frames as they stand; a frame with raw bytes (read meter commands, HART) as hex pairs.
std::string frameText(std::string_view frame) {
    const bool printable = std::all_of(frame.begin(), frame.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    return printable ? std::string(frame) : hexText(frame);
}

std::string nameOf(std::size_t parameter) {
    return std::string(Parameters()[parameter].name);
}

// ---- reading the converter ----

// The queries that report the given parameters, in the order a backup sends them.
std::vector<Query> queriesFor(const std::vector<std::size_t>& parameters) {
    std::vector<Query> out;
    for (const Query q : profile::kQueries) {
        const bool needed = std::any_of(parameters.begin(), parameters.end(),
                                        [&](std::size_t p) { return Parameters()[p].query == q; });
        if (needed) {
            out.push_back(q);
        }
    }
    return out;
}

struct ReadResult {
    Configuration values;
    std::vector<std::string> problems;
    std::vector<std::pair<std::string, std::string>> replies;
};

ReadResult readConverter(Session& session, const std::vector<Query>& queries) {
    ReadResult result;
    for (const Query q : queries) {
        std::string raw;
        const auto problems = session.query(q, result.values, &raw);
        result.problems.insert(result.problems.end(), problems.begin(), problems.end());
        result.replies.emplace_back(profile::QueryKey(q), raw);
    }
    return result;
}

// The problems that concern the given parameters, or their queries as a whole.
std::vector<std::string> problemsFor(const std::vector<std::string>& problems, const std::vector<std::size_t>& parameters) {
    std::vector<std::string> out;
    for (const std::string& problem : problems) {
        const bool concerns = std::any_of(parameters.begin(), parameters.end(), [&](std::size_t p) {
            const std::string& name = nameOf(p);
            const std::string query(profile::QueryKey(Parameters()[p].query));
            return problem.starts_with(name + ":") || problem.starts_with(query + " reply");
        });
        if (concerns && std::find(out.begin(), out.end(), problem) == out.end()) {
            out.push_back(problem);
        }
    }
    return out;
}

[[noreturn]] void unexpected(Session& session, const std::vector<std::string>& problems, std::string_view what) {
    std::string message = std::string(what) + ":";
    for (const std::string& p : problems) {
        message += "\n  " + p;
    }
    session.json["problems"] = problems;
    throw Failure(code::Unexpected, message);
}

Json valuesJson(const Configuration& values, const std::vector<std::size_t>& parameters) {
    Configuration only;
    for (const std::size_t p : parameters) {
        if (values.has(p)) {
            only.set(p, *values.value(p));
        }
    }
    return Json::parse(profile::ParametersJson(only));
}

std::size_t nameWidth(const std::vector<std::size_t>& parameters) {
    std::size_t width = 0;
    for (const std::size_t p : parameters) {
        width = std::max(width, Parameters()[p].name.size());
    }
    return width;
}

std::string padded(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.append(width - text.size(), ' ');
    }
    return text;
}

void printValues(Session& session, const Configuration& values, const std::vector<std::size_t>& parameters) {
    const std::size_t width = nameWidth(parameters);
    for (const std::size_t p : parameters) {
        const auto& value = values.value(p);
        session.text += padded(nameOf(p), width) + " = " + (value ? *value : std::string("(not read)")) + "\n";
    }
}

std::vector<std::size_t> allParameters(bool restorableOnly) {
    std::vector<std::size_t> out;
    for (std::size_t p = 0; p < profile::ParameterCount(); ++p) {
        if (!restorableOnly || Parameters()[p].restorable) {
            out.push_back(p);
        }
    }
    return out;
}

std::vector<std::size_t> presentIn(const Configuration& values) {
    std::vector<std::size_t> out;
    for (const std::size_t p : allParameters(true)) {
        if (values.has(p)) {
            out.push_back(p);
        }
    }
    return out;
}

// ---- set commands ----

// Sends one set command; the converter's reply as the interpreter reads it.
Answer sendSet(Session& session, const std::string& frame, std::string_view title) {
    Answer answer = session.request(frame, {ReplyShape::Kind::Request, traffic::pending::SetCommand},
                                    traffic::pending::SetCommand, false, title);
    session.text += std::string(title) + ": " + frameText(frame) + " -> " + frameText(answer.reply.bytes) + " (" +
                    std::string(traffic::VerdictText(answer.reading.verdict)) + ")\n";
    if (answer.reading.verdict == traffic::Verdict::Refused) {
        throw Failure(code::Unexpected, "the converter refused " + std::string(title) + ": " +
                                            frameText(answer.reply.bytes));
    }
    return answer;
}

std::optional<serial::TParity> parityOf(const std::optional<std::string>& value) {
    return value ? ParityNamed(*value) : std::nullopt;
}

// Sends the planned frames; when the RS485 settings the line runs at change, the line follows them
// (the converter answers the next request at its new speed).
void sendPlan(Session& session, const std::vector<profile::PlannedFrame>& plan, const Configuration& current,
              const Configuration& target) {
    Configuration merged = current;
    merged.merge(target);
    const LineOptions& line = session.line().options();
    const bool lineIsRs485 = current.value("rs485.baud") == std::to_string(line.baud) &&
                             parityOf(current.value("rs485.parity")) == line.parity;
    // What was sent is on record even when a later command fails.
    Json& sent = session.json["sent"] = Json::array();
    for (const profile::PlannedFrame& planned : plan) {
        const profile::Setter& setter = profile::Setters()[planned.setter];
        const Answer answer = sendSet(session, planned.frame, setter.title);
        sent.push_back({{"command", setter.key},
                        {"frame", frameText(planned.frame)},
                        {"reply", frameText(answer.reply.bytes)},
                        {"verdict", traffic::VerdictText(answer.reading.verdict)}});
        if (setter.key == "BA1" && lineIsRs485) {
            const auto baud = tools::StrToInt(*merged.value("rs485.baud"));
            const auto parity = *parityOf(merged.value("rs485.parity"));
            if (static_cast<uint32_t>(baud) != line.baud || parity != line.parity) {
                session.line().setLine(static_cast<uint32_t>(baud), parity);
                session.text += "the line now runs at " + *merged.value("rs485.baud") + " baud, parity " +
                                *merged.value("rs485.parity") + ", as the converter's RS485 port does\n";
            }
        }
    }
}

std::vector<std::string> differenceLines(const std::vector<profile::Difference>& differences, std::string_view left,
                                         std::string_view right, Json& json) {
    std::vector<std::size_t> names;
    for (const auto& d : differences) {
        names.push_back(d.parameter);
    }
    const std::size_t width = std::max(nameWidth(names), std::size_t{9});
    std::vector<std::string> lines;
    json = Json::array();
    for (const auto& d : differences) {
        const std::string expected = d.expected.value_or("(none)");
        const std::string actual = d.actual.value_or("(not read)");
        lines.push_back(padded(nameOf(d.parameter), width) + "  " + std::string(left) + " " + expected + ", " +
                        std::string(right) + " " + actual);
        json.push_back({{"parameter", nameOf(d.parameter)}, {"expected", expected}, {"actual", actual}});
    }
    return lines;
}

// ---- the commands ----

int ping(Session& session) {
    const Answer answer = session.request(config::communicationQueryFrame(),
                                          {ReplyShape::Kind::Request, traffic::pending::SystemParameters},
                                          traffic::pending::SystemParameters, true, "the communication query");
    // The reply the interpreter found in the block, without the noise around it.
    const traffic::Reading& reading = answer.reading;
    const std::string& block = answer.reply.bytes;
    const bool framed = reading.frameLength > 0 && reading.frameOffset + reading.frameLength <= block.size();
    const std::string reply = framed ? block.substr(reading.frameOffset, reading.frameLength) : block;
    std::string note = std::to_string(answer.reply.elapsed.count()) + " ms";
    if (reply.size() < block.size()) {
        note += ", " + std::to_string(block.size() - reply.size()) + " bytes of noise around it";
    }
    session.text += frameText(reply) + "  (" + note + ")\n";
    session.json["reply"] = frameText(reply);
    session.json["block_hex"] = hexText(block);
    session.json["ms"] = answer.reply.elapsed.count();
    return code::Done;
}

int get(Session& session, const Prepared& prepared) {
    const ReadResult read = readConverter(session, queriesFor(prepared.names));
    printValues(session, read.values, prepared.names);
    session.json["parameters"] = valuesJson(read.values, prepared.names);
    const auto problems = problemsFor(read.problems, prepared.names);
    if (!problems.empty()) {
        unexpected(session, problems, "some values could not be read");
    }
    return code::Done;
}

int set(Session& session, const Prepared& prepared) {
    const std::vector<std::size_t> named = presentIn(prepared.values);
    // The set commands also carry the other parameters of their frame: read those first.
    std::vector<std::size_t> carried;
    for (const std::size_t p : named) {
        for (const std::size_t q : profile::ParametersOf(*profile::SetterOf(p))) {
            carried.push_back(q);
        }
    }
    const auto queries = queriesFor(carried);
    const ReadResult before = readConverter(session, queries);
    const auto problems = problemsFor(before.problems, carried);
    if (!problems.empty()) {
        unexpected(session, problems, "the values sent with these cannot be read");
    }
    sendPlan(session, profile::PlanRestore(prepared.values, before.values, true), before.values, prepared.values);

    const ReadResult after = readConverter(session, queries);
    Json took = Json::object();
    bool allTook = true;
    for (const std::size_t p : named) {
        const auto& now = after.values.value(p);
        const bool ok = now == prepared.values.value(p);
        allTook = allTook && ok;
        session.text += nameOf(p) + (ok ? " = " + *now + " (took)\n"
                                        : ": did not take, the converter holds " + now.value_or("(not read)") + "\n");
        took[nameOf(p)] = ok;
    }
    session.json["took"] = std::move(took);
    if (!allTook) {
        throw Failure(code::Unexpected, "the converter did not take every value");
    }
    return code::Done;
}

int simpleCommand(Session& session, const std::string& frame, std::string_view title) {
    const Answer answer = sendSet(session, frame, title);
    session.json["frame"] = frameText(frame);
    session.json["reply"] = frameText(answer.reply.bytes);
    session.json["verdict"] = traffic::VerdictText(answer.reading.verdict);
    return code::Done;
}

int raw(Session& session, const Prepared& prepared) {
    const Answer answer = session.request(prepared.frame, {}, traffic::pending::None, false, "the frame");
    printExchange(session, prepared.frame, answer);
    session.text += "text     " + frameText(answer.reply.bytes) + "\n";
    session.text += "meaning  " + answer.reading.meaning + "\n";
    session.json["verdict"] = traffic::VerdictText(answer.reading.verdict);
    return code::Done;
}

void writeFileAtomically(const std::string& path, const std::string& text) {
    // A failed backup never leaves half a file where an old one was.
    const std::string temporary = path + ".part-" + std::to_string(::getpid());
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << text;
        file.flush();
        if (!file) {
            std::filesystem::remove(temporary);
            throw Failure(code::BadFile, "cannot write " + path);
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::filesystem::remove(temporary);
        throw Failure(code::BadFile, "cannot write " + path + ": " + error.message());
    }
}

int backup(Session& session, const Prepared& prepared) {
    profile::Backup file;
    file.writtenBy = "vx538 " VX538_VERSION;
    file.date = profile::UtcDateText(traffic::Now().wallMs);
    file.port = session.line().path();
    const Answer identity = session.request(config::communicationQueryFrame(),
                                            {ReplyShape::Kind::Request, traffic::pending::SystemParameters},
                                            traffic::pending::SystemParameters, true, "the communication query");
    file.device = identity.reply.bytes;
    ReadResult read = readConverter(session, std::vector<Query>(std::begin(profile::kQueries), std::end(profile::kQueries)));
    if (!read.problems.empty()) {
        unexpected(session, read.problems, "the converter's replies do not hold every value; nothing was written");
    }
    file.values = read.values;
    file.replies.emplace_back("QV", identity.reply.bytes);
    file.replies.insert(file.replies.end(), read.replies.begin(), read.replies.end());
    const std::string text = profile::WriteBackup(file);
    const std::string path = BackupPath(prepared.args.file, session.port());
    if (path == "-") {
        // With --json the file is the "backup" member of the port's object, so the output stays one
        // object per port.
        if (prepared.args.json) {
            session.json["backup"] = Json::parse(text);
        } else {
            session.text += text;
        }
    } else {
        writeFileAtomically(path, text);
        session.text += "backup of " + session.port() + " (" + std::to_string(file.values.count()) +
                        " parameters) written to " + path + "\n";
        session.json["file"] = path;
    }
    return code::Done;
}

int restore(Session& session, const Prepared& prepared) {
    const Configuration& target = prepared.backup->values;
    const std::vector<std::size_t> restored = presentIn(target);
    const ReadResult before = readConverter(session, queriesFor(allParameters(true)));
    const auto problems = problemsFor(before.problems, restored);
    if (!problems.empty() && !prepared.args.all) {
        unexpected(session, problems, "the converter's values cannot all be read, so what differs is not known; "
                                      "nothing was sent (--all sends everything without comparing)");
    }
    std::vector<profile::PlannedFrame> plan;
    try {
        plan = profile::PlanRestore(target, before.values, prepared.args.all);
    } catch (const profile::BadValue& error) {
        throw Failure(code::Usage, std::string(error.what()) + "; nothing was sent");
    }
    if (prepared.args.dryRun) {
        Json frames = Json::array();
        for (const auto& planned : plan) {
            session.text += frameText(planned.frame) + "\n";
            frames.push_back(frameText(planned.frame));
        }
        session.text += std::to_string(plan.size()) + " set commands would be sent\n";
        session.json["would_send"] = std::move(frames);
        return code::Done;
    }
    if (plan.empty()) {
        session.text += "the converter already holds every value of " + prepared.args.file + "; nothing sent\n";
        session.json["sent"] = Json::array();
        return code::Done;
    }
    sendPlan(session, plan, before.values, target);
    const ReadResult after = readConverter(session, queriesFor(restored));
    Json differences;
    const auto lines = differenceLines(profile::Compare(target, after.values), "file", "converter", differences);
    session.json["differences"] = differences;
    if (!lines.empty()) {
        std::string message = "read back, " + std::to_string(lines.size()) + " parameters differ from the file:";
        for (const std::string& line : lines) {
            message += "\n  " + line;
        }
        throw Failure(code::Unexpected, message);
    }
    session.text += "restored " + std::to_string(plan.size()) + " set commands; read back, all " +
                    std::to_string(restored.size()) + " parameters match " + prepared.args.file + "\n";
    return code::Done;
}

int compare(Session& session, const Prepared& prepared, bool verbose) {
    const Configuration& expected = prepared.backup->values;
    const std::vector<std::size_t> compared = presentIn(expected);
    const ReadResult read = readConverter(session, queriesFor(compared));
    const auto problems = problemsFor(read.problems, compared);
    if (!problems.empty()) {
        unexpected(session, problems, "the converter's values cannot all be read");
    }
    Json differences;
    const auto lines = differenceLines(profile::Compare(expected, read.values), "file", "converter", differences);
    session.json["differences"] = differences;
    session.json["compared"] = compared.size();
    if (verbose) {
        for (const std::string& line : lines) {
            session.text += line + "\n";
        }
    }
    if (lines.empty()) {
        session.text += "matches " + prepared.args.file + " (" + std::to_string(compared.size()) + " parameters)\n";
        return code::Done;
    }
    session.text += std::to_string(lines.size()) + " of " + std::to_string(compared.size()) +
                    " parameters differ from " + prepared.args.file + "\n";
    return code::Differences;
}

// A HART request through the converter: no reply means the instrument (or the converter) is silent.
Answer hartRequest(Session& session, const std::vector<uint8_t>& frame, int32_t pending, std::string_view what) {
    try {
        Answer answer = session.request({reinterpret_cast<const char*>(frame.data()), frame.size()},
                                        {ReplyShape::Kind::Request, pending}, pending, true, what);
        if (traffic::IsFault(answer.reading.verdict) || answer.reading.verdict == traffic::Verdict::Echo) {
            session.text += "received " + hexText(answer.reply.bytes) + "\n";
            session.text += "meaning  " + answer.reading.meaning + "\n";
            throw Failure(code::Unexpected, "no good reply to " + std::string(what) + " (" +
                                                std::string(traffic::VerdictText(answer.reading.verdict)) + ")");
        }
        return answer;
    } catch (const Failure& failure) {
        if (failure.code() == code::NoReply) {
            throw Failure(code::HartSilent, std::string(failure.what()) + kTransparentReminder);
        }
        throw;
    }
}

std::span<const uint8_t> blockOf(const Answer& answer) {
    return bytesOf(answer.reply.bytes);
}

hart::IdentityReply hartIdentity(Session& session, const Prepared& prepared, hart::HartIdentity& identity) {
    const auto frame = hart::IdentityQueryFrame(prepared.args.preambles, prepared.args.hartAddress, !prepared.args.secondary);
    const Answer answer = hartRequest(session, frame, traffic::pending::HartIdentity, "HART command 0 (identity)");
    const auto block = blockOf(answer);
    const auto reply = hart::DecodeIdentityReply(block, std::min<std::size_t>(block.size(), 255));
    if (!reply) {
        throw Failure(code::Unexpected, "the reply to HART command 0 holds no identity: " + answer.reading.meaning);
    }
    hart::StoreIdentity(*reply, identity);
    identity.pollingAddress = static_cast<uint8_t>(prepared.args.hartAddress);
    return *reply;
}

int hartId(Session& session, const Prepared& prepared) {
    hart::HartIdentity identity;
    const hart::IdentityReply reply = hartIdentity(session, prepared, identity);
    const std::string id = hexText({reinterpret_cast<const char*>(reply.deviceId.data()), reply.deviceId.size()});
    session.text += "manufacturer  " + reply.manufacturerText + " (" + tools::ByteToHex(reply.manufacturer) + ")\n";
    session.text += "device type   " + reply.deviceTypeText + " (" + tools::ByteToHex(reply.deviceType) + ")\n";
    session.text += "device id     " + reply.deviceIdText + " (" + id + ")\n";
    session.text += "preambles     " + reply.reportedPreamblesText + "\n";
    session.json["manufacturer"] = reply.manufacturer;
    session.json["device_type"] = reply.deviceType;
    session.json["device_id"] = reply.deviceIdText;
    session.json["preambles"] = reply.reportedPreambles;
    return code::Done;
}

std::string trimmedUnit(std::string_view unit) {
    const auto end = unit.find_last_not_of(' ');
    return std::string(unit.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

int hartVars(Session& session, const Prepared& prepared) {
    // The variables query is addressed by the identity, as the window addresses it after command 0.
    hart::HartIdentity identity;
    hartIdentity(session, prepared, identity);
    const auto frame = hart::VariablesQueryFrame(prepared.args.preambles, !prepared.args.secondary, identity);
    const Answer answer = hartRequest(session, frame, traffic::pending::HartVariables, "HART command 3 (variables)");
    const auto block = blockOf(answer);
    const auto reply = hart::DecodeVariablesReply(block, std::min<std::size_t>(block.size(), 255));
    if (!reply.variables[0]) {
        throw Failure(code::Unexpected, "the reply to HART command 3 holds no variables: " + answer.reading.meaning);
    }
    constexpr const char* kNames[] = {"PV", "SV", "TV", "QV"};
    Json variables = Json::array();
    for (std::size_t i = 0; i < reply.variables.size(); ++i) {
        if (!reply.variables[i]) {
            continue;
        }
        const std::string unit = trimmedUnit(hart::UnitEntries()[static_cast<std::size_t>(reply.variables[i]->unitIndex)]);
        session.text += std::string(kNames[i]) + "  " + reply.variables[i]->valueText + " " + unit + "\n";
        variables.push_back({{"name", kNames[i]}, {"value", reply.variables[i]->valueText}, {"unit", unit}});
    }
    session.json["variables"] = std::move(variables);
    return code::Done;
}

int hartSend(Session& session, const Prepared& prepared) {
    const std::vector<uint8_t> frame(prepared.frame.begin(), prepared.frame.end());
    const Answer answer = hartRequest(session, frame, traffic::pending::HartManual, "the HART frame");
    printExchange(session, prepared.frame, answer);
    session.text += "meaning  " + answer.reading.meaning + "\n";
    return code::Done;
}

int modbusRead(Session& session, const Prepared& prepared) {
    const auto& frame = prepared.frame;
    const ReplyShape shape{ReplyShape::Kind::Request, traffic::pending::ModbusTest};
    const Answer answer = session.request(frame, shape, traffic::pending::ModbusTest, true, "the MODBUS read");
    const traffic::Reading& reading = answer.reading;
    printExchange(session, frame, answer);
    // The interpreter's one line, a clause per line.
    std::string meaning = reading.meaning;
    for (std::size_t at; (at = meaning.find("; ")) != std::string::npos;) {
        session.text += "  " + meaning.substr(0, at) + "\n";
        meaning.erase(0, at + 2);
    }
    session.text += "  " + meaning + "\n";
    session.json["verdict"] = traffic::VerdictText(reading.verdict);
    if (reading.verdict == traffic::Verdict::Good && reading.frameLength >= 5) {
        // The registers of the frame the interpreter found: after slave, function and byte count.
        session.json["registers"] =
            tools::RegistersFromBytes(bytesOf(answer.reply.bytes).subspan(reading.frameOffset + 3, reading.frameLength - 5));
    }
    switch (reading.verdict) {
    case traffic::Verdict::Good: return code::Done;
    case traffic::Verdict::ChecksumWrong: throw Failure(code::ModbusFault, "the MODBUS reply failed its CRC");
    case traffic::Verdict::Exception: throw Failure(code::ModbusFault, "the MODBUS reply is an exception");
    default:
        throw Failure(code::Unexpected, "no good MODBUS reply (" + std::string(traffic::VerdictText(reading.verdict)) + ")");
    }
}

// ---- preparing ----

[[noreturn]] void usage(const std::string& message) {
    throw Failure(code::Usage, message);
}

profile::Backup readBackupFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw Failure(code::BadFile, "cannot read " + path);
    }
    std::stringstream text;
    text << file.rdbuf();
    try {
        return profile::ReadBackup(text.str());
    } catch (const profile::FileError& error) {
        throw Failure(error.kind() == profile::FileError::Kind::NotABackup ? code::BadFile : code::Usage,
                      path + ": " + error.what());
    }
}

// Bytes typed as hex byte text ("51 51 51 23", either letter case), at most `maximum` of them.
std::vector<uint8_t> hexArgument(const std::string& text, int maximum, std::string_view example) {
    std::string upper;
    for (const char c : text) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const auto begin = upper.find_first_not_of(' ');
    upper = begin == std::string::npos ? std::string() : upper.substr(begin, upper.find_last_not_of(' ') - begin + 1);
    const hart::HexBytes parsed = hart::ParseHexBytes(upper, maximum + 1);
    // Pairs only, every one of them: ParseHexBytes alone would cut "5151" to its first pair unsaid.
    if (!parsed.ok() || hexText({reinterpret_cast<const char*>(parsed.bytes.data()), parsed.bytes.size()}) != upper) {
        usage("'" + text + "' is not hex byte text: pairs of hex digits separated by single blanks, e.g. \"" +
              std::string(example) + "\"");
    }
    if (parsed.bytes.size() > static_cast<std::size_t>(maximum)) {
        usage("'" + text + "' holds more than " + std::to_string(maximum) + " bytes");
    }
    return parsed.bytes;
}

std::string asText(const std::vector<uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

} // namespace

std::string BackupPath(const std::string& pattern, const std::string& port) {
    std::string name = port.substr(port.find_last_of('/') + 1);
    std::string path = pattern;
    for (std::size_t at; (at = path.find("{port}")) != std::string::npos;) {
        path.replace(at, 6, name);
    }
    return path;
}

Prepared Prepare(const Args& args) {
    Prepared prepared;
    prepared.args = args;
    try {
        switch (args.command) {
        case Command::Get:
            for (const std::string& name : args.names) {
                prepared.names.push_back(profile::ParameterIndex(name));
            }
            if (prepared.names.empty()) {
                prepared.names = allParameters(false);
            }
            break;
        case Command::Set:
            if (args.assignments.empty()) {
                usage("set needs NAME=VALUE");
            }
            for (const std::string& assignment : args.assignments) {
                const auto equals = assignment.find('=');
                if (equals == std::string::npos) {
                    usage("'" + assignment + "' is not NAME=VALUE");
                }
                const std::string name = assignment.substr(0, equals);
                const std::size_t index = profile::ParameterIndex(name);
                if (!Parameters()[index].restorable) {
                    usage(name + " is reported by the converter but no command sets it (test-output and "
                                 "test-totalizer drive the outputs)");
                }
                prepared.values.setTyped(name, assignment.substr(equals + 1));
            }
            break;
        case Command::Factory:
            prepared.frame = config::factoryRecordFrame(args.pcbsn, args.inspector);
            break;
        case Command::TestOutput: {
            const double value = tools::StrToFloat(args.value);
            if (value < 0 || value > 999.9) {
                usage("output test value '" + args.value + "' is outside 0..999.9");
            }
            prepared.frame = config::outputTestFrame(args.output, args.value);
            break;
        }
        case Command::TestTotalizer:
            tools::StrToIntUpTo(args.value, 999999999, "Totalizer test value");
            prepared.frame = config::totalizerTestFrame(args.value);
            break;
        case Command::Raw:
            if (args.rawText.empty() == args.rawHex.empty()) {
                usage("raw needs TEXT or --hex BYTES");
            }
            prepared.frame = args.rawHex.empty()
                                 ? args.rawText
                                 : asText(hexArgument(args.rawHex, static_cast<int>(hart::kMaxFrameLength),
                                                      "51 51 51 23 51 56 23"));
            break;
        case Command::Restore:
        case Command::Diff:
        case Command::Verify:
            prepared.backup = readBackupFile(args.file);
            prepared.values = prepared.backup->values;
            break;
        case Command::HartId:
        case Command::HartVars:
            hart::IdentityQueryFrame(args.preambles, args.hartAddress, !args.secondary); // checks the preambles
            break;
        case Command::HartSend:
            prepared.frame = asText(hart::ManualFrame(
                args.preambles, hexArgument(args.hartHex, hart::kManualFrameMaxBytes, "82 26 0C 0A 1B 2C 03 00")));
            break;
        case Command::ModbusRead: {
            const auto frame = tools::ReadHoldingRegistersRequest(args.slave, args.start, args.count);
            prepared.frame.assign(reinterpret_cast<const char*>(frame.data()), frame.size());
            break;
        }
        case Command::Ping:
        case Command::Reset:
        case Command::Backup: break;
        }
    } catch (const profile::BadValue& error) {
        usage(error.what());
    } catch (const tools::Error& error) {
        usage(error.what());
    }
    return prepared;
}

int Run(Session& session, const Prepared& prepared) {
    switch (prepared.args.command) {
    case Command::Ping: return ping(session);
    case Command::Get: return get(session, prepared);
    case Command::Set: return set(session, prepared);
    case Command::Reset: return simpleCommand(session, config::parameterInitializationFrame(), "parameter initialization");
    case Command::Factory: return simpleCommand(session, prepared.frame, "factory record");
    case Command::TestOutput: return simpleCommand(session, prepared.frame, "output test");
    case Command::TestTotalizer: return simpleCommand(session, prepared.frame, "totalizer test");
    case Command::Raw: return raw(session, prepared);
    case Command::Backup: return backup(session, prepared);
    case Command::Restore: return restore(session, prepared);
    case Command::Diff: return compare(session, prepared, true);
    case Command::Verify: return compare(session, prepared, false);
    case Command::HartId: return hartId(session, prepared);
    case Command::HartVars: return hartVars(session, prepared);
    case Command::HartSend: return hartSend(session, prepared);
    case Command::ModbusRead: return modbusRead(session, prepared);
    }
    return code::Usage;
}

} // namespace cli
