// The jobs' queue in the real window on the in-process simulated line, with the timers fired by the
// test: a job's request waits for a button's exchange; a button overtakes a job's request, which goes
// out again afterwards; a job's silence opens no box; the rest of a cut reply is charged to no one;
// a closed dialog's job stops sending.
#include <gtest/gtest.h>

#include <atomic>

#include "app/exchange/JobExchange.h"
#include "app/exchange/JobRunner.h"
#include "jobs/LoopCheck.h"
#include "tests/support/FormHarness.h"
#include "tests/support/ManualTimers.h"
#include "tests/support/SimulatedLine.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;
using testsupport::FormHarness;
using testsupport::ManualTimers;
using testsupport::SimulatedLine;
using testsupport::waitUntil;

namespace {

jobs::Request textRequest(const std::string& frame, int32_t pending) {
    jobs::Request request;
    request.frame = frame;
    request.pending = pending;
    request.query = frame.starts_with("QQQ#");
    request.what = frame;
    return request;
}

// A job that sends its requests one after another and keeps what came of each.
class ScriptedJob : public jobs::Job {
public:
    explicit ScriptedJob(std::vector<jobs::Request> requests) : requests_(std::move(requests)) {}

    std::optional<jobs::Request> next() override {
        if (cancelled_ || asked_ >= requests_.size()) {
            return std::nullopt;
        }
        return requests_[asked_++];
    }
    void take(const jobs::Outcome& outcome) override { heard.push_back(outcome); }
    void cancel() override { cancelled_ = true; }

    std::vector<jobs::Outcome> heard;

private:
    std::vector<jobs::Request> requests_;
    std::size_t asked_ = 0;
    bool cancelled_ = false;
};

class JobExchangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The line counts what the converter heard; a fault for request N is set once N-1 were heard.
        line.onHeard = [this](std::size_t heard) {
            heardCount = heard;
            if (onHeard) {
                onHeard(heard);
            }
        };
        h.openOn(line);
    }

    // Starts `job` and returns it (the runner owns it).
    ScriptedJob& start(std::vector<jobs::Request> requests) {
        auto job = std::make_unique<ScriptedJob>(std::move(requests));
        ScriptedJob& ref = *job;
        runner.start(std::move(job), [this] { over = true; });
        return ref;
    }
    bool heardAtLeast(std::size_t n) {
        return waitUntil([&] { return heardCount >= n; }, 10s);
    }
    std::string lastHeard() { return line.heard().empty() ? std::string() : line.heard().back(); }

    ManualTimers timers{{"Timer2"}};
    SimulatedLine line;
    std::function<void(std::size_t)> onHeard;
    std::atomic<std::size_t> heardCount{0};
    FormHarness h;
    app::JobRunner runner{h.form().Jobs()};
    bool over = false;
};

TEST_F(JobExchangeTest, AButtonOvertakesAJobsRequestWhichGoesOutAgainOnceTheButtonsExchangeIsOver) {
    // The job's first request gets no answer, so it still waits when the button is pressed.
    line.with([](sim::Simulator& s) { s.faults.silent = true; });
    onHeard = [this](std::size_t) { line.with([](sim::Simulator& s) { s.faults.silent = false; }); };
    ScriptedJob& job = start({textRequest("QQQ#QX3#", exchange::pending::CustomHart)});
    ASSERT_TRUE(heardAtLeast(1));
    EXPECT_EQ(lastHeard(), "QQQ#QX3#");
    ASSERT_TRUE(h.form().Jobs().jobWaiting());

    h.click("Button23"); // "System Parameters": out at once, as a button's request always goes
    EXPECT_EQ(h.sendField(), QStringLiteral("QQQ#QX1#"));
    EXPECT_EQ(h.form().PendingCommand(), exchange::pending::SystemParameters);
    ASSERT_TRUE(heardAtLeast(2));
    EXPECT_EQ(lastHeard(), "QQQ#QX1#");
    // Its reply is the button's: decoded into the tab's fields.
    ASSERT_TRUE(waitUntil([&] { return h.text("Edit14") == QStringLiteral("001"); }, 10s));
    // Then the job's request again, whole, and the job hears its reply.
    ASSERT_TRUE(heardAtLeast(3));
    EXPECT_EQ(lastHeard(), "QQQ#QX3#");
    ASSERT_TRUE(waitUntil([&] { return over; }, 10s));
    ASSERT_EQ(job.heard.size(), 1u);
    EXPECT_EQ(job.heard[0].kind, jobs::Outcome::Kind::Whole) << job.heard[0].reading.meaning;
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(JobExchangeTest, AJobsRequestWaitsWhileAButtonsReplyIsAwaitedAndAJobsSilenceOpensNoBox) {
    line.with([](sim::Simulator& s) { s.faults.silent = true; });
    h.click("Button24"); // the working mode's "Set", answered by nobody
    ASSERT_TRUE(heardAtLeast(1));
    ScriptedJob& job = start({textRequest("QQS#MD:0#", exchange::pending::SetCommand)});
    testsupport::pumpFor(50ms);
    EXPECT_EQ(heardCount, 1u) << "the job's request went out while the button's reply was awaited";

    // The button's timeout: its own box, and the job's request goes out after it.
    ASSERT_TRUE(timers.fire("Timer3"));
    ASSERT_EQ(h.messageTexts().size(), 1u);
    EXPECT_EQ(h.messageTexts()[0], QStringLiteral("Parameter Setting Timeout!"));
    ASSERT_TRUE(heardAtLeast(2));
    EXPECT_EQ(lastHeard(), "QQS#MD:0#");

    // The job's own silence: heard by the job, no box.
    ASSERT_TRUE(waitUntil([&] { return timers.running("Timer3"); }));
    ASSERT_TRUE(timers.fire("Timer3"));
    ASSERT_TRUE(waitUntil([&] { return over; }, 10s));
    ASSERT_EQ(job.heard.size(), 1u);
    EXPECT_EQ(job.heard[0].kind, jobs::Outcome::Kind::Silence);
    EXPECT_EQ(h.messageTexts().size(), 1u) << h.messageTexts().back().toStdString();
}

TEST_F(JobExchangeTest, TheRestOfACutReplyIsChargedToNoRequest) {
    // Replies in two parts far enough apart to arrive as two blocks.
    line.with([](sim::Simulator& s) { s.faults.splitMs = 150; });
    ScriptedJob& job = start({textRequest("QQQ#QX1#", exchange::pending::SystemParameters),
                              textRequest("QQQ#QX3#", exchange::pending::CustomHart)});
    ASSERT_TRUE(waitUntil([&] { return job.heard.size() == 1; }, 10s));
    EXPECT_EQ(job.heard[0].kind, jobs::Outcome::Kind::Cut) << job.heard[0].reading.meaning;
    // The second part arrives while the line settles; only then does the next request go.
    ASSERT_TRUE(waitUntil([&] { return h.receiveField().endsWith(QStringLiteral("#")); }, 10s))
        << h.receiveField().toStdString();
    EXPECT_EQ(heardCount, 1u);
    line.with([](sim::Simulator& s) { s.faults.splitMs = 0; });
    ASSERT_TRUE(timers.fire("JobSettleTimer"));
    ASSERT_TRUE(waitUntil([&] { return over; }, 10s));
    ASSERT_EQ(job.heard.size(), 2u);
    EXPECT_EQ(job.heard[1].kind, jobs::Outcome::Kind::Whole) << job.heard[1].reading.meaning;
    EXPECT_TRUE(h.messages().empty());
    // The main window's fields are the buttons' alone: a job's query decodes nothing into them.
    EXPECT_EQ(h.text("Edit14"), QStringLiteral(""));
}

TEST_F(JobExchangeTest, ACancelledJobSendsNothingMoreAndTheRequestOnTheLineEndsFirst) {
    line.with([](sim::Simulator& s) { s.faults.silent = true; });
    ScriptedJob& job = start({textRequest("QQQ#QX1#", exchange::pending::SystemParameters),
                              textRequest("QQQ#QX3#", exchange::pending::CustomHart)});
    ASSERT_TRUE(heardAtLeast(1));
    runner.cancel();
    EXPECT_TRUE(runner.running()) << "the request on the line ends first";
    ASSERT_TRUE(timers.fire("Timer3"));
    ASSERT_TRUE(waitUntil([&] { return over; }, 10s));
    ASSERT_EQ(job.heard.size(), 1u);
    EXPECT_EQ(job.heard[0].kind, jobs::Outcome::Kind::Silence);
    testsupport::pumpFor(50ms);
    EXPECT_EQ(heardCount, 1u);
}

// A job that waits for a loop reading and, told to stop, puts the working mode back.
class ReadThenPutBackJob : public jobs::Job {
public:
    std::optional<jobs::Request> next() override {
        if (!askedReading_) {
            askedReading_ = true;
            jobs::Request reading;
            reading.loopReading = jobs::Request::LoopReading{3, 4, "0", 4};
            return reading;
        }
        if (cancelled_ && !putBack_) {
            putBack_ = true;
            jobs::Request back = textRequest("QQS#MD:1#", exchange::pending::SetCommand);
            back.restores = true;
            return back;
        }
        return std::nullopt;
    }
    void take(const jobs::Outcome& outcome) override { heard.push_back(outcome); }
    void cancel() override { cancelled_ = true; }

    std::vector<jobs::Outcome> heard;

private:
    bool askedReading_ = false;
    bool cancelled_ = false;
    bool putBack_ = false;
};

TEST_F(JobExchangeTest, ACancelWhileAReadingIsAwaitedEndsItAndASecondCancelLeavesThePutBackAlone) {
    int readingsAsked = 0;
    runner.onReading = [&](const jobs::Request&) { ++readingsAsked; };
    auto owned = std::make_unique<ReadThenPutBackJob>();
    ReadThenPutBackJob& job = *owned;
    runner.start(std::move(owned), [this] { over = true; });
    ASSERT_EQ(readingsAsked, 1);
    EXPECT_TRUE(runner.readingWanted());
    EXPECT_EQ(heardCount, 0u) << "a loop reading is nothing on the converter's line";

    runner.cancel(); // the dialog closed
    runner.cancel(); // ... and its Cancel pressed as well
    runner.give(jobs::ReadingOutcome(4)); // a reading typed too late
    ASSERT_TRUE(waitUntil([&] { return over; }, 10s));
    ASSERT_EQ(job.heard.size(), 2u);
    EXPECT_EQ(job.heard[0].kind, jobs::Outcome::Kind::Interrupted);
    EXPECT_EQ(job.heard[1].kind, jobs::Outcome::Kind::Whole) << "the put-back went out and was taken";
    EXPECT_EQ(line.heard(), (std::vector<std::string>{"QQS#MD:1#"}));
}

TEST_F(JobExchangeTest, AClosedPortEndsTheJobsRequestAsALostLine) {
    line.with([](sim::Simulator& s) { s.faults.silent = true; });
    ScriptedJob& job = start({textRequest("QQQ#QX1#", exchange::pending::SystemParameters),
                              textRequest("QQQ#QX3#", exchange::pending::CustomHart)});
    ASSERT_TRUE(heardAtLeast(1));
    h.click("Button1"); // "Close"
    ASSERT_TRUE(waitUntil([&] { return !job.heard.empty(); }, 10s));
    EXPECT_EQ(job.heard[0].kind, jobs::Outcome::Kind::LineLost);
    // The next request is not sent on a closed port: the job hears so.
    ASSERT_TRUE(waitUntil([&] { return over; }, 10s));
    ASSERT_EQ(job.heard.size(), 2u);
    EXPECT_EQ(job.heard[1].kind, jobs::Outcome::Kind::NotSent);
    EXPECT_TRUE(h.messages().empty());
}

} // namespace
