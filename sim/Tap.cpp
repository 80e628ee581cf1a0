// The simulator's tap.
#include "sim/Tap.h"

#include <algorithm>

namespace sim {

void Tap::line(Micros at, std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    Millis due = std::chrono::ceil<Millis>(at);
    if (chunk_.count() > 0) {
        due = (due + chunk_ - Millis(1)) / chunk_ * chunk_;
    }
    // After every delivery due at the same time or earlier: line order among bytes of one moment.
    const auto place = std::upper_bound(waiting_.begin(), waiting_.end(), due,
                                        [](Millis t, const Delivery& d) { return t < d.at; });
    if (place != waiting_.begin() && std::prev(place)->at == due) {
        std::prev(place)->bytes.append(bytes);
    } else {
        waiting_.insert(place, Delivery{due, std::string(bytes)});
    }
}

std::optional<Tap::Millis> Tap::nextDue() const {
    if (waiting_.empty()) {
        return std::nullopt;
    }
    return waiting_.front().at;
}

std::string Tap::take(Millis now) {
    std::string out;
    while (!waiting_.empty() && waiting_.front().at <= now) {
        out += waiting_.front().bytes;
        waiting_.pop_front();
    }
    return out;
}

} // namespace sim
