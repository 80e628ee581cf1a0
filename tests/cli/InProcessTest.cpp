// vx538 run in the test's own process against the simulated converter's model on an in-process line:
// a table per command that had no test of its own, a row per case.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/Main.h"
#include "hart/HartFrames.h"
#include "tests/cli/Vx538Test.h"
#include "tests/support/SimulatedLine.h"
#include "tools/Bytes.h"
#include "tools/ModbusCrc.h"

namespace {

using testsupport::SimulatedLine;
using vx538test::hartReply;
using vx538test::withCrc;

struct Outcome {
    int status = -1;
    std::string out, err;
    std::string all() const { return out + err; }
};

class InProcess : public ::testing::Test {
protected:
    // The converter behind port `name` ("sim0" unless named).
    SimulatedLine& line(const std::string& name = "sim0", sim::Faults faults = {}) {
        auto& made = lines_[name];
        if (!made) {
            made = std::make_unique<SimulatedLine>(faults);
        }
        return *made;
    }
    Outcome vx538(std::vector<std::string> arguments) {
        if (std::find(arguments.begin(), arguments.end(), "-p") == arguments.end()) {
            arguments.insert(arguments.begin(), {"-p", "sim0"});
            line();
        }
        std::ostringstream out, err;
        serial::EventFd& stop = stop_.emplace();
        stop.create();
        const cli::Environment environment{out, err, stop, false, [this](const std::string& port) {
                                               const auto found = lines_.find(port);
                                               return found == lines_.end() ? nullptr
                                                                            : found->second->transport(port);
                                           }};
        Outcome run;
        run.status = cli::Vx538(arguments, environment);
        run.out = out.str();
        run.err = err.str();
        return run;
    }
    // The requests of one text command ("QQS#RESET#") the converter heard.
    std::size_t heardCount(std::string_view prefix, const std::string& name = "sim0") {
        const auto heard = line(name).heard();
        return std::count_if(heard.begin(), heard.end(),
                             [&](const std::string& f) { return f.starts_with(prefix); });
    }
    std::string temporary(const std::string& name) {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("vx538-inprocess-" + std::to_string(::getpid()) + "-" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        dirs_.push_back(dir);
        return (dir / name).string();
    }
    void TearDown() override {
        for (const auto& dir : dirs_) {
            std::filesystem::remove_all(dir);
        }
    }

    std::map<std::string, std::unique_ptr<SimulatedLine>> lines_;
    std::vector<std::filesystem::path> dirs_;

public:
    std::optional<serial::EventFd> stop_; // the run's Ctrl+C
};

// A reply of the converter's own making, `ms` after the request.
std::function<std::optional<sim::Write>(std::string_view, sim::Millis)>
replying(std::string_view prefix, std::string reply, int ms = 0) {
    return [prefix = std::string(prefix), reply, ms](std::string_view request,
                                                     sim::Millis now) -> std::optional<sim::Write> {
        if (!request.starts_with(prefix)) {
            return std::nullopt;
        }
        return sim::Write{now + sim::Millis(ms), reply};
    };
}

TEST_F(InProcess, HartVars) {
    struct Row {
        const char* what;
        sim::Faults faults;
        std::vector<std::string> arguments;
        int status;
        const char* shows;
    } rows[] = {
        {"the four variables with their units", {}, {}, 0, "SV  "},
        {"a secondary master's request", {}, {"--secondary"}, 0, "QV  "},
        {"an instrument that does not answer",
         {.silent = true},
         {"--timeout", "100"},
         6,
         "only in transparent mode"},
        {"a wrong check byte", {.corrupt = true}, {}, 5, "no good reply to HART command 0"},
        {"no instrument at that polling address",
         {},
         {"--address", "3", "--timeout", "100"},
         6,
         "no reply to HART"},
        {"a preamble length that is no number", {}, {"--preambles", "five"}, 2, "'five'"},
    };
    for (const Row& row : rows) {
        lines_.clear();
        line("sim0", row.faults);
        std::vector<std::string> arguments = {"hart", "vars"};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const Outcome run = vx538(arguments);
        EXPECT_EQ(run.status, row.status) << row.what << "\n" << run.all();
        EXPECT_NE(run.all().find(row.shows), std::string::npos) << row.what << "\n" << run.all();
        if (row.status == 0) {
            const auto units = {"PV  ", "SV  ", "TV  ", "QV  "};
            for (const char* name : units) {
                EXPECT_NE(run.out.find(name), std::string::npos) << row.what << "\n" << run.out;
            }
            EXPECT_EQ(heardCount("\xFF"), 2u) << "command 0, then command 3";
        }
    }
}

TEST_F(InProcess, HartSend) {
    struct Row {
        const char* hex;
        sim::Faults faults;
        int status;
        const char* shows;
    } rows[] = {
        {"82 26 0C 0A 1B 2C 03 00", {}, 0, "command 3 (read dynamic variables"},
        {"02 80 00 00", {}, 0, "command 0"},
        {"82 26 0C 0A 1B 2C 03 00", {.silent = true}, 6, "only in transparent mode"},
        {"zz", {}, 2, "is not hex byte text"},
        {"01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10", {}, 2, "holds more than 15 bytes"},
    };
    for (const Row& row : rows) {
        lines_.clear();
        line("sim0", row.faults);
        const Outcome run = vx538({"--timeout", "100", "hart", "send", row.hex});
        EXPECT_EQ(run.status, row.status) << row.hex << "\n" << run.all();
        EXPECT_NE(run.all().find(row.shows), std::string::npos) << row.hex << "\n" << run.all();
        EXPECT_EQ(line().heard().size(), row.status == 2 ? 0u : 1u) << row.hex;
    }
}

TEST_F(InProcess, RestoreDryRunSendsNothing) {
    const std::string file = temporary("target.json");
    ASSERT_EQ(vx538({"set", "mode=single-meter", "ao3.20ma=12.5"}).status, 0);
    ASSERT_EQ(vx538({"backup", "-o", file}).status, 0);
    ASSERT_EQ(vx538({"reset"}).status, 0);
    struct Row {
        std::vector<std::string> arguments;
        std::size_t frames;
    } rows[] = {
        {{"restore", "--dry-run", "-i", file}, 2},
        {{"restore", "--dry-run", "--all", "-i", file}, 26},
        {{"--json", "restore", "--dry-run", "-i", file}, 2},
    };
    for (const Row& row : rows) {
        const std::size_t setsBefore = heardCount("QQS#");
        const Outcome run = vx538(row.arguments);
        EXPECT_EQ(run.status, 0) << run.all();
        EXPECT_EQ(heardCount("QQS#"), setsBefore) << "a dry run sent a set command\n" << run.out;
        if (row.arguments[0] == "--json") {
            EXPECT_EQ(nlohmann::json::parse(run.out)["would_send"].size(), row.frames) << run.out;
        } else {
            EXPECT_NE(run.out.find(std::to_string(row.frames) + " set commands would be sent"),
                      std::string::npos)
                << run.out;
            EXPECT_NE(run.out.find("QQS#MD:1#"), std::string::npos) << run.out;
        }
    }
}

TEST_F(InProcess, OneFrameCommands) {
    struct Row {
        std::vector<std::string> arguments;
        const char* frame;   // what the converter hears; empty when it must hear nothing
        const char* refusal; // the converter's answer instead of the model's; empty: the model's
        int status;
    } rows[] = {
        {{"reset"}, "QQS#RESET#", "", 0},
        {{"reset"}, "QQS#RESET#", "QQS#RESET:ERR#", 5},
        {{"factory", "--pcbsn", "123", "--inspector", "102"}, "TAVRIK#PCBSN:00000123,102#", "", 0},
        {{"factory", "--pcbsn", "123", "--inspector", "102"},
         "TAVRIK#PCBSN:00000123,102#",
         "TAVRIK#PCBSN:ERR#",
         5},
        {{"factory", "--pcbsn", "123456789", "--inspector", "1"}, "", "", 2},
        {{"test-output", "3", "12.5"}, "QQQ#AV3O:12.5#", "", 0},
        {{"test-output", "3", "12.5"}, "QQQ#AV3O:12.5#", "QQQ#AV3O:ERR#", 5},
        {{"test-output", "3", "1000"}, "", "", 2},
        {{"test-output", "8", "1"}, "", "", 2},
        {{"test-totalizer", "1000"}, "QQQ#LEIO:000001000#", "", 0},
        {{"test-totalizer", "1000"}, "QQQ#LEIO:000001000#", "QQQ#LEIO:ERR#", 5},
        {{"test-totalizer", "-1"}, "", "", 2},
    };
    for (const Row& row : rows) {
        lines_.clear();
        SimulatedLine& converter = line();
        if (*row.refusal) {
            converter.replyInstead = replying(row.frame, row.refusal);
        }
        const Outcome run = vx538(row.arguments);
        EXPECT_EQ(run.status, row.status) << row.arguments[0] << " " << row.refusal << "\n" << run.all();
        const auto heard = converter.heard();
        if (*row.frame) {
            ASSERT_EQ(heard.size(), 1u) << row.arguments[0];
            EXPECT_EQ(heard[0], row.frame);
        } else {
            EXPECT_TRUE(heard.empty()) << row.arguments[0] << " sent " << heard[0];
        }
        if (*row.refusal) {
            EXPECT_NE(run.err.find("the converter refused"), std::string::npos) << run.err;
        }
    }
}

TEST_F(InProcess, LogNamesEveryPortAndFrame) {
    struct Row {
        std::vector<std::string> arguments;
        std::vector<std::string> lines; // each appears in the log
    } rows[] = {
        {{"-p", "sim0", "get", "mode"}, {"sim0: ", "QQQ#QX1#", "QQQ#QX1:ADR:001"}},
        {{"-p", "sim0", "-p", "sim1", "ping"}, {"sim0: ", "sim1: ", "QQQ#QV#"}},
        {{"-p", "sim0", "--timeout", "50", "get", "mode"}, {"no reply to QX1"}},
    };
    for (const Row& row : rows) {
        lines_.clear();
        line("sim0", {.silent = row.lines[0] == "no reply to QX1"});
        line("sim1");
        const std::string log = temporary("traffic.log");
        std::filesystem::remove(log);
        std::vector<std::string> arguments = {"--log", log};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        vx538(arguments);
        std::stringstream text;
        text << std::ifstream(log).rdbuf();
        for (const std::string& expected : row.lines) {
            EXPECT_NE(text.str().find(expected), std::string::npos) << expected << " not in\n" << text.str();
        }
    }
    EXPECT_EQ(vx538({"--log", temporary("missing/dir/x.log"), "ping"}).status, 8);
}

TEST_F(InProcess, RetriesResendQueriesNeverSetCommands) {
    struct Row {
        std::vector<std::string> arguments;
        const char* silentTo; // the converter answers everything but these
        const char* frame;
        std::size_t heard;
        int status;
    } rows[] = {
        {{"--retries", "2", "get", "mode"}, "QQQ#QX1#", "QQQ#QX1#", 3, 4},
        {{"--retries", "0", "get", "mode"}, "QQQ#QX1#", "QQQ#QX1#", 1, 4},
        {{"--retries", "3", "set", "mode=single-meter"}, "QQS#", "QQS#MD:1#", 1, 4},
        {{"--retries", "3", "reset"}, "QQS#", "QQS#RESET#", 1, 4},
        {{"--retries", "2", "ping"}, "QQQ#QV#", "QQQ#QV#", 3, 4},
    };
    for (const Row& row : rows) {
        lines_.clear();
        // Silent to one kind of request: a reply due long after every wait has ended.
        line().replyInstead = replying(row.silentTo, "", 60000);
        std::vector<std::string> arguments = {"--timeout", "60"};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const Outcome run = vx538(arguments);
        EXPECT_EQ(run.status, row.status) << run.all();
        EXPECT_EQ(heardCount(row.frame), row.heard) << row.frame << "\n" << run.all();
    }
}

TEST_F(InProcess, TheLineFollowsTheRs485PortsNewSettings) {
    struct Row {
        std::vector<std::string> assignments;
        uint32_t baud; // the line's speed at the end, which the read-back needed
        serial::TParity parity;
    } rows[] = {
        {{"rs485.baud=19200"}, 19200, serial::TParity::None},
        {{"rs485.parity=even"}, 9600, serial::TParity::Even},
        {{"rs485b.baud=4800", "rs485.baud=38400", "rs485.parity=odd"}, 38400, serial::TParity::Odd},
        {{"rs485b.baud=19200", "rs485b.parity=even"}, 9600, serial::TParity::None},
        {{"modbus.address=17", "rs485.baud=2400"}, 2400, serial::TParity::None},
    };
    for (const Row& row : rows) {
        lines_.clear();
        std::vector<std::string> arguments = {"set"};
        arguments.insert(arguments.end(), row.assignments.begin(), row.assignments.end());
        const Outcome run = vx538(arguments);
        EXPECT_EQ(run.status, 0) << row.assignments.back() << "\n" << run.all();
        EXPECT_EQ(line().lineSettings().baudRate, row.baud) << row.assignments.back();
        EXPECT_EQ(line().lineSettings().parity, row.parity) << row.assignments.back();
    }
}

// Behaviours no earlier test held: each row fails when the behaviour is broken.
TEST_F(InProcess, BehavioursThatAreEasyToBreak) {
    using Check = std::function<void(const Outcome&, SimulatedLine&)>;
    const std::string qx1 = "QQQ#QX1:ADR:001,BA1:30,BA2:30,MD:2,JTM:010#";
    // Registers 3-4 hold 100.0; noise before the reply starts like a frame of its own.
    const std::string registers = withCrc(std::string("\x01\x03\x08\x00\x00\x00\x00\x42\xC8\x00\x00", 11));
    // HART command 0's reply from an instrument in burst mode: bit 6 of the address byte set.
    const std::string burst =
        hartReply(std::string("\x06\xC0\x00\x0E\x00\x00\xFE\x26\x0C\x05\x05\x01\x01\x08\x00"
                              "\x0A\x1B\x2C",
                              18));
    // clang-format off
    struct Row {
        const char* what;
        std::function<void(SimulatedLine&)> setUp;
        std::vector<std::string> arguments;
        int status;
        Check check;
    } rows[] = {
        {"stale bytes are drained before each request",
         [&](SimulatedLine& l) { l.staleOnOpen = qx1; },
         {"get", "mode"},
         0,
         [](const Outcome& run, SimulatedLine&) {
             EXPECT_NE(run.out.find("mode = transparent"), std::string::npos);
         }},
        {"--retries never resends a set command",
         [](SimulatedLine& l) { l.replyInstead = replying("QQS#", "", 60000); },
         {"--timeout", "60", "--retries", "3", "set", "mode=single-meter"},
         4,
         [&](const Outcome&, SimulatedLine& l) { EXPECT_EQ(heardCount("QQS#MD:"), 1u) << l.heard().size(); }},
        {"the line follows the RS485 port's settings, not RS485B's",
         {},
         {"set", "rs485b.baud=4800", "rs485.baud=19200"},
         0,
         [](const Outcome&, SimulatedLine& l) { EXPECT_EQ(l.lineSettings().baudRate, 19200u); }},
        {"a refused reset fails",
         [](SimulatedLine& l) { l.replyInstead = replying("QQS#RESET", "QQS#RESET:ERR#"); },
         {"reset"},
         5,
         {}},
        {"a refused factory record fails",
         [](SimulatedLine& l) { l.replyInstead = replying("TAVRIK#", "TAVRIK#PCBSN:ERR#"); },
         {"factory", "--pcbsn", "1", "--inspector", "2"},
         5,
         {}},
        {"a refused output test fails",
         [](SimulatedLine& l) { l.replyInstead = replying("QQQ#AV1O", "QQQ#AV1O:ERR#"); },
         {"test-output", "1", "4"},
         5,
         {}},
        {"a query reply without its block marker is a problem",
         [](SimulatedLine& l) {
             l.replyInstead = replying("QQQ#QX1#", "QQQ#QX7:ADR:001,BA1:30,BA2:30,MD:0,JTM:010#");
         },
         {"get", "mode"},
         5,
         [](const Outcome& run, SimulatedLine&) {
             EXPECT_NE(run.err.find("no block marker QX1"), std::string::npos);
         }},
        {"modbus read takes the registers of the frame found after noise",
         [&](SimulatedLine& l) {
             l.replyInstead =
                 replying(std::string("\x01\x03", 2), std::string("\x01\x03\x04", 3) + registers);
         },
         {"--json", "modbus", "read", "--count", "4"},
         0,
         [](const Outcome& run, SimulatedLine&) {
             EXPECT_EQ(nlohmann::json::parse(run.out)["registers"], nlohmann::json({0, 0, 0x42C8, 0}))
                 << run.out;
         }},
        {"a backup with values it could not read does not end well",
         [](SimulatedLine& l) {
             l.replyInstead = replying("QQQ#QX4#", "QQQ#QX4:MDL:8,MDBS01:0,07,0,1.000#");
         },
         {"backup", "-o", "-"},
         5,
         [](const Outcome& run, SimulatedLine&) {
             EXPECT_EQ(run.out.find("\"format\""), std::string::npos);
         }},
        {"a HART reply in burst mode is still the instrument's",
         [&](SimulatedLine& l) { l.replyInstead = replying("\xFF", burst); },
         {"hart", "id"},
         0,
         [](const Outcome& run, SimulatedLine&) { EXPECT_NE(run.out.find("0A 1B 2C"), std::string::npos); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        lines_.clear();
        SimulatedLine& converter = line();
        if (row.setUp) {
            row.setUp(converter);
        }
        const Outcome run = vx538(row.arguments);
        EXPECT_EQ(run.status, row.status) << run.all();
        if (row.check) {
            row.check(run, converter);
        }
    }
}

// Every run that sends set commands says what was acknowledged, what was in flight, what was not
// sent and what to do next; a line setting in flight says where the converter may now be.
TEST_F(InProcess, ReportsSaySentInFlightNotSentAndWhatNext) {
    const std::string file = temporary("factory.json");
    ASSERT_EQ(vx538({"backup", "-o", file}).status, 0);
    struct Row {
        const char* what;
        std::function<void(SimulatedLine&, InProcess&)> setUp;
        std::vector<std::string> arguments;
        int status;
        std::size_t acknowledged;
        const char* inFlight; // "" for none
        std::size_t notSent;
        const char* mayHold; // in may_hold, "" for none
    } rows[] = {
        {"all taken", {}, {"restore", "--all", "-i", file}, 0, 26, "", 0, ""},
        {"no reply to the RS485 port's settings",
         [](SimulatedLine& l, InProcess&) { l.replyInstead = replying("QQS#BA1:", "", 60000); },
         {"set", "rs485.baud=19200", "rs485.parity=even"},
         4,
         0,
         "BA1",
         0,
         "--baud 19200 --parity even"},
        {"no reply to the slave address",
         [](SimulatedLine& l, InProcess&) { l.replyInstead = replying("QQS#ADR:", "", 60000); },
         {"restore", "--all", "-i", file},
         4,
         24,
         "ADR",
         1,
         "--slave 1"},
        {"the RS485B port's settings answered only by another command's reply",
         [](SimulatedLine& l, InProcess&) { l.replyInstead = replying("QQS#BA2:", "QQS#MDL:OK#"); },
         {"restore", "--all", "-i", file},
         4,
         23,
         "BA2",
         2,
         "RS485B port at 9600 baud, parity none"},
        {"refused",
         [](SimulatedLine& l, InProcess&) { l.replyInstead = replying("QQS#JTM:", "QQS#JTM:ERR#"); },
         {"restore", "--all", "-i", file},
         5,
         1,
         "",
         24,
         ""},
        {"Ctrl+C with the fifth set command on the line",
         [](SimulatedLine& l, InProcess& test) {
             l.onHeard = [&test](std::size_t heard) {
                 if (heard == 5 + 5) { // the four queries and the communication query, then five set commands
                     test.stop_->signal();
                 }
             };
         },
         {"restore", "--all", "-i", file},
         130,
         4,
         "DA2",
         21,
         ""},
        {"the line lost with the fourth set command on it",
         [](SimulatedLine& l, InProcess&) {
             l.with([](sim::Simulator& s) { s.faults.hangupAfter = 5 + 3; }); // five queries, three set commands
         },
         {"restore", "--all", "-i", file},
         4,
         3,
         "DA1",
         22,
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        lines_.clear();
        SimulatedLine& converter = line();
        if (row.setUp) {
            row.setUp(converter, *this);
        }
        std::vector<std::string> arguments = {"--json", "--timeout", "100"};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const Outcome run = vx538(arguments);
        EXPECT_EQ(run.status, row.status) << run.all();
        const auto report = nlohmann::json::parse(run.out);
        EXPECT_EQ(report["acknowledged"].size(), row.acknowledged) << run.out;
        EXPECT_EQ(report["in_flight"], *row.inFlight ? nlohmann::json(row.inFlight) : nlohmann::json())
            << run.out;
        EXPECT_EQ(report["not_sent"].size(), row.notSent) << run.out;
        EXPECT_EQ(report.value("may_hold", "").find(row.mayHold) != std::string::npos, true) << run.out;
        EXPECT_EQ(report["next"].get<std::string>().empty(), row.status == 0) << run.out;
    }
}

// The command table's group rows: a group's word alone asks for one of its commands and sends nothing.
TEST_F(InProcess, AGroupAloneAsksForOneOfItsCommands) {
    for (const std::string group : {"hart", "modbus"}) {
        const Outcome run = vx538({group});
        EXPECT_EQ(run.status, 2) << group;
        EXPECT_NE(run.err.find("A subcommand is required"), std::string::npos) << run.all();
        EXPECT_TRUE(line().heard().empty()) << group;
    }
}

// The commissioning commands as their jobs decide them, a fault per row: a line lost names what was
// not reached (exit 4), a damaged reply is never called silence, a variable with no value fails the
// check, an unanswered first set command leaves the converter perhaps partly configured, and a query's
// reply short of its fields reads as cut.
TEST_F(InProcess, JobsSayWhatCameOfEachRequest) {
    const auto hangupAfter = [](int n) {
        return [n](SimulatedLine& l) { l.with([n](sim::Simulator& s) { s.faults.hangupAfter = n; }); };
    };
    const auto corrupt = [](SimulatedLine& l) { l.with([](sim::Simulator& s) { s.faults.corrupt = true; }); };
    // clang-format off
    struct Row {
        const char* what;
        std::function<void(SimulatedLine&)> setUp;
        std::vector<std::string> arguments;
        int status;
        std::vector<const char*> says;     // each in the output
        std::vector<const char*> saysNot;  // none in it
    } rows[] = {
        {"a scan whose line is lost midway", hangupAfter(3), {"hart", "scan"}, 4,
         {"      0 ", "not reached: addresses"}, {}},
        {"a check whose line is lost", hangupAfter(4), {"check"}, 4, {"was lost", "not reached"},
         {"transparent mode"}},
        {"reply fields whose line is lost", hangupAfter(3), {"hart", "fields"}, 4, {"was lost"},
         {"transparent mode"}},
        {"a map whose line is lost", hangupAfter(4), {"map"}, 4, {"was lost"}, {}},
        {"a scan answered with a wrong check byte", corrupt, {"hart", "scan", "--first"}, 5,
         {"address 0: CRC or check byte wrong", "no instrument answered with a good reply"},
         {"no instrument answered at polling"}},
        {"a map whose instrument's check byte is wrong", corrupt, {"map"}, 0,
         {"instrument: answered, but CRC or check byte wrong"}, {"did not answer"}},
        {"a parse row beyond the reply",
         [](SimulatedLine& l) { l.with([](sim::Simulator& s) { s.converter().handleText("QQS#MDBS4:0,30,0,1.000#"); }); },
         {"check"}, 1, {"  4     40009  ", "NO VALUE", "1 variable differs"}, {"every polled variable"}},
        {"a set whose only command goes unanswered",
         [](SimulatedLine& l) { l.replyInstead = replying("QQS#JTM:", "", 60000); },
         {"set", "modbus.interval=20"}, 4,
         {"sent without answer (the converter may have taken it): MODBUS command interval (JTM)",
          "the converter may be partly configured", "next: run the same set again"}, {}},
        {"a query's reply short of its fields",
         [](SimulatedLine& l) { l.replyInstead = replying("QQQ#QX1#", "QQQ#QX1:ADR:005#"); },
         {"raw", "QQQ#QX1#"}, 0, {"cut: BA1:"}, {}},
        {"the map tells a 0-based master and mbpoll how to read", {}, {"map"}, 0,
         {"40003-40004  2-3", "mbpoll -m rtu -a 1 -b 9600 -P none -t 4:float -B -r 3 -c 8 -1 DEVICE",
          "function 3, slave 1, address 2, count 16 registers: 8 floats, word order ABCD"}, {}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        lines_.clear();
        SimulatedLine& converter = line();
        if (row.setUp) {
            row.setUp(converter);
        }
        std::vector<std::string> arguments = {"--timeout", "100"};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const Outcome run = vx538(arguments);
        EXPECT_EQ(run.status, row.status) << run.all();
        for (const char* text : row.says) {
            EXPECT_NE(run.all().find(text), std::string::npos) << text << "\n" << run.all();
        }
        for (const char* text : row.saysNot) {
            EXPECT_EQ(run.all().find(text), std::string::npos) << text << "\n" << run.all();
        }
    }
}

TEST_F(InProcess, MapAsJsonIsBuiltAsJson) {
    const Outcome run = vx538({"--json", "map"});
    ASSERT_EQ(run.status, 0) << run.all();
    const auto map = nlohmann::json::parse(run.out);
    ASSERT_EQ(map["registers"].size(), 9u);
    EXPECT_EQ(map["registers"][1]["first_register"], 40003);
    EXPECT_EQ(map["registers"][1]["protocol_address"], 2);
    ASSERT_FALSE(map["reading"].empty());
    EXPECT_EQ(map["reading"][0]["master"], "mbpoll");
}

} // namespace
