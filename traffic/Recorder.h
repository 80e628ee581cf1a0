// Records the events of the exchange: each frame with its meaning, the time since the request it
// follows, kept in the bounded log and, when asked, appended to a log file line by line.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "traffic/EventLog.h"
#include "traffic/LineFile.h"

namespace traffic {

// When an event happened: wall-clock time for the time of day, a steady clock for the time since the
// request (immune to clock changes while a request waits).
struct Stamp {
    int64_t wallMs = 0;
    int64_t steadyMs = 0;
};
Stamp Now();

// A moment `ageMs` before `now`, on both clocks.
Stamp Before(Stamp now, int64_t ageMs);
// An earlier moment of the steady clock (to the microsecond, so events a fraction of a millisecond
// apart keep their order), on both clocks.
Stamp StampOf(std::chrono::steady_clock::time_point moment);

// A frame heard on another port (`source`) at `wallMs`, as an event of the log.
Event BusEvent(const BusFrame& frame, std::string_view source, int64_t wallMs);

class Recorder {
public:
    explicit Recorder(std::size_t capacity = kMaxEvents) : log_(capacity) {}

    // A request written to the port, with the pending command it recorded (or left). Later blocks and
    // timeouts are recorded as following it.
    void sent(std::span<const uint8_t> frame, int32_t pendingCommand, Stamp when = Now());
    // A block delivered by the port, with the pending command it is handled under.
    void received(std::span<const uint8_t> block, int32_t pendingCommand, Stamp when = Now());
    // A request the port did not take (not open), with why: recorded as refused with its bytes. The
    // time since the request counts from here; a later block is still read against the last frame
    // that did go out, the only one it can answer.
    void notWritten(std::span<const uint8_t> frame, int32_t pendingCommand, std::string_view reason,
                    Stamp when = Now());
    // The reply timer ran out; `message` is what the window shows (may be empty).
    void timedOut(std::string_view message, int32_t pendingCommand, Stamp when = Now());
    // A request stopped before anything was written, with the message the user was shown.
    void refused(std::string_view reason, int32_t pendingCommand, Stamp when = Now());
    // Port opened, closed or lost; `description` names the port or the cause.
    void port(EventKind kind, std::string_view description, Stamp when = Now());
    // A frame heard on another port (`source`), its last byte at `when` (at `wallMs`: that many
    // milliseconds ago on the steady clock). It changes nothing of the window's own exchange: later
    // blocks are still read against the window's own last request. A request with the very bytes the
    // window sent shortly before, and the reply paired with it, are marked as the window's own frames
    // as the bus carried them.
    void bus(const BusFrame& frame, std::string_view source, Stamp when);
    void bus(const BusFrame& frame, std::string_view source, int64_t wallMs);
    // Listening on another port (`source`) started, stopped or lost, for the table; the window's own
    // exchange goes on as it was.
    void busPort(EventKind kind, std::string_view source, std::string_view description, Stamp when = Now());

    EventLog& log() { return log_; }
    const EventLog& log() const { return log_; }

    // Appends every later event's text line to `path`; a new file starts with the column titles.
    // Returns an empty text on success, otherwise why the file could not be opened or its first line
    // not written (events are then kept in the log only).
    std::string openLogFile(const std::string& path);
    const LineFile& logFile() const { return logFile_; }

    // Called after each event has been appended.
    std::function<void()> onAppended;
    // Called once when a write to the log file fails; the file is closed then.
    std::function<void(const std::string& reason)> onLogFileFailed;

private:
    // A request the window sent (or tried to): what later blocks and timeouts follow.
    struct Asked {
        int64_t steadyMs = 0;
        std::shared_ptr<const std::string> request; // the last frame that did go out by then
    };
    // A frame the window wrote that the bus has not yet been heard carrying.
    struct Unheard {
        int64_t steadyMs = 0;
        std::shared_ptr<const std::string> bytes;
    };

    void record(Event event, Stamp when, bool followsRequest);
    void asked(int64_t steadyMs);
    bool heardWindowFrame(const BusFrame& frame, std::string_view source, int64_t steadyMs);

    EventLog log_;
    LineFile logFile_;
    // The latest requests, oldest first: a block is timed from the one before its last byte, which
    // need not be the newest (a button pressed while the silence that ends the block runs).
    std::deque<Asked> asked_;
    std::shared_ptr<const std::string> lastRequest_;
    std::deque<Unheard> unheard_;
    std::string copiedSource_;
    uint64_t copiedRequestNumber_ = 0; // the bus frame number of the last request marked as a copy
};

} // namespace traffic
