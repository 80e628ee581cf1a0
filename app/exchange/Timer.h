// A timer with the semantics the exchange relies on: assigning an unchanged Enabled or Interval does
// nothing (enabling a running timer does not restart it), changing the interval of a running timer
// starts a fresh countdown, and the default interval is 1000 ms. A new timer is stopped. Tests may run
// the countdowns themselves (TimerDriver).
#pragma once

#include <functional>

#include <QObject>
#include <QTimer>

namespace app {

class Timer;

// Tests run the timers instead of the wall clock: with a driver set, a timer whose countdown starts
// (or starts afresh) tells the driver and fires only when the driver calls Fire(); one that stops
// tells it too. Timers tell the driver that is set when they start; set it before the window exists.
class TimerDriver {
public:
    virtual ~TimerDriver() = default;
    virtual void started(Timer& timer) = 0;
    virtual void stopped(Timer& timer) = 0;
};
// nullptr: the wall clock again.
void SetTimerDriver(TimerDriver* driver);

class Timer : public QObject {
    Q_OBJECT
public:
    explicit Timer(QObject* parent = nullptr);
    ~Timer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    int Interval() const { return interval_; }
    void SetInterval(int value);
    // Milliseconds until the next expiry while enabled (0 when due), -1 when stopped.
    int RemainingMs() const;
    // The countdown ran out: OnTimer runs (while enabled) and the next countdown starts. For a
    // driver; the wall clock calls it by itself.
    void Fire();

    // Runs on every expiry while enabled.
    std::function<void()> OnTimer;

private:
    void restart();
    void halt();

    QTimer timer_;
    bool enabled_ = false;
    int interval_ = 1000;
    TimerDriver* driver_ = nullptr; // the driver told of the countdown under way

};

} // namespace app
