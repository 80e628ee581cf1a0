// Records the events of the exchange: each frame with its meaning, the time since the request it
// follows, kept in the bounded log and, when asked, appended to a log file line by line.
#pragma once

#include <cstdint>
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
    // A frame heard on another port (`source`) at `wallMs`. It changes nothing of the window's own
    // exchange: later blocks are still read against the window's own last request.
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
    void record(Event event, Stamp when, bool followsRequest);

    EventLog log_;
    LineFile logFile_;
    std::optional<int64_t> lastRequestSteadyMs_;
    std::shared_ptr<const std::string> lastRequest_;
};

} // namespace traffic
