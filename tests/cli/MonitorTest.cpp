// vx538 monitor on the simulator's tap while a master no one here wrote (Debian's mbpoll) polls the
// simulator: every request and reply heard, paired, with good CRCs and the values mbpoll read; with
// the simulator's noise and spoiled CRCs the bad replies named and the good frames still found;
// tshark reading the pcap file alike; the raw capture framed again the same way; the tap heard
// through ser2net over RFC 2217 alike. (USB-like delivery in 5 ms bursts is framed from a scripted
// capture, MonitorFilesTest.cpp, so it does not depend on how busy the machine is.)
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "tests/cli/MonitorSupport.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/Ser2netProcess.h"
#include "tests/support/SimProcess.h"

namespace {

using namespace monitortest;
using namespace std::chrono_literals;
using testsupport::SimProcess;

// Whether the descriptor `pid` holds on the terminal behind `link` was opened read-only.
std::optional<bool> openedReadOnly(int pid, const fs::path& link) {
    const fs::path target = fs::canonical(link);
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
        std::error_code error;
        if (fs::read_symlink(fd.path(), error) != target) {
            continue;
        }
        const std::string info =
            readFile("/proc/" + std::to_string(pid) + "/fdinfo/" + fd.path().filename().string());
        const std::size_t at = info.find("flags:");
        const long flags = std::stol(info.substr(at + 6), nullptr, 8);
        return (flags & O_ACCMODE) == O_RDONLY;
    }
    return std::nullopt;
}

class Monitor : public Scratch {
protected:
    // The simulator at 115200 baud with a tap, the monitor on the tap, and mbpoll reading eight floats
    // from 40003 every `pollMs` until `enough` holds of the monitor's frames; then mbpoll and the
    // monitor are stopped with Ctrl+C. The monitor's JSON lines, its summary last.
    std::vector<Json> listenWhileMbpollPolls(std::vector<std::string> simOptions,
                                             std::vector<std::string> monitorOptions, const char* pollMs,
                                             const std::function<bool(const std::string&)>& enough,
                                             const std::function<void(const std::string&)>& meanwhile = {}) {
        for (const char* option : {"--baud", "115200", "--tap"}) {
            simOptions.push_back(option);
        }
        simOptions.push_back(path("tap").string());
        SimProcess sim(VX538_SIM_PATH, simOptions);
        const std::string port = listenThrough_ ? listenThrough_(path("tap")) : path("tap").string();
        std::vector<std::string> arguments = {"monitor", "-p", port, "--baud", "115200", "--json"};
        arguments.insert(arguments.end(), monitorOptions.begin(), monitorOptions.end());
        Child monitor(VX538_PATH, arguments, path("monitor.out"), path("monitor.err"));
        EXPECT_TRUE(within(10s, [&] { return monitor.err().find("listening on") != std::string::npos; }))
            << monitor.err();
        readOnly_ = openedReadOnly(monitor.pid(), path("tap"));

        // A reply timeout of 10 s: a busy machine's late reply is waited for, never polled over.
        Child mbpoll("/usr/bin/mbpoll",
                     {"-m", "rtu", "-b", "115200", "-P", "none", "-a",   "1",  "-t", "4:float",
                      "-B", "-r",  "3",  "-c",     "8",  "-l",   pollMs, "-o", "10", sim.path()},
                     path("mbpoll.out"), path("mbpoll.err"));
        EXPECT_TRUE(within(60s,
                           [&] {
                               const std::string heard = monitor.out();
                               if (meanwhile) {
                                   meanwhile(heard);
                               }
                               return enough(heard);
                           }))
            << "the monitor heard " << count(monitor.out(), "\"direction\":\"reply\"") << " replies";
        // mbpoll's own status says whether its polls all succeeded; here it only has to end.
        EXPECT_NE(mbpoll.interrupt(), -1);
        mbpollOut_ = mbpoll.out();
        // mbpoll's last request is answered before the monitor stops.
        EXPECT_TRUE(within(5s, [&] {
            const std::string heard = monitor.out();
            return count(heard, "\"direction\":\"request\"") == count(heard, "\"direction\":\"reply\"");
        }));
        EXPECT_EQ(monitor.interrupt(), 0) << monitor.err();
        return jsonLines(monitor.out());
    }

    // The values mbpoll printed, poll by poll; a poll that failed has none.
    std::vector<std::vector<double>> mbpollValues() const {
        std::vector<std::vector<double>> polls;
        std::istringstream in(mbpollOut_);
        for (std::string line; std::getline(in, line);) {
            if (line.starts_with("-- Polling slave")) {
                polls.emplace_back();
            } else if (line.starts_with("[") && !polls.empty() && line.find("]:") != std::string::npos) {
                polls.back().push_back(std::stod(line.substr(line.find("]:") + 2)));
            }
        }
        return polls;
    }

    // Every request is mbpoll's read with a good CRC, answered by the reply after it with the values
    // mbpoll printed; nothing else was heard.
    void expectEveryPollHeardWithItsValues(const std::vector<Json>& frames, std::size_t atLeast) {
        ASSERT_GE(frames.size(), 2 * atLeast);
        const std::vector<std::vector<double>> polls = mbpollValues();
        std::size_t reply = 0;
        std::size_t compared = 0;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const Json& f = frames[i];
            ASSERT_EQ(f["direction"], i % 2 == 0 ? "request" : "reply") << f.dump();
            ASSERT_EQ(f["protocol"], "MODBUS");
            ASSERT_EQ(f["verdict"], "good") << f.dump();
            ASSERT_EQ(f["slave"], 1);
            ASSERT_EQ(f["function"], 3);
            if (i % 2 == 0) {
                ASSERT_EQ(f["bytes"], "01 03 00 02 00 10 E5 C6");
                continue;
            }
            ASSERT_EQ(f["answers"], frames[i - 1]["number"]);
            ASSERT_EQ(f["registers"].size(), 16u);
            const Json& floats = f["floats"]["ABCD"];
            ASSERT_EQ(floats.size(), 8u);
            if (reply < polls.size() && polls[reply].size() == 8) {
                for (std::size_t k = 0; k < 8; ++k) {
                    const double heard = floats[k].get<double>();
                    EXPECT_NEAR(polls[reply][k], heard, 1e-5 * std::max(1.0, std::fabs(heard)))
                        << "poll " << reply << " value " << k;
                }
                ++compared;
            }
            ++reply;
        }
        // mbpoll printed every poll but perhaps the one Ctrl+C cut.
        EXPECT_GE(compared + 1, reply);
        EXPECT_GE(polls.size() + 1, reply);
    }

    // When set: what port name the monitor listens on, given the tap (by default the tap itself).
    std::function<std::string(const fs::path&)> listenThrough_;
    std::optional<bool> readOnly_;
    std::string mbpollOut_;
};

// Replies heard so far with `verdict` ("good", "CRC or check byte wrong").
int repliesWith(const std::string& heard, const std::string& verdict) {
    int n = 0;
    std::istringstream in(heard);
    for (std::string line; std::getline(in, line);) {
        n += line.find("\"direction\":\"reply\"") != std::string::npos &&
             line.find("\"verdict\":\"" + verdict + "\"") != std::string::npos;
    }
    return n;
}

// Ctrl+C may stop mbpoll in the middle of writing its next request: a request cut short may end
// the capture, shown as noise. Takes it off the frames; its length (0 when there is none).
std::size_t dropCutLastRequest(std::vector<Json>& frames) {
    if (frames.empty() || frames.back()["direction"] != "noise" || frames.back()["length"] >= 8) {
        return 0;
    }
    const std::size_t length = frames.back()["length"];
    frames.pop_back();
    return length;
}

std::function<bool(const std::string&)> replies(int n) {
    return [n](const std::string& heard) { return count(heard, "\"direction\":\"reply\"") >= n; };
}

TEST_F(Monitor, MbpollPollingTheSimulatorIsHeardWholeAndTsharkDecodesTheSame) {
    std::vector<Json> lines = listenWhileMbpollPolls(
        {}, {"--pcap", path("bus.pcap").string(), "--raw", path("bus.raw").string()}, "11", replies(200));
    ASSERT_TRUE(!lines.empty() && lines.back().contains("summary"));
    const Json summary = lines.back()["summary"];
    lines.pop_back();
    const std::size_t cut = dropCutLastRequest(lines);
    EXPECT_EQ(readOnly_, std::optional<bool>(true)) << "the monitor's descriptor on the tap";
    expectEveryPollHeardWithItsValues(lines, 200);
    ASSERT_EQ(summary["devices"].size(), 1u);
    const Json& slave = summary["devices"][0];
    EXPECT_EQ(slave["device"], "slave 1");
    EXPECT_EQ(slave["requests"], lines.size() / 2);
    EXPECT_EQ(slave["replies"], lines.size() / 2);
    EXPECT_EQ(slave["crc_errors"], 0);
    EXPECT_EQ(slave["without_reply"], 0);
    EXPECT_EQ(summary["noise_bytes"], cut);

    // tshark, with the user link type mapped to the MODBUS RTU dissector, reads the same frames.
    const testsupport::ProgramResult tshark = testsupport::RunProgram(
        "/usr/bin/tshark",
        {"-r", path("bus.pcap").string(), "-o", R"x(uat:user_dlts:"User 0 (DLT=147)","mbrtu","0","","0","")x",
         "-T", "fields", "-e", "mbrtu.unit_id", "-e", "modbus.func_code", "-e", "modbus.regval_uint16"});
    ASSERT_EQ(tshark.status, 0) << tshark.err;
    std::istringstream decoded(tshark.out);
    std::size_t i = 0;
    for (std::string row; std::getline(decoded, row); ++i) {
        ASSERT_LT(i, lines.size());
        std::string registers;
        for (const Json& r : lines[i].value("registers", Json::array())) {
            registers += (registers.empty() ? "" : ",") + std::to_string(r.get<int>());
        }
        EXPECT_EQ(row, "1\t3\t" + registers) << "frame " << i;
    }
    EXPECT_EQ(i, lines.size());

    // The raw capture framed again: the same frames.
    const testsupport::ProgramResult replay =
        testsupport::RunProgram(VX538_PATH, {"monitor", "--replay", path("bus.raw").string(), "--json"});
    ASSERT_EQ(replay.status, 0) << replay.err;
    std::vector<Json> again = jsonLines(replay.out);
    ASSERT_EQ(again.size(), lines.size() + (cut > 0 ? 2 : 1));
    for (std::size_t k = 0; k < lines.size(); ++k) {
        for (const char* key : {"number", "epoch_us", "direction", "bytes", "verdict", "answers"}) {
            EXPECT_EQ(again[k].value(key, Json()), lines[k].value(key, Json())) << key << " of frame " << k;
        }
    }
    EXPECT_EQ(again.back()["summary"], summary);
}

TEST_F(Monitor, NoiseAndSpoiledCrcsAreNamedAndTheGoodFramesStillFound) {
    const fs::path control = path("control");
    bool spoiled = false;
    // Noise before every reply from the start; after 60 good replies their CRCs are spoiled as well.
    // mbpoll gives up on a reply as soon as its bytes fail, before the simulator has sent all of it;
    // polling every 40 ms keeps its next request from colliding with a reply a busy machine sends late.
    std::vector<Json> lines = listenWhileMbpollPolls(
        {"--noise", "--control", control.string()}, {}, "40",
        [](const std::string& heard) { return repliesWith(heard, "CRC or check byte wrong") >= 60; },
        [&](const std::string& heard) {
            if (!spoiled && repliesWith(heard, "good") >= 60) {
                std::ofstream(control) << "corrupt on\n";
                spoiled = true;
            }
        });
    ASSERT_TRUE(!lines.empty() && lines.back().contains("summary"));
    const Json summary = lines.back()["summary"];
    lines.pop_back();
    const bool cut = dropCutLastRequest(lines) > 0;

    std::size_t good = 0, bad = 0, noise = 0;
    const Json* request = nullptr;
    bool noiseSinceRequest = false;
    for (const Json& f : lines) {
        if (f["direction"] == "noise") {
            // 1 to 4 bytes before each reply, and nowhere else.
            EXPECT_TRUE(request && !noiseSinceRequest) << f.dump();
            EXPECT_GE(f["length"], 1);
            EXPECT_LE(f["length"], 4) << f.dump();
            noiseSinceRequest = true;
            ++noise;
            continue;
        }
        if (f["direction"] == "request") {
            EXPECT_EQ(f["verdict"], "good");
            EXPECT_EQ(f["bytes"], "01 03 00 02 00 10 E5 C6");
            EXPECT_TRUE(!request) << "a request without reply before " << f.dump();
            request = &f;
            noiseSinceRequest = false;
            continue;
        }
        ASSERT_EQ(f["direction"], "reply") << f.dump();
        ASSERT_TRUE(request);
        EXPECT_EQ(f["answers"], (*request)["number"]);
        EXPECT_EQ(f["length"], 37);
        if (f["verdict"] == "good") {
            EXPECT_EQ(bad, 0u) << "a good reply after the CRCs were spoiled";
            EXPECT_EQ(f["floats"]["ABCD"].size(), 8u);
            ++good;
        } else {
            EXPECT_EQ(f["verdict"], "CRC or check byte wrong") << f.dump();
            ++bad;
        }
        request = nullptr;
    }
    EXPECT_GE(good, 60u);
    EXPECT_GE(bad, 60u);
    EXPECT_EQ(noise, good + bad);
    const Json& slave = summary["devices"][0];
    EXPECT_EQ(slave["replies"], good);
    EXPECT_EQ(slave["crc_errors"], bad);
    EXPECT_EQ(slave["without_reply"], 0);
    EXPECT_EQ(summary["noise_runs"], noise + (cut ? 1 : 0));
}

// The tap served by Debian's ser2net: the monitor hears the same frames over rfc2217:// without
// holding the terminal itself, and a port it cannot reach is refused as by every other command.
TEST_F(Monitor, ListeningOverRfc2217ThroughSer2netHearsTheSameFrames) {
    if (!testsupport::Ser2netProcess::available()) {
        GTEST_SKIP() << "ser2net is not installed (scripts/install-deps.sh installs it)";
    }
    std::unique_ptr<testsupport::Ser2netProcess> server;
    listenThrough_ = [&](const fs::path& tap) {
        server = std::make_unique<testsupport::Ser2netProcess>(
            std::vector<testsupport::Ser2netProcess::Device>{{tap.string(), true}});
        return server->url();
    };
    std::vector<Json> lines = listenWhileMbpollPolls({}, {}, "11", replies(50));
    ASSERT_TRUE(!lines.empty() && lines.back().contains("summary"));
    lines.pop_back();
    dropCutLastRequest(lines);
    EXPECT_EQ(readOnly_, std::nullopt) << "the monitor held the tap itself";
    expectEveryPollHeardWithItsValues(lines, 50);

    // The server gone while the monitor listens: the connection dropped, as a line lost during the run (exit
    // 4).
    SimProcess sim(VX538_SIM_PATH, {"--tap", path("tap2").string()});
    testsupport::Ser2netProcess second({{path("tap2").string(), true}});
    Child monitor(VX538_PATH, {"monitor", "-p", second.url()}, path("lost.out"), path("lost.err"));
    ASSERT_TRUE(within(10s, [&] { return monitor.err().find("listening on") != std::string::npos; }))
        << monitor.err();
    second.stop();
    EXPECT_EQ(monitor.exitStatus(), 4);
    EXPECT_NE(monitor.err().find(second.url() + ": the connection dropped"), std::string::npos)
        << monitor.err();

    const std::string refused = "rfc2217://127.0.0.1:" + std::to_string(testsupport::FreeLoopbackPort());
    for (const std::string& port : {refused, std::string("socket://127.0.0.1")}) {
        const auto monitor = testsupport::RunProgram(VX538_PATH, {"monitor", "-p", port, "--duration", "1"});
        const auto ping = testsupport::RunProgram(VX538_PATH, {"-p", port, "ping"});
        EXPECT_EQ(monitor.status, 3) << port;
        EXPECT_EQ(monitor.status, ping.status) << port;
        const std::string reason = monitor.err.substr(monitor.err.find(": ") + 2);
        EXPECT_NE(reason.find(port), std::string::npos) << monitor.err;
        EXPECT_NE(ping.err.find(reason), std::string::npos) << monitor.err << ping.err;
    }
}

} // namespace
