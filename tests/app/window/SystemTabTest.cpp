// The "System Parameters" tab in the real window, with a pseudo-terminal playing the converter: its
// controls, what each button puts on the line, refusals, and the decoding of the QX1 and QX6 replies.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>

#include "app/window/Messages.h"
#include "tests/support/FormHarness.h"
#include "tests/support/ManualTimers.h"
#include "tests/support/PtyPeer.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;
using testsupport::FormHarness;
using testsupport::ManualTimers;
using testsupport::PtyPeer;
using testsupport::waitUntil;

namespace {

const QStringList kBaudItems = {"1200", "2400", "4800", "9600", "19200", "38400"};
const QStringList kParityItems = {"None", "Odd", "Even"};
const QStringList kWorkingModeItems = {"Transparent Mode", "Single Meter Operation Mode",
                                       "Test current output mode", ""};

// Everything the tab's decoders may write, as the user sees it, so one comparison states it all.
struct TabFields {
    QString edit14, edit18, edit6;
    int brat1, xiao1, brat2, xiao2, mode;
    QString brat1Text, xiao1Text, brat2Text, xiao2Text, modeText;

    bool operator==(const TabFields&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TabFields& f) {
    return out << "Edit14='" << f.edit14.toStdString() << "' Edit18='" << f.edit18.toStdString()
               << "' Edit6='" << f.edit6.toStdString() << "' BRAT1=" << f.brat1 << "'"
               << f.brat1Text.toStdString() << "' XIAO1=" << f.xiao1 << "'" << f.xiao1Text.toStdString()
               << "' BRAT2=" << f.brat2 << "'" << f.brat2Text.toStdString() << "' XIAO2=" << f.xiao2 << "'"
               << f.xiao2Text.toStdString() << "' ComboBox7=" << f.mode << "'" << f.modeText.toStdString()
               << "'";
}

TabFields tabFields(const FormHarness& h) {
    return {h.text("Edit14"),
            h.text("Edit18"),
            h.text("Edit6"),
            h.list("BRAT1")->currentIndex(),
            h.list("XIAO1")->currentIndex(),
            h.list("BRAT2")->currentIndex(),
            h.list("XIAO2")->currentIndex(),
            h.list("ComboBox7")->currentIndex(),
            h.text("BRAT1"),
            h.text("XIAO1"),
            h.text("BRAT2"),
            h.text("XIAO2"),
            h.text("ComboBox7")};
}

class SystemTab : public ::testing::Test {
protected:
    void SetUp() override {
        h.openPort(peer);
        form().Comm1->SetReadIntervalTimeout(30); // blocks end sooner; the 400 ms is not what is tested here
    }

    TForm1& form() { return h.form(); }
    QPlainTextEdit* memo() const { return h.find<QPlainTextEdit>("Memo10"); }

    // What the window wrote, once `count` bytes are in (more, if it wrote more).
    std::string line(std::size_t count) { return peer.readAtLeast(count, 2000ms); }

    // The converter answers; returns once the receive field shows the answer.
    void answer(const std::string& reply) {
        peer.write(reply);
        ASSERT_TRUE(waitUntil([&] { return h.receiveField() == QString::fromLatin1(reply); }));
    }

    // After a reply that starts the parse timer has been shown: returns once the decoder has run.
    void waitForDecoder() {
        ASSERT_TRUE(form().Timer2->Enabled()) << "the reply did not start the parse timer";
        ASSERT_TRUE(waitUntil([&] { return !form().Timer2->Enabled(); }, 2000ms));
    }

    // The window's own way of pressing the "Set" of the hidden RS485B group: its handler, guarded.
    void pressHiddenButton33() {
        EXPECT_FALSE(h.button("Button33")->isVisible());
        app::RunGuarded([this] { form().Button33Click(); });
    }

    void select(const char* list, int index) { h.list(list)->setCurrentIndex(index); }

    PtyPeer peer;
    FormHarness h;
};

// ---------------------------------------------------------------------------------------------------
// Controls

TEST(SystemTabControls, CaptionsDefaultsAndPlaces) {
    FormHarness h;
    struct Control {
        const char* name;
        const char* parent; // object name of the enclosing group or tab
        const char* text;   // a label's or button's caption, an edit's start text, a group's title
    };
    const Control controls[] = {
        {"Label2", "GroupBox15", "MODBUS Slave Address:"},
        {"Edit14", "GroupBox15", ""},
        {"Button29", "GroupBox15", "Set"},
        {"Label1", "GroupBox7", "Working Mode:"},
        {"Button24", "GroupBox7", "Set"},
        {"Label11", "GroupBox14", "Modbus Command Interval:"},
        {"Edit6", "GroupBox14", ""},
        {"Label12", "GroupBox14", " *10 ms"},
        {"Button27", "GroupBox14", "Set"},
        {"Label54", "GroupBox18", "Baud:"},
        {"Label56", "GroupBox18", "Parity:"},
        {"Button32", "GroupBox18", "Set"},
        {"Label36", "GroupBox4", "Baud:"},
        {"Label37", "GroupBox4", "Parity:"},
        {"Button33", "GroupBox4", "Set"},
        {"Button6", "GroupBox1", "Communication Query"},
        {"Button23", "TabSheet1", "System Parameters"},
        {"Button30", "TabSheet1", "Parameter Initialization"},
        {"GroupBox3", "GroupBox11", "For Test"},
        {"Edit3", "GroupBox3", "000000000"},
        {"AVO0", "GroupBox3", "100.0"},
        {"AVO1", "GroupBox3", "100.0"},
        {"AVO2", "GroupBox3", "100.0"},
        {"AVO3", "GroupBox3", "100.0"},
        {"AVO4", "GroupBox3", "100.0"},
        {"AVO5", "GroupBox3", "100.0"},
        {"AVO6", "GroupBox3", "100.0"},
        {"AVO7", "GroupBox3", "100.0"},
        {"Button52", "GroupBox3", "Query"},
        {"Edit18", "GroupBox19", "001"},
    };
    for (const Control& c : controls) {
        QWidget* widget = h.find<QWidget>(c.name);
        ASSERT_NE(widget, nullptr) << c.name;
        ASSERT_NE(widget->parentWidget(), nullptr) << c.name;
        EXPECT_EQ(widget->parentWidget()->objectName(), c.parent) << c.name;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_EQ(label->text(), c.text) << c.name;
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            EXPECT_EQ(button->text(), c.text) << c.name;
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            EXPECT_EQ(edit->text(), c.text) << c.name;
        } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            EXPECT_EQ(group->title(), c.text) << c.name;
        } else {
            ADD_FAILURE() << c.name << " is a " << widget->metaObject()->className();
        }
        // Nothing stands outside the group that holds it, where it would be clipped away.
        EXPECT_TRUE(widget->parentWidget()->rect().contains(widget->geometry())) << c.name;
    }

    // The factory record's group has neither a caption nor a place in the documented names; its five
    // controls share it.
    QWidget* factory = h.find<QWidget>("PCBSN")->parentWidget();
    auto* factoryGroup = qobject_cast<QGroupBox*>(factory);
    ASSERT_NE(factoryGroup, nullptr);
    EXPECT_EQ(factoryGroup->title(), "");
    EXPECT_EQ(factoryGroup->geometry(), QRect(16, 312, 377, 49));
    EXPECT_EQ(factory->parentWidget()->objectName(), "TabSheet1");
    const std::pair<const char*, const char*> factoryTexts[] = {
        {"Label9", "PCBSN:"}, {"Label10", "Inspector:"}, {"Button53", "Set"}};
    for (const auto& [name, text] : factoryTexts) {
        QWidget* widget = h.find<QWidget>(name);
        ASSERT_NE(widget, nullptr) << name;
        EXPECT_EQ(widget->parentWidget(), factory) << name;
        const QString shown = qobject_cast<QLabel*>(widget) ? qobject_cast<QLabel*>(widget)->text()
                                                            : qobject_cast<QPushButton*>(widget)->text();
        EXPECT_EQ(shown, text) << name;
    }
    EXPECT_EQ(h.find<QWidget>("JIANZHI")->parentWidget(), factory);
    EXPECT_EQ(h.text("PCBSN"), "00000000");

    struct List {
        const char* name;
        const char* parent;
        QStringList items;
        int selected;
    };
    QStringList inspectors;
    for (const char* item :
         {"001", "002", "003", "004", "005", "006", "007", "008", "009", "101", "102", "103", "104"}) {
        inspectors << item;
    }
    const List lists[] = {
        {"ComboBox7", "GroupBox7", kWorkingModeItems, 0}, {"BRAT1", "GroupBox18", kBaudItems, 3},
        {"XIAO1", "GroupBox18", kParityItems, 0},         {"BRAT2", "GroupBox4", kBaudItems, 3},
        {"XIAO2", "GroupBox4", kParityItems, 0},          {"JIANZHI", nullptr, inspectors, 0},
    };
    for (const List& l : lists) {
        QComboBox* box = h.list(l.name);
        ASSERT_NE(box, nullptr) << l.name;
        if (l.parent) {
            EXPECT_EQ(box->parentWidget()->objectName(), l.parent) << l.name;
        }
        QStringList items;
        for (int i = 0; i < box->count(); ++i) {
            items << box->itemText(i);
        }
        EXPECT_EQ(items, l.items) << l.name;
        EXPECT_EQ(box->currentIndex(), l.selected) << l.name;
        EXPECT_EQ(box->currentText(), l.items[l.selected]) << l.name;
        EXPECT_TRUE(box->isEditable()) << l.name << ": text may be typed";
        EXPECT_TRUE(box->parentWidget()->rect().contains(box->geometry())) << l.name;
    }

    // The RS485B group exists with its lists but is never shown; the rest of the tab is.
    EXPECT_FALSE(h.find<QWidget>("GroupBox4")->isVisible());
    EXPECT_FALSE(h.button("Button33")->isVisible());
    for (const char* shown :
         {"GroupBox15", "GroupBox18", "GroupBox7", "GroupBox14", "Button23", "Button30", "Button29",
          "Button24", "Button27", "Button32", "Button53", "Button52", "Edit14", "Edit6"}) {
        EXPECT_TRUE(h.find<QWidget>(shown)->isVisible()) << shown;
    }
    EXPECT_TRUE(h.messages().empty());
}

// ---------------------------------------------------------------------------------------------------
// Requests

constexpr int32_t kKindKept = -1;

struct Press {
    std::string what;                          // names the case in failures
    std::function<void(FormHarness&)> prepare; // sets the fields the frame reads
    const char* button;                        // nullptr: the hidden RS485B "Set"
    std::string frame;
    int32_t pending;
    int32_t kind; // kKindKept for the factory record
};

std::vector<Press> pressCases() {
    const auto nothing = [](FormHarness&) {};
    const auto texts = [](std::vector<std::pair<const char*, QString>> fields) {
        return [fields](FormHarness& h) {
            for (const auto& [name, text] : fields) {
                h.setText(name, text);
            }
        };
    };
    // The defaults first, before any case changes a field.
    std::vector<Press> cases = {
        {"factory record, defaults, as the very first request", nothing, "Button53",
         "TAVRIK#PCBSN:00000000,001#", 200, kKindKept},
        {"working mode, default", nothing, "Button24", "QQS#MD:0#", 200, 3},
        {"RS485, defaults", nothing, "Button32", "QQS#BA1:30#", 200, 3},
        {"RS485B, defaults", nothing, nullptr, "QQS#BA2:30#", 200, 3},
        {"communication query", nothing, "Button6", "QQQ#QV#", 201, 1},
        {"factory record keeps the kind of the request before", texts({{"PCBSN", "123"}, {"JIANZHI", "102"}}),
         "Button53", "TAVRIK#PCBSN:00000123,102#", 200, kKindKept},
        {"inspector typed as 7", texts({{"PCBSN", "99999999"}, {"JIANZHI", "7"}}), "Button53",
         "TAVRIK#PCBSN:99999999,007#", 200, kKindKept},
        {"system parameters", nothing, "Button23", "QQQ#QX1#", 201, 2},
        {"test values", nothing, "Button52", "QQQ#QX6#", 206, 2},
        {"parameter initialization", nothing, "Button30", "QQS#RESET#", 200, 3},
        {"slave address 5", texts({{"Edit14", "5"}}), "Button29", "QQS#ADR:005#", 200, 3},
        {"slave address 247", texts({{"Edit14", "247"}}), "Button29", "QQS#ADR:247#", 200, 3},
        {"slave address 0", texts({{"Edit14", "0"}}), "Button29", "QQS#ADR:000#", 200, 3},
        {"slave address 999", texts({{"Edit14", "999"}}), "Button29", "QQS#ADR:999#", 200, 3},
        {"command interval 12", texts({{"Edit6", "12"}}), "Button27", "QQS#JTM:012#", 200, 3},
        {"command interval 999", texts({{"Edit6", "999"}}), "Button27", "QQS#JTM:999#", 200, 3},
        {"RS485 38400 typed, Even picked",
         [](FormHarness& h) {
             h.setText("BRAT1", "38400");
             h.list("XIAO1")->setCurrentIndex(2);
         },
         "Button32", "QQS#BA1:52#", 200, 3},
        {"RS485B 1200 picked, Odd typed",
         [](FormHarness& h) {
             h.list("BRAT2")->setCurrentIndex(0);
             h.setText("XIAO2", "Odd");
         },
         nullptr, "QQS#BA2:01#", 200, 3},
    };
    // Every item of the working mode list, the fourth, empty one included.
    for (int mode = 0; mode < 4; ++mode) {
        cases.push_back({"working mode item " + std::to_string(mode),
                         [mode](FormHarness& h) { h.list("ComboBox7")->setCurrentIndex(mode); }, "Button24",
                         "QQS#MD:" + std::to_string(mode) + "#", 200, 3});
    }
    // Every baud and parity pair of both ports, with the other port's lists set apart so a button that
    // read the wrong pair would show.
    for (int port = 1; port <= 2; ++port) {
        for (int baud = 0; baud < 6; ++baud) {
            for (int parity = 0; parity < 3; ++parity) {
                cases.push_back({"port " + std::to_string(port) + " baud " + std::to_string(baud) +
                                     " parity " + std::to_string(parity),
                                 [port, baud, parity](FormHarness& h) {
                                     const bool b = port == 2;
                                     h.list(b ? "BRAT2" : "BRAT1")->setCurrentIndex(baud);
                                     h.list(b ? "XIAO2" : "XIAO1")->setCurrentIndex(parity);
                                     h.list(b ? "BRAT1" : "BRAT2")->setCurrentIndex(5 - baud);
                                     h.list(b ? "XIAO1" : "XIAO2")->setCurrentIndex(2 - parity);
                                 },
                                 port == 1 ? "Button32" : nullptr,
                                 "QQS#BA" + std::to_string(port) + ":" + std::to_string(baud) +
                                     std::to_string(parity) + "#",
                                 200, 3});
            }
        }
    }
    return cases;
}

TEST_F(SystemTab, EachButtonPutsExactlyItsFrameOnTheLineAndInTheSendField) {
    for (const Press& p : pressCases()) {
        SCOPED_TRACE(p.what);
        form().Timer3->SetEnabled(false); // no reply comes; no timeout may fire during the table
        h.setText("Edit8", "previous request");
        memo()->setPlainText("previous reply");
        const int32_t kindBefore = form().TimeoutKind();
        const int intervalBefore = form().Timer3->Interval();
        p.prepare(h);

        if (p.button) {
            h.click(p.button);
        } else {
            pressHiddenButton33();
        }

        // Bytes beyond the frame would show here or at the start of the next case's line.
        EXPECT_EQ(line(p.frame.size()), p.frame);
        EXPECT_EQ(h.sendField().toStdString(), p.frame);
        EXPECT_EQ(h.receiveField(), "");
        EXPECT_EQ(form().PendingCommand(), p.pending);
        if (p.kind == kKindKept) {
            EXPECT_EQ(form().TimeoutKind(), kindBefore);
            EXPECT_FALSE(form().Timer3->Enabled()) << "the factory record starts no reply timer";
            EXPECT_EQ(form().Timer3->Interval(), intervalBefore);
        } else {
            EXPECT_EQ(form().TimeoutKind(), p.kind);
            EXPECT_TRUE(form().Timer3->Enabled());
            EXPECT_EQ(form().Timer3->Interval(), 3000);
        }
        ASSERT_TRUE(h.messages().empty()) << h.messages().front().text.toStdString();
    }
    form().Timer3->SetEnabled(false);
    EXPECT_EQ(peer.readUntilQuiet(50ms, 500ms), "");

    // The factory record sent while a query waits leaves that query's reply timer running.
    h.click("Button23");
    ASSERT_EQ(line(8), "QQQ#QX1#");
    h.click("Button53");
    EXPECT_EQ(line(26), "TAVRIK#PCBSN:99999999,007#");
    EXPECT_TRUE(form().Timer3->Enabled());
    EXPECT_EQ(form().TimeoutKind(), 2);
    EXPECT_EQ(form().PendingCommand(), 200);
    form().Timer3->SetEnabled(false);
}

TEST_F(SystemTab, TypingTheSlaveAddressCopiesItToTheModbusTestAtOnce) {
    QLineEdit* address = h.edit("Edit14");
    QTest::keyClicks(address, "1");
    EXPECT_EQ(h.text("Edit18"), "1");
    QTest::keyClicks(address, "2");
    EXPECT_EQ(h.text("Edit18"), "12");
    QTest::keyClick(address, Qt::Key_Backspace);
    QTest::keyClick(address, Qt::Key_Backspace);
    EXPECT_EQ(h.text("Edit18"), "");
    // The whole text is copied, whatever it holds.
    h.setText("Edit14", "not a number");
    EXPECT_EQ(h.text("Edit18"), "not a number");

    EXPECT_EQ(peer.readUntilQuiet(50ms, 500ms), "");
    EXPECT_EQ(h.sendField(), "");
    EXPECT_EQ(form().PendingCommand(), 0);
    EXPECT_TRUE(h.messages().empty());
}

struct Refusal {
    const char* field;
    QString text;
    const char* button; // nullptr: the hidden RS485B "Set"
    QString message;
    bool emptiesFields; // a failed conversion in a handler that empties Edit8 and Memo10 first
};

TEST_F(SystemTab, BadInputSendsNothingAndShowsWhy) {
    const QString noInteger = "'%1' is not a valid integer value";
    const Refusal refusals[] = {
        {"Edit14", "", "Button29", noInteger.arg(""), true},
        {"Edit14", "12a", "Button29", noInteger.arg("12a"), true},
        {"Edit6", "", "Button27", noInteger.arg(""), true},
        {"Edit6", "1 0", "Button27", noInteger.arg("1 0"), true},
        {"PCBSN", "", "Button53", noInteger.arg(""), false},
        {"PCBSN", "12345678x", "Button53", noInteger.arg("12345678x"), false},
        {"JIANZHI", "abc", "Button53", noInteger.arg("abc"), false},
        // Values the frame cannot carry.
        {"Edit14", "1000", "Button29", "MODBUS Slave Address must be between 0 and 999", false},
        {"Edit14", "-1", "Button29", "MODBUS Slave Address must be between 0 and 999", false},
        {"Edit6", "1000", "Button27", "Modbus Command Interval must be between 0 and 999", false},
        {"Edit6", "-5", "Button27", "Modbus Command Interval must be between 0 and 999", false},
        {"PCBSN", "100000000", "Button53", "PCBSN must be between 0 and 99999999", false},
        {"PCBSN", "-1", "Button53", "PCBSN must be between 0 and 99999999", false},
        {"JIANZHI", "1000", "Button53", "Inspector must be between 0 and 999", false},
        // Lists whose typed text matches no item.
        {"ComboBox7", "Fast Mode", "Button24", "No item is selected in Working Mode", false},
        {"BRAT1", "57600", "Button32", "No item is selected in RS485 Baud", false},
        {"XIAO1", "even", "Button32", "No item is selected in RS485 Parity", false},
        {"BRAT2", "115200", nullptr, "No item is selected in RS485B Baud", false},
        {"XIAO2", "Mark", nullptr, "No item is selected in RS485B Parity", false},
    };

    // An earlier query still waits for its reply: none of this may disturb it.
    h.click("Button23");
    ASSERT_EQ(line(8), "QQQ#QX1#");
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(std::string(r.field) + " = '" + r.text.toStdString() + "'");
        h.setText("Edit8", "QQQ#QX1#");
        memo()->setPlainText("an earlier reply");
        const QString original = h.text(r.field);
        h.setText(r.field, r.text);

        if (r.button) {
            h.click(r.button);
        } else {
            pressHiddenButton33();
        }

        const auto shown = h.takeMessages();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, r.message);
        EXPECT_EQ(shown[0].kind, app::MessageKind::Error);
        EXPECT_EQ(h.sendField(), r.emptiesFields ? "" : "QQQ#QX1#");
        EXPECT_EQ(h.receiveField(), r.emptiesFields ? "" : "an earlier reply");
        EXPECT_EQ(form().PendingCommand(), 201);
        EXPECT_EQ(form().TimeoutKind(), 2);
        EXPECT_TRUE(form().Timer3->Enabled());
        EXPECT_EQ(peer.readUntilQuiet(20ms, 500ms), "");
        h.setText(r.field, original);
    }
    form().Timer3->SetEnabled(false);
}

// ---------------------------------------------------------------------------------------------------
// Replies

TEST_F(SystemTab, SystemParameterReplyFillsTheFieldsThreeHundredMillisecondsAfterItIsShown) {
    // The reply and parse timers run when the test says: no reply races the clock.
    ManualTimers timers;
    // Start from values the reply changes, so every field shows whether it was written.
    select("BRAT1", 0);
    select("XIAO1", 2);
    select("BRAT2", 0);
    select("XIAO2", 0);
    select("ComboBox7", 2);
    h.click("Button23");
    ASSERT_EQ(line(8), "QQQ#QX1#");
    const TabFields before = tabFields(h);

    // Tags out of order, odd separators, the marker in the middle.
    answer("JTM:012;MD:1|QX1 BA2:41,ADR:005 ## BA1:30#");
    EXPECT_EQ(tabFields(h), before) << "decoded before the parse delay";
    EXPECT_TRUE(form().Timer2->Enabled());
    EXPECT_EQ(form().Timer2->Interval(), 300);
    ASSERT_TRUE(timers.fire("Timer2"));
    EXPECT_EQ(h.text("Edit14"), "005");

    const TabFields expected{
        "005", "005", "012", 3, 0, 4, 1, 1, "9600", "None", "19200", "Odd", "Single Meter Operation Mode"};
    EXPECT_EQ(tabFields(h), expected);
    EXPECT_EQ(form().PendingCommand(), 201);
    EXPECT_FALSE(form().Timer3->Enabled());
    EXPECT_FALSE(form().Timer2->Enabled());
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(SystemTab, TestValueQueryFillsTheTotalizerAndTheOutputValues) {
    h.click("Button52");
    ASSERT_EQ(line(8), "QQQ#QX6#");
    EXPECT_EQ(form().PendingCommand(), 206);
    EXPECT_EQ(form().TimeoutKind(), 2);

    // VA7 before VA0, the marker last; taken as text, as they stand.
    answer("VA7:  7.5,LJ:000012345,VA3:004.5,VA0:020.0,QX6#");
    waitForDecoder();
    const std::pair<const char*, const char*> fields[] = {
        {"Edit3", "000012345"}, {"AVO0", "020.0"}, {"AVO1", "100.0"}, {"AVO2", "100.0"}, {"AVO3", "004.5"},
        {"AVO4", "100.0"},      {"AVO5", "100.0"}, {"AVO6", "100.0"}, {"AVO7", "  7.5"},
    };
    for (const auto& [name, value] : fields) {
        EXPECT_EQ(h.text(name), value) << name;
    }
    EXPECT_EQ(form().PendingCommand(), 206);
    EXPECT_TRUE(h.messages().empty());
    // The test-value reply is not a system parameter block.
    EXPECT_EQ(h.text("Edit14"), "");
}

TEST_F(SystemTab, CommunicationQueryReplyWithoutTheMarkerChangesNothing) {
    h.click("Button6");
    ASSERT_EQ(line(7), "QQQ#QV#");
    const TabFields before = tabFields(h);
    answer("VX538 V1.0 ADR:123 BA1:00 MD:2 JTM:050");
    waitForDecoder();
    EXPECT_EQ(tabFields(h), before);
    EXPECT_EQ(h.receiveField(), "VX538 V1.0 ADR:123 BA1:00 MD:2 JTM:050");
    EXPECT_EQ(form().PendingCommand(), 201);
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(SystemTab, ListCharacterThatIsNoDigitStopsTheDecoderAfterTheFieldsBeforeIt) {
    select("BRAT1", 0);
    select("XIAO1", 2);
    h.setText("Edit6", "777");
    h.click("Button23");
    ASSERT_EQ(line(8), "QQQ#QX1#");
    TabFields expected = tabFields(h);

    answer("QX1 ADR:007 BA1:3x BA2:41 MD:2 JTM:020");
    waitForDecoder();
    const auto shown = h.takeMessages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "'x' is not a valid integer value");
    EXPECT_EQ(shown[0].kind, app::MessageKind::Error);
    // ADR and the baud digit took their values; the parity and everything after kept theirs.
    expected.edit14 = expected.edit18 = "007";
    expected.brat1 = 3;
    expected.brat1Text = "9600";
    EXPECT_EQ(tabFields(h), expected);
    EXPECT_EQ(form().PendingCommand(), 201);
}

// The user typed over lists whose item a reply then selects again: the typed text gives way to the
// item's text, so each "Set" afterwards sends the item's digit instead of refusing the list.
TEST_F(SystemTab, ListsTypedOverGiveWayToTheItemsAReplySelects) {
    struct TypedOver {
        const char* list;
        int index; // the list's item before the typing, and the one the reply selects
        std::string itemText;
    };
    const TypedOver lists[] = {
        {"BRAT1", 3, "9600"},
        {"XIAO1", 1, "Odd"},
        {"BRAT2", 4, "19200"},
        {"XIAO2", 2, "Even"},
        {"ComboBox7", 2, "Test current output mode"},
    };
    for (const TypedOver& t : lists) {
        select(t.list, t.index);
        h.setText(t.list, "96 typed");
        ASSERT_EQ(h.list(t.list)->currentIndex(), t.index) << t.list << ": typing keeps the item index";
    }
    h.click("Button32");
    ASSERT_EQ(h.takeMessages().size(), 1u) << "a list typed over refuses its Set";
    h.click("Button23");
    ASSERT_EQ(line(8), "QQQ#QX1#");
    answer("QX1 BA1:31 BA2:42 MD:2");
    waitForDecoder();
    ASSERT_TRUE(h.messages().empty());
    for (const TypedOver& t : lists) {
        EXPECT_EQ(h.text(t.list).toStdString(), t.itemText) << t.list;
    }

    h.click("Button32");
    EXPECT_EQ(line(11), "QQS#BA1:31#");
    pressHiddenButton33();
    EXPECT_EQ(line(11), "QQS#BA2:42#");
    h.click("Button24");
    EXPECT_EQ(line(9), "QQS#MD:2#");
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(SystemTab, DigitsBeyondAListLeaveItWithNoSelectionAndItsSetIsRefused) {
    h.click("Button23");
    ASSERT_EQ(line(8), "QQQ#QX1#");
    answer("QX1,BA1:93,BA2:63,MD:4,JTM:100");
    waitForDecoder();
    EXPECT_TRUE(h.messages().empty());
    const TabFields expected{"", "001", "100", -1, -1, -1, -1, -1, "", "", "", "", ""};
    EXPECT_EQ(tabFields(h), expected);

    // A list left with no selection cannot be sent.
    h.setText("Edit8", "QQQ#QX1#");
    h.click("Button32");
    pressHiddenButton33();
    h.click("Button24");
    EXPECT_EQ(h.messageTexts(),
              (std::vector<QString>{"No item is selected in RS485 Baud", "No item is selected in RS485B Baud",
                                    "No item is selected in Working Mode"}));
    EXPECT_EQ(h.sendField(), "QQQ#QX1#");
    EXPECT_EQ(peer.readUntilQuiet(50ms, 500ms), "");
}

TEST_F(SystemTab, SetCommandRepliesAreShownAndEndTheExchange) {
    h.setText("Edit14", "247");
    h.click("Button29");
    ASSERT_EQ(line(12), "QQS#ADR:247#");
    EXPECT_EQ(form().PendingCommand(), 200);
    EXPECT_TRUE(form().Timer3->Enabled());
    answer("ADR OK#");
    EXPECT_EQ(form().PendingCommand(), 0);
    EXPECT_FALSE(form().Timer3->Enabled());
    EXPECT_FALSE(form().Timer2->Enabled()) << "a set command's reply is not decoded";

    // The factory record's reply ends its exchange the same way, though no timer waited for it.
    h.setText("PCBSN", "20240411");
    h.click("Button53");
    ASSERT_EQ(line(26), "TAVRIK#PCBSN:20240411,001#");
    EXPECT_EQ(form().PendingCommand(), 200);
    answer("PCBSN OK#");
    EXPECT_EQ(form().PendingCommand(), 0);
    EXPECT_FALSE(form().Timer2->Enabled());
    EXPECT_EQ(h.text("Edit14"), "247");
    EXPECT_TRUE(h.messages().empty());
}

// The one real reply timeout of this file: 3 s.
TEST_F(SystemTab, CommunicationQueryWithoutReplyShowsConnectionTimeout) {
    QElapsedTimer clock;
    clock.start();
    h.click("Button6");
    ASSERT_EQ(line(7), "QQQ#QV#");
    ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 5000ms));
    EXPECT_GE(clock.elapsed(), 2950);
    EXPECT_LT(clock.elapsed(), 3500);
    ASSERT_EQ(h.messageTexts(), std::vector<QString>{"Connection Timeout!"});
    EXPECT_EQ(h.messages()[0].kind, app::MessageKind::Plain);
    EXPECT_FALSE(form().Timer3->Enabled());
    EXPECT_EQ(form().PendingCommand(), 201);
}

} // namespace
