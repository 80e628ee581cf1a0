// The commissioning windows on the in-process simulated line with a fault at a chosen request: what
// each shows when the instrument falls silent midway, a reply comes cut or with a wrong check byte or
// CRC, the converter refuses, or the line goes. No window shows a value or a row from a reply that was
// not whole and good; the words are the jobs'. The timers run when the line says so, never by the
// clock.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <map>
#include <mutex>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "app/commissioning/Commissioning.h"
#include "app/commissioning/CommissioningDialogs.h"
#include "app/commissioning/LiveValuesWindow.h"
#include "app/traffic/TrafficMonitor.h"
#include "app/window/Messages.h"
#include "tests/support/FormHarness.h"
#include "tests/support/ManualTimers.h"
#include "tests/support/SimulatedLine.h"
#include "tests/support/Wait.h"
#include "tools/ModbusCrc.h"
#include "traffic/Recorder.h"

using namespace std::chrono_literals;

namespace {

enum class Fault { Silent, Split, WrongCheck, Refusal, Garbage, LineLost };

// The converter's model answering in the test: every request reaches it, and the reply to request n
// is altered by that request's fault, so a fault changes exactly the bytes it names.
class Script {
public:
    Script() { model_.converter().instrument().setPollingAddress(5); }

    std::vector<sim::Write> answer(std::string_view request, sim::Millis now) {
        const std::lock_guard lock(mutex_);
        const int n = ++requests;
        std::string reply;
        for (const sim::Write& w : model_.receive(request, now)) {
            reply += w.bytes;
        }
        for (const sim::Write& w : model_.lineQuiet(now + sim::Simulator::kQuietLine)) {
            reply += w.bytes;
        }
        const auto planned = faults_.find(n);
        std::vector<sim::Write> writes;
        if (planned == faults_.end()) {
            writes.push_back({now, reply});
        } else {
            switch (planned->second) {
            case Fault::Silent:
                break;
            case Fault::LineLost:
                lostAt = n;
                break;
            case Fault::Split: // far enough apart to arrive as two blocks
                writes.push_back({now, reply.substr(0, reply.size() / 2)});
                writes.push_back({now + 150ms, reply.substr(reply.size() / 2)});
                break;
            case Fault::WrongCheck:
                reply.back() = static_cast<char>(reply.back() ^ 0x5A);
                writes.push_back({now, reply});
                break;
            case Fault::Refusal:
                writes.push_back({now, refusalOf(request)});
                break;
            case Fault::Garbage:
                writes.push_back({now, "\x13\x37garbage"});
                break;
            }
        }
        std::erase_if(writes, [](const sim::Write& w) { return w.bytes.empty(); });
        blocks += static_cast<int>(writes.size());
        silent = writes.empty();
        return writes;
    }

    // The fault of the `after`th request from now (1: the next one).
    void fault(int after, Fault fault) {
        const std::lock_guard lock(mutex_);
        faults_[requests + after] = fault;
    }
    // The model, while no request reaches it.
    std::string converter(std::string_view frame) {
        const std::lock_guard lock(mutex_);
        return model_.converter().handleText(frame);
    }

    std::atomic<int> requests{0};
    std::atomic<int> blocks{0};      // written so far, each arriving as a block of its own
    std::atomic<bool> silent{false}; // the last request got nothing
    std::atomic<int> lostAt{0};

private:
    std::mutex mutex_;
    sim::Simulator model_;
    std::map<int, Fault> faults_; // by request, the first being 1

    static std::string refusalOf(std::string_view request) {
        if (request.size() == 8 && request[1] == '\x03') { // the MODBUS read: exception 4
            std::string reply{request[0], static_cast<char>(request[1] | 0x80), 4};
            const tools::CrcBytes crc =
                tools::ModbusCrc16(std::span(reinterpret_cast<const uint8_t*>(reply.data()), 3));
            return reply + static_cast<char>(crc.low) + static_cast<char>(crc.high);
        }
        const std::size_t head = request.find('#');
        return std::string(request.substr(0, request.find_first_of(":#", head + 1))) + ":ERR#";
    }
};

// The window on a line scripted by request, its timers run by the line's state.
struct Bench {
    Bench() {
        line.repliesInstead = [this](std::string_view request, sim::Millis now) {
            return std::optional(script.answer(request, now));
        };
        line.onHeard = [this](std::size_t n) {
            if (script.lostAt == static_cast<int>(n)) {
                line.hangUp();
            }
        };
        h.openOn(line);
    }

    int count(traffic::EventKind kind) {
        const traffic::EventLog& log = h.form().Traffic().recorder().log();
        int n = 0;
        for (std::size_t i = 0; i < log.size(); ++i) {
            n += log.at(i).kind == kind;
        }
        return n;
    }
    // Turns the event loop until `done`, standing in for the clock: once every block written is in
    // and every request sent was heard, a settling line settles and a request without reply times out.
    bool drive(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
        return testsupport::waitUntil(
            [&] {
                const bool quiet = count(traffic::EventKind::Received) >= script.blocks &&
                                   count(traffic::EventKind::Sent) == script.requests;
                if (quiet && !timers.fire(QStringLiteral("JobSettleTimer")) && script.silent) {
                    timers.fire(QStringLiteral("Timer3"));
                }
                return done();
            },
            limit);
    }

    testsupport::ManualTimers timers{{QStringLiteral("Timer2")}};
    Script script;
    testsupport::SimulatedLine line;
    testsupport::FormHarness h;
};

QString label(QWidget& window, const char* name) {
    return window.findChild<QLabel*>(QString::fromLatin1(name))->text();
}

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
    EXPECT_EQ(live.findChild<QPushButton*>("LiveStartStop")->text(), QStringLiteral("Start"));
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

} // namespace
