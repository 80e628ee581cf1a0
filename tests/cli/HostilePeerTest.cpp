// vx538 against network peers that misbehave on purpose (tests/support/hostile_peer.py, one mode a
// row): whatever they send, ping, watch and monitor hold their memory under 64 MB, keep their time
// limits, never take a subnegotiation's body for a frame, and end with the documented exit code and
// the reason.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/PeerProcess.h"
#include "tests/support/ProgramRun.h"

namespace {

using namespace std::chrono_literals;
using testsupport::ProgramResult;

constexpr long kMemoryBoundKb = 64 * 1024;
// Output beyond this is read and dropped: a flood of noise rows costs the test nothing.
constexpr std::size_t kKeptOutput = 1 << 20;

struct Expected {
    int exit;
    const char* words; // part of standard error
};

struct Row {
    const char* mode;
    const char* scheme;
    Expected ping;    // --timeout 1000
    Expected watch;   // --count 2
    Expected monitor; // --duration 3
};

// How long a run may take at most, for a limit that the run's own must hold: a generous margin for
// a start-up on a loaded machine, never a race.
std::chrono::milliseconds allowed(std::chrono::milliseconds own) {
    return own + own / 5 + 2000ms;
}

ProgramResult run(const std::vector<std::string>& arguments) {
    testsupport::ProgramStreams streams;
    streams.keep = kKeptOutput;
    return testsupport::RunProgram(VX538_PATH, arguments, streams, 60s);
}

TEST(HostilePeer, EachMisbehaviourCostsBoundedMemoryAndTimeAndEndsAsDocumented) {
    const char* subnegotiation = "subnegotiation longer than";
    const char* flood = "control traffic (negotiations or notifications) faster than";
    const char* unread = "does not read what is sent to it";
    const char* ended = "the connection was ended: the server"; // flooding, or not reading, whichever shows first
    const Row rows[] = {
        {"random", "socket", {5, "not its reply"}, {5, "cannot be read"}, {0, ""}},
        {"iac-iac", "rfc2217", {5, "not its reply"}, {5, "cannot be read"}, {0, ""}},
        {"sub-endless", "rfc2217", {4, subnegotiation}, {4, subnegotiation}, {4, subnegotiation}},
        {"sub-modbus", "rfc2217", {4, subnegotiation}, {4, subnegotiation}, {4, subnegotiation}},
        {"will-storm", "rfc2217", {4, ended}, {4, ended}, {4, ended}},
        {"will-unread", "rfc2217", {4, unread}, {4, unread}, {4, unread}},
        {"notify-storm", "rfc2217", {4, flood}, {4, flood}, {4, flood}},
        {"notify-trickle", "rfc2217", {4, "no reply to the communication query within 1000 ms"},
         {4, "no reply to QX1"}, {0, ""}},
        {"greeting", "socket", {5, "not its reply"}, {4, "connection dropped"}, {4, "connection dropped"}},
        {"greeting", "rfc2217", {3, "saying \"port busy\""}, {3, "saying \"port busy\""},
         {3, "saying \"port busy\""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.mode) + " on " + row.scheme + "://");
        testsupport::PeerProcess peer(testsupport::DebianPython(),
                                      {testsupport::SupportFile("hostile_peer.py"), row.mode});
        const std::string url = peer.url(row.scheme);
        const auto check = [&](const char* command, const ProgramResult& r, const Expected& e) {
            SCOPED_TRACE(command);
            EXPECT_EQ(r.status, e.exit) << r.err;
            EXPECT_NE(r.err.find(e.words), std::string::npos) << r.err;
            EXPECT_LT(r.maxResidentKb, kMemoryBoundKb);
        };

        const ProgramResult ping = run({"-p", url, "--timeout", "1000", "ping"});
        check("ping", ping, row.ping);
        EXPECT_LT(ping.elapsed, allowed(1000ms));
        if (std::string(row.ping.words).starts_with("no reply")) {
            EXPECT_GE(ping.elapsed, 1000ms); // the timeout itself, not less
        }

        const ProgramResult watch =
            run({"-p", url, "--timeout", "1000", "watch", "--count", "2", "--interval", "300"});
        check("watch", watch, row.watch);

        const ProgramResult monitor = run({"-p", url, "monitor", "--duration", "3"});
        check("monitor", monitor, row.monitor);
        EXPECT_LT(monitor.elapsed, allowed(3000ms));
        if (row.monitor.exit == 0) {
            EXPECT_GE(monitor.elapsed, 3000ms);
        }
        // No frame is ever found inside a subnegotiation: the request hidden in one is never shown.
        EXPECT_EQ(monitor.out.find("01 03 00 02 00 04 E5 C9"), std::string::npos);
    }
}

} // namespace
