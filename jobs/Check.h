// The check of the mapping: the instrument's replies to the read meter commands the converter polls,
// registers 40003-40018, and the replies again, each variable's register against what its reply makes
// of it. In another working mode than transparent it switches the mode for the HART reads when told
// to, and then always asks to put the mode back: after a fault, a lost reply, or cancel.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "jobs/ReadMapping.h"

namespace jobs {

struct CheckOptions {
    std::string preambles = "5";
    double tolerance = 0.5;  // percent
    bool switchMode = false; // switch to transparent mode for the check, and back
};

struct CheckResult {
    enum class End {
        Checked,       // the rows are there
        NothingPolled, // the converter polls no read meter command: its registers hold nothing of it
        WrongMode,     // in another mode, and not told to switch: nothing was sent
        NoMapping,     // the configuration could not be read
        Stopped,       // the line lost, cancelled, or the mode switch not taken
    };
    End end = End::Checked;
    MappingResult mapping;
    std::vector<int> commands; // the read meter commands read, 1 and/or 2
    std::array<profile::CommandReads, 2> reads;
    // The registers' read: what came of it when it was no whole reply (its rows are then NO VALUE).
    std::optional<Stop> registers;
    // No read meter command got any reply: the instrument (or transparent mode) is silent.
    bool hartSilent = false;
    std::vector<profile::CheckRow> rows;
    // The mode: switched for the check, then put back or perhaps left in transparent mode.
    bool switched = false;
    bool leftSwitched = false;
    std::vector<std::string> notes; // "working mode: QQS#MD:1# -> put back to single-meter", ...
    std::optional<Stop> stop;

    int failures() const; // rows whose verdict is a failure (DIFFERS, NOT A FIELD, NO VALUE)
    int checked() const;  // rows of polled variables
    // "every polled variable holds what the instrument's replies make of it", "1 variable differs", ...
    std::string summary() const;
};

class CheckJob : public Script {
public:
    explicit CheckJob(CheckOptions options) : options_(std::move(options)) {}
    const CheckResult& result() const { return result_; }

private:
    Body run() override;
    // What came of read meter command `command`'s request; false when the job cannot go on.
    bool heardHart(int command, bool after, const Request& request, const Outcome& outcome);
    CheckOptions options_;
    CheckResult result_;
};

} // namespace jobs
