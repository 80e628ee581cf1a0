// The traffic monitor in the real window: the rows a session leaves, timeouts, refusals and port
// events, the --log file, the row cap, its entry points and its copy, save and clear.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <random>
#include <fstream>

#include "app/traffic/TrafficModel.h"
#include "app/traffic/TrafficMonitor.h"
#include "app/traffic/TrafficWindow.h"
#include "tests/support/FormHarness.h"
#include "tests/support/PtyPeer.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"
#include "traffic/EventFormat.h"

using namespace std::chrono_literals;
using testsupport::FormHarness;
using testsupport::PtyPeer;
using testsupport::waitUntil;

namespace {

// A row as the monitor shows it, by column.
struct Row {
    std::string direction;
    std::string pending;
    std::string length;
    std::string meaning;
};

class TrafficMonitor : public ::testing::Test {
protected:
    app::TrafficMonitor& monitor() { return h.form().Traffic(); }
    const traffic::EventLog& log() { return monitor().recorder().log(); }
    app::TrafficModel& model() { return monitor().model(); }

    // Waits until the rows caught up with `count` events.
    bool rowsReach(int count) {
        return waitUntil([&] { return model().rowCount() >= count; }, 3000ms);
    }
    Row row(int index) {
        const auto text = [&](traffic::Column column) {
            return model().index(index, static_cast<int>(column)).data().toString().toStdString();
        };
        return {text(traffic::Column::Direction), text(traffic::Column::Pending),
                text(traffic::Column::Length), text(traffic::Column::Meaning)};
    }
    void openPort() {
        h.openPort(peer);
        h.form().Comm1->SetReadIntervalTimeout(30); // blocks end sooner; the 400 ms is not what is tested
    }

    PtyPeer peer;
    FormHarness h;
};

std::vector<std::string> fileLines(const QString& path) {
    std::ifstream in(path.toStdString());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace

TEST_F(TrafficMonitor, ARequestAndItsReplyAreTwoRowsWithTheirMeaning) {
    openPort();
    // Ctrl+L works anywhere in the main window once it is the active window.
    h.form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&h.form()));
    QTest::keyClick(h.find<QWidget>("Edit14"), Qt::Key_L, Qt::ControlModifier);
    ASSERT_NE(monitor().window(), nullptr);
    EXPECT_TRUE(monitor().window()->isVisible());

    h.click("Button23"); // "System Parameters"
    EXPECT_EQ(peer.readAtLeast(8, 2000ms), "QQQ#QX1#");
    peer.write("QX1,ADR:005,BA1:30,MD:1,JTM:012#");
    ASSERT_TRUE(waitUntil([&] { return h.text("Edit14") == "005"; }));
    ASSERT_TRUE(rowsReach(3));
    ASSERT_EQ(model().rowCount(), 3);

    const Row opened = row(0);
    EXPECT_EQ(opened.direction, "port opened");
    EXPECT_NE(opened.meaning.find(peer.slavePath() + " at 9600 baud, 8N1"), std::string::npos)
        << opened.meaning;
    const Row sent = row(1);
    EXPECT_EQ(sent.direction, "sent");
    EXPECT_EQ(sent.pending, "201 System Parameters");
    EXPECT_EQ(sent.length, "8");
    EXPECT_EQ(sent.meaning, "system parameter query (QX1)");
    const Row received = row(2);
    EXPECT_EQ(received.direction, "received");
    EXPECT_EQ(received.pending, "201 System Parameters");
    EXPECT_EQ(received.length, "32");
    EXPECT_EQ(received.meaning.rfind("text reply, block QX1 (system parameters): ADR:005 BA1:30", 0), 0u)
        << received.meaning;
    EXPECT_EQ(log().at(2).bytes, "QX1,ADR:005,BA1:30,MD:1,JTM:012#");
    // Counted from the request (a pseudo-terminal may answer within the millisecond): none is -1.
    EXPECT_GE(log().at(2).sinceRequestMs, 0);
    EXPECT_EQ(model().index(1, static_cast<int>(traffic::Column::Hex)).data().toString(),
              "51 51 51 23 51 58 31 23");

    // A MODBUS test and its reply: the hex frame both ways, with the CRC verdicts. The reply holds
    // fewer registers than were asked for, which the meaning says.
    h.setText("Edit18", "001"); // the decoded slave address 005 was copied here
    h.click("Button4");         // "MODBUS Comm Test" with its start-up fields 00, 18
    EXPECT_EQ(peer.readAtLeast(8, 2000ms).size(), 8u);
    peer.write(std::string("\x01\x03\x04\x42\xC8\x00\x00\x6F\xB5", 9));
    ASSERT_TRUE(rowsReach(5));
    EXPECT_EQ(row(3).meaning, "MODBUS request, slave 1, read holding registers, start 0, count 18 (registers "
                              "40001 to 40018); CRC C5 C7 ok");
    EXPECT_EQ(row(4).direction, "received");
    EXPECT_EQ(row(4).pending, "302 MODBUS Test");
    EXPECT_NE(row(4).meaning.find("2 registers: 17096 (42C8) 0 (0000)"), std::string::npos) << row(4).meaning;
    EXPECT_NE(row(4).meaning.find("1-2 100 | "), std::string::npos) << row(4).meaning;
    EXPECT_EQ(row(4).meaning.rfind("no MODBUS reply to slave 1 function 3 in 9 bytes: byte count 4 where the "
                                   "request asks for 36; MODBUS reply, slave 1",
                                   0),
              0u)
        << row(4).meaning;
    // The main window shows the reply as it always did.
    ASSERT_TRUE(waitUntil([&] { return h.receiveField() == "01 03 04 42 C8 00 00 6F B5 "; }));
}

TEST_F(TrafficMonitor, TimeoutsRefusalsAndPortEventsAreRows) {
    h.click("Button7"); // the port is closed: the frame is shown, nothing is written, the user is told
    EXPECT_EQ(h.messageTexts(), std::vector<QString>{"Serial port is not open; nothing was sent."});
    ASSERT_TRUE(rowsReach(1));
    EXPECT_EQ(row(0).direction, "refused");
    EXPECT_EQ(row(0).length, "12");
    EXPECT_EQ(row(0).meaning.rfind("not written, the port is not open: HART request: 7 preambles", 0), 0u)
        << row(0).meaning;
    h.takeMessages();

    openPort();
    h.click("Button7"); // unanswered: the first HART request times out on the timer's initial 1000 ms
    EXPECT_EQ(peer.readAtLeast(12, 2000ms).size(), 12u);
    ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 3000ms));
    EXPECT_EQ(h.messageTexts(), std::vector<QString>{"HART Command Timeout!"});
    ASSERT_TRUE(rowsReach(4));
    EXPECT_EQ(row(1).direction, "port opened");
    EXPECT_EQ(row(2).direction, "sent");
    EXPECT_EQ(row(3).direction, "timeout");
    EXPECT_EQ(row(3).pending, "100 HART Device Parameters");
    EXPECT_EQ(row(3).meaning, "no reply in time: HART Command Timeout!");
    EXPECT_GE(log().at(3).sinceRequestMs, 950);
    EXPECT_LT(log().at(3).sinceRequestMs, 1500);
    h.takeMessages();

    h.setText("Edit14", "");
    h.click("Button29"); // slave address "Set" with an empty field
    h.setText("Edit10", "76 89 fd ad");
    h.click("Button20"); // a manual HART frame with lower-case hex
    ASSERT_TRUE(rowsReach(6));
    EXPECT_EQ(row(4).direction, "refused");
    EXPECT_EQ(row(4).pending, "200 Set Command");
    EXPECT_EQ(row(4).meaning, "nothing sent: '' is not a valid integer value");
    EXPECT_EQ(row(5).pending, "104 HART Manual Frame");
    EXPECT_EQ(row(5).meaning, "nothing sent: Data eeore!");
    h.setText("Edit4", "76 89");
    h.setText("ComboBox28", "2 Maybe"); // a read meter command whose list matches no item
    h.click("Button17");
    ASSERT_TRUE(rowsReach(7));
    EXPECT_EQ(row(6).direction, "refused");
    EXPECT_EQ(row(6).pending, "200 Set Command");
    EXPECT_EQ(row(6).meaning.rfind("nothing sent: No item is selected in ", 0), 0u) << row(6).meaning;

    h.click("Button1"); // "Close"
    h.setText("SPREALCOM", "/nonexistent/port");
    h.click("Button1");
    ASSERT_TRUE(rowsReach(9));
    EXPECT_EQ(row(7).direction, "port closed");
    EXPECT_EQ(row(8).direction, "refused");
    EXPECT_EQ(row(8).meaning, "/nonexistent/port not opened: Error opening serial port");
}

TEST_F(TrafficMonitor, AHungUpLineIsAPortLostRow) {
    openPort();
    peer.closeMaster();
    ASSERT_TRUE(rowsReach(2));
    EXPECT_EQ(row(1).direction, "port lost");
    EXPECT_NE(row(1).meaning.find("hung up"), std::string::npos);
}

TEST_F(TrafficMonitor, LogFileGetsTheSameLinesAsTheyHappen) {
    QTemporaryDir dir;
    const QString path = dir.filePath("session.log");
    ASSERT_TRUE(monitor().startLogFile(path));
    openPort();
    h.click("Button6"); // "Communication Query"
    EXPECT_EQ(peer.readAtLeast(7, 2000ms), "QQQ#QV#");
    peer.write("QV OK#");
    ASSERT_TRUE(rowsReach(3));
    // Written before the window has shown anything: the file is complete at every moment. A new
    // file starts with the column titles.
    const std::vector<std::string> lines = fileLines(path);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Time\tSource\tSince request\tDirection\tPending\tLength\tHex\tText\tMeaning");
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_EQ(lines[i + 1], traffic::TextLine(log().at(i)));
    }
    // The save as text holds the same lines, titles first.
    auto& window = monitor().showWindow();
    const QString saved = dir.filePath("saved.txt");
    ASSERT_EQ(window.saveTo(saved, app::TrafficWindow::FileFormat::Text), "");
    EXPECT_EQ(fileLines(saved), lines);

    // A file that cannot be opened is reported once; recording goes on.
    h.takeMessages();
    EXPECT_FALSE(monitor().startLogFile(dir.filePath("missing/folder/x.log")));
    ASSERT_EQ(h.messages().size(), 1u);
    EXPECT_TRUE(h.messages()[0].text.contains("cannot be opened")) << h.messages()[0].text.toStdString();
    h.click("Button6");
    ASSERT_TRUE(rowsReach(4));
    EXPECT_EQ(h.messages().size(), 1u);
}

TEST_F(TrafficMonitor, KeepsAtMostTheCapWithANoteAboutTheDropped) {
    auto& window = monitor().showWindow();
    const std::vector<uint8_t> frame = {0x01, 0x03, 0x00, 0x00, 0x00, 0x12, 0xC5, 0xC7};
    const std::size_t total = traffic::kMaxEvents + 5;
    for (std::size_t i = 0; i < total; ++i) {
        monitor().recorder().sent(frame, 302);
        if (i % 20000 == 0) {
            QCoreApplication::processEvents(); // the view follows while events come
        }
    }
    model().sync();
    EXPECT_EQ(model().rowCount(), static_cast<int>(traffic::kMaxEvents));
    EXPECT_EQ(log().dropped(), 5u);
    auto* note = window.findChild<QLabel*>("TrafficNote");
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(note->text().toStdString(),
              "The oldest 5 events were dropped: the monitor keeps the latest 100,000. "
              "Use --log FILE to keep a whole session.");
    EXPECT_EQ(window.countText(), "100,000 events");

    window.clear();
    EXPECT_EQ(model().rowCount(), 0);
    EXPECT_FALSE(note->isVisible());
}

TEST_F(TrafficMonitor, OpensFromTheFieldsContextMenusWhichKeepTheirStandardEntries) {
    for (const char* name : {"Edit8", "Memo10"}) {
        SCOPED_TRACE(name);
        std::unique_ptr<QMenu> menu(monitor().contextMenuFor(h.find<QWidget>(name)));
        ASSERT_NE(menu, nullptr);
        QStringList texts;
        for (QAction* action : menu->actions()) {
            texts << action->text().section(QLatin1Char('\t'), 0, 0);
        }
        EXPECT_TRUE(texts.contains("&Copy")) << texts.join('|').toStdString();
        EXPECT_TRUE(texts.contains("Select All")) << texts.join('|').toStdString();
        ASSERT_EQ(texts.last(), "Traffic Mo&nitor...");
    }
    // A real right click on the receive field shows that menu; its entry opens the window.
    auto* memo = h.find<QPlainTextEdit>("Memo10");
    QString lastEntry;
    QTimer::singleShot(0, [&] {
        if (auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            lastEntry = popup->actions().last()->text();
            popup->actions().last()->trigger();
            popup->close();
        }
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                            memo->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(memo->viewport(), &click);
    EXPECT_EQ(lastEntry, "Traffic Mo&nitor...");
    ASSERT_NE(monitor().window(), nullptr);
    EXPECT_TRUE(monitor().window()->isVisible());

    // Closing the window loses nothing: events keep coming in and are there when it opens again.
    monitor().window()->close();
    h.click("Button6"); // port closed: recorded as not written
    ASSERT_TRUE(rowsReach(1));
    EXPECT_EQ(monitor().showWindow().table()->model()->rowCount(), 1);

    // Esc puts it away again, as it does a dialog.
    monitor().window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(monitor().window()));
    QTest::keyClick(monitor().window()->table(), Qt::Key_Escape);
    EXPECT_FALSE(monitor().window()->isVisible());
}

// Against the simulator's noise the monitor reads the very bytes the window shows, and finds the
// reply after the noise, for the MODBUS test and for a HART query.
TEST_F(TrafficMonitor, FindsTheReplyInsideTheSimulatorsNoiseInTheBytesTheWindowShows) {
    testsupport::SimProcess sim(VX538_SIM_PATH, {"--noise"});
    h.setText("SPREALCOM", QString::fromStdString(sim.path()));
    h.click("Button1");
    ASSERT_EQ(h.button("Button1")->text(), "Close");
    const struct {
        const char* button;
        std::size_t replyLength;
        const char* starts;
    } cases[] = {
        {"Button4", 41, "MODBUS reply, slave 1, read holding registers, byte count 36, 18 registers:"},
        {"Button7", 24, "HART reply: 5 preambles, delimiter 06 (short address, slave to master)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        const int sent = static_cast<int>(log().size());
        h.click(c.button);
        ASSERT_TRUE(waitUntil([&] { return !h.receiveField().isEmpty(); }, 4000ms));
        ASSERT_TRUE(rowsReach(sent + 2));
        const traffic::Event& block = log().at(static_cast<std::size_t>(sent) + 1);
        ASSERT_EQ(block.kind, traffic::EventKind::Received);
        EXPECT_EQ(h.receiveField().toStdString(), traffic::HexText(block.bytes) + " ");
        ASSERT_GT(block.bytes.size(), c.replyLength);
        const std::size_t noise = block.bytes.size() - c.replyLength;
        EXPECT_LE(noise, 4u);
        const traffic::Reading reading = traffic::ReadingOf(block);
        EXPECT_EQ(reading.verdict, traffic::Verdict::Good) << reading.meaning;
        EXPECT_EQ(reading.frameOffset, noise);
        EXPECT_EQ(reading.frameLength, c.replyLength);
        EXPECT_EQ(reading.meaning.rfind(c.starts, 0), 0u) << reading.meaning;
        const std::string note =
            "ok; " + std::to_string(noise) + (noise == 1 ? " byte" : " bytes") + " of noise before it";
        EXPECT_TRUE(reading.meaning.ends_with(note)) << reading.meaning;
        EXPECT_EQ(row(sent + 1).meaning.rfind(c.starts, 0), 0u) << row(sent + 1).meaning;
    }
}

TEST_F(TrafficMonitor, CopiesTheSelectedRowsAndSavesCsv) {
    for (const char* frame : {"QQQ#QV#", "QQS#ADR:005#", "QQS#RESET#"}) {
        monitor().recorder().sent({reinterpret_cast<const uint8_t*>(frame), std::strlen(frame)}, 200);
    }
    monitor().recorder().refused("say \"no\", twice", 200);
    auto& window = monitor().showWindow();
    model().sync();
    window.table()->selectRow(2);
    window.table()->selectionModel()->select(model().index(0, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const std::string expected =
        traffic::TextLine(log().at(0)) + "\n" + traffic::TextLine(log().at(2)) + "\n";
    EXPECT_EQ(window.selectedRowsText().toStdString(), expected);
    window.copySelectedRows();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), expected);

    QTemporaryDir dir;
    const QString path = dir.filePath("traffic.csv");
    ASSERT_EQ(window.saveTo(path, app::TrafficWindow::FileFormat::Csv), "");
    const std::vector<std::string> lines = fileLines(path);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Time,Source,Since request,Direction,Pending,Length,Hex,Text,Meaning");
    EXPECT_EQ(
        lines[2].substr(23),
        ",window,,sent,200 Set Command,12,51 51 53 23 41 44 52 3A 30 30 35 23,QQS#ADR:005#,set slave address 005");
    EXPECT_EQ(lines[4].substr(23), ",window,,refused,200 Set Command,,,,\"nothing sent: say \"\"no\"\", twice\"");
    EXPECT_NE(window.saveTo(dir.filePath("missing/traffic.csv"), app::TrafficWindow::FileFormat::Csv), "");
}

// The table follows the log row for row as events take their places (late ones above newer rows),
// drop off the top and are cleared, with a view attached; a row the user holds keeps its event.
TEST(TrafficModelOrder, RowsFollowTheLogWhereverEventsGo) {
    traffic::EventLog log(40);
    app::TrafficModel model(log);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QTableView view;
    view.setModel(&model);
    std::mt19937 random(35);
    int64_t clock = 0;
    QPersistentModelIndex held;
    std::string heldNote;
    for (int step = 0; step < 2000; ++step) {
        traffic::Event event;
        event.note = "e" + std::to_string(step);
        const auto roll = random() % 100;
        if (roll < 1) {
            log.clear();
            continue;
        }
        if (roll < 30) {
            event.kind = traffic::EventKind::Received;
            event.steadyMs = clock - static_cast<int64_t>(random() % 400); // recorded after its silence
        } else {
            clock += static_cast<int64_t>(random() % 30);
            event.kind = traffic::EventKind::BusRequest;
            event.steadyMs = clock;
        }
        log.append(std::move(event));
        // Between syncs a row still shows its own event, wherever the log has moved it, or nothing.
        if (held.isValid()) {
            const traffic::Event* shown = model.eventAt(held.row());
            ASSERT_TRUE(!shown || shown->note == heldNote) << step;
        }
        if (roll % 7 != 0) {
            continue;
        }
        model.sync();
        ASSERT_EQ(static_cast<std::size_t>(model.rowCount()), log.size()) << step;
        for (int row = 0; row < model.rowCount(); ++row) {
            ASSERT_EQ(model.eventAt(row), &log.at(static_cast<std::size_t>(row))) << step;
        }
        if (held.isValid()) {
            ASSERT_EQ(model.eventAt(held.row())->note, heldNote) << step;
        }
        if (model.rowCount() > 0) {
            held = model.index(static_cast<int>(random() % static_cast<unsigned>(model.rowCount())), 0);
            heldNote = model.eventAt(held.row())->note;
        }
    }
}

// At its usual size the monitor shows every heading whole and leaves the meaning the widest column.
TEST_F(TrafficMonitor, HeadingsFitAndTheMeaningTakesTheWidthLeftOver) {
    app::TrafficWindow& window = monitor().showWindow();
    window.resize(app::TrafficWindow::kDefaultSize);
    QApplication::processEvents();
    QHeaderView* header = window.table()->horizontalHeader();
    const int meaning = static_cast<int>(traffic::Column::Meaning);
    for (int c = 0; c < traffic::kColumnCount; ++c) {
        SCOPED_TRACE(traffic::ColumnTitle(static_cast<traffic::Column>(c)));
        EXPECT_GE(header->sectionSize(c), header->sectionSizeHint(c)) << "heading clipped";
        if (c != meaning) {
            EXPECT_LT(header->sectionSize(c), header->sectionSize(meaning));
        }
    }
    QString widths;
    for (int c = 0; c < traffic::kColumnCount; ++c) {
        widths += QStringLiteral(" %1").arg(header->sectionSize(c));
    }
    EXPECT_GE(header->sectionSize(meaning), window.table()->viewport()->width() / 3) << widths.toStdString();
    EXPECT_EQ(header->sectionViewportPosition(meaning) + header->sectionSize(meaning),
              window.table()->viewport()->width())
        << "the meaning reaches the right edge";
    // A time of day is shown whole.
    const QFontMetrics metrics(window.table()->font());
    EXPECT_GT(header->sectionSize(static_cast<int>(traffic::Column::Time)),
              metrics.horizontalAdvance(QStringLiteral("23:59:59.999")));
}
