// Timers fired by the test.
#include "tests/support/ManualTimers.h"

#include <algorithm>

#include <QTimer>

namespace testsupport {

ManualTimers::ManualTimers(QStringList atOnce) : atOnce_(std::move(atOnce)) {
    app::SetTimerDriver(this);
}

ManualTimers::~ManualTimers() {
    app::SetTimerDriver(nullptr);
}

bool ManualTimers::running(const QString& name) const {
    return std::any_of(running_.begin(), running_.end(),
                       [&](const QPointer<app::Timer>& t) { return t && t->objectName() == name; });
}

bool ManualTimers::fire(const QString& name) {
    const auto found = std::find_if(running_.begin(), running_.end(), [&](const QPointer<app::Timer>& t) {
        return t && t->objectName() == name;
    });
    if (found == running_.end()) {
        return false;
    }
    fireThis(found->data());
    return true;
}

void ManualTimers::fireThis(app::Timer* timer) {
    stopped(*timer);
    // Fire() counts down again when the timer stays enabled: started() hears of it.
    timer->Fire();
}

void ManualTimers::started(app::Timer& timer) {
    stopped(timer);
    running_.emplace_back(&timer);
    if (atOnce_.contains(timer.objectName())) {
        const QPointer<app::Timer> pointer(&timer);
        QTimer::singleShot(0, &timer, [this, pointer] {
            if (pointer && std::find(running_.begin(), running_.end(), pointer) != running_.end()) {
                fireThis(pointer.data());
            }
        });
    }
}

void ManualTimers::stopped(app::Timer& timer) {
    std::erase_if(running_, [&](const QPointer<app::Timer>& t) { return !t || t == &timer; });
}

} // namespace testsupport
