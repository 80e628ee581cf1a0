// The recorder of the exchange's events.
#include "traffic/Recorder.h"

#include <algorithm>
#include <chrono>

#include "tools/Bytes.h"
#include "traffic/EventFormat.h"

namespace traffic {

namespace {

std::string asString(std::span<const uint8_t> bytes) {
    return std::string(tools::asText(bytes));
}

// Messages come from the window's texts; keep the meaning one line.
std::string oneLine(std::string_view text) {
    std::string line(text);
    std::ranges::replace_if(
        line, [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
    return line;
}

// An event of the window's own exchange, recorded under the pending command of that moment.
Event withPending(EventKind kind, int32_t pendingCommand, std::span<const uint8_t> bytes,
                  std::string note = {}) {
    Event event;
    event.kind = kind;
    event.hasPendingCommand = true;
    event.pendingCommand = pendingCommand;
    event.bytes = asString(bytes);
    event.note = std::move(note);
    return event;
}

// Requests kept for timing blocks; a block's last byte is never more than a few requests back.
constexpr std::size_t kAskedKept = 16;
// Frames the window wrote that may still be heard on a bus port, and how long after their writing.
constexpr std::size_t kUnheardKept = 16;
constexpr int64_t kHeardWithinMs = 10'000;
// A bus port's last byte may be stamped a little before the window's write returns (the two clocks
// are read on different threads).
constexpr int64_t kHeardEarlyMs = 50;

} // namespace

Stamp Before(Stamp now, int64_t ageMs) {
    return {now.wallMs - ageMs, now.steadyMs - ageMs};
}

Stamp StampOf(std::chrono::steady_clock::time_point moment) {
    using namespace std::chrono;
    const Stamp now = Now();
    const int64_t steadyMs = duration_cast<milliseconds>(moment.time_since_epoch()).count();
    return {now.wallMs - (now.steadyMs - steadyMs), steadyMs};
}

Stamp Now() {
    using namespace std::chrono;
    return {duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count(),
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count()};
}

void Recorder::sent(std::span<const uint8_t> frame, int32_t pendingCommand, Stamp when) {
    record(withPending(EventKind::Sent, pendingCommand, frame), when, false);
    lastRequest_ = std::make_shared<const std::string>(asString(frame));
    asked(when.steadyMs);
    unheard_.push_back({when.steadyMs, lastRequest_});
    if (unheard_.size() > kUnheardKept) {
        unheard_.pop_front();
    }
}

void Recorder::asked(int64_t steadyMs) {
    asked_.push_back({steadyMs, lastRequest_});
    if (asked_.size() > kAskedKept) {
        asked_.pop_front();
    }
}

void Recorder::received(std::span<const uint8_t> block, int32_t pendingCommand, Stamp when) {
    record(withPending(EventKind::Received, pendingCommand, block), when, true);
}

void Recorder::notWritten(std::span<const uint8_t> frame, int32_t pendingCommand, std::string_view reason,
                          Stamp when) {
    record(withPending(EventKind::Refused, pendingCommand, frame, "not written, " + oneLine(reason) + ": "),
           when, false);
    asked(when.steadyMs);
}

void Recorder::timedOut(std::string_view message, int32_t pendingCommand, Stamp when) {
    const std::string note = message.empty() ? "no reply in time" : "no reply in time: " + oneLine(message);
    record(withPending(EventKind::Timeout, pendingCommand, {}, note), when, true);
}

void Recorder::refused(std::string_view reason, int32_t pendingCommand, Stamp when) {
    record(withPending(EventKind::Refused, pendingCommand, {}, "nothing sent: " + oneLine(reason)), when,
           false);
}

void Recorder::port(EventKind kind, std::string_view description, Stamp when) {
    Event event;
    event.kind = kind;
    event.note = oneLine(description);
    record(std::move(event), when, false);
    // A block after the port was (re)opened answers nothing sent before.
    asked_.clear();
    lastRequest_.reset();
    unheard_.clear();
}

Event BusEvent(const BusFrame& frame, std::string_view source, int64_t wallMs) {
    Event event;
    event.wallTimeMs = wallMs;
    event.kind = frame.role == BusRole::Request ? EventKind::BusRequest
                 : frame.role == BusRole::Reply ? EventKind::BusReply
                                                : EventKind::BusNoise;
    event.bytes.assign(frame.bytes.begin(), frame.bytes.end());
    event.source = std::string(source);
    event.busKind = frame.kind;
    event.busCheck = frame.check;
    if (frame.request) {
        event.request = std::make_shared<const std::string>(frame.request->begin(), frame.request->end());
        event.sinceRequestMs = frame.replyUs / 1000;
    }
    return event;
}

void Recorder::bus(const BusFrame& frame, std::string_view source, int64_t wallMs) {
    const Stamp now = Now();
    bus(frame, source, Before(now, now.wallMs - wallMs));
}

void Recorder::bus(const BusFrame& frame, std::string_view source, Stamp when) {
    Event event = BusEvent(frame, source, when.wallMs);
    event.windowCopy = heardWindowFrame(frame, source, when.steadyMs);
    if (event.windowCopy) {
        event.note = frame.role == BusRole::Request ? "copy of the window's request: " : "copy of the reply to the window: ";
    }
    record(std::move(event), when, false);
}

bool Recorder::heardWindowFrame(const BusFrame& frame, std::string_view source, int64_t steadyMs) {
    if (frame.role == BusRole::Reply) {
        return frame.request && frame.requestNumber != 0 && frame.requestNumber == copiedRequestNumber_ &&
               source == copiedSource_;
    }
    if (frame.role != BusRole::Request) {
        return false;
    }
    // The latest frame with these bytes the window wrote shortly before: the same request polled
    // again and again is heard once per writing, and a writing the bus never carried (a copy the
    // adapter lost) must not pair every later copy with the writing before its own.
    const std::string_view bytes(reinterpret_cast<const char*>(frame.bytes.data()), frame.bytes.size());
    for (auto it = unheard_.rbegin(); it != unheard_.rend(); ++it) {
        const int64_t after = steadyMs - it->steadyMs;
        if (*it->bytes != bytes || after < -kHeardEarlyMs || after > kHeardWithinMs) {
            continue;
        }
        // Older writings of the same bytes were not heard, and now never will be.
        const int64_t written = it->steadyMs;
        std::erase_if(unheard_, [&](const Unheard& u) { return u.steadyMs <= written && *u.bytes == bytes; });
        copiedSource_ = std::string(source);
        copiedRequestNumber_ = frame.number;
        return true;
    }
    return false;
}

void Recorder::busPort(EventKind kind, std::string_view source, std::string_view description, Stamp when) {
    Event event;
    event.kind = kind;
    event.source = std::string(source);
    event.note = oneLine(description);
    record(std::move(event), when, false);
}

std::string Recorder::openLogFile(const std::string& path) {
    return logFile_.open(path, TextHeader());
}

void Recorder::record(Event event, Stamp when, bool followsRequest) {
    event.wallTimeMs = when.wallMs;
    event.steadyMs = when.steadyMs;
    // A received block or a timeout is read against the last request before it, and timed from it.
    if (followsRequest) {
        const auto before = std::find_if(asked_.rbegin(), asked_.rend(),
                                         [&](const Asked& a) { return a.steadyMs <= when.steadyMs; });
        if (before != asked_.rend()) {
            event.request = before->request;
            event.sinceRequestMs = when.steadyMs - before->steadyMs;
        }
    }
    if (logFile_.isOpen()) {
        if (const std::string failure = logFile_.writeLine(TextLine(event));
            !failure.empty() && onLogFileFailed) {
            onLogFileFailed(failure);
        }
    }
    log_.append(std::move(event));
    if (onAppended) {
        onAppended();
    }
}

} // namespace traffic
