// Write All / restore against the simulated converter, a fault at a chosen request per row: the
// account (acknowledged, refused, in flight, not sent), its words, and what the converter holds.
#include <gtest/gtest.h>

#include "jobs/Write.h"
#include "tests/jobs/ModelLine.h"

namespace {

using jobs::WriteResult;
using jobstest::Fault;
using End = WriteResult::End;
using Kind = jobs::Outcome::Kind;

std::vector<std::string> keys(const std::vector<jobs::Account::Command>& commands) {
    std::vector<std::string> out;
    for (const auto& c : commands) {
        out.push_back(c.key);
    }
    return out;
}

// A restore of three values that differ from the factory's: the mode, the interval and the RS485 port,
// sent in that order (the line's own settings last), read first with QX1-QX4, read back with QX1.
jobs::WriteOptions restore() {
    profile::Configuration target;
    target.setTyped("mode", "single-meter");
    target.setTyped("modbus.interval", "20");
    target.setTyped("rs485.baud", "19200");
    target.setTyped("rs485.parity", "none");
    const auto restored = jobs::PresentIn(target);
    return {target,
            jobs::QueriesFor(jobs::AllParameters(true)),
            restored,
            jobs::QueriesFor(restored),
            false,
            false,
            false,
            jobs::Request::LineSettings{9600, "none"},
            "run the same restore again"};
}

// Requests: QX1-QX4 (1-4), MD (5), JTM (6), BA1 (7), QX1 read back (8).
TEST(WriteJob, TheAccountSaysWhatTheConverterTookAndMayHaveTaken) {
    // clang-format off
    struct Row {
        const char* what;
        std::vector<std::pair<int, Fault>> faults;
        int cancelAfter;
        End end;
        std::optional<Kind> stop;
        std::vector<std::string> acknowledged, refused;
        std::optional<std::string> inFlight;
        std::vector<std::string> notSent;
        const char* says; // a line of the account ("" for none)
    } rows[] = {
        {"every one taken", {}, 0, End::Done, {}, {"MD", "JTM", "BA1"}, {}, {}, {}, ""},
        {"the second refused", {{6, Fault::Refusal}}, 0, End::Stopped, Kind::Refused, {"MD"}, {"JTM"}, {}, {"BA1"},
         "the converter is partly configured"},
        {"the first unanswered", {{5, Fault::Silent}}, 0, End::Stopped, Kind::Silence, {}, {}, "MD", {"JTM", "BA1"},
         "the converter may be partly configured"},
        {"the only answer cut short", {{6, Fault::Split}}, 0, End::Stopped, Kind::Cut, {"MD"}, {}, "JTM", {"BA1"},
         "sent without answer (the converter may have taken it): MODBUS command interval (JTM)"},
        {"garbage for an answer", {{5, Fault::Garbage}}, 0, End::Stopped, Kind::Unexpected, {}, {}, "MD",
         {"JTM", "BA1"}, "next: run the same restore again"},
        {"the line setting unanswered", {{7, Fault::Silent}}, 0, End::Stopped, Kind::Silence, {"MD", "JTM"}, {},
         "BA1", {}, "the converter may now run its RS485 port at 19200 baud, parity none"},
        {"the line lost with one in flight", {{6, Fault::LineLost}}, 0, End::Stopped, Kind::LineLost, {"MD"}, {},
         "JTM", {"BA1"}, "the converter is partly configured"},
        {"the port did not take one", {{6, Fault::NotSent}}, 0, End::Stopped, Kind::NotSent, {"MD"}, {}, {},
         {"JTM", "BA1"}, "not sent: MODBUS command interval (JTM), RS485 port (BA1)"},
        {"cancelled after the first", {}, 5, End::Stopped, Kind::Interrupted, {"MD"}, {}, {}, {"JTM", "BA1"},
         "1 of 3 set commands sent and acknowledged"},
        {"the read back unanswered", {{8, Fault::Silent}}, 0, End::Stopped, Kind::Silence, {"MD", "JTM", "BA1"}, {},
         {}, {}, ""},
        {"the first read unanswered: nothing sent", {{2, Fault::Silent}}, 0, End::Stopped, Kind::Silence, {}, {}, {},
         {}, ""},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        jobstest::ModelLine line;
        for (const auto& [n, fault] : row.faults) {
            line.fault(n, fault);
        }
        jobs::WriteJob job(restore());
        line.run(job, row.cancelAfter);
        const WriteResult& r = job.result();
        EXPECT_EQ(r.end, row.end);
        EXPECT_EQ(r.stop ? std::optional(r.stop->kind) : std::nullopt, row.stop);
        const jobs::Account& a = r.send.account;
        EXPECT_EQ(keys(a.acknowledged), row.acknowledged);
        EXPECT_EQ(keys(a.refused), row.refused);
        EXPECT_EQ(a.inFlight ? std::optional(a.inFlight->key) : std::nullopt, row.inFlight);
        EXPECT_EQ(keys(a.notSent), row.notSent);
        std::string lines;
        for (const std::string& l : a.lines()) {
            lines += l + "\n";
        }
        EXPECT_NE(lines.find(row.says), std::string::npos) << lines;
        // What was acknowledged, the converter holds.
        if (std::count(row.acknowledged.begin(), row.acknowledged.end(), "MD") == 1) {
            EXPECT_EQ(line.model().converter().settings().workingMode, '1');
        }
    }
}

TEST(WriteJob, TheLineFollowsTheRs485PortOnceItsChangeIsAcknowledged) {
    jobstest::ModelLine line;
    jobs::WriteJob job(restore());
    const auto sent = line.run(job);
    ASSERT_EQ(sent.size(), 8u);
    for (std::size_t i = 0; i + 1 < sent.size(); ++i) {
        EXPECT_FALSE(sent[i].line) << i;
    }
    ASSERT_TRUE(sent.back().line) << "the read back goes out at the old settings";
    EXPECT_EQ(sent.back().line->baud, 19200u);
    EXPECT_EQ(job.result().end, End::Done);
    ASSERT_EQ(job.result().send.notes.size(), 1u);

    // A line that does not run at the converter's RS485 settings does not follow them.
    jobstest::ModelLine other;
    jobs::WriteOptions options = restore();
    options.line = jobs::Request::LineSettings{38400, "even"};
    jobs::WriteJob elsewhere(options);
    for (const auto& request : other.run(elsewhere)) {
        EXPECT_FALSE(request.line);
    }
}

TEST(WriteJob, NothingToSendAndADryRunSendNoSetCommand) {
    for (const bool dryRun : {false, true}) {
        jobstest::ModelLine line;
        jobs::WriteOptions options = restore();
        if (!dryRun) {
            options.target = profile::Configuration();
            options.target.setTyped("mode", "transparent");
        }
        options.dryRun = dryRun;
        jobs::WriteJob job(options);
        const auto sent = line.run(job);
        EXPECT_EQ(sent.size(), 4u);
        EXPECT_EQ(job.result().end, dryRun ? End::Planned : End::NothingToDo);
        EXPECT_EQ(job.result().plan.size(), dryRun ? 3u : 0u);
    }
}

} // namespace
