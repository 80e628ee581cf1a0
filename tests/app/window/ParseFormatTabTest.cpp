// The "HART Data Parsing Format" and "Custom HART Commands & Parsing Methods" groups in the real window,
// with a pseudo-terminal playing the converter: controls and where they stand, what every button puts on
// the line, refusals, and the decoding of the QX4 and QX3 replies.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStyleOptionComboBox>

#include "tests/support/FormHarness.h"
#include "tests/support/PtyPeer.h"
#include "tests/support/TextTabFixture.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;
using testsupport::FormHarness;
using testsupport::PtyPeer;
using testsupport::waitUntil;

namespace {

struct ParseRow {
    const char* label;
    const char* caption; // UTF-8, with the full-width parentheses
    const char* format;
    const char* address;
    const char* length;
    const char* coefficient;
    const char* set;
};

const std::array<ParseRow, 8> kRows{{
    {"Label85", "Command 1 Variable 1\uFF0840003\uFF09:", "FAMOUT1", "READADR1", "READLG1", "Xishou1",
     "Button39"},
    {"Label84", "Command 1 Variable 2\uFF0840005\uFF09:", "FAMOUT2", "READADR2", "READLG2", "Xishou2",
     "Button40"},
    {"Label53", "Command 1 Variable 3\uFF0840007\uFF09:", "FAMOUT3", "READADR3", "READLG3", "Xishou3",
     "Button44"},
    {"Label29", "Command 1 Variable 4\uFF0840009\uFF09:", "FAMOUT4", "READADR4", "READLG4", "Xishou4",
     "Button45"},
    {"Label18", "Command 2 Variable 5\uFF0840011\uFF09:", "FAMOUT5", "READADR5", "READLG5", "Xishou5",
     "Button46"},
    {"Label32", "Command 2 Variable 6\uFF0840013\uFF09:", "FAMOUT6", "READADR6", "READLG6", "Xishou6",
     "Button47"},
    {"Label34", "Command 2 Variable 7\uFF0840015\uFF09:", "FAMOUT7", "READADR7", "READLG7", "Xishou7",
     "Button48"},
    {"Label35", "Command 2 Variable 8\uFF0840017\uFF09:", "FAMOUT8", "READADR8", "READLG8", "Xishou8",
     "Button49"},
}};

const QStringList kFormatItems = {"0 IEE754 (FF4 FF3 FF2 FF1)", "1 IEE754 (FF2 FF1 FF4 FF3)"};
const QStringList kEnableItems = {"0 Close", "1 Open"};
const QStringList kDigitItems = {"4", "5", "6", "7", "8", "9"};

std::string str(const QString& text) {
    return text.toStdString();
}

QStringList items(const QComboBox* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) {
        texts << list->itemText(i);
    }
    return texts;
}

// The row's name as refusals and accessible names use it: "Command 1 Variable 1".
QString rowName(const ParseRow& row) {
    return QString::fromUtf8(row.caption).section(QChar(0xFF08), 0, 0);
}

// --- Controls and layout, without a port ---

class ParseFormatLayout : public ::testing::Test {
protected:
    QWidget* widget(const char* name) {
        QWidget* found = h.find<QWidget>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QGroupBox* group(const char* name) { return h.find<QGroupBox>(name); }
    int centreY(QWidget* w) { return w->mapTo(w->window(), w->rect().center()).y(); }
    int left(QWidget* w) { return w->mapTo(w->window(), QPoint(0, 0)).x(); }
    int right(QWidget* w) { return left(w) + w->width(); }

    FormHarness h;
};

TEST_F(ParseFormatLayout, ControlsItemsAndStartValues) {
    ASSERT_NE(group("GroupBox16"), nullptr);
    ASSERT_NE(group("GroupBox13"), nullptr);
    EXPECT_EQ(group("GroupBox16")->title(), "HART Data Parsing Format");
    struct Caption {
        const char* group;
        const char* name;
        const char* text;
    };
    const Caption captions[] = {
        {"GroupBox16", "Label5", "MODBUS Format"},
        {"GroupBox16", "Label24", "Address"},
        {"GroupBox16", "Label27", "Length"},
        {"GroupBox16", "Label19", "Coefficient"},
        {"GroupBox16", "Label33", "Address Bit:"},
        {"GroupBox16", "Button50", "Set"},
        {"GroupBox16", "Button19", "Query"},
        {"GroupBox13", "Button9", "Set"},
        {"GroupBox13", "Button17", "Set"},
        {"GroupBox13", "Button18", "Set"},
        {"GroupBox13", "Button31", "Parameter Query"},
    };
    for (const Caption& c : captions) {
        QWidget* w = widget(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget(), group(c.group)) << c.name;
        const QString shown =
            qobject_cast<QLabel*>(w) ? qobject_cast<QLabel*>(w)->text() : h.button(c.name)->text();
        EXPECT_EQ(shown, c.text) << c.name;
    }
    for (const ParseRow& row : kRows) {
        EXPECT_EQ(h.find<QLabel>(row.label)->text(), QString::fromUtf8(row.caption));
        EXPECT_EQ(items(h.list(row.format)), kFormatItems) << row.format;
        EXPECT_EQ(h.list(row.format)->currentIndex(), 0) << row.format;
        QStringList lengths{"4 Bit", "8 Bit"};
        if (std::string(row.length) == "READLG2" || std::string(row.length) == "READLG3") {
            lengths << ""; // the empty third item
        }
        EXPECT_EQ(items(h.list(row.length)), lengths) << row.length;
        EXPECT_EQ(h.text(row.length), "4 Bit") << row.length;
        EXPECT_EQ(h.text(row.address), "") << row.address;
        EXPECT_EQ(h.text(row.coefficient), "1.000") << row.coefficient;
        EXPECT_EQ(h.button(row.set)->text(), "Set") << row.set;
        for (const char* name : {row.format, row.address, row.length, row.coefficient, row.set}) {
            EXPECT_EQ(widget(name)->parentWidget(), group("GroupBox16")) << name;
            EXPECT_TRUE(widget(name)->accessibleName().contains(rowName(row))) << name;
        }
    }
    EXPECT_EQ(items(h.list("ComboBox15")), kDigitItems);
    EXPECT_EQ(h.text("ComboBox15"), "8");

    struct List {
        const char* name;
        QStringList items;
        const char* start;
        const char* caption;
    };
    const List lists[] = {
        {"ComboBox41", {"Device 0"}, "Device 0", "Meter ID:"},
        {"ComboBox6", kEnableItems, "0 Close", "Enabled:"},
        {"ComboBox16", {"Secondary Master Device", "Master Device"}, "Master Device", "HART Mode:"},
        {"ComboBox17", {"0)Custom Meter", "1)Currency Meter"}, "0)Custom Meter", "Meter Type:"},
        {"ComboBox34", kDigitItems, "4", "Preamble Length:"},
        {"ComboBox28", kEnableItems, "0 Close", "Read Meter Command 1:"},
        {"ComboBox29", kEnableItems, "0 Close", "Read Meter Command 2:"},
    };
    for (const List& l : lists) {
        EXPECT_EQ(h.list(l.name)->parentWidget(), group("GroupBox13")) << l.name;
        EXPECT_EQ(items(h.list(l.name)), l.items) << l.name;
        EXPECT_EQ(h.text(l.name), l.start) << l.name;
        // Pick-only: the meter type; every other list also takes typed text.
        EXPECT_EQ(h.list(l.name)->isEditable(), std::string(l.name) != "ComboBox17") << l.name;
        // Its label stands left of it on the same line.
        QLabel* caption = nullptr;
        for (QLabel* label : group("GroupBox13")->findChildren<QLabel*>()) {
            caption = label->text() == l.caption ? label : caption;
        }
        ASSERT_NE(caption, nullptr) << l.caption;
        EXPECT_NEAR(centreY(caption), centreY(h.list(l.name)), 2) << l.caption;
        EXPECT_LE(right(caption), left(h.list(l.name))) << l.caption;
    }
    for (const char* name : {"Edit2", "Edit4", "Edit5"}) {
        EXPECT_EQ(h.text(name), "") << name;
        EXPECT_EQ(widget(name)->parentWidget(), group("GroupBox13")) << name;
    }
}

TEST_F(ParseFormatLayout, RowsStandLevelWithTheirSetButtonsAndNothingIsClipped) {
    constexpr int labelSlack = 2; // text labels may sit a pixel or two off the boxes' centre
    int previousY = centreY(widget("ComboBox15"));
    EXPECT_EQ(centreY(widget("Button50")), previousY);
    for (const ParseRow& row : kRows) {
        const int y = centreY(widget(row.format));
        EXPECT_GT(y, previousY) << row.label << " stands below the row before it";
        previousY = y;
        EXPECT_NEAR(centreY(widget(row.label)), y, labelSlack) << row.label;
        const char* leftToRight[] = {row.label,  row.format,      row.address,
                                     row.length, row.coefficient, row.set};
        for (std::size_t i = 1; i < std::size(leftToRight); ++i) {
            EXPECT_LE(right(widget(leftToRight[i - 1])), left(widget(leftToRight[i]))) << leftToRight[i];
            if (i > 1) {
                EXPECT_EQ(centreY(widget(leftToRight[i])), y) << leftToRight[i] << " in " << row.label;
            }
        }
        // The column headings stand over their columns.
        EXPECT_EQ(left(widget("Label5")), left(widget(row.format)));
        EXPECT_EQ(left(widget("Label24")), left(widget(row.address)));
        EXPECT_EQ(left(widget("Label27")), left(widget(row.length)));
        EXPECT_EQ(left(widget("Label19")), left(widget(row.coefficient)));
        EXPECT_LT(centreY(widget("Label5")), centreY(widget(kRows[0].format)));
        EXPECT_LE(right(widget(row.set)), left(widget("Button19"))) << "Query stands beside the rows";
    }

    for (const char* name : {"GroupBox16", "GroupBox13"}) {
        QGroupBox* box = group(name);
        for (QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            const std::string what = str(child->objectName());
            EXPECT_TRUE(box->rect().contains(child->geometry())) << what;
            if (auto* label = qobject_cast<QLabel*>(child)) {
                EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << what;
                EXPECT_LE(label->fontMetrics().height(), label->height()) << what;
            } else if (auto* button = qobject_cast<QPushButton*>(child)) {
                // A caption of two lines ("From the\ninstrument...") line by line.
                const QStringList lines = button->text().split(QLatin1Char('\n'));
                for (const QString& line : lines) {
                    EXPECT_LE(button->fontMetrics().horizontalAdvance(line) + 8, button->width()) << what;
                }
                EXPECT_LE(button->fontMetrics().height() * lines.size(), button->height()) << what;
                EXPECT_FALSE(button->accessibleName().isEmpty()) << what;
            } else if (auto* list = qobject_cast<QComboBox*>(child)) {
                // Every item whole in the list's text field, beside the drop-down arrow.
                QStyleOptionComboBox option;
                option.initFrom(list);
                option.editable = list->isEditable();
                const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                                  QStyle::SC_ComboBoxEditField, list);
                for (int i = 0; i < list->count(); ++i) {
                    EXPECT_LE(list->fontMetrics().horizontalAdvance(list->itemText(i)) + 4, field.width())
                        << what << " item " << str(list->itemText(i));
                }
                EXPECT_FALSE(list->accessibleName().isEmpty()) << what;
            } else if (auto* edit = qobject_cast<QLineEdit*>(child)) {
                EXPECT_FALSE(edit->accessibleName().isEmpty()) << what;
            }
            // Groups do not overlap: the two groups filled by other parts of the tab keep their room.
            for (const char* other : {"GroupBox12", "GroupBox19"}) {
                EXPECT_FALSE(child->geometry().translated(box->pos()).intersects(group(other)->geometry()))
                    << what << " reaches into " << other;
            }
        }
    }
    // The row widths the converter's values need, plus the field's frame.
    QLineEdit* coefficient = h.edit("Xishou1");
    EXPECT_LE(coefficient->fontMetrics().horizontalAdvance("12.34") + 8, coefficient->width());
    QLineEdit* clearTime = h.edit("Edit2");
    EXPECT_LE(clearTime->fontMetrics().horizontalAdvance("999") + 8, clearTime->width());
    QLineEdit* command = h.edit("Edit4");
    EXPECT_LE(command->fontMetrics().horizontalAdvance("76 89 FD AD 76 89 FD AD 76 89 FD AD 76 89") + 8,
              command->width());
}

// --- The window on a pseudo-terminal ---

class ParseFormatTab : public testsupport::TextTabFixture {
protected:
    // Every field the two decoders may write, as the user sees it.
    std::vector<std::string> fields() {
        std::vector<std::string> all;
        for (const char* name : {"ComboBox15", "ComboBox6", "ComboBox16", "ComboBox17", "ComboBox34", "Edit2",
                                 "ComboBox28", "Edit4", "ComboBox29", "Edit5"}) {
            all.push_back(std::string(name) + "=" + text(name));
        }
        for (const ParseRow& row : kRows) {
            for (const char* name : {row.format, row.address, row.length, row.coefficient}) {
                all.push_back(std::string(name) + "=" + text(name));
            }
        }
        return all;
    }
    // The same list with some fields changed.
    std::vector<std::string> fieldsWith(std::vector<std::string> all,
                                        const std::vector<std::pair<std::string, std::string>>& changes) {
        for (const auto& [name, value] : changes) {
            for (std::string& field : all) {
                if (field.starts_with(name + "=")) {
                    field = name + "=" + value;
                }
            }
        }
        return all;
    }
};

TEST_F(ParseFormatTab, EveryButtonPutsExactlyItsFrameOnTheLineAndInTheSendField) {
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        h.setText(kRows[i].address, QString::number(10 * i + 5));
    }
    h.list("FAMOUT8")->setCurrentIndex(1);
    h.list("READLG8")->setCurrentIndex(1);
    h.setText("Xishou8", "2.500");
    h.list("READLG2")->setCurrentIndex(2);
    h.setText("Xishou4", "12.3456");
    h.list("ComboBox15")->setCurrentIndex(0);
    h.setText("Edit2", "5");
    h.list("ComboBox28")->setCurrentIndex(1);
    h.setText("Edit4", "76 89 FD AD");
    h.setText("Edit5", "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");

    struct Case {
        const char* button;
        std::string frame;
        std::string shown; // Edit8
        int pending;
        int kind;
    };
    const std::string camd1 = "QQS#CAMD01:1<04,\x76\x89\xFD\xAD";
    const std::string camd2 = "QQS#CAMD02:0<14,\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E";
    const Case cases[] = {
        {"Button39", "QQS#MDBS1:0,05,0,1.000#", "", 200, 3},
        {"Button40", "QQS#MDBS2:0,15,2,1.000#", "", 200, 3},
        {"Button44", "QQS#MDBS3:0,25,0,1.000#", "", 200, 3},
        {"Button45", "QQS#MDBS4:0,35,0,12.34#", "", 200, 3},
        {"Button46", "QQS#MDBS5:0,45,0,1.000#", "", 200, 3},
        {"Button47", "QQS#MDBS6:0,55,0,1.000#", "", 200, 3},
        {"Button48", "QQS#MDBS7:0,65,0,1.000#", "", 200, 3},
        {"Button49", "QQS#MDBS8:1,75,1,2.500#", "", 200, 3},
        {"Button50", "QQS#MDL:4#", "", 200, 3},
        {"Button19", "QQQ#QX4#", "", 204, 2},
        {"Button9", "QQS#HART0:0,1,00,4,005#", "", 200, 3},
        {"Button17", camd1, "51 51 53 23 43 41 4D 44 30 31 3A 31 3C 30 34 2C 76 89 FD AD ", 200, 3},
        {"Button18", camd2,
         "51 51 53 23 43 41 4D 44 30 32 3A 30 3C 31 34 2C 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E ", 200,
         3},
        {"Button31", "QQQ#QX3#", "", 203, 2},
    };
    for (const Case& c : cases) {
        h.setText("Edit8", "earlier request");
        setMemo("earlier reply");
        form().Timer3->SetEnabled(false);
        h.click(c.button);
        EXPECT_EQ(line(c.frame.size()), c.frame) << c.button;
        EXPECT_EQ(str(h.sendField()), c.shown.empty() ? c.frame : c.shown) << c.button;
        EXPECT_EQ(str(h.receiveField()), "") << c.button;
        EXPECT_EQ(form().PendingCommand(), c.pending) << c.button;
        EXPECT_EQ(form().TimeoutKind(), c.kind) << c.button;
        EXPECT_TRUE(form().Timer3->Enabled()) << c.button;
        EXPECT_EQ(form().Timer3->Interval(), 3000) << c.button;
    }
    EXPECT_TRUE(lineQuiet()) << "nothing beyond the frames";
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(ParseFormatTab, BadInputIsRefusedOrStopsWithItsMessageAndNothingIsSent) {
    h.click("Button31"); // leaves something to keep: pending 203, kind 2, the reply timer running
    ASSERT_EQ(line(8), "QQQ#QX3#");
    struct Case {
        const char* field;
        const char* typed;
        const char* button;
        app::MessageKind kind;
        std::string message;
        bool emptied; // the handler had emptied Edit8 and Memo10 before it stopped
    };
    const std::string shortCoefficient =
        " Coefficient must have at least five characters; exactly five are sent (for example 1.000)";
    const Case cases[] = {
        {"READADR1", "100", "Button39", app::MessageKind::Error,
         "Command 1 Variable 1 Address must be between 0 and 99", false},
        {"READADR6", "-1", "Button47", app::MessageKind::Error,
         "Command 2 Variable 6 Address must be between 0 and 99", false},
        {"READADR3", "", "Button44", app::MessageKind::Error, "'' is not a valid integer value", true},
        {"Xishou5", "1.00", "Button46", app::MessageKind::Error, "Command 2 Variable 5" + shortCoefficient,
         false},
        {"FAMOUT2", "0 IEE754", "Button40", app::MessageKind::Error,
         "No item is selected in Command 1 Variable 2 MODBUS Format", false},
        {"READLG7", "16 Bit", "Button48", app::MessageKind::Error,
         "No item is selected in Command 2 Variable 7 Length", false},
        {"ComboBox15", "3", "Button50", app::MessageKind::Error, "No item is selected in Address Bit", false},
        {"Edit2", "1000", "Button9", app::MessageKind::Error, "Buffer Clear Time must be between 0 and 999",
         false},
        {"Edit2", "", "Button9", app::MessageKind::Error, "'' is not a valid integer value", true},
        {"ComboBox6", "2 Half", "Button9", app::MessageKind::Error, "No item is selected in Enabled", false},
        {"Edit4", "76 8G", "Button17", app::MessageKind::Plain, "Data eeore!", true},
        {"Edit5", "7689FDAD", "Button18", app::MessageKind::Plain, "NO SPACK", true},
        {"ComboBox29", "1 Opened", "Button18", app::MessageKind::Error,
         "No item is selected in Read Meter Command 2", false},
    };
    // Fields the cases do not spoil hold values that send.
    for (const ParseRow& row : kRows) {
        h.setText(row.address, "1");
    }
    h.setText("Edit2", "1");
    h.setText("Edit4", "01");
    h.setText("Edit5", "01");
    for (const Case& c : cases) {
        const QString before = h.text(c.field);
        h.setText("Edit8", "QQQ#QX3#");
        setMemo("earlier reply");
        h.setText(c.field, c.typed);
        h.click(c.button);
        const auto messages = h.takeMessages();
        ASSERT_EQ(messages.size(), 1u) << c.field;
        EXPECT_EQ(messages[0].kind, c.kind) << c.field;
        EXPECT_EQ(str(messages[0].text), c.message) << c.field;
        EXPECT_EQ(str(h.sendField()), c.emptied ? "" : "QQQ#QX3#") << c.field;
        EXPECT_EQ(str(h.receiveField()), c.emptied ? "" : "earlier reply") << c.field;
        EXPECT_EQ(form().PendingCommand(), 203) << c.field;
        EXPECT_EQ(form().TimeoutKind(), 2) << c.field;
        EXPECT_TRUE(form().Timer3->Enabled()) << c.field;
        h.setText(c.field, before);
    }
    EXPECT_TRUE(lineQuiet());
}

TEST_F(ParseFormatTab, Qx4ReplyFillsOnlyTheRowsItHoldsAfterTheParseDelay) {
    h.setText("READADR1", "42");
    h.click("Button19");
    ASSERT_EQ(line(8), "QQQ#QX4#");
    const std::vector<std::string> before = fields();
    ASSERT_TRUE(reply("QQQ#QX4#MDL:6,MDBS 3:1,07,1,0.500,MDBS5:1,99,1,9.999#"));
    QElapsedTimer shown;
    shown.start();
    EXPECT_TRUE(form().Timer2->Enabled());
    EXPECT_EQ(fields(), before) << "decoded before the parse timer fired";
    ASSERT_TRUE(waitUntil([&] { return text("ComboBox15") == "6"; }, 2000ms));
    EXPECT_GE(shown.elapsed(), 270);
    EXPECT_LT(shown.elapsed(), 1000);
    // Row 3 and the address bit; "MDBS5:" is the set command's tag, not a reply's.
    EXPECT_EQ(fields(), fieldsWith(before, {{"ComboBox15", "6"},
                                            {"FAMOUT3", str(kFormatItems[1])},
                                            {"READADR3", "07"},
                                            {"READLG3", "8 Bit"},
                                            {"Xishou3", "0.500"}}));
    EXPECT_EQ(form().PendingCommand(), 204);
    EXPECT_FALSE(form().Timer3->Enabled());
    EXPECT_TRUE(h.messages().empty());

    // What was read back goes out again as it stands.
    h.click("Button44");
    EXPECT_EQ(line(23), "QQS#MDBS3:1,07,1,0.500#");
}

TEST_F(ParseFormatTab, Qx3ReplyFillsTheGroupAndNumbersBeyondAListLeaveItEmpty) {
    h.click("Button31");
    ASSERT_EQ(line(8), "QQQ#QX3#");
    const std::vector<std::string> before = fields();
    ASSERT_TRUE(reply("QX3,HART0:1,0,01,6,010#CAMD01:1<04,76 89 FD AD#CAMD02:1<00,#"));
    QElapsedTimer shown;
    shown.start();
    ASSERT_TRUE(waitUntil([&] { return text("Edit2") == "010"; }, 2000ms));
    EXPECT_GE(shown.elapsed(), 270);
    EXPECT_LT(shown.elapsed(), 1000);
    EXPECT_EQ(fields(), fieldsWith(before, {{"ComboBox6", "1 Open"},
                                            {"ComboBox16", "Secondary Master Device"},
                                            {"ComboBox17", "1)Currency Meter"},
                                            {"ComboBox34", "6"},
                                            {"Edit2", "010"},
                                            {"ComboBox28", "1 Open"},
                                            {"Edit4", "76 89 FD AD"},
                                            {"ComboBox29", "1 Open"},
                                            {"Edit5", ""}}));
    EXPECT_EQ(form().PendingCommand(), 203);
    EXPECT_TRUE(h.messages().empty());
    h.click("Button17");
    EXPECT_EQ(line(20), "QQS#CAMD01:1<04,\x76\x89\xFD\xAD");

    // A meter type "05" and a preamble digit "3" are no items: both lists end with none selected, and
    // the polling parameters cannot be sent until the user picks again.
    h.click("Button31");
    ASSERT_EQ(line(8), "QQQ#QX3#");
    ASSERT_TRUE(reply("QX3 HART0:0,1,05,3,120"));
    ASSERT_TRUE(waitUntil([&] { return text("Edit2") == "120"; }, 2000ms));
    EXPECT_EQ(h.list("ComboBox17")->currentIndex(), -1);
    EXPECT_EQ(h.list("ComboBox34")->currentIndex(), -1);
    EXPECT_EQ(text("ComboBox34"), "");
    h.click("Button9");
    EXPECT_EQ(h.messageTexts(), std::vector<QString>{"No item is selected in Meter Type"});
    h.takeMessages();
    EXPECT_TRUE(lineQuiet());

    // Without "QX3" nothing changes.
    const std::vector<std::string> unchanged = fields();
    ASSERT_TRUE(reply("HART0:1,1,01,9,999#CAMD01:0<01,AA"));
    ASSERT_TRUE(decoded());
    EXPECT_EQ(fields(), unchanged);
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(ParseFormatTab, ANonDigitStopsTheDecoderAfterTheFieldsBeforeIt) {
    h.click("Button19");
    ASSERT_EQ(line(8), "QQQ#QX4#");
    std::vector<std::string> before = fields();
    ASSERT_TRUE(reply("QX4 MDL:5 MDBS 1:1,11,1,1.111 MDBS 2:1,22,x,2.222 MDBS 3:1,33,1,3.333"));
    ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 2000ms));
    EXPECT_EQ(h.messageTexts(), std::vector<QString>{"'x' is not a valid integer value"});
    EXPECT_EQ(h.takeMessages()[0].kind, app::MessageKind::Error);
    EXPECT_EQ(fields(), fieldsWith(before, {{"ComboBox15", "5"},
                                            {"FAMOUT1", str(kFormatItems[1])},
                                            {"READADR1", "11"},
                                            {"READLG1", "8 Bit"},
                                            {"Xishou1", "1.111"},
                                            {"FAMOUT2", str(kFormatItems[1])},
                                            {"READADR2", "22"}}));

    h.click("Button31");
    ASSERT_EQ(line(8), "QQQ#QX3#");
    before = fields();
    ASSERT_TRUE(reply("QX3 CAMD01:1<04,76 89 FD AD HART0:1,?,01,6,010"));
    ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 2000ms));
    EXPECT_EQ(h.messageTexts(), std::vector<QString>{"'?' is not a valid integer value"});
    // The HART block is read first: its enable digit, then the stop; the command block is not reached.
    EXPECT_EQ(fields(), fieldsWith(before, {{"ComboBox6", "1 Open"}}));
}

// The two real reply timeouts of this file: 3 seconds each.
TEST_F(ParseFormatTab, NoReplyShowsTheSettingOrQueryTimeout) {
    struct Case {
        const char* button;
        std::size_t length;
        const char* message;
    };
    for (const Case& c : {Case{"Button46", 23, "Parameter Setting Timeout!"},
                          Case{"Button31", 8, "Parameter Query Timeout!"}}) {
        h.setText("READADR5", "5");
        QElapsedTimer clock;
        clock.start();
        h.click(c.button);
        line(c.length);
        ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 5000ms)) << c.button;
        EXPECT_GE(clock.elapsed(), 2950) << c.button;
        EXPECT_LT(clock.elapsed(), 3500) << c.button;
        EXPECT_EQ(h.messageTexts(), std::vector<QString>{c.message});
        EXPECT_EQ(h.takeMessages()[0].kind, app::MessageKind::Plain);
    }
}

} // namespace
