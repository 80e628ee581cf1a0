// An inspection in one run: the converter's identity and configuration as found, the instrument's
// identity (HART command 0) and the mapping check in transparent mode (switched to and put back when
// the converter is in another), the loop check where asked, and the configuration read again as left.
// Paused between as found and as left, the same run goes without its last read; the report's parts
// are made from the results here, so both front ends write the same report.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "inspection/ChangeLog.h"
#include "inspection/Report.h"
#include "jobs/Check.h"
#include "jobs/Instrument.h"
#include "jobs/LoopCheck.h"

namespace jobs {

struct InspectionOptions {
    bool readAsLeft = true; // read the configuration again at the end (no: an inspection paused as found)
    bool loopCheck = false;
    LoopCheckOptions loop;
    CheckOptions check;       // its switchMode is the inspection's own
    IdentityOptions identity; // command 0 only
};

struct InspectionResult {
    ReadResult found;              // the communication query and every configuration query
    bool hartSwitched = false;     // to transparent mode for the instrument's parts
    bool hartLeftSwitched = false; // ... and perhaps still there
    std::optional<IdentityResult> identity;
    std::optional<CheckResult> check;
    std::optional<LoopCheckResult> loop;
    std::optional<ReadResult> left;
    std::vector<std::string> notes;
    std::optional<Stop> stop; // what ended it before its last part

    // The configuration as the configuration file has it (format vx538-configuration).
    static inspection::Json Configuration(const ReadResult& read, const std::string& port,
                                          const std::string& writtenBy, int64_t dateMs);
};

class InspectionJob : public Script {
public:
    explicit InspectionJob(InspectionOptions options) : options_(std::move(options)) {}
    const InspectionResult& result() const { return result_; }

private:
    Body run() override;
    InspectionOptions options_;
    InspectionResult result_;
};

// The report's parts, from the jobs' results.
inspection::Json CheckJson(const CheckResult& check);
// `readings`: "meter", "file" or "typed"; `meter` the meter's *IDN? reply.
inspection::Json LoopCheckJson(const LoopCheckResult& loop, const std::string& readings,
                               const std::string& meter);
inspection::Json InstrumentJson(const IdentityResult& identity, const IdentityOptions& options);
inspection::Json ChangesJson(const std::vector<inspection::Change>& changes);

// What the report says of who, where and when, besides the jobs' results.
struct ReportFacts {
    std::string writtenBy;
    std::string inspector;
    std::string port;
    int64_t startedMs = 0;
    int64_t finishedMs = 0;
    std::string readings; // of a loop check
    std::string meter;
    double checkTolerance = CheckOptions{}.tolerance;
    bool paused = false; // the run stops after as found; an as-left run finishes it later
};
// The report of a run: complete, or as found when the run was paused there (no as left).
inspection::Json InspectionReport(const InspectionResult& result, const ReportFacts& facts,
                                  const std::vector<inspection::Change>& changes);
// The report of a paused inspection finished: `found` (a report as found) with this run's results as
// as left, the differences and the changes made meanwhile. ReportError when `found` is no report as found.
inspection::Json FinishedReport(inspection::Json found, const InspectionResult& left,
                                const ReportFacts& facts, const std::vector<inspection::Change>& changes);

} // namespace jobs
