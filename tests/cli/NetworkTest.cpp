// vx538 on network ports: simulators behind Debian's ser2net (on 127.0.0.1 only), reached by
// rfc2217:// names, against the same simulators reached directly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <csignal>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "tests/support/DelayProxy.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/Ser2netProcess.h"
#include "tests/support/SimProcess.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::ProgramResult;
using testsupport::Ser2netProcess;
using testsupport::SimProcess;

class Vx538Network : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Ser2netProcess::available()) {
            GTEST_SKIP() << "ser2net is not installed (scripts/install-deps.sh installs it)";
        }
        dir_ = fs::temp_directory_path() / ("vx538-net-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (!dir_.empty()) {
            fs::remove_all(dir_);
        }
    }

    SimProcess& sim(std::vector<std::string> options = {}) {
        sims_.push_back(std::make_unique<SimProcess>(VX538_SIM_PATH, options));
        return *sims_.back();
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    static ProgramResult vx538(std::vector<std::string> arguments) {
        return testsupport::RunProgram(VX538_PATH, arguments);
    }
    static std::string read(const std::string& file) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // A backup file without what names the moment and the port it was taken on.
    static nlohmann::json content(const std::string& file) {
        nlohmann::json json = nlohmann::json::parse(read(file));
        json.erase("date");
        json.erase("port");
        return json;
    }

    fs::path dir_;
    std::vector<std::unique_ptr<SimProcess>> sims_;
};

TEST_F(Vx538Network, ABackupOverRfc2217EqualsTheDirectOneAndRestoresOntoAnotherConverterBehindTheServer) {
    SimProcess& commissioned = sim();
    ASSERT_EQ(vx538({"-p", commissioned.path(), "set", "mode=single-meter", "ao5.20ma=123456.7",
                     "read1.command=82 26 0C 0A 1B 2C 02 00", "modbus.address=17"})
                  .status,
              0);
    SimProcess& factory = sim();
    Ser2netProcess server({{commissioned.path(), true}, {factory.path(), true}});

    // Directly first: ser2net lets go of the terminal only a moment after its client has gone.
    ASSERT_EQ(vx538({"-p", commissioned.path(), "backup", "-o", path("direct.json")}).status, 0);
    const auto overNetwork = vx538({"-p", server.url(0), "backup", "-o", path("network.json")});
    ASSERT_EQ(overNetwork.status, 0) << overNetwork.err;
    EXPECT_EQ(content(path("network.json")), content(path("direct.json")));
    EXPECT_EQ(nlohmann::json::parse(read(path("network.json")))["port"], server.url(0));

    const auto restore = vx538({"-p", server.url(1), "restore", "-i", path("network.json")});
    ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
    const auto verify = vx538({"-p", server.url(1), "verify", "-i", path("direct.json")});
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
}

// HART frames start with runs of 0xFF, which Telnet doubles on the wire; a MODBUS reply's CRC and
// floats hold 0xFF too.
TEST_F(Vx538Network, HartAndModbusFramesCrossIntactAndSeveralPortsAreNamedByTheirUrls) {
    SimProcess& first = sim();
    SimProcess& second = sim();
    Ser2netProcess server({{first.path(), true}, {second.path(), true}});

    const auto identity = vx538({"--json", "-p", server.url(0), "hart", "id"});
    ASSERT_EQ(identity.status, 0) << identity.err;
    const auto id = nlohmann::json::parse(identity.out);
    EXPECT_EQ(id["device_id"], "662316");
    EXPECT_EQ(id["manufacturer"], 38);
    EXPECT_EQ(id["port"], server.url(0));
    const auto variables = vx538({"-p", server.url(0), "hart", "vars"});
    ASSERT_EQ(variables.status, 0) << variables.err;
    EXPECT_NE(variables.out.find(" KPa"), std::string::npos) << variables.out;

    const auto modbus = vx538({"-p", server.url(0), "modbus", "read"});
    ASSERT_EQ(modbus.status, 0) << modbus.out << modbus.err;
    const auto crc = modbus.out.find("\n  CRC ");
    ASSERT_NE(crc, std::string::npos) << modbus.out;
    EXPECT_EQ(modbus.out.substr(crc + 12, 4), " ok\n") << modbus.out;

    const auto both = vx538({"--json", "-p", server.url(0), "-p", server.url(1), "ping"});
    EXPECT_EQ(both.status, 0) << both.err;
    std::istringstream lines(both.out);
    std::set<std::string> ports;
    for (std::string line; std::getline(lines, line);) {
        ports.insert(nlohmann::json::parse(line)["port"]);
    }
    EXPECT_EQ(ports, (std::set<std::string>{server.url(0), server.url(1)}));
    const auto summary = vx538({"-p", server.url(0), "-p", server.url(1), "ping"});
    EXPECT_NE(summary.out.find("== " + server.url(1) + " =="), std::string::npos) << summary.out;
    EXPECT_NE(summary.out.find("\n" + server.url(0) + " "), std::string::npos) << summary.out;
}

TEST_F(Vx538Network, TheBaudAndParityTravelToTheTerminalBehindTheServer) {
    const std::string log = path("sim.log");
    SimProcess& converter = sim({"--log", log});
    Ser2netProcess server({{converter.path(), true}});
    ASSERT_EQ(vx538({"-p", server.url(), "--baud", "19200", "--parity", "odd", "ping"}).status, 0);
    // The simulator logs the settings its terminal has when a request comes (a pseudo-terminal keeps
    // the odd-parity bit, so odd parity shows).
    EXPECT_NE(read(log).find("line       19200 8O1"), std::string::npos) << read(log);
}

TEST_F(Vx538Network, RefusedPortsAndUnknownHostsAreExit3WithTheReason) {
    const auto refused = vx538({"-p", "rfc2217://127.0.0.1:" + std::to_string(testsupport::FreeLoopbackPort()), "ping"});
    EXPECT_EQ(refused.status, 3);
    EXPECT_NE(refused.err.find("connection refused"), std::string::npos) << refused.err;
    const auto unknown = vx538({"-p", "rfc2217://no-such-host.invalid:4001", "ping"});
    EXPECT_EQ(unknown.status, 3);
    EXPECT_NE(unknown.err.find("host not found"), std::string::npos) << unknown.err;
    const auto malformed = vx538({"-p", "rfc2217://127.0.0.1", "ping"});
    EXPECT_EQ(malformed.status, 3);
    EXPECT_NE(malformed.err.find("no port"), std::string::npos) << malformed.err;
}

// A name is echoed at most 80 characters long, its bytes outside printable ASCII escaped: a 100 KB
// host name is refused in one short line, not echoed three times.
TEST_F(Vx538Network, AHugeOrUnprintableNameIsEchoedCutAndEscaped) {
    const auto huge = vx538({"-p", "rfc2217://" + std::string(100000, 'h') + ":4001", "ping"});
    EXPECT_EQ(huge.status, 3);
    EXPECT_NE(huge.err.find("longer than the 253 characters"), std::string::npos) << huge.err.substr(0, 400);
    EXPECT_LT(huge.err.size(), 800u) << huge.err.substr(0, 400);
    const auto odd = vx538({"-p", "rfc2217://ho\xFF\xFEst:4001", "ping"});
    EXPECT_EQ(odd.status, 3);
    EXPECT_NE(odd.err.find("\"ho\\xFF\\xFEst\" is not a host name"), std::string::npos) << odd.err;
    EXPECT_EQ(odd.err.find('\xFF'), std::string::npos) << odd.err;
}

TEST_F(Vx538Network, AServerStoppedDuringAReadIsExit4AndThePortOpensWhenItIsBack) {
    const std::string log = path("sim.log");
    SimProcess& converter = sim({"--log", log, "--delay", "2000"});
    Ser2netProcess server({{converter.path(), true}});
    ProgramResult during;
    std::thread run([&] { during = vx538({"-p", server.url(), "--timeout", "5000", "ping"}); });
    // The request has reached the converter: the reply is 2 s away.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (read(log).find("in ") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    server.stop();
    run.join();
    EXPECT_EQ(during.status, 4) << during.err;
    EXPECT_NE(during.err.find(server.url()), std::string::npos) << during.err;
    EXPECT_NE(during.err.find("connection dropped"), std::string::npos) << during.err;

    server.start();
    EXPECT_EQ(vx538({"-p", server.url(), "--timeout", "5000", "ping"}).status, 0);
}

// The defaults hold on a link that holds every byte 100 ms each way.
TEST_F(Vx538Network, TheDefaultsHoldOnALinkWithA100msDelay) {
    SimProcess& converter = sim();
    Ser2netProcess server({{converter.path(), true}});
    testsupport::DelayProxy link(server.tcpPort(), 100ms);
    ASSERT_EQ(vx538({"-p", converter.path(), "backup", "-o", path("direct.json")}).status, 0);
    const auto slow = vx538({"-p", "rfc2217://127.0.0.1:" + std::to_string(link.port()), "backup", "-o", path("slow.json")});
    ASSERT_EQ(slow.status, 0) << slow.err;
    EXPECT_EQ(content(path("slow.json")), content(path("direct.json")));
}

// A reply whose end its bytes do not show (a set command's), arriving in two parts 200 ms apart, as a
// server that gathers small writes sends one over such a link: the network port's gap waits for it.
TEST_F(Vx538Network, AReplyInPartsARoundTripApartIsReadWhole) {
    SimProcess& converter = sim({"--split", "200"});
    Ser2netProcess server({{converter.path(), true}});
    const auto set = vx538({"-p", server.url(), "raw", "QQS#JTM:010#"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_NE(set.out.find("QQS#JTM:OK#"), std::string::npos) << set.out;
}

// socat in front of the converter's terminal is a raw TCP port: what the RS485 port is set to reaches
// the converter, and the line through the server is not claimed to follow, as nothing of ours can
// change it.
TEST_F(Vx538Network, ARawTcpPortClaimsNoLineChangeAndSaysWhatTheConverterNowUses) {
    if (::access("/usr/bin/socat", X_OK) != 0) {
        GTEST_SKIP() << "socat is not installed (scripts/install-deps.sh installs it)";
    }
    SimProcess& converter = sim();
    // One socat a run, serving one connection: the terminal has one client at a time.
    const auto throughSocat = [&](std::vector<std::string> arguments) {
        const uint16_t port = testsupport::FreeLoopbackPort();
        testsupport::PeerProcess socat("/usr/bin/socat", {"TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr",
                                                          "FILE:" + converter.path() + ",raw,echo=0"},
                                       port);
        arguments.insert(arguments.begin(), {"-p", socat.url("socket")});
        return vx538(arguments);
    };
    const auto json = throughSocat({"--json", "set", "rs485.baud=19200"});
    ASSERT_EQ(json.status, 0) << json.out << json.err;
    const auto result = nlohmann::json::parse(json.out);
    EXPECT_EQ(result["line"]["changed"], false) << json.out;
    EXPECT_EQ(result["line"]["converter_baud"], 19200);
    EXPECT_EQ(result["acknowledged"].size(), 1u) << json.out;

    const auto text = throughSocat({"set", "rs485.baud=9600", "rs485.parity=even"});
    ASSERT_EQ(text.status, 0) << text.out << text.err;
    EXPECT_EQ(text.out.find("the line now runs at"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("the converter's RS485 port now runs at 9600 baud, parity even"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("set the device server's port to 9600 baud, parity even"), std::string::npos) << text.out;
}

// pyserial's RFC 2217 server (Debian's python3-serial) on the converter's terminal: the speed and
// parity asked reach the terminal; a server that confirms another speed is reported as a warning
// and in the JSON, and the command itself goes on.
TEST_F(Vx538Network, PyserialsServerTakesTheSettingsAndAnotherConfirmedSpeedIsAWarning) {
    if (!testsupport::HasPythonModule("serial.rfc2217")) {
        GTEST_SKIP() << "python3-serial is not installed (scripts/install-deps.sh installs it)";
    }
    for (const bool lying : {false, true}) {
        SCOPED_TRACE(lying ? "half the speed confirmed" : "as asked");
        const std::string log = path(lying ? "lying.log" : "faithful.log");
        SimProcess& converter = sim({"--log", log});
        std::vector<std::string> arguments = {testsupport::SupportFile("rfc2217_server.py"), converter.path()};
        if (lying) {
            arguments.push_back("--confirm-half-baud");
        }
        testsupport::PeerProcess server(testsupport::DebianPython(), arguments);
        const auto ping = vx538({"-p", server.url("rfc2217"), "--baud", "19200", "--parity", "odd", "ping"});
        ASSERT_EQ(ping.status, 0) << ping.err;
        EXPECT_NE(read(log).find("line       19200 8O1"), std::string::npos) << read(log);
        const std::string warning = "warning: the server set 9600 baud where 19200 was asked";
        EXPECT_EQ(ping.err.find(warning) != std::string::npos, lying) << ping.err;
        if (lying) {
            const auto json = vx538({"--json", "-p", server.url("rfc2217"), "--baud", "19200", "ping"});
            ASSERT_EQ(json.status, 0) << json.err;
            EXPECT_EQ(nlohmann::json::parse(json.out)["line_differs"],
                      nlohmann::json::array({"the server set 9600 baud where 19200 was asked"}));
        }
    }
}

// A listener whose accept queue is full answers no SYN: the open gives up within the connect
// timeout with exit 3, and SIGTERM ends the wait at once (exit 130, not the timeout's exit 3).
TEST_F(Vx538Network, AConnectToAFullAcceptQueueEndsWithinItsTimeoutOrAtOnceOnSigterm) {
    const testsupport::FullListener full;
    const std::string where = "127.0.0.1:" + std::to_string(full.port());
    for (const std::string scheme : {"rfc2217://", "socket://"}) {
        SCOPED_TRACE(scheme);
        const auto ping = vx538({"-p", scheme + where, "ping"});
        EXPECT_EQ(ping.status, 3) << ping.err;
        EXPECT_NE(ping.err.find("no answer within 3 s"), std::string::npos) << ping.err;
        EXPECT_GE(ping.elapsed, 3000ms);
        EXPECT_LT(ping.elapsed, 6000ms);

        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        const int before = testsupport::ConnectingTo(full.port());
        const int pid = testsupport::Spawn(VX538_PATH, {"-p", scheme + where, "ping"}, out[1], out[1]);
        ::close(out[1]);
        // Its SYN is out and unanswered.
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (testsupport::ConnectingTo(full.port()) <= before && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        ::kill(pid, SIGTERM);
        const int status = testsupport::WaitForChild(pid);
        std::string said;
        char buffer[512];
        for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
            said.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(out[0]);
        EXPECT_EQ(status, 130) << said;
        EXPECT_NE(said.find("interrupted"), std::string::npos) << said;
    }
}

} // namespace
