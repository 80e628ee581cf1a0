// The course of a run of requests (Read All, Write All) without a window: scripts of what the exchange
// reports, and where each leaves the run.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "app/Exchange.h"
#include "app/RequestSequence.h"

namespace {

using app::RequestSequence;
using End = RequestSequence::End;
namespace pending = app::pending;

struct Event {
    enum Kind { Send, SendSilently, Written, NotWritten, Refused, Block, Decoded, Timeout, PortClosed, Cancel };
    Kind kind;
    int32_t code = 0;         // Block, Decoded: the pending command
    const char* message = ""; // Refused, Timeout
};

struct Case {
    const char* name;
    std::vector<int32_t> steps; // each step's pending command
    bool stopOnTimeout;
    std::vector<Event> script;
    End end;
    std::size_t completed;
    std::size_t current;
    std::string endMessage;
    std::vector<std::size_t> timedOut;
};

// Sending a step as the window does: announce, let the exchange report, return.
std::vector<Event> sent() {
    return {{Event::Send}, {Event::Written}, {Event::SendSilently}};
}

std::vector<Event> operator+(std::vector<Event> a, const std::vector<Event>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void play(RequestSequence& sequence, const Event& e) {
    switch (e.kind) {
    case Event::Send: sequence.sending(); break;
    case Event::SendSilently: sequence.sendFinished(); break;
    case Event::Written: sequence.frameSent(true); break;
    case Event::NotWritten: sequence.frameSent(false); break;
    case Event::Refused: sequence.requestRefused(e.message); break;
    case Event::Block: sequence.blockHandled(e.code); break;
    case Event::Decoded: sequence.replyDecoded(e.code); break;
    case Event::Timeout: sequence.timeoutHandled(e.message); break;
    case Event::PortClosed: sequence.portClosed(); break;
    case Event::Cancel: sequence.cancel(); break;
    }
}

const Case kCases[] = {
    {"queries end once decoded under their own code",
     {pending::SystemParameters, pending::AnalogOutputs},
     true,
     sent() + std::vector<Event>{{Event::Block, pending::SystemParameters},
                                 {Event::Decoded, pending::SystemParameters}} +
         sent() + std::vector<Event>{{Event::Block, pending::AnalogOutputs}, {Event::Decoded, pending::AnalogOutputs}},
     End::Finished,
     2,
     2,
     "",
     {}},
    {"a decode under another code is not the step's",
     {pending::SystemParameters},
     true,
     sent() + std::vector<Event>{{Event::Decoded, pending::HartIdentity}, {Event::Decoded, pending::AnalogOutputs}},
     End::None,
     0,
     0,
     "",
     {}},
    {"a query's block alone does not end it: its decoder has not run",
     {pending::ParseFormat},
     true,
     sent() + std::vector<Event>{{Event::Block, pending::ParseFormat}},
     End::None,
     0,
     0,
     "",
     {}},
    {"a query that times out stops a run that stops on timeouts",
     {pending::SystemParameters, pending::AnalogOutputs, pending::TestValues},
     true,
     sent() + std::vector<Event>{{Event::Decoded, pending::SystemParameters}} + sent() +
         std::vector<Event>{{Event::Timeout, 0, "Parameter Query Timeout!"}},
     End::TimedOut,
     1,
     1,
     "Parameter Query Timeout!",
     {}},
    {"set commands end with their reply and go on after a timeout",
     {pending::SetCommand, pending::SetCommand, pending::SetCommand},
     false,
     sent() + std::vector<Event>{{Event::Block, pending::SetCommand}} + sent() +
         std::vector<Event>{{Event::Timeout, 0, "Parameter Setting Timeout!"}} + sent() +
         std::vector<Event>{{Event::Block, pending::SetCommand}},
     End::Finished,
     3,
     3,
     "",
     {1}},
    {"a block that came under another code does not end a set command",
     {pending::SetCommand},
     false,
     sent() + std::vector<Event>{{Event::Block, pending::None}, {Event::Block, pending::ModbusTest},
                                 {Event::Decoded, pending::SetCommand}},
     End::None,
     0,
     0,
     "",
     {}},
    {"a request the port did not take ends the run",
     {pending::SystemParameters, pending::AnalogOutputs},
     true,
     {{Event::Send}, {Event::NotWritten}, {Event::SendSilently}},
     End::NotSent,
     0,
     0,
     "",
     {}},
    {"a refused request ends the run with its message",
     {pending::SetCommand, pending::SetCommand},
     false,
     sent() + std::vector<Event>{{Event::Block, pending::SetCommand}, {Event::Send},
                                 {Event::Refused, 0, "NO SPACK"}, {Event::SendSilently}},
     End::NotSent,
     1,
     1,
     "NO SPACK",
     {}},
    {"a send that reports nothing sent nothing",
     {pending::SetCommand},
     false,
     {{Event::Send}, {Event::SendSilently}},
     End::NotSent,
     0,
     0,
     "",
     {}},
    {"another request while a step waits interrupts the run",
     {pending::SystemParameters, pending::AnalogOutputs},
     true,
     sent() + std::vector<Event>{{Event::Written}},
     End::Interrupted,
     0,
     0,
     "",
     {}},
    {"a refusal of someone else's request while a step waits changes nothing",
     {pending::SystemParameters},
     true,
     sent() + std::vector<Event>{{Event::Refused, 0, "Data eeore!"}, {Event::Decoded, pending::SystemParameters}},
     End::Finished,
     1,
     1,
     "",
     {}},
    {"the port closing ends the run",
     {pending::SystemParameters},
     true,
     sent() + std::vector<Event>{{Event::PortClosed}},
     End::PortClosed,
     0,
     0,
     "",
     {}},
    {"cancelled, later events are ignored",
     {pending::SystemParameters, pending::AnalogOutputs},
     true,
     sent() + std::vector<Event>{{Event::Cancel}, {Event::Decoded, pending::SystemParameters}, {Event::Written},
                                 {Event::Timeout, 0, "late"}},
     End::Cancelled,
     0,
     0,
     "",
     {}},
    {"a timeout before anything was sent is not the run's",
     {pending::SystemParameters},
     true,
     {{Event::Timeout, 0, "Connection Timeout!"}, {Event::Block, pending::SetCommand}},
     End::None,
     0,
     0,
     "",
     {}},
    {"no steps: finished at once", {}, true, {}, End::Finished, 0, 0, "", {}},
};

class Sequences : public ::testing::TestWithParam<Case> {};

TEST_P(Sequences, EndWhereTheScriptLeavesThem) {
    const Case& c = GetParam();
    std::vector<app::SequenceStep> steps;
    for (const int32_t code : c.steps) {
        steps.push_back({"step " + std::to_string(steps.size()), code});
    }
    RequestSequence sequence(steps, c.stopOnTimeout);
    for (const Event& e : c.script) {
        play(sequence, e);
    }
    EXPECT_EQ(sequence.end(), c.end);
    EXPECT_EQ(sequence.completed(), c.completed);
    EXPECT_EQ(sequence.current(), c.current);
    EXPECT_EQ(sequence.endMessage(), c.endMessage);
    EXPECT_EQ(sequence.timedOutSteps(), c.timedOut);
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
