// vx538's commissioning commands against vx538-sim, both as programs: the instrument found at its
// address, the mapping checked against the registers (and the working mode always put back), the
// variables watched into CSV with missed polls counted and never written as zeros.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "tests/support/Background.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/SimProcess.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Json = nlohmann::json;
using testsupport::ProgramResult;
using testsupport::SimProcess;

std::string readFile(const std::string& path) {
    return testsupport::ReadWholeFile(path);
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s) {
    return testsupport::WaitFor(condition, limit);
}

// vx538 running in the background, its output going to files.
class Background : public testsupport::Background {
public:
    Background(const std::string& dir, const std::vector<std::string>& arguments)
        : testsupport::Background(VX538_PATH, dir, arguments) {}
};

class Commissioning : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = (fs::temp_directory_path() / ("vx538-commissioning-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                   .string();
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    static ProgramResult vx538(std::vector<std::string> arguments) {
        return testsupport::RunProgram(VX538_PATH, arguments);
    }
    static std::string mode(const SimProcess& sim) {
        const auto get = vx538({"-p", sim.path(), "get", "mode"});
        return get.out;
    }
    void control(const std::string& line) const { std::ofstream(path("control")) << line << "\n"; }
    // Whether the simulator's log shows `frame` arriving at least `times` times.
    bool logged(const std::string& frame, int times = 1) const {
        const std::string log = readFile(path("sim.log"));
        int found = 0;
        for (std::size_t at = 0; (at = log.find("|" + frame + "|", at)) != std::string::npos; ++at) {
            ++found;
        }
        return found >= times;
    }

    std::string dir_;
};

TEST_F(Commissioning, ScanFindsTheInstrumentAtTheAddressItWasInstalledAt) {
    SimProcess sim(VX538_SIM_PATH, {"--hart-address", "7"});
    const auto scan = vx538({"-p", sim.path(), "--timeout", "150", "--json", "hart", "scan"});
    ASSERT_EQ(scan.status, 0) << scan.out << scan.err;
    const Json result = Json::parse(scan.out);
    ASSERT_EQ(result["instruments"].size(), 1u) << scan.out;
    EXPECT_EQ(result["instruments"][0]["address"], 7);
    EXPECT_EQ(result["instruments"][0]["device_id"], "662316"); // 0A1B2C
    // Beyond 15 only with --to 63; nobody answers below it.
    SimProcess hart7(VX538_SIM_PATH, {"--hart-address", "20"});
    const auto low = vx538({"-p", hart7.path(), "--timeout", "100", "hart", "scan"});
    EXPECT_EQ(low.status, 6) << low.out << low.err;
    const auto wide =
        vx538({"-p", hart7.path(), "--timeout", "100", "hart", "scan", "--to", "63", "--first"});
    ASSERT_EQ(wide.status, 0) << wide.out << wide.err;
    EXPECT_NE(wide.out.find("\n     20 "), std::string::npos) << wide.out;
    // The last address of each range is asked too.
    for (const auto& [address, range] : {std::pair{"15", "15"}, std::pair{"63", "63"}}) {
        SimProcess last(VX538_SIM_PATH, {"--hart-address", address});
        const auto found = vx538({"-p", last.path(), "--timeout", "100", "hart", "scan", "--to", range});
        ASSERT_EQ(found.status, 0) << address << "\n" << found.out << found.err;
        EXPECT_NE(found.out.find(std::string("\n     ") + address + " "), std::string::npos) << found.out;
    }
}

TEST_F(Commissioning, CheckPassesOnFactorySettingsAndNamesAVariableWhoseSourceIsNoField) {
    SimProcess sim(VX538_SIM_PATH);
    const auto factory = vx538({"-p", sim.path(), "--json", "check"});
    ASSERT_EQ(factory.status, 0) << factory.out << factory.err;
    const Json rows = Json::parse(factory.out)["variables"];
    ASSERT_EQ(rows.size(), 8u);
    for (int n = 0; n < 4; ++n) {
        EXPECT_EQ(rows[n]["verdict"], "same") << rows[n];
    }
    EXPECT_EQ(rows[4]["verdict"], "not polled");

    ASSERT_EQ(vx538({"-p", sim.path(), "set", "parse3.address=18"}).status, 0);
    const auto moved = vx538({"-p", sim.path(), "check"});
    EXPECT_EQ(moved.status, 1) << moved.out << moved.err;
    EXPECT_NE(moved.out.find("  3     40007  command 1 data 18-21, across TV and QV unit"), std::string::npos)
        << moved.out;
    EXPECT_NE(moved.out.find("NOT A FIELD"), std::string::npos) << moved.out;
    EXPECT_NE(moved.out.find("1 variable differs"), std::string::npos) << moved.out;

    // Both sides read in the row's word order: swapping variable 2's words still matches.
    ASSERT_EQ(vx538({"-p", sim.path(), "set", "parse3.address=17", "parse2.order=1"}).status, 0);
    const auto swapped = vx538({"-p", sim.path(), "check"});
    EXPECT_EQ(swapped.status, 0) << swapped.out << swapped.err;

    // Nothing polled: the registers hold nothing of the instrument, which is no pass.
    ASSERT_EQ(vx538({"-p", sim.path(), "set", "read1.enabled=off"}).status, 0);
    const auto unpolled = vx538({"-p", sim.path(), "check"});
    EXPECT_EQ(unpolled.status, 1) << unpolled.out << unpolled.err;
    EXPECT_NE(unpolled.out.find("polls no read meter command"), std::string::npos) << unpolled.out;
}

// A traffic log that fills up partway (a file size limit, each run a little larger) fails the check
// with exit 8, and whenever that is after the switch to transparent mode, the mode still goes back.
TEST_F(Commissioning, ATrafficLogThatFillsUpAfterTheSwitchStillPutsTheModeBack) {
    SimProcess sim(VX538_SIM_PATH);
    ASSERT_EQ(vx538({"-p", sim.path(), "set", "mode=single-meter"}).status, 0);
    int afterSwitch = 0;
    for (int kilobytes = 1; kilobytes <= 6; ++kilobytes) {
        SCOPED_TRACE(kilobytes);
        std::filesystem::remove(path("traffic.log"));
        // SIGXFSZ ignored, so the write that passes the limit fails with EFBIG instead of killing.
        const auto run = testsupport::RunProgram(
            "/bin/bash", {"-c", "trap '' XFSZ; ulimit -f " + std::to_string(kilobytes) + "; exec \"$0\" \"$@\"",
                          VX538_PATH, "--no-change-log", "-p", sim.path(), "--log", path("traffic.log"), "check",
                          "--switch-mode"});
        if (run.status == 0) {
            break; // the whole check fits
        }
        EXPECT_EQ(run.status, 8) << run.out << run.err;
        EXPECT_NE(run.err.find("cannot write the log file"), std::string::npos) << run.err;
        afterSwitch += readFile(path("traffic.log")).find("QQS#MD:0#") != std::string::npos;
        EXPECT_EQ(mode(sim), "mode = single-meter\n");
    }
    EXPECT_GT(afterSwitch, 0) << "no run failed after the switch";
}

TEST_F(Commissioning, CheckPutsTheModeItFoundBackAfterSuccessSilenceAndCtrlC) {
    SimProcess sim(VX538_SIM_PATH, {"--control", path("control"), "--log", path("sim.log"), "--delay", "40"});
    ASSERT_EQ(vx538({"-p", sim.path(), "set", "mode=single-meter"}).status, 0);

    // Without --switch-mode it says what it needs and switches nothing.
    const auto refused = vx538({"-p", sim.path(), "check"});
    EXPECT_EQ(refused.status, 11) << refused.out << refused.err;
    EXPECT_NE(refused.err.find("--switch-mode"), std::string::npos) << refused.err;
    EXPECT_FALSE(logged("QQS#MD:0#"));

    const auto switched = vx538({"-p", sim.path(), "check", "--switch-mode"});
    EXPECT_EQ(switched.status, 0) << switched.out << switched.err;
    EXPECT_EQ(mode(sim), "mode = single-meter\n");

    // Silent once it switched: the check fails, and the mode goes back once the converter answers.
    {
        Background check(dir_, {"-p", sim.path(), "--timeout", "400", "check", "--switch-mode"});
        ASSERT_TRUE(waitFor([&] { return logged("QQS#MD:0#", 2); })) << readFile(path("sim.log"));
        control("silent on");
        ASSERT_TRUE(waitFor([&] { return logged("QQS#MD:1#", 3); })) << "no attempt to put the mode back";
        control("silent off");
        const int status = check.wait();
        EXPECT_EQ(status, 6) << check.out() << check.err();
        EXPECT_NE(check.out().find("put back to single-meter"), std::string::npos) << check.out();
    }
    EXPECT_EQ(mode(sim), "mode = single-meter\n");

    // Ctrl+C once it switched: interrupted, and the mode goes back all the same.
    {
        Background check(dir_, {"-p", sim.path(), "check", "--switch-mode"});
        ASSERT_TRUE(waitFor([&] { return logged("QQS#MD:0#", 3); }));
        check.interrupt();
        EXPECT_EQ(check.wait(), 130) << check.out() << check.err();
    }
    EXPECT_EQ(mode(sim), "mode = single-meter\n");
}

// The rows of a watch CSV file after its header: each a time and eight cells.
std::vector<std::vector<std::string>> csvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line); // header
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::istringstream fields(line);
        for (std::string cell; std::getline(fields, cell, ',');) {
            cells.push_back(cell);
        }
        if (!line.empty() && line.back() == ',') {
            cells.emplace_back();
        }
        rows.push_back(cells);
    }
    return rows;
}

TEST_F(Commissioning, WatchWritesSamplesThatReadBackAsNumbersAndCountsMissedPollsWithoutZeros) {
    SimProcess sim(VX538_SIM_PATH, {"--control", path("control")});
    const std::string csv = path("watch.csv");
    const auto watch = vx538({"-p", sim.path(), "watch", "--count", "20", "--interval", "50", "--csv", csv});
    ASSERT_EQ(watch.status, 0) << watch.out << watch.err;
    const auto rows = csvRows(readFile(csv));
    ASSERT_EQ(rows.size(), 20u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 9u);
        for (std::size_t v = 1; v < 9; ++v) {
            std::size_t used = 0;
            EXPECT_NO_THROW(std::stod(row[v], &used)) << row[v];
            EXPECT_EQ(used, row[v].size()) << row[v];
        }
        EXPECT_NEAR(std::stod(row[1]), 101.3, 2.6);
    }
    EXPECT_TRUE(watch.out.ends_with("\n20 samples, 0 missed\n")) << watch.out;

    // Silent midway, ended by Ctrl+C: the missed polls are counted and written without values.
    const std::string gaps = path("gaps.csv");
    Background live(dir_, {"-p", sim.path(), "--timeout", "100", "watch", "--interval", "50", "--csv", gaps});
    ASSERT_TRUE(waitFor([&] { return csvRows(readFile(gaps)).size() >= 3; }));
    control("silent on");
    ASSERT_TRUE(waitFor([&] {
        const auto r = csvRows(readFile(gaps));
        return !r.empty() && r.back().size() == 9 && r.back()[1].empty() && r.size() >= 6;
    }));
    control("silent off");
    live.interrupt();
    ASSERT_EQ(live.wait(), 0) << live.err();
    int samples = 0;
    int missed = 0;
    for (const auto& row : csvRows(readFile(gaps))) {
        ASSERT_EQ(row.size(), 9u);
        const bool empty = row[1].empty();
        for (std::size_t v = 1; v < 9; ++v) {
            EXPECT_EQ(row[v].empty(), empty) << "a row half missed";
            EXPECT_TRUE(empty || row[v] != "0" || v > 4) << "a value written as zero";
        }
        (empty ? missed : samples) += 1;
    }
    EXPECT_GE(missed, 1);
    const std::string last = live.out().substr(live.out().rfind('\n', live.out().size() - 2) + 1);
    EXPECT_EQ(last, std::to_string(samples) + " samples, " + std::to_string(missed) + " missed\n");
}

// A watch that shows nothing is no success: every reply spoiled, or the line gone (which also ends it
// before its count), is exit 4 with the reason.
TEST_F(Commissioning, AWatchWithoutAGoodReplyOrWhoseLineGoesIsNoSuccess) {
    SimProcess spoiled(VX538_SIM_PATH, {"--corrupt"});
    const auto corrupt = vx538({"-p", spoiled.path(), "watch", "--count", "3", "--interval", "50"});
    EXPECT_EQ(corrupt.status, 4) << corrupt.out << corrupt.err;
    EXPECT_NE(corrupt.err.find("no poll was answered"), std::string::npos) << corrupt.err;

    auto sim = std::make_unique<SimProcess>(VX538_SIM_PATH);
    Background live(dir_, {"-p", sim->path(), "watch", "--count", "1000", "--interval", "50"});
    ASSERT_TRUE(waitFor([&] { return std::ranges::count(live.out(), '\n') >= 3; })); // a title, two samples
    sim.reset();                                                                     // the line goes
    EXPECT_EQ(live.wait(), 4) << live.out() << live.err();
    EXPECT_NE(live.err().find("was lost"), std::string::npos) << live.err();

    // A CSV file that takes no more lines ends the watch: samples silently lost are no success.
    SimProcess fine(VX538_SIM_PATH);
    const auto full =
        vx538({"-p", fine.path(), "watch", "--count", "50", "--interval", "50", "--csv", "/dev/full"});
    EXPECT_EQ(full.status, 8) << full.out << full.err;
    EXPECT_NE(full.err.find("cannot write /dev/full: No space left on device"), std::string::npos)
        << full.err;
    EXPECT_EQ(full.out.find("1 samples"), std::string::npos) << "a sample the file refused was counted: " << full.out;
}

TEST_F(Commissioning, HartFieldsAndTheMapNameTheInstrumentsFieldsAndUnits) {
    SimProcess sim(VX538_SIM_PATH);
    const auto fields = vx538({"-p", sim.path(), "--json", "hart", "fields"});
    ASSERT_EQ(fields.status, 0) << fields.out << fields.err;
    const Json list = Json::parse(fields.out)["fields"];
    ASSERT_EQ(list.size(), 11u);
    EXPECT_EQ(list[4]["name"], "PV");
    EXPECT_EQ(list[4]["offset"], 7);
    EXPECT_EQ(list[4]["unit"], "KPa");

    ASSERT_EQ(vx538({"-p", sim.path(), "set", "parse2.order=1"}).status, 0);
    const auto map = vx538({"-p", sim.path(), "map", "--csv"});
    ASSERT_EQ(map.status, 0) << map.out << map.err;
    EXPECT_NE(
        map.out.find(
            "\n40005-40006,4-5,2,\"command 1 data 12-15, SV\",\xE2\x84\x83,float32,CDAB,FF2 FF1 FF4 FF3,1.000,1,"
            "9600,none\n"),
        std::string::npos)
        << map.out;
}

} // namespace
