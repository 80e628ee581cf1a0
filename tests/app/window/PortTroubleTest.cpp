// The port as a user meets it, in the real window with pseudo-terminals: a line that goes away while
// open, a request with the port closed, why an open failed, a decimal-comma locale, the window's
// minimum size, and the devices offered in the "Serial Port:" list.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QFile>
#include <QLocale>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include "app/window/Locale.h"
#include "app/window/PortComboBox.h"
#include "tests/support/FormHarness.h"
#include "tests/support/PtyPeer.h"
#include "tests/support/Wait.h"
#include "tools/Conversions.h"

using namespace std::chrono_literals;
using testsupport::FormHarness;
using testsupport::PtyPeer;
using testsupport::waitUntil;

namespace {

const QString kNotSent = QStringLiteral("Serial port is not open; nothing was sent.");

QString qstr(const std::string& text) {
    return QString::fromStdString(text);
}

// ---------------------------------------------------------------------------------------------------
// A line that goes away while the port is open

TEST(LostPort, PeerClosingGivesOneMessageTheClosedStateAndTheDeviceOpensAgain) {
    auto peer = std::make_unique<PtyPeer>();
    FormHarness h;
    h.openPort(*peer);
    const std::string path = peer->slavePath();
    h.click("Button23"); // "System Parameters": a reply is awaited
    ASSERT_EQ(peer->readAtLeast(8, 2000ms), "QQQ#QX1#");
    ASSERT_TRUE(h.form().Timer3->Enabled());

    peer->closeMaster();
    ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 3000ms));
    // Had anything kept running, the reply timeout or a second hang-up would show within this span.
    testsupport::pumpFor(300ms);
    ASSERT_EQ(h.messages().size(), 1u);
    const testsupport::RecordedMessage lost = h.messages()[0];
    EXPECT_EQ(lost.kind, app::MessageKind::Plain);
    EXPECT_TRUE(lost.text.contains(qstr(path))) << lost.text.toStdString();
    EXPECT_TRUE(lost.text.contains("lost")) << lost.text.toStdString();
    EXPECT_FALSE(h.form().Comm1->IsOpen());
    EXPECT_EQ(h.button("Button1")->text(), "Open");
    EXPECT_FALSE(h.button("Button6")->isEnabled());
    EXPECT_FALSE(h.form().Timer3->Enabled());
    EXPECT_FALSE(h.form().Timer2->Enabled());
    EXPECT_EQ(h.form().PendingCommand(), 0);
    h.takeMessages();

    // The next request says at once that nothing went out.
    h.click("Button23");
    EXPECT_EQ(h.messageTexts(), std::vector<QString>{kNotSent});
    h.takeMessages();

    // The device is back (a new pseudo-terminal stands in for the re-plugged adapter): Open works.
    peer = std::make_unique<PtyPeer>();
    h.openPort(*peer);
    h.click("Button23");
    EXPECT_EQ(peer->readAtLeast(8, 2000ms), "QQQ#QX1#");
    EXPECT_TRUE(h.messages().empty());
    // Closing by hand is no loss: no message.
    h.click("Button1");
    testsupport::pumpFor(100ms);
    EXPECT_TRUE(h.messages().empty());
}

// The message names the port as it was opened: a COM name with its device, a path alone. A hang-up
// already on its way when the user closed the port is old news and shows nothing.
TEST(LostPort, TheMessageNamesThePortAndOnlyAnOpenPortIsLost) {
    const struct {
        const char* name;
        const char* openedAs; // the name in "Serial Port:"; the pseudo-terminal's path when null
        bool closedFirst;
        const char* device; // as the message names it; the path when null; no message when closed first
    } cases[] = {
        {"a path", nullptr, false, nullptr},
        {"a COM name", "COM3", false, "COM3 (/dev/ttyS2)"},
        {"a bare name", "ttyUSB0", false, "ttyUSB0 (/dev/ttyUSB0)"},
        {"closed by the user first", nullptr, true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PtyPeer peer;
        FormHarness h;
        h.openPort(peer);
        if (c.openedAs) {
            // The device behind these names cannot be had here; the name is what the message shows.
            h.form().Comm1->SetCommName(c.openedAs);
        }
        if (c.closedFirst) {
            h.click("Button1");
            h.form().Comm1RequestHangup(h.form().Comm1);
            testsupport::pumpFor(100ms);
            EXPECT_TRUE(h.messages().empty());
            EXPECT_EQ(h.button("Button1")->text(), "Open");
            continue;
        }
        peer.closeMaster();
        ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 3000ms));
        const QString device = c.device ? QString(c.device) : qstr(peer.slavePath());
        EXPECT_TRUE(h.messages()[0].text.startsWith("The serial port " + device + " was lost:"))
            << h.messages()[0].text.toStdString();
    }
}

// ---------------------------------------------------------------------------------------------------
// A request with the port closed

struct ClosedPortRequest {
    const char* button;
    const char* kind;
    QString frame;
};

const ClosedPortRequest kClosedPortRequests[] = {
    {"Button23", "standard query", "QQQ#QX1#"},
    {"Button24", "set command", "QQS#MD:0#"},
    {"Button7", "HART keeping the timer's interval", "FF FF FF FF FF FF FF 02 80 00 00 82 "},
    {"Button14", "HART address setting", "FF FF FF FF FF FF FF 82 80 00 00 00 00 06 01 00 05 "},
    {"Button20", "manual HART frame", "FF FF FF FF FF FF FF 76 76 "},
    {"Button22", "output test", "QQQ#AV0O:100.0#"},
    {"Button53", "factory record", "TAVRIK#PCBSN:00000000,001#"},
};

TEST(ClosedPort, EveryKindOfRequestShowsItsFrameSaysSoAtOnceAndWaitsForNothing) {
    FormHarness h;
    h.setText("Edit10", "76"); // the manual HART frame
    h.find<QPlainTextEdit>("Memo10")->setPlainText("an earlier reply");
    // The identity fields keep what they show: nothing was asked, so nothing is emptied.
    h.setText("Edit28", "kept");
    for (const ClosedPortRequest& c : kClosedPortRequests) {
        SCOPED_TRACE(c.kind);
        h.click(c.button);
        EXPECT_EQ(h.sendField().toStdString(), c.frame.toStdString());
        EXPECT_EQ(h.receiveField(), "");
        ASSERT_EQ(h.messageTexts(), std::vector<QString>{kNotSent});
        EXPECT_EQ(h.messages()[0].kind, app::MessageKind::Plain);
        h.takeMessages();
        EXPECT_EQ(h.form().PendingCommand(), 0);
        EXPECT_EQ(h.form().TimeoutKind(), 0);
        EXPECT_FALSE(h.form().Timer3->Enabled());
        EXPECT_EQ(h.form().Timer3->Interval(), 1000);
    }
    EXPECT_EQ(h.text("Edit28"), "kept");
    // Past the first reply timeout a HART request would have had: no message follows.
    testsupport::pumpFor(1100ms);
    EXPECT_TRUE(h.messages().empty());
}

// What the earlier request left waiting stays as it was: nothing new was sent to wait for.
TEST(ClosedPort, ARequestLeavesThePendingCommandAndTimeoutKindOfTheEarlierOne) {
    PtyPeer peer;
    FormHarness h;
    h.openPort(peer);
    h.form().Comm1->SetReadIntervalTimeout(30);
    h.setText("Edit10", "76");
    h.click("Button23"); // "System Parameters": 201, kind 2, answered
    ASSERT_EQ(peer.readAtLeast(8, 2000ms), "QQQ#QX1#");
    peer.write("QX1,ADR:005#");
    ASSERT_TRUE(waitUntil([&] { return h.text("Edit14") == "005"; }, 3000ms));
    h.click("Button1"); // "Close"
    for (const ClosedPortRequest& c : kClosedPortRequests) {
        SCOPED_TRACE(c.kind);
        h.click(c.button);
        ASSERT_EQ(h.messageTexts(), std::vector<QString>{kNotSent});
        h.takeMessages();
        EXPECT_EQ(h.form().PendingCommand(), 201);
        EXPECT_EQ(h.form().TimeoutKind(), 2);
        EXPECT_FALSE(h.form().Timer3->Enabled());
    }
}

// ---------------------------------------------------------------------------------------------------
// Why an open failed

void expectOpenFailure(FormHarness& h, const std::string& name, const QString& message,
                       const QString& detailStart, const char* detailAlsoHas = nullptr) {
    h.setText("SPREALCOM", qstr(name));
    h.click("Button1");
    ASSERT_EQ(h.messageTexts(), std::vector<QString>{message});
    const testsupport::RecordedMessage shown = h.takeMessages()[0];
    EXPECT_EQ(shown.kind, app::MessageKind::Error);
    EXPECT_TRUE(shown.detail.startsWith(detailStart)) << shown.detail.toStdString();
    if (detailAlsoHas) {
        EXPECT_TRUE(shown.detail.contains(detailAlsoHas)) << shown.detail.toStdString();
    }
    EXPECT_EQ(h.button("Button1")->text(), "Open");
    EXPECT_FALSE(h.form().Comm1->IsOpen());
}

TEST(OpenFailure, TheBoxNamesTheDeviceAndTheReason) {
    PtyPeer peer;
    serial::TComm otherInstance; // another program holding the port
    otherInstance.SetCommName(peer.slavePath());
    otherInstance.OpenPort();
    FormHarness h;
    struct Case {
        std::string name;
        QString message;
        QString detailStart;
    };
    const Case cases[] = {
        {"/dev/vx538-no-such-port", "Error opening serial port", "/dev/vx538-no-such-port: not found"},
        {peer.slavePath(), "Error opening serial port", qstr(peer.slavePath() + ": busy")},
        {"/dev/null", "File handle is not a comm handle ", "/dev/null: not a terminal"},
        {"/tmp", "Error opening serial port", "/tmp: this path is a folder"},
        // A device or file named as a folder (ENOTDIR where the device exists) is not found either.
        {"/dev/ttyUSB0/", "Error opening serial port",
         "/dev/ttyUSB0/: not found: no such device. Check the port name"},
        {"/dev/null/x", "Error opening serial port",
         "/dev/null/x: not found: no such device. Check the port name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectOpenFailure(h, c.name, c.message, c.detailStart);
    }
    // Once the other program lets go, the same port opens.
    otherInstance.ClosePort();
    h.openPort(peer);
    EXPECT_TRUE(h.messages().empty());
}

TEST(OpenFailure, ADeviceWithoutPermissionSaysWhichGroupIsMissing) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "running as root, which opens a file of mode 000 anyway; the permission reason "
                        "cannot be provoked (the reason table is checked in serial.OpenFailureReason)";
    }
    char path[] = "/tmp/vx538_no_permission_XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_EQ(::chmod(path, 0), 0);
    FormHarness h;
    expectOpenFailure(h, path, "Error opening serial port", qstr(std::string(path) + ": permission denied"),
                      "dialout");
    ::unlink(path);
}

// ---------------------------------------------------------------------------------------------------
// A decimal-comma locale

TEST(DecimalComma, UntouchedRowIsSentAndDecodedValuesShowAndReadTheComma) {
    PtyPeer peer;
    FormHarness h; // sets the point; the German locale then gives the comma, as at start-up
    app::ApplyLocaleSettings(QLocale(QLocale::German, QLocale::Germany));
    struct RestorePoint {
        ~RestorePoint() { tools::SetDecimalSeparator('.'); }
    } restore;
    ASSERT_EQ(tools::DecimalSeparator(), ',');
    h.openPort(peer);
    h.form().Comm1->SetReadIntervalTimeout(30);

    // The start texts are written with a point ("100", "0.00"): they are read in this locale too.
    h.click("Button2");
    EXPECT_EQ(peer.readAtLeast(28, 2000ms), "QQS#DA1:1,42C80000,00000000#");
    EXPECT_TRUE(h.messages().empty());

    // Decoded values are shown with the comma, and read back as they are shown.
    h.click("Button34");
    ASSERT_EQ(peer.readAtLeast(8, 2000ms), "QQQ#QX2#");
    peer.write("QQQ#QX2,DL:0,DA1:1,41A40000,3F000000,DA2:0,00000000,00000000,DA3:0,00000000,00000000,"
               "DA4:0,00000000,00000000,DA5:0,00000000,00000000,DA6:0,00000000,00000000,"
               "DA7:0,00000000,00000000,DA8:0,00000000,00000000#");
    ASSERT_TRUE(waitUntil([&] { return h.text("DOUT1H") == "20,5"; }, 3000ms));
    EXPECT_EQ(h.text("DOUT1L"), "0,5");
    h.click("Button2");
    EXPECT_EQ(peer.readAtLeast(28, 2000ms), "QQS#DA1:1,41A40000,3F000000#");
    EXPECT_TRUE(h.messages().empty());
    // One number with both separators is no number.
    h.setText("DOUT1H", "1.000,5");
    h.click("Button2");
    EXPECT_EQ(h.messageTexts(), std::vector<QString>{"'1.000,5' is not a valid floating point value"});
}

// The locale's separator is taken when it is one printable ASCII character, which the converter's
// number texts can hold; any other falls back to the point, for display and for reading.
TEST(DecimalComma, TheLocalesSeparatorWhenItIsPrintableAsciiOtherwiseThePoint) {
    struct RestorePoint {
        ~RestorePoint() { tools::SetDecimalSeparator('.'); }
    } restore;
    const struct {
        QLocale locale;
        QString localeSeparator;
        char separator;
    } cases[] = {
        {QLocale(QLocale::German, QLocale::Germany), ",", ','},
        {QLocale(QLocale::English, QLocale::UnitedStates), ".", '.'},
        {QLocale(QLocale::Arabic, QLocale::Egypt), QString(QChar(0x066B)), '.'}, // ARABIC DECIMAL SEPARATOR
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        ASSERT_EQ(c.locale.decimalPoint(), c.localeSeparator) << "the row tests what Qt's locale data gives";
        tools::SetDecimalSeparator(c.separator == '.' ? ',' : '.'); // not already the expected one
        app::ApplyLocaleSettings(c.locale);
        EXPECT_EQ(tools::DecimalSeparator(), c.separator);
        const std::string shown = std::string("20") + c.separator + "5";
        EXPECT_EQ(tools::GeneralFloatText(20.5), shown);
        EXPECT_EQ(tools::StrToFloat(shown), 20.5);
        EXPECT_EQ(tools::StrToFloat("20.5"), 20.5);
    }
}

// ---------------------------------------------------------------------------------------------------
// The window's size

TEST(WindowSize, NeverSmallerThanDesignedAndLargerKeepsTheLayout) {
    FormHarness h;
    TForm1& form = h.form();
    // 1021 x 712 outside: the designed frame of 8 px at the sides and the bottom and a 31 px title.
    EXPECT_EQ(form.minimumSize(), QSize(1005, 673));
    const QRect sendField = h.find<QWidget>("Edit8")->geometry();
    const QRect receiveField = h.find<QWidget>("Memo10")->geometry();

    form.resize(600, 400);
    EXPECT_EQ(form.size(), QSize(1005, 673));
    EXPECT_TRUE(form.rect().contains(receiveField));

    form.resize(1400, 1000);
    EXPECT_EQ(form.size(), QSize(1400, 1000));
    EXPECT_EQ(h.find<QWidget>("Edit8")->geometry(), sendField);
    EXPECT_EQ(h.find<QWidget>("Memo10")->geometry(), receiveField);
}

// ---------------------------------------------------------------------------------------------------
// The devices offered in the "Serial Port:" list

TEST(PortList, OpeningTheListOffersThePresentDevicesAndKeepsTheChoice) {
    PtyPeer peer;
    const QTemporaryDir fakeRoot;
    ASSERT_TRUE(fakeRoot.isValid());
    const std::filesystem::path root = QFile::encodeName(fakeRoot.path()).toStdString();
    const std::filesystem::path byId = root / "dev/serial/by-id";
    std::filesystem::create_directories(byId);
    const std::filesystem::path adapter = byId / "usb-VX538_Test_Adapter_0001-if00-port0";
    std::filesystem::create_symlink(peer.slavePath(), adapter);

    FormHarness h;
    auto* list = h.find<app::PortComboBox>("SPREALCOM");
    ASSERT_NE(list, nullptr);
    list->setScanRoot(root);
    EXPECT_EQ(list->toolTip(), "COM3");

    list->showPopup();
    ASSERT_EQ(list->count(), 10);
    EXPECT_EQ(list->itemText(8), "COM9");
    EXPECT_EQ(list->itemText(9), qstr(adapter.string()));
    EXPECT_EQ(h.text("SPREALCOM"), "COM3"); // opening the list changes no choice
    // The drop-down is wide enough to read the whole name.
    const int nameWidth = list->view()->fontMetrics().horizontalAdvance(list->itemText(9));
    EXPECT_GE(list->view()->width(), nameWidth);
    list->hidePopup();

    // Picking it puts the whole path into the field and its tooltip, and it opens the peer.
    list->setCurrentIndex(9);
    EXPECT_EQ(list->toolTip(), qstr(adapter.string()));
    h.click("Button1");
    ASSERT_EQ(h.button("Button1")->text(), "Close");
    h.click("Button1");

    // The adapter is unplugged: the next opening of the list no longer offers it; the field keeps
    // its text, for the user to see what was chosen.
    std::filesystem::remove(adapter);
    list->showPopup();
    list->hidePopup();
    EXPECT_EQ(list->count(), 9);
    EXPECT_EQ(h.text("SPREALCOM"), qstr(adapter.string()));
    EXPECT_TRUE(h.messages().empty());
}

// Names under /dev/serial/by-id come from the adapter's own strings and may hold any bytes: picked
// from the list or typed, the port opened is the very file the scan found.
TEST(PortList, ANameWithNonAsciiBytesOpensTheDeviceItNames) {
    PtyPeer peer;
    const QTemporaryDir fakeRoot;
    ASSERT_TRUE(fakeRoot.isValid());
    const std::filesystem::path root = QFile::encodeName(fakeRoot.path()).toStdString();
    const std::filesystem::path byId = root / "dev/serial/by-id";
    std::filesystem::create_directories(byId);
    // "é" as UTF-8, and two bytes that are no UTF-8 at all.
    const std::filesystem::path accented = byId / "usb-Caf\xc3\xa9_Adapter-if00-port0";
    const std::filesystem::path raw = byId / "usb-\xff\xfe_Adapter-if00-port0";
    std::filesystem::create_symlink(peer.slavePath(), accented);
    std::filesystem::create_symlink(peer.slavePath(), raw);

    FormHarness h;
    auto* list = h.find<app::PortComboBox>("SPREALCOM");
    ASSERT_NE(list, nullptr);
    list->setScanRoot(root);
    list->showPopup();
    list->hidePopup();
    ASSERT_EQ(list->count(), 11);
    for (const std::filesystem::path& device : {accented, raw}) {
        SCOPED_TRACE(device.string());
        const int index = list->findText(QFile::decodeName(QByteArray::fromStdString(device.string())));
        ASSERT_GE(index, 9);
        list->setCurrentIndex(index);
        EXPECT_EQ(list->portName().toStdString(), device.string());
        h.click("Button1");
        ASSERT_EQ(h.button("Button1")->text(), "Close") << h.messageTexts().front().toStdString();
        EXPECT_EQ(h.form().Comm1->CommName(), device.string());
        h.click("Button1");
    }

    // Typed, a name is encoded as file names are.
    h.form().SetPortName(QString::fromUtf8(accented.string().c_str()));
    EXPECT_EQ(list->portName().toStdString(), accented.string());
    h.click("Button1");
    ASSERT_EQ(h.button("Button1")->text(), "Close") << h.messageTexts().front().toStdString();
    h.click("Button1");
    EXPECT_TRUE(h.messages().empty());
}

} // namespace
