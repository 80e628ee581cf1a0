// Outcomes of a job's requests, from the interpreter's reading of what arrived.
#include "jobs/Job.h"

#include <algorithm>

#include "traffic/EventFormat.h"

namespace jobs {

bool Request::hart() const {
    using namespace traffic::pending;
    return pending == HartIdentity || pending == HartVariables || pending == HartManual ||
           pending == HartAddress;
}

bool Request::modbus() const {
    return pending == traffic::pending::ModbusTest;
}

std::string_view Outcome::frame() const {
    if (reading.frameLength == 0 || reading.frameOffset + reading.frameLength > block.size()) {
        return {};
    }
    return std::string_view(block).substr(reading.frameOffset, reading.frameLength);
}

Outcome::Kind KindOf(const traffic::Reading& reading) {
    using traffic::Verdict;
    switch (reading.verdict) {
    case Verdict::Good:
    case Verdict::Acknowledged:
        return Outcome::Kind::Whole;
    case Verdict::Refused:
    case Verdict::Exception:
        return Outcome::Kind::Refused;
    case Verdict::Cut:
        return Outcome::Kind::Cut;
    case Verdict::ChecksumWrong:
        return Outcome::Kind::Damaged;
    case Verdict::None:
    case Verdict::Echo:
    case Verdict::Unexpected:
        break;
    }
    return Outcome::Kind::Unexpected;
}

Outcome ReceivedOutcome(std::string block, traffic::Reading reading) {
    Outcome outcome;
    outcome.kind = block.empty() ? Outcome::Kind::Silence : KindOf(reading);
    outcome.block = std::move(block);
    outcome.reading = std::move(reading);
    return outcome;
}

std::string_view OutcomeText(Outcome::Kind kind) {
    switch (kind) {
    case Outcome::Kind::Whole:
        return "good";
    case Outcome::Kind::Refused:
        return "refused";
    case Outcome::Kind::Cut:
        return "cut short";
    case Outcome::Kind::Damaged:
        return "CRC or check byte wrong";
    case Outcome::Kind::Unexpected:
        return "not its reply";
    case Outcome::Kind::Silence:
        return "no reply";
    case Outcome::Kind::LineLost:
        return "line lost";
    case Outcome::Kind::NotSent:
        return "not sent";
    case Outcome::Kind::Interrupted:
        return "interrupted";
    }
    return "no reply";
}

std::string FrameText(std::string_view frame) {
    const bool printable =
        std::all_of(frame.begin(), frame.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    return printable ? std::string(frame) : traffic::HexText(frame);
}

Outcome Silence() {
    return Outcome{};
}

namespace {

// An outcome that ends with no reply read, for the reason given.
Outcome unanswered(Outcome::Kind kind, std::string reason, bool sent) {
    Outcome outcome;
    outcome.kind = kind;
    outcome.reason = std::move(reason);
    outcome.sent = sent;
    return outcome;
}

} // namespace

Outcome LineLost(std::string reason, bool sent) {
    return unanswered(Outcome::Kind::LineLost, std::move(reason), sent);
}

Outcome NotSent(std::string reason) {
    return unanswered(Outcome::Kind::NotSent, std::move(reason), false);
}

Outcome Interrupted(std::string reason, bool sent) {
    return unanswered(Outcome::Kind::Interrupted, std::move(reason), sent);
}

std::string Stop::sentence() const {
    std::string out = text;
    for (std::size_t i = 0; i < notReached.size(); ++i) {
        out += (i == 0 ? "; not reached: " : ", ") + notReached[i];
    }
    return out;
}

Stop StopOf(const Request& request, const Outcome& outcome, std::vector<std::string> notReached) {
    Stop stop{outcome.kind, request, {}, std::move(notReached)};
    const auto with = [](std::string text, const std::string& more) {
        return more.empty() ? text : text + " " + more;
    };
    switch (outcome.kind) {
    case Outcome::Kind::Silence:
        stop.text = with("no reply to " + request.what, outcome.reason);
        if (request.hart()) {
            // The converter passes nothing on in its other modes: silence is the first sign of it.
            stop.text += "; the converter passes HART frames to the instrument only in transparent mode";
        }
        break;
    case Outcome::Kind::LineLost:
        stop.text = (outcome.sent ? "no reply to " : "not sent: ") + request.what + ": " + outcome.reason;
        break;
    case Outcome::Kind::NotSent:
        stop.text =
            with("not sent: " + request.what, outcome.reason.empty() ? "" : "(" + outcome.reason + ")");
        break;
    case Outcome::Kind::Interrupted:
        stop.text = request.what + ": " + outcome.reason;
        break;
    case Outcome::Kind::Whole:
        stop.text = request.what + ": " + outcome.reading.meaning;
        break;
    case Outcome::Kind::Refused:
    case Outcome::Kind::Cut:
    case Outcome::Kind::Damaged:
    case Outcome::Kind::Unexpected:
        stop.text = "no good reply to " + request.what + " (" +
                    std::string(traffic::VerdictText(outcome.reading.verdict)) +
                    "): " + outcome.reading.meaning;
        break;
    }
    return stop;
}

} // namespace jobs
