// The traffic monitor's "Listen on Another Port..." against the simulator's tap: the frames of the
// window's own exchange, heard on the bus, join the table beside the window's rows with the tap as
// their source, and the window's own exchange goes on as it did.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include <QComboBox>
#include <QPushButton>

#include "app/traffic/BusListener.h"
#include "app/traffic/ListenDialog.h"
#include "app/traffic/TrafficMonitor.h"
#include "app/traffic/TrafficWindow.h"
#include "tests/support/FormHarness.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"
#include "traffic/EventFormat.h"

using namespace std::chrono_literals;
using testsupport::FormHarness;
using testsupport::SimProcess;
using testsupport::waitUntil;

namespace {

struct Row {
    std::string source, direction, hex, meaning;
};

std::vector<Row> rows(const traffic::EventLog& log) {
    std::vector<Row> out;
    for (std::size_t i = 0; i < log.size(); ++i) {
        const traffic::Event& e = log.at(i);
        out.push_back({traffic::ColumnText(e, traffic::Column::Source),
                       traffic::ColumnText(e, traffic::Column::Direction),
                       traffic::ColumnText(e, traffic::Column::Hex), traffic::Meaning(e)});
    }
    return out;
}

std::vector<Row> from(const std::vector<Row>& all, const std::string& source) {
    std::vector<Row> out;
    for (const Row& r : all) {
        if (r.source == source && r.direction != "port opened" && r.direction != "port closed") {
            out.push_back(r);
        }
    }
    return out;
}

} // namespace

TEST(BusListen, TheTapsFramesJoinTheTableBesideTheWindowsOwn) {
    const std::filesystem::path tap =
        std::filesystem::temp_directory_path() / ("vx538-bus-listen-" + std::to_string(::getpid()));
    SimProcess sim(VX538_SIM_PATH, {"--tap", tap.string()});
    FormHarness h;
    h.form().SetPortName(QString::fromStdString(sim.path()));
    h.click("Button1");
    ASSERT_EQ(h.button("Button1")->text(), QStringLiteral("Close"));

    app::TrafficMonitor& monitor = h.form().Traffic();
    app::TrafficWindow& window = monitor.showWindow();
    auto* listen = window.findChild<QPushButton*>(QStringLiteral("TrafficListen"));
    ASSERT_TRUE(listen);
    EXPECT_EQ(listen->text(), QStringLiteral("&Listen on Another Port..."));
    listen->click();
    auto* dialog = window.findChild<app::ListenDialog*>(QStringLiteral("ListenDialog"));
    ASSERT_TRUE(dialog);
    dialog->findChild<QComboBox*>(QStringLiteral("ListenPort"))
        ->setCurrentText(QString::fromStdString(tap.string()));
    dialog->findChild<QPushButton*>(QStringLiteral("ListenStart"))->click();
    ASSERT_TRUE(waitUntil([&] { return listen->text() == QStringLiteral("Stop &Listening"); }, 2s))
        << (h.messageTexts().empty() ? std::string() : h.messageTexts().front().toStdString());

    // The window's own MODBUS test and system parameter query.
    h.setText("Edit19", QStringLiteral("2"));
    h.setText("Edit20", QStringLiteral("4"));
    h.click("Button4");
    ASSERT_TRUE(waitUntil([&] { return !h.receiveField().isEmpty(); }, 4s));
    const QString modbusReply = h.receiveField();
    h.click("Button23");
    ASSERT_TRUE(waitUntil([&] { return h.text("Edit14") == QStringLiteral("001"); }, 4s));

    const traffic::EventLog& log = monitor.recorder().log();
    const std::string source = tap.string();
    ASSERT_TRUE(waitUntil([&] { return from(rows(log), source).size() >= 4; }, 3s));
    const std::vector<Row> all = rows(log);
    const std::vector<Row> own = from(all, "window");
    const std::vector<Row> bus = from(all, source);
    ASSERT_EQ(own.size(), 4u);
    ASSERT_EQ(bus.size(), 4u) << bus.back().meaning;
    // What the window sent and received is what the bus carried, read as requests and replies.
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(own[i].direction, i % 2 == 0 ? "sent" : "received");
        EXPECT_EQ(bus[i].direction, i % 2 == 0 ? "request" : "reply");
        EXPECT_EQ(bus[i].hex, own[i].hex) << i;
    }
    EXPECT_EQ(bus[1].hex + " ", modbusReply.toStdString());
    EXPECT_NE(bus[1].meaning.find("MODBUS reply, slave 1, read holding registers"), std::string::npos)
        << bus[1].meaning;
    EXPECT_NE(bus[3].meaning.find("block QX1"), std::string::npos) << bus[3].meaning;
    EXPECT_TRUE(h.messages().empty());

    // One clock for every row, whichever port a frame came from and whenever it was recorded: the
    // time its last byte was seen. Each copy the bus carried is marked as the copy; a request's copy
    // after the request.
    std::vector<std::size_t> ownAt, busAt;
    for (std::size_t i = 0; i < log.size(); ++i) {
        const traffic::Event& e = log.at(i);
        if (i > 0) {
            EXPECT_LE(log.at(i - 1).steadyMs, e.steadyMs) << i;
        }
        if (e.kind == traffic::EventKind::Sent || e.kind == traffic::EventKind::Received) {
            ownAt.push_back(i);
        } else if (e.kind == traffic::EventKind::BusRequest || e.kind == traffic::EventKind::BusReply) {
            busAt.push_back(i);
        }
    }
    ASSERT_EQ(ownAt.size(), 4u);
    ASSERT_EQ(busAt.size(), 4u);
    std::string order; // for a failure's message: each row's time and kind
    for (std::size_t i = 0; i < log.size(); ++i) {
        order += "\n" + std::to_string(log.at(i).steadyMs) + " " +
                 traffic::ColumnText(log.at(i), traffic::Column::Source) + " " +
                 traffic::ColumnText(log.at(i), traffic::Column::Direction);
    }
    SCOPED_TRACE(order);
    for (std::size_t k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const traffic::Event& copy = log.at(busAt[k]);
        EXPECT_TRUE(copy.windowCopy);
        EXPECT_EQ(traffic::Meaning(copy).rfind("copy of the ", 0), 0u) << traffic::Meaning(copy);
        // The bus carries a request after the window wrote it, so its copy is never listed before it;
        // how near the copies come to the window's own rows is up to how soon each port's thread ran.
        if (k % 2 == 0) {
            EXPECT_GT(busAt[k], ownAt[k]) << "a request's copy follows it";
        } else {
            EXPECT_GT(busAt[k], busAt[k - 1]) << "a reply's copy follows its request's";
        }
    }

    listen->click();
    EXPECT_EQ(listen->text(), QStringLiteral("&Listen on Another Port..."));
    EXPECT_EQ(rows(log).back().meaning, "listening stopped");
    EXPECT_EQ(h.button("Button1")->text(), QStringLiteral("Close")) << "the window's own port stays open";

    // Listening again, until the simulator and its tap go away: the listening ends by itself.
    ASSERT_EQ(monitor.busListener().start(QByteArray::fromStdString(source), 9600, serial::TParity::None), "");
    EXPECT_EQ(listen->text(), QStringLiteral("Stop &Listening"));
    sim.stop();
    ASSERT_TRUE(waitUntil([&] { return listen->text() == QStringLiteral("&Listen on Another Port..."); }, 3s));
    const std::vector<Row> after = from(rows(log), source);
    EXPECT_EQ(after.back().direction, "port lost");
    EXPECT_EQ(after.back().meaning, "the port went away; listening stopped");
}

TEST(BusListen, TheWindowClosesWhileListening) {
    const std::filesystem::path tap =
        std::filesystem::temp_directory_path() / ("vx538-bus-closing-" + std::to_string(::getpid()));
    SimProcess sim(VX538_SIM_PATH, {"--tap", tap.string()});
    auto h = std::make_unique<FormHarness>();
    app::BusListener& listener = h->form().Traffic().busListener();
    ASSERT_EQ(listener.start(QByteArray::fromStdString(tap.string()), 9600, serial::TParity::None), "");
    h->form().Traffic().showWindow();
    // The listener stops and the window goes before the log they write to and show.
    h.reset();
}
