// The main window by keyboard and at other sizes: Tab visits every control of each tab once, group by
// group, and leaves the send and receive fields; the status line keeps to the bottom edge; the port
// field shows a long name whole in its tooltip and by its head and tail in the field.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/commissioning/Commissioning.h"
#include "app/commissioning/CommissioningDialogs.h"
#include "app/inspection/InspectionDialogs.h"
#include "app/commissioning/LiveValuesWindow.h"
#include "app/configuration/ConfigurationActions.h"
#include "app/traffic/ListenDialog.h"
#include "app/traffic/TrafficMonitor.h"
#include "app/traffic/TrafficWindow.h"
#include "app/window/PortComboBox.h"
#include "tests/support/FormHarness.h"

using testsupport::FormHarness;

namespace {

// The control a focus widget stands for: a tab widget for its tab bar, the nearest named widget
// otherwise.
QWidget* control(QWidget* widget) {
    if (auto* bar = qobject_cast<QTabBar*>(widget); bar && qobject_cast<QTabWidget*>(bar->parentWidget())) {
        return bar->parentWidget();
    }
    while (widget && widget->objectName().isEmpty()) {
        widget = widget->parentWidget();
    }
    return widget;
}

// Every control the user can reach with Tab on the tab shown now.
std::vector<QWidget*> reachable(QWidget& window) {
    std::vector<QWidget*> controls;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if ((w->focusPolicy() & Qt::TabFocus) && !w->focusProxy() && w->isVisibleTo(&window) && w->isEnabled()) {
            controls.push_back(control(w));
        }
    }
    return controls;
}

// The controls Tab (or Shift+Tab) goes through from `start` until it comes back to it, at most `bound`.
std::vector<QWidget*> walk(QWidget& window, QWidget* start, bool forward, int bound = 400) {
    start->setFocus(Qt::TabFocusReason);
    std::vector<QWidget*> seen{control(QApplication::focusWidget())};
    for (int i = 0; i < bound; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, forward ? Qt::NoModifier : Qt::ShiftModifier);
        QWidget* now = control(QApplication::focusWidget());
        if (now == seen.front()) {
            return seen;
        }
        seen.push_back(now);
        if (!now || now->window() != &window) {
            break;
        }
    }
    return seen;
}

std::vector<std::string> names(const std::vector<QWidget*>& widgets) {
    std::vector<std::string> out;
    for (QWidget* w : widgets) {
        out.push_back(w ? w->objectName().toStdString() : "(none)");
    }
    return out;
}

class Keyboard : public ::testing::Test {
protected:
    void SetUp() override {
        h.form().show();
        h.form().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&h.form()));
    }

    FormHarness h;
};

} // namespace

// Each tab, walked with Tab from the header's menu button: every control once, the controls of a
// group one after another, back to the start; Shift+Tab walks the same way back. The send and
// receive fields hand the focus on instead of taking a Tab character.
TEST_F(Keyboard, TabVisitsEveryControlOfEachTabOnceGroupByGroup) {
    auto* tabs = h.find<QTabWidget>("PageControl1");
    QWidget* start = h.find<QWidget>("ConfigurationButton");
    for (int tab = 0; tab < tabs->count(); ++tab) {
        SCOPED_TRACE(tab);
        tabs->setCurrentIndex(tab);
        const std::vector<QWidget*> cycle = walk(h.form(), start, true);
        ASSERT_EQ(control(QApplication::focusWidget()), start) << "Tab never came back: stuck after "
                                                                << names(cycle).back();

        std::vector<QWidget*> expected = reachable(h.form());
        std::vector<QWidget*> visited = cycle;
        std::ranges::sort(expected);
        std::ranges::sort(visited);
        EXPECT_EQ(std::ranges::adjacent_find(visited), visited.end()) << "a control visited twice";
        EXPECT_EQ(names(visited), names(expected));

        // A group is entered once: its controls follow one another.
        std::map<QGroupBox*, std::vector<std::size_t>> positions;
        for (std::size_t i = 0; i < cycle.size(); ++i) {
            for (QWidget* up = cycle[i]->parentWidget(); up; up = up->parentWidget()) {
                if (auto* group = qobject_cast<QGroupBox*>(up)) {
                    positions[group].push_back(i);
                }
            }
        }
        for (const auto& [group, at] : positions) {
            EXPECT_EQ(at.back() - at.front() + 1, at.size()) << group->objectName().toStdString() << " entered twice";
        }

        std::vector<QWidget*> back = walk(h.form(), start, false);
        std::reverse(back.begin() + 1, back.end());
        EXPECT_EQ(names(back), names(cycle)) << "Shift+Tab goes back the same way";
    }
    // The "Serial Parameters" group keeps its own order, and the added buttons are on the way.
    tabs->setCurrentIndex(0);
    const std::vector<std::string> first = names(walk(h.form(), start, true));
    const auto at = std::ranges::find(first, "SPREALCOM");
    ASSERT_NE(at, first.end());
    EXPECT_EQ(std::vector<std::string>(at, at + 5),
              (std::vector<std::string>{"SPREALCOM", "Button6", "Button1", "ComboBox10", "ComboBox11"}));
    EXPECT_EQ(first.front(), "ConfigurationButton");
    EXPECT_EQ(std::vector<std::string>(first.end() - 3, first.end()),
              (std::vector<std::string>{"Edit8", "Memo10", "Button26"}));
    tabs->setCurrentIndex(2);
    const std::vector<std::string> third = names(walk(h.form(), start, true));
    const auto query = std::ranges::find(third, "Button19");
    ASSERT_NE(query, third.end());
    EXPECT_EQ(*(query + 1), "FromInstrumentButton");

    EXPECT_EQ(h.sendField(), "");
    EXPECT_EQ(h.receiveField(), "") << "no Tab character typed into the receive field";
}

// The header's menu opens with its mnemonic; each menu and context menu of the window gives every
// entry a mnemonic of its own.
TEST_F(Keyboard, MenusHaveAMnemonicForEveryEntryAndNoneTwice) {
    const auto mnemonics = [](const QMenu* menu) {
        std::vector<QChar> keys;
        for (const QAction* action : menu->actions()) {
            const QString text = action->text().section(QLatin1Char('\t'), 0, 0);
            if (action->isSeparator() || text.isEmpty()) {
                continue;
            }
            const auto amp = text.indexOf(QLatin1Char('&'));
            EXPECT_GE(amp, 0) << text.toStdString() << " has no mnemonic";
            if (amp >= 0 && amp + 1 < text.size()) {
                keys.push_back(text.at(amp + 1).toLower());
            }
        }
        std::ranges::sort(keys);
        return keys;
    };
    std::vector<QChar> keys = mnemonics(h.form().Configuration().menu());
    EXPECT_EQ(std::ranges::adjacent_find(keys), keys.end()) << "a mnemonic used twice in the menu";

    // The fields' context menus: Qt's own entries (Select All and Delete have none), ours after them.
    for (const char* name : {"Edit8", "Memo10"}) {
        std::unique_ptr<QMenu> menu(h.form().Traffic().contextMenuFor(h.find<QWidget>(name)));
        std::vector<QChar> contextKeys;
        for (QAction* action : menu->actions()) {
            const QString text = action->text().section(QLatin1Char('\t'), 0, 0);
            if (const auto amp = text.indexOf(QLatin1Char('&')); amp >= 0 && amp + 1 < text.size()) {
                contextKeys.push_back(text.at(amp + 1).toLower());
            }
        }
        std::ranges::sort(contextKeys);
        EXPECT_EQ(std::ranges::adjacent_find(contextKeys), contextKeys.end()) << name;
    }

    // Alt+C opens the header's menu.
    auto* button = h.find<QPushButton>("ConfigurationButton");
    bool opened = false;
    QTimer::singleShot(0, [&] {
        if (auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            opened = popup == button->menu();
            popup->close();
        }
    });
    QTest::keyClick(&h.form(), Qt::Key_C, Qt::AltModifier);
    EXPECT_TRUE(opened);
}

// Grown to any size, the window keeps its status line on the bottom edge and across its width; the
// specified controls keep their places.
TEST_F(Keyboard, TheStatusLineStaysOnTheBottomEdgeAtAnySize) {
    auto* status = h.find<QLabel>("StatusLine");
    const QRect memo = h.find<QWidget>("Memo10")->geometry();
    const QSize smallest = h.form().minimumSize();
    for (const QSize size : {smallest, QSize(1920, 1080), QSize(1300, 700), smallest}) {
        SCOPED_TRACE(size.width());
        h.form().resize(size);
        QApplication::processEvents();
        ASSERT_EQ(h.form().size(), size);
        EXPECT_EQ(status->geometry().bottom(), size.height() - 1);
        EXPECT_EQ(status->geometry().left(), 8);
        EXPECT_EQ(status->geometry().right(), size.width() - 9);
        EXPECT_FALSE(status->geometry().intersects(memo));
        EXPECT_EQ(h.find<QWidget>("Memo10")->geometry(), memo);
    }
    EXPECT_EQ(status->geometry(), QRect(8, 657, 989, 16)) << "where the form puts it at the smallest size";
}

// A network URL does not fit the narrow "Serial Port:" field: its tooltip holds it whole and the field
// shows its head and tail; while edited, the field holds the whole text.
TEST_F(Keyboard, ALongPortNameShowsWholeInTheTooltipAndByHeadAndTailInTheField) {
    auto* port = h.find<app::PortComboBox>("SPREALCOM");
    auto* field = qobject_cast<app::MiddleElidingLineEdit*>(port->lineEdit());
    ASSERT_NE(field, nullptr);
    h.find<QWidget>("Button1")->setFocus();
    struct Case {
        QString name;
        bool elided;
    } cases[] = {
        {"COM3", false},
        {"rfc2217://127.0.0.1:17301", true},
        {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        h.form().SetPortName(c.name);
        EXPECT_EQ(port->toolTip(), c.name);
        EXPECT_EQ(port->portName(), c.name.toUtf8());
        const QString shown = field->shownText();
        if (!c.elided) {
            EXPECT_EQ(shown, c.name);
            continue;
        }
        ASSERT_NE(shown, c.name);
        const auto ellipsis = shown.indexOf(QChar(0x2026));
        ASSERT_GT(ellipsis, 0) << shown.toStdString();
        EXPECT_TRUE(c.name.startsWith(shown.left(ellipsis))) << shown.toStdString();
        EXPECT_TRUE(c.name.endsWith(shown.mid(ellipsis + 1))) << shown.toStdString();
        EXPECT_GE(shown.size() - 1, 4) << "a head and a tail worth reading";
    }
    port->setFocus();
    EXPECT_EQ(field->shownText(), cases[2].name) << "edited whole";
}

// Every window and dialog of ours, as a keyboard user meets it: one default button, a mnemonic of its
// own on each button and labelled field, every table heading whole before anything was read, and
// Escape closes it.
TEST_F(Keyboard, EveryWindowHasADefaultButtonMnemonicsWholeHeadingsAndClosesWithEscape) {
    const auto listenDialog = [&]() -> QWidget* {
        app::TrafficWindow& monitor = h.form().Traffic().showWindow();
        monitor.findChild<QPushButton*>(QStringLiteral("TrafficListen"))->click();
        return monitor.findChild<app::ListenDialog*>(QStringLiteral("ListenDialog"));
    };
    const struct {
        const char* what;
        std::function<QWidget*()> open;
    } windows[] = {
        {"Traffic Monitor", [&]() -> QWidget* { return &h.form().Traffic().showWindow(); }},
        {"Listen on Another Port", listenDialog},
        {"Live Values", [&]() -> QWidget* { return &h.form().Commissioning().liveValues(); }},
        {"Find Instrument", [&]() -> QWidget* { return &h.form().Commissioning().findInstrument(); }},
        {"From the instrument", [&]() -> QWidget* { return &h.form().Commissioning().fieldsFromInstrument(); }},
        {"Check Mapping", [&]() -> QWidget* { return &h.form().Commissioning().checkMapping(); }},
        {"Register Map", [&]() -> QWidget* { return &h.form().Commissioning().registerMap(); }},
        {"Loop Check", [&]() -> QWidget* { return &h.form().Commissioning().loopCheck(); }},
        {"Inspection", [&]() -> QWidget* { return &h.form().Commissioning().inspection(); }},
    };
    for (const auto& w : windows) {
        SCOPED_TRACE(w.what);
        QPointer<QWidget> window = w.open();
        ASSERT_TRUE(window);
        // The offscreen platform leaves the main window active when another one asks to be.
        QApplication::setActiveWindow(window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));

        int defaults = 0;
        std::vector<QChar> keys;
        for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
            if (!button->isVisibleTo(window) || button->text().isEmpty()) {
                continue;
            }
            const auto* push = qobject_cast<QPushButton*>(button);
            defaults += push && push->isDefault();
            const auto amp = button->text().indexOf(QLatin1Char('&'));
            EXPECT_GE(amp, 0) << button->text().toStdString() << " has no mnemonic";
            if (amp >= 0) {
                keys.push_back(button->text().at(amp + 1).toLower());
            }
        }
        for (const QLabel* label : window->findChildren<QLabel*>()) {
            if (label->buddy() && label->isVisibleTo(window)) {
                const auto amp = label->text().indexOf(QLatin1Char('&'));
                ASSERT_GE(amp, 0) << label->text().toStdString();
                keys.push_back(label->text().at(amp + 1).toLower());
            }
        }
        EXPECT_EQ(defaults, 1) << "one default button";
        std::ranges::sort(keys);
        EXPECT_EQ(std::ranges::adjacent_find(keys), keys.end()) << "a mnemonic used twice";

        for (const QTableView* table : window->findChildren<QTableView*>()) {
            const QHeaderView* header = table->horizontalHeader();
            for (int c = 0; c < header->count(); ++c) {
                EXPECT_GE(header->sectionSize(c), header->sectionSizeHint(c))
                    << table->objectName().toStdString() << ": heading "
                    << table->model()->headerData(c, Qt::Horizontal).toString().toStdString() << " clipped";
            }
        }

        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus && focus->window() == window ? focus : window.data(), Qt::Key_Escape);
        EXPECT_TRUE(!window || !window->isVisible()) << "Escape did not close it";
    }
}
