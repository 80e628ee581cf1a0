// The commissioning windows in the real window against the simulated converter: Live Values polls and
// draws while a button pressed meanwhile gets exactly its own exchange; the field list fills a parse
// row; Check Mapping asks before it switches the working mode and puts it back.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <utility>

#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "app/commissioning/Commissioning.h"
#include "app/commissioning/CommissioningDialogs.h"
#include "app/commissioning/LiveChart.h"
#include "app/commissioning/LiveValuesWindow.h"
#include "app/window/Messages.h"
#include "app/traffic/TrafficMonitor.h"
#include "sim/Instrument.h"
#include "tests/support/FormHarness.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;
using testsupport::FormHarness;
using testsupport::SimLine;
using testsupport::SimProcess;
using testsupport::waitUntil;

namespace {

// The frames the window wrote, oldest first.
std::vector<std::string> framesSent(FormHarness& h) {
    std::vector<std::string> frames;
    const traffic::EventLog& log = h.form().Traffic().recorder().log();
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log.at(i).kind == traffic::EventKind::Sent) {
            frames.push_back(log.at(i).bytes);
        }
    }
    return frames;
}

bool isPoll(const std::string& frame) {
    return frame.size() == 8 && frame[1] == '\x03' && frame[3] == '\x02' && frame[5] == '\x10';
}

std::string ask(const SimProcess& sim, const std::string& frame) {
    SimLine line(sim.path());
    line.write(frame);
    return line.readUntilQuiet(100ms, 3s);
}

TEST(LiveValues, PollsTheVariablesIntoNumbersAChartAndACsvFileWhileAButtonGetsItsOwnExchange) {
    // Replies 150 ms after their requests, so a poll is under way long enough to press a button then.
    SimProcess sim(VX538_SIM_PATH, {"--delay", "150"});
    FormHarness h;
    h.openOnSimulator(sim);
    app::LiveValuesWindow& live = h.form().Commissioning().liveValues();
    live.setInterval(app::LiveValuesWindow::kMinimumIntervalMs);
    auto* table = live.findChild<QTableWidget*>("LiveTable");
    EXPECT_EQ(table->horizontalHeaderItem(2)->text(), QStringLiteral("Minimum\n(no samples)"));
    QTemporaryDir folder;
    const QString csv = folder.filePath("live.csv");
    ASSERT_TRUE(live.setCsvFile(csv));
    live.start();
    ASSERT_TRUE(waitUntil([&] { return live.samples().size() >= 3; }, 20s)) << live.findChild<QLabel*>("LiveStatus")->text().toStdString();

    // The numbers: the instrument's pressure, temperature, flow and percent of range, near their
    // resting values; variables 5-8 come from command 2, which the converter does not poll: 0.
    const double pressure = table->item(0, 1)->text().toDouble();
    EXPECT_NEAR(pressure, 101.3, 2.6);
    EXPECT_NEAR(table->item(1, 1)->text().toDouble(), 24.5, 0.6);
    EXPECT_NEAR(table->item(3, 1)->text().toDouble(), pressure / 2, 0.01);
    EXPECT_EQ(table->item(4, 1)->text(), QStringLiteral("0"));
    EXPECT_EQ(table->item(0, 5)->text(), QStringLiteral("command 1 data 7-10, PV"));
    // The chart draws what it holds.
    ASSERT_TRUE(waitUntil([&] { return live.chart().pointsDrawn(0) >= 3; }));
    EXPECT_FALSE(table->item(0, 2)->text().isEmpty());
    // Minimum, maximum and mean say the span they cover: the last seconds while the chart follows the
    // newest samples, the times of its two ends once it was moved.
    ASSERT_TRUE(waitUntil([&] { return table->horizontalHeaderItem(2)->text().startsWith("Minimum\n(last "); }))
        << table->horizontalHeaderItem(2)->text().toStdString();
    const int64_t from = live.samples().timeAt(0);
    const int64_t to = live.samples().timeAt(live.samples().size() - 1);
    live.chart().setVisibleSpan(from, to);
    const QString span = QDateTime::fromMSecsSinceEpoch(from).toString("HH:mm:ss") + QChar(0x2013) +
                         QDateTime::fromMSecsSinceEpoch(to).toString("HH:mm:ss");
    const std::pair<int, const char*> statistics[] = {{2, "Minimum"}, {3, "Maximum"}, {4, "Mean"}};
    for (const auto& [column, name] : statistics) {
        EXPECT_TRUE(waitUntil([&, column = column] { return table->horizontalHeaderItem(column)->text().endsWith(span + ")"); }))
            << table->horizontalHeaderItem(column)->text().toStdString();
        EXPECT_TRUE(table->horizontalHeaderItem(column)->text().startsWith(QLatin1String(name)));
    }
    live.chart().followLatest();

    // "System Parameters" pressed while a poll waits for its reply: its frame goes out once that
    // reply is in, its reply is decoded, and polling goes on afterwards.
    ASSERT_TRUE(waitUntil([&] { return h.form().AwaitingReply() && h.form().PendingCommand() == 302; }, 5s));
    h.edit("Edit14")->clear();
    QTest::mouseClick(h.button("Button23"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return h.edit("Edit14")->text() == QStringLiteral("001"); }, 10s))
        << "the System Parameters reply was not decoded";
    const std::size_t samplesAfterButton = live.samples().size();
    ASSERT_TRUE(waitUntil([&] { return live.samples().size() >= samplesAfterButton + 2; }, 10s)) << "polling stopped";
    const std::vector<std::string> frames = framesSent(h);
    const auto query = std::find(frames.begin(), frames.end(), "QQQ#QX1#");
    // The configuration read at the start sends its own QX1 first: the button's is the last one.
    const auto button = std::find(frames.rbegin(), frames.rend(), "QQQ#QX1#").base() - 1;
    ASSERT_NE(query, frames.end());
    ASSERT_TRUE(button > frames.begin() && button + 1 < frames.end());
    EXPECT_TRUE(isPoll(*(button - 1))) << "the button's frame did not follow a poll";
    EXPECT_TRUE(isPoll(*(button + 1))) << "polling did not resume after the button's exchange";
    EXPECT_TRUE(h.messages().empty()) << h.messageTexts().front().toStdString();

    live.stop();
    live.setCsvFile({});
    std::ifstream file(csv.toStdString());
    std::string header;
    std::getline(file, header);
    EXPECT_EQ(header, "time,v1,v2,v3,v4,v5,v6,v7,v8");
    int rows = 0;
    for (std::string line; std::getline(file, line); ++rows) {
        std::stringstream cells(line);
        std::string cell;
        std::getline(cells, cell, ','); // the time
        for (int v = 0; v < 8; ++v) {
            ASSERT_TRUE(std::getline(cells, cell, ',')) << line;
            EXPECT_NO_THROW(std::stod(cell)) << line;
        }
    }
    EXPECT_EQ(rows, static_cast<int>(live.samples().size()));
}

TEST(LiveValues, AMissedPollIsCountedAndDrawnAsAGapNeverAsZero) {
    QTemporaryDir folder;
    const std::string fifo = folder.filePath("control").toStdString();
    SimProcess sim(VX538_SIM_PATH, {"--control", fifo});
    FormHarness h;
    h.openOnSimulator(sim);
    app::LiveValuesWindow& live = h.form().Commissioning().liveValues();
    live.setInterval(app::LiveValuesWindow::kMinimumIntervalMs);
    live.start();
    ASSERT_TRUE(waitUntil([&] { return live.samples().size() >= 2; }, 20s));
    // Silent from now on: each poll ends on the reply timer, without a message box.
    std::ofstream(fifo) << "silent on\n";
    ASSERT_TRUE(waitUntil([&] { return live.missedPolls() >= 1; }, 10s));
    live.stop();
    const std::size_t last = live.samples().size() - 1;
    EXPECT_TRUE(std::isnan(live.samples().valueAt(last, 0)));
    EXPECT_TRUE(h.messages().empty()) << h.messageTexts().front().toStdString();
}

TEST(FromTheInstrument, PickingAFieldFillsTheRowsAddressAndLengthAndSendsNothing) {
    SimProcess sim(VX538_SIM_PATH);
    FormHarness h;
    h.openOnSimulator(sim);
    h.list("READLG2")->setCurrentIndex(1);
    app::ReplyFieldsDialog& dialog = h.form().Commissioning().fieldsFromInstrument();
    dialog.read(1);
    ASSERT_TRUE(waitUntil([&] { return !dialog.reading(); }, 15s));
    const auto& fields = dialog.fields();
    const auto sv = std::find_if(fields.begin(), fields.end(), [](const auto& f) { return f.name == "SV"; });
    ASSERT_NE(sv, fields.end()) << dialog.findChild<QLabel*>("FieldsStatus")->text().toStdString();
    EXPECT_EQ(sv->offset, 12);
    const std::size_t sentBefore = framesSent(h).size();
    ASSERT_TRUE(dialog.fill(static_cast<int>(sv - fields.begin()), 2));
    EXPECT_EQ(h.edit("READADR2")->text(), QStringLiteral("12"));
    EXPECT_EQ(h.list("READLG2")->currentIndex(), 0);
    EXPECT_EQ(framesSent(h).size(), sentBefore) << "filling a row sent something";
    // A unit code is no value a row can take.
    const auto unit = std::find_if(fields.begin(), fields.end(), [](const auto& f) { return f.name == "SV unit"; });
    ASSERT_NE(unit, fields.end());
    EXPECT_FALSE(dialog.fill(static_cast<int>(unit - fields.begin()), 2));
    EXPECT_EQ(h.edit("READADR2")->text(), QStringLiteral("12"));
}

TEST(CheckMapping, AsksBeforeSwitchingTheModeChecksAndPutsTheModeBack) {
    SimProcess sim(VX538_SIM_PATH);
    ASSERT_EQ(ask(sim, "QQS#MD:1#"), "QQS#MD:OK#");
    ASSERT_EQ(ask(sim, "QQS#MDBS3:0,18,0,1.000#"), "QQS#MDBS3:OK#");
    FormHarness h;
    h.openOnSimulator(sim);
    std::vector<QString> questions;
    app::SetQuestionAnswerer([&](const QString& text, const QString&) {
        questions.push_back(text);
        return true;
    });
    app::CheckMappingDialog& dialog = h.form().Commissioning().checkMapping();
    dialog.start();
    ASSERT_TRUE(waitUntil([&] { return !dialog.checking(); }, 30s));
    app::SetQuestionAnswerer({});
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(questions[0].contains("Single Meter Operation Mode")) << questions[0].toStdString();
    ASSERT_EQ(dialog.rows().size(), 8u) << dialog.summary()->text().toStdString();
    EXPECT_EQ(dialog.rows()[0].verdict, profile::CheckVerdict::Same);
    EXPECT_EQ(dialog.rows()[2].verdict, profile::CheckVerdict::NotAField);
    EXPECT_EQ(dialog.table()->item(2, 2)->text(), QStringLiteral("command 1 data 18-21, across TV and QV unit"));
    // The words vx538's check prints, with the count of variables checked.
    EXPECT_TRUE(dialog.summary()->text().startsWith("1 variable differs (4 checked).")) << dialog.summary()->text().toStdString();
    // The mode it found, set back.
    const std::vector<std::string> frames = framesSent(h);
    EXPECT_EQ(std::count(frames.begin(), frames.end(), "QQS#MD:0#"), 1);
    EXPECT_EQ(frames.back(), "QQS#MD:1#");
    h.form().Comm1->ClosePort();
    EXPECT_NE(ask(sim, "QQQ#QX1#").find("MD:1"), std::string::npos);
}

} // namespace

namespace {

TEST(FindInstrument, APickedRowSelectsTheInstrumentsAddressAndTheIdentityFieldsStayAsTheyWere) {
    SimProcess sim(VX538_SIM_PATH, {"--hart-address", "3"});
    FormHarness h;
    h.openOnSimulator(sim);
    app::InstrumentScanDialog& scan = h.form().Commissioning().findInstrument();
    scan.start();
    ASSERT_TRUE(waitUntil([&] { return !scan.scanning(); }, 30s));
    ASSERT_EQ(scan.found().size(), 1u);
    EXPECT_EQ(scan.found()[0].address, 3);
    EXPECT_EQ(scan.found()[0].identity.deviceIdText, "662316");
    // Type and ID as the register map writes them (device type 12 (0x0C), device ID 0A1B2C).
    EXPECT_EQ(scan.table()->item(0, 2)->text(), QStringLiteral("0x0C"));
    EXPECT_EQ(scan.table()->item(0, 3)->text(), QStringLiteral("0A1B2C"));
    scan.useRow(0);
    EXPECT_EQ(h.list("ComboBox30")->currentIndex(), 3);
    EXPECT_TRUE(h.edit("Edit32")->text().isEmpty()) << "the scan filled the identity fields";
    EXPECT_TRUE(h.messages().empty()) << h.messageTexts().front().toStdString();
}

TEST(RegisterMap, SavesTheMapWithTheInstrumentsUnitsInTheFormatOfTheFilesName) {
    SimProcess sim(VX538_SIM_PATH);
    FormHarness h;
    h.openOnSimulator(sim);
    app::RegisterMapDialog& map = h.form().Commissioning().registerMap();
    map.read();
    ASSERT_TRUE(waitUntil([&] { return !map.reading(); }, 30s));
    ASSERT_EQ(map.rows().size(), 9u);
    EXPECT_EQ(map.table()->item(1, 4)->text(), QStringLiteral("KPa"));
    const std::string heading = map.text(profile::MapFormat::Text);
    EXPECT_NE(heading.find("device type 12 (0x0C), device ID 0A1B2C"), std::string::npos) << heading;
    QTemporaryDir folder;
    const QString file = folder.filePath("map.csv");
    ASSERT_TRUE(map.save(file));
    std::ifstream in(file.toStdString());
    std::string header;
    std::string reserved;
    std::string first;
    std::getline(in, header);
    std::getline(in, reserved);
    std::getline(in, first);
    EXPECT_EQ(first,
              "40003-40004,2-3,1,\"command 1 data 7-10, PV\",KPa,float32,ABCD,FF4 FF3 FF2 FF1,1.000,1,9600,none");
}

} // namespace
