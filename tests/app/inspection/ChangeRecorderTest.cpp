// The window's change log against the simulated converter: a Set button and Write All each leave
// exactly the acknowledged changes with their old values as read, and "Change Log..." lists them.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <QAction>
#include <QTableWidget>
#include <QTemporaryDir>

#include <nlohmann/json.hpp>

#include "app/configuration/ConfigurationActions.h"
#include "app/inspection/ChangeLogDialog.h"
#include "app/inspection/ChangeRecorder.h"
#include "app/inspection/ReportDialog.h"
#include "app/inspection/ReportPdf.h"
#include "app/window/Messages.h"
#include "tests/support/FormHarness.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;
using Json = nlohmann::json;
using testsupport::FormHarness;
using testsupport::SimProcess;
using testsupport::waitUntil;

namespace {

std::vector<Json> linesOf(const std::string& path) {
    std::vector<Json> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(Json::parse(line));
    }
    return lines;
}

// "parameter old -> new status" of each line.
std::vector<std::string> summaries(const std::vector<Json>& lines, bool changedOnly) {
    std::vector<std::string> out;
    for (const Json& l : lines) {
        if (!changedOnly || l["old"] != l["new"]) {
            out.push_back(l["parameter"].get<std::string>() + " " + l["old"].get<std::string>() + " -> " +
                          l["new"].get<std::string>() + " " + l["status"].get<std::string>());
        }
    }
    return out;
}

QAction* action(FormHarness& h, const char* name) {
    auto* found = h.find<QAction>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

class WindowChangeLog : public ::testing::Test {
protected:
    std::string logPath() const { return folder.filePath(QStringLiteral("changes.jsonl")).toStdString(); }
    QTemporaryDir folder;
};

TEST_F(WindowChangeLog, ASetButtonLogsItsAcknowledgedChangeWithTheValueReadBefore) {
    SimProcess sim(VX538_SIM_PATH);
    FormHarness h;
    h.form().Changes().start(logPath());
    h.openOnSimulator(sim);

    // Not read yet: the old value says so.
    h.setText("Edit14", QStringLiteral("5"));
    h.click("Button29");
    ASSERT_TRUE(waitUntil([&] { return h.receiveField() == QLatin1String("QQS#ADR:OK#"); }, 3s));
    // Read, then set again: the old value is the one read.
    h.click("Button23");
    ASSERT_TRUE(waitUntil([&] { return h.text("Edit14") == QStringLiteral("005"); }, 3s));
    h.setText("Edit14", QStringLiteral("9"));
    h.click("Button29");
    ASSERT_TRUE(waitUntil([&] { return linesOf(logPath()).size() == 2; }, 3s));
    const std::vector<Json> lines = linesOf(logPath());
    EXPECT_EQ(summaries(lines, false), (std::vector<std::string>{"modbus.address not read -> 5 acknowledged",
                                                                 "modbus.address 5 -> 9 acknowledged"}));
    EXPECT_EQ(lines[1]["front_end"], "window");
    EXPECT_EQ(lines[1]["port"], sim.path());
    EXPECT_EQ(lines[1]["slave"], "5") << "the slave address as read";
    EXPECT_TRUE(h.messages().empty()) << "the log adds nothing to what the window shows";

    // "Change Log..." lists them, newest last.
    action(h, "ChangeLogAction")->trigger();
    auto* table = h.form().findChild<QTableWidget*>(QStringLiteral("ChangeTable"));
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(1, 5)->text(), QStringLiteral("5"));
    EXPECT_EQ(table->item(1, 6)->text(), QStringLiteral("9"));
}

TEST_F(WindowChangeLog, WriteAllLogsEachAcknowledgedSetAndOnlyWhatItChanged) {
    SimProcess sim(VX538_SIM_PATH);
    FormHarness h;
    h.form().Changes().start(logPath());
    h.openOnSimulator(sim);
    action(h, "ReadAllAction")->trigger();
    ASSERT_TRUE(waitUntil([&] { return !h.form().Configuration().running(); }, 30s));
    h.takeMessages();
    h.setText("Edit6", QStringLiteral("25"));
    h.setText("DOUT2H", QStringLiteral("60")); // the second output row, DOUTA1
    action(h, "WriteAllAction")->trigger();
    ASSERT_TRUE(waitUntil([&] { return !h.form().Configuration().running(); }, 60s));
    ASSERT_EQ(h.messages().size(), 1u);
    const std::vector<Json> lines = linesOf(logPath());
    for (const Json& line : lines) {
        EXPECT_EQ(line["status"], "acknowledged") << line;
        EXPECT_NE(line["old"], "not read") << line << " Read All read every value";
    }
    EXPECT_GE(lines.size(), 26u);
    EXPECT_EQ(summaries(lines, true), (std::vector<std::string>{"modbus.interval 10 -> 25 acknowledged",
                                                                "ao1.20ma 100 -> 60 acknowledged"}));
}

TEST_F(WindowChangeLog, AnUnansweredSetIsNoChangeAndAnUnwritableLogLeavesTheSetAlone) {
    {
        SimProcess silent(VX538_SIM_PATH, {"--silent"});
        FormHarness h;
        h.form().Changes().start(logPath());
        h.openOnSimulator(silent);
        h.setText("Edit14", QStringLiteral("5"));
        h.click("Button29");
        ASSERT_TRUE(waitUntil([&] { return linesOf(logPath()).size() == 1; }, 5s));
        EXPECT_EQ(summaries(linesOf(logPath()), false),
                  (std::vector<std::string>{"modbus.address not read -> 5 unanswered"}));
    }
    SimProcess sim(VX538_SIM_PATH);
    FormHarness h;
    std::ofstream(folder.filePath(QStringLiteral("plain")).toStdString()) << "x";
    h.form().Changes().start(folder.filePath(QStringLiteral("plain/changes.jsonl")).toStdString());
    h.openOnSimulator(sim);
    h.setText("Edit14", QStringLiteral("6"));
    h.click("Button29");
    ASSERT_TRUE(waitUntil([&] { return h.receiveField() == QLatin1String("QQS#ADR:OK#"); }, 3s));
    // The set went through as without a log.
    h.click("Button23");
    ASSERT_TRUE(waitUntil([&] { return h.text("Edit14") == QStringLiteral("006"); }, 3s));
    EXPECT_FALSE(h.form().Changes().problem().isEmpty());
    EXPECT_TRUE(h.messages().empty()) << h.messageTexts().front().toStdString();
}

// A report from an inspection run by vx538 against the simulator with DOUTA3 out of adjustment and its
// meter on DOUTA3, written as PDF: the text of its pages holds each part's and each output's verdict
// and the readings.
TEST_F(WindowChangeLog, AReportWrittenAsPdfHoldsTheVerdictsAndReadings) {
    const std::string dir = folder.path().toStdString();
    SimProcess sim(VX538_SIM_PATH, {"--output-error", "3:0.2", "--meter", dir + "/meter", "--meter-output",
                                    "3", "--meter-noise", "0"});
    const auto run = testsupport::RunProgram(
        VX538_PATH, {"--no-change-log", "-p", sim.path(), "inspect", "--loop-check", "--output", "3",
                     "--output", "2", "--meter", dir + "/meter", "--settle", "0", "--inspector",
                     "Grace Hopper", "-o", dir + "/report.json"});
    ASSERT_EQ(run.status, 1) << run.out << run.err;

    // Opened in the window and saved from there.
    FormHarness h;
    const QString pdf = folder.filePath(QStringLiteral("report.pdf"));
    app::SetFileChooser([&](app::FileDialogKind kind, const QString&) {
        return kind == app::FileDialogKind::Open ? QString::fromStdString(dir + "/report.json") : pdf;
    });
    action(h, "OpenReportAction")->trigger();
    app::SetFileChooser({});
    auto* dialog = h.form().findChild<app::ReportDialog*>(QStringLiteral("ReportDialog"));
    ASSERT_NE(dialog, nullptr) << h.messageTexts().front().toStdString();
    app::SetFileChooser([&](app::FileDialogKind, const QString&) { return pdf; });
    EXPECT_TRUE(dialog->savePdf());
    app::SetFileChooser({});
    const inspection::Json& report = dialog->report();
    const auto text = testsupport::RunProgram("/usr/bin/pdftotext", {"-layout", pdf.toStdString(), "-"});
    ASSERT_EQ(text.status, 0) << text.err;
    for (const char* expected :
         {"Grace Hopper", "DOUTA3", "DOUTA2", "+1.250", "20.200", "loop_check", "FAIL"}) {
        EXPECT_NE(text.out.find(expected), std::string::npos) << expected << "\n" << text.out;
    }
    // Each output with its own verdict line.
    EXPECT_NE(text.out.find("DOUTA3 (variable 4"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("DOUTA2 (variable 3"), std::string::npos) << text.out;

    // A folder that is not there: said, and nothing written.
    EXPECT_NE(app::WriteReportPdf(report, folder.filePath(QStringLiteral("none/report.pdf"))), QString());
}

} // namespace
