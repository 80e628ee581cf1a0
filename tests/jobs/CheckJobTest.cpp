// The check of the mapping against the simulated converter, a fault at a chosen request per row: the
// verdict of each variable, what stopped it, and the working mode always asked back when switched.
#include <gtest/gtest.h>

#include "jobs/Check.h"
#include "tests/jobs/ModelLine.h"

namespace {

using jobs::CheckResult;
using jobstest::Fault;
using End = CheckResult::End;
using Kind = jobs::Outcome::Kind;
using profile::CheckVerdict;

// The requests of a check in transparent mode: QX1, QX3, QX4, read meter command 1, the registers,
// read meter command 1 again. Switching, the mode goes out after QX4 and comes back last.
constexpr int kHartBefore = 4, kRegisters = 5;

TEST(CheckJob, VerdictsFollowWhatEachReplyWas) {
    // clang-format off
    struct Row {
        const char* what;
        std::vector<std::pair<int, Fault>> faults;
        End end;
        int requests;
        CheckVerdict first;       // variable 1's verdict (every polled one shares it here)
        const char* note;         // in variable 1's note, or in the stop's sentence when stopped
        std::optional<Kind> stop; // of the check, or of its registers' read
        bool hartSilent;
    } rows[] = {
        {"no fault", {}, End::Checked, 6, CheckVerdict::Same, "", {}, false},
        {"the instrument silent", {{kHartBefore, Fault::Silent}}, End::Checked, 6, CheckVerdict::NoValue,
         "the instrument did not answer read meter command 1", {}, true},
        {"a wrong check byte is no silence", {{kHartBefore, Fault::WrongCheck}}, End::Checked, 6,
         CheckVerdict::NoValue, "no good reply to read meter command 1 (CRC or check byte wrong)", {}, false},
        {"a cut reply, its rest before the registers' reply", {{kHartBefore, Fault::Split}}, End::Checked, 6,
         CheckVerdict::NoValue, "(cut short)", {}, false},
        {"a wrong CRC on the registers", {{kRegisters, Fault::WrongCheck}}, End::Checked, 6, CheckVerdict::NoValue,
         "registers not read: no good reply to the MODBUS read", Kind::Damaged, false},
        {"an exception for the registers", {{kRegisters, Fault::Refusal}}, End::Checked, 6, CheckVerdict::NoValue,
         "registers not read", Kind::Refused, false},
        {"the registers unanswered", {{kRegisters, Fault::Silent}}, End::Checked, 6, CheckVerdict::NoValue,
         "registers not read: no reply", Kind::Silence, false},
        {"the line lost at the registers", {{kRegisters, Fault::LineLost}}, End::Stopped, 5, CheckVerdict::Same,
         "not reached: registers 40003-40018, the instrument's replies again", Kind::LineLost, false},
        {"the line lost at the second read", {{6, Fault::LineLost}}, End::Stopped, 6, CheckVerdict::Same,
         "not reached: the instrument's replies again", Kind::LineLost, false},
        {"the system parameters unanswered", {{1, Fault::Silent}}, End::NoMapping, 1, CheckVerdict::Same,
         "not reached: QX3 (custom HART commands), QX4 (parse format)", Kind::Silence, false},
        {"the parse format cut", {{3, Fault::Split}}, End::NoMapping, 3, CheckVerdict::Same, "cut", Kind::Cut, false},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        jobstest::ModelLine line;
        for (const auto& [n, fault] : row.faults) {
            line.fault(n, fault);
        }
        jobs::CheckJob job({});
        EXPECT_EQ(static_cast<int>(line.run(job).size()), row.requests);
        const CheckResult& r = job.result();
        EXPECT_EQ(r.end, row.end);
        EXPECT_EQ(r.hartSilent, row.hartSilent);
        const std::optional<jobs::Stop>& stop =
            r.end == End::NoMapping ? r.mapping.stop : (r.end == End::Stopped ? r.stop : r.registers);
        EXPECT_EQ(stop ? std::optional(stop->kind) : std::nullopt, row.stop);
        if (r.end != End::Checked) {
            EXPECT_TRUE(r.rows.empty()) << "rows from a check that did not finish";
            EXPECT_NE(stop->sentence().find(row.note), std::string::npos) << stop->sentence();
            continue;
        }
        ASSERT_EQ(r.rows.size(), 8u);
        for (int n = 0; n < 4; ++n) {
            EXPECT_EQ(r.rows[n].verdict, row.first) << n + 1 << ": " << r.rows[n].note;
            EXPECT_NE(r.rows[n].note.find(row.note), std::string::npos) << r.rows[n].note;
        }
        EXPECT_EQ(r.rows[4].verdict, CheckVerdict::NotPolled);
        EXPECT_EQ(r.failures(), row.first == CheckVerdict::Same ? 0 : 4);
    }
}

TEST(CheckJob, AVariableBeyondTheReplyIsNoValueAndCountsAsAFailure) {
    jobstest::ModelLine line;
    line.model().converter().handleText("QQS#MDBS4:0,30,0,1.000#");
    jobs::CheckJob job({});
    line.run(job);
    const CheckResult& r = job.result();
    ASSERT_EQ(r.rows.size(), 8u);
    EXPECT_EQ(r.rows[3].verdict, CheckVerdict::NoValue);
    EXPECT_NE(r.rows[3].note.find("beyond"), std::string::npos) << r.rows[3].note;
    EXPECT_EQ(r.failures(), 1);
    EXPECT_EQ(r.summary(), "1 variable differs");
}

// The working mode as the model holds it: '0' transparent, '1' single meter.
char modeOf(jobstest::ModelLine& line) {
    return line.model().converter().settings().workingMode;
}

TEST(CheckJob, TheModeSwitchedForTheCheckIsAskedBackWhateverHappens) {
    // clang-format off
    struct Row {
        const char* what;
        bool switchMode;
        std::vector<std::pair<int, Fault>> faults;
        int cancelAfter;
        End end;
        int requests;
        char modeAfter;
        bool leftSwitched;
    } rows[] = {
        {"not told to switch: nothing sent", false, {}, 0, End::WrongMode, 3, '1', false},
        {"switched and put back", true, {}, 0, End::Checked, 8, '1', false},
        {"the switch refused: asked back all the same", true, {{4, Fault::Refusal}}, 0, End::Stopped, 5, '1', false},
        {"the switch unanswered: it may have taken it", true, {{4, Fault::Silent}}, 0, End::Stopped, 5, '1', false},
        {"silent twice when putting it back", true, {{8, Fault::Silent}, {9, Fault::Silent}}, 0, End::Checked, 10, '1',
         false},
        // The model takes every one; only their answers are lost, so the job cannot know.
        {"never heard taken back", true, {{8, Fault::Silent}, {9, Fault::Silent}, {10, Fault::Silent}, {11, Fault::Silent},
                                    {12, Fault::Silent}}, 0, End::Checked, 12, '1', true},
        {"cancelled midway: still put back", true, {}, 5, End::Stopped, 6, '1', false},
        {"the line lost: nothing more reaches it", true, {{6, Fault::LineLost}}, 0, End::Stopped, 7, '0', true},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        jobstest::ModelLine line;
        line.model().converter().handleText("QQS#MD:1#");
        for (const auto& [n, fault] : row.faults) {
            line.fault(n, fault);
        }
        jobs::CheckJob job({.switchMode = row.switchMode});
        const auto sent = line.run(job, row.cancelAfter);
        EXPECT_EQ(static_cast<int>(sent.size()), row.requests);
        const CheckResult& r = job.result();
        EXPECT_EQ(r.end, row.end);
        EXPECT_EQ(modeOf(line), row.modeAfter);
        EXPECT_EQ(r.leftSwitched, row.leftSwitched);
        if (row.leftSwitched) {
            ASSERT_TRUE(r.stop);
            EXPECT_FALSE(r.notes.empty());
        }
        if (row.switchMode && row.end != End::WrongMode) {
            EXPECT_TRUE(sent.back().restores || row.leftSwitched)
                << "the last request is not the mode put back";
        }
    }
}

} // namespace
