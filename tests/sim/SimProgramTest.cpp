// The vx538-sim program on its pseudo-terminal: start-up output, the link, a clean stop, the traffic
// log, each fault switch once, and switching faults while it runs through the control FIFO.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include "sim/Instrument.h"
#include "tests/sim/Bytes.h"
#include "tests/support/SimProcess.h"

using namespace simtest;
using namespace std::chrono_literals;
using testsupport::SimLine;
using testsupport::SimProcess;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kQuery = "QQQ#QX1#";
const std::string kQueryReply = "QQQ#QX1:ADR:001,BA1:30,BA2:30,MD:0,JTM:010#";
const std::string kIdentityQuery = hartFrame("02 80 00 00");
const std::string kRead = modbusFrame("01 03 00 00 00 12");

std::string identityReply() {
    sim::Instrument instrument;
    return *instrument.handle(kIdentityQuery, 0);
}

// A file or FIFO path of this test's own in the temporary folder.
std::string scratch(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("vx538-sim-test-" + std::to_string(getpid()) + "-" + name))
        .string();
}

std::string ask(SimLine& line, const std::string& request, std::size_t expected) {
    line.write(request);
    return line.readAtLeast(expected, 3s);
}

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

} // namespace

TEST(SimProgram, PrintsItsTerminalLinksItAndStopsCleanlyOnSigterm) {
    const std::string link = scratch("link");
    SimProcess sim(VX538_SIM_PATH, {"--link", link});
    EXPECT_TRUE(sim.path().starts_with("/dev/pts/")) << sim.path();
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.path());
    {
        SimLine line(link);
        EXPECT_EQ(ask(line, kQuery, kQueryReply.size()), kQueryReply);
    }
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link))) << "link left behind";
}

TEST(SimProgram, LogsEveryFrameInAndOutWithTimeHexAndText) {
    const std::string log = scratch("log");
    std::filesystem::remove(log);
    {
        SimProcess sim(VX538_SIM_PATH, {"--log", log});
        SimLine line(sim.path());
        line.write("zz");
        EXPECT_EQ(ask(line, kQuery, kQueryReply.size()), kQueryReply);
        EXPECT_EQ(sim.stop(), 0);
    }
    std::ifstream file(log);
    std::stringstream text;
    text << file.rdbuf();
    const std::string content = text.str();
    // The garbage is logged as skipped, in one line or one per byte depending on how the reads fell.
    std::size_t skippedZ = 0;
    std::istringstream lines(content);
    for (std::string entry; std::getline(lines, entry);) {
        if (entry.find(" ms  skip ") != std::string::npos) {
            for (std::size_t at = entry.find(" 7A"); at != std::string::npos;
                 at = entry.find(" 7A", at + 1)) {
                ++skippedZ;
            }
        }
    }
    EXPECT_EQ(skippedZ, 2u) << content;
    EXPECT_NE(content.find(" ms  in text    51 51 51 23 51 58 31 23  |QQQ#QX1#|"), std::string::npos)
        << content;
    EXPECT_NE(content.find(" ms  out        51 51 51 23 51 58 31 3A"), std::string::npos) << content;
    EXPECT_NE(content.find("|" + kQueryReply + "|"), std::string::npos) << content;
    std::filesystem::remove(log);
}

TEST(SimProgram, SilentAnswersNothing) {
    SimProcess sim(VX538_SIM_PATH, {"--silent"});
    SimLine line(sim.path());
    line.write(kQuery);
    line.write(kIdentityQuery);
    EXPECT_EQ(line.readUntilQuiet(400ms, 1s), "");
}

TEST(SimProgram, DelayHoldsEveryReply) {
    SimProcess sim(VX538_SIM_PATH, {"--delay", "300"});
    SimLine line(sim.path());
    const auto start = Clock::now();
    EXPECT_EQ(ask(line, kQuery, kQueryReply.size()), kQueryReply);
    EXPECT_GE(msSince(start), 300);
}

TEST(SimProgram, SplitSendsEveryReplyInTwoPartsWithTheGapBetween) {
    SimProcess sim(VX538_SIM_PATH, {"--split", "250"});
    SimLine line(sim.path());
    line.write(kQuery);
    const std::string first = line.readAtLeast(1, 2s);
    const auto firstAt = Clock::now();
    ASSERT_FALSE(first.empty());
    EXPECT_LT(first.size(), kQueryReply.size());
    const std::string rest = line.readAtLeast(kQueryReply.size() - first.size(), 2s);
    EXPECT_GE(msSince(firstAt), 200);
    EXPECT_EQ(first + rest, kQueryReply);
}

TEST(SimProgram, CorruptSpoilsHartCheckBytesAndModbusCrcsOnly) {
    SimProcess sim(VX538_SIM_PATH, {"--corrupt"});
    SimLine line(sim.path());
    const std::string good = identityReply();
    const std::string hart = ask(line, kIdentityQuery, good.size());
    ASSERT_EQ(hart.size(), good.size());
    EXPECT_EQ(hart.substr(0, good.size() - 1), good.substr(0, good.size() - 1));
    EXPECT_NE(hart.back(), good.back()) << "check byte";
    const std::string modbus = ask(line, kRead, 41);
    ASSERT_EQ(modbus.size(), 41u);
    EXPECT_EQ(modbus.substr(0, 3), hex("01 03 24"));
    EXPECT_FALSE(modbusCrcGood(modbus));
    EXPECT_EQ(ask(line, kQuery, kQueryReply.size()), kQueryReply) << "text replies are left alone";
}

TEST(SimProgram, NoisePutsGarbageBeforeEveryReply) {
    SimProcess sim(VX538_SIM_PATH, {"--noise"});
    SimLine line(sim.path());
    const std::string good = identityReply();
    line.write(kIdentityQuery);
    const std::string noisy = line.readUntilQuiet(200ms, 3s);
    ASSERT_GT(noisy.size(), good.size());
    EXPECT_LE(noisy.size(), good.size() + 4);
    EXPECT_TRUE(noisy.ends_with(good));
}

TEST(SimProgram, BaudPacesEveryReplyByteAtItsCharacterTime) {
    // The analog output block is 205 characters: at 9600 baud, 213 ms of line time (8N1) or 235 ms
    // with a parity bit. Nothing goes out early, so the whole block cannot be in any sooner.
    const std::string query = "QQQ#QX2#";
    const struct {
        std::vector<std::string> options;
        double atLeastMs;
    } cases[] = {
        {{"--baud", "9600"}, 205 * 10 / 9.6},
        {{"--baud", "9600", "--parity", "even"}, 205 * 11 / 9.6},
    };
    for (const auto& c : cases) {
        SimProcess sim(VX538_SIM_PATH, c.options);
        SimLine line(sim.path());
        const auto start = Clock::now();
        line.write(query);
        const std::string reply = line.readAtLeast(205, 5s);
        const long long took = msSince(start);
        EXPECT_EQ(reply.size(), 205u);
        EXPECT_TRUE(reply.starts_with("QQQ#QX2:DL:0,DA1:")) << reply;
        EXPECT_GE(took, c.atLeastMs) << c.options.back();
        EXPECT_EQ(sim.stop(), 0);
    }
    // A speed or parity the line cannot have stops the program before it prints its terminal.
    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{"--baud", "0"}, {"--baud", "96x"}, {"--parity", "mark"}}) {
        EXPECT_THROW(SimProcess(VX538_SIM_PATH, wrong), std::runtime_error) << wrong.back();
    }
}

TEST(SimProgram, HangupAfterClosesTheLineAfterThatManyRequests) {
    SimProcess sim(VX538_SIM_PATH, {"--hangup-after", "2"});
    SimLine line(sim.path());
    EXPECT_EQ(ask(line, kQuery, kQueryReply.size()), kQueryReply);
    EXPECT_FALSE(line.hungUp(100ms));
    EXPECT_EQ(ask(line, kQuery, kQueryReply.size()), kQueryReply) << "the last request is still answered";
    EXPECT_TRUE(line.hungUp(3s));
    EXPECT_EQ(sim.waitForExit(3s), 0);
}

TEST(SimProgram, ControlFifoSwitchesFaultsWhileRunning) {
    const std::string fifo = scratch("control");
    std::filesystem::remove(fifo);
    SimProcess sim(VX538_SIM_PATH, {"--control", fifo});
    SimLine line(sim.path());
    const auto control = [&](const std::string& command) { std::ofstream(fifo) << command << "\n"; };
    EXPECT_EQ(ask(line, kQuery, kQueryReply.size()), kQueryReply);
    control("silent on");
    line.write(kQuery);
    EXPECT_EQ(line.readUntilQuiet(400ms, 1s), "");
    control("no such switch");
    control("silent off");
    control("delay 250");
    const auto start = Clock::now();
    EXPECT_EQ(ask(line, kQuery, kQueryReply.size()), kQueryReply);
    EXPECT_GE(msSince(start), 250);
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(fifo)) << "the FIFO it made is removed";
}

// A bench meter on its own terminal, its leads in output 3's loop: the output's test value through
// its range with the output's error, read in amperes; moved to another output and the error
// adjusted through the control FIFO while it runs.
TEST(SimProgram, TheMeterReadsTheCurrentOfTheOutputItsLeadsAreOn) {
    const std::string meterLink = scratch("meter");
    const std::string fifo = scratch("meter-control");
    std::filesystem::remove(fifo);
    SimProcess sim(VX538_SIM_PATH, {"--meter", meterLink, "--meter-output", "3", "--output-error", "3:0.2",
                                    "--control", fifo});
    ASSERT_TRUE(std::filesystem::is_symlink(meterLink));
    SimLine line(sim.path());
    EXPECT_EQ(ask(line, "QQS#MD:2#", 10), "QQS#MD:OK#");
    EXPECT_EQ(ask(line, "QQQ#AV3O:50.0#", 12), "QQQ#AV3O:OK#");

    SimLine meter(meterLink);
    const auto measure = [&] {
        const std::string reply = ask(meter, "MEAS:CURR:DC?\n", 14);
        EXPECT_TRUE(reply.ends_with("\r\n")) << reply;
        return std::strtod(reply.c_str(), nullptr);
    };
    const std::string identity = ask(meter, "*IDN?\n", 1);
    EXPECT_TRUE(identity.starts_with("VX538-SIM,")) << identity;
    EXPECT_NEAR(measure(), 0.0122, 2e-6) << "12 mA and the output's 0.2 mA";

    const auto control = [&](const std::string& command) { std::ofstream(fifo) << command << "\n"; };
    control("meter-output 0");
    EXPECT_NEAR(measure(), 0.004, 2e-6) << "output 0 has no test value: 4 mA";
    control("meter-output 3");
    control("output-error 3:0.01");
    EXPECT_NEAR(measure(), 0.01201, 2e-6) << "after the adjustment";
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(meterLink))) << "link left behind";
}
