// The steps vx538's commands share.
#include "cli/Steps.h"

#include <algorithm>
#include <functional>

#include <CLI/CLI.hpp>

#include "config/TextCommands.h"
#include "hart/HartFrames.h"
#include "profile/Parameters.h"
#include "tools/Bytes.h"
#include "tools/Conversions.h"
#include "traffic/EventFormat.h"

namespace cli {

using profile::Configuration;
using profile::Parameters;
using profile::Query;

namespace {

constexpr const char* kTransparentReminder =
    "; the converter passes HART frames to the instrument only in transparent mode (vx538 get mode; "
    "vx538 set mode=transparent)";

std::optional<serial::TParity> parityOf(const std::optional<std::string>& value) {
    return value ? ParityNamed(*value) : std::nullopt;
}

} // namespace

std::string FrameText(std::string_view frame) {
    const bool printable =
        std::all_of(frame.begin(), frame.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    return printable ? std::string(frame) : traffic::HexText(frame);
}

std::string NameOf(std::size_t parameter) {
    return std::string(Parameters()[parameter].name);
}

// ---- the converter's values ----

std::vector<Query> QueriesFor(const std::vector<std::size_t>& parameters) {
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

std::vector<std::size_t> AllParameters(bool restorableOnly) {
    std::vector<std::size_t> out;
    for (std::size_t p = 0; p < profile::ParameterCount(); ++p) {
        if (!restorableOnly || Parameters()[p].restorable) {
            out.push_back(p);
        }
    }
    return out;
}

std::vector<std::size_t> PresentIn(const Configuration& values) {
    std::vector<std::size_t> out;
    for (const std::size_t p : AllParameters(true)) {
        if (values.has(p)) {
            out.push_back(p);
        }
    }
    return out;
}

ReadResult ReadConverter(Session& session, const std::vector<Query>& queries) {
    ReadResult result;
    for (const Query q : queries) {
        const std::string key(profile::QueryKey(q));
        const Answer answer = session.request(profile::QueryFrame(q), traffic::QueryPending(key), true,
                                              key + " (" + std::string(profile::QueryTitle(q)) + ")");
        const auto problems = profile::DecodeReply(q, answer.reply.bytes, result.values);
        result.problems.insert(result.problems.end(), problems.begin(), problems.end());
        result.replies.emplace_back(key, answer.reply.bytes);
    }
    return result;
}

std::vector<profile::Problem> ProblemsFor(const std::vector<profile::Problem>& problems,
                                          const std::vector<std::size_t>& parameters) {
    std::vector<profile::Problem> out;
    for (const profile::Problem& problem : problems) {
        const bool concerns = std::any_of(parameters.begin(), parameters.end(), [&](std::size_t p) {
            return problem.parameter ? *problem.parameter == p : Parameters()[p].query == problem.query;
        });
        if (concerns && std::find(out.begin(), out.end(), problem) == out.end()) {
            out.push_back(problem);
        }
    }
    return out;
}

void Unexpected(Result& result, const std::vector<profile::Problem>& problems, std::string_view what) {
    std::string message = std::string(what) + ":";
    Json texts = Json::array();
    for (const profile::Problem& p : problems) {
        message += "\n  " + profile::ProblemText(p);
        texts.push_back(profile::ProblemText(p));
    }
    result.data("problems", std::move(texts));
    throw Failure(code::Unexpected, message);
}

// ---- set commands ----

namespace {

// What a line setting sent without an answer may have changed, and how the converter is reached then.
std::string mayHold(const profile::Setter& setter, const Configuration& values) {
    const auto port = [&](std::string_view name, std::string_view prefix) {
        const std::string baud = values.value(std::string(prefix) + ".baud").value_or("?");
        const std::string parity = values.value(std::string(prefix) + ".parity").value_or("?");
        return "the converter may now run its " + std::string(name) + " port at " + baud + " baud, parity " +
               parity + ": reach it there with --baud " + baud + " --parity " + parity;
    };
    switch (setter.kind) {
    case profile::SetKind::Rs485:
        return port("RS485", "rs485");
    case profile::SetKind::Rs485B:
        return port("RS485B", "rs485b");
    case profile::SetKind::SlaveAddress: {
        const std::string address = values.value("modbus.address").value_or("?");
        return "the converter may now answer MODBUS as slave " + address + " (vx538 modbus read --slave " +
               address + ")";
    }
    default:
        return {};
    }
}

// The key of a text command: "RESET" of "QQS#RESET#", "AV3O" of "QQQ#AV3O:12.5#".
std::string frameKey(std::string_view frame) {
    const std::size_t hash = frame.find('#');
    if (hash == std::string_view::npos) {
        return {};
    }
    const std::string_view rest = frame.substr(hash + 1);
    return std::string(rest.substr(0, rest.find_first_of(":#")));
}

// Sends one set command and shows it with its reply; whether the converter took it is the caller's.
Answer sendSet(Session& session, Result& result, const std::string& frame, std::string_view title) {
    Answer answer = session.request(frame, traffic::pending::SetCommand, false, title);
    result.line(std::string(title) + ": " + FrameText(frame) + " -> " + FrameText(answer.reply.bytes) + " (" +
                std::string(traffic::VerdictText(answer.reading.verdict)) + ")");
    return answer;
}

// A reply that is not "<head><key>:OK#" for this very request ends the run: a refusal, or a reply of
// another shape or to another command (a late one), which says nothing of this one.
void requireAcknowledged(const Answer& answer, std::string_view title) {
    switch (answer.reading.verdict) {
    case traffic::Verdict::Acknowledged:
        return;
    case traffic::Verdict::Refused:
        throw Failure(code::Unexpected,
                      "the converter refused " + std::string(title) + ": " + FrameText(answer.reply.bytes));
    default:
        throw Failure(code::NoReply,
                      "no answer to " + std::string(title) + " of its own: what came (" +
                          FrameText(answer.reply.bytes) + ") echoes another command or none",
                      true);
    }
}

// Sends the account's command in flight and shows it (`show` records its reply): it ends acknowledged,
// refused or, when the failure came before it went onto the line, first of those not sent. The
// failure is passed on.
void sendInFlight(Session& session, Result& result, Account& account, const std::string& frame,
                  std::string_view title, const std::function<void(const Answer&)>& show) {
    try {
        const Answer answer = sendSet(session, result, frame, title);
        show(answer);
        if (answer.reading.verdict == traffic::Verdict::Refused) {
            account.refused.push_back(*account.inFlight);
            account.inFlight.reset();
        }
        requireAcknowledged(answer, title);
    } catch (const Failure& failure) {
        if (account.inFlight && !failure.requestWritten()) {
            account.notSent.insert(account.notSent.begin(), *account.inFlight);
            account.inFlight.reset();
        }
        throw;
    }
    account.acknowledged.push_back(*account.inFlight);
    account.inFlight.reset();
}

} // namespace

Answer SendSet(Session& session, Result& result, const std::string& frame, std::string_view title) {
    Answer answer = sendSet(session, result, frame, title);
    requireAcknowledged(answer, title);
    return answer;
}

void SendPlan(Session& session, Result& result, const std::vector<profile::PlannedFrame>& plan,
              const Configuration& current, const Configuration& target, std::string_view again) {
    Configuration merged = current;
    merged.merge(target);
    const LineOptions& line = session.line().options();
    const bool lineIsRs485 = current.value("rs485.baud") == std::to_string(line.baud) &&
                             parityOf(current.value("rs485.parity")) == line.parity;
    Account& account = result.account.emplace();
    for (const profile::PlannedFrame& planned : plan) {
        const profile::Setter& setter = profile::Setters()[planned.setter];
        account.notSent.push_back({setter.key, setter.title});
    }
    // What was sent is on record even when a later command fails.
    result.data("sent", Json::array());
    for (const profile::PlannedFrame& planned : plan) {
        const profile::Setter& setter = profile::Setters()[planned.setter];
        account.inFlight = account.notSent.front();
        account.notSent.erase(account.notSent.begin());
        try {
            sendInFlight(session, result, account, planned.frame, setter.title, [&](const Answer& answer) {
                result.append("sent", {{"command", setter.key},
                                       {"frame", FrameText(planned.frame)},
                                       {"reply", FrameText(answer.reply.bytes)},
                                       {"verdict", traffic::VerdictText(answer.reading.verdict)}});
            });
        } catch (const Failure&) {
            if (account.inFlight) {
                account.mayHold = mayHold(setter, merged);
            }
            account.next = (account.mayHold.empty() ? "" : "reach the converter as said above, then ") +
                           std::string(again);
            throw;
        }
        if (setter.kind == profile::SetKind::Rs485 && lineIsRs485) {
            const auto baud = tools::StrToInt(*merged.value("rs485.baud"));
            const auto parity = *parityOf(merged.value("rs485.parity"));
            if (static_cast<uint32_t>(baud) != line.baud || parity != line.parity) {
                session.line().setLine(static_cast<uint32_t>(baud), parity);
                result.line("the line now runs at " + *merged.value("rs485.baud") + " baud, parity " +
                            *merged.value("rs485.parity") + ", as the converter's RS485 port does");
            }
        }
    }
}

void SendOne(Session& session, Result& result, const std::string& frame, std::string_view title) {
    Account& account = result.account.emplace();
    account.inFlight = Account::Command{frameKey(frame), std::string(title)};
    try {
        sendInFlight(session, result, account, frame, title, [&](const Answer& answer) {
            result.data("frame", FrameText(frame));
            result.data("reply", FrameText(answer.reply.bytes));
            result.data("verdict", traffic::VerdictText(answer.reading.verdict));
        });
    } catch (const Failure&) {
        account.next = "run it again";
        throw;
    }
}

// ---- exchanges ----

std::optional<std::string_view> PlacedFrame(const Answer& answer) {
    const traffic::Reading& r = answer.reading;
    if (r.frameLength == 0 || r.frameOffset + r.frameLength > answer.reply.bytes.size()) {
        return std::nullopt;
    }
    return std::string_view(answer.reply.bytes).substr(r.frameOffset, r.frameLength);
}

void ShowExchange(Result& result, std::string_view sent, const Answer& answer) {
    result.field({}, "sent", traffic::HexText(sent), {}, " ");
    result.field("reply_hex", "received", traffic::HexText(answer.reply.bytes),
                 traffic::HexText(answer.reply.bytes), " ");
    result.data("meaning", answer.reading.meaning);
}

Answer HartRequest(Session& session, Result& result, std::string_view frame, int32_t pending,
                   std::string_view what) {
    try {
        Answer answer = session.request(frame, pending, true, what);
        if (traffic::IsFault(answer.reading.verdict) || answer.reading.verdict == traffic::Verdict::Echo) {
            // What came instead, for whoever looks into it: beside the output, never in it.
            result.note("received " + traffic::HexText(answer.reply.bytes));
            result.note("meaning " + answer.reading.meaning);
            throw Failure(code::Unexpected, "no good reply to " + std::string(what) + " (" +
                                                std::string(traffic::VerdictText(answer.reading.verdict)) +
                                                ")");
        }
        return answer;
    } catch (const Failure& failure) {
        if (failure.code() == code::NoReply) {
            throw Failure(code::HartSilent, std::string(failure.what()) + kTransparentReminder);
        }
        throw;
    }
}

std::shared_ptr<HartAddressing> DefineHartAddressing(CLI::App& app) {
    auto addressing = std::make_shared<HartAddressing>();
    app.add_option("--preambles", addressing->preambles, "preamble length of the request (default 5)");
    app.add_flag("--secondary", addressing->secondary, "address as a secondary master");
    return addressing;
}

void CheckHartAddressing(const HartAddressing& addressing) {
    hart::IdentityQueryFrame(addressing.preambles, addressing.address, !addressing.secondary);
}

// ---- what the user gives ----

std::string HexArgument(const std::string& text, int maximum, std::string_view example) {
    std::string upper;
    for (const char c : text) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const auto begin = upper.find_first_not_of(' ');
    upper = begin == std::string::npos ? std::string()
                                       : upper.substr(begin, upper.find_last_not_of(' ') - begin + 1);
    const hart::HexBytes parsed = hart::ParseHexBytes(upper, maximum + 1);
    const std::string bytes(tools::asText(parsed.bytes));
    // Pairs only, every one of them: ParseHexBytes alone would cut "5151" to its first pair unsaid.
    if (!parsed.ok() || traffic::HexText(bytes) != upper) {
        throw Failure(code::Usage, profile::Quoted(text) +
                                       " is not hex byte text: pairs of hex digits separated by single "
                                       "blanks, e.g. \"" +
                                       std::string(example) + "\"");
    }
    if (parsed.bytes.size() > static_cast<std::size_t>(maximum)) {
        throw Failure(code::Usage,
                      profile::Quoted(text) + " holds more than " + std::to_string(maximum) + " bytes");
    }
    return bytes;
}

// ---- commissioning ----

ConverterMapping ReadMapping(Session& session, Result& result) {
    const ReadResult read =
        ReadConverter(session, {profile::Query::QX1, profile::Query::QX3, profile::Query::QX4});
    ConverterMapping out;
    try {
        out.mapping = profile::MappingOf(read.values);
        const auto& mode = read.values.value("mode");
        const std::optional<int> index =
            mode ? profile::ChoiceIndex(profile::Parameters()[profile::ParameterIndex("mode")], *mode)
                 : std::nullopt;
        if (!index) {
            throw profile::BadValue("mode: not read from the converter");
        }
        out.mode = *index;
    } catch (const profile::BadValue& error) {
        if (read.problems.empty()) {
            throw Failure(code::Unexpected,
                          std::string("the converter's configuration cannot be read: ") + error.what());
        }
        Unexpected(result, read.problems, "the converter's configuration cannot be read");
    }
    return out;
}

profile::HartReply SendHartBody(Session& session, Result& result, const std::vector<uint8_t>& body,
                                std::string_view preambles, std::string_view what) {
    const std::vector<uint8_t> frame = hart::ManualFrame(preambles, body);
    const Answer answer =
        HartRequest(session, result, tools::asText(frame), traffic::pending::HartManual, what);
    const auto placed = PlacedFrame(answer);
    profile::HartReply reply = profile::ReadHartReply(tools::bytesOf(placed.value_or(answer.reply.bytes)));
    if (!reply.ok()) {
        throw Failure(code::Unexpected,
                      "the reply to " + std::string(what) + " is unreadable: " + reply.problem);
    }
    return reply;
}

std::optional<std::vector<uint16_t>> PollVariableRegisters(Session& session, int slaveAddress,
                                                           Answer* answer) {
    const std::vector<uint8_t> request = profile::VariablesRequest(slaveAddress);
    Answer made = session.request(tools::asText(request), traffic::pending::ModbusTest, true,
                                  "the MODBUS read of 40003-40018");
    const auto placed = PlacedFrame(made);
    std::optional<std::vector<uint16_t>> registers;
    if (made.reading.verdict == traffic::Verdict::Good && placed) {
        registers = profile::RegistersOfReply(tools::bytesOf(*placed), request);
    }
    if (answer) {
        *answer = std::move(made);
    }
    return registers;
}

} // namespace cli
