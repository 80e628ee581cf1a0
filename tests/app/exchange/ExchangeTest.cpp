// The exchange in the real window, driven through its request function with a pseudo-terminal as the
// converter: display by pending command, the receive pause, the parse timer, the reply timeouts.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "app/exchange/JobExchange.h"
#include "app/exchange/ExchangeObserver.h"
#include "tests/support/FormHarness.h"
#include "tests/support/PtyPeer.h"
#include "tests/support/Wait.h"
#include "tools/Conversions.h"

using namespace std::chrono_literals;
using testsupport::FormHarness;
using testsupport::PtyPeer;
using testsupport::waitUntil;

namespace {

Request request(std::string frame, int32_t pendingCommand, int32_t timeoutKind,
                Request::Kind kind = Request::Kind::Standard, bool hex = false) {
    Request r;
    r.kind = kind;
    r.build = [frame] { return frame; };
    r.pendingCommand = pendingCommand;
    r.timeoutKind = timeoutKind;
    r.showHex = hex;
    return r;
}

class Exchange : public ::testing::Test {
protected:
    void SetUp() override {
        h.openPort(peer);
        form().Comm1->SetReadIntervalTimeout(30); // blocks end sooner; the 400 ms is not what is tested here
    }
    TForm1& form() { return h.form(); }
    void send(const Request& r) { form().SendRequest(r); }
    // Waits until the request reached the line and returns it.
    std::string line(std::size_t count) { return peer.readAtLeast(count, 2000ms); }

    PtyPeer peer;
    FormHarness h;
};

TEST_F(Exchange, SetCommandReplyIsShownAsTextAfterThePauseAndEndsTheExchange) {
    send(request("QQS#MD:0#", 200, 3));
    EXPECT_EQ(line(9), "QQS#MD:0#");
    EXPECT_EQ(h.sendField(), "QQS#MD:0#");
    EXPECT_EQ(form().PendingCommand(), 200);
    EXPECT_EQ(form().TimeoutKind(), 3);
    EXPECT_TRUE(form().Timer3->Enabled());
    EXPECT_EQ(form().Timer3->Interval(), 3000);

    QElapsedTimer clock;
    clock.start();
    peer.write("OK#");
    ASSERT_TRUE(waitUntil([&] { return h.receiveField() == "OK#"; }));
    // 30 ms of silence end the block, then the receive handler pauses 200 ms before showing it.
    EXPECT_GE(clock.elapsed(), 200);
    EXPECT_EQ(form().PendingCommand(), 0);
    EXPECT_FALSE(form().Timer3->Enabled());
    EXPECT_FALSE(form().Timer2->Enabled());
    EXPECT_EQ(form().ReceivedText(), "OK#");
}

TEST_F(Exchange, QueryReplyStartsTheParseTimerAndKeepsItsCode) {
    send(request("QQQ#QX1#", 201, 2));
    line(8);
    peer.write("QX1,ADR:005");
    ASSERT_TRUE(waitUntil([&] { return h.receiveField() == "QX1,ADR:005"; }));
    EXPECT_TRUE(form().Timer2->Enabled());
    EXPECT_FALSE(form().Timer3->Enabled());
    // The decoder runs 300 ms later and leaves the pending command as it was.
    ASSERT_TRUE(waitUntil([&] { return h.text("Edit14") == "005"; }, 2000ms));
    EXPECT_FALSE(form().Timer2->Enabled());
    EXPECT_EQ(form().PendingCommand(), 201);
}

TEST_F(Exchange, BinaryCodesShowHexWithATrailingBlank) {
    struct Case {
        int32_t code;
        int32_t pendingAfter; // 100 and 103 are cleared by their decoder
    };
    for (const Case c : {Case{100, 0}, Case{103, 0}, Case{104, 104}, Case{106, 106}, Case{302, 302}}) {
        send(request(std::string("\x01\x03\x00\x00", 4), c.code, 2, Request::Kind::Standard, true));
        EXPECT_EQ(line(4), std::string("\x01\x03\x00\x00", 4));
        EXPECT_EQ(h.sendField(), "01 03 00 00 ") << c.code;
        peer.write(std::string("\xFF\x06\x1A\x00\x41", 5));
        ASSERT_TRUE(waitUntil([&] { return h.receiveField() == "FF 06 1A 00 41 "; })) << c.code;
        ASSERT_TRUE(waitUntil([&] { return !form().Timer2->Enabled(); }, 2000ms));
        testsupport::pumpFor(50ms);
        EXPECT_EQ(form().PendingCommand(), c.pendingAfter) << c.code;
    }
}

TEST_F(Exchange, LongBlocksAreCutForTheDisplayAndTheBuffer) {
    std::string reply;
    for (int i = 0; i < 700; ++i) {
        reply.push_back(static_cast<char>(i % 256));
    }
    send(request("X", 104, 4, Request::Kind::Standard));
    line(1);
    peer.write(reply.substr(0, 300));
    ASSERT_TRUE(waitUntil([&] { return form().ReceiveBuffer().size() == 300; }));
    const QString shown = h.receiveField();
    EXPECT_EQ(shown.size(), 255 * 3);
    EXPECT_TRUE(shown.startsWith("00 01 02 "));
    EXPECT_TRUE(shown.endsWith("FD FE "));
    EXPECT_EQ(form().ReceivedText().size(), 255u);
    EXPECT_EQ(form().ReceiveBuffer()[299], 299 % 256);

    // A block longer than the receive buffer keeps its first 604 bytes and nothing more.
    peer.write(reply);
    ASSERT_TRUE(waitUntil([&] { return form().ReceiveBuffer().size() == 604; }));
    for (std::size_t i = 0; i < 604; ++i) {
        ASSERT_EQ(form().ReceiveBuffer()[i], static_cast<uint8_t>(i % 256)) << i;
    }
}

TEST_F(Exchange, ZeroByteCutsTheTextDisplayButNotTheReceivedText) {
    peer.write(std::string("AB\0CD", 5)); // nothing pending: shown as text
    ASSERT_TRUE(waitUntil([&] { return form().ReceivedText().size() == 5; }));
    EXPECT_EQ(h.receiveField(), "AB");
    EXPECT_EQ(form().ReceivedText(), std::string("AB\0CD", 5));
    EXPECT_EQ(form().PendingCommand(), 0);
}

TEST_F(Exchange, ClearBufferEmptiesOnlyTheReceiveField) {
    send(request("QQQ#QX2#", 202, 2));
    line(8);
    peer.write("nothing to decode");
    ASSERT_TRUE(waitUntil([&] { return h.receiveField() == "nothing to decode"; }));
    h.click("Button26");
    EXPECT_EQ(h.receiveField(), "");
    EXPECT_EQ(h.sendField(), "QQQ#QX2#");
    EXPECT_EQ(form().PendingCommand(), 202);
    EXPECT_EQ(form().ReceivedText(), "nothing to decode");
}

TEST_F(Exchange, RefusedRequestChangesNothingButAFailedConversionEmptiesTheFields) {
    send(request("QQQ#QX1#", 201, 2));
    line(8);
    Request refused = request("", 200, 3);
    refused.build = []() -> std::string { throw tools::InputRefused("refused"); };
    EXPECT_THROW(send(refused), tools::InputRefused);
    EXPECT_EQ(h.sendField(), "QQQ#QX1#");
    EXPECT_EQ(form().PendingCommand(), 201);

    Request failed = request("", 200, 3);
    failed.build = []() -> std::string { throw tools::ConversionError("'x' is not a valid integer value"); };
    EXPECT_THROW(send(failed), tools::ConversionError);
    EXPECT_EQ(h.sendField(), "");
    EXPECT_EQ(form().PendingCommand(), 201);
    EXPECT_EQ(form().TimeoutKind(), 2);
    EXPECT_EQ(peer.readUntilQuiet(50ms, 300ms), "");
}

TEST_F(Exchange, TestAndFactoryRecordKindsLeaveTheReplyTimerAlone) {
    send(request("QQQ#AV0O:100.0#", 0, 0, Request::Kind::Test));
    EXPECT_EQ(line(15), "QQQ#AV0O:100.0#");
    EXPECT_EQ(form().PendingCommand(), 0);
    EXPECT_EQ(form().TimeoutKind(), 0);
    EXPECT_FALSE(form().Timer3->Enabled());

    send(request("TAVRIK#PCBSN:00000000,001#", 0, 0, Request::Kind::FactoryRecord));
    EXPECT_EQ(line(26), "TAVRIK#PCBSN:00000000,001#");
    EXPECT_EQ(form().PendingCommand(), 200);
    EXPECT_EQ(form().TimeoutKind(), 0);
    EXPECT_FALSE(form().Timer3->Enabled());
}

// The real reply timeouts, grouped: they cost 1 and 3 seconds each.
TEST(ExchangeTimeouts, FirstHartRequestWaitsOneSecondLaterOnesThree) {
    PtyPeer peer; // a converter that never answers
    FormHarness h;
    h.openPort(peer);
    QElapsedTimer clock;
    clock.start();
    h.form().SendRequest(request("\x02", 100, 4, Request::Kind::Hart, true));
    ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 5000ms));
    EXPECT_GE(clock.elapsed(), 950);
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_EQ(h.messageTexts(), std::vector<QString>{"HART Command Timeout!"});
    EXPECT_EQ(h.messages()[0].kind, app::MessageKind::Plain);
    EXPECT_EQ(h.form().PendingCommand(), 100); // a timeout does not clear it
    h.takeMessages();

    // A standard request sets 3000 ms; the next HART request then waits that long.
    h.form().SendRequest(request("QQS#RESET#", 200, 3));
    h.form().Timer3->SetEnabled(false);
    clock.restart();
    h.form().SendRequest(request("\x02", 103, 4, Request::Kind::Hart, true));
    ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 5000ms));
    EXPECT_GE(clock.elapsed(), 2950);
    EXPECT_LT(clock.elapsed(), 3500);
    EXPECT_EQ(h.messageTexts(), std::vector<QString>{"HART Command Timeout!"});
}

TEST(ExchangeTimeouts, SecondRequestDoesNotExtendTheWaitAndALateReplyIsStillShown) {
    PtyPeer peer;
    FormHarness h;
    h.openPort(peer);
    QElapsedTimer clock;
    clock.start();
    h.form().SendRequest(request("QQQ#QX1#", 201, 2));
    testsupport::pumpFor(1000ms);
    h.form().SendRequest(request("QQS#RESET#", 200, 3));
    ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 5000ms));
    EXPECT_GE(clock.elapsed(), 2950);
    EXPECT_LT(clock.elapsed(), 3500);
    EXPECT_EQ(h.messageTexts(), std::vector<QString>{"Parameter Setting Timeout!"}); // the second one's kind
    EXPECT_EQ(h.form().PendingCommand(), 200);

    peer.write("RESET OK");
    ASSERT_TRUE(waitUntil([&] { return h.receiveField() == "RESET OK"; }, 3000ms));
    EXPECT_EQ(h.form().PendingCommand(), 0);
    testsupport::pumpFor(500ms);
    EXPECT_EQ(h.messages().size(), 1u); // one message only
}

// An observer added to the window (a window that polls over its port) hears each step of the
// exchange once the window's handler is done with it: the reply's reading, the decode, the timeout.
class HookLog : public app::ExchangeObserver {
public:
    void frameSent(std::span<const uint8_t>, int32_t pending, bool written) override {
        add("sent " + std::to_string(pending) + (written ? "" : " unwritten"));
    }
    void blockHandled(const traffic::Reading& reading, int32_t pending, bool decodes) override {
        add("handled " + std::to_string(pending) + " " + std::string(traffic::VerdictText(reading.verdict)) +
            (decodes ? " decodes" : ""));
    }
    void replyDecoded(int32_t pending, std::string_view error) override {
        add("decoded " + std::to_string(pending) + (error.empty() ? "" : ": " + std::string(error)));
    }
    void timeoutHandled(std::string_view message) override { add("timeout " + std::string(message)); }
    void add(std::string event) { events += (events.empty() ? "" : ", ") + event; }
    std::string events;
};

TEST_F(Exchange, AnObserverHearsEachStepOnceTheWindowIsDoneWithIt) {
    // The commissioning windows' job queue, beside the log: it must find the exchange taken from the
    // frame until its reply or timeout, also for an output test, which starts no reply timer.
    app::JobExchange& client = form().Jobs();
    struct Row {
        const char* what;
        Request request;
        const char* reply; // nullptr: none comes
        const char* events;
    };
    const Row rows[] = {
        {"query", Request::configurationQuery(profile::Query::QX1),
         "QQQ#QX1:ADR:007,BA1:40,BA2:41,MD:1,JTM:025#", "sent 201, handled 201 good decodes, decoded 201"},
        {"query whose decoder stops", Request::configurationQuery(profile::Query::QX1),
         "QQQ#QX1:ADR:007,BA1:x0,BA2:41,MD:1,JTM:025#",
         "sent 201, handled 201 good decodes, decoded 201: 'x' is not a valid integer value"},
        {"set command", Request::setFrame("QQS#MD:1#"), "QQS#MD:OK#", "sent 200, handled 200 acknowledged"},
        {"no reply", Request::setFrame("QQS#MD:1#"), nullptr, "sent 200, timeout Parameter Setting Timeout!"},
        {"output test",
         Request::unrecorded(Request::Kind::Test, [] { return std::string("QQQ#AV0O:12.000#"); }),
         "QQQ#AV0O:OK#", "sent 200, handled 200 acknowledged"}, // the pending command left as it was
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        HookLog log;
        form().AddObserver(log);
        ASSERT_TRUE(client.exchangeFree());
        send(row.request);
        line(form().LastRequest().size());
        EXPECT_FALSE(client.exchangeFree()) << "free while the frame awaits its reply";
        if (row.reply) {
            peer.write(row.reply);
        }
        EXPECT_TRUE(waitUntil([&] { return !form().AwaitingReply() && client.exchangeFree(); }, 4000ms));
        testsupport::pumpFor(50ms);
        form().RemoveObserver(log);
        EXPECT_EQ(log.events, row.events);
        h.takeMessages();
    }
}

} // namespace
