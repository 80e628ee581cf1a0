// Pieces of the window without a port: the timer's assignment semantics, list selection with typed
// text, and the logo decoding.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>

#include "app/exchange/Timer.h"
#include "app/window/Lists.h"
#include "app/window/Logo.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;

namespace {

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
