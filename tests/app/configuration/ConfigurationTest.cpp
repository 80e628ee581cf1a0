// The configuration entries of the real window against a pseudo-terminal that plays the converter:
// Read All's order and its ways of stopping, what Save writes (never a value the window did not get),
// Load refusing a bad file whole, Write All refusing bad fields before it sends, and the entries in
// the header's menu and in the fields' context menus.
#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/configuration/ConfigurationActions.h"
#include "app/exchange/StatusLine.h"
#include "app/traffic/TrafficMonitor.h"
#include "app/traffic/TrafficWindow.h"
#include "app/window/VX538AB.h"
#include "profile/BackupFile.h"
#include "tests/support/TextTabFixture.h"

using namespace std::chrono_literals;
using testsupport::FormHarness;
using testsupport::waitUntil;

namespace {

// Replies as the converter gives them, with values unlike the factory's.
const std::string kQx1 = "QQQ#QX1:ADR:007,BA1:40,BA2:41,MD:1,JTM:025#";
// Row DOUTA0's 20 mA value is 123456 (47F12000), which its field shows as "12345".
const std::string kQx2 =
    "QQQ#QX2:DL:0,DA1:1,47F12000,00000000,DA2:2,424A0000,C0000000,DA3:3,42C80000,00000000,"
    "DA4:4,42C80000,00000000,DA5:0,42C80000,00000000,DA6:0,42C80000,00000000,DA7:0,42C80000,00000000,"
    "DA8:0,42C80000,00000000#";
const std::string kQx6 = "QQQ#QX6:LJ:000000123,VA0:012.5,VA1:000.0,VA2:000.0,VA3:000.0,VA4:000.0,VA5:000.0,"
                         "VA6:000.0,VA7:000.0#";
const std::string kQx4 = "QQQ#QX4:MDL:5,MDBS01:0,07,0,1.000,MDBS02:0,12,0,1.000,MDBS03:1,15,1,2.500,"
                         "MDBS04:0,22,0,1.000,MDBS05:0,02,0,1.000,MDBS06:0,06,0,1.000,MDBS07:0,02,0,1.000,"
                         "MDBS08:0,06,0,1.000#";
const std::string kQx3 = "QQQ#QX3:HART0:0,0,01,9,120;CAMD01:1<06,82 A6 0C 0A 1B 2C;CAMD02:0<04,76 89 FD AD#";

struct Query {
    const char* frame;
    const std::string* reply;
};
const Query kReadAllOrder[] = {
    {"QQQ#QX1#", &kQx1}, {"QQQ#QX2#", &kQx2}, {"QQQ#QX6#", &kQx6}, {"QQQ#QX4#", &kQx4}, {"QQQ#QX3#", &kQx3},
};

QAction* action(FormHarness& h, const char* name) {
    auto* found = h.find<QAction>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// The state of every field a configuration file covers, to tell whether any of them changed.
QStringList fieldStates(FormHarness& h) {
    QStringList states;
    for (QLineEdit* edit : h.form().findChildren<QLineEdit*>()) {
        if (!qobject_cast<QComboBox*>(edit->parent())) {
            states << edit->objectName() + '=' + edit->text();
        }
    }
    for (QComboBox* list : h.form().findChildren<QComboBox*>()) {
        states << list->objectName() + '=' + QString::number(list->currentIndex()) + '/' + list->currentText();
    }
    states.sort();
    return states;
}

class Configuration : public testsupport::TextTabFixture {
protected:
    app::ConfigurationActions& actions() { return form().Configuration(); }
    // Reads the configuration file at `path`.
    profile::Backup saved(const QString& path) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        const QByteArray text = file.readAll();
        return profile::ReadBackup(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
    }
    void chooseFile(const QString& path) {
        app::SetFileChooser([path](app::FileDialogKind, const QString&) { return path; });
    }
    void TearDown() override { app::SetFileChooser({}); }
    // What the window wrote, once `count` bytes arrived; the event loop turns meanwhile, as a run
    // sends each step from it.
    std::string sent(std::size_t count) {
        std::string got;
        waitUntil(
            [&] {
                got += peer.readAtLeast(count - got.size(), 10ms);
                return got.size() >= count;
            },
            3s);
        return got;
    }
    // Every field holds a value the converter takes, as after a Read All.
    void fillSendableFields() {
        h.setText("Edit14", "7");
        h.setText("Edit6", "25");
        h.setText("Edit2", "10");
        h.setText("Edit4", "82 A6 0C 0A 1B 2C 03 00");
        h.setText("Edit5", "76 89 FD AD");
        for (int n = 1; n <= 8; ++n) {
            h.setText(QByteArray("READADR") + QByteArray::number(n), "07");
        }
    }
    // Nothing reaches the line while the event loop turns for a while.
    bool quiet() {
        testsupport::pumpFor(300ms);
        return peer.readUntilQuiet(20ms, 200ms).empty();
    }
    // Answers the query the window sent with `reply` and waits until it was decoded.
    void answer(const Query& q) {
        ASSERT_EQ(sent(std::strlen(q.frame)), q.frame);
        peer.write(*q.reply);
        ASSERT_TRUE(waitUntil([&] { return h.receiveField().toStdString() == *q.reply; }, 3s));
        ASSERT_TRUE(decoded());
    }

    QTemporaryDir folder;
};

TEST_F(Configuration, ReadAllAsksEachQueryOnceThePreviousReplyWasDecoded) {
    action(h, "ReadAllAction")->trigger();
    ASSERT_TRUE(actions().running());
    ASSERT_NE(actions().progress(), nullptr);
    EXPECT_TRUE(actions().progress()->isVisible());
    EXPECT_EQ(actions().progress()->labelText(), "Read All: reading the system parameters (1 of 5)...");
    EXPECT_FALSE(action(h, "WriteAllAction")->isEnabled()) << "one run at a time";

    for (const Query& q : kReadAllOrder) {
        SCOPED_TRACE(q.frame);
        ASSERT_EQ(sent(std::strlen(q.frame)), q.frame);
        EXPECT_TRUE(quiet()) << "nothing more until the reply";
        EXPECT_EQ(form().PendingCommand() / 100, 2) << "sent by the query's own button";
        peer.write(*q.reply);
        ASSERT_TRUE(waitUntil([&] { return h.receiveField().toStdString() == *q.reply; }, 3s));
    }
    ASSERT_TRUE(waitUntil([&] { return !actions().running(); }, 3s));
    EXPECT_TRUE(h.messages().empty()) << h.messageTexts().front().toStdString();
    EXPECT_TRUE(action(h, "WriteAllAction")->isEnabled());

    // All three tabs hold the replies.
    EXPECT_EQ(text("Edit14"), "007");
    EXPECT_EQ(text("BRAT1"), "19200");
    EXPECT_EQ(text("Edit6"), "025");
    EXPECT_EQ(text("DOUT1H"), "12345");
    EXPECT_EQ(text("DOUT2H"), "50.5");
    EXPECT_EQ(text("AVO0"), "012.5");
    EXPECT_EQ(text("Edit3"), "000000123");
    EXPECT_EQ(text("READADR3"), "15");
    EXPECT_EQ(text("ComboBox15"), "5");
    EXPECT_EQ(text("Edit2"), "120");
    EXPECT_EQ(text("Edit4"), "82 A6 0C 0A 1B 2C");
    // The exact value behind the five characters is kept.
    EXPECT_EQ(actions().fields().heldValue(profile::ParameterIndex("ao0.20ma")), "123456");

    // The window's buttons work as before once it is done.
    h.click("Button23");
    EXPECT_EQ(sent(8), "QQQ#QX1#");
}

TEST_F(Configuration, ReadAllStopsAtATimeoutNamingTheQueryWithoutReply) {
    action(h, "ReadAllAction")->trigger();
    answer(kReadAllOrder[0]);
    answer(kReadAllOrder[1]);
    ASSERT_EQ(sent(8), "QQQ#QX6#");
    ASSERT_TRUE(waitUntil([&] { return h.messages().size() >= 2; }, 4500ms));
    EXPECT_EQ(h.messageTexts(),
              (std::vector<QString>{"Parameter Query Timeout!",
                                    "Read All stopped: Parameter Query Timeout! No reply came to the test values "
                                    "query (QQQ#QX6#)."}));
    EXPECT_FALSE(actions().running());
    EXPECT_TRUE(quiet()) << "the parse format is not asked";
}

// Esc on the progress dialog is its Cancel: the query under way is answered as ever, nothing follows.
TEST_F(Configuration, EscapeOnTheProgressCancelsTheRun) {
    action(h, "ReadAllAction")->trigger();
    ASSERT_EQ(sent(8), "QQQ#QX1#");
    ASSERT_NE(actions().progress(), nullptr);
    QTest::keyClick(actions().progress(), Qt::Key_Escape);
    peer.write(kQx1);
    ASSERT_TRUE(waitUntil([&] { return text("Edit14") == "007"; }, 3s));
    EXPECT_TRUE(quiet()) << "the run went on after Esc";
    EXPECT_FALSE(actions().running());
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(Configuration, ReadAllEndsWhenCancelledWhenTheUserSendsAndWhenThePortCloses) {
    // Cancel: the query under way is answered and decoded as ever, and nothing follows it.
    action(h, "ReadAllAction")->trigger();
    ASSERT_EQ(sent(8), "QQQ#QX1#");
    auto* cancelButton = actions().progress()->findChild<QPushButton*>();
    ASSERT_NE(cancelButton, nullptr);
    EXPECT_EQ(cancelButton->text(), "&Cancel");
    EXPECT_TRUE(cancelButton->isDefault());
    cancelButton->click();
    peer.write(kQx1);
    ASSERT_TRUE(waitUntil([&] { return text("Edit14") == "007"; }, 3s));
    EXPECT_TRUE(quiet());
    EXPECT_FALSE(actions().running());
    EXPECT_TRUE(h.messages().empty());

    // Another request while a query waits takes the exchange away from it.
    action(h, "ReadAllAction")->trigger();
    ASSERT_EQ(sent(8), "QQQ#QX1#");
    h.click("Button6");
    ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 1s));
    EXPECT_EQ(h.takeMessages().front().text,
              "Read All stopped: another request was sent while it waited for the reply to the system parameters "
              "query (QQQ#QX1#).");
    EXPECT_FALSE(actions().running());
    EXPECT_EQ(sent(7), "QQQ#QV#");
    ASSERT_TRUE(reply("QQQ#QV:VX538-T-B#"));
    ASSERT_TRUE(decoded());

    // A reply still awaited: Read All does not start.
    h.click("Button23");
    ASSERT_EQ(sent(8), "QQQ#QX1#");
    action(h, "ReadAllAction")->trigger();
    EXPECT_FALSE(actions().running());
    ASSERT_EQ(h.messages().size(), 1u);
    EXPECT_TRUE(h.takeMessages().front().text.startsWith("Read All did not start: the reply to the last request"));
    ASSERT_TRUE(reply(kQx1));
    ASSERT_TRUE(decoded());

    // Closing the port ends the run.
    action(h, "ReadAllAction")->trigger();
    ASSERT_EQ(sent(8), "QQQ#QX1#");
    h.click("Button1");
    ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 1s));
    EXPECT_EQ(h.takeMessages().front().text, "Read All stopped: the port was closed.");
    EXPECT_FALSE(actions().running());

    // With the port closed nothing starts.
    action(h, "ReadAllAction")->trigger();
    action(h, "WriteAllAction")->trigger();
    EXPECT_EQ(h.messageTexts(), (std::vector<QString>{"Serial port is not open; nothing was sent.",
                                                      "Serial port is not open; nothing was sent."}));
    EXPECT_FALSE(actions().running());
}

TEST_F(Configuration, SaveWritesWhatTheWindowGotAndMarksTheRestUnread) {
    const QString path = folder.filePath("partial.json");
    chooseFile(path);

    // Nothing read yet: nothing to save, and no file.
    action(h, "SaveConfigurationAction")->trigger();
    ASSERT_EQ(h.messages().size(), 1u);
    EXPECT_TRUE(h.takeMessages().front().text.startsWith("Nothing to save yet"));
    EXPECT_FALSE(QFile::exists(path));

    h.click("Button23");
    answer(kReadAllOrder[0]);
    h.click("Button34");
    answer(kReadAllOrder[1]);
    // Typed after the read: saved as it reads. Typed into a field never read: still unread.
    h.setText("Edit6", "33");
    h.setText("DOUT2H", "7.5");
    h.setText("Xishou1", "9.999");
    action(h, "SaveConfigurationAction")->trigger();
    ASSERT_TRUE(h.messages().empty()) << h.messageTexts().front().toStdString();
    // The status line confirms it; the file says when it was saved beside when its values were read.
    EXPECT_TRUE(form().Status().text().contains("saved 32 values, read 20")) << form().Status().text().toStdString();
    EXPECT_TRUE(form().Status().text().endsWith(path)) << form().Status().text().toStdString();

    const profile::Backup file = saved(path);
    EXPECT_GE(file.saved, file.date);
    EXPECT_EQ(file.saved.size(), file.date.size());
    const auto value = [&](const char* name) { return file.values.value(name); };
    EXPECT_EQ(value("modbus.address"), "7");
    EXPECT_EQ(value("rs485.baud"), "19200");
    EXPECT_EQ(value("rs485b.parity"), "odd");
    EXPECT_EQ(value("mode"), "single-meter");
    EXPECT_EQ(value("modbus.interval"), "33");
    EXPECT_EQ(value("ao0.20ma"), "123456") << "the exact value while the field shows it";
    EXPECT_EQ(value("ao1.20ma"), "7.5");
    EXPECT_EQ(value("ao1.4ma"), "-2");
    EXPECT_EQ(value("parse1.coefficient"), std::nullopt) << "never read";
    EXPECT_EQ(value("hart.clear-time"), std::nullopt);
    EXPECT_EQ(value("test.ao0"), std::nullopt);
    EXPECT_EQ(file.values.count(), 7u + 1u + 24u);
    ASSERT_EQ(file.replies.size(), 2u);
    EXPECT_EQ(file.replies[0], (std::pair<std::string, std::string>{"QX1", kQx1}));
    EXPECT_EQ(file.port, peer.slavePath());
    QFile raw(path);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    EXPECT_TRUE(raw.readAll().contains("\"not_read\": [\n    \"hart.enabled\""));

    // A field that reads as no value: nothing is saved, the file stays as it was.
    h.setText("Edit14", "abc");
    action(h, "SaveConfigurationAction")->trigger();
    ASSERT_EQ(h.messages().size(), 1u);
    EXPECT_EQ(h.takeMessages().front().text.toStdString(),
              "Nothing was saved: modbus.address: 'abc' is not a whole number (1..247)");
    EXPECT_EQ(saved(path).values, file.values);

    // Cancelling the dialog saves nothing and says nothing.
    h.setText("Edit14", "7");
    chooseFile(QString());
    action(h, "SaveConfigurationAction")->trigger();
    EXPECT_TRUE(h.messages().empty());
    EXPECT_TRUE(quiet()) << "saving sends nothing";
}

TEST_F(Configuration, ABadFileIsRefusedWholeAndChangesNoField) {
    const auto write = [&](const char* name, const QByteArray& text) {
        const QString path = folder.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return path;
    };
    const QByteArray head = R"({"format": "vx538-configuration", "version": 1, "parameters": {"modbus.address": 9, )";
    struct Case {
        const char* name;
        QByteArray text;
        const char* says;
    };
    const Case cases[] = {
        {"not-json.json", "modbus.address = 9", "not a configuration file"},
        {"other-format.json", R"({"format": "something-else", "version": 1})", "\"format\" is not"},
        {"newer.json", R"({"format": "vx538-configuration", "version": 2, "parameters": {}})",
         "version 2, newer than this program reads"},
        {"unknown.json", head + R"("ao9.variable": 1}})", "unknown parameter 'ao9.variable'"},
        {"out-of-range.json", head + R"("modbus.interval": 0}})", "modbus.interval: '0' is outside 1..999"},
        {"bad-float.json", head + R"("ao0.20ma": "12,5,3"}})", "ao0.20ma"},
        {"bad-choice.json", head + R"("rs485.parity": "mark"}})", "rs485.parity: 'mark' is not one of none, odd, even"},
        {"missing.json", "", "not a configuration file"},
    };
    const QStringList before = fieldStates(h);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = std::string_view(c.name) == "missing.json" ? folder.filePath("nowhere/missing.json")
                                                                        : write(c.name, c.text);
        chooseFile(path);
        action(h, "LoadConfigurationAction")->trigger();
        const auto messages = h.takeMessages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].text.startsWith(path + " was not loaded: ")) << messages[0].text.toStdString();
        if (std::string_view(c.name) != "missing.json") {
            EXPECT_TRUE(messages[0].text.contains(QString::fromLatin1(c.says))) << messages[0].text.toStdString();
        }
        EXPECT_EQ(fieldStates(h), before) << "no field changed, not even the address before the bad value";
    }

    // A good file fills the fields it has values for, and sends nothing.
    chooseFile(write("good.json", head + R"("rs485.baud": 38400, "ao2.4ma": 0.1, "parse2.coefficient": "2.500"}})"));
    action(h, "LoadConfigurationAction")->trigger();
    EXPECT_TRUE(h.messages().empty()) << h.messageTexts().front().toStdString();
    EXPECT_TRUE(form().Status().text().contains(" \u2014 loaded 4 values, from ")) << form().Status().text().toStdString();
    EXPECT_TRUE(form().Status().text().endsWith("good.json into the fields; nothing was sent"));
    EXPECT_EQ(text("Edit14"), "009");
    EXPECT_EQ(text("Edit18"), "009") << "the MODBUS test's address follows as when typed";
    EXPECT_EQ(text("BRAT1"), "38400");
    EXPECT_EQ(text("DOUT3L"), "0.100");
    EXPECT_EQ(text("Xishou2"), "2.500");
    EXPECT_EQ(text("Edit6"), "") << "not in the file";
    EXPECT_TRUE(quiet());
}

TEST_F(Configuration, WriteAllChecksEveryFieldBeforeItSendsAnything) {
    struct Case {
        const char* field;
        const char* text;
        const char* says;
    };
    const Case cases[] = {
        {"Edit14", "0", "modbus.address: '0' is outside 1..247"},
        {"Edit6", "x", "modbus.interval: 'x' is not a whole number"},
        {"DOUT4L", "1E400", "ao3.4ma: '1E400' is not a number the converter can hold"},
        {"Xishou5", "1.5", "parse5.coefficient: '1.5' is shorter than the five characters"},
        {"Edit5", "76 89 fd ad", "read2.command: '76 89 fd ad' is not hex byte text as the Set button takes it"},
        {"Edit4", "", "read1.command"},
    };
    fillSendableFields();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        const QString kept = h.text(c.field);
        h.setText(c.field, QString::fromLatin1(c.text));
        action(h, "WriteAllAction")->trigger();
        const auto messages = h.takeMessages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].text.startsWith("Write All sent nothing: ")) << messages[0].text.toStdString();
        EXPECT_TRUE(messages[0].text.contains(QString::fromLatin1(c.says))) << messages[0].text.toStdString();
        EXPECT_FALSE(actions().running());
        EXPECT_TRUE(quiet());
        h.setText(c.field, kept);
    }
}

// Write All stops at a set command whose reply is not its acknowledgement, and accounts for all 26.
TEST_F(Configuration, WriteAllStopsAtASetCommandRefusedOrNotAnswered) {
    fillSendableFields();
    const struct {
        const char* reply;
        const char* says;
    } rows[] = {
        {"QQS#MD:ERR#", "Write All stopped: the converter refused the set command of the working mode (QQS#MD:0#) "
                        "(reply QQS#MD:ERR#: the command was refused). 0 of 26 set commands were sent and "
                        "acknowledged, 1 was refused, 25 not sent."},
        {"QQS#MD:O", "Write All stopped: the reply to the set command of the working mode (QQS#MD:0#) was cut "
                     "short (the first 8 bytes of the reply to QQS#MD, cut: 'QQS#MD:O'); nothing was taken from it. "
                     "0 of 26 set commands were sent and acknowledged, 1 was sent without an answer"},
        {"QQS#JTM:OK#", "Write All stopped: the reply to the set command of the working mode (QQS#MD:0#) was not "
                        "its answer (reply QQS#JTM:OK# answers QQS#JTM, not the request's QQS#MD); nothing was taken "
                        "from it."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reply);
        action(h, "WriteAllAction")->trigger();
        ASSERT_EQ(sent(9), "QQS#MD:0#");
        peer.write(row.reply);
        ASSERT_TRUE(waitUntil([&] { return !actions().running(); }, 3s));
        ASSERT_EQ(h.messages().size(), 1u);
        EXPECT_TRUE(h.messages()[0].text.startsWith(QString::fromLatin1(row.says))) << h.messages()[0].text.toStdString();
        EXPECT_TRUE(h.takeMessages()[0].detail.endsWith("RS485 port"));
        EXPECT_TRUE(quiet()) << "nothing after it";
    }
}

TEST_F(Configuration, TheEntriesAreInTheHeaderMenuAndInTheFieldsContextMenus) {
    // In the header's free space: beside the logo, before the title, above the tabs.
    QPushButton* button = actions().menuButton();
    ASSERT_NE(button, nullptr);
    for (const char* name : {"Image1", "Label41", "PageControl1"}) {
        EXPECT_FALSE(button->geometry().intersects(h.find<QWidget>(name)->geometry())) << name;
    }
    EXPECT_EQ(button->menu(), actions().menu());

    const QStringList expected{"Read &All\tCtrl+R", "&Write All\tCtrl+W", "&Save Configuration...\tCtrl+S",
                               "&Load Configuration...\tCtrl+O", "C&ompare with File...", "Li&ve Values",
                               "&Find Instrument...", "&Check Mapping...", "Register &Map...", "Loo&p Check...",
                               "Inspec&tion...", "C&hange Log...",
                               "Open &Inspection Report...", "Traffic Mo&nitor\tCtrl+L"};
    QStringList entries;
    for (QAction* a : actions().menu()->actions()) {
        if (!a->isSeparator()) {
            entries << (a->shortcut().isEmpty() ? a->text() : a->text() + '\t' + a->shortcut().toString());
        }
    }
    EXPECT_EQ(entries, expected);

    // The context menus: their own entries, these, and the traffic monitor's last.
    for (const char* name : {"Edit8", "Memo10"}) {
        SCOPED_TRACE(name);
        QString shown;
        QStringList texts;
        QTimer::singleShot(0, [&] {
            if (auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* a : popup->actions()) {
                    texts << a->text().section(QLatin1Char('\t'), 0, 0);
                }
                popup->close();
            }
        });
        QWidget* target = h.find<QWidget>(name);
        if (auto* memo = qobject_cast<QPlainTextEdit*>(target)) {
            target = memo->viewport();
        }
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), target->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(target, &click);
        ASSERT_FALSE(texts.isEmpty());
        EXPECT_TRUE(texts.contains("&Copy"));
        EXPECT_EQ(texts.last(), "Traffic Mo&nitor...");
        const auto at = texts.indexOf("Read &All");
        ASSERT_GE(at, 0);
        EXPECT_EQ(texts.mid(at, 5), (QStringList{"Read &All", "&Write All", "&Save Configuration...",
                                                 "&Load Configuration...", "C&ompare with File..."}));
    }

    // The menu's last entry opens the traffic monitor, as Ctrl+L does.
    action(h, "TrafficMonitorMenuAction")->trigger();
    ASSERT_NE(form().Traffic().window(), nullptr);
    EXPECT_TRUE(form().Traffic().window()->isVisible());
    form().Traffic().window()->close();

    // The shortcut works anywhere in the window.
    h.form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&h.form()));
    QTest::keyClick(h.find<QWidget>("Edit14"), Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(sent(8), "QQQ#QX1#");
    EXPECT_TRUE(actions().running());
    actions().cancel();
}

TEST_F(Configuration, EveryChoiceAndNumberShowsInItsFieldAndReadsBack) {
    app::ConfigurationFields& fields = actions().fields();
    for (std::size_t i = 0; i < profile::ParameterCount(); ++i) {
        const profile::Parameter& p = profile::Parameters()[i];
        SCOPED_TRACE(std::string(p.name));
        std::vector<std::string> values;
        for (const profile::Choice& c : p.choices) {
            values.emplace_back(c.name);
        }
        if (p.kind == profile::Kind::Integer) {
            for (int v = p.minimum; v <= p.maximum; v += std::max(1, (p.maximum - p.minimum) / 7)) {
                values.push_back(std::to_string(v));
            }
            values.push_back(std::to_string(p.maximum));
        }
        if (p.kind == profile::Kind::Float) {
            for (const char* v : {"0", "0.1", "-2", "123456", "1e30", "-3.4028235e38"}) {
                values.push_back(profile::CanonicalValue(p, v));
            }
        }
        for (const std::string& v : values) {
            profile::Configuration one;
            one.set(i, v);
            fields.show(one);
            EXPECT_EQ(fields.heldValue(i), v);
            if (p.kind != profile::Kind::Float) {
                EXPECT_EQ(fields.fieldValue(i), v) << "what the field shows reads back as itself";
            }
            if (const auto index = profile::ChoiceIndex(p, v)) {
                // The list shows the table's label for it: the window's items and the table agree.
                const auto* list = qobject_cast<QComboBox*>(fields.fieldOf(i));
                ASSERT_NE(list, nullptr);
                EXPECT_EQ(list->currentIndex(), *index);
                const std::string_view label = p.choices[static_cast<std::size_t>(*index)].label;
                EXPECT_EQ(list->currentText().toStdString(), label);
            }
        }
    }
    // A float field shows five characters and holds the value until it is typed over.
    profile::Configuration wide;
    wide.set(profile::ParameterIndex("ao5.4ma"), "-123.456");
    fields.show(wide);
    EXPECT_EQ(text("DOUT6L"), "-123.");
    EXPECT_EQ(fields.heldValue(profile::ParameterIndex("ao5.4ma")), "-123.456");
    EXPECT_EQ(fields.rangeText(5, false), "-123.456");
    h.setText("DOUT6L", "-123");
    EXPECT_EQ(fields.heldValue(profile::ParameterIndex("ao5.4ma")), "-123");
    EXPECT_EQ(fields.rangeText(5, false), "-123");
}

} // namespace
