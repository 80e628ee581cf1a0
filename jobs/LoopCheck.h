// The loop check of the analog outputs: each chosen output driven through its output test to the test
// values that ask for the chosen currents by its range, the loop current read at each point (from a
// meter, a file or the person) and judged against the tolerance. The test needs "Test current output
// mode": the job switches to it and always asks to put back the working mode and each driven output's
// test value, after a fault, silence or cancel too.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inspection/Currents.h"
#include "jobs/Read.h"

namespace jobs {

// The working mode in which the output tests drive the outputs.
inline constexpr int kTestOutputMode = 2;

struct LoopCheckOptions {
    std::vector<int> outputs; // 0..7; none: every output mapped to a variable
    std::vector<double> points = inspection::kDefaultPoints;
    double tolerance = inspection::kDefaultTolerance; // percent of span
};

struct LoopOutput {
    int output = 0;
    std::optional<std::string> variable; // "0" for closed, as read
    std::optional<std::string> at4mA;    // the range as read (canonical text)
    std::optional<std::string> at20mA;
    std::vector<inspection::PointResult> points;
    inspection::Verdict verdict = inspection::Verdict::NotChecked;
    std::string note; // why it was not checked as a whole
};

struct LoopCheckResult {
    enum class End {
        Checked,         // every chosen output went through its points (some may not be checked)
        NoConfiguration, // the outputs' configuration could not be read: nothing driven
        NothingToCheck,  // no chosen output has a point that can be driven: nothing driven
        Stopped,         // the converter stopped answering, the line was lost, or cancelled
    };
    End end = End::Checked;
    double tolerance = inspection::kDefaultTolerance;
    ReadResult read;                 // the system parameters, outputs and test values as found
    std::optional<int> mode;         // the working mode found
    bool switched = false;           // to test current output mode
    bool leftSwitched = false;       // ... and perhaps still there
    std::vector<LoopOutput> outputs; // the chosen ones, in output order
    std::vector<std::string> notes;  // what was put back
    std::optional<Stop> stop;

    int failures() const; // points that failed
    inspection::Verdict verdict() const;
    // "every checked point within 0.25 % of span", "3 points outside 0.25 % of span", ...
    std::string summary() const;
};

class LoopCheckJob : public Script {
public:
    explicit LoopCheckJob(LoopCheckOptions options) : options_(std::move(options)) {}
    const LoopCheckResult& result() const { return result_; }

private:
    Body run() override;
    LoopCheckOptions options_;
    LoopCheckResult result_;
};

// Requests that put something back, each asked up to `attempts` times until it is acknowledged (a
// converter silent for a moment still gets it); a lost line ends the trying. They go out after cancel.
class PutBackJob : public Script {
public:
    PutBackJob(std::vector<Request> requests, int attempts)
        : requests_(std::move(requests)), attempts_(attempts) {}
    // The requests acknowledged, in order; those not are missing.
    const std::vector<Request>& done() const { return done_; }
    const std::vector<Request>& failed() const { return failed_; }

private:
    Body run() override;
    std::vector<Request> requests_;
    int attempts_;
    std::vector<Request> done_;
    std::vector<Request> failed_;
};

// The outcome of a loop reading as a front end gives it: a reading in mA, or why there is none.
Outcome ReadingOutcome(double ma);
Outcome NoReading(std::string why);

// "DOUTA3".
std::string OutputName(int output);

// How both front ends show a loop check: the table's headings, a point's cells under them (its note in
// brackets after the verdict) and an output's line with its range and verdict.
inline constexpr const char* kLoopHeadings[] = {"output",     "point mA",     "test value", "expected mA",
                                                "reading mA", "error % span", "verdict"};
std::vector<std::string> PointCells(int output, const inspection::PointResult& point);
// "DOUTA3 (variable 2, 0 at 4 mA, 100 at 20 mA): FAIL".
std::string OutputLine(const LoopOutput& output);
// What a person reading the loop current is asked: "DOUTA3 at 12 mA (test value 50, expect 12.000 mA)".
std::string ReadingPrompt(const Request::LoopReading& reading);

// A bench meter's reply to MEAS:CURR:DC? as a reading, or why it is none; and why there was no reply.
Outcome MeterOutcome(std::string_view reply);
Outcome MeterSilent(int timeoutMs);
Outcome MeterLost();

} // namespace jobs
