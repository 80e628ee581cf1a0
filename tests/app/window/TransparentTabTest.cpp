// GUI tests of the "Transparent Mode" tab: its controls, the HART frames its buttons put on the line of
// a pseudo-terminal, and the identity and variables replies decoded into its fields.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabWidget>

#include "hart/UnitTable.h"
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

// Bytes written as hex pairs separated by blanks, "FF 06 1A".
std::string fromHex(std::string_view pairs) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 3) {
        bytes.push_back(static_cast<char>(std::stoi(std::string(pairs.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

// The instrument's answer to command 0: manufacturer 0x26, device type 6, 5 preambles, id 00 12 34.
constexpr std::string_view kIdentityReply =
    "FF FF FF FF FF 06 80 00 0E 00 00 FE 26 06 05 05 01 03 08 00 00 12 34 7A";
// The answer to command 3: 25 and 10 in degrees Celsius, 100 kPa, 50 %.
constexpr std::string_view kVariablesReply = "FF FF FF FF FF 86 A6 06 00 12 34 03 1A 00 00 40 80 00 00 "
                                             "20 41 C8 00 00 20 41 20 00 00 0C 42 C8 00 00 39 42 48 00 00 84";

const QString kCelsius = QString(QChar(0x2103)) + QStringLiteral("  ");
const QString kFahrenheit = QString(QChar(0x2109)) + QStringLiteral(" ");

const char* const kIdentityFields[] = {"Edit28", "Edit29", "Edit31", "Edit32"};
const char* const kValueFields[] = {"Edit25", "Edit26", "Edit27", "Edit30"};
const char* const kUnitLists[] = {"ComboBox3", "ComboBox31", "ComboBox32", "ComboBox33"};

QPlainTextEdit* memo(const FormHarness& h) {
    return h.find<QPlainTextEdit>("Memo10");
}

// The label right above a field, in the same parent.
QLabel* labelAbove(QWidget* field) {
    const QRect f = field->geometry();
    for (QLabel* label : field->parentWidget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        const QRect l = label->geometry();
        const bool overlapsColumn = l.left() <= f.right() && l.right() >= f.left();
        if (overlapsColumn && l.bottom() < f.top() && f.top() - l.bottom() <= 12) {
            return label;
        }
    }
    return nullptr;
}

// The caption of a field: the nearest label of the same parent left of it on its row, else the
// label right above it.
QLabel* captionOf(QWidget* field) {
    QLabel* beside = nullptr;
    const QRect f = field->geometry();
    for (QLabel* label : field->parentWidget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        const QRect l = label->geometry();
        const bool sameRow = std::abs(l.center().y() - f.center().y()) <= f.height() / 2;
        if (sameRow && l.right() < f.left() && (!beside || l.right() > beside->geometry().right())) {
            beside = label;
        }
    }
    return beside ? beside : labelAbove(field);
}

QString groupTitleOf(const QWidget* widget) {
    const auto* group = qobject_cast<const QGroupBox*>(widget->parentWidget());
    return group ? group->title() : QStringLiteral("<not in a group>");
}

QStringList itemsOf(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) {
        items << list->itemText(i);
    }
    return items;
}

QStringList numbers(int count) {
    QStringList items;
    for (int i = 0; i < count; ++i) {
        items << QString::number(i);
    }
    return items;
}

TEST(TransparentTabControls, CaptionsItemsAndStartState) {
    FormHarness h;
    auto* tabs = h.find<QTabWidget>("PageControl1");
    ASSERT_NE(tabs, nullptr);
    QWidget* tab = h.find<QWidget>("TabSheet2");
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(tabs->tabText(tabs->indexOf(tab)), "Transparent Mode");

    struct Captioned {
        const char* name;
        const char* caption; // the label beside (or, for the address setting, above) the field
        const char* group;   // title of the group holding it; "" for the untitled outer groups
    };
    const Captioned fields[] = {
        {"Edit9", "Preamble Length:", ""},
        {"ComboBox30", "HART Address:", ""},
        {"ComboBox42", "HART Command Mode:", ""},
        {"Edit28", "Manufacturing ID:", "HART Device Basic Parameters"},
        {"Edit29", "Sensor Type:", "HART Device Basic Parameters"},
        {"Edit31", "Preamble Byte Count:", "HART Device Basic Parameters"},
        {"Edit32", "Sensor Serial Number:", "HART Device Basic Parameters"},
        {"Edit25", "Current_Varible_1:", "Universal HART Real-Time Data"},
        {"Edit26", "Current_Varible_2:", "Universal HART Real-Time Data"},
        {"Edit27", "Current_Varible_3:", "Universal HART Real-Time Data"},
        {"Edit30", "Current_Varible_4:", "Universal HART Real-Time Data"},
        {"ComboBox3", "Unit:", "Universal HART Real-Time Data"},
        {"ComboBox31", "Unit:", "Universal HART Real-Time Data"},
        {"ComboBox32", "Unit:", "Universal HART Real-Time Data"},
        {"ComboBox33", "Unit:", "Universal HART Real-Time Data"},
        {"ComboBox27", "HART Address:", "HART Address Setting"},
        {"Edit10", "Manual HART Command:", ""},
    };
    for (const Captioned& c : fields) {
        QWidget* field = h.find<QWidget>(c.name);
        ASSERT_NE(field, nullptr) << c.name;
        EXPECT_TRUE(tab->isAncestorOf(field)) << c.name;
        EXPECT_EQ(groupTitleOf(field), c.group) << c.name;
        QLabel* caption = captionOf(field);
        ASSERT_NE(caption, nullptr) << c.name << " has no label beside or above it";
        EXPECT_EQ(caption->text(), c.caption) << c.name;
        // Screen readers and UI tests find the field by a name of its own.
        EXPECT_FALSE(field->accessibleName().isEmpty()) << c.name;
    }
    QLabel* hint = labelAbove(h.edit("Edit10"));
    ASSERT_NE(hint, nullptr);
    EXPECT_EQ(hint->text(), "HEX  (76 89 FD AD)");

    struct Button {
        const char* name;
        const char* caption;
        const char* group;
    };
    const Button buttons[] = {
        {"Button7", "HART Device Parameter Query", "HART Device Basic Parameters"},
        {"Button16", "HART Command Query", "Universal HART Real-Time Data"},
        {"Button14", "Set", "HART Address Setting"},
        {"Button20", "Send", ""},
    };
    for (const Button& b : buttons) {
        QPushButton* button = h.button(b.name);
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(tab->isAncestorOf(button)) << b.name;
        EXPECT_EQ(button->text(), b.caption) << b.name;
        EXPECT_EQ(groupTitleOf(button), b.group) << b.name;
        EXPECT_TRUE(button->isEnabled()) << b.name;
    }
    // The manual command group is the one below the others, beside the hex field.
    EXPECT_EQ(h.edit("Edit10")->parentWidget(), h.button("Button20")->parentWidget());
    EXPECT_EQ(h.edit("Edit10")->parentWidget()->objectName(), "GroupBox20");
    EXPECT_EQ(h.edit("Edit9")->parentWidget()->objectName(), "GroupBox5");

    // Shown as the user sees it, nothing of the tab is cut off by its parent, and every caption fits
    // its label.
    tabs->setCurrentWidget(tab);
    QCoreApplication::processEvents();
    for (QWidget* widget : tab->findChildren<QWidget*>()) {
        if (widget->isWindow() || !widget->isVisibleTo(tab) || widget->objectName().startsWith("qt_")) {
            continue;
        }
        QWidget* parent = widget->parentWidget();
        if (qobject_cast<QComboBox*>(parent)) {
            continue; // the list's own line edit
        }
        EXPECT_TRUE(parent->rect().contains(widget->geometry()))
            << widget->objectName().toStdString() << " sticks out of " << parent->objectName().toStdString()
            << " (" << parent->width() << " x " << parent->height() << ")";
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
        }
    }

    EXPECT_EQ(h.text("Edit9"), "6");
    EXPECT_EQ(itemsOf(h.list("ComboBox30")), numbers(10));
    EXPECT_EQ(h.list("ComboBox30")->currentIndex(), 0);
    EXPECT_EQ(h.text("ComboBox30"), "0");
    EXPECT_EQ(itemsOf(h.list("ComboBox42")), (QStringList{"Master Mode", "Secondary Master Mode"}));
    EXPECT_EQ(h.list("ComboBox42")->currentIndex(), 0);
    EXPECT_EQ(h.text("ComboBox42"), "Master Mode");
    EXPECT_EQ(itemsOf(h.list("ComboBox27")), numbers(9));
    EXPECT_EQ(h.list("ComboBox27")->currentIndex(), 0);
    EXPECT_EQ(h.text("ComboBox27"), "0");
    EXPECT_EQ(h.text("Edit10"), "");
    for (const char* name : kIdentityFields) {
        EXPECT_EQ(h.text(name), "") << name;
    }
    for (const char* name : kValueFields) {
        EXPECT_EQ(h.text(name), "") << name;
    }

    // The four unit lists hold the unit table's entries, decoded as UTF-8, the first one selected.
    QStringList entries;
    for (std::string_view entry : hart::UnitEntries()) {
        entries << QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size()));
    }
    for (const char* name : kUnitLists) {
        QComboBox* units = h.list(name);
        ASSERT_NE(units, nullptr);
        EXPECT_EQ(units->count(), 77) << name;
        EXPECT_EQ(itemsOf(units), entries) << name;
        EXPECT_EQ(units->currentIndex(), 0) << name;
        EXPECT_EQ(units->currentText(), "inH20 ") << name;
        EXPECT_EQ(units->itemText(12), kCelsius) << name;
        EXPECT_EQ(units->itemText(13), kFahrenheit) << name;
        EXPECT_EQ(units->itemText(76), "other") << name;
    }

    const hart::HartIdentity& identity = h.form().StoredHartIdentity();
    EXPECT_EQ(identity.manufacturer, 0);
    EXPECT_EQ(identity.deviceType, 0);
    EXPECT_EQ(identity.deviceId, (std::array<uint8_t, 3>{0, 0, 0}));
    EXPECT_EQ(identity.reportedPreambles, 0);
    EXPECT_EQ(identity.pollingAddress, 0);
    EXPECT_TRUE(h.messages().empty());
}

// The port open on a pseudo-terminal that plays the converter and the instrument behind it.
class TransparentTab : public ::testing::Test {
protected:
    void SetUp() override {
        h.openPort(peer);
        form().Comm1->SetReadIntervalTimeout(30); // blocks end sooner; the 400 ms is not what is tested here
    }
    TForm1& form() { return h.form(); }

    // The send field shows `pairs` with a trailing blank, and exactly those bytes reach the line.
    void expectSent(std::string_view pairs) {
        EXPECT_EQ(h.sendField(), QString::fromLatin1(pairs) + " ");
        const std::string expected = fromHex(pairs);
        EXPECT_EQ(peer.readAtLeast(expected.size(), 2000ms), expected);
    }

    // Plays a reply and waits until the receive field shows it in hex.
    void reply(std::string_view pairs) {
        peer.write(fromHex(pairs));
        ASSERT_TRUE(waitUntil([&] { return h.receiveField() == QString::fromLatin1(pairs) + " "; }, 3000ms))
            << h.receiveField().toStdString();
    }

    // Proves that no earlier request reached the line: a one-byte manual frame is sent, and it must be
    // the first thing the line carries.
    void expectNothingSentBefore() {
        h.setText("Edit9", "0");
        h.setText("Edit10", "76");
        h.click("Button20");
        expectSent("FF 76 76");
    }

    void fillIdentityFields(const QString& text) {
        for (const char* name : kIdentityFields) {
            h.setText(name, text);
        }
    }

    PtyPeer peer;
    FormHarness h;
};

TEST_F(TransparentTab, IdentityQueryThenVariablesQueryAddressedByTheDecodedIdentity) {
    // The reply and parse timers run when the test says: no reply races the clock.
    ManualTimers timers;
    fillIdentityFields("old");
    h.setText("Edit8", "old request");
    memo(h)->setPlainText("old reply");
    h.list("ComboBox30")->setCurrentIndex(3);

    h.click("Button7");
    expectSent("FF FF FF FF FF FF FF 02 83 00 00 81");
    EXPECT_EQ(h.receiveField(), "");
    for (const char* name : kIdentityFields) {
        EXPECT_EQ(h.text(name), "") << name;
    }
    EXPECT_EQ(form().StoredHartIdentity().pollingAddress, 3);
    EXPECT_EQ(form().StoredHartIdentity().manufacturer, 0); // only a decoded reply changes it
    EXPECT_EQ(form().PendingCommand(), 100);
    EXPECT_EQ(form().TimeoutKind(), 4);
    EXPECT_TRUE(form().Timer3->Enabled());
    EXPECT_EQ(form().Timer3->Interval(), 1000);

    reply(kIdentityReply);
    EXPECT_EQ(h.text("Edit28"), ""); // decoded only when the parse timer fires, 300 ms on
    EXPECT_TRUE(form().Timer2->Enabled());
    EXPECT_EQ(form().Timer2->Interval(), 300);
    EXPECT_FALSE(form().Timer3->Enabled());
    ASSERT_TRUE(timers.fire("Timer2"));
    EXPECT_EQ(h.text("Edit28"), "38");
    EXPECT_EQ(h.text("Edit29"), "6");
    EXPECT_EQ(h.text("Edit31"), "5");
    EXPECT_EQ(h.text("Edit32"), "4660");
    EXPECT_EQ(h.list("ComboBox27")->currentIndex(), 3); // the address the query went to
    EXPECT_EQ(h.text("ComboBox27"), "3");
    EXPECT_EQ(form().PendingCommand(), 0);
    EXPECT_FALSE(form().Timer2->Enabled());
    const hart::HartIdentity& identity = form().StoredHartIdentity();
    EXPECT_EQ(identity.manufacturer, 0x26);
    EXPECT_EQ(identity.deviceType, 0x06);
    EXPECT_EQ(identity.deviceId, (std::array<uint8_t, 3>{0x00, 0x12, 0x34}));
    EXPECT_EQ(identity.reportedPreambles, 5);
    EXPECT_EQ(identity.pollingAddress, 3);

    h.click("Button16");
    expectSent("FF FF FF FF FF FF FF 82 A6 06 00 12 34 03 00 07");
    EXPECT_EQ(h.receiveField(), "");
    EXPECT_EQ(h.text("Edit28"), "38"); // the variables query leaves the identity fields alone
    EXPECT_EQ(form().PendingCommand(), 103);
    EXPECT_EQ(form().TimeoutKind(), 4);
    EXPECT_TRUE(form().Timer3->Enabled());
    EXPECT_EQ(form().Timer3->Interval(), 1000);

    reply(kVariablesReply);
    EXPECT_EQ(h.text("Edit25"), "");
    ASSERT_TRUE(timers.fire("Timer2"));
    EXPECT_EQ(h.text("Edit25"), "25");
    struct Shown {
        const char* value;
        const char* unitList;
        const char* valueText;
        int unitIndex;
        QString unitText;
    };
    const Shown shown[] = {
        {"Edit25", "ComboBox3", "25", 12, kCelsius},
        {"Edit26", "ComboBox31", "10", 12, kCelsius},
        {"Edit27", "ComboBox32", "100", 9, "KPa   "},
        {"Edit30", "ComboBox33", "50", 75, "%"},
    };
    for (const Shown& s : shown) {
        EXPECT_EQ(h.text(s.value), s.valueText) << s.value;
        EXPECT_EQ(h.list(s.unitList)->currentIndex(), s.unitIndex) << s.unitList;
        EXPECT_EQ(h.text(s.unitList), s.unitText) << s.unitList;
    }
    EXPECT_EQ(form().PendingCommand(), 0);
    EXPECT_FALSE(form().Timer2->Enabled());
    EXPECT_FALSE(form().Timer3->Enabled());

    // The decoder ran once: a second block is only shown, as text up to its first zero byte.
    std::string second = fromHex(kVariablesReply);
    second[20] = '\x42'; // variable 1 would read 100 if it were decoded again
    peer.write(second);
    ASSERT_TRUE(waitUntil([&] { return form().ReceivedText() == second; }, 3000ms));
    EXPECT_EQ(h.receiveField(), QString::fromLatin1("\xFF\xFF\xFF\xFF\xFF\x86\xA6\x06"));
    EXPECT_FALSE(form().Timer2->Enabled());
    EXPECT_FALSE(timers.running("Timer2"));
    EXPECT_EQ(h.text("Edit25"), "25");
    EXPECT_EQ(form().PendingCommand(), 0);
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(TransparentTab, IdentityBlockWithoutAUsableReplyEmptiesTheFieldsAndKeepsTheIdentity) {
    h.list("ComboBox30")->setCurrentIndex(3);
    h.click("Button7");
    expectSent("FF FF FF FF FF FF FF 02 83 00 00 81");
    reply(kIdentityReply);
    ASSERT_TRUE(waitUntil([&] { return h.text("Edit28") == "38"; }, 2000ms));

    const std::string_view unusable[] = {
        // The reply cut before the identification bytes; the receive buffer still holds the earlier
        // block's bytes where they would be.
        "FF FF FF FF FF 06 80 00 0E 00 00 FE 26 06 05 05 01 03 08",
        // No 0xFF 0x06 at all.
        "FF FF FF FF FF 02 80 00 0E 00 00 FE 26 06 05 05 01 03 08 00 00 12 34 7A",
    };
    for (std::string_view block : unusable) {
        h.list("ComboBox30")->setCurrentIndex(5);
        h.click("Button7");
        expectSent("FF FF FF FF FF FF FF 02 85 00 00 87");
        fillIdentityFields("typed meanwhile");
        reply(block);
        ASSERT_TRUE(waitUntil([&] { return form().PendingCommand() == 0; }, 2000ms)) << block;
        for (const char* name : kIdentityFields) {
            EXPECT_EQ(h.text(name), "") << block << " " << name;
        }
        const hart::HartIdentity& identity = form().StoredHartIdentity();
        EXPECT_EQ(identity.manufacturer, 0x26) << block;
        EXPECT_EQ(identity.deviceType, 0x06) << block;
        EXPECT_EQ(identity.deviceId, (std::array<uint8_t, 3>{0x00, 0x12, 0x34})) << block;
        EXPECT_EQ(identity.reportedPreambles, 5) << block;
        EXPECT_EQ(identity.pollingAddress, 5) << block; // stored by the query, reply or not
        EXPECT_EQ(h.text("ComboBox27"), "3") << block;
    }
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(TransparentTab, AddressSettingRaisesRtsSetsThreeSecondsAndItsReplyIsOnlyShown) {
    form().Comm1->SetRtsControl(serial::TRtsControl::RtsDisable);
    h.list("ComboBox27")->setCurrentIndex(2);

    h.click("Button14");
    EXPECT_EQ(form().Comm1->RtsControl(), serial::TRtsControl::RtsEnable);
    // No identity decoded yet: the long frame is addressed 80 00 00 00 00.
    expectSent("FF FF FF FF FF FF FF 82 80 00 00 00 00 06 01 02 07");
    EXPECT_EQ(form().PendingCommand(), 106);
    EXPECT_EQ(form().TimeoutKind(), 4);
    EXPECT_TRUE(form().Timer3->Enabled());
    EXPECT_EQ(form().Timer3->Interval(), 3000);
    EXPECT_EQ(form().StoredHartIdentity().pollingAddress, 0);

    // Even a block that holds an identity reply is not decoded under 106.
    reply(kIdentityReply);
    EXPECT_FALSE(form().Timer2->Enabled());
    EXPECT_FALSE(form().Timer3->Enabled());
    testsupport::pumpFor(400ms);
    EXPECT_EQ(h.text("Edit28"), "");
    EXPECT_EQ(form().StoredHartIdentity().manufacturer, 0);
    EXPECT_EQ(h.text("ComboBox27"), "2");
    EXPECT_EQ(form().PendingCommand(), 106);
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(TransparentTab, ManualFrameIsSentAsTypedAndItsRepliesAreOnlyShown) {
    h.setText("Edit10", "76 89 FD AD");
    h.click("Button20");
    expectSent("FF FF FF FF FF FF FF 76 89 FD AD AF");
    EXPECT_EQ(form().PendingCommand(), 104);
    EXPECT_EQ(form().TimeoutKind(), 4);
    EXPECT_TRUE(form().Timer3->Enabled());
    EXPECT_EQ(form().Timer3->Interval(), 1000);

    reply(kIdentityReply);
    EXPECT_FALSE(form().Timer2->Enabled());
    testsupport::pumpFor(400ms);
    EXPECT_EQ(h.text("Edit28"), "");
    EXPECT_EQ(form().PendingCommand(), 104);
    // The code stays, so a later block is shown in hex as well.
    reply("01 02 00");
    EXPECT_EQ(form().PendingCommand(), 104);
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(TransparentTab, HexTextFailuresArePlainMessagesAndNothingIsSent) {
    struct Case {
        const char* typed;
        const char* preamble;
        const char* message;
    };
    const Case cases[] = {
        {"7689FDAD", "6", "NO SPACK"},    {"76 89 fd ad", "6", "Data eeore!"},
        {"76 8G FD", "6", "Data eeore!"}, {"", "6", "NO SPACK"},
        {"7", "6", "NO SPACK"},           {"76-89", "6", "NO SPACK"},
        {"76 8g", "abc", "Data eeore!"}, // the hex text is read before the preamble length
    };
    for (const Case& c : cases) {
        h.setText("Edit8", "old request");
        memo(h)->setPlainText("old reply");
        h.setText("Edit10", c.typed);
        h.setText("Edit9", c.preamble);
        h.click("Button20");
        const auto messages = h.takeMessages();
        ASSERT_EQ(messages.size(), 1u) << c.typed;
        EXPECT_EQ(messages[0].kind, app::MessageKind::Plain) << c.typed;
        EXPECT_EQ(messages[0].text, c.message) << c.typed;
        // The send and receive fields are emptied before the text is read.
        EXPECT_EQ(h.sendField(), "") << c.typed;
        EXPECT_EQ(h.receiveField(), "") << c.typed;
        EXPECT_EQ(form().PendingCommand(), 0) << c.typed;
        EXPECT_EQ(form().TimeoutKind(), 0) << c.typed;
        EXPECT_FALSE(form().Timer3->Enabled()) << c.typed;
    }
    // Sixteen pairs: the first fifteen go out, without a message.
    h.setText("Edit9", "0");
    h.setText("Edit10", "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");
    h.click("Button20");
    EXPECT_TRUE(h.messages().empty());
    expectSent("FF 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");
}

TEST_F(TransparentTab, RefusalsSendNothingAndLeaveTheWindowAsItWas) {
    h.setText("Edit10", "76 89 FD AD");
    struct Case {
        const char* button;
        const char* preamble;
        const char* queryAddress; // typed into ComboBox30
        const char* named;        // the field the message names
    };
    const Case cases[] = {
        {"Button7", "6", "12", "HART Address"},      {"Button7", "-1", "0", "Preamble Length"},
        {"Button16", "-1", "0", "Preamble Length"},  {"Button14", "-1", "0", "Preamble Length"},
        {"Button20", "-1", "0", "Preamble Length"},  {"Button7", "600", "0", "Preamble Length"},
        {"Button16", "600", "0", "Preamble Length"}, {"Button14", "600", "0", "Preamble Length"},
        {"Button20", "600", "0", "Preamble Length"},
    };
    for (const Case& c : cases) {
        const std::string what =
            std::string(c.button) + " preamble " + c.preamble + " address " + c.queryAddress;
        fillIdentityFields("kept");
        h.setText("Edit8", "old request");
        memo(h)->setPlainText("old reply");
        h.setText("Edit9", c.preamble);
        h.setText("ComboBox30", c.queryAddress);
        h.click(c.button);
        const auto messages = h.takeMessages();
        ASSERT_EQ(messages.size(), 1u) << what;
        EXPECT_EQ(messages[0].kind, app::MessageKind::Error) << what;
        EXPECT_TRUE(messages[0].text.contains(c.named)) << what << ": " << messages[0].text.toStdString();
        EXPECT_EQ(h.sendField(), "old request") << what;
        EXPECT_EQ(h.receiveField(), "old reply") << what;
        for (const char* name : kIdentityFields) {
            EXPECT_EQ(h.text(name), "kept") << what << " " << name;
        }
        EXPECT_EQ(form().StoredHartIdentity().pollingAddress, 0) << what;
        EXPECT_EQ(form().PendingCommand(), 0) << what;
        EXPECT_EQ(form().TimeoutKind(), 0) << what;
        EXPECT_FALSE(form().Timer3->Enabled()) << what;
        EXPECT_EQ(form().Timer3->Interval(), 1000) << what;
    }
    expectNothingSentBefore();
}

TEST_F(TransparentTab, AddressSettingAfterAQueryAtAddressNineIsRefused) {
    h.list("ComboBox30")->setCurrentIndex(9);
    h.click("Button7");
    expectSent("FF FF FF FF FF FF FF 02 89 00 00 8B");
    reply(kIdentityReply);
    ASSERT_TRUE(waitUntil([&] { return h.text("Edit28") == "38"; }, 2000ms));
    // "HART Address Setting" offers 0 to 8 only.
    EXPECT_EQ(h.list("ComboBox27")->currentIndex(), -1);
    EXPECT_EQ(h.text("ComboBox27"), "");
    EXPECT_EQ(form().StoredHartIdentity().pollingAddress, 9);

    h.click("Button14");
    const auto messages = h.takeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains("HART Address Setting")) << messages[0].text.toStdString();
    EXPECT_EQ(h.sendField(), "FF FF FF FF FF FF FF 02 89 00 00 8B ");
    EXPECT_EQ(h.receiveField(), QString::fromLatin1(kIdentityReply) + " ");
    EXPECT_EQ(form().PendingCommand(), 0);
    EXPECT_FALSE(form().Timer3->Enabled());
    EXPECT_EQ(form().Timer3->Interval(), 1000); // the refused request did not get to set 3000
    expectNothingSentBefore();
}

TEST_F(TransparentTab, CommandModeSetsTheMasterBitOfBuiltFramesOnly) {
    h.setText("Edit9", "0");
    h.list("ComboBox42")->setCurrentIndex(1); // "Secondary Master Mode"
    h.list("ComboBox30")->setCurrentIndex(9);
    h.click("Button7");
    expectSent("FF 02 09 00 00 0B");
    h.click("Button16");
    expectSent("FF 82 00 00 00 00 00 03 00 81");
    h.list("ComboBox27")->setCurrentIndex(8);
    h.click("Button14");
    expectSent("FF 82 00 00 00 00 00 06 01 08 8D");
    h.setText("Edit10", "76 89 FD AD");
    h.click("Button20");
    expectSent("FF 76 89 FD AD AF");
    EXPECT_TRUE(h.messages().empty());

    // A mode typed over that matches neither item is refused, naming the list.
    h.setText("ComboBox42", "Slave Mode");
    h.click("Button7");
    const auto messages = h.takeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains("HART Command Mode")) << messages[0].text.toStdString();
    expectNothingSentBefore();
}

TEST_F(TransparentTab, PreambleThatIsNoIntegerStopsWithTheConversionMessage) {
    h.setText("Edit10", "76");
    h.list("ComboBox30")->setCurrentIndex(4);
    struct Case {
        const char* button;
        const char* preamble;
        bool emptiesIdentity; // the identity query empties its four fields first
    };
    const Case cases[] = {
        {"Button7", "six", true},   {"Button16", "six", false}, {"Button14", "six", false},
        {"Button20", "six", false}, {"Button7", "", true},      {"Button16", "6.0", false},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.button) + " '" + c.preamble + "'";
        fillIdentityFields("kept");
        h.setText("Edit8", "old request");
        memo(h)->setPlainText("old reply");
        h.setText("Edit9", c.preamble);
        h.click(c.button);
        const auto messages = h.takeMessages();
        ASSERT_EQ(messages.size(), 1u) << what;
        EXPECT_EQ(messages[0].kind, app::MessageKind::Error) << what;
        EXPECT_EQ(messages[0].text, QStringLiteral("'%1' is not a valid integer value").arg(c.preamble))
            << what;
        EXPECT_EQ(h.sendField(), "") << what;
        EXPECT_EQ(h.receiveField(), "") << what;
        EXPECT_EQ(h.text("Edit28"), c.emptiesIdentity ? "" : "kept") << what;
        EXPECT_EQ(form().StoredHartIdentity().pollingAddress, 0) << what; // the query never got built
        EXPECT_EQ(form().PendingCommand(), 0) << what;
        EXPECT_EQ(form().TimeoutKind(), 0) << what;
        EXPECT_FALSE(form().Timer3->Enabled()) << what;
    }
    expectNothingSentBefore();
}

TEST_F(TransparentTab, ReplyTimerIntervalIsKeptByThreeRequestsAndSetOnlyByTheAddressSetting) {
    h.setText("Edit10", "76");
    for (const char* name : {"Button7", "Button16", "Button20"}) {
        h.click(name);
        EXPECT_TRUE(form().Timer3->Enabled()) << name;
        EXPECT_EQ(form().Timer3->Interval(), 1000) << name;
    }
    h.click("Button14");
    EXPECT_EQ(form().Timer3->Interval(), 3000);
    for (const char* name : {"Button7", "Button16", "Button20"}) {
        h.click(name);
        EXPECT_TRUE(form().Timer3->Enabled()) << name;
        EXPECT_EQ(form().Timer3->Interval(), 3000) << name;
    }
    EXPECT_EQ(form().PendingCommand(), 104);
    EXPECT_TRUE(h.messages().empty());
}

// Costs one second of real time.
TEST(TransparentTabTimeout, FirstRequestAfterStartTimesOutAfterOneSecond) {
    PtyPeer peer; // a converter that never answers
    FormHarness h;
    h.openPort(peer);
    QElapsedTimer clock;
    clock.start();
    h.click("Button7");
    EXPECT_EQ(h.sendField(), "FF FF FF FF FF FF FF 02 80 00 00 82 ");
    EXPECT_EQ(peer.readAtLeast(12, 500ms).size(), 12u);
    ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 2500ms));
    EXPECT_GE(clock.elapsed(), 950);
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_EQ(h.messageTexts(), std::vector<QString>{"HART Command Timeout!"});
    EXPECT_EQ(h.messages()[0].kind, app::MessageKind::Plain);
    EXPECT_FALSE(h.form().Timer3->Enabled());
    EXPECT_EQ(h.form().PendingCommand(), 100); // a timeout does not end the wait for the reply
}

// The identity query reads its fields in the order they stand in the frame: a preamble length that
// is no number is reported before a mode that matches no item, and the address is never stored.
TEST_F(TransparentTab, IdentityQueryReportsTheFirstBadFieldInFrameOrder) {
    h.setText("Edit9", "six");
    h.setText("ComboBox42", "Slave Mode");
    h.list("ComboBox30")->setCurrentIndex(4);
    h.click("Button7");
    auto messages = h.takeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "'six' is not a valid integer value");
    // With the preamble length mended, the mode is what stops it.
    h.setText("Edit9", "5");
    h.click("Button7");
    messages = h.takeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains("HART Command Mode")) << messages[0].text.toStdString();
    EXPECT_EQ(form().StoredHartIdentity().pollingAddress, 0);
    EXPECT_EQ(form().PendingCommand(), 0);
}

} // namespace
