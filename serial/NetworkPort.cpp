// Network ports: name lookup and connection within a bounded time, keepalive, and Telnet/RFC 2217
// (through TelnetCodec) or raw bytes on the socket.
#include "serial/NetworkPort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace serial {

namespace {

using Clock = std::chrono::steady_clock;

// A link that died while idle is noticed after 5 s of silence and three unanswered probes 5 s apart;
// one that dies while bytes are unacknowledged, after the same 20 s.
constexpr int kKeepIdleSeconds = 5;
constexpr int kKeepIntervalSeconds = 5;
constexpr int kKeepProbes = 3;
constexpr unsigned kUserTimeoutMs = 20000;
// What the server said before it closed a connection at once, kept for the message.
constexpr std::size_t kGreetingLimit = 160;

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
};

struct Lookup {
    int error = 0; // getaddrinfo's code; 0 when found
    std::vector<Address> addresses;
};

Lookup lookUp(const std::string& host, uint16_t port, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    Lookup lookup;
    lookup.error = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    for (const addrinfo* a = found; lookup.error == 0 && a; a = a->ai_next) {
        Address address;
        std::memcpy(&address.storage, a->ai_addr, std::min<std::size_t>(a->ai_addrlen, sizeof address.storage));
        address.length = a->ai_addrlen;
        lookup.addresses.push_back(address);
    }
    if (found) {
        ::freeaddrinfo(found);
    }
    return lookup;
}

// An address is taken as it stands; a name is looked up on a thread of its own, so a name server
// that does not answer costs no more than the time left. A lookup still running then finishes
// unseen and frees what it holds.
std::optional<Lookup> resolve(const std::string& host, uint16_t port, Clock::time_point deadline) {
    Lookup numeric = lookUp(host, port, AI_NUMERICHOST);
    if (numeric.error != EAI_NONAME) {
        return numeric;
    }
    auto task = std::make_shared<std::packaged_task<Lookup()>>([host, port] { return lookUp(host, port, 0); });
    std::future<Lookup> result = task->get_future();
    try {
        std::thread([task] { (*task)(); }).detach();
    } catch (const std::system_error&) {
        (*task)();
    }
    if (result.wait_until(deadline) != std::future_status::ready) {
        return std::nullopt;
    }
    return result.get();
}

// Connects to one address; the socket, or the errno of the failure (ETIMEDOUT at the deadline).
int connectTo(const Address& address, Clock::time_point deadline, UniqueFd& out) {
    UniqueFd fd(::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        return errno;
    }
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0) {
        if (errno != EINPROGRESS) {
            return errno;
        }
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                return ETIMEDOUT;
            }
            pollfd p{fd.get(), POLLOUT, 0};
            const int n = ::poll(&p, 1, static_cast<int>(left));
            if (n < 0 && errno != EINTR) {
                return errno;
            }
            if (n > 0) {
                break;
            }
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
            return errno;
        }
        if (error != 0) {
            return error;
        }
    }
    out = std::move(fd);
    return 0;
}

void setOption(int fd, int level, int option, int value) {
    // A refused option only makes the link a little less watchful; the connection still works.
    ::setsockopt(fd, level, option, &value, sizeof value);
}

std::string hostPort(const NetworkPortName& n) {
    return (n.host.find(':') != std::string::npos ? "[" + n.host + "]" : n.host) + ":" + std::to_string(n.port);
}

std::string seconds(std::chrono::milliseconds ms) {
    return std::to_string(ms.count() / 1000) + " s";
}

std::string connectFailureReason(int error, const NetworkPortName& n) {
    switch (error) {
    case ECONNREFUSED:
        return "connection refused: nothing accepts connections at " + hostPort(n) +
               ". Check that the device server runs and that this is the port its configuration names.";
    case ETIMEDOUT:
        return "no answer within " + seconds(kConnectTimeout) + " from " + hostPort(n) +
               ": the address may be wrong, a firewall may drop the connection, or the device server is off.";
    case ENETUNREACH:
    case EHOSTUNREACH:
    case EADDRNOTAVAIL:
    case EAFNOSUPPORT:
        return "no route to " + hostPort(n) + ": this computer has no network path to that address.";
    default:
        return std::system_category().message(error) + " (" + hostPort(n) + ").";
    }
}

std::string lookupFailureReason(int error, const NetworkPortName& n) {
    switch (error) {
    case EAI_NONAME:
    case EAI_NODATA:
    case EAI_FAIL:
        return "host not found: no address is known for \"" + n.host +
               "\". Check the name, or give the device server's IP address.";
    case EAI_AGAIN:
        return "host not found: the name server gave no answer for \"" + n.host +
               "\" just now. Try again, or give the device server's IP address.";
    default:
        return std::string("host not found: ") + ::gai_strerror(error) + " (\"" + n.host + "\").";
    }
}

// The readable part of what a server said, for a message.
std::string printable(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\r' || c == '\n') {
            if (!out.empty() && out.back() != ' ') {
                out += ' ';
            }
        } else if (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F) {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out;
}

IoResult sendOutcome(ssize_t n) {
    if (n > 0) {
        return {IoResult::Done, static_cast<std::size_t>(n)};
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return {IoResult::WouldBlock, 0};
    }
    return {IoResult::Failed, 0};
}

} // namespace

NetworkPort::NetworkPort(std::string text, PortUrlReading reading)
    : text_(std::move(text)), reading_(std::move(reading)) {}

NetworkPort::~NetworkPort() {
    close();
}

bool NetworkPort::telnet() const {
    return reading_.name && reading_.name->protocol == NetworkPortName::Protocol::Rfc2217;
}

OpenOutcome NetworkPort::open() {
    close();
    if (!reading_.name) {
        return {OpenResult::CannotOpen, 0, reading_.error};
    }
    const NetworkPortName& n = *reading_.name;
    const auto deadline = Clock::now() + kConnectTimeout;
    const std::optional<Lookup> lookup = resolve(n.host, n.port, deadline);
    if (!lookup) {
        return {OpenResult::CannotOpen, ETIMEDOUT,
                "host not found: looking up \"" + n.host + "\" took more than " + seconds(kConnectTimeout) +
                    ". Check the name server, or give the device server's IP address."};
    }
    if (lookup->error != 0) {
        return {OpenResult::CannotOpen, 0, lookupFailureReason(lookup->error, n)};
    }
    // The addresses in the resolver's order (IPv6 and IPv4 of one name, say), until one answers; the
    // most telling failure is the one reported.
    int failure = EHOSTUNREACH;
    UniqueFd socket;
    for (const Address& address : lookup->addresses) {
        const int error = connectTo(address, deadline, socket);
        if (error == 0) {
            break;
        }
        if (failure != ECONNREFUSED && failure != ETIMEDOUT) {
            failure = error;
        }
        if (error == ECONNREFUSED) {
            failure = error;
        }
        if (error == ETIMEDOUT) {
            break;
        }
    }
    if (!socket.valid()) {
        return {OpenResult::CannotOpen, failure, connectFailureReason(failure, n)};
    }
    const int fd = socket.get();
    setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1); // a request is one write; nothing to gain by waiting
    setOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
    setOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, kKeepIdleSeconds);
    setOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, kKeepIntervalSeconds);
    setOption(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepProbes);
    setOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(kUserTimeoutMs));
    socket_ = std::move(socket);
    if (!telnet()) {
        return {OpenResult::Opened, 0, {}};
    }
    codec_ = std::make_unique<TelnetCodec>();
    OpenOutcome outcome = negotiate(deadline);
    if (outcome.result != OpenResult::Opened) {
        close();
    }
    return outcome;
}

OpenOutcome NetworkPort::negotiate(Clock::time_point deadline) {
    const NetworkPortName& n = *reading_.name;
    std::string greeting; // data the server sent before accepting: a refusal's text, typically
    // A failed send is not answered here: the server that closed the connection may have said why
    // first, and the reads below collect that.
    {
        std::lock_guard lock(mutex_);
        codec_->start();
        flushControlLocked();
    }
    std::vector<uint8_t> raw(512);
    std::vector<uint8_t> data(raw.size());
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (codec_->comPort() == TelnetCodec::ComPort::Accepted && codec_->serverAnswered()) {
                return {OpenResult::Opened, 0, {}};
            }
            if (codec_->comPort() == TelnetCodec::ComPort::Refused) {
                return {OpenResult::NotCommDevice, 0,
                        "the server at " + hostPort(n) + " refuses RFC 2217 serial control. If its port is "
                        "raw TCP, name it socket://" + hostPort(n) + " (the server's own line settings apply)."};
            }
            if (!codec_->failure().empty()) {
                return {OpenResult::NotCommDevice, 0,
                        "the server at " + hostPort(n) + " does not speak Telnet: " + codec_->failure() + "."};
            }
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{socket_.get(), POLLIN, 0};
        const int ready = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return {OpenResult::NotCommDevice, 0,
                    hostPort(n) + " accepted the connection but did not answer the RFC 2217 negotiation within " +
                        seconds(kConnectTimeout) + ". If its port is raw TCP, name it socket://" + hostPort(n) + "."};
        }
        const ssize_t got = ::recv(socket_.get(), raw.data(), raw.size(), 0);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (got <= 0) {
            const std::string said = printable(greeting);
            return {OpenResult::CannotOpen, got < 0 ? errno : 0,
                    "the server at " + hostPort(n) + " closed the connection at once" +
                        (said.empty() ? std::string(": another client may hold its port.")
                                      : ", saying \"" + said + "\".")};
        }
        std::lock_guard lock(mutex_);
        const std::size_t count = codec_->receive(raw.data(), static_cast<std::size_t>(got), data.data());
        greeting.append(reinterpret_cast<const char*>(data.data()), std::min(count, kGreetingLimit - std::min(kGreetingLimit, greeting.size())));
        flushControlLocked();
    }
}

void NetworkPort::close() {
    std::lock_guard lock(mutex_);
    socket_.reset();
    codec_.reset();
    control_.clear();
    halfEscape_ = false;
    sendFailed_ = false;
}

bool NetworkPort::flushControlLocked() {
    if (codec_ && codec_->hasOutput()) {
        control_ += codec_->takeOutput();
    }
    // Protocol bytes never go between the two halves of a doubled 0xFF.
    while (!control_.empty() && !halfEscape_ && !sendFailed_) {
        const IoResult r = sendOutcome(::send(socket_.get(), control_.data(), control_.size(), MSG_NOSIGNAL));
        if (r.kind == IoResult::WouldBlock) {
            break;
        }
        if (r.kind == IoResult::Failed) {
            sendFailed_ = true;
            break;
        }
        control_.erase(0, r.count);
    }
    return !sendFailed_;
}

IoResult NetworkPort::read(void* buffer, std::size_t size) {
    return read(buffer, size, nullptr, 0);
}

IoResult NetworkPort::read(void* first, std::size_t firstSize, void* second, std::size_t secondSize) {
    const std::size_t total = firstSize + secondSize;
    if (total == 0) {
        return {IoResult::WouldBlock, 0};
    }
    if (!telnet()) {
        iovec parts[2] = {{first, firstSize}, {second, secondSize}};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = secondSize > 0 ? 2 : 1;
        const ssize_t n = ::recvmsg(socket_.get(), &message, 0);
        return sendOutcome(n); // 0 is the server closing: Failed, as a hang-up
    }
    if (raw_.size() < total) {
        raw_.resize(total);
        data_.resize(total);
    }
    const IoResult got = sendOutcome(::recv(socket_.get(), raw_.data(), total, 0));
    if (got.kind != IoResult::Done) {
        return got;
    }
    std::size_t count = 0;
    {
        std::lock_guard lock(mutex_);
        count = codec_->receive(raw_.data(), got.count, data_.data());
        if (!codec_->failure().empty() || !flushControlLocked()) {
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

IoResult NetworkPort::write(const void* buffer, std::size_t size) {
    if (size == 0) {
        return {IoResult::Failed, 0};
    }
    if (!telnet()) {
        return sendOutcome(::send(socket_.get(), buffer, size, MSG_NOSIGNAL));
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
    const IoResult sent = sendOutcome(::send(socket_.get(), wire_.data(), wire_.size(), MSG_NOSIGNAL));
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

void NetworkPort::applyLineSettings(const LineSettings& settings) {
    if (!telnet()) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (codec_) {
        codec_->setLine(settings);
        flushControlLocked();
    }
}

bool NetworkPort::readCounters(LineCounters& counters) const {
    if (!telnet()) {
        return false;
    }
    std::lock_guard lock(mutex_);
    if (!codec_) {
        return false;
    }
    counters = codec_->counters();
    return true;
}

} // namespace serial
