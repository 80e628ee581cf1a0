// The simulator's tap: every byte that crosses its line, requests in and replies out, in line order
// and when each is complete on the line, as a listen-only adapter wired to the same pair delivers
// them; with a chunk time, in the bursts a USB adapter delivers (everything that arrived since the
// last one, every so many milliseconds).
#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

class Tap {
public:
    using Millis = std::chrono::milliseconds;
    using Micros = std::chrono::microseconds;

    // `chunk` 0: each byte as soon as it is complete (to the millisecond).
    explicit Tap(Millis chunk = Millis(0)) : chunk_(chunk) {}

    // Bytes on the line, the last of them complete at `at` (since the simulator started).
    void line(Micros at, std::string_view bytes);
    // When the next delivery is due; nullopt when nothing waits.
    std::optional<Millis> nextDue() const;
    // The bytes of every delivery due by `now`, in line order.
    std::string take(Millis now);

private:
    struct Delivery {
        Millis at;
        std::string bytes;
    };
    Millis chunk_;
    std::deque<Delivery> waiting_; // by time
};

} // namespace sim
