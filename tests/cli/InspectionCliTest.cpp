// vx538's loop check, inspection report and change log against the simulated converter and its bench
// meter, both run as programs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/Background.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyPeer.h"
#include "tests/support/SimProcess.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using testsupport::ProgramResult;
using testsupport::ReadWholeFile;
using testsupport::SimProcess;
using testsupport::WaitFor;

class Inspection : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = (fs::temp_directory_path() / ("vx538-inspection-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                   .string();
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    // vx538 with its change log in the test's folder.
    ProgramResult vx538(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {"--change-log", path("changes.jsonl")});
        return testsupport::RunProgram(VX538_PATH, arguments);
    }
    // A simulator whose meter's leads are in output 3's loop, without noise so runs repeat exactly.
    SimProcess simWithMeter(const std::string& error) const {
        return SimProcess(VX538_SIM_PATH, {"--output-error", "3:" + error, "--meter", path("meter"),
                                           "--meter-output", "3", "--meter-noise", "0", "--control",
                                           path("control"), "--log", path("sim.log"), "--delay", "20"});
    }
    void control(const std::string& line) const { std::ofstream(path("control")) << line << "\n"; }
    // How often the simulator's log shows a request holding `text`.
    int logged(const std::string& text) const {
        const std::string log = ReadWholeFile(path("sim.log"));
        int found = 0;
        for (std::size_t at = 0; (at = log.find(text, at)) != std::string::npos; ++at) {
            ++found;
        }
        return found;
    }
    std::string mode(const SimProcess& sim) const { return vx538({"-p", sim.path(), "get", "mode"}).out; }
    std::vector<Json> changes() const {
        std::vector<Json> lines;
        std::ifstream in(path("changes.jsonl"));
        for (std::string line; std::getline(in, line);) {
            lines.push_back(Json::parse(line)); // throws on a line cut or interleaved
        }
        return lines;
    }

    std::string dir_;
};

// The table's lines of a loop check's output (the output's points), without the heading naming the source.
std::vector<std::string> tableLines(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("DOUTA")) {
            lines.push_back(line);
        }
    }
    return lines;
}

TEST_F(Inspection, LoopCheckFailsAnOutputOutOfAdjustmentPassesItAdjustedAndReadsAFileAsTheMeter) {
    SimProcess sim = simWithMeter("0.2");
    ASSERT_EQ(vx538({"-p", sim.path(), "set", "mode=single-meter"}).status, 0);

    const auto out = vx538({"-p", sim.path(), "--json", "loop-check", "--output", "3", "--meter",
                            path("meter"), "--settle", "0"});
    ASSERT_EQ(out.status, 1) << out.out << out.err;
    const Json outputs = Json::parse(out.out)["loop_check"]["outputs"];
    ASSERT_EQ(outputs.size(), 1u) << out.out;
    EXPECT_EQ(outputs[0]["verdict"], "fail");
    ASSERT_EQ(outputs[0]["points"].size(), 5u);
    for (const Json& point : outputs[0]["points"]) {
        EXPECT_NEAR(point["error_percent"].get<double>(), 1.25, 0.01) << point;
        EXPECT_EQ(point["verdict"], "fail") << point;
    }
    EXPECT_EQ(mode(sim), "mode = single-meter\n");

    // The same run for people, then its readings written to a file and read from there.
    const auto table =
        vx538({"-p", sim.path(), "loop-check", "--output", "3", "--meter", path("meter"), "--settle", "0"});
    ASSERT_EQ(table.status, 1) << table.out << table.err;
    {
        std::ofstream file(path("readings.csv"));
        file << "output,point,mA\n";
        for (const Json& point : outputs[0]["points"]) {
            file << "3," << point["point_ma"].get<double>() << "," << point["reading_ma"].get<double>()
                 << "\n";
        }
    }
    const auto fromFile =
        vx538({"-p", sim.path(), "loop-check", "--output", "3", "--readings", path("readings.csv")});
    EXPECT_EQ(fromFile.status, 1) << fromFile.out << fromFile.err;
    EXPECT_EQ(tableLines(fromFile.out), tableLines(table.out)) << fromFile.out << table.out;
    EXPECT_EQ(tableLines(table.out).size(), 6u) << table.out; // five points and the output's verdict

    // Adjusted to 0.01 mA high: every point within 0.25 % of span.
    control("output-error 3:0.01");
    ASSERT_TRUE(WaitFor([&] {
        const auto again = vx538(
            {"-p", sim.path(), "loop-check", "--output", "3", "--meter", path("meter"), "--settle", "0"});
        return again.status == 0;
    })) << "never passed after the adjustment";
    EXPECT_EQ(mode(sim), "mode = single-meter\n");
}

TEST_F(Inspection, LoopCheckPutsTheModeBackWhenTheConverterGoesSilentMidway) {
    SimProcess sim = simWithMeter("0.2");
    ASSERT_EQ(vx538({"-p", sim.path(), "set", "mode=single-meter"}).status, 0);
    const int setBefore = logged("QQS#MD:1#");
    {
        testsupport::Background check(VX538_PATH, dir_,
                                      {"--change-log", path("changes.jsonl"), "-p", sim.path(), "--timeout",
                                       "400", "loop-check", "--output", "3", "--meter", path("meter"),
                                       "--settle", "200"});
        // Silent once it drove the second point; the converter answers again once the put-back began.
        ASSERT_TRUE(WaitFor([&] { return logged("|QQQ#AV3O:25#|") >= 1; })) << ReadWholeFile(path("sim.log"));
        control("silent on");
        ASSERT_TRUE(WaitFor([&] { return logged("QQS#MD:1#") >= setBefore + 2; }))
            << "no attempt to put the mode back";
        control("silent off");
        EXPECT_EQ(check.wait(), 4) << check.out() << check.err(); // no reply from the converter
        EXPECT_NE(check.out().find("put back to single-meter"), std::string::npos) << check.out();
    }
    EXPECT_EQ(mode(sim), "mode = single-meter\n");
    // The switch and the put-back are logged as acknowledged; the attempts in the silence as unanswered.
    int acknowledged = 0, unanswered = 0;
    for (const Json& line : changes()) {
        if (line["parameter"] == "mode") {
            (line["status"] == "acknowledged" ? acknowledged : unanswered) += 1;
        }
    }
    EXPECT_EQ(acknowledged, 3); // the set before, the switch, the put-back
    EXPECT_GE(unanswered, 1);
}

// At a terminal, a meter's leads are asked for before each output: Enter goes on, q stops the check
// there, and the working mode goes back.
TEST_F(Inspection, AtATerminalThePersonIsAskedToMoveTheMetersLeads) {
    SimProcess sim = simWithMeter("0.0");
    ASSERT_EQ(vx538({"-p", sim.path(), "set", "mode=single-meter"}).status, 0);
    testsupport::PtyPeer terminal;
    terminal.write("\nq\n"); // the leads moved to DOUTA2, then stop instead of moving them to DOUTA3
    const int input = ::open(terminal.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(input, 0);
    testsupport::ProgramStreams streams;
    streams.inputFd = input;
    const auto run = testsupport::RunProgram(
        VX538_PATH,
        {"--change-log", path("changes.jsonl"), "-p", sim.path(), "loop-check", "--output", "2", "--output", "3",
         "--points", "4,20", "--meter", path("meter"), "--settle", "0"},
        streams, std::chrono::seconds(60));
    ::close(input);
    EXPECT_EQ(run.status, 130) << run.out << run.err;
    EXPECT_NE(run.err.find("connect the meter's leads to DOUTA2's loop"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("connect the meter's leads to DOUTA3's loop"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("stopped at the prompt"), std::string::npos) << run.err;
    EXPECT_EQ(mode(sim), "mode = single-meter\n");
}

TEST_F(Inspection, InspectReportsAsFoundCheckLoopCheckAsLeftAndDifferences) {
    SimProcess sim = simWithMeter("0.2");
    const auto run =
        vx538({"-p", sim.path(), "inspect", "--loop-check", "--output", "3", "--meter", path("meter"),
               "--settle", "0", "--inspector", "Ada Lovelace", "-o", path("report.html")});
    ASSERT_EQ(run.status, 1) << run.out << run.err; // the loop check fails
    const Json report = Json::parse(ReadWholeFile(path("report.json")));
    EXPECT_EQ(report["inspector"], "Ada Lovelace");
    EXPECT_EQ(report["converter"]["version"], "VX538-T-B");
    EXPECT_EQ(report["instrument"]["device_id"], "0A 1B 2C") << report["instrument"];
    for (const char* part : {"configuration", "check", "loop_check"}) {
        EXPECT_TRUE(report["as_found"].contains(part)) << part;
    }
    EXPECT_TRUE(report["as_left"].contains("configuration"));
    EXPECT_EQ(report["as_found"]["configuration"]["parameters"]["rs485.baud"], 9600);
    EXPECT_TRUE(report["differences"].empty()) << report["differences"];
    EXPECT_EQ(report["verdict"]["parts"]["loop_check"], "fail");
    EXPECT_EQ(report["verdict"]["parts"]["check"], "pass");
    EXPECT_EQ(report["verdict"]["overall"], "fail");
    const std::string html = ReadWholeFile(path("report.html"));
    EXPECT_NE(html.find("Ada Lovelace"), std::string::npos);
    EXPECT_NE(html.find("DOUTA3"), std::string::npos);
    EXPECT_NE(html.find("+1.25"), std::string::npos);

    // Paused as found, adjusted (a set while paused), then as left: the set is among the differences and the
    // changes, with its old value.
    ASSERT_EQ(vx538({"-p", sim.path(), "inspect", "--as-found", "-o", path("found.json")}).status, 0);
    ASSERT_EQ(vx538({"-p", sim.path(), "set", "ao3.20ma=200"}).status, 0);
    const auto left = vx538(
        {"-p", sim.path(), "inspect", "--as-left", "--from", path("found.json"), "-o", path("left.md")});
    ASSERT_EQ(left.status, 0) << left.out << left.err;
    const Json finished = Json::parse(ReadWholeFile(path("left.json")));
    ASSERT_EQ(finished["differences"].size(), 1u) << finished["differences"];
    EXPECT_EQ(finished["differences"][0]["parameter"], "ao3.20ma");
    bool logged = false;
    for (const Json& change : finished["changes"]) {
        logged = logged || (change["parameter"] == "ao3.20ma" && change["new"] == "200");
    }
    EXPECT_TRUE(logged) << finished["changes"];
    EXPECT_NE(ReadWholeFile(path("left.md")).find("ao3.20ma"), std::string::npos);
}

// An inspection that could not do a part is incomplete, never a pass, and exits as that part's own
// command would.
TEST_F(Inspection, AnIncompleteInspectionExitsAsThePartNotDone) {
    std::ofstream(path("none.csv")) << "output,point,mA\n";
    struct Row {
        const char* what;
        std::vector<std::string> sim;
        std::vector<std::string> inspect;
        int status;
        const char* part;
    };
    const Row rows[] = {
        {"the instrument at another polling address", {"--hart-address", "5"}, {}, 6, "instrument"},
        {"a loop check with no reading", {}, {"--loop-check", "--output", "3", "--readings", path("none.csv")}, 1,
         "loop_check"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SimProcess sim(VX538_SIM_PATH, row.sim);
        std::vector<std::string> arguments = {"-p", sim.path(), "inspect", "-o", path("report.json")};
        arguments.insert(arguments.end(), row.inspect.begin(), row.inspect.end());
        const auto run = vx538(arguments);
        EXPECT_EQ(run.status, row.status) << run.out << run.err;
        const Json report = Json::parse(ReadWholeFile(path("report.json")));
        EXPECT_EQ(report["verdict"]["overall"], "incomplete") << report["verdict"];
        EXPECT_EQ(report["verdict"]["parts"][row.part], "not checked") << report["verdict"];
    }
}

TEST_F(Inspection, RestoreLogsExactlyTheAcknowledgedChangesWithOldAndNewValues) {
    SimProcess sim(VX538_SIM_PATH);
    ASSERT_EQ(vx538({"-p", sim.path(), "backup", "-o", path("backup.json")}).status, 0);
    ASSERT_EQ(vx538({"-p", sim.path(), "set", "modbus.interval=20", "ao1.4ma=5"}).status, 0);
    fs::remove(path("changes.jsonl"));
    const auto restore = vx538({"-p", sim.path(), "restore", "--input", path("backup.json")});
    ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
    std::vector<std::string> changed;
    for (const Json& line : changes()) {
        EXPECT_EQ(line["status"], "acknowledged") << line;
        EXPECT_EQ(line["front_end"], "vx538");
        EXPECT_EQ(line["converter"], "VX538-T-B");
        if (line["old"] != line["new"]) {
            changed.push_back(line["parameter"].get<std::string>() + " " + line["old"].get<std::string>() +
                              " -> " + line["new"].get<std::string>());
        }
    }
    EXPECT_EQ(changed, (std::vector<std::string>{"modbus.interval 20 -> 10", "ao1.4ma 5 -> 0"}));
}

TEST_F(Inspection, TwoSetsAtOnceLeaveWholeLinesAndAnUnwritableLogWarnsOnce) {
    SimProcess a(VX538_SIM_PATH), b(VX538_SIM_PATH);
    {
        testsupport::Background first(VX538_PATH, dir_ + "/..",
                                      {"--change-log", path("changes.jsonl"), "-p", a.path(), "set",
                                       "ao0.20ma=50", "ao1.20ma=60", "ao2.20ma=70", "modbus.interval=30"});
        const auto second =
            vx538({"-p", b.path(), "set", "ao4.20ma=40", "ao5.20ma=30", "modbus.interval=40"});
        EXPECT_EQ(second.status, 0) << second.err;
        EXPECT_EQ(first.wait(), 0);
    }
    const std::vector<Json> lines = changes(); // each parses: none cut or interleaved
    int ofA = 0, ofB = 0;
    for (const Json& line : lines) {
        (line["port"] == a.path() ? ofA : ofB) += 1;
    }
    EXPECT_EQ(ofA, 4);
    EXPECT_EQ(ofB, 3);

    // A log under a path that cannot be a folder: one warning, and the sets go through.
    std::ofstream(path("plain")) << "x";
    const auto unwritable =
        testsupport::RunProgram(VX538_PATH, {"--change-log", path("plain") + "/changes.jsonl", "-p", a.path(),
                                             "set", "ao0.20ma=90", "ao1.20ma=91"});
    EXPECT_EQ(unwritable.status, 0) << unwritable.err;
    std::size_t warnings = 0;
    for (std::size_t at = 0; (at = unwritable.err.find("warning", at)) != std::string::npos; ++at) {
        ++warnings;
    }
    EXPECT_EQ(warnings, 1u) << unwritable.err;
    EXPECT_NE(vx538({"-p", a.path(), "get", "ao1.20ma"}).out.find("91"), std::string::npos);
}

TEST_F(Inspection, ARefusedSetIsLoggedAsRefusedAndLogListsByParameter) {
    SimProcess sim(VX538_SIM_PATH);
    // The converter refuses a command interval of 0 (set refuses it itself, raw sends it as it stands).
    const auto refused = vx538({"-p", sim.path(), "raw", "QQS#JTM:000#"});
    EXPECT_NE(refused.out.find("ERR"), std::string::npos) << refused.out << refused.err;
    ASSERT_EQ(vx538({"-p", sim.path(), "set", "ao2.4ma=1.5"}).status, 0);
    const std::vector<Json> lines = changes();
    ASSERT_FALSE(lines.empty());
    bool sawRefused = false;
    for (const Json& line : lines) {
        if (line["parameter"] == "modbus.interval") {
            EXPECT_EQ(line["status"], "refused") << line;
            sawRefused = true;
        }
    }
    EXPECT_TRUE(sawRefused);
    const auto listed = vx538({"--json", "log", "--parameter", "ao2.4ma"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const Json list = Json::parse(listed.out);
    ASSERT_EQ(list.size(), 1u) << listed.out;
    EXPECT_EQ(list[0]["old"], "0");
    EXPECT_EQ(list[0]["new"], "1.5");
}

} // namespace
