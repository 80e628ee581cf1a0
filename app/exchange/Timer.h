// A timer with the semantics the exchange relies on: assigning an unchanged Enabled or Interval does
// nothing (enabling a running timer does not restart it), changing the interval of a running timer
// starts a fresh countdown, and the default interval is 1000 ms. A new timer is stopped.
#pragma once

#include <functional>

#include <QObject>
#include <QTimer>

namespace app {

class Timer : public QObject {
    Q_OBJECT
public:
    explicit Timer(QObject* parent = nullptr);

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    int Interval() const { return interval_; }
    void SetInterval(int value);
    // Milliseconds until the next expiry while enabled (0 when due), -1 when stopped.
    int RemainingMs() const { return enabled_ ? timer_.remainingTime() : -1; }

    // Runs on every expiry while enabled.
    std::function<void()> OnTimer;

private:
    void restart();

    QTimer timer_;
    bool enabled_ = false;
    int interval_ = 1000;
};

} // namespace app
