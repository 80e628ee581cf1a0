// The commissioning windows on the in-process simulated line with a fault at a chosen request: what
// each shows when the instrument falls silent midway, a reply comes cut or with a wrong check byte or
// CRC, the converter refuses, or the line goes. No window shows a value or a row from a reply that was
// not whole and good; the words are the jobs'. The timers run when the line says so, never by the
// clock.
#include <gtest/gtest.h>

#include <cmath>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "app/commissioning/Commissioning.h"
#include "app/commissioning/CommissioningDialogs.h"
#include "app/commissioning/LiveValuesWindow.h"
#include "tests/app/commissioning/FaultBench.h"

using namespace std::chrono_literals;

namespace {

using namespace faultbench;

TEST(FaultedFindInstrument, ListsAnAddressThatAnsweredBadlyAsSuchAndChargesNothingToTheNext) {
    struct Row {
        const char* what;
        Fault fault; // at address 5's request, the sixth
        const char* words;
    };
    const Row rows[] = {
        {"wrong check byte", Fault::WrongCheck, "CRC or check byte wrong: "},
        {"cut in two", Fault::Split, "cut short: "},
        {"no reply of its kind", Fault::Garbage, "not its reply: "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bench b;
        b.script.fault(6, row.fault);
        app::InstrumentScanDialog& scan = b.h.form().Commissioning().findInstrument();
        scan.findChild<QCheckBox*>("ScanFirst")->setChecked(false);
        scan.start();
        ASSERT_TRUE(b.drive([&] { return !scan.scanning(); }));
        EXPECT_EQ(b.script.requests, 16)
            << "every address asked once: the rest of a cut reply went to no request";
        EXPECT_TRUE(scan.found().empty()) << "an instrument from a reply that was not whole and good";
        ASSERT_EQ(scan.table()->rowCount(), 1);
        EXPECT_EQ(scan.table()->item(0, 0)->text(), QStringLiteral("5"));
        EXPECT_TRUE(scan.table()->item(0, 1)->text().startsWith(QString::fromLatin1(row.words)))
            << scan.table()->item(0, 1)->text().toStdString();
        const QString status = label(scan, "ScanStatus");
        EXPECT_TRUE(status.startsWith(
            QStringLiteral("No instrument answered with a good reply at polling addresses 0 "
                           "to 15: address 5 answered, ") +
            QString::fromLatin1(row.words)))
            << status.toStdString();
        EXPECT_TRUE(b.h.messages().empty()) << b.h.messageTexts().front().toStdString();
    }
}

TEST(FaultedFindInstrument, EscapeStopsTheScan) {
    Bench b;
    app::InstrumentScanDialog& scan = b.h.form().Commissioning().findInstrument();
    scan.findChild<QCheckBox*>("ScanFirst")->setChecked(false);
    b.script.fault(3, Fault::Silent);
    scan.start();
    ASSERT_TRUE(b.drive([&] { return b.script.requests == 3; }));
    QTest::keyClick(&scan, Qt::Key_Escape);
    EXPECT_FALSE(scan.isVisible());
    ASSERT_TRUE(b.drive([&] { return !scan.scanning(); }));
    testsupport::pumpFor(50ms);
    EXPECT_EQ(b.script.requests, 3) << "the scan went on sending behind a closed window";
    EXPECT_TRUE(label(scan, "ScanStatus").contains(QStringLiteral("not reached: addresses 3 to 15")))
        << label(scan, "ScanStatus").toStdString();
}

TEST(FaultedFindInstrument, ALostLineEndsTheScanNamingWhatWasNotReached) {
    Bench b;
    app::InstrumentScanDialog& scan = b.h.form().Commissioning().findInstrument();
    b.script.fault(3, Fault::LineLost);
    scan.start();
    ASSERT_TRUE(b.drive([&] { return !scan.scanning(); }));
    const QString status = label(scan, "ScanStatus");
    EXPECT_TRUE(status.contains(QStringLiteral("not reached: addresses 3 to 15"))) << status.toStdString();
    EXPECT_EQ(b.h.button("Button1")->text(), QStringLiteral("Open"));
}

TEST(FaultedFromTheInstrument, AReadThatFailsEmptiesTheListAndFillsNothing) {
    struct Row {
        const char* what;
        int at;
        Fault fault;
        const char* words; // in the status line
    };
    const Row rows[] = {
        // QX1, QX3, QX4, then read meter command 1 to the instrument.
        {"system parameters cut in two", 1, Fault::Split, "cut short"},
        {"the instrument's reply damaged", 4, Fault::WrongCheck, "CRC or check byte wrong"},
        {"the instrument silent", 4, Fault::Silent, "no reply"},
        {"the custom HART commands refused", 2, Fault::Refusal, "refused"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bench b;
        app::ReplyFieldsDialog& fields = b.h.form().Commissioning().fieldsFromInstrument();
        fields.read(1);
        ASSERT_TRUE(b.drive([&] { return !fields.reading(); }));
        ASSERT_FALSE(fields.fields().empty()) << label(fields, "FieldsStatus").toStdString();
        // The same read again, faulted: what the first listed goes.
        b.script.fault(row.at, row.fault);
        fields.read(1);
        ASSERT_TRUE(b.drive([&] { return !fields.reading(); }));
        EXPECT_TRUE(fields.fields().empty());
        EXPECT_EQ(fields.table()->rowCount(), 0);
        EXPECT_FALSE(fields.findChild<QPushButton*>("FieldsFill")->isEnabled());
        const QString status = label(fields, "FieldsStatus");
        EXPECT_TRUE(status.contains(QString::fromLatin1(row.words), Qt::CaseInsensitive))
            << status.toStdString();
        EXPECT_FALSE(status.contains(QStringLiteral("is not a valid"))) << status.toStdString();
        EXPECT_TRUE(b.h.messages().empty()) << b.h.messageTexts().front().toStdString();
    }
}

TEST(FaultedRegisterMap, AReadThatFailsLeavesNoOlderMapToCopyOrSave) {
    Bench b;
    app::RegisterMapDialog& map = b.h.form().Commissioning().registerMap();
    map.read();
    ASSERT_TRUE(b.drive([&] { return !map.reading(); }));
    ASSERT_EQ(map.rows().size(), 9u) << label(map, "MapStatus").toStdString();
    b.script.fault(3, Fault::Silent); // the parse format's query
    map.read();
    ASSERT_TRUE(b.drive([&] { return !map.reading(); }));
    EXPECT_TRUE(map.rows().empty());
    EXPECT_EQ(map.table()->rowCount(), 0);
    EXPECT_FALSE(map.findChild<QPushButton*>("MapSave")->isEnabled());
    EXPECT_FALSE(map.findChild<QPushButton*>("MapCopy")->isEnabled());
    EXPECT_TRUE(map.text(profile::MapFormat::Csv).empty());
    EXPECT_TRUE(label(map, "MapStatus").startsWith(QStringLiteral("No reply to QX4 (parse format)")))
        << label(map, "MapStatus").toStdString();
    EXPECT_TRUE(b.h.messages().empty()) << b.h.messageTexts().front().toStdString();
}

TEST(FaultedRegisterMap, ShowsEachRegistersZeroBasedAddressAndHowMbpollReadsThem) {
    Bench b;
    app::RegisterMapDialog& map = b.h.form().Commissioning().registerMap();
    map.read();
    ASSERT_TRUE(b.drive([&] { return !map.reading(); }));
    ASSERT_EQ(map.table()->rowCount(), 9);
    EXPECT_EQ(map.table()->item(1, 0)->text(), QStringLiteral("40003-40004"));
    EXPECT_EQ(map.table()->item(1, 1)->text(), QStringLiteral("2-3"));
    EXPECT_TRUE(label(map, "MapReading").contains(QStringLiteral("mbpoll -m rtu -a 1 -b 9600")))
        << label(map, "MapReading").toStdString();
}

class FaultedCheck : public ::testing::Test {
protected:
    void SetUp() override {
        // Single Meter Operation Mode: the check asks before it switches to transparent mode.
        b.script.converter("QQS#MD:1#");
        app::SetQuestionAnswerer([this](const QString& text, const QString&) {
            questions.push_back(text);
            return true;
        });
    }
    void TearDown() override { app::SetQuestionAnswerer({}); }

    std::vector<std::string> setFrames() {
        std::vector<std::string> frames;
        const traffic::EventLog& log = b.h.form().Traffic().recorder().log();
        for (std::size_t i = 0; i < log.size(); ++i) {
            if (log.at(i).kind == traffic::EventKind::Sent && log.at(i).bytes.starts_with("QQS#")) {
                frames.push_back(log.at(i).bytes);
            }
        }
        return frames;
    }

    Bench b;
    std::vector<QString> questions;
};

TEST_F(FaultedCheck, SilenceOpensNoTimeoutBoxAndTheModeGoesBack) {
    struct Row {
        const char* what;
        int at; // QX1, QX3, QX4 twice (the check, then the check that switches), QQS#MD:0#, HART, MODBUS...
        Fault fault;
        const char* words;
    };
    const Row rows[] = {
        {"the mode switch unanswered", 7, Fault::Silent, "no reply to the working mode"},
        {"the registers' read with a wrong CRC", 9, Fault::WrongCheck,
         "registers not read: no good reply to the MODBUS "
         "read of 40003-40018 at slave 1 (CRC or check byte wrong)"},
        {"the registers' read refused", 9, Fault::Refusal,
         "registers not read: no good reply to the MODBUS read of "
         "40003-40018 at slave 1 (exception)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        questions.clear();
        b.script.fault(row.at, row.fault);
        b.script.converter("QQS#MD:1#");
        const std::size_t setsBefore = setFrames().size();
        app::CheckMappingDialog& check = b.h.form().Commissioning().checkMapping();
        check.start();
        ASSERT_TRUE(b.drive([&] { return !check.checking(); }));
        EXPECT_EQ(questions.size(), 1u);
        EXPECT_TRUE(b.h.messages().empty()) << b.h.messageTexts().front().toStdString();
        // Said in the summary or, for a variable, in its row.
        QString said = check.summary()->text();
        for (int r = 0; r < check.table()->rowCount(); ++r) {
            said += QStringLiteral("\n") + check.table()->item(r, 6)->text();
        }
        EXPECT_TRUE(said.contains(QString::fromLatin1(row.words), Qt::CaseInsensitive)) << said.toStdString();
        // Put back, whatever happened on the way.
        const std::vector<std::string> sets = setFrames();
        ASSERT_GT(sets.size(), setsBefore);
        EXPECT_EQ(sets.back(), "QQS#MD:1#");
        EXPECT_NE(b.script.converter("QQQ#QX1#").find("MD:1"), std::string::npos);
        // No value from a reply that was not whole and good.
        for (const profile::CheckRow& r : check.rows()) {
            EXPECT_NE(r.verdict, profile::CheckVerdict::Same) << "variable " << r.variable;
        }
    }
}

TEST_F(FaultedCheck, AnEditNotYetSetStaysAndTheCheckSaysItUsedTheConvertersRow) {
    app::SetQuestionAnswerer({});
    b.script.converter("QQS#MD:0#");
    // The parse format read into the main window, then one row edited and not Set.
    b.h.click("Button19");
    ASSERT_TRUE(b.drive([&] { return b.h.text("READADR3") == QStringLiteral("17"); }))
        << b.h.text("READADR3").toStdString();
    b.h.setText("READADR3", QStringLiteral("19"));
    app::CheckMappingDialog& check = b.h.form().Commissioning().checkMapping();
    check.start();
    ASSERT_TRUE(b.drive([&] { return !check.checking(); }));
    EXPECT_EQ(b.h.text("READADR3"), QStringLiteral("19")) << "the check read the parse format over the edit";
    EXPECT_TRUE(
        check.summary()->text().contains(QStringLiteral("differs from the converter's for variable 3 (")))
        << check.summary()->text().toStdString();
    EXPECT_FALSE(check.rows().empty());
}

class FaultedLiveValues : public ::testing::Test {
protected:
    void SetUp() override {
        live.start();
        ASSERT_TRUE(b.drive([&] { return live.samples().size() == 1; }));
    }
    void poll(std::size_t samples) {
        ASSERT_TRUE(b.timers.fire(QStringLiteral("LivePollTimer")));
        ASSERT_TRUE(b.drive([&] { return live.samples().size() == samples || !live.polling(); }));
    }
    QTableWidgetItem* value(int variable) {
        return live.findChild<QTableWidget*>("LiveTable")->item(variable, 1);
    }

    Bench b;
    app::LiveValuesWindow& live = b.h.form().Commissioning().liveValues();
};

TEST_F(FaultedLiveValues, AValueOlderThanOneIntervalIsMarked) {
    struct Row {
        const char* what;
        Fault fault;
    };
    const Row rows[] = {
        {"wrong CRC", Fault::WrongCheck}, {"silence", Fault::Silent}, {"refusal", Fault::Refusal}};
    std::size_t samples = 1;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const QString before = value(0)->text();
        b.script.fault(1, row.fault);
        poll(++samples);
        EXPECT_TRUE(live.valuesStale());
        EXPECT_EQ(value(0)->text(), before) << "a value from the faulted reply";
        EXPECT_TRUE(value(0)->font().italic());
        EXPECT_TRUE(value(0)->toolTip().startsWith(QStringLiteral("Read at ")))
            << value(0)->toolTip().toStdString();
        EXPECT_TRUE(std::isnan(live.samples().valueAt(samples - 1, 0)));
        poll(++samples);
        EXPECT_FALSE(live.valuesStale());
        EXPECT_FALSE(value(0)->font().italic());
    }
    EXPECT_TRUE(b.h.messages().empty()) << b.h.messageTexts().front().toStdString();
}

TEST_F(FaultedLiveValues, ALostLineStopsPollingSaysSoAndIsAGapWhenPollingStartsAgain) {
    b.script.fault(1, Fault::LineLost);
    ASSERT_TRUE(b.timers.fire(QStringLiteral("LivePollTimer")));
    ASSERT_TRUE(b.drive([&] { return !live.polling(); }));
    EXPECT_EQ(live.findChild<QPushButton*>("LiveStartStop")->text(), QStringLiteral("&Start"));
    EXPECT_TRUE(label(live, "LiveStatus").startsWith(QStringLiteral("Polling stopped: ")))
        << label(live, "LiveStatus").toStdString();
    EXPECT_TRUE(live.valuesStale());
    b.h.takeMessages(); // the window's own message of the lost port

    b.h.openOn(b.line);
    live.start();
    ASSERT_TRUE(b.drive([&] { return live.samples().size() >= 3; }));
    // Sample, then the outage, then samples again: the chart's line breaks there.
    ASSERT_EQ(live.samples().size(), 3u);
    EXPECT_FALSE(std::isnan(live.samples().valueAt(0, 0)));
    EXPECT_TRUE(std::isnan(live.samples().valueAt(1, 0)));
    EXPECT_FALSE(std::isnan(live.samples().valueAt(2, 0)));
}

TEST_F(FaultedLiveValues, EscapeClosesItAndALongMessageDoesNotWidenIt) {
    const int width = live.width();
    b.script.fault(1, Fault::Garbage);
    poll(2);
    EXPECT_TRUE(
        label(live, "LiveStatus").contains(QStringLiteral("the last poll: no good reply to the MODBUS read")))
        << label(live, "LiveStatus").toStdString();
    testsupport::pumpFor(20ms); // the layout settles
    EXPECT_EQ(live.width(), width);
    QTest::keyClick(&live, Qt::Key_Escape);
    EXPECT_FALSE(live.isVisible());
    EXPECT_FALSE(live.polling());
}

TEST_F(FaultedLiveValues, AFailedCsvWriteStopsTheFileAndSaysSoWhilePollingGoesOn) {
    QTemporaryDir folder;
    const std::string fifo = folder.filePath("live.csv").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(live.setCsvFile(QString::fromStdString(fifo))) << label(live, "LiveStatus").toStdString();
    poll(2);
    char got[512] = {};
    const ssize_t n = ::read(reader, got, sizeof got);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::count(got, got + n, '\n'), 2) << "the header and the row";
    ::close(reader); // the reader goes away: the next row has nowhere to go
    poll(3);
    EXPECT_TRUE(live.polling());
    EXPECT_EQ(live.findChild<QPushButton*>("LiveCsvFile")->text(), QStringLiteral("CS&V File..."));
    const QString state = label(live, "LiveCsvState");
    EXPECT_TRUE(state.startsWith(QStringLiteral("stopped: "))) << state.toStdString();
    EXPECT_TRUE(state.contains(QStringLiteral("Broken pipe"))) << state.toStdString();
    poll(4); // nothing more is tried, nothing more is said
    EXPECT_EQ(label(live, "LiveCsvState"), state);
}

} // namespace
