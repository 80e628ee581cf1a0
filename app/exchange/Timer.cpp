// Timer with "unchanged assignment does nothing" semantics over QTimer.
#include "app/exchange/Timer.h"

namespace app {

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

void Timer::SetEnabled(bool value) {
    if (value == enabled_) {
        return;
    }
    enabled_ = value;
    if (enabled_) {
        restart();
    } else {
        timer_.stop();
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

void Timer::restart() {
    if (interval_ > 0) {
        timer_.start(interval_);
    } else {
        timer_.stop();
    }
}

} // namespace app
