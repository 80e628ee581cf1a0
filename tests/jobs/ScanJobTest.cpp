// The instrument scan against the simulated converter, a fault at a chosen request per row: what it
// finds, how it names the addresses that answered badly, and what it did not reach.
#include <gtest/gtest.h>

#include "jobs/Scan.h"
#include "tests/jobs/ModelLine.h"

namespace {

using jobs::Outcome;
using jobstest::Fault;
using Kind = Outcome::Kind;

TEST(ScanJob, FindsNamesAndStopsAsTheLineAnswers) {
    // clang-format off
    struct Row {
        const char* what;
        int instrumentAt;
        int last;
        bool firstOnly;
        std::vector<std::pair<int, Fault>> faults;
        int cancelAfter;
        int requests;                               // sent, counting one asked again
        std::vector<std::pair<int, Kind>> answers;  // address, kind
        std::optional<Kind> stop;
        const char* says; // in the summary, or the stop's sentence
    } rows[] = {
        {"found at the first address, first only", 0, 15, true, {}, 0, 1, {{0, Kind::Whole}}, {}, "1 instrument found"},
        {"the last address of the short range", 15, 15, false, {}, 0, 16, {{15, Kind::Whole}}, {}, "1 instrument found"},
        {"the last address of the HART 6 range", 63, 63, true, {}, 0, 64, {{63, Kind::Whole}}, {}, "1 instrument found"},
        {"a wrong check byte is an answer, not silence", 5, 15, false, {{6, Fault::WrongCheck}}, 0, 16,
         {{5, Kind::Damaged}}, {}, "address 5 answered, CRC or check byte wrong"},
        {"a cut reply, and its rest not charged to the next address", 5, 15, false, {{6, Fault::Split}}, 0, 17,
         {{5, Kind::Cut}}, {}, "address 5 answered, cut short"},
        {"a silent instrument", 5, 15, false, {{6, Fault::Silent}}, 0, 16, {}, {},
         "no instrument answered at polling addresses 0 to 15"},
        {"garbage at one address", 0, 15, false, {{3, Fault::Garbage}}, 0, 16, {{0, Kind::Whole}, {2, Kind::Unexpected}}, {},
         "1 instrument found"},
        {"the line lost midway", 9, 15, false, {{3, Fault::LineLost}}, 0, 3, {}, Kind::LineLost,
         "not reached: addresses 3 to 15"},
        {"the line lost after an instrument was found", 0, 15, false, {{2, Fault::LineLost}}, 0, 2,
         {{0, Kind::Whole}}, Kind::LineLost, "not reached: addresses 2 to 15"},
        {"the line lost at the last address", 0, 15, false, {{16, Fault::LineLost}}, 0, 16, {{0, Kind::Whole}},
         Kind::LineLost, "the line to sim0 was lost"},
        {"cancelled", 9, 15, false, {}, 4, 4, {}, Kind::Interrupted, "not reached: addresses 4 to 15"},
        {"a request the port did not take", 9, 15, false, {{2, Fault::NotSent}}, 0, 2, {}, Kind::NotSent,
         "not reached: addresses 1 to 15"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        jobstest::ModelLine line;
        line.model().converter().instrument().setPollingAddress(static_cast<uint8_t>(row.instrumentAt));
        for (const auto& [n, fault] : row.faults) {
            line.fault(n, fault);
        }
        jobs::ScanJob job({.last = row.last, .firstOnly = row.firstOnly});
        EXPECT_EQ(static_cast<int>(line.run(job, row.cancelAfter).size()), row.requests);
        const jobs::ScanResult& result = job.result();
        std::vector<std::pair<int, Kind>> answers;
        for (const jobs::ScanAnswer& a : result.answers) {
            answers.emplace_back(a.address, a.kind);
            EXPECT_EQ(a.identity.has_value(), a.kind == Kind::Whole);
        }
        EXPECT_EQ(answers, row.answers);
        EXPECT_EQ(result.stop ? std::optional(result.stop->kind) : std::nullopt, row.stop);
        const std::string said = result.stop ? result.stop->sentence() : result.summary();
        EXPECT_NE(said.find(row.says), std::string::npos) << said;
    }
}

TEST(ScanJob, TheInstrumentFoundIsTheOneThatAnswered) {
    jobstest::ModelLine line;
    line.model().converter().instrument().setPollingAddress(7);
    jobs::ScanJob job({.firstOnly = true});
    line.run(job);
    ASSERT_EQ(job.result().found(), 1);
    const auto& identity = *job.result().answers[0].identity;
    const auto& model = line.model().converter().instrument().identity();
    EXPECT_EQ(identity.manufacturer, model.manufacturer);
    EXPECT_EQ(identity.deviceType, model.deviceType);
    EXPECT_EQ(identity.deviceIdText, std::to_string(model.deviceId));
}

} // namespace
