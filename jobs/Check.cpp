// The check of the mapping, with the working mode switched and put back when asked.
#include "jobs/Check.h"

#include "jobs/LivePoll.h"

#include <algorithm>

#include "profile/Samples.h"
#include "tools/Bytes.h"

namespace jobs {

namespace {

// A request whose outcome ends the job rather than marking what it would have filled.
bool endsTheJob(const Outcome& outcome) {
    return outcome.kind == Outcome::Kind::LineLost || outcome.kind == Outcome::Kind::NotSent ||
           outcome.kind == Outcome::Kind::Interrupted;
}

// How many times the mode is asked back: a converter silent for a moment still gets it.
constexpr int kPutBackAttempts = 5;

const char* const kStages[] = {"the instrument's replies", "registers 40003-40018",
                               "the instrument's replies again"};

} // namespace

int CheckResult::failures() const {
    return static_cast<int>(std::count_if(
        rows.begin(), rows.end(), [](const profile::CheckRow& r) { return profile::IsFailure(r.verdict); }));
}

int CheckResult::checked() const {
    return static_cast<int>(std::count_if(rows.begin(), rows.end(), [](const profile::CheckRow& r) {
        return r.verdict != profile::CheckVerdict::NotPolled;
    }));
}

std::string CheckResult::summary() const {
    switch (end) {
    case End::NothingPolled:
        return "the converter polls no read meter command: its registers hold nothing of the instrument";
    case End::WrongMode:
        return "the HART reads need the converter in transparent mode, and it is in " +
               ModeName(mapping.mode.value_or(-1));
    case End::NoMapping:
        return "the converter's configuration cannot be read: " + mapping.problemText();
    case End::Stopped:
        return stop ? stop->sentence() : std::string("stopped");
    case End::Checked:
        break;
    }
    const int n = failures();
    if (n == 0) {
        return "every polled variable holds what the instrument's replies make of it";
    }
    return std::to_string(n) + (n == 1 ? " variable differs" : " variables differ");
}

bool CheckJob::heardHart(int command, bool after, const Request& request, const Outcome& outcome) {
    profile::CommandReads& read = result_.reads[static_cast<std::size_t>(command - 1)];
    if (endsTheJob(outcome)) {
        std::vector<std::string> notReached;
        for (std::size_t i = after ? 2 : 0; i < std::size(kStages); ++i) {
            notReached.emplace_back(kStages[i]);
        }
        result_.stop = StopOf(request, outcome, std::move(notReached));
        return false;
    }
    if (outcome.whole()) {
        (after ? read.after : read.before) = profile::ReadHartReply(tools::bytesOf(outcome.frame()));
    } else if (!after) {
        // A reply that was not whole gives no value: its rows say why, silence or damage alike.
        read.problem = outcome.kind == Outcome::Kind::Silence
                           ? "the instrument did not answer read meter command " + std::to_string(command)
                           : "no good reply to read meter command " + std::to_string(command) + " (" +
                                 std::string(OutcomeText(outcome.kind)) + "): " + outcome.reading.meaning;
    }
    return true;
}

Script::Body CheckJob::run() {
    using End = CheckResult::End;
    ReadMappingJob read;
    co_await drive(read);
    const MappingResult& m = result_.mapping;
    if (!read.took(result_.mapping, result_.stop) || !m.mode) {
        result_.end = End::NoMapping;
        co_return;
    }
    const profile::Mapping& mapping = *m.mapping;
    for (int c = 1; c <= 2; ++c) {
        if (mapping.polls(c)) {
            result_.commands.push_back(c);
        }
    }
    if (result_.commands.empty()) {
        result_.end = End::NothingPolled;
        co_return;
    }
    const int original = *m.mode;
    if (original != kTransparentMode && !options_.switchMode) {
        result_.end = End::WrongMode;
        co_return;
    }

    bool going = true;
    if (original != kTransparentMode) {
        // Asked once: even without an answer the converter may have taken it, so it goes back below.
        result_.switched = true;
        const Request request = ModeRequest(kTransparentMode, false);
        const Outcome outcome = co_await ask(request);
        if (!outcome.whole()) {
            result_.stop = StopOf(request, outcome, {kStages[0], kStages[1], kStages[2]});
            going = false;
        }
    }
    const auto body = [&](int c) { return mapping.commands[static_cast<std::size_t>(c - 1)].body; };
    for (std::size_t i = 0; going && i < result_.commands.size(); ++i) {
        const int c = result_.commands[i];
        const Request request =
            HartBodyRequest(body(c), options_.preambles, "read meter command " + std::to_string(c));
        const Outcome outcome = co_await ask(request);
        going = heardHart(c, false, request, outcome);
        result_.hartSilent = (i == 0 || result_.hartSilent) && outcome.kind == Outcome::Kind::Silence;
    }
    std::vector<uint16_t> registers;
    if (going) {
        const Request request = RegistersRequest(mapping.slaveAddress);
        const Outcome outcome = co_await ask(request);
        const auto placed = tools::bytesOf(outcome.frame());
        const auto read =
            outcome.whole() ? profile::RegistersOfReply(placed, tools::bytesOf(request.frame)) : std::nullopt;
        if (read) {
            registers = *read;
        } else if (endsTheJob(outcome)) {
            result_.stop = StopOf(request, outcome, {kStages[1], kStages[2]});
            going = false;
        } else {
            result_.registers = StopOf(request, outcome);
        }
    }
    for (std::size_t i = 0; going && i < result_.commands.size(); ++i) {
        const int c = result_.commands[i];
        const Request request =
            HartBodyRequest(body(c), options_.preambles, "read meter command " + std::to_string(c));
        going = heardHart(c, true, request, co_await ask(request));
    }

    if (result_.switched) {
        bool back = false;
        for (int attempt = 0; attempt < kPutBackAttempts && !back; ++attempt) {
            const Request request = ModeRequest(original, true);
            const Outcome outcome = co_await ask(request);
            back = outcome.whole();
            if (back) {
                result_.notes.push_back("working mode: " + request.frame + " -> put back to " +
                                        ModeName(original));
            } else if (outcome.kind == Outcome::Kind::LineLost || outcome.kind == Outcome::Kind::NotSent) {
                break; // nothing more will reach it
            }
        }
        if (!back) {
            result_.leftSwitched = true;
            result_.notes.push_back(
                "the converter may still be in transparent mode: set its working mode back to " +
                ModeName(original));
        }
    }
    if (!going) {
        result_.end = End::Stopped;
        co_return;
    }
    result_.rows = profile::CheckMapping(mapping, result_.reads, registers, profile::kFirstVariableRegister,
                                         options_.tolerance);
    if (result_.registers) {
        for (profile::CheckRow& row : result_.rows) {
            if (row.verdict == profile::CheckVerdict::NoValue && row.hartBefore && !row.modbus) {
                row.note = "registers not read: " + result_.registers->text;
            }
        }
    }
    if (result_.leftSwitched) {
        Stop stop;
        stop.kind = Outcome::Kind::Silence;
        stop.request = ModeRequest(original, true);
        stop.text = "the converter did not take its working mode back";
        result_.stop = std::move(stop);
    }
}

} // namespace jobs
