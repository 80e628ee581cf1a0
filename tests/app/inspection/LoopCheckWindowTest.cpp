// The window's loop check and inspection against the simulated converter and its bench meter, each
// held against vx538 doing the same on the same simulator: the same points, readings, verdicts and
// words, and the converter left in the working mode it was found in.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "app/commissioning/Commissioning.h"
#include "app/commissioning/JobDialog.h"
#include "app/inspection/ChangeRecorder.h"
#include "app/inspection/InspectionDialogs.h"
#include "app/inspection/LoopPanel.h"
#include "jobs/Inspection.h"
#include "tests/support/FormHarness.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;
using inspection::Json;
using testsupport::FormHarness;
using testsupport::SimProcess;
using testsupport::waitUntil;

namespace {

class WindowLoopCheck : public ::testing::Test {
protected:
    std::string path(const char* name) const { return folder.filePath(QString::fromLatin1(name)).toStdString(); }
    // The simulator with DOUTA3 `error` mA off and the meter's leads in its loop, without noise, so
    // two runs read the same currents.
    SimProcess simWithMeter(const std::string& error) const {
        return SimProcess(VX538_SIM_PATH, {"--output-error", "3:" + error, "--meter", path("meter"),
                                           "--meter-output", "3", "--meter-noise", "0", "--control",
                                           path("control")});
    }
    testsupport::ProgramResult vx538(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {"--change-log", path("changes.jsonl")});
        return testsupport::RunProgram(VX538_PATH, arguments);
    }
    void control(const std::string& line) const { std::ofstream(path("control")) << line << "\n"; }
    // vx538 on the simulator while the window lets go of the port (a terminal takes one program).
    testsupport::ProgramResult beside(FormHarness& h, const SimProcess& sim, std::vector<std::string> arguments) {
        h.click("Button1");
        arguments.insert(arguments.begin(), {"-p", sim.path()});
        const testsupport::ProgramResult run = vx538(arguments);
        h.openOnSimulator(sim);
        return run;
    }

    // The loop check dialog set to check DOUTA3 at `points`, its readings from the meter or typed.
    app::LoopCheckDialog& dialog(FormHarness& h, const char* points, bool meter) const {
        app::LoopCheckDialog& d = h.form().Commissioning().loopCheck();
        d.findChild<QCheckBox*>(QStringLiteral("LoopOutput3"))->setChecked(true);
        d.findChild<QLineEdit*>(QStringLiteral("LoopPoints"))->setText(QString::fromLatin1(points));
        d.findChild<QComboBox*>(QStringLiteral("LoopReadings"))->setCurrentIndex(meter ? 1 : 0);
        d.findChild<QLineEdit*>(QStringLiteral("MeterPort"))->setText(QString::fromStdString(path("meter")));
        d.findChild<QSpinBox*>(QStringLiteral("MeterSettle"))->setValue(0);
        return d;
    }

    QTemporaryDir folder;
};

// What both front ends decide of a loop check, without where its readings came from.
Json Decided(Json loop) {
    loop.erase("readings");
    loop.erase("meter");
    return loop;
}

TEST_F(WindowLoopCheck, MeterReadingsGiveVx538sVerdictsFailingOutOfAdjustmentAndPassingAdjusted) {
    SimProcess sim = simWithMeter("0.2");
    ASSERT_EQ(vx538({"-p", sim.path(), "set", "mode=single-meter"}).status, 0);
    FormHarness h;
    h.openOnSimulator(sim);
    app::LoopCheckDialog& d = dialog(h, "4,8,12,16,20", true);

    for (const char* error : {"0.2", "0.01"}) {
        SCOPED_TRACE(error);
        control(std::string("output-error 3:") + error);
        d.start();
        ASSERT_TRUE(waitUntil([&] { return d.result().has_value() && !d.checking(); }, 60s));
        const jobs::LoopCheckResult& window = *d.result();
        const bool adjusted = std::string(error) == "0.01";
        EXPECT_EQ(window.verdict(), adjusted ? inspection::Verdict::Pass : inspection::Verdict::Fail);
        ASSERT_EQ(window.outputs.size(), 1u);
        ASSERT_EQ(window.outputs[0].points.size(), 5u);
        for (const inspection::PointResult& p : window.outputs[0].points) {
            EXPECT_NEAR(*p.errorPercent, adjusted ? 0.0625 : 1.25, 0.01) << p.pointMa;
        }
        EXPECT_EQ(d.panel()->table()->rowCount(), 5);
        EXPECT_EQ(d.status()->text(), app::Sentence(window.summary()));

        // vx538 against the same simulator and meter: the same table, verdicts and words.
        const auto cli = beside(h, sim, {"--json", "loop-check", "--output", "3", "--meter", path("meter"),
                                         "--settle", "0"});
        ASSERT_EQ(cli.status, adjusted ? 0 : 1) << cli.out << cli.err;
        EXPECT_EQ(Decided(jobs::LoopCheckJson(window, "meter", "")),
                  Decided(Json::parse(cli.out)["loop_check"]));
        EXPECT_EQ(beside(h, sim, {"get", "mode"}).out, "mode = single-meter\n");
    }
    EXPECT_TRUE(h.messages().empty());
}

// One meter reads one loop: with two outputs the person is asked to move its leads before each, and
// each output is judged from its own loop. vx538 without a terminal says it cannot ask.
TEST_F(WindowLoopCheck, WithTwoOutputsThePersonMovesTheMetersLeadsBeforeEach) {
    SimProcess sim = simWithMeter("0.2");
    FormHarness h;
    h.openOnSimulator(sim);
    app::LoopCheckDialog& d = dialog(h, "4,20", true);
    app::LoopPanel& panel = *d.panel();
    d.findChild<QCheckBox*>(QStringLiteral("LoopOutput2"))->setChecked(true);
    d.start();
    std::vector<int> asked;
    ASSERT_TRUE(waitUntil(
        [&] {
            if (panel.waitingForLeads()) {
                EXPECT_TRUE(d.status()->text().startsWith(
                    QStringLiteral("Connect the meter's leads to DOUTA%1's loop").arg(panel.leadsTo())))
                    << d.status()->text().toStdString();
                asked.push_back(panel.leadsTo());
                control("meter-output " + std::to_string(panel.leadsTo()));
                panel.leadsMoved();
            }
            return d.result().has_value() && !d.checking();
        },
        60s));
    EXPECT_EQ(asked, (std::vector<int>{2, 3}));
    const jobs::LoopCheckResult& r = *d.result();
    ASSERT_EQ(r.outputs.size(), 2u);
    EXPECT_EQ(r.outputs[0].verdict, inspection::Verdict::Pass);
    EXPECT_EQ(r.outputs[1].verdict, inspection::Verdict::Fail);

    const auto cli = beside(h, sim, {"loop-check", "--output", "2", "--output", "3", "--meter", path("meter"),
                                     "--settle", "0"});
    EXPECT_EQ(cli.status, 1) << cli.out << cli.err;
    EXPECT_NE(cli.err.find("nobody at the terminal to move the meter's leads"), std::string::npos) << cli.err;
}

TEST_F(WindowLoopCheck, ReadingsTypedInTheTableAndCancelLeaveTheOutputAndModeAsFound) {
    SimProcess sim = simWithMeter("0.0");
    ASSERT_EQ(vx538({"-p", sim.path(), "set", "mode=single-meter"}).status, 0);
    ASSERT_EQ(vx538({"-p", sim.path(), "test-output", "3", "33"}).status, 0);
    FormHarness h;
    h.openOnSimulator(sim);
    app::LoopCheckDialog& d = dialog(h, "4,12,20", false);
    app::LoopPanel& panel = *d.panel();
    d.start();

    // The first point: something that is no number is asked again, then a reading is taken.
    ASSERT_TRUE(waitUntil([&] { return panel.waiting(); }, 10s));
    ASSERT_EQ(panel.table()->rowCount(), 1);
    EXPECT_EQ(panel.table()->item(0, 1)->text(), QStringLiteral("4.000"));
    // Typed as a person does: the reading cell's editor has the focus, Return takes what it holds;
    // something that is no number is asked again, the cell open with it selected.
    QApplication::setActiveWindow(&d);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    const auto typeReading = [&](const QString& text) {
        QWidget* editor = QApplication::focusWidget();
        ASSERT_NE(qobject_cast<QLineEdit*>(editor), nullptr) << "the reading cell is open for typing";
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
        QTest::qWait(50);
    };
    typeReading(QStringLiteral("four"));
    EXPECT_TRUE(d.status()->text().startsWith(QStringLiteral("'four' is no reading in mA")))
        << d.status()->text().toStdString();
    EXPECT_TRUE(panel.waiting());
    typeReading(QStringLiteral(" 4.01 "));
    // The second skipped, the third cancelled while it waits.
    ASSERT_TRUE(waitUntil([&] { return panel.waiting() && panel.table()->rowCount() == 2; }, 10s));
    EXPECT_EQ(panel.table()->item(0, 6)->text(), QStringLiteral("pass")) << "judged as soon as it was typed";
    panel.skip();
    ASSERT_TRUE(waitUntil([&] { return panel.waiting() && panel.table()->rowCount() == 3; }, 10s));
    d.cancel();
    ASSERT_TRUE(waitUntil([&] { return !d.checking(); }, 30s));

    const jobs::LoopCheckResult& r = *d.result();
    EXPECT_EQ(r.end, jobs::LoopCheckResult::End::Stopped);
    ASSERT_EQ(r.outputs.at(0).points.size(), 3u);
    EXPECT_EQ(r.outputs[0].points[0].verdict, inspection::Verdict::Pass);
    EXPECT_EQ(r.outputs[0].points[1].note, "skipped");
    EXPECT_EQ(r.outputs[0].points[2].note, "stopped");
    EXPECT_EQ(r.outputs[0].verdict, inspection::Verdict::NotChecked);
    EXPECT_EQ(d.status()->text(), app::Sentence(r.summary()));
    EXPECT_TRUE(r.summary().starts_with("stopped: ")) << r.summary();
    EXPECT_EQ(beside(h, sim, {"get", "mode", "test.ao3"}).out, "mode     = single-meter\ntest.ao3 = 033.0\n");
}

TEST_F(WindowLoopCheck, AnInspectionStaysOpenWhileThePersonAdjustsAndReportsAsFoundAndAsLeft) {
    SimProcess sim = simWithMeter("0.2");
    ASSERT_EQ(vx538({"-p", sim.path(), "set", "mode=single-meter"}).status, 0);
    FormHarness h;
    h.form().Changes().start(path("changes.jsonl"));
    h.openOnSimulator(sim);
    app::InspectionDialog& d = h.form().Commissioning().inspection();
    d.inspector()->setText(QStringLiteral("Grace Hopper"));
    d.loopCheck()->setChecked(true);
    auto& panel = *d.panel();
    panel.findChild<QCheckBox*>(QStringLiteral("LoopOutput3"))->setChecked(true);
    panel.findChild<QLineEdit*>(QStringLiteral("LoopPoints"))->setText(QStringLiteral("4,12,20"));
    panel.findChild<QComboBox*>(QStringLiteral("LoopReadings"))->setCurrentIndex(1);
    panel.findChild<QLineEdit*>(QStringLiteral("MeterPort"))->setText(QString::fromStdString(path("meter")));
    panel.findChild<QSpinBox*>(QStringLiteral("MeterSettle"))->setValue(0);

    d.asFound();
    ASSERT_TRUE(waitUntil([&] { return d.found().has_value() && !d.inspecting(); }, 120s));
    const Json found = *d.found();
    EXPECT_EQ(found["stage"], "as found");
    EXPECT_EQ(found["verdict"]["parts"]["loop_check"], "fail") << found.dump(1);

    // The adjustment, made while the dialog waits: the output trimmed and a parameter set in the window.
    control("output-error 3:0.01");
    h.setText("Edit6", QStringLiteral("25"));
    h.click("Button27");
    ASSERT_TRUE(waitUntil([&] { return h.receiveField().contains(QLatin1String("OK")); }, 3s));
    d.asLeft();
    ASSERT_TRUE(waitUntil([&] { return d.report().has_value() && !d.inspecting(); }, 120s));
    const Json& report = *d.report();
    EXPECT_EQ(report["stage"], "complete") << report.dump(1);
    EXPECT_EQ(report["inspector"], "Grace Hopper");
    EXPECT_EQ(report["as_found"]["loop_check"]["verdict"], "fail");
    EXPECT_EQ(report["as_left"]["loop_check"]["verdict"], "pass");
    EXPECT_EQ(report["verdict"]["parts"]["loop_check"], "pass");
    bool interval = false;
    for (const Json& difference : report["differences"]) {
        interval = interval || difference.dump().find("modbus.interval") != std::string::npos;
    }
    EXPECT_TRUE(interval) << report["differences"].dump(1);
    // The adjustment among the changes since as found, beside the working mode switched and put back.
    std::vector<std::string> changes;
    for (const Json& c : report["changes"]) {
        changes.push_back(c["parameter"].get<std::string>() + " " + c["old"].get<std::string>() + " -> " +
                          c["new"].get<std::string>());
    }
    EXPECT_NE(std::find(changes.begin(), changes.end(), "modbus.interval 10 -> 25"), changes.end())
        << report["changes"].dump(1);
    ASSERT_NE(d.reportDialog(), nullptr) << "the report is shown before it is kept";
    EXPECT_EQ(beside(h, sim, {"get", "mode"}).out, "mode = single-meter\n");
}

} // namespace
