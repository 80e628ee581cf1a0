// The synchronous exchange of vx538 over serial/'s platform layer.
#include "cli/Line.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <span>

#include "serial/LineSettings.h"
#include "serial/PortUrl.h"
#include "serial/Termios2.h"
#include "tools/Bytes.h"
#include "tools/Utf8Text.h"
#include "traffic/Interpreter.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

// A reply never needs more; noise that never stops ends here too.
constexpr std::size_t kMaxReply = 4096;

// In the order of serial::TParity.
constexpr std::string_view kParityNames[] = {"none", "odd", "even", "mark", "space"};

} // namespace

Millis DefaultGap(const std::string& port) {
    return serial::isNetworkPortName(port) ? Millis(300) : Millis(50);
}

std::optional<serial::TParity> ParityNamed(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kParityNames); ++i) {
        if (kParityNames[i] == name) {
            return static_cast<serial::TParity>(i);
        }
    }
    return std::nullopt;
}

std::string_view ParityName(serial::TParity parity) {
    return kParityNames[static_cast<std::size_t>(parity)];
}

traffic::ReplyEnd ReplyProgress(const ReplyShape& shape, std::string_view received,
                                std::string_view request) {
    if (shape.kind == ReplyShape::Kind::Quiet) {
        return traffic::ReplyEnd::Unknown;
    }
    return traffic::ReplyEndOf(traffic::Read(tools::bytesOf(received), traffic::Direction::Received,
                                             shape.pending, tools::bytesOf(request)));
}

std::string OpenFailureMessage(const std::string& path, const serial::OpenOutcome& outcome) {
    return "cannot open " + tools::EchoName(path) + ": " +
           (outcome.reason.empty() ? "not a serial port." : outcome.reason);
}

Line::Line(LineOptions options, const serial::EventFd& stop, std::unique_ptr<serial::Transport> transport)
    : options_(std::move(options)), stop_(stop),
      port_(transport ? std::move(transport) : serial::makeTransport(options_.port)) {
    path_ = port_->name();
}

Line::~Line() {
    close();
}

// The terminal settings of every open line as found at open, for RestoreTerminalsNow: slots a signal
// handler may read (a slot's settings are written before its descriptor is published).
namespace {

struct Terminal {
    std::atomic<int> fd{-1}; // -1 free, -2 being filled
    serial::SavedTermios saved;
};
Terminal terminals[256];

int rememberTerminal(int fd) {
    serial::SavedTermios saved;
    if (!serial::readTermios(fd, saved)) {
        return -1; // no terminal (a network port)
    }
    for (int slot = 0; slot < static_cast<int>(std::size(terminals)); ++slot) {
        int free = -1;
        if (terminals[slot].fd.compare_exchange_strong(free, -2)) {
            terminals[slot].saved = saved;
            terminals[slot].fd.store(fd, std::memory_order_release);
            return slot;
        }
    }
    return -1;
}

} // namespace

void RestoreTerminalsNow() noexcept {
    for (Terminal& t : terminals) {
        if (const int fd = t.fd.load(std::memory_order_acquire); fd >= 0) {
            serial::writeTermios(fd, t.saved);
        }
    }
}

std::optional<std::string> Line::open() {
    const auto outcome = port_->open();
    if (outcome.result != serial::OpenResult::Opened) {
        return OpenFailureMessage(path_, outcome);
    }
    terminalSlot_ = rememberTerminal(port_->fd());
    setLine(options_.baud, options_.parity);
    return std::nullopt;
}

void Line::close() {
    if (terminalSlot_ >= 0) {
        terminals[terminalSlot_].fd.store(-1, std::memory_order_release);
        terminalSlot_ = -1;
    }
    port_->close();
}

void Line::setLine(uint32_t baud, serial::TParity parity) {
    options_.baud = baud;
    options_.parity = parity;
    // Raw 8-bit frames: no software flow control, which would swallow 0x11 and 0x13 in binary replies.
    serial::LineSettings settings;
    settings.baudRate = baud;
    settings.parity = parity;
    settings.parityCheck = parity != serial::TParity::None;
    settings.outxXonXoffFlow = false;
    settings.inxXonXoffFlow = false;
    port_->applyLineSettings(settings);
}

Millis Line::characterTime(std::size_t count) const {
    // Start bit, 8 data bits, parity bit when there is one, 1 stop bit.
    const int bits = options_.parity == serial::TParity::None ? 10 : 11;
    const auto micros =
        static_cast<long long>(count) * bits * 1'000'000LL / std::max<uint32_t>(options_.baud, 1);
    return std::chrono::ceil<Millis>(std::chrono::microseconds(micros));
}

void Line::discardStale() {
    port_->purge(serial::QueueSide::Input);
    // What arrived between the flush and now; bounded, so a line that never stops talking cannot
    // hold the request back for ever.
    std::array<uint8_t, 256> scratch{};
    for (int i = 0; i < 64; ++i) {
        if (port_->read(scratch.data(), scratch.size()).kind != serial::IoResult::Done) {
            break;
        }
    }
}

bool Line::write(std::string_view frame) {
    std::size_t done = 0;
    while (done < frame.size()) {
        const auto ready = serial::waitForPort(stop_, port_->fd(), true, Clock::now() + options_.timeout);
        if (ready != serial::WaitResult::Ready) {
            return false;
        }
        const auto result = port_->write(frame.data() + done, frame.size() - done);
        if (result.kind == serial::IoResult::Failed) {
            return false;
        }
        done += result.count;
    }
    return true;
}

Reply Line::exchange(std::string_view frame, const ReplyShape& shape, bool retry) {
    Reply reply;
    const int attempts = retry ? 1 + std::max(0, options_.retries) : 1;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        discardStale();
        if (observer.sent) {
            observer.sent(frame);
        }
        if (!write(frame)) {
            reply.end = stop_.isSignalled() ? ReplyEnd::Interrupted : ReplyEnd::Lost;
            return reply;
        }
        reply = readReply(shape, frame, Clock::now(), characterTime(frame.size()));
        reply.attempts = attempt;
        reply.written = true;
        if (reply.end != ReplyEnd::NoReply) {
            break;
        }
    }
    return reply;
}

Reply Line::readReply(const ReplyShape& shape, std::string_view request, Clock::time_point written,
                      Millis frameTime) {
    Reply reply;
    // The driver may still be sending the frame when write returns: its time on the line comes first.
    const Clock::time_point firstByteDue = written + frameTime + options_.timeout;
    Clock::time_point lastByte{};
    // A reply whose bytes show that more of it is to come waits for the rest up to the timeout.
    Millis silence = options_.gap;
    const auto finish = [&](ReplyEnd end) {
        reply.end = end;
        reply.elapsed = std::chrono::duration_cast<Millis>(Clock::now() - written);
        if (!reply.bytes.empty() && observer.received) {
            observer.received(reply.bytes);
        }
        if (end == ReplyEnd::NoReply && observer.timedOut) {
            observer.timedOut();
        }
        return reply;
    };
    for (;;) {
        const Clock::time_point deadline = reply.bytes.empty() ? firstByteDue : lastByte + silence;
        switch (serial::waitForPort(stop_, port_->fd(), false, deadline)) {
        case serial::WaitResult::Closed:
            return finish(ReplyEnd::Interrupted);
        case serial::WaitResult::Failed:
            return finish(ReplyEnd::Lost);
        case serial::WaitResult::TimedOut:
            return finish(reply.bytes.empty() ? ReplyEnd::NoReply : ReplyEnd::Quiet);
        case serial::WaitResult::Ready:
            break;
        }
        std::array<char, 512> buffer{};
        const auto result = port_->read(buffer.data(), buffer.size());
        if (result.kind == serial::IoResult::Failed) {
            return finish(ReplyEnd::Lost);
        }
        if (result.kind == serial::IoResult::WouldBlock || result.count == 0) {
            continue;
        }
        reply.bytes.append(buffer.data(), std::min(result.count, kMaxReply - reply.bytes.size()));
        lastByte = Clock::now();
        const traffic::ReplyEnd progress = ReplyProgress(shape, reply.bytes, request);
        if (progress == traffic::ReplyEnd::Whole) {
            return finish(ReplyEnd::Complete);
        }
        silence = progress == traffic::ReplyEnd::Partial ? options_.timeout : options_.gap;
        if (reply.bytes.size() >= kMaxReply) {
            return finish(ReplyEnd::Quiet);
        }
    }
}

} // namespace cli
