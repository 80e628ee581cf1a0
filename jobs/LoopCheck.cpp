// The loop check: plan each output's points from its range, drive them in test current output mode,
// judge each reading, and put the test values and the working mode back.
#include "jobs/LoopCheck.h"

#include <algorithm>
#include <charconv>

#include "config/TextCommands.h"
#include "inspection/Readings.h"
#include "jobs/ReadMapping.h"
#include "profile/Parameters.h"

namespace jobs {

namespace {

// A converter silent for a moment still gets the mode back; a test value matters less than the mode,
// so its tries are fewer, which keeps a converter gone for good from holding the run long.
constexpr int kModeAttempts = 5;
constexpr int kTestValueAttempts = 2;

const std::optional<std::string>& valueOf(const ReadResult& read, const std::string& name) {
    return read.values.value(name);
}

Request testRequest(int output, const std::string& value, bool restores, std::string what) {
    Request request;
    request.frame = config::outputTestFrame(output, value);
    request.pending = traffic::pending::SetCommand;
    request.what = std::move(what);
    request.restores = restores;
    return request;
}

std::string pointWords(double ma) {
    return inspection::TestValueText(ma) + " mA";
}

} // namespace

std::string OutputName(int output) {
    return "DOUTA" + std::to_string(output);
}

Outcome ReadingOutcome(double ma) {
    Outcome outcome;
    outcome.kind = Outcome::Kind::Whole;
    // The shortest text that reads back as the very number: the block is read back as the reading.
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, ma);
    outcome.block.assign(text, written.ptr);
    return outcome;
}

Outcome NoReading(std::string why) {
    Outcome outcome;
    outcome.kind = Outcome::Kind::Unexpected;
    outcome.reason = std::move(why);
    return outcome;
}

std::vector<std::string> PointCells(int output, const inspection::PointResult& p) {
    std::string verdict(inspection::VerdictText(p.verdict));
    if (!p.note.empty()) {
        verdict += " (" + p.note + ")";
    }
    return {OutputName(output),
            inspection::MaText(p.pointMa),
            p.testValue,
            p.testValue.empty() ? "-" : inspection::MaText(p.expectedMa),
            p.readingMa ? inspection::MaText(*p.readingMa) : "-",
            p.errorPercent ? inspection::PercentText(*p.errorPercent) : "-",
            verdict};
}

std::string OutputLine(const LoopOutput& o) {
    return OutputName(o.output) + " (variable " + o.variable.value_or("?") + ", " + o.at4mA.value_or("?") +
           " at 4 mA, " + o.at20mA.value_or("?") +
           " at 20 mA): " + std::string(inspection::VerdictText(o.verdict)) +
           (o.note.empty() ? "" : " (" + o.note + ")");
}

std::string ReadingPrompt(const Request::LoopReading& r) {
    return OutputName(r.output) + " at " + pointWords(r.pointMa) + " (test value " + r.testValue +
           ", expect " + inspection::MaText(r.expectedMa) + " mA)";
}

Outcome MeterOutcome(std::string_view reply) {
    const inspection::MeterReading reading = inspection::ReadMeterReply(reply);
    return reading.ma ? ReadingOutcome(*reading.ma) : NoReading(reading.problem);
}

Outcome MeterSilent(int timeoutMs) {
    return NoReading("the meter did not answer within " + std::to_string(timeoutMs) + " ms");
}

Outcome MeterLost() {
    return NoReading("the meter's line was lost");
}

int LoopCheckResult::failures() const {
    int n = 0;
    for (const LoopOutput& o : outputs) {
        n += static_cast<int>(
            std::count_if(o.points.begin(), o.points.end(), [](const inspection::PointResult& p) {
                return p.verdict == inspection::Verdict::Fail;
            }));
    }
    return n;
}

inspection::Verdict LoopCheckResult::verdict() const {
    using inspection::Verdict;
    if (failures() > 0) {
        return Verdict::Fail;
    }
    const bool anyPass = std::any_of(outputs.begin(), outputs.end(),
                                     [](const LoopOutput& o) { return o.verdict == Verdict::Pass; });
    return end == End::Checked && anyPass && !leftSwitched ? Verdict::Pass : Verdict::NotChecked;
}

std::string LoopCheckResult::summary() const {
    const std::string within = inspection::TestValueText(tolerance) + " % of span";
    switch (end) {
    case End::NoConfiguration:
        return "the outputs' configuration cannot be read: " +
               (stop ? stop->sentence() : std::string("no reply"));
    case End::NothingToCheck:
        return "no chosen output has a point that can be driven";
    case End::Stopped:
        return "stopped: " + (stop ? stop->sentence() : std::string("cancelled"));
    case End::Checked:
        break;
    }
    const int n = failures();
    if (n > 0) {
        return std::to_string(n) + (n == 1 ? " point" : " points") + " outside " + within;
    }
    if (verdict() == inspection::Verdict::Pass) {
        return "every checked point within " + within;
    }
    return leftSwitched ? "the working mode may not be back" : "no point could be checked";
}

Script::Body PutBackJob::run() {
    bool lineGone = false;
    for (const Request& request : requests_) {
        bool back = false;
        for (int attempt = 0; attempt < attempts_ && !back && !lineGone; ++attempt) {
            const Outcome outcome = co_await ask(request);
            back = outcome.whole();
            lineGone = outcome.kind == Outcome::Kind::LineLost || outcome.kind == Outcome::Kind::NotSent;
        }
        (back ? done_ : failed_).push_back(request);
    }
}

Script::Body LoopCheckJob::run() {
    using End = LoopCheckResult::End;
    using inspection::Verdict;
    result_.tolerance = options_.tolerance;
    ReadAllJob read({{profile::Query::QX1, profile::Query::QX2, profile::Query::QX6}});
    co_await drive(read);
    result_.read = read.result();
    const ReadResult& found = result_.read;
    const auto& mode = valueOf(found, "mode");
    if (found.stop || !mode) {
        result_.end = End::NoConfiguration;
        result_.stop = found.stop;
        co_return;
    }
    result_.mode = profile::ChoiceIndex(profile::Parameters()[profile::ParameterIndex("mode")], *mode);
    const std::string totalizer = valueOf(found, "totalizer.variable").value_or("0");

    // The outputs chosen, each with its points planned from its range.
    std::vector<int> chosen = options_.outputs;
    if (chosen.empty()) {
        for (int o = 0; o < 8; ++o) {
            const auto& variable = valueOf(found, "ao" + std::to_string(o) + ".variable");
            if (variable && *variable != "0" && !(totalizer != "0" && o >= 4)) {
                chosen.push_back(o);
            }
        }
    }
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    std::vector<std::vector<inspection::PlannedPoint>> plans;
    bool anyDrivable = false;
    for (const int o : chosen) {
        const std::string row = "ao" + std::to_string(o);
        LoopOutput out;
        out.output = o;
        out.variable = valueOf(found, row + ".variable");
        out.at4mA = valueOf(found, row + ".4ma");
        out.at20mA = valueOf(found, row + ".20ma");
        std::vector<inspection::PlannedPoint> plan;
        if (totalizer != "0" && o >= 4) {
            out.note = "DOUTA4 to DOUTA7 serve the totalizer output (variable " + totalizer + ")";
        } else if (!out.at4mA || !out.at20mA) {
            out.note = "its range could not be read";
        } else {
            plan = inspection::PlanPoints({inspection::ReadNumber(*out.at4mA).value_or(0),
                                           inspection::ReadNumber(*out.at20mA).value_or(0)},
                                          options_.points);
            anyDrivable = anyDrivable || std::any_of(plan.begin(), plan.end(),
                                                     [](const auto& p) { return p.notChecked.empty(); });
        }
        result_.outputs.push_back(std::move(out));
        plans.push_back(std::move(plan));
    }
    if (!anyDrivable) {
        for (std::size_t i = 0; i < plans.size(); ++i) {
            LoopOutput& out = result_.outputs[i];
            for (const auto& p : plans[i]) {
                out.points.push_back(inspection::Judge(p, std::nullopt, options_.tolerance));
            }
            if (out.note.empty() && !out.points.empty()) {
                out.note = out.points.front().note;
            }
        }
        result_.end = End::NothingToCheck;
        co_return;
    }

    bool going = true;
    const int original = result_.mode.value_or(kTestOutputMode);
    if (original != kTestOutputMode) {
        // Asked once: even unanswered it may have been taken, so the mode goes back below all the same.
        result_.switched = true;
        const Request request = ModeRequest(kTestOutputMode, false);
        const Outcome outcome = co_await ask(request);
        if (!outcome.whole()) {
            result_.stop = StopOf(request, outcome, {"every output's points"});
            going = false;
        }
    }

    std::vector<int> driven;
    // A bench meter reads one loop: with more than one output its leads move before each.
    const bool moveLeads =
        std::count_if(plans.begin(), plans.end(), [](const auto& plan) {
            return std::any_of(plan.begin(), plan.end(), [](const auto& p) { return p.notChecked.empty(); });
        }) > 1;
    for (std::size_t i = 0; i < plans.size(); ++i) {
        LoopOutput& out = result_.outputs[i];
        bool ledTo = !moveLeads;
        for (const inspection::PlannedPoint& p : plans[i]) {
            if (!going) {
                out.points.push_back(inspection::Judge(p, std::nullopt, options_.tolerance, "not reached"));
                continue;
            }
            if (!p.notChecked.empty()) {
                out.points.push_back(inspection::Judge(p, std::nullopt, options_.tolerance));
                continue;
            }
            if (!ledTo) {
                ledTo = true;
                Request leads;
                leads.meterLeads = out.output;
                leads.what = "the meter's leads to " + OutputName(out.output) + "'s loop";
                const Outcome moved = co_await ask(leads);
                if (moved.kind == Outcome::Kind::Interrupted) {
                    result_.stop = StopOf(leads, moved, {"the points after it"});
                    out.points.push_back(inspection::Judge(p, std::nullopt, options_.tolerance, "stopped"));
                    going = false;
                    continue;
                }
            }
            const Request drive =
                testRequest(out.output, p.testValue, false,
                            "the output test of " + OutputName(out.output) + " at " + pointWords(p.pointMa) +
                                " (test value " + p.testValue + ")");
            const Outcome driveOutcome = co_await ask(drive);
            if (driveOutcome.sent && std::find(driven.begin(), driven.end(), out.output) == driven.end()) {
                driven.push_back(out.output);
            }
            if (driveOutcome.kind == Outcome::Kind::Refused) {
                out.points.push_back(
                    inspection::Judge(p, std::nullopt, options_.tolerance,
                                      "the converter refused the test value " + p.testValue));
                continue;
            }
            if (!driveOutcome.whole()) {
                result_.stop = StopOf(drive, driveOutcome, {"the points after it"});
                out.points.push_back(inspection::Judge(p, std::nullopt, options_.tolerance,
                                                       std::string(OutcomeText(driveOutcome.kind))));
                going = false;
                continue;
            }
            Request reading;
            reading.frame = "MEAS:CURR:DC?\n";
            reading.what = "the loop current of " + OutputName(out.output) + " at " + pointWords(p.pointMa);
            reading.loopReading = Request::LoopReading{out.output, p.pointMa, p.testValue, p.expectedMa};
            const Outcome got = co_await ask(reading);
            if (got.kind == Outcome::Kind::Interrupted) {
                result_.stop = StopOf(reading, got, {"the points after it"});
                out.points.push_back(inspection::Judge(p, std::nullopt, options_.tolerance, "stopped"));
                going = false;
                continue;
            }
            const std::optional<double> ma = got.whole() ? inspection::ReadNumber(got.block) : std::nullopt;
            std::string why = got.reason.empty() ? std::string(OutcomeText(got.kind)) : got.reason;
            if (got.whole() && !ma) {
                why = "'" + got.block + "' is no reading in mA";
            }
            out.points.push_back(inspection::Judge(p, ma, options_.tolerance, why));
        }
        out.verdict = inspection::OutputVerdict(out.points);
        if (!going && out.verdict == Verdict::Pass) {
            // Its points that passed do not make an output checked that the stop cut short.
            out.verdict = Verdict::NotChecked;
            out.note = "stopped before its last points";
        }
        if (out.verdict == Verdict::NotChecked && out.note.empty() && !out.points.empty()) {
            out.note = out.points.front().note;
        }
    }

    // What the tests changed goes back: each driven output's test value, then the working mode.
    std::vector<Request> testValues;
    for (const int o : driven) {
        const auto& value = valueOf(found, "test.ao" + std::to_string(o));
        if (value) {
            testValues.push_back(
                testRequest(o, *value, true, "the test value of " + OutputName(o) + " back to " + *value));
        } else {
            result_.notes.push_back("the test value of " + OutputName(o) +
                                    " was not read, so it stays as the check left it");
        }
    }
    PutBackJob values(testValues, kTestValueAttempts);
    co_await drive(values);
    for (const Request& r : values.done()) {
        result_.notes.push_back(r.what);
    }
    for (const Request& r : values.failed()) {
        result_.notes.push_back("not put back: " + r.what);
    }
    if (result_.switched) {
        const Request back = ModeRequest(original, true);
        PutBackJob mode({back}, kModeAttempts);
        co_await drive(mode);
        if (mode.done().empty()) {
            result_.leftSwitched = true;
            result_.notes.push_back(
                "the converter may still be in test current output mode: set its working mode back to " +
                ModeName(original));
        } else {
            result_.notes.push_back("working mode: " + back.frame + " -> put back to " + ModeName(original));
        }
    }
    result_.end = going ? End::Checked : End::Stopped;
}

} // namespace jobs
