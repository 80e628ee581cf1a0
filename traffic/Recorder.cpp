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

} // namespace

Stamp Now() {
    using namespace std::chrono;
    return {duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count(),
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count()};
}

void Recorder::sent(std::span<const uint8_t> frame, int32_t pendingCommand, Stamp when) {
    record(withPending(EventKind::Sent, pendingCommand, frame), when, false);
    lastRequestSteadyMs_ = when.steadyMs;
    lastRequest_ = std::make_shared<const std::string>(asString(frame));
}

void Recorder::received(std::span<const uint8_t> block, int32_t pendingCommand, Stamp when) {
    record(withPending(EventKind::Received, pendingCommand, block), when, true);
}

void Recorder::notWritten(std::span<const uint8_t> frame, int32_t pendingCommand, std::string_view reason,
                          Stamp when) {
    record(withPending(EventKind::Refused, pendingCommand, frame, "not written, " + oneLine(reason) + ": "),
           when, false);
    lastRequestSteadyMs_ = when.steadyMs;
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
    lastRequestSteadyMs_.reset();
    lastRequest_.reset();
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
    record(BusEvent(frame, source, wallMs), {wallMs, 0}, false);
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
    // A received block or a timeout is read against the last request, and timed from it.
    if (followsRequest) {
        event.request = lastRequest_;
        if (lastRequestSteadyMs_) {
            event.sinceRequestMs = when.steadyMs - *lastRequestSteadyMs_;
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
