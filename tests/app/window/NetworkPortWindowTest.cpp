// The real window on a network port: the simulated converter behind Debian's ser2net, the port
// name typed as rfc2217:// or socket://.
#include <gtest/gtest.h>

#include "app/exchange/StatusLine.h"
#include "app/traffic/TrafficModel.h"
#include "app/traffic/TrafficMonitor.h"
#include "tests/support/FormHarness.h"
#include "tests/support/Ser2netProcess.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"
#include "traffic/EventFormat.h"

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
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.find(part) != std::string::npos; });
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
    EXPECT_NE(meaning.front().find(ser2net->url() + " at 9600 baud, 8N1"), std::string::npos) << meaning.front();
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
    EXPECT_TRUE(h.messages()[0].text.contains(QStringLiteral("was lost"))) << h.messages()[0].text.toStdString();
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

// An rfc2217:// URL given to a raw port: the server never answers the Telnet negotiation. The box
// keeps the component's message; the status line says what went wrong in the network port's words.
TEST_F(NetworkPortWindow, AnRfc2217UrlGivenToARawPortSaysWhyInTheNetworksWords) {
    Ser2netProcess raw(std::vector<Ser2netProcess::Device>{{sim->path(), false}});
    ser2net->stop();
    const std::string url = "rfc2217://" + raw.url().substr(raw.url().find("://") + 3);
    h.form().SetPortName(QString::fromStdString(url));
    h.click("Button1");
    ASSERT_EQ(h.messages().size(), 1u);
    EXPECT_EQ(h.button("Button1")->text(), QStringLiteral("Open"));
    const QString detail = h.messages()[0].detail; // "<url>: <why>"
    const QString why = detail.mid(detail.indexOf(QStringLiteral(": ")) + 2);
    ASSERT_FALSE(why.isEmpty()) << detail.toStdString();
    const QString status = h.form().Status().text();
    EXPECT_FALSE(status.contains(QStringLiteral("comm handle"))) << status.toStdString();
    EXPECT_TRUE(status.endsWith(QStringLiteral("not opened: ") + why)) << status.toStdString();
    EXPECT_TRUE(h.form().Status().fault());
}
