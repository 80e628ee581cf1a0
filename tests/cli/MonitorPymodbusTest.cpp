// vx538 monitor on a bus of programs nobody here wrote: Debian's pymodbus as master and slave on
// pseudo-terminals joined by a relay that copies every byte to the monitor's port (pymodbus_bus.py).
// For every function code pymodbus sends, the frames the client logged are the frames the monitor
// found; tshark reads the pcap file with the same slave, function and data; and the pcap's packets
// carry the time they were on the line: today's, in line order, as the raw capture says.
#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include "tests/cli/MonitorSupport.h"

namespace {

using namespace monitortest;

bool pymodbusInstalled() {
    return testsupport::RunProgram("/usr/bin/python3", {"-c", "import pymodbus, serial"}).status == 0;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            out.push_back(line);
        }
    }
    return out;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> out;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + 1) {
        out.push_back(text.substr(from, at - from));
    }
    out.push_back(text.substr(from));
    return out;
}

int64_t nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// tshark's "1765000000.123456000" in microseconds.
int64_t epochUs(const std::string& text) {
    const std::size_t dot = text.find('.');
    return std::stoll(text.substr(0, dot)) * 1'000'000 + std::stoll(text.substr(dot + 1, 6));
}

std::vector<uint8_t> bytesOf(const std::string& hex) {
    std::vector<uint8_t> out;
    std::istringstream in(hex);
    for (unsigned value; in >> std::hex >> value;) {
        out.push_back(static_cast<uint8_t>(value));
    }
    return out;
}

std::string lowerHex(const std::vector<uint8_t>& bytes) {
    std::string out;
    for (uint8_t b : bytes) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

// The big-endian words of bytes [from, to).
std::vector<int> wordsOf(const std::vector<uint8_t>& b, std::size_t from, std::size_t to) {
    std::vector<int> words;
    for (std::size_t at = from; at + 1 < to; at += 2) {
        words.push_back(b[at] << 8 | b[at + 1]);
    }
    return words;
}

std::string joined(const std::vector<int>& values) {
    std::string out;
    for (int v : values) {
        out += (out.empty() ? "" : ",") + std::to_string(v);
    }
    return out;
}

class MonitorPymodbus : public Scratch {};

TEST_F(MonitorPymodbus, EveryFunctionItSendsIsFoundAsLoggedAndTsharkReadsTheSame) {
    if (!pymodbusInstalled()) {
        GTEST_SKIP() << "python3-pymodbus is not installed (scripts/install-deps.sh installs it)";
    }
    Child bus("/usr/bin/python3",
              {PYMODBUS_BUS, "--go", path("go"), "--frames", path("frames"), "--end", path("end")},
              path("bus.out"), path("bus.err"));
    ASSERT_TRUE(within(60s, [&] { return bus.out().find('\n') != std::string::npos; })) << bus.err();
    const std::string tap = lines(bus.out()).front();
    const int64_t before = nowUs();
    Child monitor(VX538_PATH,
                  {"monitor", "-p", tap, "--baud", "19200", "--json", "--pcap", path("bus.pcap"), "--raw",
                   path("bus.raw")},
                  path("monitor.out"), path("monitor.err"));
    ASSERT_TRUE(within(10s, [&] { return monitor.err().find("listening on") != std::string::npos; }))
        << monitor.err();
    writeFile(path("go"), "");
    ASSERT_TRUE(within(120s, [&] { return fs::exists(path("frames")); })) << bus.err();
    const std::vector<std::string> logged = lines(readFile(path("frames")));
    // Every frame the client logged has reached the monitor before it is stopped.
    EXPECT_TRUE(within(10s, [&] { return count(monitor.out(), "\"number\":") >= int(logged.size()); }));
    EXPECT_EQ(monitor.interrupt(), 0) << monitor.err();
    const int64_t after = nowUs();
    writeFile(path("end"), "");
    EXPECT_EQ(bus.exitStatus(), 0) << bus.err();

    std::vector<Json> frames = jsonLines(monitor.out());
    ASSERT_FALSE(frames.empty());
    const Json summary = frames.back()["summary"];
    frames.pop_back();
    ASSERT_EQ(frames.size(), logged.size()) << monitor.out();
    std::set<int> functions;
    for (std::size_t i = 0; i < logged.size(); ++i) {
        const Json& f = frames[i];
        const bool sent = logged[i].starts_with("SEND ");
        EXPECT_EQ(f["direction"], sent ? "request" : "reply") << logged[i] << " / " << f.dump();
        EXPECT_EQ(f["bytes"], logged[i].substr(5)) << f.dump();
        EXPECT_EQ(f["protocol"], "MODBUS");
        EXPECT_TRUE(f["verdict"] == "good" || f["verdict"] == "exception") << f.dump();
        EXPECT_EQ(f["meaning"].get<std::string>().find("echo"), std::string::npos) << f.dump();
        if (!sent) {
            EXPECT_EQ(f["answers"], frames[i - 1]["number"]) << f.dump();
        }
        functions.insert(f["function"].get<int>());
    }
    EXPECT_EQ(functions, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 15, 16, 17, 20, 21, 22, 23, 24, 43}));
    ASSERT_EQ(summary["devices"].size(), 1u);
    EXPECT_EQ(summary["devices"][0]["requests"], logged.size() / 2);
    EXPECT_EQ(summary["devices"][0]["replies"], logged.size() / 2);
    EXPECT_EQ(summary["noise_bytes"], 0);
    std::set<int> counted;
    for (const auto& [function, requests] : summary["devices"][0]["functions"].items()) {
        counted.insert(std::stoi(function));
    }
    EXPECT_EQ(counted, functions);

    // tshark with the user link type mapped to MODBUS RTU. Its dissector leaves frames shorter than
    // five bytes (the requests of 7, 11, 12 and 17) as data: those must hold the same bytes. Of the
    // data it decodes (Wireshark 4.0: the start address of reads and multiple writes, the registers of
    // read replies and of a multiple write), each must be what the frame carries.
    const testsupport::ProgramResult tshark = testsupport::RunProgram(
        "/usr/bin/tshark", {"-r", path("bus.pcap").string(),
                            "-o", R"x(uat:user_dlts:"User 0 (DLT=147)","mbrtu","0","","0","")x",
                            "-T", "fields",
                            "-E", "separator=|",
                            "-e", "frame.time_epoch",
                            "-e", "mbrtu.unit_id",
                            "-e", "modbus.func_code",
                            "-e", "modbus.exception_code",
                            "-e", "modbus.regval_uint16",
                            "-e", "modbus.reference_num",
                            "-e", "data.data"});
    ASSERT_EQ(tshark.status, 0) << tshark.err;
    const std::vector<std::string> packets = lines(tshark.out);
    ASSERT_EQ(packets.size(), frames.size());
    int64_t previous = 0;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const std::vector<std::string> field = split(packets[i], '|');
        ASSERT_EQ(field.size(), 7u) << packets[i];
        const Json& f = frames[i];
        const std::vector<uint8_t> b = bytesOf(f["bytes"]);
        const bool request = f["direction"] == "request";
        const int function = f["function"];
        if (field[1].empty()) {
            EXPECT_EQ(b.size(), 4u) << "tshark did not decode " << f["bytes"];
            EXPECT_EQ(field[6], lowerHex(b));
        } else {
            EXPECT_EQ(field[1], std::to_string(b[0])) << f["bytes"];
            EXPECT_EQ(field[2], std::to_string(function)) << f["bytes"];
            EXPECT_EQ(field[3], f.contains("exception") ? std::to_string(f["exception"].get<int>()) : "");
            std::string registers;
            if (!request && (function == 3 || function == 4) && !f.contains("exception")) {
                registers = joined(f["registers"].get<std::vector<int>>());
            } else if (request && function == 16) {
                registers = joined(wordsOf(b, 7, b.size() - 2));
            }
            EXPECT_EQ(field[4], registers) << f["bytes"];
            const bool addressed = (request && (function <= 4 || function == 15 || function == 16)) ||
                                   (!request && (function == 15 || function == 16));
            EXPECT_EQ(field[5], addressed ? std::to_string(wordsOf(b, 2, 4).front()) : "") << f["bytes"];
        }
        // The packet's time: when the frame was on the line, while the test ran, in line order, the
        // time the monitor showed for it.
        const int64_t time = epochUs(field[0]);
        EXPECT_GE(time, before - 1'000'000) << packets[i];
        EXPECT_LE(time, after + 1'000'000) << packets[i];
        EXPECT_GE(time, previous) << packets[i];
        EXPECT_EQ(time, f["epoch_us"].get<int64_t>()) << packets[i];
        previous = time;
    }

    // The raw capture framed again gives each frame the same time as the pcap file.
    const testsupport::ProgramResult replay =
        testsupport::RunProgram(VX538_PATH, {"monitor", "--replay", path("bus.raw").string(), "--json"});
    ASSERT_EQ(replay.status, 0) << replay.err;
    const std::vector<Json> again = jsonLines(replay.out);
    ASSERT_EQ(again.size(), frames.size() + 1);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(again[i]["epoch_us"], frames[i]["epoch_us"]) << i;
        EXPECT_EQ(again[i]["bytes"], frames[i]["bytes"]) << i;
    }
}

} // namespace
