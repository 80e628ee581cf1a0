// The real window on a network port: the simulated converter behind Debian's ser2net, the port
// name typed as rfc2217:// or socket://; and a server that never answers, opened off the GUI thread.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include "app/exchange/StatusLine.h"
#include "app/traffic/BusListener.h"
#include "app/traffic/TrafficModel.h"
#include "app/traffic/TrafficMonitor.h"
#include "app/traffic/TrafficWindow.h"
#include "serial/SerialComm.h"
#include "tests/support/FormHarness.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/Ser2netProcess.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"
#include "bus/PortSource.h"
#include "traffic/EventFormat.h"
#include "traffic/Recorder.h"

using namespace std::chrono_literals;
using testsupport::FormHarness;
using testsupport::Ser2netProcess;
using testsupport::SimProcess;
using testsupport::waitUntil;

namespace {

class NetworkPortWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Ser2netProcess::available()) {
            GTEST_SKIP() << "ser2net is not installed (scripts/install-deps.sh installs it)";
        }
        sim = std::make_unique<SimProcess>(VX538_SIM_PATH);
        ser2net = std::make_unique<Ser2netProcess>(std::vector<Ser2netProcess::Device>{{sim->path(), true}});
    }

    void open(const std::string& url) {
        // Typed into the editable "Serial Port:" field, as a user does.
        h.form().SetPortName(QString::fromStdString(url));
        h.click("Button1");
        // A network port opens on a worker thread; the window learns the outcome as an event.
        ASSERT_TRUE(waitUntil([&] { return !h.form().Opening(); }, 10s));
        ASSERT_EQ(h.button("Button1")->text(), QStringLiteral("Close")) << "the port did not open";
    }

    std::vector<std::string> column(traffic::Column which) {
        app::TrafficModel& model = h.form().Traffic().model();
        std::vector<std::string> texts;
        for (int row = 0; row < model.rowCount(); ++row) {
            texts.push_back(model.index(row, static_cast<int>(which)).data().toString().toStdString());
        }
        return texts;
    }

    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<Ser2netProcess> ser2net;
    FormHarness h;
};

bool contains(const std::vector<std::string>& texts, const std::string& part) {
    return std::any_of(texts.begin(), texts.end(),
                       [&](const std::string& t) { return t.find(part) != std::string::npos; });
}

} // namespace

TEST_F(NetworkPortWindow, AnRfc2217PortFillsTheFieldsAndTheMonitorShowsTheFrames) {
    open(ser2net->url());
    EXPECT_EQ(h.form().Status().text(), QString::fromStdString(ser2net->url() + " open, 9600 None"));

    h.click("Button23"); // "System Parameters"
    ASSERT_TRUE(waitUntil([&] { return h.text("Edit14") == QStringLiteral("001"); }, 3s))
        << h.receiveField().toStdString();
    EXPECT_EQ(h.receiveField(), QStringLiteral("QQQ#QX1:ADR:001,BA1:30,BA2:30,MD:0,JTM:010#"));

    // HART identity and variables: frames with 0xFF preambles both ways.
    h.click("Button7");
    ASSERT_TRUE(waitUntil([&] { return !h.text("Edit32").isEmpty(); }, 3s)) << h.receiveField().toStdString();
    EXPECT_EQ(h.text("Edit32"), QStringLiteral("662316")) << "device identification 0A 1B 2C";
    h.click("Button16");
    ASSERT_TRUE(waitUntil([&] { return !h.text("Edit30").isEmpty(); }, 4s)) << h.receiveField().toStdString();
    EXPECT_EQ(h.text("ComboBox3"), QStringLiteral("KPa   "));

    const auto direction = column(traffic::Column::Direction);
    const auto meaning = column(traffic::Column::Meaning);
    ASSERT_FALSE(direction.empty());
    EXPECT_EQ(direction.front(), "port opened");
    EXPECT_NE(meaning.front().find(ser2net->url() + " at 9600 baud, 8N1"), std::string::npos)
        << meaning.front();
    EXPECT_TRUE(contains(meaning, "system parameter query (QX1)"));
    EXPECT_TRUE(contains(meaning, "text reply, block QX1"));
    EXPECT_EQ(std::count(direction.begin(), direction.end(), "received"), 3);
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(NetworkPortWindow, AStoppedServerIsLostOnceAndThePortOpensAgainWhenItIsBack) {
    open(ser2net->url());
    ser2net->stop();
    ASSERT_TRUE(waitUntil([&] { return h.button("Button1")->text() == QStringLiteral("Open"); }, 3s));
    testsupport::pumpFor(200ms);
    ASSERT_EQ(h.messages().size(), 1u);
    EXPECT_TRUE(h.messages()[0].text.contains(QStringLiteral("was lost")))
        << h.messages()[0].text.toStdString();
    EXPECT_TRUE(h.messages()[0].text.contains(QString::fromStdString(ser2net->url())));
    EXPECT_TRUE(h.form().Status().text().contains(QStringLiteral("the connection dropped")))
        << h.form().Status().text().toStdString();

    ser2net->start();
    open(ser2net->url());
    h.click("Button23");
    EXPECT_TRUE(waitUntil([&] { return h.text("Edit14") == QStringLiteral("001"); }, 3s));
}

TEST_F(NetworkPortWindow, ARawPortSaysTheServersSettingsApply) {
    Ser2netProcess raw(std::vector<Ser2netProcess::Device>{{sim->path(), false}});
    ser2net->stop(); // one client on the terminal at a time
    open(raw.url());
    EXPECT_EQ(h.form().Status().text(),
              QString::fromStdString(raw.url() + " open, the server's own line settings apply"));
    h.click("Button23");
    EXPECT_TRUE(waitUntil([&] { return h.text("Edit14") == QStringLiteral("001"); }, 3s));
}

// An rfc2217:// name given for a raw TCP port: the box keeps the component's message, and the status
// line says what the network port found, not "File handle is not a comm handle".
TEST_F(NetworkPortWindow, AnRfc2217NameForARawPortShowsTheNetworkPortsOwnWordsOnTheStatusLine) {
    Ser2netProcess raw(std::vector<Ser2netProcess::Device>{{sim->path(), false}});
    ser2net->stop();
    const std::string url = "rfc2217://127.0.0.1:" + std::to_string(raw.tcpPort());
    h.form().SetPortName(QString::fromStdString(url));
    h.click("Button1");
    ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 10s));
    EXPECT_EQ(h.messages()[0].text, QStringLiteral("File handle is not a comm handle "));
    const QString status = h.form().Status().text();
    EXPECT_TRUE(status.contains(QStringLiteral("did not answer the RFC 2217 negotiation"))) << status.toStdString();
    EXPECT_FALSE(status.contains(QStringLiteral("comm handle"))) << status.toStdString();
    EXPECT_EQ(h.button("Button1")->text(), QStringLiteral("Open"));
}

// pyserial's RFC 2217 server confirming half the speed asked: the status line and the traffic
// monitor say so; the port stays open and works.
TEST_F(NetworkPortWindow, AServerConfirmingAnotherSpeedIsSaidOnTheStatusLineAndInTheMonitor) {
    if (!testsupport::HasPythonModule("serial.rfc2217")) {
        GTEST_SKIP() << "python3-serial is not installed (scripts/install-deps.sh installs it)";
    }
    ser2net->stop(); // one client on the terminal at a time
    testsupport::PeerProcess server(testsupport::DebianPython(), {testsupport::SupportFile("rfc2217_server.py"),
                                                                  sim->path(), "--confirm-half-baud"});
    open(server.url("rfc2217"));
    const std::string difference = "the server set 4800 baud where 9600 was asked";
    ASSERT_TRUE(waitUntil([&] { return h.form().Status().text().contains(QString::fromStdString(difference)); }, 5s))
        << h.form().Status().text().toStdString();
    EXPECT_TRUE(h.form().Status().fault());
    // The monitor's rows follow the log a moment later.
    EXPECT_TRUE(waitUntil([&] { return contains(column(traffic::Column::Direction), "line differs"); }));
    EXPECT_TRUE(contains(column(traffic::Column::Meaning), difference));

    h.click("Button23");
    EXPECT_TRUE(waitUntil([&] { return h.text("Edit14") == QStringLiteral("001"); }, 3s));
    EXPECT_EQ(h.button("Button1")->text(), QStringLiteral("Close"));
}

namespace {

// The longest the GUI thread went without turning its event loop, measured as the widest gap between
// ticks of a 10 ms timer.
class StallMeter {
public:
    StallMeter() {
        tick_.setInterval(static_cast<int>(kTickMs));
        QObject::connect(&tick_, &QTimer::timeout,
                         [this] { longest_ = std::max(longest_, since_.restart()); });
        since_.start();
        tick_.start();
    }
    qint64 longestMs() const { return std::max(longest_, since_.elapsed()); }

    // The longest gap an idle event loop shows on this machine now (a loaded machine schedules the
    // thread late now and then): what a stall is measured beyond, so that only a wait of the GUI
    // thread itself counts.
    static qint64 idleJitterMs() {
        const StallMeter idle;
        testsupport::pumpFor(std::chrono::milliseconds(1000));
        return idle.longestMs() > kTickMs ? idle.longestMs() - kTickMs : 0;
    }
    static constexpr qint64 kTickMs = 10;

private:
    QTimer tick_;
    QElapsedTimer since_;
    qint64 longest_ = 0;
};

// A TCP listener on the loopback that never accepts in the program: the kernel completes the
// connection into its backlog, and no byte ever comes back.
class SilentListener {
public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 4) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "no loopback listener: " << std::strerror(errno);
        }
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

TEST(NetworkPortOpen, AServerThatNeverAnswersOrAHostThatDoesNotResolveNeverStallsTheWindow) {
    SilentListener listener;
    const std::string urls[] = {"rfc2217://127.0.0.1:" + std::to_string(listener.port()),
                                "rfc2217://no-such-host.invalid:2217"};
    for (const std::string& url : urls) {
        // Today's outcome: what the component's own open of that name raises, on this thread.
        serial::TComm probe;
        probe.SetCommName(url);
        std::string expected;
        std::string expectedReason;
        try {
            probe.OpenPort();
            ADD_FAILURE() << url << " opened";
        } catch (const serial::ECommsError& e) {
            expected = e.what();
            expectedReason = e.Reason();
        }
        FormHarness h;
        h.form().SetPortName(QString::fromStdString(url));
        const qint64 jitter = StallMeter::idleJitterMs();
        StallMeter meter;
        h.click("Button1");
        EXPECT_TRUE(h.form().Opening()) << url;
        EXPECT_FALSE(h.button("Button1")->isEnabled()) << "a second Open while the first is under way";
        ASSERT_TRUE(waitUntil([&] { return !h.form().Opening(); }, 15s)) << url;
        EXPECT_LE(meter.longestMs(), 100 + jitter)
            << url << ": the GUI thread stalled (an idle loop: " << jitter << " ms)";
        // The outcome as a local port's failed open gives it: the component's message, the port and
        // why under it; the port stays closed and "Open" can be pressed again.
        ASSERT_EQ(h.messages().size(), 1u) << url;
        EXPECT_EQ(h.messages()[0].kind, app::MessageKind::Error);
        EXPECT_EQ(h.messages()[0].text, QString::fromStdString(expected));
        EXPECT_EQ(h.messages()[0].detail, QString::fromStdString(url + ": " + expectedReason));
        EXPECT_EQ(h.button("Button1")->text(), QStringLiteral("Open"));
        EXPECT_TRUE(h.button("Button1")->isEnabled());
        EXPECT_FALSE(h.form().Comm1->IsOpen());
    }
}

TEST(NetworkPortOpen, TheBusListenerConnectsOffTheGuiThreadAndSaysWhyItCouldNot) {
    SilentListener listener;
    const std::string urls[] = {"rfc2217://127.0.0.1:" + std::to_string(listener.port()),
                                "rfc2217://no-such-host.invalid:2217"};
    for (const std::string& url : urls) {
        // Today's words: what the listening port's own open says, on this thread.
        bus::PortSource probe(url, 9600, serial::TParity::None);
        const serial::OpenOutcome outcome = probe.open();
        ASSERT_NE(outcome.result, serial::OpenResult::Opened) << url;
        const QString expected =
            QString::fromStdString(url + " cannot be opened to listen: " + outcome.reason);

        FormHarness h;
        app::TrafficMonitor& monitor = h.form().Traffic();
        app::BusListener& bus = monitor.busListener();
        app::TrafficWindow& window = monitor.showWindow();
        auto* listen = window.findChild<QPushButton*>(QStringLiteral("TrafficListen"));
        ASSERT_TRUE(listen);
        const qint64 jitter = StallMeter::idleJitterMs();
        StallMeter meter;
        EXPECT_EQ(bus.start(QByteArray::fromStdString(url), 9600, serial::TParity::None), QString()) << url;
        EXPECT_TRUE(bus.connecting()) << url;
        EXPECT_EQ(listen->text(), QStringLiteral("Stop &Listening")) << "connecting can be stopped";
        ASSERT_TRUE(waitUntil([&] { return !bus.listening() && !h.messages().empty(); }, 15s)) << url;
        EXPECT_LE(meter.longestMs(), 100 + jitter)
            << url << ": the GUI thread stalled (an idle loop: " << jitter << " ms)";
        ASSERT_EQ(h.messages().size(), 1u) << url;
        EXPECT_EQ(h.messages()[0].text, expected);
        EXPECT_EQ(listen->text(), QStringLiteral("&Listen on Another Port..."));
        EXPECT_FALSE(bus.connecting());
    }
}

TEST(NetworkPortOpen, StoppingABusListenerStillConnectingReportsNothingLater) {
    SilentListener listener;
    FormHarness h;
    app::BusListener& bus = h.form().Traffic().busListener();
    const std::string url = "rfc2217://127.0.0.1:" + std::to_string(listener.port());
    ASSERT_EQ(bus.start(QByteArray::fromStdString(url), 9600, serial::TParity::None), QString());
    bus.stop();
    EXPECT_FALSE(bus.listening());
    // Started again at once: the first attempt's late outcome belongs to no one.
    ASSERT_EQ(bus.start(QByteArray::fromStdString(url), 9600, serial::TParity::None), QString());
    ASSERT_TRUE(waitUntil([&] { return !bus.listening(); }, 15s));
    testsupport::pumpFor(100ms);
    EXPECT_EQ(h.messages().size(), 1u) << "one failure, from the attempt still wanted";
    const traffic::EventLog& log = h.form().Traffic().recorder().log();
    for (std::size_t i = 0; i < log.size(); ++i) {
        EXPECT_NE(log.at(i).kind, traffic::EventKind::PortOpened)
            << "a port that never opened recorded as open";
    }
}

} // namespace
