// The exchange's rules without a port: receive actions by pending command, timeout messages, the
// timer's assignment semantics, list selection with typed text, and the logo decoding.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>

#include "app/exchange/Exchange.h"
#include "app/window/Lists.h"
#include "app/window/Logo.h"
#include "app/exchange/Timer.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;

namespace {

TEST(ReceiveAction, EveryCodeShowsParsesAndClearsAsTabled) {
    struct Row {
        int32_t code;
        bool hex;
        bool parse;
        bool clear;
    };
    const Row rows[] = {
        {100, true, true, false},  {103, true, true, false},  {104, true, false, false},
        {106, true, false, false}, {302, true, false, false}, {201, false, true, false},
        {202, false, true, false}, {203, false, true, false}, {204, false, true, false},
        {206, false, true, false}, {200, false, false, true}, {0, false, false, true},
    };
    for (const Row& row : rows) {
        const app::ReceiveAction action = app::ReceiveActionFor(row.code);
        EXPECT_EQ(action.showHex, row.hex) << row.code;
        EXPECT_EQ(action.startParse, row.parse) << row.code;
        EXPECT_EQ(action.clearPending, row.clear) << row.code;
    }
    // Any code that is not tabled is a leftover: shown as text and forgotten.
    for (int32_t code : {-1, 1, 99, 101, 102, 105, 199, 205, 207, 300, 301, 303, 1000}) {
        const app::ReceiveAction action = app::ReceiveActionFor(code);
        EXPECT_FALSE(action.showHex) << code;
        EXPECT_FALSE(action.startParse) << code;
        EXPECT_TRUE(action.clearPending) << code;
    }
}

TEST(TimeoutMessage, KindsOneToFourOnly) {
    EXPECT_EQ(app::TimeoutMessage(1), "Connection Timeout!");
    EXPECT_EQ(app::TimeoutMessage(2), "Parameter Query Timeout!");
    EXPECT_EQ(app::TimeoutMessage(3), "Parameter Setting Timeout!");
    EXPECT_EQ(app::TimeoutMessage(4), "HART Command Timeout!");
    for (int32_t kind : {0, 5, -1, 200}) {
        EXPECT_EQ(app::TimeoutMessage(kind), "") << kind;
    }
}

TEST(TextUpToZero, StopsAtTheFirstZeroByte) {
    EXPECT_EQ(app::TextUpToZero(std::string("AB\0CD", 5)), "AB");
    EXPECT_EQ(app::TextUpToZero(std::string("\0AB", 3)), "");
    EXPECT_EQ(app::TextUpToZero("QX1,ADR:005"), "QX1,ADR:005");
}

TEST(Timer, UnchangedAssignmentsDoNotRestartTheCountdown) {
    app::Timer timer;
    int fired = 0;
    QElapsedTimer clock;
    timer.OnTimer = [&] {
        ++fired;
        timer.SetEnabled(false);
    };
    EXPECT_FALSE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000);
    timer.SetInterval(300);
    clock.start();
    timer.SetEnabled(true);
    testsupport::pumpFor(150ms);
    timer.SetEnabled(true); // already enabled: the countdown goes on
    timer.SetInterval(300); // unchanged: likewise
    ASSERT_TRUE(testsupport::waitUntil([&] { return fired == 1; }, 2000ms));
    EXPECT_GE(clock.elapsed(), 280);
    EXPECT_LT(clock.elapsed(), 420);
}

TEST(Timer, ChangingTheIntervalOfARunningTimerStartsAFreshCountdown) {
    app::Timer timer;
    int fired = 0;
    QElapsedTimer clock;
    timer.OnTimer = [&] {
        ++fired;
        timer.SetEnabled(false);
    };
    timer.SetInterval(200);
    timer.SetEnabled(true);
    testsupport::pumpFor(150ms);
    clock.start();
    timer.SetInterval(250);
    ASSERT_TRUE(testsupport::waitUntil([&] { return fired == 1; }, 2000ms));
    EXPECT_GE(clock.elapsed(), 230);
}

TEST(Timer, RepeatsWhileEnabledAndStopsWhenDisabled) {
    app::Timer timer;
    int fired = 0;
    timer.OnTimer = [&] { ++fired; };
    timer.SetInterval(40);
    timer.SetEnabled(true);
    ASSERT_TRUE(testsupport::waitUntil([&] { return fired >= 3; }, 2000ms));
    timer.SetEnabled(false);
    const int seen = fired;
    testsupport::pumpFor(150ms);
    EXPECT_EQ(fired, seen);
}

class ListSelection : public ::testing::Test {
protected:
    void SetUp() override {
        list.setEditable(true);
        list.setInsertPolicy(QComboBox::NoInsert);
        list.addItems({"Transparent Mode", "Single Meter Operation Mode", "Test current output mode", ""});
        list.setCurrentIndex(0);
    }
    QComboBox list;
};

TEST_F(ListSelection, PickedItemCounts) {
    for (int i = 0; i < list.count(); ++i) {
        list.setCurrentIndex(i);
        EXPECT_EQ(app::SelectedIndex(&list), i);
    }
}

TEST_F(ListSelection, TypedTextCountsAsTheItemItMatchesExactly) {
    list.setEditText("Test current output mode");
    EXPECT_EQ(app::SelectedIndex(&list), 2);
    list.setEditText("test current output mode");
    EXPECT_EQ(app::SelectedIndex(&list), -1);
    list.setEditText("Transparent");
    EXPECT_EQ(app::SelectedIndex(&list), -1);
    list.setEditText(""); // the empty fourth item is a real item
    EXPECT_EQ(app::SelectedIndex(&list), 3);
}

TEST_F(ListSelection, SelectingBeyondTheListLeavesNoSelectionAndNoText) {
    app::SelectIndex(&list, 7);
    EXPECT_EQ(list.currentText(), "");
    EXPECT_EQ(app::SelectedIndex(&list), -1);
    app::SelectIndex(&list, -1);
    EXPECT_EQ(app::SelectedIndex(&list), -1);
    app::SelectIndex(&list, 1);
    EXPECT_EQ(list.currentText(), "Single Meter Operation Mode");
    EXPECT_EQ(app::SelectedIndex(&list), 1);
}

TEST_F(ListSelection, ReselectingTheCurrentItemRestoresItsText) {
    list.setCurrentIndex(1);
    list.setEditText("typed over");
    app::SelectIndex(&list, 1);
    EXPECT_EQ(list.currentText(), "Single Meter Operation Mode");
}

TEST(Logo, DecodesTheCompiledPictureStretchedToTheBox) {
    const QImage logo = app::LogoPicture(97, 41);
    ASSERT_FALSE(logo.isNull());
    EXPECT_EQ(logo.size(), QSize(97, 41));
}

TEST(Logo, DataThatIsNotAJpegGivesANullImageInsteadOfEndingTheProgram) {
    EXPECT_TRUE(app::DecodeJpeg(QByteArray()).isNull());
    EXPECT_TRUE(app::DecodeJpeg(QByteArray("not a picture at all")).isNull());
    // A JPEG start marker followed by garbage makes libjpeg fail inside the header.
    EXPECT_TRUE(app::DecodeJpeg(QByteArray::fromHex("FFD8FFE000104A46494600FFFFFFFF")).isNull());
}

} // namespace
