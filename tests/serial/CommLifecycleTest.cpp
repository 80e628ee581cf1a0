// Opening, failing to open, closing, hang-ups and destruction: nothing may be left behind.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <QElapsedTimer>
#include <QPointer>

#include "serial/PosixPort.h"
#include "tests/serial/CommFixture.h"
#include "tests/support/LineReadback.h"
#include "tests/support/ProcProbe.h"

namespace serialtest {
namespace {

using testsupport::openFdCount;
using testsupport::threadIds;

std::string openError(serial::TComm& comm) {
    try {
        comm.OpenPort();
    } catch (const serial::ECommsError& e) {
        return e.what();
    }
    return "";
}

// Every thread of `after` that `before` does not have.
std::vector<int> newThreads(const std::vector<int>& before, const std::vector<int>& after) {
    std::vector<int> added;
    for (int tid : after) {
        if (std::find(before.begin(), before.end(), tid) == before.end()) {
            added.push_back(tid);
        }
    }
    return added;
}

// Some sanitizer runtimes start a helper thread at the first thread creation of the process; that
// one must not be counted as the component's.
std::vector<int> threadsBeforeOpen() {
    std::thread([] {}).join();
    return threadIds();
}

// A thread counts as idle when it sleeps and is not scheduled over a span.
bool staysAsleep(int tid, std::chrono::milliseconds span) {
    const int64_t before = testsupport::contextSwitches(tid);
    testsupport::pumpFor(span);
    return testsupport::threadState(tid) == 'S' && testsupport::contextSwitches(tid) == before;
}

TEST_F(CommTest, SecondOpenFailsAndTheFirstKeepsWorking) {
    openAndSettle();
    comm.SetCommName("/dev/ttyNotTheOpenOne");
    try {
        comm.OpenPort();
        ADD_FAILURE() << "a second open succeeded";
    } catch (const serial::ECommsError& e) {
        EXPECT_STREQ(e.what(), "This serial port already opened");
        EXPECT_EQ(e.DevicePath(), pty.slavePath()); // the port that is open, not the name set since
        EXPECT_FALSE(e.Reason().empty());
    }
    EXPECT_TRUE(comm.IsOpen());
    ASSERT_TRUE(sendText("ping"));
    EXPECT_EQ(pty.readAtLeast(4, 2000ms), "ping");
    pty.write("pong");
    ASSERT_TRUE(waitForBlocks(1));
    EXPECT_EQ(log.blocks[0], "pong");
}

struct FailingName {
    std::string name;
    const char* message;
    std::string path; // the device the error names
    int error;        // the errno it carries
};

TEST_F(CommTest, FailedOpensHoldNothingSayWhereAndWhyAndALaterOpenWorks) {
    char regularFile[] = "/tmp/serial_test_regular_XXXXXX";
    const int fileFd = ::mkstemp(regularFile);
    ASSERT_GE(fileFd, 0);
    ::close(fileFd);
    serial::TComm holder; // another program that holds the port
    holder.SetCommName(pty.slavePath());
    holder.OpenPort();
    const FailingName cases[] = {
        {"/dev/ttyDoesNotExist", "Error opening serial port", "/dev/ttyDoesNotExist", ENOENT},
        {"ttyDoesNotExistEither", "Error opening serial port", "/dev/ttyDoesNotExistEither", ENOENT},
        {"COM256", "Error opening serial port", "/dev/ttyS255", ENOENT}, // no /dev/ttyS255 here
        {"/tmp", "Error opening serial port", "/tmp", EISDIR},
        {pty.slavePath(), "Error opening serial port", pty.slavePath(), EBUSY},
        {regularFile, "File handle is not a comm handle ", regularFile, ENOTTY},
        // A character device, but no terminal.
        {"/dev/null", "File handle is not a comm handle ", "/dev/null", ENOTTY},
    };
    const int fds = openFdCount();
    const auto threads = threadIds().size();
    for (const FailingName& c : cases) {
        SCOPED_TRACE(c.name);
        comm.SetCommName(c.name);
        try {
            comm.OpenPort();
            ADD_FAILURE() << "opened";
        } catch (const serial::ECommsError& e) {
            EXPECT_STREQ(e.what(), c.message);
            EXPECT_EQ(e.DevicePath(), c.path);
            EXPECT_EQ(e.ErrorNumber(), c.error);
            EXPECT_EQ(e.Reason(), serial::openFailureReason(c.error));
        }
        EXPECT_FALSE(comm.IsOpen());
        EXPECT_EQ(openFdCount(), fds);
        EXPECT_EQ(threadIds().size(), threads);
    }
    struct stat st {};
    ASSERT_EQ(::stat(regularFile, &st), 0);
    EXPECT_EQ(st.st_size, 0); // nothing was written into the file
    ::unlink(regularFile);
    EXPECT_NE(::stat("/dev/ttyDoesNotExist", &st), 0); // and no device file was created

    holder.ClosePort();
    comm.SetCommName(pty.slavePath());
    EXPECT_EQ(openError(comm), "");
    EXPECT_TRUE(comm.IsOpen());
}

// Each errno a user meets at an open gets words that say what to do; the rest the system's words.
TEST(OpenFailureReason, NamesTheCauseAndTheRemedy) {
    struct Case {
        int error;
        const char* start;
        const char* alsoHas;
    };
    const Case cases[] = {
        {ENOENT, "not found", "/dev/ttyUSB0"},
        {ENOTDIR, "not found", "/dev/ttyUSB0"}, // a device's name taken for a folder
        {ENODEV, "not found", "/dev/serial/by-id/"},
        {ENXIO, "not found", nullptr},
        {EACCES, "permission denied", "dialout"},
        {EPERM, "permission denied", "dialout"},
        {EBUSY, "busy", "another program"},
        {ENOTTY, "not a terminal", nullptr},
        {EISDIR, "this path is a folder", nullptr},
        {EIO, "the device does not answer", "no hardware"},
        {EMFILE, "Too many open files", nullptr},
    };
    for (const Case& c : cases) {
        const std::string reason = serial::openFailureReason(c.error);
        EXPECT_TRUE(reason.starts_with(c.start)) << c.error << ": " << reason;
        if (c.alsoHas) {
            EXPECT_NE(reason.find(c.alsoHas), std::string::npos) << c.error << ": " << reason;
        }
    }
    EXPECT_EQ(serial::openFailureReason(0), "");
}

// Running out of descriptors after the port opened: the event cannot be created, and the port is
// released again, settings and exclusivity included.
TEST_F(CommTest, NoDescriptorLeftForTheEventReleasesThePort) {
    ASSERT_TRUE(testsupport::setCookedLine(pty.masterFd()));
    // Walk the failing paths once with descriptors to spare: a sanitizer checking dynamic types
    // needs descriptors of its own the first time it meets a type, and remembers it afterwards.
    comm.SetCommName("/dev/ttyDoesNotExist");
    EXPECT_EQ(openError(comm), "Error opening serial port");
    comm.SetCommName(pty.slavePath());
    comm.OpenPort();
    comm.ClosePort();
    ASSERT_TRUE(testsupport::setCookedLine(pty.masterFd()));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int first = ::dup(0);
    const int second = ::dup(0);
    ::close(second);
    ::close(first);
    const int fds = openFdCount();

    // The messages are read only once the limit is lifted again: the sanitizers' own checks need
    // descriptors too.
    const auto tryOpen = [&]() -> std::exception_ptr {
        try {
            comm.OpenPort();
        } catch (...) {
            return std::current_exception();
        }
        return nullptr;
    };
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(second); // room for the port, none for the event
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const std::exception_ptr eventError = tryOpen();
    tight.rlim_cur = static_cast<rlim_t>(first); // no room at all
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const std::exception_ptr openFailure = tryOpen();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);

    const auto message = [](const std::exception_ptr& error) -> std::string {
        try {
            if (error) {
                std::rethrow_exception(error);
            }
        } catch (const serial::ECommsError& e) {
            return e.what();
        }
        return "";
    };
    EXPECT_EQ(message(eventError), "Unable to create event");
    EXPECT_EQ(message(openFailure), "Error opening serial port");
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(openFdCount(), fds);
    EXPECT_TRUE(testsupport::readLine(pty.masterFd()).canonical);
    const int probe = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_FALSE(testsupport::isExclusive(probe));
    ::close(probe);
    EXPECT_EQ(openError(comm), "");
}

TEST_F(CommTest, ClosePortTwiceIsHarmless) {
    openAndSettle();
    comm.ClosePort();
    comm.ClosePort();
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(sendText("late"));
    EXPECT_EQ(pty.readUntilQuiet(100ms), "");
}

TEST_F(CommTest, HangupIsReportedOnceAndLeavesNothingSpinning) {
    const auto before = threadsBeforeOpen();
    openAndSettle();
    const auto portThreads = newThreads(before, threadIds());
    ASSERT_EQ(portThreads.size(), 2u); // reader and writer; a pseudo-terminal has no modem lines

    pty.closeMaster();
    ASSERT_TRUE(testsupport::waitUntil([&] { return log.hangups == 1; }));
    // The reader has ended; the writer sleeps on its queue.
    ASSERT_TRUE(testsupport::waitUntil([&] { return newThreads(before, threadIds()).size() == 1; }));
    const int writer = newThreads(before, threadIds()).front();
    EXPECT_TRUE(staysAsleep(writer, 300ms));

    // The writer meets the dead line too; the port still asks for its hang-up only once.
    EXPECT_TRUE(sendText("into the void"));
    testsupport::pumpFor(200ms);
    EXPECT_EQ(log.hangups, 1);
    EXPECT_TRUE(comm.IsOpen());

    comm.ClosePort();
    EXPECT_EQ(threadIds(), before);
    testsupport::PtyPeer fresh;
    comm.SetCommName(fresh.slavePath());
    comm.OpenPort();
    ASSERT_TRUE(sendText("back"));
    EXPECT_EQ(fresh.readAtLeast(4, 2000ms), "back");
    fresh.write("again");
    ASSERT_TRUE(waitForBlocks(1));
    EXPECT_EQ(log.blocks.back(), "again");
}

TEST_F(CommTest, HangupHandlerMayCloseThePort) {
    comm.OnRequestHangup = [this](serial::TComm* sender) {
        ++log.hangups;
        sender->ClosePort();
    };
    const auto before = threadsBeforeOpen();
    openAndSettle();
    pty.closeMaster();
    ASSERT_TRUE(testsupport::waitUntil([&] { return log.hangups == 1; }));
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(threadIds(), before);
}

TEST_F(CommTest, FiveHundredCyclesLeaveNoDescriptorThreadOrBlock) {
    // Settle the Qt side (first posted event, lazily created objects) before counting.
    openAndSettle();
    comm.ClosePort();
    comm.OnSendDataEmpty = nullptr;
    testsupport::pumpFor(20ms);
    const int fds = openFdCount();
    const auto threads = threadIds();
    std::size_t received = 0;
    comm.OnReceiveData = [&](serial::TComm*, const uint8_t*, uint16_t length) { received += length; };
    for (int i = 0; i < 500; ++i) {
        comm.OpenPort();
        pty.write("in");
        ASSERT_TRUE(sendText("out"));
        comm.ClosePort();
        if (i % 50 == 0) {
            QCoreApplication::processEvents();
        }
    }
    QCoreApplication::processEvents();
    pty.readUntilQuiet(50ms);
    EXPECT_EQ(openFdCount(), fds);
    EXPECT_EQ(threadIds(), threads);
    EXPECT_LE(received, 1000u);
}

// Destroying an open component closes it first; an event it never delivered frees its block, and
// nothing runs after it is gone.
TEST(CommDestruction, DestroyingAnOpenComponentClosesItFirst) {
    testsupport::PtyPeer pty;
    ASSERT_TRUE(testsupport::setCookedLine(pty.masterFd()));
    const int fds = openFdCount();
    const auto threads = threadsBeforeOpen();
    bool handlerRanAfterDestruction = false;
    bool destroyed = false;
    auto* comm = new serial::TComm;
    comm->SetCommName(pty.slavePath());
    comm->SetReadIntervalTimeout(20);
    comm->OnReceiveData = [&](serial::TComm*, const uint8_t*, uint16_t) {
        handlerRanAfterDestruction = destroyed;
    };
    comm->OnSendDataEmpty = [&](serial::TComm*) { handlerRanAfterDestruction = destroyed; };
    comm->OpenPort();
    pty.write("undelivered");
    // Let the reader take the bytes and end the block on its own timer, without turning the event
    // loop, so the block is still waiting in the event queue when the component goes.
    const int probe = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_TRUE(testsupport::waitUntil([&] {
        int pending = 0;
        return ::ioctl(probe, FIONREAD, &pending) == 0 && pending == 0;
    }));
    std::this_thread::sleep_for(100ms);
    QPointer<serial::TComm> guard(comm);
    delete comm;
    destroyed = true;
    EXPECT_TRUE(guard.isNull());
    testsupport::pumpFor(100ms);
    EXPECT_FALSE(handlerRanAfterDestruction);
    EXPECT_FALSE(testsupport::isExclusive(probe));
    EXPECT_TRUE(testsupport::readLine(pty.masterFd()).canonical);
    ::close(probe);
    EXPECT_EQ(openFdCount(), fds);
    EXPECT_EQ(threadIds(), threads);
}

} // namespace
} // namespace serialtest

namespace serialtest {
namespace {

// On a real UART (named by VX_TEST_UART, for instance /dev/ttyS0) the driver counts modem-line
// changes, so a third thread waits for them inside the driver; closing must still end it at once.
TEST(CommRealPort, ModemWatchThreadEndsPromptlyAtClose) {
    const char* name = std::getenv("VX_TEST_UART");
    if (!name) {
        GTEST_SKIP() << "set VX_TEST_UART to a real serial port to run this";
    }
    serial::TComm comm;
    comm.SetCommName(name);
    const auto before = threadsBeforeOpen();
    comm.OpenPort();
    EXPECT_EQ(newThreads(before, threadIds()).size(), 3u);
    testsupport::pumpFor(200ms);
    const auto portThreads = newThreads(before, threadIds());
    ASSERT_EQ(portThreads.size(), 3u); // the watcher is still there, blocked in the driver
    for (int tid : portThreads) {
        EXPECT_TRUE(staysAsleep(tid, 100ms));
    }
    QElapsedTimer closing;
    closing.start();
    comm.ClosePort();
    EXPECT_LT(closing.elapsed(), 500);
    EXPECT_EQ(threadIds(), before);
}

} // namespace
} // namespace serialtest
