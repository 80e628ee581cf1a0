// The window's timers run by the test instead of the wall clock: while a ManualTimers lives, a timer
// whose countdown starts waits for the test to fire it, or fires on the next turn of the event loop
// when its name is among those that fire at once (the parse timer, a poll's interval). So a test of
// the exchange never races the clock: silence is declared when the test says the line is silent.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <vector>

#include "app/exchange/Timer.h"

namespace testsupport {

class ManualTimers : public app::TimerDriver {
public:
    // `atOnce`: the object names of the timers that fire as soon as they start.
    explicit ManualTimers(QStringList atOnce = {});
    ~ManualTimers() override;
    ManualTimers(const ManualTimers&) = delete;
    ManualTimers& operator=(const ManualTimers&) = delete;

    void fireAtOnce(const QStringList& names) { atOnce_ = names; }
    // Whether a timer of that name is counting down.
    bool running(const QString& name) const;
    // Fires the timer of that name that started first, as its countdown running out would; false when
    // none of that name runs.
    bool fire(const QString& name);

    void started(app::Timer& timer) override;
    void stopped(app::Timer& timer) override;

private:
    void fireThis(app::Timer* timer);

    QStringList atOnce_;
    std::vector<QPointer<app::Timer>> running_;
};

} // namespace testsupport
