// Network ports: the names they go by, the Telnet escaping of the line's bytes, and the component
// through Debian's ser2net in front of a pseudo-terminal.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <future>
#include <thread>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "serial/Mailbox.h"
#include "serial/PortUrl.h"
#include "serial/RawTcpPort.h"
#include "serial/SerialComm.h"
#include "serial/TelnetCodec.h"
#include "tests/serial/CommFixture.h"
#include "tests/support/ControlOnlyPort.h"
#include "tests/support/LineReadback.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/ProcProbe.h"
#include "tests/support/PtyPeer.h"
#include "tests/support/Ser2netProcess.h"
#include "tests/support/Wait.h"

namespace {

using namespace std::chrono_literals;
using serial::NetworkPortName;
using Protocol = serial::NetworkPortName::Protocol;

TEST(NetworkPortName, TheFormsReadAndEverythingElseIsRefusedWithTheReason) {
    struct Case {
        const char* text;
        bool network;     // taken as a network name at all (else a local device)
        const char* host; // nullptr: refused
        Protocol protocol;
        uint16_t port;
        const char* why; // part of the refusal
    } cases[] = {
        {"rfc2217://192.168.1.20:4001", true, "192.168.1.20", Protocol::Rfc2217, 4001, nullptr},
        {"RFC2217://cabinet-3.plant.local:2217", true, "cabinet-3.plant.local", Protocol::Rfc2217, 2217, nullptr},
        {"socket://localhost:65535", true, "localhost", Protocol::Raw, 65535, nullptr},
        {"rfc2217://[::1]:4001", true, "::1", Protocol::Rfc2217, 4001, nullptr},
        {"socket://[fe80::1%eth0]:1", true, "fe80::1%eth0", Protocol::Raw, 1, nullptr},
        {"rfc2217://host", true, nullptr, Protocol::Rfc2217, 0, "no port"},
        {"rfc2217://host:", true, nullptr, Protocol::Rfc2217, 0, "1 to 65535"},
        {"rfc2217://host:0", true, nullptr, Protocol::Rfc2217, 0, "1 to 65535"},
        {"rfc2217://host:65536", true, nullptr, Protocol::Rfc2217, 0, "1 to 65535"},
        {"rfc2217://host:40a1", true, nullptr, Protocol::Rfc2217, 0, "1 to 65535"},
        {"rfc2217://:4001", true, nullptr, Protocol::Rfc2217, 0, "no host"},
        {"rfc2217://::1:4001", true, nullptr, Protocol::Rfc2217, 0, "brackets"},
        {"rfc2217://[::1:4001", true, nullptr, Protocol::Rfc2217, 0, "closing ']'"},
        {"rfc2217://[zz]:4001", true, nullptr, Protocol::Rfc2217, 0, "not an IPv6 address"},
        {"rfc2217://host:4001/", true, nullptr, Protocol::Rfc2217, 0, "nothing may follow"},
        {"rfc2217://host:4001?logging=debug", true, nullptr, Protocol::Rfc2217, 0, "nothing may follow"},
        {"rfc2217://user@host:4001", true, nullptr, Protocol::Rfc2217, 0, "no authentication"},
        {"rfc2217+ssl://host:4001", true, nullptr, Protocol::Rfc2217, 0, "ssh -L"},
        {"telnet://host:23", true, nullptr, Protocol::Rfc2217, 0, "unknown scheme \"telnet\""},
        {"socket://ho st:1", true, nullptr, Protocol::Raw, 0, "not a host name"},
        {"/dev/ttyUSB0", false, nullptr, Protocol::Raw, 0, nullptr},
        {"COM3", false, nullptr, Protocol::Raw, 0, nullptr},
        {"/dev/x://y", false, nullptr, Protocol::Raw, 0, nullptr},
        {"://host:1", false, nullptr, Protocol::Raw, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(serial::isNetworkPortName(c.text), c.network);
        if (!c.network) {
            continue;
        }
        const serial::PortUrlReading reading = serial::readPortUrl(c.text);
        if (c.host) {
            ASSERT_TRUE(reading.name) << reading.error;
            EXPECT_EQ(reading.name->host, c.host);
            EXPECT_EQ(reading.name->protocol, c.protocol);
            EXPECT_EQ(reading.name->port, c.port);
        } else {
            EXPECT_FALSE(reading.name);
            EXPECT_NE(reading.error.find(c.why), std::string::npos) << reading.error;
            EXPECT_NE(reading.error.find("rfc2217://HOST:PORT or socket://HOST:PORT"), std::string::npos);
        }
    }
}

// What a message shows of a name: as typed while short and printable, else at most 80 characters
// in quotes, other bytes as \xHH, and the length when cut.
TEST(NetworkPortName, ANameIsEchoedCutAndEscaped) {
    struct Case {
        std::string text;
        std::string echoed;
    } cases[] = {
        {"rfc2217://cabinet:4001", "\"rfc2217://cabinet:4001\""},
        {"ho\xFF\x01\"\\st", "\"ho\\xFF\\x01\\x22\\x5Cst\""},
        {std::string(80, 'a'), "\"" + std::string(80, 'a') + "\""},
        {std::string(81, 'a'), "\"" + std::string(80, 'a') + "... (81 bytes)\""},
        {std::string(100000, 'h'), "\"" + std::string(80, 'h') + "... (100000 bytes)\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 20));
        EXPECT_EQ(serial::echoed(c.text), c.echoed);
    }
    const serial::PortUrlReading longHost = serial::readPortUrl("socket://" + std::string(254, 'h') + ":1");
    EXPECT_FALSE(longHost.name);
    EXPECT_NE(longHost.error.find("longer than the 253 characters"), std::string::npos);
    EXPECT_LT(longHost.error.size(), 400u);
    EXPECT_TRUE(serial::readPortUrl("socket://" + std::string(253, 'h') + ":1").name);
}

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (const int v : values) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

std::string decodeByteByByte(serial::TelnetCodec& codec, const std::string& wire) {
    std::string data;
    for (const char c : wire) {
        uint8_t in = static_cast<uint8_t>(c);
        uint8_t out[1];
        const std::size_t n = codec.receive(&in, 1, out);
        data.append(reinterpret_cast<const char*>(out), n);
    }
    return data;
}

// Telnet doubles 0xFF on the wire and nothing else; the server's reports inside the stream are
// taken out of the data, however the stream is cut.
TEST(TelnetCodec, EscapingIsExactBothWaysAndReportsLeaveTheData) {
    std::string everyValue;
    for (int v = 0; v < 256; ++v) {
        everyValue.push_back(static_cast<char>(v));
    }
    const std::string hartPreambles(20, '\xFF');
    struct Case {
        const char* what;
        std::string data;
        std::string wire; // as it travels
    } cases[] = {
        {"every byte value", everyValue, everyValue.substr(0, 255) + "\xFF\xFF"},
        {"HART preambles", hartPreambles, std::string(40, '\xFF')},
        {"a float with 0xFF inside", bytes({0x7F, 0xFF, 0xFF, 0xFF}), bytes({0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
        {"CR NUL and CR LF untouched", bytes({0x0D, 0x00, 0x0D, 0x0A}), bytes({0x0D, 0x00, 0x0D, 0x0A})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        serial::TelnetCodec sender;
        std::string wire;
        sender.encodeData(reinterpret_cast<const uint8_t*>(c.data.data()), c.data.size(), wire);
        EXPECT_EQ(wire, c.wire);
        serial::TelnetCodec receiver;
        EXPECT_EQ(decodeByteByByte(receiver, c.wire), c.data);
        EXPECT_TRUE(receiver.failure().empty());
    }

    // Reports between data bytes, cut anywhere: line state overrun+parity+framing, modem state with
    // ring trailing edge and carrier change, and a baud acknowledgement whose bytes include a doubled
    // 0xFF (16777215 = 0x00FFFFFF).
    serial::TelnetCodec codec;
    const std::string stream = "\x01\xFF\xFF" + bytes({0xFF, 0xFA, 44, 106, 0x0E, 0xFF, 0xF0}) + "\x02" +
                               bytes({0xFF, 0xFA, 44, 107, 0x0C, 0xFF, 0xF0}) +
                               bytes({0xFF, 0xFA, 44, 101, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}) + "\x03";
    EXPECT_EQ(decodeByteByByte(codec, stream), bytes({0x01, 0xFF, 0x02, 0x03}));
    EXPECT_EQ(codec.counters().overrun, 1);
    EXPECT_EQ(codec.counters().parity, 1);
    EXPECT_EQ(codec.counters().frame, 1);
    EXPECT_EQ(codec.counters().brk, 0);
    EXPECT_EQ(codec.counters().ring, 1);
    EXPECT_EQ(codec.counters().carrier, 1);
    EXPECT_EQ(codec.serverLine().baud, 0x00FFFFFFu);
}

// The component's events over rfc2217:// through ser2net, the test playing the converter on the
// pseudo-terminal behind it.
class NetworkComm : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::Ser2netProcess::available()) {
            GTEST_SKIP() << "ser2net is not installed (scripts/install-deps.sh installs it)";
        }
        ser2net = std::make_unique<testsupport::Ser2netProcess>(
            std::vector<testsupport::Ser2netProcess::Device>{{pty.slavePath(), true}});
        comm.SetCommName(ser2net->url());
        comm.SetOutx_XonXoffFlow(false);
        comm.SetInx_XonXoffFlow(false);
        comm.SetReadIntervalTimeout(50);
        serialtest::recordEvents(comm, log);
    }

    void openAndSettle() {
        comm.OpenPort();
        ASSERT_TRUE(testsupport::waitUntil([&] { return log.sendEmpty >= 1; }));
    }

    testsupport::PtyPeer pty;
    std::unique_ptr<testsupport::Ser2netProcess> ser2net;
    serial::TComm comm;
    serialtest::EventLog log;
};

TEST_F(NetworkComm, EveryByteValueCrossesUnchangedAndABurstIsOneBlock) {
    openAndSettle();
    std::string everyValue;
    for (int v = 0; v < 256; ++v) {
        everyValue.push_back(static_cast<char>(v));
    }
    const std::string frame = std::string(20, '\xFF') + everyValue + std::string(7, '\xFF');
    ASSERT_TRUE(comm.SendData(frame.data(), static_cast<uint16_t>(frame.size())));
    EXPECT_EQ(pty.readAtLeast(frame.size(), 3000ms), frame);

    pty.write(frame);
    ASSERT_TRUE(testsupport::waitUntil([&] { return log.joined().size() >= frame.size(); }));
    testsupport::pumpFor(150ms); // longer than the read interval: nothing more may come
    ASSERT_EQ(log.blocks.size(), 1u);
    EXPECT_EQ(log.blocks[0], frame);
    EXPECT_TRUE(log.everyBlockZeroTerminated);

    pty.write("QX1");
    testsupport::pumpFor(150ms);
    pty.write("QX2");
    ASSERT_TRUE(testsupport::waitUntil([&] { return log.blocks.size() >= 3; }));
    EXPECT_EQ(log.blocks[1], "QX1");
    EXPECT_EQ(log.blocks[2], "QX2");
    EXPECT_EQ(log.hangups, 0);
}

TEST_F(NetworkComm, TheLineSettingsReachTheTerminalBehindTheServer) {
    comm.SetBaudRate(19200);
    comm.SetParity(serial::TParity::Odd);
    comm.SetStopBits(serial::TStopBits::_2);
    openAndSettle();
    ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::readLine(pty.masterFd()).outputSpeed == 19200; }));
    // A pseudo-terminal keeps the odd bit but no parity-enable bit (see LineReadback.h).
    EXPECT_TRUE(testsupport::readLine(pty.masterFd()).parityOdd);
    EXPECT_TRUE(testsupport::readLine(pty.masterFd()).twoStopBits);
    // While open, a new speed is sent at once.
    comm.SetBaudRate(4800);
    EXPECT_TRUE(testsupport::waitUntil([&] { return testsupport::readLine(pty.masterFd()).outputSpeed == 4800; }));
}

TEST_F(NetworkComm, AStoppedServerIsOneHangupAndThePortOpensAgainWhenItIsBack) {
    openAndSettle();
    ser2net->stop();
    ASSERT_TRUE(testsupport::waitUntil([&] { return log.hangups >= 1; }));
    testsupport::pumpFor(200ms);
    EXPECT_EQ(log.hangups, 1);
    EXPECT_TRUE(comm.IsOpen()); // as for an adapter: open until the owner closes it

    comm.ClosePort();
    try {
        comm.OpenPort();
        FAIL() << "opened with the server stopped";
    } catch (const serial::ECommsError& e) {
        EXPECT_STREQ(e.what(), "Error opening serial port");
        EXPECT_EQ(e.DevicePath(), ser2net->url());
        EXPECT_NE(e.Reason().find("connection refused"), std::string::npos) << e.Reason();
    }
    EXPECT_FALSE(comm.IsOpen());

    ser2net->start();
    comm.OpenPort();
    ASSERT_TRUE(comm.SendData("QQQ#QV#", 7));
    EXPECT_EQ(pty.readAtLeast(7, 3000ms), "QQQ#QV#");
    pty.write("QQQ#QV:VX538-T-B#");
    EXPECT_TRUE(testsupport::waitUntil([&] { return log.joined().find("VX538-T-B") != std::string::npos; }));
}

// A server that accepts and never answers the negotiation: the open gives up within its bound.
TEST(NetworkOpen, UnknownHostsRefusedPortsAndSilentServersSayWhyWithinTheConnectTimeout) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string silent = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    const std::string refused = "127.0.0.1:" + std::to_string(testsupport::FreeLoopbackPort());
    const testsupport::FullListener fullQueue;
    const std::string full = "127.0.0.1:" + std::to_string(fullQueue.port());

    struct Case {
        std::string name;
        const char* message;
        const char* reason;
    } cases[] = {
        {"rfc2217://" + refused, "Error opening serial port", "connection refused"},
        {"socket://" + refused, "Error opening serial port", "connection refused"},
        {"rfc2217://no-such-host.invalid:4001", "Error opening serial port", "host not found"},
        {"rfc2217://" + silent, "File handle is not a comm handle ", "did not answer the RFC 2217 negotiation"},
        {"rfc2217://host:99999", "Error opening serial port", "1 to 65535"},
        // The connect's wait ends with the time left, not when the kernel gives up (minutes).
        {"rfc2217://" + full, "Error opening serial port", "no answer within 3 s"},
        {"socket://" + full, "Error opening serial port", "no answer within 3 s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        serial::TComm comm;
        comm.SetCommName(c.name);
        const auto began = std::chrono::steady_clock::now();
        try {
            comm.OpenPort();
            FAIL() << "opened";
        } catch (const serial::ECommsError& e) {
            EXPECT_STREQ(e.what(), c.message);
            EXPECT_EQ(e.DevicePath(), c.name);
            EXPECT_NE(e.Reason().find(c.reason), std::string::npos) << e.Reason();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - began, serial::kConnectTimeout + 500ms);
        EXPECT_FALSE(comm.IsOpen());
    }

    // A link that dies while idle is found within about 20 s: keepalive probes after 5 s of silence,
    // and the same bound for bytes that are never acknowledged.
    serial::RawTcpPort raw("socket://" + silent, serial::readPortUrl("socket://" + silent));
    ASSERT_EQ(raw.open().result, serial::OpenResult::Opened);
    const auto option = [&](int level, int name) {
        int value = 0;
        socklen_t size = sizeof value;
        EXPECT_EQ(::getsockopt(raw.fd(), level, name, &value, &size), 0);
        return value;
    };
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_LE(option(IPPROTO_TCP, TCP_KEEPIDLE) + option(IPPROTO_TCP, TCP_KEEPINTVL) * option(IPPROTO_TCP, TCP_KEEPCNT), 20);
    EXPECT_LE(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 20000);
    EXPECT_GT(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 0);
    raw.close();
    ::close(listener);
}

// The half of the open that may wait, on a worker thread, ends at once when its caller cancels it,
// with the component's message and the reason.
TEST(NetworkOpen, AConnectWaitingForAnAnswerEndsAtOnceWhenCancelled) {
    const testsupport::FullListener full;
    for (const std::string scheme : {"rfc2217", "socket"}) {
        SCOPED_TRACE(scheme);
        serial::EventFd cancel;
        ASSERT_TRUE(cancel.create());
        const int before = testsupport::ConnectingTo(full.port());
        auto connecting = std::async(std::launch::async, [&] {
            try {
                serial::TComm::ConnectPort(scheme + "://127.0.0.1:" + std::to_string(full.port()), &cancel);
                return std::string("opened");
            } catch (const serial::ECommsError& e) {
                return std::string(e.what()) + "|" + e.Reason();
            }
        });
        // Its SYN is out and unanswered: the wait is on.
        ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::ConnectingTo(full.port()) > before; }, 5000ms));
        cancel.signal();
        const std::string outcome = connecting.get();
        EXPECT_EQ(outcome.substr(0, outcome.find('|')), "Error opening serial port");
        EXPECT_NE(outcome.find("interrupted"), std::string::npos) << outcome;
    }
}

// A port that stays readable with nothing of the line's (a server's unending notifications): the
// line's bytes still reach the owner as a block once the line itself has been silent for the read
// interval.
TEST(NetworkHostile, ABlockEndsByTheLinesSilenceWhileThePortStaysReadableWithControlOnly) {
    serial::TComm comm;
    serialtest::EventLog log;
    serialtest::recordEvents(comm, log);
    comm.SetReadIntervalTimeout(50);
    auto port = std::make_unique<testsupport::ControlOnlyPort>("QX1");
    ASSERT_EQ(port->open().result, serial::OpenResult::Opened);
    comm.OpenPort(std::move(port));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !log.blocks.empty(); }));
    EXPECT_EQ(log.blocks[0], "QX1");
    comm.ClosePort();
}

// A peer that sends far faster than the main thread takes blocks (here the main thread is held up
// for two seconds, as a long handler would hold it): what waits is bounded, in the socket rather
// than in memory, and every block still comes once the main thread takes them.
TEST(NetworkHostile, AFloodFasterThanTheMainThreadWaitsInTheSocketNotInMemory) {
    testsupport::PeerProcess server(testsupport::DebianPython(),
                                    {testsupport::SupportFile("hostile_peer.py"), "random"});
    serial::TComm comm;
    std::size_t received = 0;
    comm.OnReceiveData = [&](serial::TComm*, const uint8_t*, uint16_t length) { received += length; };
    comm.SetCommName(server.url("socket"));
    comm.SetReadIntervalTimeout(50);
    const long before = testsupport::residentKb();
    comm.OpenPort();
    std::this_thread::sleep_for(2s);
    EXPECT_LT(testsupport::residentKb() - before, 24 * 1024);
    EXPECT_TRUE(testsupport::waitUntil([&] { return received > 2 * serial::Mailbox::kMaxQueuedData; }));
    comm.ClosePort();
}

// pyserial's RFC 2217 server (Debian's python3-serial) in front of a pseudo-terminal: the settings
// reach the terminal, and a server that confirms another speed than asked is reported through the
// component's hook, the port staying open.
TEST(NetworkPyserial, TheSettingsReachTheTerminalAndAnotherConfirmedSpeedIsReported) {
    if (!testsupport::HasPythonModule("serial.rfc2217")) {
        GTEST_SKIP() << "python3-serial is not installed (scripts/install-deps.sh installs it)";
    }
    for (const bool lying : {false, true}) {
        SCOPED_TRACE(lying ? "a server confirming half the speed" : "a faithful server");
        testsupport::PtyPeer pty;
        std::vector<std::string> arguments = {testsupport::SupportFile("rfc2217_server.py"), pty.slavePath()};
        if (lying) {
            arguments.push_back("--confirm-half-baud");
        }
        testsupport::PeerProcess server(testsupport::DebianPython(), arguments);
        serial::TComm comm;
        serialtest::EventLog log;
        serialtest::recordEvents(comm, log);
        std::vector<std::string> differences;
        comm.OnLineDiffers = [&](serial::TComm* sender, const std::string& difference) {
            EXPECT_EQ(sender, &comm);
            differences.push_back(difference);
        };
        comm.SetCommName(server.url("rfc2217"));
        comm.SetBaudRate(19200);
        comm.SetParity(serial::TParity::Odd);
        comm.SetOutx_XonXoffFlow(false);
        comm.SetInx_XonXoffFlow(false);
        comm.OpenPort();
        // The server applies each setting as its own request comes: the speed may be there before the parity.
        ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::readLine(pty.masterFd()).outputSpeed == 19200; }));
        EXPECT_TRUE(testsupport::waitUntil([&] { return testsupport::readLine(pty.masterFd()).parityOdd; }));
        // The data goes through both ways while (and after) the difference is said.
        ASSERT_TRUE(comm.SendData("QQQ#QV#", 7));
        EXPECT_EQ(pty.readAtLeast(7, 3000ms), "QQQ#QV#");
        if (lying) {
            ASSERT_TRUE(testsupport::waitUntil([&] { return !differences.empty(); }));
            EXPECT_EQ(differences.front(), "the server set 9600 baud where 19200 was asked");
        } else {
            pty.write("QQQ#QV:VX538-T-B#");
            ASSERT_TRUE(testsupport::waitUntil([&] { return log.joined().find("VX538") != std::string::npos; }));
            EXPECT_TRUE(differences.empty()) << differences.front();
        }
        EXPECT_TRUE(comm.IsOpen());
        EXPECT_EQ(log.hangups, 0);
    }
}

} // namespace
