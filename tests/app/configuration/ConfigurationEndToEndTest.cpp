// Read All, Save, Load, Write All and Compare with File, and the status line, in the real window
// against the simulated converter (vx538-sim as a child process): what one converter holds reaches
// a file and from the file a second converter, byte for byte as the first reports it.
#include <gtest/gtest.h>

#include <fstream>

#include <QAction>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "app/configuration/ConfigurationActions.h"
#include "app/exchange/StatusLine.h"
#include "app/traffic/TrafficMonitor.h"
#include "app/window/VX538AB.h"
#include "profile/BackupFile.h"
#include "tests/support/FormHarness.h"
#include "tests/support/ManualTimers.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;
using testsupport::FormHarness;
using testsupport::ManualTimers;
using testsupport::SimLine;
using testsupport::SimProcess;
using testsupport::waitUntil;

namespace {

// What the simulator answers to `frame` on a line of our own (while no window holds its port).
std::string ask(const SimProcess& sim, const std::string& frame) {
    SimLine line(sim.path());
    line.write(frame);
    return line.readUntilQuiet(100ms, 3s);
}

// Puts the simulator at values unlike the factory's, over a raw line.
void configure(const SimProcess& sim) {
    const char* frames[] = {
        "QQS#ADR:007#", "QQS#BA1:40#", "QQS#BA2:41#", "QQS#MD:1#", "QQS#JTM:025#",
        // 123456 shows as "12345" in its field; the file and the second converter must get 123456.
        "QQS#DA2:2,47F12000,C0000000#", "QQS#DA3:5,424A0000,C0000000#", "QQS#DA6:7,41200000,3F800000#",
        "QQS#HART0:0,0,01,9,120#", "QQS#MDBS3:1,15,1,2.500#", "QQS#MDBS8:1,31,0,0.500#", "QQS#MDL:5#",
        "QQS#CAMD02:1<04,\x76\x89\xFD\xAD", "QQQ#AV0O:12.5#"};
    for (const char* frame : frames) {
        const std::string reply = ask(sim, frame);
        ASSERT_NE(reply.find(":OK#"), std::string::npos) << frame << " got " << reply;
    }
}

QAction* action(FormHarness& h, const char* name) {
    auto* found = h.find<QAction>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

bool runOver(FormHarness& h, std::chrono::milliseconds limit = 30s) {
    return waitUntil([&] { return !h.form().Configuration().running(); }, limit);
}

// Every field a configuration file covers, as it stands (as std::string, so a failure shows text).
std::vector<std::string> parameterFields(FormHarness& h) {
    std::vector<std::string> states;
    app::ConfigurationFields& fields = h.form().Configuration().fields();
    for (std::size_t i = 0; i < profile::ParameterCount(); ++i) {
        QWidget* field = fields.fieldOf(i);
        QString state = QString::fromUtf8(profile::Parameters()[i].name.data()) + '=';
        if (auto* list = qobject_cast<QComboBox*>(field)) {
            state += QString::number(list->currentIndex()) + '/' + list->currentText();
        } else {
            state += qobject_cast<QLineEdit*>(field)->text();
        }
        states.push_back(state.toStdString());
    }
    return states;
}

// The frames starting with `head` (the set commands' by default) the window wrote, oldest first.
std::vector<std::string> setFramesSent(FormHarness& h, std::string_view head = "QQS#") {
    std::vector<std::string> frames;
    const traffic::EventLog& log = h.form().Traffic().recorder().log();
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log.at(i).kind == traffic::EventKind::Sent && log.at(i).bytes.starts_with(head)) {
            frames.push_back(log.at(i).bytes);
        }
    }
    return frames;
}

class ConfigurationEndToEnd : public ::testing::Test {
protected:
    void TearDown() override { app::SetFileChooser({}); }
    void chooseFile(const QString& path) {
        app::SetFileChooser([path](app::FileDialogKind, const QString&) { return path; });
    }
    // Reads the converter into `h` and saves it to `path`.
    void readAndSave(FormHarness& h, const QString& path) {
        action(h, "ReadAllAction")->trigger();
        ASSERT_TRUE(runOver(h));
        ASSERT_TRUE(h.messages().empty()) << h.messageTexts().front().toStdString();
        chooseFile(path);
        action(h, "SaveConfigurationAction")->trigger();
        ASSERT_TRUE(h.messages().empty()) << h.messageTexts().front().toStdString();
    }

    QTemporaryDir folder;
};

TEST_F(ConfigurationEndToEnd, ReadAllFillsTheThreeTabsAndSaveThenLoadGivesTheSameFields) {
    SimProcess sim(VX538_SIM_PATH);
    configure(sim);
    const QString path = folder.filePath("converter.json");
    std::vector<std::string> read;
    {
        // Each query's reply decoded as soon as it is shown; silence only when the test says so.
        ManualTimers timers{{"Timer2"}};
        FormHarness h;
        h.openOnSimulator(sim);
        readAndSave(h, path);
        // "System Parameters"
        EXPECT_EQ(h.text("Edit14"), "007");
        EXPECT_EQ(h.text("BRAT1"), "19200");
        EXPECT_EQ(h.text("ComboBox7"), "Single Meter Operation Mode");
        EXPECT_EQ(h.text("Edit6"), "025");
        EXPECT_EQ(h.text("DOUT2H"), "12345");
        EXPECT_EQ(h.text("DOUT3H"), "50.5");
        EXPECT_EQ(h.text("DOUT3L"), "-2");
        EXPECT_EQ(h.list("DOUT6")->currentIndex(), 7);
        EXPECT_EQ(h.text("AVO0"), "012.5");
        // "Modbus Parameter Configuration"
        EXPECT_EQ(h.text("ComboBox6"), "0 Close");
        EXPECT_EQ(h.text("ComboBox34"), "9");
        EXPECT_EQ(h.text("Edit2"), "120");
        EXPECT_EQ(h.text("Edit5"), "76 89 FD AD");
        EXPECT_EQ(h.text("ComboBox29"), "1 Open");
        EXPECT_EQ(h.list("FAMOUT3")->currentIndex(), 1);
        EXPECT_EQ(h.text("READADR8"), "31");
        EXPECT_EQ(h.text("Xishou8"), "0.500");
        EXPECT_EQ(h.text("ComboBox15"), "5");
        read = parameterFields(h);
    }

    const profile::Backup file = [&] {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        return profile::ReadBackup(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
    }();
    EXPECT_EQ(file.values.count(), profile::ParameterCount()) << "every parameter was read";
    EXPECT_EQ(file.values.value("ao1.20ma"), "123456");
    EXPECT_EQ(file.replies.size(), 5u);
    EXPECT_EQ(file.port, sim.path());

    // A fresh window, its port closed: Load fills every field as the read did, and sends nothing.
    FormHarness fresh;
    EXPECT_NE(parameterFields(fresh), read);
    chooseFile(path);
    action(fresh, "LoadConfigurationAction")->trigger();
    EXPECT_TRUE(fresh.messages().empty()) << fresh.messageTexts().front().toStdString();
    EXPECT_EQ(parameterFields(fresh), read);
    EXPECT_EQ(fresh.form().Configuration().fields().heldValues(), file.values);
    EXPECT_EQ(fresh.form().Traffic().recorder().log().size(), 0u) << "nothing was sent";
}

TEST_F(ConfigurationEndToEnd, WriteAllCopiesOneConverterToAnotherAndCompareFindsTheOneChange) {
    SimProcess first(VX538_SIM_PATH);
    configure(first);
    const QString path = folder.filePath("first.json");
    {
        FormHarness h;
        h.openOnSimulator(first);
        readAndSave(h, path);
    }

    SimProcess second(VX538_SIM_PATH);
    ASSERT_NE(ask(second, "QQQ#QX1#"), ask(first, "QQQ#QX1#")) << "the second starts at the factory's values";
    {
        FormHarness h;
        h.openOnSimulator(second);
        chooseFile(path);
        action(h, "LoadConfigurationAction")->trigger();
        action(h, "WriteAllAction")->trigger();
        ASSERT_TRUE(h.form().Configuration().running());
        ASSERT_TRUE(runOver(h, 60s));
        ASSERT_EQ(h.messages().size(), 1u) << h.messageTexts().front().toStdString();
        EXPECT_EQ(h.messages()[0].text, "Write All sent 26 set commands; every value sent reads back as sent.");

        // In the restore order, the settings of the line itself last; the exact range value.
        const std::vector<std::string> frames = setFramesSent(h);
        ASSERT_EQ(frames.size(), 26u);
        EXPECT_EQ(frames.front(), "QQS#MD:1#");
        EXPECT_EQ(frames[frames.size() - 3], "QQS#BA2:41#");
        EXPECT_EQ(frames[frames.size() - 2], "QQS#ADR:007#");
        EXPECT_EQ(frames.back(), "QQS#BA1:40#");
        EXPECT_NE(std::find(frames.begin(), frames.end(), "QQS#DA2:2,47F12000,C0000000#"), frames.end());
    }
    // What the second converter now reports is what the first does, reply for reply.
    for (const char* query : {"QQQ#QX1#", "QQQ#QX2#", "QQQ#QX3#", "QQQ#QX4#"}) {
        EXPECT_EQ(ask(second, query), ask(first, query)) << query;
    }

    // One setting changes on the second converter: Compare with File names it, with both values.
    ASSERT_EQ(ask(second, "QQS#JTM:030#"), "QQS#JTM:OK#");
    FormHarness h;
    h.openOnSimulator(second);
    chooseFile(path);
    action(h, "CompareWithFileAction")->trigger();
    ASSERT_TRUE(runOver(h));
    ASSERT_EQ(h.messages().size(), 1u) << h.messageTexts().front().toStdString();
    EXPECT_EQ(h.messages()[0].text, "1 parameter(s) of the converter differ from first.json:");
    EXPECT_EQ(h.messages()[0].detail, "modbus.interval: file 25, converter 30");
    EXPECT_EQ(h.text("Edit6"), "030") << "the fields show what was read";

    // Against the first converter nothing differs.
    h.takeMessages();
    h.click("Button1");
    FormHarness other;
    other.openOnSimulator(first);
    action(other, "CompareWithFileAction")->trigger();
    ASSERT_TRUE(runOver(other));
    ASSERT_EQ(other.messages().size(), 1u);
    EXPECT_EQ(other.messages()[0].text, "No parameter of the converter differs from first.json.");
}

// A converter that stops answering after Write All changed its RS485 port: the read-back stops at
// the timeout, and the message says why that may be.
TEST_F(ConfigurationEndToEnd, AReadBackWithoutReplyAfterANewRs485SettingSaysSo) {
    const std::string fifo = folder.filePath("control").toStdString();
    SimProcess sim(VX538_SIM_PATH, {"--control", fifo});
    configure(sim); // its RS485 port at 19200, this one stays at 9600
    FormHarness h;
    h.openOnSimulator(sim);
    action(h, "ReadAllAction")->trigger();
    ASSERT_TRUE(runOver(h));
    action(h, "WriteAllAction")->trigger();
    ASSERT_TRUE(waitUntil([&] { return setFramesSent(h).size() == 26; }, 30s));
    EXPECT_EQ(setFramesSent(h).back(), "QQS#BA1:40#");
    std::ofstream(fifo) << "silent on\n";
    ASSERT_TRUE(runOver(h, 10s));
    ASSERT_FALSE(h.messages().empty());
    const QString last = h.messages().back().text;
    // The switch may reach the simulator before its reply to the RS485 setting: then that setting is
    // the one without an answer.
    EXPECT_TRUE(last.startsWith("Write All stopped: Parameter Query Timeout! No reply came to the system parameters "
                                "query (QQQ#QX1#). The set commands were sent.") ||
                last.startsWith("Write All stopped: Parameter Setting Timeout! No reply came to the set command of "
                                "the RS485 port (QQS#BA1:40#). 25 of 26 set commands were sent and acknowledged, 1 "
                                "was sent without an answer"))
        << last.toStdString();
    EXPECT_TRUE(last.contains("The converter's RS485 port now runs at 19200 none, this port at 9600 None"))
        << last.toStdString();
}

// Replies cut in two by a pause of 600 ms: a run stops at the first one with its cause, and no field
// is written from it. Read All, and Compare with File (which then compares nothing).
TEST_F(ConfigurationEndToEnd, ARunStopsAtAReplyCutByAPauseAndWritesNoField) {
    SimProcess whole(VX538_SIM_PATH);
    const QString path = folder.filePath("converter.json");
    {
        FormHarness h;
        h.openOnSimulator(whole);
        readAndSave(h, path);
    }
    SimProcess split(VX538_SIM_PATH, {"--split", "600"});
    const struct {
        const char* entry;
        const char* starts;
        const char* ends;
    } rows[] = {
        {"ReadAllAction", "Read All stopped: the reply to the system parameters query (QQQ#QX1#) was cut short (",
         "; nothing was taken from it."},
        {"CompareWithFileAction",
         "Compare with File stopped: the reply to the system parameters query (QQQ#QX1#) was cut short (",
         " The converter's values could not be read, so nothing was compared."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.entry);
        FormHarness h;
        h.openOnSimulator(split);
        const std::vector<std::string> before = parameterFields(h);
        chooseFile(path);
        action(h, row.entry)->trigger();
        ASSERT_TRUE(runOver(h));
        ASSERT_EQ(h.messages().size(), 1u);
        const QString text = h.messages()[0].text;
        EXPECT_TRUE(text.startsWith(row.starts)) << text.toStdString();
        EXPECT_TRUE(text.endsWith(row.ends)) << text.toStdString();
        EXPECT_TRUE(text.contains("cut: ")) << "the cause: " << text.toStdString();
        // The rest of the reply comes as a block of its own: neither half writes a field.
        ASSERT_TRUE(waitUntil([&] { return !h.form().AwaitingReply() && h.receiveField().endsWith('#'); }, 3s));
        testsupport::pumpFor(400ms);
        EXPECT_EQ(parameterFields(h), before);
        EXPECT_EQ(h.messages().size(), 1u) << h.messageTexts().back().toStdString();
        EXPECT_EQ(setFramesSent(h, "QQQ#"), std::vector<std::string>{"QQQ#QX1#"}) << "no query after the first";
    }
}

// A converter that falls silent in the middle of Write All: it stops at the first set command without
// a reply and says which were sent and acknowledged, which went out unanswered and which not at all.
TEST_F(ConfigurationEndToEnd, WriteAllStopsAtTheFirstSetCommandWithoutAnAnswerAndGivesTheAccount) {
    const std::string fifo = folder.filePath("control").toStdString();
    SimProcess sim(VX538_SIM_PATH, {"--control", fifo});
    FormHarness h;
    h.openOnSimulator(sim);
    action(h, "ReadAllAction")->trigger();
    ASSERT_TRUE(runOver(h));
    action(h, "WriteAllAction")->trigger();
    ASSERT_TRUE(waitUntil([&] { return setFramesSent(h).size() >= 6; }, 10s));
    std::ofstream(fifo) << "silent on\n";
    ASSERT_TRUE(runOver(h, 10s));
    const std::size_t sent = setFramesSent(h).size();
    ASSERT_LT(sent, 26u) << "it stopped before the end";
    ASSERT_EQ(h.messages().size(), 2u);
    EXPECT_EQ(h.messages()[0].text, "Parameter Setting Timeout!");
    const QString account = h.messages()[1].text;
    EXPECT_TRUE(account.startsWith("Write All stopped: Parameter Setting Timeout! No reply came to the set command of "))
        << account.toStdString();
    EXPECT_TRUE(account.contains(QStringLiteral(" %1 of 26 set commands were sent and acknowledged, 1 was sent without "
                                                "an answer (the converter may have taken it), %2 not sent. The converter "
                                                "is partly configured: press Write All again to finish.")
                                     .arg(sent - 1)
                                     .arg(26 - sent)))
        << account.toStdString();
    const QStringList lists = h.messages()[1].detail.split('\n');
    ASSERT_EQ(lists.size(), 3) << h.messages()[1].detail.toStdString();
    EXPECT_TRUE(lists[0].startsWith("Sent and acknowledged: working mode, "));
    EXPECT_TRUE(lists[1].startsWith("Sent without an answer: "));
    EXPECT_TRUE(lists[2].startsWith("Not sent: ") && lists[2].endsWith("RS485 port"));
    testsupport::pumpFor(300ms);
    EXPECT_EQ(setFramesSent(h).size(), sent) << "nothing more was sent";
}

// A HART reply whose check byte is wrong changes no field of the identity or the variables, and the
// identity the next requests are addressed by stays the one last read; the box says why.
TEST_F(ConfigurationEndToEnd, AHartReplyWithAWrongCheckByteChangesNoField) {
    const std::string fifo = folder.filePath("control").toStdString();
    SimProcess sim(VX538_SIM_PATH, {"--control", fifo});
    FormHarness h;
    h.openOnSimulator(sim);
    h.click("Button7");
    ASSERT_TRUE(waitUntil([&] { return h.text("Edit28") == "38"; }, 3s)) << "the identity, read whole";
    h.click("Button16");
    ASSERT_TRUE(waitUntil([&] { return !h.text("Edit25").isEmpty() && !h.form().AwaitingReply(); }, 3s));
    const hart::HartIdentity identity = h.form().StoredHartIdentity();
    std::ofstream(fifo) << "corrupt on\n";
    testsupport::pumpFor(200ms);
    const char* fields[] = {"Edit28", "Edit29", "Edit31", "Edit32", "Edit25", "Edit26", "Edit27", "Edit30", "ComboBox3"};
    for (const char* button : {"Button16", "Button7"}) {
        SCOPED_TRACE(button);
        h.click(button);
        // What the request itself empties (the identity query its fields) is as the request left it.
        std::vector<std::string> before;
        for (const char* field : fields) {
            before.push_back(h.text(field).toStdString());
        }
        ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 3s));
        const QString text = h.takeMessages().front().text;
        EXPECT_TRUE(QRegularExpression("^The HART reply is damaged: its check byte is [0-9A-F]{2} where its bytes give "
                                       "[0-9A-F]{2}\\. No field was changed; send the request again\\.$")
                        .match(text)
                        .hasMatch())
            << text.toStdString();
        std::vector<std::string> after;
        for (const char* field : fields) {
            after.push_back(h.text(field).toStdString());
        }
        EXPECT_EQ(after, before);
        EXPECT_EQ(h.form().StoredHartIdentity().deviceId, identity.deviceId);
        EXPECT_EQ(h.form().StoredHartIdentity().manufacturer, identity.manufacturer);
    }
}

// The window and vx538 read and write the same files: what the window saved, vx538 restores onto a
// converter at the factory's values and then verifies; what vx538 backed up, the window loads.
TEST_F(ConfigurationEndToEnd, FilesGoBetweenTheWindowAndVx538) {
    SimProcess first(VX538_SIM_PATH);
    configure(first);
    const QString saved = folder.filePath("window.json");
    std::vector<std::string> read;
    {
        FormHarness h;
        h.openOnSimulator(first);
        readAndSave(h, saved);
        read = parameterFields(h);
    }
    SimProcess second(VX538_SIM_PATH);
    const std::string file = saved.toStdString();
    const auto restore = testsupport::RunProgram(VX538_PATH, {"-p", second.path(), "restore", "-i", file});
    EXPECT_EQ(restore.status, 0) << restore.out << restore.err;
    const auto verify = testsupport::RunProgram(VX538_PATH, {"-p", second.path(), "verify", "-i", file});
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
    for (const char* query : {"QQQ#QX1#", "QQQ#QX2#", "QQQ#QX3#", "QQQ#QX4#"}) {
        EXPECT_EQ(ask(second, query), ask(first, query)) << query;
    }

    const std::string backedUp = folder.filePath("vx538.json").toStdString();
    const auto backup = testsupport::RunProgram(VX538_PATH, {"-p", first.path(), "backup", "-o", backedUp});
    ASSERT_EQ(backup.status, 0) << backup.out << backup.err;
    FormHarness h;
    chooseFile(QString::fromStdString(backedUp));
    action(h, "LoadConfigurationAction")->trigger();
    EXPECT_TRUE(h.messages().empty()) << h.messageTexts().front().toStdString();
    EXPECT_EQ(parameterFields(h), read);
}

// The number the status line shows right after `before`.
std::optional<double> statusNumber(const QString& text, const QString& before) {
    const QRegularExpression number(QRegularExpression::escape(before) + QStringLiteral("(-?[0-9.]+)"));
    const auto match = number.match(text);
    return match.hasMatch() ? std::optional(match.captured(1).toDouble()) : std::nullopt;
}

TEST(StatusLine, NamesTheVerdictOfEachReply) {
    SimProcess sim(VX538_SIM_PATH);
    FormHarness h;
    app::StatusLine& status = h.form().Status();
    EXPECT_EQ(status.text(), "Port closed");
    h.openOnSimulator(sim);
    EXPECT_EQ(status.text(), QString::fromStdString(sim.path() + " open, 9600 None"));

    // The communication query is named by its frame, though it waits under the system parameters'
    // code; its reply is good, and names the converter.
    h.click("Button6");
    EXPECT_TRUE(status.text().contains("(201 Communication Query)")) << status.text().toStdString();
    ASSERT_TRUE(waitUntil([&] { return status.text().contains("reply decoded"); }, 3s)) << status.text().toStdString();
    EXPECT_TRUE(status.text().contains("communication query answered: converter 'VX538-T-B'"))
        << status.text().toStdString();
    EXPECT_FALSE(status.fault());

    // The converter refuses an interval of 0.
    h.setText("Edit6", "000");
    h.click("Button27");
    ASSERT_TRUE(waitUntil([&] { return status.text().contains("set refused"); }, 3s)) << status.text().toStdString();
    EXPECT_TRUE(status.fault());
    EXPECT_TRUE(status.text().contains("QQS#JTM:ERR#")) << status.text().toStdString();
    h.setText("Edit6", "025");
    h.click("Button27");
    ASSERT_TRUE(waitUntil([&] { return status.text().contains("set acknowledged"); }, 3s))
        << status.text().toStdString();
    EXPECT_FALSE(status.fault());

    // A good MODBUS read: the variables as floats, variable 1 the instrument's pressure.
    h.click("Button4");
    ASSERT_TRUE(waitUntil([&] { return status.text().contains("reply good"); }, 3s)) << status.text().toStdString();
    EXPECT_FALSE(status.fault());
    EXPECT_NEAR(statusNumber(status.text(), "word order: 1 = ").value_or(0), 101.3, 3.0) << status.text().toStdString();
    EXPECT_TRUE(status.text().contains(", 8 = 0; MODBUS reply")) << status.text().toStdString();
    EXPECT_TRUE(h.messages().empty());

    h.click("Button1");
    EXPECT_EQ(status.text(), QString::fromStdString(sim.path() + " closed"));
}

TEST(StatusLine, ShowsTheWrongCheckByteAndCrcOfACorruptingConverter) {
    SimProcess sim(VX538_SIM_PATH, {"--corrupt"});
    FormHarness h;
    app::StatusLine& status = h.form().Status();
    h.openOnSimulator(sim);
    h.click("Button7");
    ASSERT_TRUE(waitUntil([&] { return status.text().contains("HART check byte wrong"); }, 3s))
        << status.text().toStdString();
    EXPECT_TRUE(status.fault());
    testsupport::pumpFor(500ms); // the identity decoder runs; the fault stays on show
    EXPECT_TRUE(status.text().contains("HART check byte wrong")) << status.text().toStdString();

    h.click("Button4");
    ASSERT_TRUE(waitUntil([&] { return status.text().contains("MODBUS CRC wrong"); }, 3s))
        << status.text().toStdString();
    EXPECT_TRUE(status.fault());
}

TEST(StatusLine, CountsDownWhileAReplyIsAwaited) {
    SimProcess sim(VX538_SIM_PATH, {"--delay", "1500"});
    FormHarness h;
    app::StatusLine& status = h.form().Status();
    h.openOnSimulator(sim);
    h.click("Button23");
    const QString first = status.text();
    EXPECT_TRUE(first.contains("waiting for the reply to ")) << first.toStdString();
    EXPECT_TRUE(first.contains("(201 System Parameters), ")) << first.toStdString();
    EXPECT_FALSE(status.fault());
    const double left = statusNumber(first, "System Parameters), ").value_or(0);
    EXPECT_GT(left, 2.5);
    EXPECT_LE(left, 3.0);
    ASSERT_TRUE(waitUntil(
        [&] { return statusNumber(status.text(), "System Parameters), ").value_or(left) <= left - 0.5; }, 2s))
        << status.text().toStdString();
    ASSERT_TRUE(waitUntil([&] { return status.text().contains("reply decoded"); }, 4s))
        << status.text().toStdString();
    EXPECT_FALSE(status.fault());
    EXPECT_TRUE(h.messages().empty());
}

} // namespace
