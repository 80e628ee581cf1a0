// The loop check against the simulated converter, whose outputs carry errors of their own and whose
// meter reads what they drive; a fault at a chosen request per row. Whatever happens, the working
// mode and the test values are asked back, and the model is seen to hold them again.
#include <gtest/gtest.h>

#include "jobs/LoopCheck.h"
#include "tests/jobs/ModelLine.h"

namespace {

using jobs::LoopCheckResult;
using jobstest::Fault;
using End = LoopCheckResult::End;
using inspection::Verdict;

// QX1, QX2, QX6, the switch to test current output mode, then per output of the factory's four
// (DOUTA0 to DOUTA3) and per point its test and its reading; then the four test values and the mode.
int testRequest(int output, int point) {
    return 5 + 10 * output + 2 * point;
}
constexpr int kWhole = 3 + 1 + 40 + 4 + 1;

TEST(LoopCheckJob, VerdictsAndWhatIsPutBack) {
    struct Row {
        const char* what;
        std::vector<std::string> setUp = {}; // frames the model takes first
        double offset3 = 0, gain1 = 1;  // DOUTA3's zero error (mA), DOUTA1's span factor
        std::vector<std::pair<int, Fault>> faults = {};
        jobs::LoopCheckOptions options = {};
        int cancelAfter = 0;
        End end = End::Checked;
        int requests = kWhole;
        Verdict verdict = Verdict::Pass;
        std::vector<Verdict> outputs = {Verdict::Pass, Verdict::Pass, Verdict::Pass, Verdict::Pass};
        const char* note = ""; // in the summary, or in a note of the result
        bool modeBack = true;
    } rows[] = {
        {.what = "adjusted outputs pass"},
        {.what = "DOUTA3 reads 0.2 mA high",
         .offset3 = 0.2,
         .verdict = Verdict::Fail,
         .outputs = {Verdict::Pass, Verdict::Pass, Verdict::Pass, Verdict::Fail},
         .note = "5 points outside 0.25 % of span"},
        {.what = "and after its adjustment to 0.01 mA", .offset3 = 0.01},
        {.what = "a span error shows at 20 mA, not at 4",
         .gain1 = 1.004,
         .verdict = Verdict::Fail,
         .outputs = {Verdict::Pass, Verdict::Fail, Verdict::Pass, Verdict::Pass},
         .note = "2 points outside"},
        {.what = "the converter silent at a test",
         .faults = {{testRequest(1, 1), Fault::Silent}},
         .end = End::Stopped,
         .requests = 20,
         .verdict = Verdict::NotChecked,
         .outputs = {Verdict::Pass, Verdict::NotChecked, Verdict::NotChecked, Verdict::NotChecked},
         .note = "no reply to the output test of DOUTA1 at 8 mA (test value 25)"},
        {.what = "silent through the test values' tries: the mode still goes back",
         .faults = {{17, Fault::Silent}, {18, Fault::Silent}, {19, Fault::Silent}, {20, Fault::Silent}, {21, Fault::Silent}},
         .end = End::Stopped,
         .requests = 22,
         .verdict = Verdict::NotChecked,
         .outputs = {Verdict::Pass, Verdict::NotChecked, Verdict::NotChecked, Verdict::NotChecked},
         .note = "not put back: the test value of DOUTA0"},
        {.what = "the line lost",
         .faults = {{17, Fault::LineLost}},
         .end = End::Stopped,
         .requests = 19,
         .verdict = Verdict::NotChecked,
         .outputs = {Verdict::Pass, Verdict::NotChecked, Verdict::NotChecked, Verdict::NotChecked},
         .note = "may still be in test current output mode",
         .modeBack = false},
        {.what = "the meter silent at one point", .faults = {{testRequest(2, 0) + 1, Fault::Silent}}},
        {.what = "a test value refused", .faults = {{testRequest(0, 4), Fault::Refusal}}, .requests = kWhole - 1},
        {.what = "cancelled after a reading: the test value and the mode go back",
         .cancelAfter = 10,
         .end = End::Stopped,
         .requests = 12,
         .verdict = Verdict::NotChecked,
         .outputs = {Verdict::NotChecked, Verdict::NotChecked, Verdict::NotChecked, Verdict::NotChecked},
         .note = "working mode: QQS#MD:0# -> put back to transparent"},
        {.what = "already in test current output mode: nothing to switch", .setUp = {"QQS#MD:2#"}, .requests = kWhole - 2},
        {.what = "a range whose 4 mA point is below 0",
         .setUp = {"QQS#DA3:3,41A40000,C1200000#"},
         .options = {{2}, {4, 12}},
         .requests = 3 + 1 + 2 + 1 + 1,
         .outputs = {Verdict::Pass}},
        {.what = "the totalizer's outputs are not checked",
         .setUp = {"QQS#DL:3#"},
         .options = {{1, 5}, {12}},
         .requests = 3 + 1 + 2 + 1 + 1,
         .outputs = {Verdict::Pass, Verdict::NotChecked},
         .note = "serve the totalizer output"},
        {.what = "nothing that can be driven: nothing sent",
         .setUp = {"QQS#DA6:0,00000000,00000000#"},
         .options = {{5}, {12}},
         .end = End::NothingToCheck,
         .requests = 3,
         .verdict = Verdict::NotChecked,
         .outputs = {Verdict::NotChecked},
         .note = "its range maps nothing"},
        {.what = "the outputs unreadable",
         .faults = {{2, Fault::Silent}},
         .end = End::NoConfiguration,
         .requests = 2,
         .verdict = Verdict::NotChecked,
         .outputs = {},
         .note = "no reply to QX2"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        jobstest::ModelLine line;
        sim::Converter& converter = line.model().converter();
        for (const std::string& frame : row.setUp) {
            ASSERT_TRUE(converter.handleText(frame).ends_with(":OK#")) << frame;
        }
        const char modeBefore = converter.settings().workingMode;
        line.model().faults.outputs[3].offsetMa = row.offset3;
        line.model().faults.outputs[1].gain = row.gain1;
        for (const auto& [n, fault] : row.faults) {
            line.fault(n, fault);
        }
        jobs::LoopCheckJob job(row.options);
        EXPECT_EQ(static_cast<int>(line.run(job, row.cancelAfter).size()), row.requests);
        const LoopCheckResult& r = job.result();
        EXPECT_EQ(r.end, row.end);
        EXPECT_EQ(r.verdict(), row.verdict) << r.summary();
        ASSERT_EQ(r.outputs.size(), row.outputs.size());
        for (std::size_t i = 0; i < row.outputs.size(); ++i) {
            EXPECT_EQ(r.outputs[i].verdict, row.outputs[i]) << jobs::OutputName(r.outputs[i].output);
        }
        std::string said = r.summary();
        for (const std::string& n : r.notes) {
            said += "\n" + n;
        }
        for (const auto& o : r.outputs) {
            said += "\n" + o.note;
        }
        EXPECT_NE(said.find(row.note), std::string::npos) << said;
        EXPECT_EQ(r.leftSwitched, !row.modeBack);
        if (row.modeBack) {
            EXPECT_EQ(converter.settings().workingMode, modeBefore);
        }
    }
}

// A meter reads one loop: its leads move before each output's first point, and only when more than
// one output is driven.
TEST(LoopCheckJob, TheMetersLeadsMoveBeforeEachOutputWhenThereIsMoreThanOne) {
    const struct {
        jobs::LoopCheckOptions options;
        std::vector<int> leads;
    } rows[] = {
        {{}, {0, 1, 2, 3}},
        {{{3}}, {}},
        {{{1, 5}, {12}}, {1, 5}},
    };
    for (const auto& row : rows) {
        jobstest::ModelLine line;
        jobs::LoopCheckJob job(row.options);
        line.run(job);
        EXPECT_EQ(line.leadsAsked(), row.leads);
    }
}

TEST(LoopCheckJob, EachPointSaysWhatWasExpectedReadAndHowFarOff) {
    jobstest::ModelLine line;
    line.model().faults.outputs[3].offsetMa = 0.2;
    jobs::LoopCheckJob job({{3}, inspection::kDefaultPoints, 0.25});
    line.run(job);
    const LoopCheckResult& r = job.result();
    ASSERT_EQ(r.outputs.size(), 1u);
    const std::vector<std::string> values = {"0", "25", "50", "75", "100"};
    ASSERT_EQ(r.outputs[0].points.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        const auto& p = r.outputs[0].points[i];
        EXPECT_EQ(p.testValue, values[i]);
        EXPECT_DOUBLE_EQ(p.expectedMa, 4.0 + 4.0 * static_cast<double>(i));
        ASSERT_TRUE(p.readingMa && p.errorPercent);
        EXPECT_NEAR(*p.readingMa, p.expectedMa + 0.2, 1e-9);
        EXPECT_NEAR(*p.errorPercent, 1.25, 1e-9);
        EXPECT_EQ(p.verdict, Verdict::Fail);
    }
    // The model's output drives its test value as the check left it: back at what it was.
    EXPECT_EQ(line.model().converter().testValues().outputs[3], 0.0);
}

} // namespace
