// One job, two front ends: each commissioning job run by vx538 (in this process, over the simulated
// line) and by the window's dialog, with the same fault at the same request. Both must send the same
// requests, reach the same verdict and say it in the same words; the window shows nothing from a
// reply that was not whole and good.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "app/commissioning/Commissioning.h"
#include "app/commissioning/CommissioningDialogs.h"
#include "app/inspection/InspectionDialogs.h"
#include "app/inspection/LoopPanel.h"
#include "cli/Main.h"
#include "serial/PosixPort.h"
#include "tests/app/commissioning/FaultBench.h"

namespace {

using namespace faultbench;

// vx538 in this process over a line scripted as the window's bench scripts it.
struct CliRun {
    int status = -1;
    std::string output; // standard output, then standard error
    std::vector<std::string> heard;
};

CliRun Vx538(std::vector<std::string> arguments, int at, Fault fault) {
    Script script;
    testsupport::SimulatedLine line;
    line.repliesInstead = [&script](std::string_view request, sim::Millis now) {
        return std::optional(script.answer(request, now));
    };
    line.onHeard = [&](std::size_t n) {
        if (script.lostAt == static_cast<int>(n)) {
            line.hangUp();
        }
    };
    script.fault(at, fault);
    arguments.insert(arguments.begin(), {"-p", "sim0", "--timeout", "300"});
    std::ostringstream out;
    std::ostringstream err;
    serial::EventFd stop;
    stop.create();
    const cli::Environment environment{out, err, stop, false,
                                       [&line](const std::string& port) { return line.transport(port); }};
    CliRun run;
    run.status = cli::Vx538(arguments, environment);
    run.output = out.str() + err.str();
    run.heard = line.heard();
    return run;
}

// The job's words in the window's sentence as vx538 prints them: the sentence's capital and period
// are the window's, the reason a line was lost names each front end's own port, and what follows a
// verdict in parentheses is the reply itself (the instrument's values, which move between the runs).
std::string Plain(const QString& sentence) {
    std::string text = sentence.toStdString();
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    if (!text.empty()) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    }
    if (const std::size_t verdict = text.find("): "); verdict != std::string::npos) {
        text.resize(verdict + 1);
    } else if (const std::size_t reason = text.find(": "); reason != std::string::npos) {
        text.resize(reason);
    }
    return text;
}

// vx538's output without the wait it names after a silence (its --timeout, not the job's words).
std::string WithoutWait(std::string output) {
    static const std::regex wait(" within [0-9]+ ms");
    return std::regex_replace(output, wait, "");
}

std::vector<std::string> SentByWindow(Bench& b) {
    std::vector<std::string> sent;
    const traffic::EventLog& log = b.h.form().Traffic().recorder().log();
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log.at(i).kind == traffic::EventKind::Sent) {
            sent.push_back(log.at(i).bytes);
        }
    }
    return sent;
}

// What the window said of the job, and whether it shows anything as read.
struct Shown {
    QString words;         // the words that must be vx538's too
    bool anything = false; // a row, a value, an enabled Fill Row, Copy or Save
};

using Front = Shown (*)(Bench&);

Shown Scan(Bench& b) {
    app::InstrumentScanDialog& scan = b.h.form().Commissioning().findInstrument();
    scan.findChild<QCheckBox*>("ScanFirst")->setChecked(false);
    scan.start();
    EXPECT_TRUE(b.drive([&] { return !scan.scanning(); }));
    Shown shown;
    shown.anything = !scan.found().empty();
    for (int row = 0; row < scan.table()->rowCount(); ++row) {
        if (scan.table()->item(row, 0)->text() == QStringLiteral("5")) {
            shown.words = QStringLiteral("address 5: ") + scan.table()->item(row, 1)->text();
        }
    }
    if (shown.words.isEmpty()) {
        const QString status = label(scan, "ScanStatus");
        shown.words = status.mid(status.lastIndexOf(QStringLiteral(". ")) + 2); // the stop's sentence
    }
    return shown;
}

Shown Fields(Bench& b) {
    app::ReplyFieldsDialog& fields = b.h.form().Commissioning().fieldsFromInstrument();
    fields.read(1);
    EXPECT_TRUE(b.drive([&] { return !fields.reading(); }));
    return {label(fields, "FieldsStatus"),
            fields.table()->rowCount() > 0 || fields.findChild<QPushButton*>("FieldsFill")->isEnabled()};
}

Shown Map(Bench& b) {
    app::RegisterMapDialog& map = b.h.form().Commissioning().registerMap();
    map.read();
    EXPECT_TRUE(b.drive([&] { return !map.reading(); }));
    return {label(map, "MapStatus"), map.table()->rowCount() > 0 ||
                                         map.findChild<QPushButton*>("MapSave")->isEnabled() ||
                                         map.findChild<QPushButton*>("MapCopy")->isEnabled()};
}

Shown Check(Bench& b) {
    app::CheckMappingDialog& check = b.h.form().Commissioning().checkMapping();
    check.start();
    EXPECT_TRUE(b.drive([&] { return !check.checking(); }));
    Shown shown;
    for (int r = 0; r < check.table()->rowCount(); ++r) {
        // The row's note leads the registers' stop with its own label.
        const QString note = check.table()->item(r, 6)->text().remove(QStringLiteral("registers not read: "));
        if (shown.words.isEmpty() && !note.isEmpty()) {
            shown.words = note;
        }
    }
    if (shown.words.isEmpty()) {
        shown.words = check.summary()->text();
    }
    for (const profile::CheckRow& r : check.rows()) {
        shown.anything = shown.anything || r.verdict == profile::CheckVerdict::Same;
    }
    return shown;
}

// The loop check of DOUTA3 at 4 and 12 mA, each reading typed as the point's own current (vx538
// reads the same from its file). A stop is said in the status line; otherwise a point's note is.
const char* const kLoopReadings = "vx538-same-job-readings.csv";

Shown LoopCheck(Bench& b) {
    app::LoopCheckDialog& loop = b.h.form().Commissioning().loopCheck();
    loop.findChild<QCheckBox*>("LoopOutput3")->setChecked(true);
    loop.findChild<QLineEdit*>("LoopPoints")->setText(QStringLiteral("4,12"));
    loop.start();
    app::LoopPanel& panel = *loop.panel();
    EXPECT_TRUE(b.drive([&] {
        if (panel.waiting()) {
            panel.type(panel.table()->item(panel.table()->rowCount() - 1, 1)->text());
        }
        return !loop.checking();
    }));
    Shown shown;
    const jobs::LoopCheckResult& r = *loop.result();
    shown.anything = r.verdict() == inspection::Verdict::Pass && r.stop.has_value();
    shown.words = loop.status()->text();
    for (int row = 0; !r.stop && row < panel.table()->rowCount(); ++row) {
        const QString verdict = panel.table()->item(row, 6)->text();
        if (verdict.contains(QLatin1Char('('))) {
            shown.words = verdict;
            break;
        }
    }
    return shown;
}

TEST(SameJob, Vx538AndTheWindowReachTheSameVerdictInTheSameWords) {
    const std::string readings = ::testing::TempDir() + kLoopReadings;
    std::ofstream(readings) << "output,point,mA\n3,4,4\n3,12,12\n";
    const std::vector<std::string> loopCheck = {"loop-check", "--output", "3", "--points", "4,12", "--readings", readings};
    struct Row {
        const char* what;
        std::vector<std::string> command; // vx538's
        Front window;
        int at; // the faulted request, the first being 1
        Fault fault;
        const char* words; // in both front ends' account
        bool vx538Fails;
    };
    // clang-format off
    const Row rows[] = {
        {"scan: address 5 answers with a wrong check byte", {"hart", "scan"}, Scan, 6, Fault::WrongCheck, "CRC or check byte wrong", true},
        {"scan: address 5's reply cut in two", {"hart", "scan"}, Scan, 6, Fault::Split, "cut short", true},
        {"scan: the line lost midway", {"hart", "scan"}, Scan, 3, Fault::LineLost, "not reached: addresses 3 to 15", true},
        {"fields: the system parameters cut in two", {"hart", "fields"}, Fields, 1, Fault::Split, "cut short", true},
        {"fields: the instrument's reply damaged", {"hart", "fields"}, Fields, 4, Fault::WrongCheck, "CRC or check byte wrong", true},
        {"fields: the instrument silent", {"hart", "fields"}, Fields, 4, Fault::Silent, "no reply", true},
        {"map: the parse format unanswered", {"map"}, Map, 3, Fault::Silent, "no reply to QX4 (parse format)", true},
        {"map: the custom commands refused", {"map"}, Map, 2, Fault::Refusal, "refused", true},
        // QX1, QX3, QX4, the instrument's reply, the registers, the instrument's again.
        {"check: the registers' read with a wrong CRC", {"check"}, Check, 5, Fault::WrongCheck, "CRC or check byte wrong", true},
        {"check: the registers' read refused", {"check"}, Check, 5, Fault::Refusal, "exception", true},
        {"check: the instrument silent", {"check"}, Check, 4, Fault::Silent, "read meter command 1", true},
        // QX1, QX2, QX6, the mode switched, the test values at 4 and 12 mA, theirs and the mode put back.
        {"loop: the switch to test current output mode unanswered", loopCheck, LoopCheck, 4, Fault::Silent, "no reply", true},
        {"loop: a test value refused", loopCheck, LoopCheck, 5, Fault::Refusal, "refused the test value", false},
        {"loop: the line lost midway", loopCheck, LoopCheck, 6, Fault::LineLost, "stopped", true},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bench b;
        // The preamble length the window's field holds, given to vx538 too.
        std::vector<std::string> command = row.command;
        if (command.front() != "loop-check") { // the loop check sends no HART
            command.insert(command.end(), {"--preambles", b.h.text("Edit9").toStdString()});
        }
        // Before its first set command vx538 asks the converter's version for its change log (QV, after
        // the job's reads); the window's log has it from the queries it already read.
        const bool sets = command.front() == "loop-check";
        CliRun cli = Vx538(command, row.at + (sets && row.at > 3 ? 1 : 0), row.fault);
        if (sets) {
            std::erase(cli.heard, "QQQ#QV#");
        }

        b.script.fault(row.at, row.fault);
        const Shown shown = row.window(b);

        EXPECT_EQ(SentByWindow(b), cli.heard) << "the two front ends sent different requests";
        EXPECT_TRUE(shown.words.contains(QString::fromLatin1(row.words), Qt::CaseInsensitive))
            << shown.words.toStdString();
        EXPECT_NE(WithoutWait(cli.output).find(Plain(shown.words)), std::string::npos)
            << "vx538 said otherwise:\n"
            << cli.output << "the window: " << shown.words.toStdString();
        EXPECT_EQ(cli.status != 0, row.vx538Fails) << cli.output;
        if (row.fault == Fault::LineLost) {
            EXPECT_EQ(cli.status, 4) << cli.output;
        }
        EXPECT_FALSE(shown.anything) << "the window shows what a reply that was not whole and good gave";
        if (row.fault != Fault::LineLost) { // the window's own box of a lost port is today's
            EXPECT_TRUE(b.h.messages().empty()) << b.h.messageTexts().front().toStdString();
        }
    }
}

} // namespace
