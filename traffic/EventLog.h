// The events of the exchange as the traffic monitor keeps them: a bounded log that drops its oldest
// events once it holds its capacity, and counts what it dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "traffic/BusFramer.h"

namespace traffic {

// Bus...: a frame heard on another port, a listen-only adapter on the bus (the monitor's "Listen on
// Another Port..."). LineDiffers: a network port's server set the line otherwise than asked.
enum class EventKind : uint8_t {
    Sent, Received, Timeout, Refused, PortOpened, PortClosed, PortLost, BusRequest, BusReply, BusNoise,
    LineDiffers
};

// "sent", "received", "timeout", "refused", "port opened", "port closed", "port lost", for the bus
// "request", "reply", "noise", and "line differs".
std::string_view DirectionText(EventKind kind);

struct Event {
    int64_t wallTimeMs = 0;      // milliseconds since the epoch; shown as local time of day
    // The same moment on the steady clock: events are kept in this order, so a clock change while
    // the monitor runs cannot reorder them.
    int64_t steadyMs = 0;
    int64_t sinceRequestMs = -1; // time since the request it follows (received, timeout); -1: none
    EventKind kind = EventKind::Sent;
    bool hasPendingCommand = false; // port events have none
    int32_t pendingCommand = 0;     // the code recorded by the exchange at that moment
    std::string bytes;              // the frame or block (sent, received, not written)
    // What the event means when it has no bytes; put before the bytes' meaning when it has some.
    // The bytes' meaning is worked out when it is shown (Meaning()), which keeps a full log small.
    std::string note;
    // The frame a received block (or a timeout) follows: the last one sent since the port opened,
    // shared by every event after it, so a full log holds each request once. Null when none was sent.
    std::shared_ptr<const std::string> request;
    // A bus frame: the port it was heard on (empty for the window's own exchange), its protocol and
    // check as the bus framer found them; `request` is the request it answers and sinceRequestMs its
    // reply time.
    std::string source;
    BusKind busKind = BusKind::Noise;
    BusCheck busCheck = BusCheck::Good;
    // A bus frame that is the window's own frame as the bus carried it (its request, or the reply to
    // it), heard through a listen-only adapter on the same line.
    bool windowCopy = false;
};

// How the log changed since a view last looked, so the view can move its rows along instead of
// starting over: rows inserted at an index, rows dropped from the top, or everything anew.
struct LogChange {
    enum class Kind : uint8_t { Insert, DropFront, Reset };
    Kind kind = Kind::Insert;
    std::size_t index = 0; // Insert: where the first new row went
    std::size_t count = 0; // Insert, DropFront: how many rows
};

inline constexpr std::size_t kMaxEvents = 100000;

// Events are kept in the order they happened (their steady time), not the order they were
// recorded: a frame heard on another port is recorded once its framer is sure of it, and a received
// block once the silence after it has passed, both after events that happened later. Events of the
// same millisecond keep the order they came in, except that a bus frame goes after the window's own
// events of that millisecond (a copy follows what it copies).
class EventLog {
public:
    explicit EventLog(std::size_t capacity = kMaxEvents) : capacity_(capacity == 0 ? 1 : capacity) {}

    // Inserts the event at its place in time, usually the end. When full, the oldest event goes: the
    // one at the top, or this one when it is older than every event kept. Returns where it went, or
    // nothing when it was the one to go.
    std::optional<std::size_t> append(Event event);
    void clear();

    // The changes since the last call, oldest first, merged where they can be; a long run of them
    // (nobody took them) becomes one Reset.
    std::vector<LogChange> takeChanges();
    // The same without taking them: what a view that has not caught up yet must allow for.
    const std::vector<LogChange>& pendingChanges() const { return changes_; }

    std::size_t size() const { return events_.size(); }
    std::size_t capacity() const { return capacity_; }
    // Oldest kept first.
    const Event& at(std::size_t index) const { return events_[index]; }

    // Every appended event gets the next sequence number; they survive drops and clears, so a view
    // can tell which of the rows it shows are gone.
    uint64_t firstSequence() const { return endSequence_ - events_.size(); }
    uint64_t endSequence() const { return endSequence_; }
    // Dropped for lack of room since construction or the last clear.
    uint64_t dropped() const { return dropped_; }
    // Counts the clears, so a view can tell a clear from drops.
    uint64_t clears() const { return clears_; }

private:
    void note(LogChange change);

    std::size_t capacity_;
    std::deque<Event> events_;
    std::vector<LogChange> changes_;
    uint64_t endSequence_ = 0;
    uint64_t dropped_ = 0;
    uint64_t clears_ = 0;
};

} // namespace traffic
