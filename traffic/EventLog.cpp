// The bounded event log.
#include "traffic/EventLog.h"

namespace traffic {

std::string_view DirectionText(EventKind kind) {
    switch (kind) {
    case EventKind::Sent:
        return "sent";
    case EventKind::Received:
        return "received";
    case EventKind::Timeout:
        return "timeout";
    case EventKind::Refused:
        return "refused";
    case EventKind::PortOpened:
        return "port opened";
    case EventKind::PortClosed:
        return "port closed";
    case EventKind::PortLost:
        return "port lost";
    }
    return "?";
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
