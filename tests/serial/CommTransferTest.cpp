// Blocks received and requests written through the component, the test playing the converter.
#include <algorithm>
#include <thread>

#include <QElapsedTimer>

#include "tests/serial/CommFixture.h"

namespace serialtest {
namespace {

std::string pattern(std::size_t size, unsigned seed = 0) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>((i * 7 + seed) % 251);
    }
    return s;
}

TEST_F(CommTest, BurstOfThirtyBytesIsOneBlockWithAZeroAfterIt) {
    comm.SetReadIntervalTimeout(400);
    openAndSettle();
    const std::string burst = "QX1:ADR:01;BA1:3;BA2:3;MD:1;#";
    ASSERT_EQ(burst.size(), 29u);
    pty.write(burst + "\n");
    ASSERT_TRUE(waitForBlocks(1));
    testsupport::pumpFor(450ms); // one more read interval: nothing else may follow
    ASSERT_EQ(log.blocks.size(), 1u);
    EXPECT_EQ(log.blocks[0], burst + "\n");
    EXPECT_TRUE(log.everyBlockZeroTerminated);
}

TEST_F(CommTest, EveryByteValuePassesUntranslated) {
    openAndSettle();
    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i) {
        all[i] = static_cast<char>(i);
    }
    pty.write(all);
    ASSERT_TRUE(waitForBlocks(1));
    ASSERT_EQ(log.blocks.size(), 1u);
    EXPECT_EQ(log.blocks[0], all);
}

TEST_F(CommTest, ThreeThousandBytesArriveAs2048And952) {
    openAndSettle();
    const std::string data = pattern(3000);
    pty.write(data);
    ASSERT_TRUE(waitForBlocks(2));
    ASSERT_EQ(log.blocks.size(), 2u);
    EXPECT_EQ(log.blocks[0].size(), 2048u);
    EXPECT_EQ(log.blocks[1].size(), 952u);
    EXPECT_EQ(log.joined(), data);
    EXPECT_TRUE(log.everyBlockZeroTerminated);
}

// A long stream reaches the handler whole and in order, in full blocks, each one zero-terminated;
// blocks queued while the main thread sleeps must not be lost or reordered. (The interval is long, so
// a busy machine cannot split a block by stalling the feeder.)
TEST_F(CommTest, ALongStreamArrivesInFullBlocksInOrder) {
    comm.SetReadIntervalTimeout(1000);
    openAndSettle();
    const std::string data = pattern(50 * 2048, 5);
    std::thread feeder([&] { pty.write(data); });
    const bool complete = waitForBlocks(50, 10000ms);
    feeder.join();
    ASSERT_TRUE(complete);
    ASSERT_EQ(log.blocks.size(), 50u);
    for (std::size_t i = 0; i < log.blocks.size(); ++i) {
        EXPECT_EQ(log.blocks[i].size(), 2048u) << "block " << i;
    }
    EXPECT_TRUE(log.joined() == data);
    EXPECT_TRUE(log.everyBlockZeroTerminated);
    EXPECT_EQ(std::count(log.order.begin(), log.order.end(), "data"), 50);
}

// A handler that runs an event loop of its own (a message box, say) still gets the blocks queued
// behind the one it is handling, in order, while its loop runs.
TEST_F(CommTest, BlocksBehindAHandlerThatRunsAnEventLoopReachIt) {
    std::vector<std::string> seenInsideFirst;
    bool inFirst = false;
    comm.OnReceiveData = [&](serial::TComm*, const uint8_t* buffer, uint16_t length) {
        log.blocks.emplace_back(reinterpret_cast<const char*>(buffer), length);
        if (log.blocks.size() == 1) {
            inFirst = true;
            testsupport::waitUntil([&] { return log.blocks.size() >= 2; });
            seenInsideFirst = log.blocks;
            inFirst = false;
        } else {
            EXPECT_TRUE(inFirst) << "block " << log.blocks.size()
                                 << " arrived after the first handler returned";
        }
    };
    openAndSettle();
    // Two full blocks and nothing after them: no later arrival could wake the inner loop instead.
    const std::string data = pattern(2 * 2048, 9);
    pty.write(data);
    ASSERT_TRUE(waitForBlocks(2));
    ASSERT_EQ(seenInsideFirst.size(), 2u);
    EXPECT_EQ(seenInsideFirst[0] + seenInsideFirst[1], data);
}

TEST_F(CommTest, BurstsFartherApartThanTheIntervalAreSeparateBlocks) {
    openAndSettle();
    pty.write("first");
    std::this_thread::sleep_for(150ms); // three read intervals of silence
    pty.write("second");
    std::this_thread::sleep_for(150ms);
    pty.write("third");
    ASSERT_TRUE(waitForBlocks(3));
    EXPECT_EQ(log.blocks, (std::vector<std::string>{"first", "second", "third"}));
}

TEST_F(CommTest, PausesShorterThanTheIntervalStayInOneBlock) {
    comm.SetReadIntervalTimeout(300);
    openAndSettle();
    for (int i = 0; i < 5; ++i) {
        pty.write("part" + std::to_string(i) + ";");
        std::this_thread::sleep_for(30ms);
    }
    ASSERT_TRUE(waitForBlocks(1));
    testsupport::pumpFor(350ms);
    ASSERT_EQ(log.blocks.size(), 1u);
    EXPECT_EQ(log.blocks[0], "part0;part1;part2;part3;part4;");
}

// A line that never falls silent still yields blocks when a total timeout bounds them.
TEST_F(CommTest, TotalReadTimeoutEndsABlockOnABusyLine) {
    comm.SetReadIntervalTimeout(500);
    comm.SetReadTotalTimeoutConstant(100);
    openAndSettle();
    std::string sent;
    for (int i = 0; i < 20; ++i) {
        pty.write("x");
        sent += 'x';
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(testsupport::waitUntil([&] { return log.joined().size() == sent.size(); }));
    EXPECT_GE(log.blocks.size(), 2u);
}

// With every read timeout off a block is what the driver holds when the reader wakes: a short reply
// is not kept back waiting for a full buffer.
TEST_F(CommTest, AllReadTimeoutsOffDeliversWhatIsThere) {
    comm.SetReadIntervalTimeout(0);
    openAndSettle();
    pty.write("ok");
    ASSERT_TRUE(waitForBlocks(1, 2000ms));
    EXPECT_EQ(log.joined(), "ok");
}

TEST_F(CommTest, IntervalChangeWhileOpenAppliesToTheNextBlock) {
    openAndSettle();
    comm.SetReadIntervalTimeout(400);
    pty.write("a");
    std::this_thread::sleep_for(150ms); // longer than the old interval, shorter than the new one
    pty.write("b");
    ASSERT_TRUE(waitForBlocks(1));
    testsupport::pumpFor(450ms);
    EXPECT_EQ(log.blocks, std::vector<std::string>{"ab"});
}

TEST_F(CommTest, IgnoreNullCharDropsZeroBytes) {
    comm.SetIgnoreNullChar(true);
    openAndSettle();
    pty.write(std::string("a\0b\0\0c", 6));
    ASSERT_TRUE(waitForBlocks(1));
    EXPECT_EQ(log.blocks[0], "abc");
    comm.SetIgnoreNullChar(false);
    pty.write(std::string("d\0e", 3));
    ASSERT_TRUE(waitForBlocks(2));
    EXPECT_EQ(log.blocks[1], std::string("d\0e", 3));
}

TEST_F(CommTest, SendDataWritesEachRequestFullyAndInOrder) {
    openAndSettle();
    std::string expected;
    for (int i = 0; i < 20; ++i) {
        const std::string request = "QQQ#K" + std::to_string(i) + "#";
        ASSERT_TRUE(sendText(request));
        expected += request;
    }
    const std::string big = pattern(65535, 3);
    std::string reused = big;
    ASSERT_TRUE(comm.SendData(reused.data(), 65535));
    reused.assign(reused.size(), 'Z'); // the caller's buffer is free as soon as SendData returns
    expected += big;
    EXPECT_EQ(pty.readAtLeast(expected.size(), 5000ms), expected);
}

TEST_F(CommTest, SendDataWithLengthZeroWritesNothing) {
    openAndSettle();
    EXPECT_FALSE(comm.SendData("abc", 0));
    ASSERT_TRUE(sendText("!"));
    EXPECT_EQ(pty.readUntilQuiet(100ms), "!"); // the marker comes alone: nothing came before it
}

TEST_F(CommTest, SendDataEmptyOnceAfterOpenAndOnceAfterEachDrainedRun) {
    openAndSettle();
    testsupport::pumpFor(100ms);
    EXPECT_EQ(log.sendEmpty, 1);
    EXPECT_TRUE(comm.IsSendQueueEmpty());

    // Three requests larger than the pseudo-terminal holds: the writer stalls on the first until
    // the test reads, so all three form one run.
    std::string expected;
    for (unsigned i = 0; i < 3; ++i) {
        const std::string chunk = pattern(30000, i);
        ASSERT_TRUE(comm.SendData(chunk.data(), static_cast<uint16_t>(chunk.size())));
        expected += chunk;
    }
    EXPECT_FALSE(comm.IsSendQueueEmpty());
    EXPECT_EQ(pty.readAtLeast(expected.size(), 5000ms), expected);
    ASSERT_TRUE(testsupport::waitUntil([&] { return log.sendEmpty == 2; }));
    EXPECT_TRUE(comm.IsSendQueueEmpty());

    ASSERT_TRUE(sendText("one more"));
    EXPECT_EQ(pty.readAtLeast(8, 2000ms), "one more");
    ASSERT_TRUE(testsupport::waitUntil([&] { return log.sendEmpty == 3; }));
    testsupport::pumpFor(100ms);
    EXPECT_EQ(log.sendEmpty, 3);
}

TEST_F(CommTest, RequestsQueuedAtCloseAreNeverWritten) {
    openAndSettle();
    std::string stream;
    for (unsigned i = 0; i < 20; ++i) {
        const std::string chunk = pattern(60000, i);
        ASSERT_TRUE(comm.SendData(chunk.data(), static_cast<uint16_t>(chunk.size())));
        stream += chunk;
    }
    QElapsedTimer closing;
    closing.start();
    comm.ClosePort();
    EXPECT_LT(closing.elapsed(), 1000); // the stalled writer woke on the close event at once
    EXPECT_TRUE(comm.IsSendQueueEmpty());
    const std::string written = pty.readUntilQuiet(200ms);
    EXPECT_LT(written.size(), stream.size());
    EXPECT_EQ(written, stream.substr(0, written.size()));
    comm.OpenPort(); // a new writer starts with an empty queue
    EXPECT_EQ(pty.readUntilQuiet(200ms), "");
}

// With XON/XOFF output flow on, the other side's stop character holds our output until its start
// character; both characters are the component's own.
TEST_F(CommTest, XoffFromTheLineHoldsOutputUntilXon) {
    comm.SetOutx_XonXoffFlow(true);
    comm.SetXonChar('{');
    comm.SetXoffChar('}');
    openAndSettle();
    // The line takes characters in order: once "x" is delivered, the stop character before it was
    // consumed as flow control, not delivered as data.
    pty.write("}x");
    ASSERT_TRUE(waitForBlocks(1));
    EXPECT_EQ(log.blocks[0], "x");
    ASSERT_TRUE(sendText("held"));
    EXPECT_EQ(pty.readUntilQuiet(200ms, 400ms), "");
    pty.write("{");
    EXPECT_EQ(pty.readAtLeast(4, 2000ms), "held");
    testsupport::pumpFor(100ms);
    EXPECT_EQ(log.blocks.size(), 1u);
}

// A write that cannot make progress within its total timeout gives up and asks for a hang-up once;
// the writer then refuses further requests instead of trying again forever.
TEST_F(CommTest, StalledWriteGivesUpWithOneHangupRequest) {
    comm.SetWriteTotalTimeoutConstant(100);
    openAndSettle();
    const std::string chunk = pattern(60000);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(comm.SendData(chunk.data(), static_cast<uint16_t>(chunk.size())));
    }
    ASSERT_TRUE(testsupport::waitUntil([&] { return log.hangups == 1; }));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !comm.SendData("x", 1); }));
    testsupport::pumpFor(200ms);
    EXPECT_EQ(log.hangups, 1);
    comm.ClosePort();
}

} // namespace
} // namespace serialtest

namespace serialtest {
namespace {

// While a block is handled, the component says when its last byte came: before the write that ended
// it plus the silence, never after the handler began; outside the handler it says nothing.
TEST_F(CommTest, ABlockCarriesTheTimeOfItsLastByte) {
    comm.SetReadIntervalTimeout(600); // long enough that a busy machine cannot split the two writes
    std::vector<std::chrono::steady_clock::duration> ages;
    std::vector<std::chrono::steady_clock::time_point> lastBytes;
    comm.OnReceiveData = [&](serial::TComm* sender, const uint8_t* buffer, uint16_t length) {
        log.blocks.emplace_back(reinterpret_cast<const char*>(buffer), length);
        const auto lastByte = sender->LastByteTime();
        ASSERT_TRUE(lastByte.has_value());
        lastBytes.push_back(*lastByte);
        ages.push_back(std::chrono::steady_clock::now() - *lastByte);
    };
    openAndSettle();
    EXPECT_FALSE(comm.LastByteTime().has_value());
    const auto before = std::chrono::steady_clock::now();
    pty.write("first part;");
    std::this_thread::sleep_for(50ms);
    const auto lastWrite = std::chrono::steady_clock::now();
    pty.write("second part");
    ASSERT_TRUE(waitForBlocks(1));
    ASSERT_EQ(lastBytes.size(), 1u);
    EXPECT_EQ(log.blocks[0], "first part;second part");
    EXPECT_GE(lastBytes[0], lastWrite) << "the last byte, not the first";
    EXPECT_GE(lastBytes[0], before);
    EXPECT_GE(ages[0], 600ms) << "the block was delivered after the silence that ended it";
    EXPECT_FALSE(comm.LastByteTime().has_value());
}

} // namespace
} // namespace serialtest

namespace serialtest {
namespace {

// The time a block was handed to the writer comes before its bytes reach the other side; a refused
// block leaves it as it was.
TEST_F(CommTest, TheTimeABlockWasHandedOverPrecedesItsBytesOnTheLine) {
    EXPECT_FALSE(comm.LastSendTime().has_value());
    EXPECT_FALSE(comm.SendData("x", 1)) << "the port is closed";
    EXPECT_FALSE(comm.LastSendTime().has_value());
    openAndSettle();
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(comm.SendData("ping", 4));
    const auto handedOver = comm.LastSendTime();
    ASSERT_TRUE(handedOver.has_value());
    EXPECT_EQ(pty.readAtLeast(4, 2000ms), "ping");
    EXPECT_GE(*handedOver, before);
    EXPECT_LE(*handedOver, std::chrono::steady_clock::now());
}

} // namespace
} // namespace serialtest
