// The course of a run of requests (Read All, Write All) without a window: scripts of what the exchange
// reports, and where each leaves the run.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "exchange/Rules.h"
#include "exchange/RequestSequence.h"

namespace {

using exchange::RequestSequence;
using End = RequestSequence::End;
namespace pending = exchange::pending;

// A script of what the exchange reports, one word an event: "send" and "done" around a step's
// sending, "sent" / "unsent" for the frame, "refused:MSG", "block:CODE", "decoded:CODE",
// "rejected:CODE" (a block that is not the whole answer), "timeout:MSG", "closed", "cancel". "step" is
// the window sending a step: send, sent, done.
void play(RequestSequence& sequence, const std::string& script) {
    std::istringstream words(script);
    for (std::string word; words >> word;) {
        const std::string head = word.substr(0, word.find(':'));
        const std::string tail = word.find(':') == std::string::npos ? "" : word.substr(word.find(':') + 1);
        if (head == "step") {
            play(sequence, "send sent done");
        } else if (head == "send") {
            sequence.sending();
        } else if (head == "done") {
            sequence.sendFinished();
        } else if (head == "sent" || head == "unsent") {
            sequence.frameSent(head == "sent");
        } else if (head == "refused") {
            sequence.requestRefused(tail);
        } else if (head == "block") {
            sequence.blockHandled(std::stoi(tail));
        } else if (head == "rejected") {
            sequence.replyRejected(std::stoi(tail), "cut short");
        } else if (head == "decoded") {
            sequence.replyDecoded(std::stoi(tail));
        } else if (head == "timeout") {
            sequence.timeoutHandled(tail);
        } else if (head == "closed") {
            sequence.portClosed();
        } else if (head == "cancel") {
            sequence.cancel();
        } else {
            ADD_FAILURE() << "no such event: " << word;
        }
    }
}

struct Case {
    const char* name;
    std::vector<int32_t> steps; // each step's pending command
    bool stopOnTimeout;
    const char* script;
    End end;
    std::size_t completed;
    std::size_t current;
    std::string endMessage;
    std::vector<std::size_t> timedOut;
    bool inFlight = false; // the step under way had gone out when the run ended
};

constexpr int32_t Qx1 = pending::SystemParameters, Qx2 = pending::AnalogOutputs, Qx6 = pending::TestValues,
                  Set = pending::SetCommand;

const Case kCases[] = {
    {"queries end once decoded under their own code", {Qx1, Qx2}, true,
     "step block:201 decoded:201 step block:202 decoded:202", End::Finished, 2, 2, "", {}},
    {"a decode under another code is not the step's", {Qx1}, true, "step decoded:100 decoded:202", End::None, 0,
     0, "", {}},
    {"a query's block alone does not end it: its decoder has not run", {pending::ParseFormat}, true,
     "step block:204", End::None, 0, 0, "", {}},
    {"a query that times out stops a run that stops on timeouts", {Qx1, Qx2, Qx6}, true,
     "step decoded:201 step timeout:Parameter_Query_Timeout!", End::TimedOut, 1, 1, "Parameter_Query_Timeout!", {},
     true},
    {"a reply that is not the whole answer ends the run with its cause", {Set, Set}, true,
     "step block:200 step rejected:200", End::BadReply, 1, 1, "cut short", {}, true},
    {"a rejected block under another code is not the step's", {Qx1}, true, "step rejected:200 decoded:201",
     End::Finished, 1, 1, "", {}},
    {"set commands end with their reply and go on after a timeout", {Set, Set, Set}, false,
     "step block:200 step timeout:Parameter_Setting_Timeout! step block:200", End::Finished, 3, 3, "", {1}},
    {"a block that came under another code does not end a set command", {Set}, false,
     "step block:0 block:302 decoded:200", End::None, 0, 0, "", {}},
    {"a request the port did not take ends the run", {Qx1, Qx2}, true, "send unsent done", End::NotSent, 0, 0, "",
     {}},
    {"a refused request ends the run with its message", {Set, Set}, false,
     "step block:200 send refused:NO_SPACK done", End::NotSent, 1, 1, "NO_SPACK", {}},
    {"a send that reports nothing sent nothing", {Set}, false, "send done", End::NotSent, 0, 0, "", {}},
    {"another request while a step waits interrupts the run", {Qx1, Qx2}, true, "step sent", End::Interrupted, 0,
     0, "", {}, true},
    {"a refusal of someone else's request while a step waits changes nothing", {Qx1}, true,
     "step refused:Data_eeore! decoded:201", End::Finished, 1, 1, "", {}},
    {"the port closing ends the run", {Qx1}, true, "step closed", End::PortClosed, 0, 0, "", {}, true},
    {"cancelled, later events are ignored", {Qx1, Qx2}, true, "step cancel decoded:201 sent timeout:late",
     End::Cancelled, 0, 0, "", {}, true},
    {"cancelled before the next step went out", {Qx1, Qx2}, true, "step decoded:201 cancel", End::Cancelled, 1, 1,
     "", {}},
    {"a timeout before anything was sent is not the run's", {Qx1}, true, "timeout:Connection_Timeout! block:200",
     End::None, 0, 0, "", {}},
    {"no steps: finished at once", {}, true, "", End::Finished, 0, 0, "", {}},
};

class Sequences : public ::testing::TestWithParam<Case> {};

TEST_P(Sequences, EndWhereTheScriptLeavesThem) {
    const Case& c = GetParam();
    std::vector<exchange::SequenceStep> steps;
    for (const int32_t code : c.steps) {
        steps.push_back({"step " + std::to_string(steps.size()), code});
    }
    RequestSequence sequence(steps, c.stopOnTimeout);
    play(sequence, c.script);
    EXPECT_EQ(sequence.end(), c.end);
    EXPECT_EQ(sequence.completed(), c.completed);
    EXPECT_EQ(sequence.current(), c.current);
    EXPECT_EQ(sequence.endMessage(), c.endMessage);
    EXPECT_EQ(sequence.timedOutSteps(), c.timedOut);
    EXPECT_EQ(sequence.endedInFlight(), c.inFlight);
}

INSTANTIATE_TEST_SUITE_P(Scripts, Sequences, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p; ++p) {
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             }
                             return name;
                         });

// Each event says whether the run moved on, which is when the window sends the next step or ends.
TEST(Sequence, TellsWhenTheNextStepIsReady) {
    RequestSequence sequence({{"a", pending::SetCommand}, {"b", pending::CustomHart}}, true);
    EXPECT_TRUE(sequence.readyToSend());
    sequence.sending();
    EXPECT_FALSE(sequence.readyToSend());
    EXPECT_FALSE(sequence.frameSent(true));
    sequence.sendFinished();
    EXPECT_FALSE(sequence.blockHandled(pending::CustomHart));
    EXPECT_TRUE(sequence.blockHandled(pending::SetCommand));
    EXPECT_TRUE(sequence.readyToSend());
    EXPECT_EQ(sequence.current(), 1u);
    sequence.sending();
    EXPECT_FALSE(sequence.frameSent(true));
    sequence.sendFinished();
    EXPECT_TRUE(sequence.replyDecoded(pending::CustomHart));
    EXPECT_TRUE(sequence.over());
    EXPECT_FALSE(sequence.readyToSend());
    EXPECT_FALSE(sequence.cancel()) << "nothing to cancel once over";
    EXPECT_EQ(sequence.end(), End::Finished);
}

} // namespace
