// The bounded event log.
#include "traffic/EventLog.h"

#include <utility>

namespace traffic {

std::string_view DirectionText(EventKind kind) {
    static constexpr std::string_view kNames[] = {"sent",        "received",    "timeout",   "refused",
                                                  "port opened", "port closed", "port lost", "request",
                                                  "reply",       "noise",       "line differs"};
    const auto index = static_cast<std::size_t>(kind);
    return index < std::size(kNames) ? kNames[index] : "?";
}

namespace {

bool isBusFrame(const Event& event) {
    return event.kind == EventKind::BusRequest || event.kind == EventKind::BusReply ||
           event.kind == EventKind::BusNoise;
}

// Unmerged changes kept at most; a view that never looks gets one Reset instead.
constexpr std::size_t kMaxChanges = 1024;

} // namespace

std::optional<std::size_t> EventLog::append(Event event) {
    // Late events are rare and recent: the place is found from the end.
    std::size_t at = events_.size();
    const bool bus = isBusFrame(event);
    while (at > 0) {
        const Event& before = events_[at - 1];
        if (before.steadyMs < event.steadyMs ||
            (before.steadyMs == event.steadyMs && (bus || !isBusFrame(before)))) {
            break;
        }
        --at;
    }
    ++endSequence_;
    if (events_.size() == capacity_) {
        ++dropped_;
        if (at == 0) {
            return std::nullopt; // older than everything kept: it is the oldest
        }
        events_.pop_front();
        note({LogChange::Kind::DropFront, 0, 1});
        --at;
    }
    events_.insert(events_.begin() + static_cast<std::ptrdiff_t>(at), std::move(event));
    note({LogChange::Kind::Insert, at, 1});
    return at;
}

void EventLog::note(LogChange change) {
    if (!changes_.empty() && changes_.front().kind == LogChange::Kind::Reset) {
        return; // a reset shows the log as it is then, this change included
    }
    if (!changes_.empty()) {
        LogChange& last = changes_.back();
        // New rows inserted among or right after rows that are new themselves make one block of new
        // rows; rows dropped one after another make one drop.
        if (change.kind == LogChange::Kind::Insert && last.kind == LogChange::Kind::Insert &&
            change.index >= last.index && change.index <= last.index + last.count) {
            last.count += change.count;
            return;
        }
        if (change.kind == LogChange::Kind::DropFront && last.kind == LogChange::Kind::DropFront) {
            last.count += change.count;
            return;
        }
        // The top row dropped was itself new: the view never needs to see it.
        if (change.kind == LogChange::Kind::DropFront && last.kind == LogChange::Kind::Insert &&
            last.index == 0) {
            if (--last.count == 0) {
                changes_.pop_back();
            }
            return;
        }
    }
    if (change.kind == LogChange::Kind::Reset || changes_.size() >= kMaxChanges) {
        changes_.assign(1, {LogChange::Kind::Reset, 0, 0});
        return;
    }
    changes_.push_back(change);
}

std::vector<LogChange> EventLog::takeChanges() {
    return std::exchange(changes_, {});
}

void EventLog::clear() {
    events_.clear();
    // Give the memory back: a cleared monitor after a long session should not hold 100,000 rows' worth.
    events_.shrink_to_fit();
    dropped_ = 0;
    ++clears_;
    note({LogChange::Kind::Reset, 0, 0});
}

} // namespace traffic
