// vx538 against vx538-sim, both as child processes, as a script on a production line runs them; and
// the rules that end a reply before the line goes quiet.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/Line.h"
#include "cli/Result.h"
#include "hart/HartFrames.h"
#include "tests/cli/Vx538Test.h"
#include "tools/ModbusCrc.h"
#include "tools/Utf8Text.h"
#include "traffic/Interpreter.h"

namespace {

using namespace vx538test;

TEST(ReplyShape, AReplyEndsWhenItsBytesShowItWholeAndWaitsWhileTheyShowMoreToCome) {
    using Kind = cli::ReplyShape::Kind;
    using End = traffic::ReplyEnd;
    const cli::ReplyShape modbus{Kind::Request, 302};
    const cli::ReplyShape hart{Kind::Request, 100};
    const cli::ReplyShape set{Kind::Request, 200};
    const cli::ReplyShape query{Kind::Request, 201};
    const std::string readSlave1 = withCrc(std::string("\x01\x03\x00\x02\x00\x02", 6));
    const std::string readSlave2 = withCrc(std::string("\x02\x03\x00\x02\x00\x02", 6));
    const std::string identityQuery = hartReply(std::string("\x02\x80\x00\x00", 4));
    const std::string registers = withCrc(std::string("\x01\x03\x04\x42\xC8\x00\x00", 7));
    const std::string exception = withCrc(std::string("\x01\x83\x02", 3));
    const std::string identity = hartReply(std::string("\x06\x80\x00\x04\x00\x00\xFE\x26", 8));
    const std::string setAddress = "QQS#ADR:001#";
    const std::string qx1 = "QQQ#QX1#";
    const std::string qx1Reply = "QQQ#QX1:ADR:001,BA1:30,BA2:30,MD:0,JTM:010#";
    struct Case {
        const char* what;
        const cli::ReplyShape& shape;
        const std::string& request;
        std::string bytes;
        End end;
    } cases[] = {
        {"registers", modbus, readSlave1, registers, End::Whole},
        {"registers after noise", modbus, readSlave1, "\xC7\xBF\x4B" + registers, End::Whole},
        {"registers less their last byte", modbus, readSlave1, registers.substr(0, registers.size() - 1),
         End::Partial},
        {"registers with a wrong CRC", modbus, readSlave1, registers.substr(0, registers.size() - 1) + '\x00',
         End::Unknown},
        {"another slave's registers", modbus, readSlave2, registers, End::Unknown},
        {"an exception", modbus, readSlave1, exception, End::Whole},
        {"the request echoed: its reply is to come", modbus, readSlave1, readSlave1, End::Partial},
        {"a HART reply", hart, identityQuery, identity, End::Whole},
        {"a HART reply after noise", hart, identityQuery, "\x12\x34" + identity, End::Whole},
        {"a HART reply cut short", hart, identityQuery, identity.substr(0, identity.size() - 1),
         End::Partial},
        {"a query reply", query, qx1, qx1Reply, End::Whole},
        {"a query reply cut by a pause", query, qx1, qx1Reply.substr(0, 22), End::Partial},
        {"a query reply before its marker", query, qx1, "QQQ#Q", End::Partial},
        {"a query reply without its closing #", query, qx1, qx1Reply.substr(0, qx1Reply.size() - 1),
         End::Partial},
        {"the communication query's reply", query, "QQQ#QV#", "QQQ#QV:VX538-T-B#", End::Whole},
        {"... cut by a pause", query, "QQQ#QV#", "QQQ#QV:V", End::Partial},
        {"a set reply echoing head and key", set, setAddress, "QQS#ADR:OK#", End::Whole},
        {"a set command refused", set, setAddress, "\x7FQQS#ADR:ERR#", End::Whole},
        {"a set reply cut by a pause", set, setAddress, "QQS#AD", End::Partial},
        {"another command's acknowledgement", set, setAddress, "QQS#MDL:OK#", End::Unknown},
        {"a set reply of another shape", set, setAddress, "OK#", End::Unknown},
        {"a raw frame's reply: only the gap ends it", cli::ReplyShape{}, setAddress, "QQS#ADR:OK#",
         End::Unknown},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cli::ReplyProgress(c.shape, c.bytes, c.request), c.end) << c.what;
    }
}

TEST(Result, EveryTextThatReachesJsonIsValidUtf8) {
    struct Case {
        std::string bytes;
        std::string text;
        bool escaped;
    } cases[] = {
        {"/dev/ttyUSB0", "/dev/ttyUSB0", false},
        {"caf\xC3\xA9 \xE2\x84\x83 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x84\x83 \xF0\x9F\x98\x80", false},
        {"usb-\xFF-if00", "usb-\\xFF-if00", true},
        {"\xC3", "\\xC3", true},                            // a sequence cut short
        {"\xC0\xAF", "\\xC0\\xAF", true},                   // an overlong '/'
        {"\xED\xA0\x80", "\\xED\\xA0\\x80", true},          // a surrogate
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80", true}, // above U+10FFFF
        {std::string("a\0b", 3), std::string("a\0b", 3), false},
    };
    for (const Case& c : cases) {
        bool escaped = !c.escaped;
        EXPECT_EQ(tools::Utf8Text(c.bytes, &escaped), c.text) << c.text;
        EXPECT_EQ(escaped, c.escaped) << c.text;
    }
    // Whatever a command put into its result, the JSON form prints.
    cli::Result result;
    result.field("reply", "reply", "x", std::string("QQS#\xFE\xFF#"));
    result.append("problems", std::string("mode: the converter reports '\x80'"));
    const cli::Json json = result.json();
    EXPECT_EQ(json.dump(),
              R"({"reply":"QQS#\\xFE\\xFF#","problems":["mode: the converter reports '\\x80'"]})");
}

TEST_F(Vx538, ABackupRestoresOntoAFactoryConverterAndVerifies) {
    SimProcess& commissioned = sim();
    const auto set =
        vx538({"-p", commissioned.path(), "set", "rs485.parity=even", "mode=single-meter", "ao3.variable=2",
               "ao5.20ma=123456.7", "ao0.4ma=0.1", "read1.command=82 26 0C 0A 1B 2C 02 00",
               "parse3.coefficient=0.5", "parse.address-bit=6", "modbus.address=17"});
    ASSERT_EQ(set.status, 0) << set.out << set.err;
    EXPECT_NE(set.out.find("ao5.20ma = 123456.7 (took)"), std::string::npos) << set.out;

    const std::string first = path("first.json");
    const auto backup = vx538({"-p", commissioned.path(), "backup", "-o", first});
    ASSERT_EQ(backup.status, 0) << backup.err;

    SimProcess& factory = sim();
    const auto restore = vx538({"-p", factory.path(), "restore", "-i", first});
    ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
    // The line settings go last; the factory's RS485 parity was none.
    EXPECT_TRUE(restore.out.find("RS485 port: QQS#BA1:32#") >
                restore.out.find("MODBUS slave address: QQS#ADR:017#"))
        << restore.out;
    EXPECT_EQ(vx538({"-p", factory.path(), "verify", "-i", first}).status, 0);
    const auto diff = vx538({"-p", factory.path(), "diff", "-i", first});
    EXPECT_EQ(diff.status, 0);
    EXPECT_EQ(diff.out, "matches " + first + " (74 parameters)\n");
    // Restored again, nothing differs, so nothing is sent.
    EXPECT_NE(vx538({"-p", factory.path(), "restore", "-i", first}).out.find("nothing sent"),
              std::string::npos);

    // The same file, one value changed by hand: diff names it and exits 1.
    std::string text = read(first);
    const auto at = text.find("\"parse.address-bit\": 6");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 22, "\"parse.address-bit\": 9");
    write(path("changed.json"), text);
    const auto changed = vx538({"-p", factory.path(), "diff", "-i", path("changed.json")});
    EXPECT_EQ(changed.status, 1);
    EXPECT_NE(changed.out.find("parse.address-bit  file 9, converter 6"), std::string::npos) << changed.out;
    EXPECT_NE(changed.out.find("1 of 74 parameters differ"), std::string::npos) << changed.out;
}

TEST_F(Vx538, ABadFileIsRefusedBeforeAnythingIsSent) {
    const std::string log = path("sim.log");
    SimProcess& converter = sim({"--log", log});
    std::string good = vx538({"-p", converter.path(), "backup", "-o", "-"}).out;
    ASSERT_NE(good.find("\"version\": 1"), std::string::npos);
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    struct Case {
        std::string text;
        int status;
        const char* message;
    } cases[] = {
        {replaced("\"version\": 1", "\"version\": 2"), 8, "version 2, newer than this program reads"},
        {replaced("\"mode\"", "\"moed\""), 2, "unknown parameter 'moed'"},
        {replaced("\"modbus.address\": 1", "\"modbus.address\": 248"), 2,
         "modbus.address: '248' is outside 1..247"},
        {"not json", 8, "not a configuration file"},
    };
    // Requests heard: a reply's line may come after vx538 has ended, a request's never does.
    const auto requests = [&] {
        const std::string text = read(log);
        std::size_t n = 0;
        for (std::size_t at = text.find(" in "); at != std::string::npos; at = text.find(" in ", at + 1)) {
            ++n;
        }
        return n;
    };
    const std::size_t before = requests();
    for (const Case& c : cases) {
        write(path("bad.json"), c.text);
        for (const char* command : {"restore", "verify"}) {
            const auto run = vx538({"-p", converter.path(), command, "-i", path("bad.json")});
            EXPECT_EQ(run.status, c.status) << command << ": " << run.err;
            EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        }
    }
    EXPECT_EQ(vx538({"-p", converter.path(), "restore", "-i", path("missing.json")}).status, 8);
    EXPECT_EQ(requests(), before) << read(log);
}

TEST_F(Vx538, FaultsOnTheLineGiveTheirExitCodes) {
    SimProcess& silent = sim({"--silent"});
    SimProcess& corrupt = sim({"--corrupt"});
    const auto noReply = vx538({"-p", silent.path(), "--timeout", "200", "get", "mode"});
    EXPECT_EQ(noReply.status, 4);
    EXPECT_NE(noReply.err.find("no reply to QX1 (system parameters) within 200 ms"), std::string::npos)
        << noReply.err;
    const auto hart = vx538({"-p", silent.path(), "--timeout", "200", "hart", "id"});
    EXPECT_EQ(hart.status, 6);
    EXPECT_NE(hart.err.find("only in transparent mode"), std::string::npos) << hart.err;
    const auto crc = vx538({"-p", corrupt.path(), "modbus", "read"});
    EXPECT_EQ(crc.status, 7);
    EXPECT_NE(crc.out.find("CRC"), std::string::npos) << crc.out;
    const auto missing = vx538({"-p", path("ttyUSB9"), "ping"});
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.err.find("not found"), std::string::npos) << missing.err;
    EXPECT_EQ(vx538({"-p", corrupt.path(), "set", "mode=sleepy"}).status, 2);
    EXPECT_EQ(vx538({"-p", corrupt.path(), "raw", "--hex", "5151"}).status, 2)
        << "never cut to its first pair";
    const auto refused = vx538({"-p", corrupt.path(), "raw", "QQS#JTM:000#"});
    EXPECT_EQ(refused.status, 0);
    EXPECT_NE(refused.out.find("QQS#JTM:ERR#"), std::string::npos) << refused.out;
}

// Garbage before the reply: vx538 reads the reply in it, and says of the bytes what the traffic
// monitor says of the same block after the same request.
TEST_F(Vx538, AMODBUSReplyAfterNoiseReadsAsTheMonitorReadsIt) {
    SimProcess& noisy = sim({"--noise"});
    const auto run = vx538({"--json", "-p", noisy.path(), "modbus", "read"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const auto object = nlohmann::json::parse(run.out);
    std::vector<uint8_t> block;
    std::istringstream hex(object["reply_hex"].get<std::string>());
    for (unsigned byte; hex >> std::hex >> byte;) {
        block.push_back(static_cast<uint8_t>(byte));
    }
    const std::vector<uint8_t> request = {0x01, 0x03, 0x00, 0x00, 0x00, 0x12, 0xC5, 0xC7};
    const traffic::Reading monitor = traffic::Read(block, traffic::Direction::Received, 302, request);
    EXPECT_EQ(object["meaning"], monitor.meaning);
    EXPECT_EQ(object["verdict"], "good");
    EXPECT_NE(monitor.meaning.find("bytes of noise before it"), std::string::npos) << monitor.meaning;
    EXPECT_EQ(object["registers"].size(), 18u);
}

TEST_F(Vx538, FourConvertersAtOnceEachReportedThenSummed) {
    std::vector<std::string> arguments = {"--timeout", "300"};
    for (int i = 0; i < 4; ++i) {
        arguments.insert(
            arguments.end(),
            {"-p", sim(i == 2 ? std::vector<std::string>{"--silent"} : std::vector<std::string>{}).path()});
    }
    arguments.push_back("ping");
    const auto text = vx538(arguments);
    EXPECT_EQ(text.status, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_NE(text.out.find("== " + sims_[i]->path() + " =="), std::string::npos);
    }
    const auto summary = text.out.substr(text.out.find("\nport "));
    EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 6) << summary; // blank, titles, four ports
    std::istringstream lines(summary);
    int ok = 0;
    for (std::string line; std::getline(lines, line);) {
        ok += line.find(" 0 ok ") != std::string::npos;
        if (line.starts_with(sims_[2]->path() + " ")) {
            EXPECT_NE(line.find(" 4 no reply "), std::string::npos) << line;
        }
    }
    EXPECT_EQ(ok, 3) << summary;
    // Each port's two lines together, then the blank line, the titles and a line per port.
    EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 4 * 2 + 2 + 4) << text.out;

    arguments.insert(arguments.begin(), "--json");
    const auto json = vx538(arguments);
    EXPECT_EQ(json.status, 4);
    EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 4) << json.out;
    EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '{'), 4);
    EXPECT_NE(json.out.find("\"exit\":4,\"result\":\"no reply\""), std::string::npos) << json.out;
}

// A port name that is no UTF-8 and replies after noise: every port still reports, each on a line
// that parses as JSON, and the others' runs are whole.
TEST_F(Vx538, JsonHoldsEveryPortWhateverBytesItsNameOrRepliesHold) {
    const std::string file = path("master.json");
    SimProcess& plain = sim();
    ASSERT_EQ(vx538({"-p", plain.path(), "backup", "-o", file}).status, 0);
    const std::string oddName = path("tty\xFF\xC3");
    fs::create_symlink(sim().path(), oddName);
    const std::string missing = path("gone\xFE");
    const auto run = vx538({"--json", "-p", plain.path(), "-p", sim({"--noise"}).path(), "-p", oddName, "-p",
                            missing, "restore", "--all", "-i", file});
    EXPECT_EQ(run.status, 3) << run.out << run.err; // the one port that failed
    std::map<std::string, nlohmann::json> ports;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        const auto object = nlohmann::json::parse(line); // throws on anything but valid UTF-8 JSON
        ports[object["port"].get<std::string>()] = object;
    }
    ASSERT_EQ(ports.size(), 4u) << run.out;
    const auto& odd = ports.at(tools::Utf8Text(oddName));
    EXPECT_EQ(odd["exit"], 0) << odd.dump();
    EXPECT_TRUE(odd["port_hex"].get<std::string>().ends_with("74 74 79 FF C3")) << odd.dump();
    EXPECT_EQ(ports.at(tools::Utf8Text(missing))["exit"], 3);
    EXPECT_EQ(ports.at(plain.path())["sent"].size(), 26u);
}

} // namespace
