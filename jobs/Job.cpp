// Outcomes of a job's requests, from the interpreter's reading of what arrived.
#include "jobs/Job.h"

namespace jobs {

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

} // namespace jobs
