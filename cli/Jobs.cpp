// Stepping a job over vx538's line.
#include "cli/Jobs.h"

#include <optional>

#include "jobs/LoopCheck.h"

namespace cli {

jobs::Outcome Ask(Session& session, const jobs::Request& request) {
    if (request.line) {
        if (const auto parity = ParityNamed(request.line->parity)) {
            session.line().setLine(request.line->baud, *parity);
        }
    }
    return OutcomeOf(session, session.exchange(request.frame, request.pending, request.query, request.what,
                                               request.restores));
}

jobs::Outcome OutcomeOf(const Session& session, const Answer& answer) {
    switch (answer.reply.end) {
    case ReplyEnd::Interrupted:
        return jobs::Interrupted("interrupted", answer.reply.written);
    case ReplyEnd::NoReply: {
        jobs::Outcome silence = jobs::Silence();
        silence.reason = session.silenceWords(answer);
        return silence;
    }
    case ReplyEnd::Lost: {
        if (answer.reply.bytes.empty()) {
            return jobs::LineLost(session.lostWords(), answer.reply.written);
        }
        jobs::Outcome outcome = jobs::ReceivedOutcome(answer.reply.bytes, answer.reading);
        if (!outcome.whole()) {
            // What came before the line went is kept, but the line is gone: nothing more will come.
            outcome.kind = jobs::Outcome::Kind::LineLost;
            outcome.reason = session.lostWords();
        }
        return outcome;
    }
    case ReplyEnd::Complete:
    case ReplyEnd::Quiet:
        break;
    }
    return jobs::ReceivedOutcome(answer.reply.bytes, answer.reading);
}

void RunJob(Session& session, jobs::Job& job, const ReadingSource& readings) {
    // After Ctrl+C every wait on the shared stop event ends at once: what must be put back goes over a
    // line of its own.
    std::optional<serial::EventFd> ownStop;
    std::unique_ptr<Session> own;
    // A traffic log that can no longer be written ends the job, but what it must put back still goes
    // out; the failure is raised once the job has done so.
    std::optional<Failure> logFailed;
    while (const std::optional<jobs::Request> request = job.next()) {
        if (request->loopReading || request->meterLeads) {
            job.take(readings ? readings(*request) : jobs::NoReading("no way to read the loop current"));
            continue;
        }
        if (logFailed && !request->restores) {
            job.take(jobs::NotSent(logFailed->what()));
            continue;
        }
        jobs::Outcome outcome;
        try {
            outcome = Ask(own ? *own : session, *request);
        } catch (const Failure& failure) {
            if (failure.code() != code::BadFile || logFailed) {
                throw;
            }
            logFailed = failure;
            job.take(jobs::NotSent(failure.what()));
            job.cancel();
            continue;
        }
        if (outcome.kind == jobs::Outcome::Kind::Interrupted && request->restores && !own) {
            session.line().close();
            ownStop.emplace();
            ownStop->create();
            own = session.detached(*ownStop);
            try {
                own->open();
                outcome = Ask(*own, *request);
            } catch (const Failure& failure) {
                outcome = jobs::NotSent(failure.what());
            }
        }
        job.take(outcome);
    }
    if (logFailed) {
        throw *logFailed;
    }
}

int ExitOf(const jobs::Stop& stop) {
    using Kind = jobs::Outcome::Kind;
    switch (stop.kind) {
    case Kind::Interrupted:
        return code::Interrupted;
    case Kind::LineLost:
    case Kind::NotSent:
        return code::NoReply;
    case Kind::Silence:
        return stop.request.hart() ? code::HartSilent : code::NoReply;
    case Kind::Refused:
    case Kind::Damaged:
        return stop.request.modbus() ? code::ModbusFault : code::Unexpected;
    case Kind::Cut:
    case Kind::Unexpected:
        // A set command answered by something not its own: its answer never came.
        return stop.request.pending == traffic::pending::SetCommand ? code::NoReply : code::Unexpected;
    case Kind::Whole:
        break;
    }
    return code::Unexpected;
}

void Fail(const jobs::Stop& stop) {
    throw Failure(ExitOf(stop), stop.sentence());
}

} // namespace cli
