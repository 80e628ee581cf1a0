// RFC 2217 over a TCP connection: negotiation, the escaped data stream, and the bounds that keep a
// hostile server from costing unbounded memory or time.
#include "serial/Rfc2217Port.h"

#include <algorithm>
#include <cstring>

namespace serial {

namespace {

// What the server said before it closed a connection at once, kept for the message.
constexpr std::size_t kGreetingLimit = 160;

// The server's words on one line, for a message.
std::string oneLine(std::string text) {
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    const auto end = text.find_last_not_of(' ');
    text.erase(end == std::string::npos ? 0 : end + 1);
    return text;
}

} // namespace

Rfc2217Port::Rfc2217Port(std::string text, PortUrlReading reading)
    : connection_(std::move(text), std::move(reading)) {}

Rfc2217Port::~Rfc2217Port() {
    close();
}

OpenOutcome Rfc2217Port::open() {
    close();
    const auto deadline = Clock::now() + kConnectTimeout;
    OpenOutcome outcome = connection_.connect(deadline, openCancel());
    if (outcome.result != OpenResult::Opened) {
        return outcome;
    }
    {
        std::lock_guard lock(mutex_);
        codec_ = std::make_unique<TelnetCodec>();
        allowanceAt_ = Clock::now();
    }
    outcome = negotiate(deadline);
    if (outcome.result != OpenResult::Opened) {
        close();
    }
    return outcome;
}

OpenOutcome Rfc2217Port::negotiate(Clock::time_point deadline) {
    const std::string at = "the server at " + connection_.endpoint();
    std::string greeting; // data the server sent before accepting: a refusal's text, typically
    // A failed send is not answered here: the server that closed the connection may have said why
    // first, and the reads below collect that.
    {
        std::lock_guard lock(mutex_);
        codec_->start();
        flushControlLocked();
    }
    std::vector<uint8_t> raw(512);
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (codec_->comPort() == TelnetCodec::ComPort::Accepted && codec_->serverAnswered()) {
                return {OpenResult::Opened, 0, {}};
            }
            if (codec_->comPort() == TelnetCodec::ComPort::Refused) {
                return {OpenResult::NotCommDevice, 0,
                        at + " refuses RFC 2217 serial control. If its port is raw TCP, name it socket://" +
                            connection_.endpoint() + " (the server's own line settings apply)."};
            }
            if (!reason_.empty()) {
                return {OpenResult::NotCommDevice, 0, at + " was given up: " + reason_ + "."};
            }
        }
        const WaitResult ready = connection_.waitReadable(deadline, openCancel());
        if (ready == WaitResult::Closed) {
            return cancelledOpen();
        }
        if (ready != WaitResult::Ready) {
            return {OpenResult::NotCommDevice, 0,
                    connection_.endpoint() + " accepted the connection but did not answer the RFC 2217 negotiation within " +
                        secondsText(kConnectTimeout) + ". If its port is raw TCP, name it socket://" +
                        connection_.endpoint() + "."};
        }
        const IoResult got = connection_.receive(raw.data(), raw.size());
        if (got.kind == IoResult::WouldBlock) {
            continue;
        }
        if (got.kind == IoResult::Failed) {
            const std::string said = oneLine(greeting);
            return {OpenResult::CannotOpen, 0,
                    at + " closed the connection at once" +
                        (said.empty() ? std::string(": another client may hold its port.")
                                      : ", saying " + echoed(said) + ".")};
        }
        std::lock_guard lock(mutex_);
        std::size_t count = 0;
        if (receiveLocked(raw.data(), got.count, count)) {
            greeting.append(reinterpret_cast<const char*>(data_.data()),
                            std::min(count, kGreetingLimit - std::min(kGreetingLimit, greeting.size())));
            flushControlLocked();
        }
    }
}

void Rfc2217Port::close() {
    std::lock_guard lock(mutex_);
    connection_.close();
    codec_.reset();
    control_.clear();
    halfEscape_ = false;
    sendFailed_ = false;
    reason_.clear();
    controlAllowance_ = kControlBurst;
    controlCharged_ = 0;
}

void Rfc2217Port::failLocked(std::string reason) {
    if (reason_.empty()) {
        reason_ = std::move(reason);
    }
    sendFailed_ = true;
}

bool Rfc2217Port::receiveLocked(const uint8_t* bytes, std::size_t size, std::size_t& count) {
    if (data_.size() < size) {
        data_.resize(size);
    }
    count = codec_->receive(bytes, size, data_.data());
    if (!codec_->failure().empty()) {
        failLocked(codec_->failure());
        return false;
    }
    // A token bucket: a burst at negotiation, line errors on a noisy line, all pass; a server that
    // keeps a stream of negotiations or notifications going would keep every wait busy for ever.
    const auto now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - allowanceAt_).count();
    allowanceAt_ = now;
    controlAllowance_ = std::min<double>(kControlBurst, controlAllowance_ + seconds * kControlPerSecond);
    const uint64_t control = codec_->controlBytes();
    controlAllowance_ -= static_cast<double>(control - controlCharged_);
    controlCharged_ = control;
    if (controlAllowance_ < 0) {
        failLocked("the server sent Telnet control traffic (negotiations or notifications) faster than " +
                   std::to_string(kControlPerSecond / 1024) + " KB a second, " + std::to_string(control / 1024) +
                   " KB in all, which no serial device server does");
        return false;
    }
    return true;
}

bool Rfc2217Port::flushControlLocked() {
    if (codec_ && codec_->hasOutput()) {
        control_ += codec_->takeOutput();
    }
    // Protocol bytes never go between the two halves of a doubled 0xFF.
    while (!control_.empty() && !halfEscape_ && !sendFailed_) {
        const IoResult r = connection_.send(control_.data(), control_.size());
        if (r.kind == IoResult::WouldBlock) {
            break;
        }
        if (r.kind == IoResult::Failed) {
            sendFailed_ = true;
            break;
        }
        control_.erase(0, r.count);
    }
    if (control_.size() > kMaxWaitingControl) {
        failLocked("the server does not read what is sent to it: " + std::to_string(control_.size() / 1024) +
                   " KB of Telnet answers wait for it (a server that negotiates without reading)");
    }
    return !sendFailed_;
}

IoResult Rfc2217Port::read(void* buffer, std::size_t size) {
    return read(buffer, size, nullptr, 0);
}

IoResult Rfc2217Port::read(void* first, std::size_t firstSize, void* second, std::size_t secondSize) {
    const std::size_t total = firstSize + secondSize;
    if (total == 0) {
        return {IoResult::WouldBlock, 0};
    }
    if (raw_.size() < total) {
        raw_.resize(total);
    }
    const IoResult got = connection_.receive(raw_.data(), total);
    if (got.kind != IoResult::Done) {
        return got;
    }
    std::size_t count = 0;
    {
        std::lock_guard lock(mutex_);
        if (!receiveLocked(raw_.data(), got.count, count) || !flushControlLocked()) {
            return {IoResult::Failed, 0};
        }
    }
    const std::size_t intoFirst = std::min(count, firstSize);
    std::memcpy(first, data_.data(), intoFirst);
    if (count > intoFirst) {
        std::memcpy(second, data_.data() + intoFirst, count - intoFirst);
    }
    return {IoResult::Done, count};
}

IoResult Rfc2217Port::write(const void* buffer, std::size_t size) {
    if (size == 0) {
        return {IoResult::Failed, 0};
    }
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    std::lock_guard lock(mutex_);
    if (!flushControlLocked()) {
        return {IoResult::Failed, 0};
    }
    if (!halfEscape_ && !control_.empty()) {
        return {IoResult::WouldBlock, 0}; // the protocol's bytes go first
    }
    // A doubled 0xFF half sent: its second half goes first. When the caller goes on with that same
    // byte, as it should, the byte is complete with it; otherwise the half stands for itself.
    const bool completing = halfEscape_;
    const bool continuesPair = completing && bytes[0] == 0xFF;
    wire_.clear();
    if (completing) {
        wire_.push_back(static_cast<char>(0xFF));
    }
    const std::size_t from = continuesPair ? 1 : 0;
    codec_->encodeData(bytes + from, size - from, wire_);
    const IoResult sent = connection_.send(wire_.data(), wire_.size());
    if (sent.kind == IoResult::Failed) {
        sendFailed_ = true;
    }
    if (sent.kind != IoResult::Done) {
        return sent;
    }
    // How many of the caller's bytes went out whole.
    std::size_t position = completing && !continuesPair ? 1 : 0;
    std::size_t consumed = 0;
    halfEscape_ = false;
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t width = (i == 0 && continuesPair) ? 1 : (bytes[i] == 0xFF ? 2 : 1);
        if (position + width <= sent.count) {
            position += width;
            ++consumed;
            continue;
        }
        halfEscape_ = position < sent.count; // one byte of this byte's pair is on the wire
        break;
    }
    if (consumed == 0) {
        return {IoResult::WouldBlock, 0}; // only half a pair went; the socket is full
    }
    return {IoResult::Done, consumed};
}

void Rfc2217Port::purge(QueueSide side) {
    std::lock_guard lock(mutex_);
    if (codec_) {
        codec_->purge(side);
        flushControlLocked();
    }
}

void Rfc2217Port::applyLineSettings(const LineSettings& settings) {
    std::lock_guard lock(mutex_);
    if (codec_) {
        codec_->setLine(settings);
        flushControlLocked();
    }
}

bool Rfc2217Port::readCounters(LineCounters& counters) const {
    std::lock_guard lock(mutex_);
    if (!codec_) {
        return false;
    }
    counters = codec_->counters();
    return true;
}

std::string Rfc2217Port::failureReason() const {
    std::lock_guard lock(mutex_);
    return reason_;
}

std::vector<std::string> Rfc2217Port::takeLineDifferences() {
    std::lock_guard lock(mutex_);
    return codec_ ? codec_->takeDifferences() : std::vector<std::string>{};
}

} // namespace serial
