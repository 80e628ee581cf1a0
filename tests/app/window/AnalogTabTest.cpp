// The "Analog Output Configuration" and "For Test" groups in the real window, with a pseudo-terminal as
// the converter: the controls and where they stand, what every Set, Query and Test button writes, and
// what a reply to the query does to the rows.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>

#include "tests/support/FormHarness.h"
#include "tests/support/PtyPeer.h"
#include "tests/support/TextTabFixture.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;
using testsupport::FormHarness;
using testsupport::PtyPeer;
using testsupport::waitUntil;

namespace {

// The controls of one output row, by their names in the window.
struct Row {
    const char* label;    // the row's caption
    const char* variable; // variable list
    const char* upper;    // 20 mA field
    const char* lower;    // 4 mA field
    const char* set;      // Set button
    const char* testValue;
    const char* test; // Test button
    int initialIndex;
    int itemCount;
};

const std::array<Row, 8> kRows{{
    {"DOUTA0:", "DOUT1", "DOUT1H", "DOUT1L", "Button2", "AVO0", "Button22", 1, 10},
    {"DOUTA1:", "DOUT2", "DOUT2H", "DOUT2L", "Button3", "AVO1", "Button25", 2, 10},
    {"DOUTA2:", "DOUT3", "DOUT3H", "DOUT3L", "Button5", "AVO2", "Button28", 3, 9},
    {"DOUTA3:", "DOUT4", "DOUT4H", "DOUT4L", "Button8", "AVO3", "Button35", 4, 10},
    {"DOUTA4:", "DOUT5", "DOUT5H", "DOUT5L", "Button12", "AVO4", "Button41", 0, 10},
    {"DOUTA5:", "DOUT6", "DOUT6H", "DOUT6L", "Button36", "AVO5", "Button42", 0, 10},
    {"DOUTA6:", "DOUT7", "DOUT7H", "DOUT7L", "Button37", "AVO6", "Button43", 0, 10},
    {"DOUTA7:", "DOUT8", "DOUT8H", "DOUT8L", "Button38", "AVO7", "Button51", 0, 10},
}};

// The variable items; the parentheses are full-width and the last four register numbers have six digits.
// UTF-8, as QString::toStdString gives them.
const std::array<std::string, 10> kItems{
    "0 Close",
    "1_Variable 1\uFF0840003\uFF09",
    "2_Variable 2\uFF0840005\uFF09",
    "3_Variable 3\uFF0840007\uFF09",
    "4_Variable 4\uFF0840009\uFF09",
    "5_Variable 5\uFF08400011\uFF09",
    "6_Variable 6\uFF08400013\uFF09",
    "7_Variable 7\uFF08400015\uFF09",
    "8_Variable 8\uFF08400017\uFF09",
    "",
};

// Texts compared as std::string, so a failure prints them readably.
std::string str(const QString& text) {
    return text.toStdString();
}
std::vector<std::string> strs(const std::vector<QString>& texts) {
    std::vector<std::string> result;
    for (const QString& text : texts) {
        result.push_back(text.toStdString());
    }
    return result;
}

std::string rowKey(std::size_t row) {
    return "DA" + std::to_string(row + 1);
}

// --- Controls and layout, without a port ---

class AnalogTabLayout : public ::testing::Test {
protected:
    QWidget* widget(const char* name) {
        QWidget* found = h.find<QWidget>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QGroupBox* group() { return h.find<QGroupBox>("GroupBox11"); }
    std::string text(const char* name) const { return h.text(name).toStdString(); }

    // Vertical centre in the coordinates of the analog output group, whatever the widget's parent.
    int centreY(QWidget* w) { return w->mapTo(group(), w->rect().center()).y(); }
    int left(QWidget* w) { return w->mapTo(group(), QPoint(0, 0)).x(); }
    int right(QWidget* w) { return left(w) + w->width(); }
    QLabel* labelWithText(const QString& text) {
        for (QLabel* label : group()->findChildren<QLabel*>()) {
            if (label->text() == text) {
                return label;
            }
        }
        ADD_FAILURE() << "no label " << text.toStdString();
        return nullptr;
    }

    FormHarness h;
};

TEST_F(AnalogTabLayout, GroupsAndCaptions) {
    ASSERT_NE(group(), nullptr);
    EXPECT_EQ(group()->title(), "Analog Output Configuration");
    EXPECT_EQ(group()->parentWidget()->objectName(), "TabSheet1");
    auto* forTest = h.find<QGroupBox>("GroupBox3");
    ASSERT_NE(forTest, nullptr);
    EXPECT_EQ(forTest->title(), "For Test");
    EXPECT_EQ(forTest->parentWidget(), group());

    struct Caption {
        const char* name;
        const char* text;
    };
    const Caption captions[] = {
        {"Label28", "Totalizer Output (DA4 ,DA5, DA6 ,DA7):"},
        {"Label52", "20mA"},
        {"Label68", "4mA"},
        {"Button10", "Set"},
        {"Button34", "Query"},
        {"Button11", "Test"},
        {"Button52", "Query"},
    };
    for (const Caption& c : captions) {
        QWidget* w = widget(c.name);
        ASSERT_NE(w, nullptr);
        if (auto* label = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(label->text(), c.text) << c.name;
        } else {
            EXPECT_EQ(h.button(c.name)->text(), c.text) << c.name;
        }
        EXPECT_TRUE(group()->isAncestorOf(w)) << c.name;
    }
    for (const Row& row : kRows) {
        EXPECT_EQ(h.button(row.set)->text(), "Set") << row.set;
        EXPECT_EQ(h.button(row.test)->text(), "Test") << row.test;
        EXPECT_TRUE(h.button(row.set)->isEnabled()) << row.set;
        EXPECT_EQ(widget(row.test)->parentWidget(), forTest) << row.test;
        EXPECT_EQ(widget(row.testValue)->parentWidget(), forTest) << row.testValue;
        EXPECT_NE(labelWithText(row.label), nullptr);
    }
    EXPECT_EQ(widget("Button11")->parentWidget(), forTest);
    EXPECT_EQ(widget("Edit3")->parentWidget(), forTest);
}

TEST_F(AnalogTabLayout, ListItemsAndStartValues) {
    QComboBox* totalizer = h.list("LEJIOUT");
    ASSERT_EQ(totalizer->count(), 9);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(str(totalizer->itemText(i)), kItems[static_cast<std::size_t>(i)]) << "LEJIOUT " << i;
    }
    EXPECT_EQ(totalizer->currentIndex(), 0);
    EXPECT_EQ(totalizer->currentText(), "0 Close");
    EXPECT_TRUE(totalizer->isEditable());

    for (const Row& row : kRows) {
        QComboBox* list = h.list(row.variable);
        ASSERT_EQ(list->count(), row.itemCount) << row.variable;
        for (int i = 0; i < row.itemCount; ++i) {
            EXPECT_EQ(str(list->itemText(i)), kItems[static_cast<std::size_t>(i)])
                << row.variable << " " << i;
        }
        EXPECT_TRUE(list->isEditable()) << row.variable;
        EXPECT_EQ(list->currentIndex(), row.initialIndex) << row.variable;
        EXPECT_EQ(str(list->currentText()), kItems[static_cast<std::size_t>(row.initialIndex)])
            << row.variable;
        EXPECT_EQ(text(row.upper), "100") << row.upper;
        EXPECT_EQ(text(row.lower), "0.00") << row.lower;
        EXPECT_EQ(text(row.testValue), "100.0") << row.testValue;
    }
    EXPECT_EQ(text("Edit3"), "000000000");
}

TEST_F(AnalogTabLayout, RowsStandLevelWithTheirTestColumn) {
    // Row labels and captions may sit a pixel or two lower than the boxes, as text labels do.
    constexpr int labelSlack = 2;
    QWidget* totalizer = widget("LEJIOUT");
    const int totalizerY = centreY(totalizer);
    EXPECT_EQ(centreY(widget("Button10")), totalizerY);
    EXPECT_EQ(centreY(widget("Edit3")), totalizerY);
    EXPECT_EQ(centreY(widget("Button11")), totalizerY);
    EXPECT_NEAR(centreY(widget("Label28")), totalizerY, labelSlack);
    EXPECT_LT(right(widget("Label28")), left(totalizer) + 1);
    EXPECT_LT(right(totalizer), left(widget("Button10")));
    EXPECT_LT(right(widget("Edit3")), left(widget("Button11")));

    // The column captions stand over their columns.
    EXPECT_EQ(left(widget("Label52")), left(widget("DOUT1H")));
    EXPECT_EQ(left(widget("Label68")), left(widget("DOUT1L")));

    int previousY = totalizerY;
    for (const Row& row : kRows) {
        QWidget* list = widget(row.variable);
        const int y = centreY(list);
        EXPECT_GT(y, previousY) << row.label << " stands below the row before it";
        previousY = y;
        EXPECT_NEAR(centreY(labelWithText(row.label)), y, labelSlack) << row.label;
        for (const char* name : {row.upper, row.lower, row.set, row.testValue, row.test}) {
            EXPECT_EQ(centreY(widget(name)), y) << name << " in row " << row.label;
        }
        // Left to right: label, list, 20 mA, 4 mA, Set, test value, Test.
        EXPECT_LE(right(labelWithText(row.label)), left(list)) << row.label;
        EXPECT_LE(right(list), left(widget(row.upper))) << row.label;
        EXPECT_LE(right(widget(row.upper)), left(widget(row.lower))) << row.label;
        EXPECT_LE(right(widget(row.lower)), left(widget(row.set))) << row.label;
        EXPECT_LE(right(widget(row.set)), left(widget("GroupBox3"))) << row.label;
        EXPECT_LE(right(widget(row.testValue)), left(widget(row.test))) << row.label;
        EXPECT_EQ(left(widget(row.testValue)), left(widget("Edit3"))) << row.label;
        EXPECT_EQ(left(widget(row.test)), left(widget("Button11"))) << row.label;
    }
    EXPECT_GT(centreY(widget("Button34")), previousY) << "Query stands below the last row";
}

TEST_F(AnalogTabLayout, NothingIsClippedAndEveryInputHasAnAccessibleName) {
    // Every control lies inside its group, and every caption fits its control in the window's font.
    for (QGroupBox* box : {group(), h.find<QGroupBox>("GroupBox3")}) {
        for (QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            EXPECT_TRUE(box->rect().contains(child->geometry())) << child->objectName().toStdString();
            if (auto* label = qobject_cast<QLabel*>(child)) {
                EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
                    << label->text().toStdString();
                EXPECT_LE(label->fontMetrics().height(), label->height()) << label->text().toStdString();
            } else if (auto* button = qobject_cast<QPushButton*>(child)) {
                EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()) + 8, button->width())
                    << button->objectName().toStdString();
            }
        }
    }
    for (const Row& row : kRows) {
        QComboBox* list = h.list(row.variable);
        // The longest item, with room for the drop-down arrow.
        EXPECT_LE(list->fontMetrics().horizontalAdvance(QString::fromStdString(kItems[8])) + 20,
                  list->width())
            << row.variable;
        QLineEdit* upper = h.edit(row.upper);
        EXPECT_LE(upper->fontMetrics().horizontalAdvance("12345") + 6, upper->width()) << row.upper;
        const QString rowName = QString::fromLatin1(row.label).chopped(1);
        for (const char* name : {row.variable, row.upper, row.lower, row.set, row.testValue, row.test}) {
            EXPECT_TRUE(widget(name)->accessibleName().contains(rowName))
                << name << ": " << widget(name)->accessibleName().toStdString();
        }
    }
    QLineEdit* totalizerValue = h.edit("Edit3");
    EXPECT_LE(totalizerValue->fontMetrics().horizontalAdvance("000000000") + 6, totalizerValue->width());
    for (const char* name : {"LEJIOUT", "Edit3", "Button10", "Button11", "Button34"}) {
        EXPECT_FALSE(widget(name)->accessibleName().isEmpty()) << name;
    }
}

TEST_F(AnalogTabLayout, TotalizerListShowsEachItemWhole) {
    // The totalizer list holds the same items as the row lists; a reply such as "DL:8" shows
    // "8_Variable 8（400017）" there, and the user must be able to read it without scrolling the text.
    QComboBox* totalizer = h.list("LEJIOUT");
    constexpr int arrowRoom = 20;
    for (int i = 0; i < totalizer->count(); ++i) {
        const int needed = totalizer->fontMetrics().horizontalAdvance(totalizer->itemText(i)) + arrowRoom;
        EXPECT_LE(needed, totalizer->width()) << str(totalizer->itemText(i)) << " needs " << needed << " px";
    }
}

// --- The window on a pseudo-terminal ---

class AnalogTab : public testsupport::TextTabFixture {
protected:
    // The texts of every row's controls, to see that a reply changed nothing.
    std::vector<std::string> rowTexts() {
        std::vector<std::string> texts{text("LEJIOUT")};
        for (const Row& row : kRows) {
            texts.push_back(text(row.variable));
            texts.push_back(text(row.upper));
            texts.push_back(text(row.lower));
            texts.push_back(h.button(row.set)->isEnabled() ? "enabled" : "disabled");
        }
        return texts;
    }
    void query() {
        h.click("Button34");
        ASSERT_EQ(line(8), "QQQ#QX2#");
    }
};

TEST_F(AnalogTab, EverySetButtonSendsItsRowWithTheStartValues) {
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        const Row& row = kRows[i];
        h.setText("Edit8", "earlier request");
        setMemo("earlier reply");
        h.click(row.set);
        const std::string expected =
            "QQS#" + rowKey(i) + ":" + std::to_string(row.initialIndex) + ",42C80000,00000000#";
        ASSERT_EQ(expected.size(), 28u);
        EXPECT_EQ(line(28), expected) << row.set;
        EXPECT_EQ(str(h.sendField()), expected) << row.set;
        EXPECT_EQ(str(h.receiveField()), "") << row.set;
        EXPECT_EQ(form().PendingCommand(), 200) << row.set;
        EXPECT_EQ(form().TimeoutKind(), 3) << row.set;
        EXPECT_TRUE(form().Timer3->Enabled()) << row.set;
        EXPECT_EQ(form().Timer3->Interval(), 3000) << row.set;
    }
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(AnalogTab, EachSetButtonReadsOnlyItsOwnRow) {
    // All rows hold different values at once, so a button that read another row's controls would show.
    struct Values {
        int index;
        const char* upper;
        const char* lower;
        const char* frameValue;
    };
    const std::array<Values, 8> values{{
        {9, "1", "-1", "9,3F800000,BF800000"}, // the empty tenth item is a real item
        {8, "20.5", "-10", "8,41A40000,C1200000"},
        {0, "0.1", "-2", "0,3DCCCCCD,C0000000"},
        {7, "4", "-4", "7,40800000,C0800000"},
        {6, "5", "-5", "6,40A00000,C0A00000"},
        {5, "6", "-6", "5,40C00000,C0C00000"},
        {3, "7", "-7", "3,40E00000,C0E00000"},
        {1, "8", "-8", "1,41000000,C1000000"},
    }};
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        h.list(kRows[i].variable)->setCurrentIndex(values[i].index);
        h.setText(kRows[i].upper, values[i].upper);
        h.setText(kRows[i].lower, values[i].lower);
    }
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        h.click(kRows[i].set);
        EXPECT_EQ(line(28), "QQS#" + rowKey(i) + ":" + values[i].frameValue + "#") << kRows[i].set;
    }
    // A typed text that is exactly an item's text counts as that item.
    h.setText("DOUT3", QString::fromStdString(kItems[5]));
    h.click("Button5");
    EXPECT_EQ(line(28), "QQS#DA3:5,3DCCCCCD,C0000000#");
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(AnalogTab, EveryItemOfEveryVariableListTravelsAsItsDigit) {
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        for (int index = 0; index < kRows[i].itemCount; ++index) {
            h.list(kRows[i].variable)->setCurrentIndex(index);
            h.click(kRows[i].set);
            const std::string frame = line(28);
            ASSERT_EQ(frame, "QQS#" + rowKey(i) + ":" + std::string(1, static_cast<char>('0' + index)) +
                                 ",42C80000,00000000#")
                << kRows[i].variable << " item " << index;
        }
    }
}

TEST_F(AnalogTab, TotalizerSetSendsTheSelectedItemAndQuerySendsQx2) {
    h.click("Button10");
    EXPECT_EQ(line(9), "QQS#DL:0#");
    EXPECT_EQ(str(h.sendField()), "QQS#DL:0#");
    EXPECT_EQ(form().PendingCommand(), 200);
    EXPECT_EQ(form().TimeoutKind(), 3);
    for (int index = 1; index < 9; ++index) {
        h.list("LEJIOUT")->setCurrentIndex(index);
        h.click("Button10");
        EXPECT_EQ(line(9), "QQS#DL:" + std::to_string(index) + "#");
    }

    setMemo("earlier reply");
    h.click("Button34");
    EXPECT_EQ(line(8), "QQQ#QX2#");
    EXPECT_EQ(str(h.sendField()), "QQQ#QX2#");
    EXPECT_EQ(str(h.receiveField()), "");
    EXPECT_EQ(form().PendingCommand(), 202);
    EXPECT_EQ(form().TimeoutKind(), 2);
    EXPECT_TRUE(form().Timer3->Enabled());
    EXPECT_EQ(form().Timer3->Interval(), 3000);
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(AnalogTab, SetIsAnsweredAsTextAndNothingInTheGroupChanges) {
    h.setText("DOUT2H", "20.5");
    h.setText("DOUT2L", "-10");
    h.click("Button3");
    EXPECT_EQ(line(28), "QQS#DA2:2,41A40000,C1200000#");
    const std::vector<std::string> before = rowTexts();
    ASSERT_TRUE(reply("QQS#DA2:OK#"));
    EXPECT_EQ(form().PendingCommand(), 0);
    EXPECT_FALSE(form().Timer3->Enabled());
    EXPECT_FALSE(form().Timer2->Enabled()); // a set reply is not decoded
    EXPECT_EQ(rowTexts(), before);
    EXPECT_EQ(text("DOUT2H"), "20.5"); // setting does not read the row back
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(AnalogTab, AListWithTypedTextMatchingNoItemRefusesTheSetNamingItsRow) {
    query(); // leaves something to keep: pending 202, kind 2, the reply timer running
    setMemo("earlier reply");
    for (const Row& row : kRows) {
        h.setText(row.variable, "3_Variable 3"); // the start of an item is no item
        h.click(row.set);
        const auto messages = h.takeMessages();
        ASSERT_EQ(messages.size(), 1u) << row.set;
        EXPECT_EQ(messages[0].kind, app::MessageKind::Error);
        const QString rowName = QString::fromLatin1(row.label).chopped(1);
        EXPECT_TRUE(messages[0].text.contains(rowName)) << messages[0].text.toStdString();
        EXPECT_EQ(str(h.sendField()), "QQQ#QX2#") << row.set;
        EXPECT_EQ(str(h.receiveField()), "earlier reply") << row.set;
        EXPECT_EQ(form().PendingCommand(), 202);
        EXPECT_EQ(form().TimeoutKind(), 2);
        EXPECT_TRUE(form().Timer3->Enabled());
        h.setText(row.variable, QString::fromStdString(kItems[static_cast<std::size_t>(row.initialIndex)]));
    }
    h.setText("LEJIOUT", "");
    h.click("Button10");
    ASSERT_EQ(h.messages().size(), 1u);
    EXPECT_TRUE(h.messages()[0].text.contains("Totalizer Output")) << h.messages()[0].text.toStdString();
    EXPECT_EQ(str(h.sendField()), "QQQ#QX2#");
    EXPECT_TRUE(lineQuiet());
}

TEST_F(AnalogTab, ARangeFieldThatDoesNotConvertStopsTheSetWithItsMessage) {
    struct Case {
        std::size_t row;
        const char* upper;
        const char* lower;
        const char* message;
    };
    const Case cases[] = {
        {0, "abc", "0.00", "'abc' is not a valid floating point value"},
        {3, "abc", "xyz", "'abc' is not a valid floating point value"}, // the 20 mA field is read first
        {5, "100", "xyz", "'xyz' is not a valid floating point value"},
        {7, "", "0", "'' is not a valid floating point value"},
        {1, "1E39", "0", "Floating point overflow"},
        {6, "0", "-1E39", "Floating point overflow"},
    };
    query();
    for (const Case& c : cases) {
        const Row& row = kRows[c.row];
        h.setText("Edit8", "QQQ#QX2#");
        setMemo("earlier reply");
        h.setText(row.upper, c.upper);
        h.setText(row.lower, c.lower);
        h.click(row.set);
        ASSERT_EQ(strs(h.messageTexts()), std::vector<std::string>{c.message}) << row.set;
        EXPECT_EQ(h.takeMessages()[0].kind, app::MessageKind::Error);
        // The handler had emptied both fields before it reached the conversion.
        EXPECT_EQ(str(h.sendField()), "") << row.set;
        EXPECT_EQ(str(h.receiveField()), "") << row.set;
        EXPECT_EQ(form().PendingCommand(), 202) << row.set;
        EXPECT_EQ(form().TimeoutKind(), 2) << row.set;
        EXPECT_TRUE(form().Timer3->Enabled()) << row.set;
        h.setText(row.upper, "100");
        h.setText(row.lower, "0.00");
    }
    EXPECT_TRUE(lineQuiet());
}

// A number beyond even a double's range is too large for a single like any other: the same overflow
// as 1E39, not a claim that it is no number.
TEST_F(AnalogTab, ARangeBeyondADoublesRangeIsAnOverflowToo) {
    const struct {
        std::size_t row;
        const char* upper;
        const char* lower;
    } cases[] = {{2, "1E400", "0"}, {4, "0", "-1e999"}};
    for (const auto& c : cases) {
        const Row& row = kRows[c.row];
        h.setText(row.upper, c.upper);
        h.setText(row.lower, c.lower);
        h.click(row.set);
        EXPECT_EQ(strs(h.messageTexts()), std::vector<std::string>{"Floating point overflow"}) << row.set;
        h.takeMessages();
        h.setText(row.upper, "100");
        h.setText(row.lower, "0.00");
    }
    EXPECT_TRUE(lineQuiet());
}

// One full reply: "QX2", the totalizer output, then the eight rows in the set command's layout.
const std::string kFullReply = "QQQ#QX2,DL:0,"
                               "DA1:2,41200000,3F800000,"  // 10 and 1
                               "DA2:9,3DCCCCCD,00000000,"  // the empty item; 0.1 and 0
                               "DA3:9,47F12000,C1200000,"  // no item 9 in DOUT3; 123456 and -10
                               "DA4:0,42c80000,42C80000,"  // lower-case digits count as 0: 34; 100
                               "DA5:5,41A40000,BF800000,"  // 20.5 and -1
                               "DA6:6,40000000,40400000,"  // 2 and 3
                               "DA7:7,40800000,40A00000,"  // 4 and 5
                               "DA8:1,40C00000,40E00000#"; // 6 and 7

struct Filled {
    std::string variable;
    std::string upper;
    std::string lower;
};
const std::array<Filled, 8> kFilled{{
    {kItems[2], "10", "1"},
    {kItems[9], "0.100", "0"},
    {"", "12345", "-10"},
    {kItems[0], "34", "100"},
    {kItems[5], "20.5", "-1"},
    {kItems[6], "2", "3"},
    {kItems[7], "4", "5"},
    {kItems[1], "6", "7"},
}};

TEST_F(AnalogTab, QueryWithAFullReplyFillsEveryRowAfterTheParseDelay) {
    // The first row's list holds the item the reply selects, its text typed over by the user.
    h.list("DOUT1")->setCurrentIndex(2);
    h.setText("DOUT1", "typed over");
    query();
    ASSERT_TRUE(reply(kFullReply));
    QElapsedTimer shown;
    shown.start();
    EXPECT_TRUE(form().Timer2->Enabled());
    EXPECT_EQ(text("DOUT1H"), "100") << "decoded before the parse timer fired";
    ASSERT_TRUE(waitUntil([&] { return text("DOUT1H") == "10"; }, 2000ms));
    EXPECT_GE(shown.elapsed(), 270);
    EXPECT_LT(shown.elapsed(), 1000);

    EXPECT_EQ(text("LEJIOUT"), "0 Close");
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        const Row& row = kRows[i];
        EXPECT_EQ(text(row.variable), kFilled[i].variable) << row.variable;
        EXPECT_EQ(text(row.upper), kFilled[i].upper) << row.upper;
        EXPECT_EQ(text(row.lower), kFilled[i].lower) << row.lower;
        EXPECT_TRUE(h.button(row.set)->isEnabled()) << row.set;
    }
    EXPECT_EQ(h.list("DOUT3")->currentIndex(), -1);
    EXPECT_EQ(h.list("DOUT2")->currentIndex(), 9);
    EXPECT_EQ(form().PendingCommand(), 202);
    EXPECT_FALSE(form().Timer3->Enabled());
    EXPECT_EQ(str(h.receiveField()), kFullReply);
    EXPECT_TRUE(h.messages().empty());

    // What was read back is sent again as it stands: 0.100 goes out as 0.1 did.
    h.click("Button3");
    EXPECT_EQ(line(28), "QQS#DA2:9,3DCCCCCD,00000000#");
    // The list typed over shows the item again, so its Set sends the item's digit.
    h.click(kRows[0].set);
    EXPECT_EQ(line(28), "QQS#DA1:2,41200000,3F800000#");
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(AnalogTab, ActiveTotalizerOutputClosesTheLastFourRowsAndZeroReopensThem) {
    for (std::size_t i = 4; i < kRows.size(); ++i) {
        h.list(kRows[i].variable)->setCurrentIndex(4);
    }
    query();
    // DL:3 closes rows DOUTA4..DOUTA7: their lists show "0 Close", Set is disabled, DA5..DA8 unread.
    ASSERT_TRUE(reply("QX2,DL:3,DA1:8,41200000,3F800000,DA5:2,40000000,40400000,DA8:3,40000000,40400000#"));
    ASSERT_TRUE(waitUntil([&] { return text("LEJIOUT") == kItems[3]; }, 2000ms));
    EXPECT_EQ(text("DOUT1"), kItems[8]);
    EXPECT_EQ(text("DOUT1H"), "10");
    for (std::size_t i = 4; i < kRows.size(); ++i) {
        const Row& row = kRows[i];
        EXPECT_EQ(text(row.variable), "0 Close") << row.variable;
        EXPECT_EQ(h.list(row.variable)->currentIndex(), 0) << row.variable;
        EXPECT_EQ(text(row.upper), "100") << row.upper;
        EXPECT_EQ(text(row.lower), "0.00") << row.lower;
        EXPECT_FALSE(h.button(row.set)->isEnabled()) << row.set;
        h.button(row.set)->click(); // a disabled button does nothing
    }
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(h.button(kRows[i].set)->isEnabled()) << kRows[i].set;
    }
    EXPECT_TRUE(lineQuiet());
    EXPECT_TRUE(h.messages().empty());

    // DL:0 opens them again and fills them.
    ASSERT_TRUE(reply("QX2,DL:0,DA5:2,40000000,40400000,DA6:3,40800000,40A00000,"
                      "DA7:4,40C00000,40E00000,DA8:5,41000000,41100000#"));
    ASSERT_TRUE(waitUntil([&] { return text("LEJIOUT") == "0 Close"; }, 2000ms));
    const std::array<Filled, 4> reopened{{
        {kItems[2], "2", "3"},
        {kItems[3], "4", "5"},
        {kItems[4], "6", "7"},
        {kItems[5], "8", "9"},
    }};
    for (std::size_t i = 4; i < kRows.size(); ++i) {
        const Row& row = kRows[i];
        EXPECT_TRUE(h.button(row.set)->isEnabled()) << row.set;
        EXPECT_EQ(text(row.variable), reopened[i - 4].variable) << row.variable;
        EXPECT_EQ(text(row.upper), reopened[i - 4].upper) << row.upper;
        EXPECT_EQ(text(row.lower), reopened[i - 4].lower) << row.lower;
    }
    EXPECT_EQ(text("DOUT1"), kItems[8]) << "a row missing from the reply keeps its fields";
    h.click("Button38");
    EXPECT_EQ(line(28), "QQS#DA8:5,41000000,41100000#");
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(AnalogTab, WithoutDlTheUsersTotalizerChoiceDecidesTheLastRows) {
    h.list("LEJIOUT")->setCurrentIndex(6);
    query();
    ASSERT_TRUE(reply("QX2,DA1:3,40000000,40400000,DA5:2,40000000,40400000#"));
    ASSERT_TRUE(waitUntil([&] { return text("DOUT1") == kItems[3]; }, 2000ms));
    EXPECT_EQ(text("LEJIOUT"), kItems[6]);
    for (std::size_t i = 4; i < kRows.size(); ++i) {
        EXPECT_FALSE(h.button(kRows[i].set)->isEnabled()) << kRows[i].set;
    }
    EXPECT_EQ(text("DOUT5H"), "100");
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(AnalogTab, ADecoderErrorStopsAfterTheRowsBeforeIt) {
    query();
    // Row DA2's selection is no digit: DA1 takes its values, the message follows, nothing after changes.
    ASSERT_TRUE(reply("QX2,DL:7,DA1:3,40000000,40400000,DA2:x,3F800000,3F800000,DA3:1,3F800000,3F800000#"));
    ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 2000ms));
    EXPECT_EQ(strs(h.messageTexts()), std::vector<std::string>{"'x' is not a valid integer value"});
    EXPECT_EQ(h.takeMessages()[0].kind, app::MessageKind::Error);
    EXPECT_EQ(text("LEJIOUT"), kItems[7]);
    EXPECT_EQ(text("DOUT1"), kItems[3]);
    EXPECT_EQ(text("DOUT1H"), "2");
    EXPECT_EQ(text("DOUT1L"), "3");
    EXPECT_EQ(text("DOUT2"), kItems[2]);
    EXPECT_EQ(text("DOUT2H"), "100");
    EXPECT_EQ(text("DOUT3"), kItems[3]);
    EXPECT_EQ(text("DOUT3H"), "100");
    // Decoding stopped before the totalizer step: the last rows are neither closed nor read.
    for (std::size_t i = 4; i < kRows.size(); ++i) {
        EXPECT_TRUE(h.button(kRows[i].set)->isEnabled()) << kRows[i].set;
        EXPECT_EQ(text(kRows[i].variable), "0 Close") << kRows[i].variable;
    }
    EXPECT_EQ(form().PendingCommand(), 202);

    // A reply cut inside a row: the missing hex digits count as 0, so no message.
    ASSERT_TRUE(reply("QX2,DL:0,DA4:6,4120"));
    ASSERT_TRUE(waitUntil([&] { return text("DOUT4") == kItems[6]; }, 2000ms));
    EXPECT_EQ(text("DOUT4H"), "10");
    EXPECT_EQ(text("DOUT4L"), "0");
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(AnalogTab, EveryTestButtonSendsItsFieldUnchangedAndLeavesTheExchangeAlone) {
    // The initial texts, button by button.
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        setMemo("earlier reply");
        h.click(kRows[i].test);
        const std::string expected = "QQQ#AV" + std::to_string(i) + "O:100.0#";
        EXPECT_EQ(line(15), expected) << kRows[i].test;
        EXPECT_EQ(str(h.sendField()), expected) << kRows[i].test;
        EXPECT_EQ(str(h.receiveField()), "") << kRows[i].test;
    }
    // Different texts in every field at once: each button sends its own, untrimmed and unchecked.
    const std::array<const char*, 8> texts{"12.34", "", "abc", " 7 ", "-0,5", "1E39", "4", "99999.999"};
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        h.setText(kRows[i].testValue, texts[i]);
    }
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        h.click(kRows[i].test);
        const std::string expected = "QQQ#AV" + std::to_string(i) + "O:" + texts[i] + "#";
        EXPECT_EQ(line(expected.size()), expected) << kRows[i].test;
    }
    // A fresh window has nothing pending: a test sets no code, no kind, and leaves the reply timer at
    // its default interval, stopped.
    EXPECT_EQ(form().PendingCommand(), 0);
    EXPECT_EQ(form().TimeoutKind(), 0);
    EXPECT_FALSE(form().Timer3->Enabled());
    EXPECT_EQ(form().Timer3->Interval(), 1000);
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(AnalogTab, TotalizerTestSendsTheIntegerPaddedToNineDigits) {
    struct Case {
        const char* text;
        const char* frame;
    };
    const Case cases[] = {
        {"000000000", "QQQ#LEIO:000000000#"},     {"123", "QQQ#LEIO:000000123#"},
        {"-5", "QQQ#LEIO:-000000005#"},           {"1234567890", "QQQ#LEIO:1234567890#"},
        {"007", "QQQ#LEIO:000000007#"},           {"$1F", "QQQ#LEIO:000000031#"},
        {"-2147483648", "QQQ#LEIO:-2147483648#"},
    };
    query(); // pending 202, kind 2, the reply timer running: a test keeps them
    for (const Case& c : cases) {
        h.setText("Edit3", c.text);
        setMemo("earlier reply");
        h.click("Button11");
        EXPECT_EQ(line(std::string(c.frame).size()), c.frame) << c.text;
        EXPECT_EQ(str(h.sendField()), c.frame) << c.text;
        EXPECT_EQ(str(h.receiveField()), "") << c.text;
        EXPECT_EQ(form().PendingCommand(), 202);
        EXPECT_EQ(form().TimeoutKind(), 2);
        EXPECT_TRUE(form().Timer3->Enabled());
        EXPECT_EQ(form().Timer3->Interval(), 3000);
    }
    EXPECT_TRUE(h.messages().empty());

    // A text that is not an integer stops before anything changes.
    for (const char* bad : {"abc", "", "2147483648", "1.5"}) {
        h.setText("Edit3", bad);
        setMemo("earlier reply");
        h.click("Button11");
        EXPECT_EQ(strs(h.messageTexts()),
                  std::vector<std::string>{"'" + std::string(bad) + "' is not a valid integer value"});
        h.takeMessages();
        EXPECT_EQ(str(h.sendField()), "QQQ#LEIO:-2147483648#") << bad;
        EXPECT_EQ(str(h.receiveField()), "earlier reply") << bad;
    }
    EXPECT_TRUE(lineQuiet());
}

TEST_F(AnalogTab, TestAfterQueryHasItsReplyDecodedAsTheQuerysReply) {
    query();
    h.click("Button35");
    EXPECT_EQ(line(15), "QQQ#AV3O:100.0#");
    EXPECT_EQ(form().PendingCommand(), 202);
    const std::vector<std::string> before = rowTexts();

    // The converter's answer to the test holds DA1 but no "QX2": shown, decoded, nothing changes.
    ASSERT_TRUE(reply("AV3O:OK,DA1:5,41200000,3F800000"));
    EXPECT_TRUE(form().Timer2->Enabled());
    ASSERT_TRUE(decoded());
    EXPECT_EQ(rowTexts(), before);
    EXPECT_EQ(form().PendingCommand(), 202);

    // The same block with the marker is decoded: the reply really went to the analog output decoder.
    ASSERT_TRUE(reply("AV3O:OK,QX2,DA1:5,41200000,3F800000"));
    ASSERT_TRUE(waitUntil([&] { return text("DOUT1") == kItems[5]; }, 2000ms));
    EXPECT_EQ(text("DOUT1H"), "10");
    EXPECT_TRUE(h.messages().empty());
}

// The one real reply timeout of this file: 3 seconds.
TEST_F(AnalogTab, TestWithNothingPendingIsAnsweredAsTextAndNoTimeoutFollows) {
    // A set command answered leaves pending 0 and the setting timeout's kind behind.
    h.click("Button2");
    line(28);
    ASSERT_TRUE(reply("OK"));
    ASSERT_EQ(form().PendingCommand(), 0);
    ASSERT_EQ(form().TimeoutKind(), 3);

    h.click("Button51");
    EXPECT_EQ(line(15), "QQQ#AV7O:100.0#");
    EXPECT_EQ(str(h.receiveField()), "");
    // Past the reply timeout: had the test started the timer, "Parameter Setting Timeout!" would show.
    testsupport::pumpFor(3300ms);
    EXPECT_TRUE(h.messages().empty());
    EXPECT_FALSE(form().Timer3->Enabled());

    ASSERT_TRUE(reply("AV7O:OK"));
    EXPECT_EQ(form().PendingCommand(), 0);
    EXPECT_FALSE(form().Timer2->Enabled());
    EXPECT_TRUE(h.messages().empty());
}

} // namespace
