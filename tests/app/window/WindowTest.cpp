// The window's frame, start state and "Serial Parameters" group, on the offscreen platform with a
// pseudo-terminal as the port.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>

#include "hart/UnitTable.h"
#include "tests/support/FormHarness.h"
#include "tests/support/LineReadback.h"
#include "tests/support/PtyPeer.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;
using testsupport::FormHarness;
using testsupport::PtyPeer;

namespace {

TEST(Window, StartState) {
    FormHarness h;
    TForm1& form = h.form();
    EXPECT_EQ(form.windowTitle(), "VX538-T-B-4");
    EXPECT_EQ(form.pos(), QPoint(146, 121));
    auto* tabs = h.find<QTabWidget>("PageControl1");
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(tabs->tabText(0), "System Parameters");
    EXPECT_EQ(tabs->tabText(1), "Transparent Mode");
    EXPECT_EQ(tabs->tabText(2), "Modbus Parameter Configuration");
    EXPECT_EQ(tabs->widget(0)->objectName(), "TabSheet1");
    EXPECT_EQ(tabs->widget(1)->objectName(), "TabSheet2");
    EXPECT_EQ(tabs->widget(2)->objectName(), "TabSheet3");

    EXPECT_EQ(h.text("SPREALCOM"), "COM3");
    EXPECT_EQ(h.list("SPREALCOM")->count(), 9);
    EXPECT_EQ(h.text("ComboBox11"), "9600");
    EXPECT_EQ(h.list("ComboBox11")->currentIndex(), -1);
    EXPECT_EQ(h.text("ComboBox10"), "None");
    EXPECT_EQ(h.button("Button1")->text(), "Open");
    EXPECT_TRUE(h.button("Button6")->isEnabled());
    EXPECT_EQ(h.sendField(), "");
    EXPECT_EQ(h.receiveField(), "");
    EXPECT_FALSE(form.Timer2->Enabled());
    EXPECT_FALSE(form.Timer3->Enabled());
    EXPECT_EQ(form.Timer2->Interval(), 300);
    EXPECT_EQ(form.Timer3->Interval(), 1000);
    EXPECT_EQ(form.PendingCommand(), 0);
    EXPECT_FALSE(form.Comm1->IsOpen());
    EXPECT_EQ(form.Comm1->CommName(), "COM2");
    EXPECT_EQ(form.Comm1->BaudRate(), 9600u);
    EXPECT_EQ(form.Comm1->ReadIntervalTimeout(), 400u);
    EXPECT_EQ(form.Comm1->RtsControl(), serial::TRtsControl::RtsEnable);
    EXPECT_EQ(form.Comm1->DtrControl(), serial::TDtrControl::DtrEnable);
    EXPECT_TRUE(h.messages().empty());
}

TEST(Window, FrameControlsStandWhereTheLayoutPutsThem) {
    FormHarness h;
    struct Placed {
        const char* name;
        QRect geometry;
        const char* caption; // title of a group, text of a label or button; nullptr when none
    };
    const Placed placed[] = {
        {"Image1", {8, 8, 97, 41}, nullptr},
        {"Label41", {275, 8, 438, 33}, "VX538-T-B-8 Configuration Software"},
        {"PageControl1", {8, 64, 969, 497}, nullptr},
        {"Edit8", {112, 568, 809, 21}, nullptr},
        {"Memo10", {112, 600, 809, 57}, nullptr},
        {"Button26", {24, 632, 73, 25}, "Clear Buffer"},
        {"GroupBox1", {16, 8, 705, 49}, "Serial Parameters"},
        {"Button30", {784, 16, 137, 33}, "Parameter Initialization"},
        {"GroupBox15", {16, 64, 377, 49}, ""},
        {"GroupBox18", {16, 120, 377, 49}, "RS485 Serial Port Parameters"},
        {"GroupBox7", {16, 184, 377, 49}, ""},
        {"GroupBox14", {16, 248, 377, 49}, ""},
        {"Button23", {128, 384, 153, 33}, "System Parameters"},
        {"GroupBox4", {0, 448, 377, 49}, "RS485B Serial Port Parameters"},
        {"GroupBox11", {400, 64, 553, 377}, "Analog Output Configuration"},
        {"GroupBox5", {8, 0, 881, 313}, ""},
        {"GroupBox20", {8, 320, 881, 65}, ""},
        {"GroupBox13", {8, 8, 945, 113}, "Custom HART Commands && Parsing Methods"},
        {"GroupBox16", {8, 130, 705, 263}, "HART Data Parsing Format"},
        {"GroupBox12", {752, 168, 201, 129}, "IEE754 Calculation"},
        {"GroupBox19", {0, 404, 705, 45}, "modbus Communication Test"},
        {"SPREALCOM", {64, 16, 73, 21}, nullptr},
        {"ComboBox11", {192, 16, 65, 21}, nullptr},
        {"ComboBox10", {312, 16, 73, 21}, nullptr},
        {"Button1", {424, 16, 65, 25}, "Open"},
        {"Button6", {536, 16, 121, 25}, "Communication Query"},
    };
    for (const Placed& p : placed) {
        QWidget* widget = h.find<QWidget>(p.name);
        ASSERT_NE(widget, nullptr) << p.name;
        EXPECT_EQ(widget->geometry(), p.geometry) << p.name;
        if (!p.caption) {
            continue;
        }
        if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            EXPECT_EQ(group->title(), p.caption) << p.name;
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_EQ(label->text(), p.caption) << p.name;
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            EXPECT_EQ(button->text(), p.caption) << p.name;
        }
    }
    // The second RS485 group exists with its lists but is never shown.
    EXPECT_FALSE(h.find<QGroupBox>("GroupBox4")->isVisible());
    EXPECT_EQ(h.find<QWidget>("GroupBox1")->parentWidget()->objectName(), "TabSheet1");
    EXPECT_EQ(h.find<QWidget>("GroupBox5")->parentWidget()->objectName(), "TabSheet2");
    EXPECT_EQ(h.find<QWidget>("GroupBox19")->parentWidget()->objectName(), "TabSheet3");
    EXPECT_EQ(h.find<QWidget>("GroupBox3")->parentWidget()->objectName(), "GroupBox11");
    EXPECT_EQ(h.find<QWidget>("Edit18")->parentWidget()->objectName(), "GroupBox19");
    auto* memo = h.find<QPlainTextEdit>("Memo10");
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(h.find<QLabel>("Label41")->font().pointSize(), 18);
    EXPECT_TRUE(h.find<QLabel>("Label41")->font().bold());
    const QPixmap logo = h.find<QLabel>("Image1")->pixmap();
    EXPECT_EQ(logo.size(), QSize(97, 41));
}

TEST(Window, UnitListsHoldTheWholeUnitTable) {
    FormHarness h;
    const auto entries = hart::UnitEntries();
    for (const char* name : {"ComboBox3", "ComboBox31", "ComboBox32", "ComboBox33"}) {
        QComboBox* units = h.list(name);
        ASSERT_EQ(units->count(), static_cast<int>(entries.size())) << name;
        for (int i = 0; i < units->count(); ++i) {
            EXPECT_EQ(units->itemText(i).toStdString(), entries[static_cast<std::size_t>(i)])
                << name << " " << i;
        }
        EXPECT_EQ(units->currentIndex(), 0) << name;
    }
}

TEST(Window, OpenThenCloseFlipsTheCaptionAndTheCommunicationQuery) {
    PtyPeer peer;
    FormHarness h;
    h.openPort(peer);
    EXPECT_TRUE(h.form().Comm1->IsOpen());
    EXPECT_EQ(h.form().Comm1->CommName(), peer.slavePath());
    EXPECT_TRUE(h.button("Button6")->isEnabled());
    // The window switches software flow control off before opening.
    EXPECT_FALSE(h.form().Comm1->Outx_XonXoffFlow());
    EXPECT_FALSE(h.form().Comm1->Inx_XonXoffFlow());
    const testsupport::LineReadback line = testsupport::readLine(peer.masterFd());
    EXPECT_EQ(line.outputSpeed, 9600u);
    EXPECT_EQ(line.dataBits, 8);
    EXPECT_FALSE(line.parityEnabled);
    EXPECT_FALSE(line.xonXoffOutput);
    EXPECT_FALSE(line.xonXoffInput);

    h.click("Button1");
    EXPECT_EQ(h.button("Button1")->text(), "Open");
    EXPECT_FALSE(h.button("Button6")->isEnabled());
    EXPECT_FALSE(h.form().Comm1->IsOpen());

    h.click("Button1");
    EXPECT_EQ(h.button("Button1")->text(), "Close");
    EXPECT_TRUE(h.button("Button6")->isEnabled());
    EXPECT_TRUE(h.messages().empty());
}

TEST(Window, AnUnknownPortNameIsReportedAndLeavesTheButtonOpen) {
    FormHarness h;
    h.setText("SPREALCOM", "/dev/vx538-no-such-port");
    h.click("Button1");
    ASSERT_EQ(h.messageTexts(), std::vector<QString>{"Error opening serial port"});
    EXPECT_EQ(h.messages()[0].kind, app::MessageKind::Error);
    EXPECT_EQ(h.button("Button1")->text(), "Open");
    EXPECT_FALSE(h.form().Comm1->IsOpen());
    // The user corrects the name and opens again.
    PtyPeer peer;
    h.takeMessages();
    h.openPort(peer);
    EXPECT_TRUE(h.messages().empty());
}

TEST(Window, BadBaudOrParityTextKeepsThePortClosed) {
    PtyPeer peer;
    FormHarness h;
    h.setText("SPREALCOM", QString::fromStdString(peer.slavePath()));
    struct Case {
        QString baud;
        QString parity;
        QString message;
    };
    const Case cases[] = {
        {"96OO", "None", "'96OO' is not a valid integer value"},
        {"", "None", "'' is not a valid integer value"},
        {"0", "None", "Baud must be a positive number of bits per second; the port stays closed."},
        {"-9600", "None", "Baud must be a positive number of bits per second; the port stays closed."},
        {"9600", "Space", "Parity must be one of None, Odd or Even; the port stays closed."},
        {"9600", "none", "Parity must be one of None, Odd or Even; the port stays closed."},
    };
    for (const Case& c : cases) {
        h.setText("ComboBox11", c.baud);
        h.setText("ComboBox10", c.parity);
        h.click("Button1");
        ASSERT_EQ(h.messageTexts(), std::vector<QString>{c.message}) << c.baud.toStdString();
        h.takeMessages();
        EXPECT_FALSE(h.form().Comm1->IsOpen());
        EXPECT_EQ(h.button("Button1")->text(), "Open");
    }
}

TEST(Window, TypedBaudAndChosenParityReachTheLine) {
    PtyPeer peer;
    FormHarness h;
    h.setText("ComboBox11", "57600");
    h.list("ComboBox10")->setCurrentIndex(2); // "Even"
    h.openPort(peer);
    // A pseudo-terminal keeps the speed it is given but always reports 8 data bits and no parity, so
    // the parity is seen on the component.
    testsupport::LineReadback line = testsupport::readLine(peer.masterFd());
    EXPECT_EQ(line.outputSpeed, 57600u);
    EXPECT_EQ(h.form().Comm1->Parity(), serial::TParity::Even);

    // Close, pick odd parity by typing its exact text, open again.
    h.click("Button1");
    h.setText("ComboBox10", "Odd");
    h.setText("ComboBox11", "1200");
    h.click("Button1");
    line = testsupport::readLine(peer.masterFd());
    EXPECT_EQ(line.outputSpeed, 1200u);
    EXPECT_EQ(h.form().Comm1->Parity(), serial::TParity::Odd);
}

TEST(Window, ClosingTheWindowClosesThePort) {
    PtyPeer peer;
    FormHarness h;
    h.openPort(peer);
    h.form().close();
    EXPECT_FALSE(h.form().Comm1->IsOpen());
}

TEST(Window, SwitchingTabsSendsNothing) {
    PtyPeer peer;
    FormHarness h;
    h.openPort(peer);
    auto* tabs = h.find<QTabWidget>("PageControl1");
    for (int i : {1, 2, 0, 2}) {
        tabs->setCurrentIndex(i);
    }
    EXPECT_EQ(peer.readUntilQuiet(100ms, 500ms), "");
    EXPECT_EQ(h.sendField(), "");
    EXPECT_EQ(h.form().PendingCommand(), 0);
}

} // namespace

namespace {

// A real modal box (no recorder) runs its own event loop: a reply that arrives while it is open is
// still shown and decoded, and the parse timer still fires.
TEST(Window, RepliesAndTimersAreHandledWhileAMessageBoxIsOpen) {
    PtyPeer peer;
    FormHarness h;
    h.openPort(peer);
    h.form().Comm1->SetReadIntervalTimeout(30);
    h.click("Button23"); // "System Parameters": pending 201
    ASSERT_EQ(peer.readAtLeast(8, 2000ms), "QQQ#QX1#");

    app::SetMessageRecorder({}); // the next message opens a real modal box
    bool decodedWhileOpen = false;
    bool sawBox = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box) {
            return;
        }
        if (!sawBox) {
            sawBox = true;
            peer.write("QX1,ADR:007");
        }
        if (h.text("Edit14") == "007") {
            decodedWhileOpen = true;
            box->close();
        }
    });
    watcher.start(10);
    QTimer::singleShot(5000, [] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            box->close(); // never leave the test hanging
        }
    });
    h.click("Button29"); // empty slave address: the conversion error's box is open until closed
    watcher.stop();
    EXPECT_TRUE(sawBox);
    EXPECT_TRUE(decodedWhileOpen);
    EXPECT_EQ(h.text("Edit18"), "007");
}

} // namespace
