// The steps vx538's commands share.
#include "cli/Steps.h"

#include <algorithm>

#include <CLI/CLI.hpp>

#include "cli/Jobs.h"
#include "hart/HartFrames.h"
#include "profile/Parameters.h"
#include "tools/Bytes.h"
#include "traffic/EventFormat.h"

namespace cli {

using profile::Parameters;

std::string NameOf(std::size_t parameter) {
    return std::string(Parameters()[parameter].name);
}

// ---- the converter's values ----

jobs::ReadResult ReadConverter(Session& session, const std::vector<profile::Query>& queries, bool communication) {
    jobs::ReadAllJob job({queries, communication});
    RunJob(session, job);
    if (job.result().stop) {
        Fail(*job.result().stop);
    }
    return job.result();
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

void ShowSent(Result& result, const jobs::SendResult& sent, const std::vector<jobs::SetCommand>& commands) {
    // What was sent is on record even when a later command failed.
    result.data("sent", Json::array());
    for (const jobs::SentCommand& s : sent.sent) {
        const auto command = std::find_if(commands.begin(), commands.end(),
                                          [&](const jobs::SetCommand& c) { return c.key == s.key; });
        const std::string title = command == commands.end() ? s.key : command->title;
        result.line(title + ": " + FrameText(s.frame) + " -> " + FrameText(s.reply) + " (" + s.verdict + ")");
        result.append("sent", {{"command", s.key}, {"frame", FrameText(s.frame)}, {"reply", FrameText(s.reply)},
                               {"verdict", s.verdict}});
    }
    for (const std::string& note : sent.notes) {
        result.line(note);
    }
    result.account = sent.account;
}

namespace {

// The key of a text command: "RESET" of "QQS#RESET#", "AV3O" of "QQQ#AV3O:12.5#".
std::string frameKey(std::string_view frame) {
    const std::size_t hash = frame.find('#');
    if (hash == std::string_view::npos) {
        return {};
    }
    const std::string_view rest = frame.substr(hash + 1);
    return std::string(rest.substr(0, rest.find_first_of(":#")));
}

} // namespace

void SendOne(Session& session, Result& result, const std::string& frame, std::string_view title) {
    const std::vector<jobs::SetCommand> commands{{frameKey(frame), std::string(title), frame, std::nullopt, {}}};
    jobs::SendJob job({commands, std::nullopt, "run it again"});
    RunJob(session, job);
    const jobs::SendResult& sent = job.result();
    result.account = sent.account;
    if (!sent.sent.empty()) {
        const jobs::SentCommand& s = sent.sent.front();
        result.line(std::string(title) + ": " + FrameText(frame) + " -> " + FrameText(s.reply) + " (" + s.verdict + ")");
        result.data("frame", FrameText(frame));
        result.data("reply", FrameText(s.reply));
        result.data("verdict", s.verdict);
    }
    if (sent.stop) {
        Fail(*sent.stop);
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

jobs::MappingResult ReadMapping(Session& session, Result& result) {
    jobs::ReadMappingJob job;
    RunJob(session, job);
    const jobs::MappingResult& read = job.result();
    if (read.stop) {
        Fail(*read.stop);
    }
    if (!read.mapping || !read.mode) {
        if (read.problems.empty()) {
            throw Failure(code::Unexpected, "the converter's configuration cannot be read: " + read.problemText());
        }
        Unexpected(result, read.problems, "the converter's configuration cannot be read");
    }
    return read;
}

} // namespace cli
