// Timer with "unchanged assignment does nothing" semantics over QTimer.
#include "app/exchange/Timer.h"

#include <utility>

namespace app {

namespace {

TimerDriver* gDriver = nullptr;

} // namespace

void SetTimerDriver(TimerDriver* driver) {
    gDriver = driver;
}

Timer::Timer(QObject* parent) : QObject(parent) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setSingleShot(false);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (enabled_ && OnTimer) {
            OnTimer();
        }
    });
    timer_.setInterval(interval_);
}

Timer::~Timer() {
    halt();
}

void Timer::SetEnabled(bool value) {
    if (value == enabled_) {
        return;
    }
    enabled_ = value;
    if (enabled_) {
        restart();
    } else {
        halt();
    }
}

void Timer::SetInterval(int value) {
    if (value == interval_) {
        return;
    }
    interval_ = value;
    timer_.setInterval(interval_);
    if (enabled_) {
        restart();
    }
}

int Timer::RemainingMs() const {
    if (!enabled_) {
        return -1;
    }
    return driver_ ? interval_ : timer_.remainingTime();
}

void Timer::Fire() {
    if (!enabled_) {
        return;
    }
    // The next countdown starts as the wall clock's would, before the handler runs (which may stop it).
    restart();
    if (OnTimer) {
        OnTimer();
    }
}

void Timer::restart() {
    halt();
    if (interval_ <= 0) {
        return;
    }
    if (gDriver) {
        driver_ = gDriver;
        driver_->started(*this);
    } else {
        timer_.start(interval_);
    }
}

void Timer::halt() {
    timer_.stop();
    // A driver that was replaced (a test's, gone) has forgotten its timers.
    if (TimerDriver* driver = std::exchange(driver_, nullptr); driver && driver == gDriver) {
        driver->stopped(*this);
    }
}

} // namespace app
