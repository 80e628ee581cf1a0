// The bounded event log.
#include "traffic/EventLog.h"

namespace traffic {

std::string_view DirectionText(EventKind kind) {
    static constexpr std::string_view kNames[] = {"sent",        "received",    "timeout",   "refused",
                                                  "port opened", "port closed", "port lost", "request",
                                                  "reply",       "noise",       "line differs"};
    const auto index = static_cast<std::size_t>(kind);
    return index < std::size(kNames) ? kNames[index] : "?";
}

void EventLog::append(Event event) {
    if (events_.size() == capacity_) {
        events_.pop_front();
        ++dropped_;
    }
    events_.push_back(std::move(event));
    ++endSequence_;
}

void EventLog::clear() {
    events_.clear();
    // Give the memory back: a cleared monitor after a long session should not hold 100,000 rows' worth.
    events_.shrink_to_fit();
    dropped_ = 0;
    ++clears_;
}

} // namespace traffic
