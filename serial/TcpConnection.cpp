// Connecting to a serial device server: name lookup and connection within a bounded time that a
// cancel event ends at once, keepalive, and the words for what went wrong.
#include "serial/TcpConnection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <system_error>
#include <thread>
#include <vector>

namespace serial {

namespace {

// A link that died while idle is noticed after 5 s of silence and three unanswered probes 5 s apart;
// one that dies while bytes are unacknowledged, after the same 20 s.
constexpr int kKeepIdleSeconds = 5;
constexpr int kKeepIntervalSeconds = 5;
constexpr int kKeepProbes = 3;
constexpr unsigned kUserTimeoutMs = 20000;
constexpr int kSendBuffer = 64 * 1024;

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

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

enum class Waited { Ready, TimedOut, Cancelled, Failed };

// Waits for `events` on `fd` until `deadline`, or for `cancel` to be signalled, which wins.
Waited waitFor(int fd, short events, Clock::time_point deadline, const EventFd* cancel) {
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {cancel ? cancel->fd() : -1, POLLIN, 0}};
        const int n = ::poll(p, cancel ? 2 : 1, millisecondsUntil(deadline));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Waited::Failed;
        }
        if (cancel && (p[1].revents & POLLIN)) {
            return Waited::Cancelled;
        }
        if (p[0].revents != 0) {
            return Waited::Ready;
        }
        if (n == 0 && Clock::now() >= deadline) {
            return Waited::TimedOut;
        }
    }
}

// A name looked up on a thread of its own, so a name server that does not answer costs no more than
// the time left. A lookup still running when its caller gives up finishes unseen and frees what it
// holds; the eventfd tells the caller it is done.
struct PendingLookup {
    std::mutex mutex;
    std::optional<Lookup> result;
    EventFd done;
};

// nullopt: the deadline passed; an error code EAI_CANCELED: cancelled.
std::optional<Lookup> resolve(const std::string& host, uint16_t port, Clock::time_point deadline,
                              const EventFd* cancel) {
    Lookup numeric = lookUp(host, port, AI_NUMERICHOST);
    if (numeric.error != EAI_NONAME) {
        return numeric;
    }
    auto pending = std::make_shared<PendingLookup>();
    if (!pending->done.create()) {
        return lookUp(host, port, 0);
    }
    const auto work = [pending, host, port] {
        Lookup found = lookUp(host, port, 0);
        std::lock_guard lock(pending->mutex);
        pending->result = std::move(found);
        pending->done.signal();
    };
    try {
        std::thread(work).detach();
    } catch (const std::system_error&) {
        work();
    }
    switch (waitFor(pending->done.fd(), POLLIN, deadline, cancel)) {
    case Waited::Cancelled:
        return Lookup{EAI_CANCELED, {}};
    case Waited::Ready:
        break;
    case Waited::TimedOut:
    case Waited::Failed:
        return std::nullopt;
    }
    std::lock_guard lock(pending->mutex);
    return pending->result;
}

// Connects to one address; the socket, or the errno of the failure (ETIMEDOUT at the deadline,
// EINTR when cancelled). The wait is bounded by the time left: a listener whose accept queue is
// full answers no SYN, and the kernel alone would retry for minutes.
int connectTo(const Address& address, Clock::time_point deadline, const EventFd* cancel, UniqueFd& out) {
    UniqueFd fd(::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        return errno;
    }
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0) {
        if (errno != EINPROGRESS) {
            return errno;
        }
        switch (waitFor(fd.get(), POLLOUT, deadline, cancel)) {
        case Waited::Cancelled:
            return EINTR;
        case Waited::TimedOut:
            return ETIMEDOUT;
        case Waited::Failed:
            return errno;
        case Waited::Ready:
            break;
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

std::string connectFailureReason(int error, const std::string& endpoint) {
    switch (error) {
    case ECONNREFUSED:
        return "connection refused: nothing accepts connections at " + endpoint +
               ". Check that the device server runs and that this is the port its configuration names.";
    case ETIMEDOUT:
        return "no answer within " + secondsText(kConnectTimeout) + " from " + endpoint +
               ": the address may be wrong, a firewall may drop the connection, or the device server is off "
               "or too busy to accept one.";
    case ENETUNREACH:
    case EHOSTUNREACH:
    case EADDRNOTAVAIL:
    case EAFNOSUPPORT:
        return "no route to " + endpoint + ": this computer has no network path to that address.";
    default:
        return std::system_category().message(error) + " (" + endpoint + ").";
    }
}

std::string lookupFailureReason(int error, const std::string& host) {
    switch (error) {
    case EAI_NONAME:
    case EAI_NODATA:
    case EAI_FAIL:
        return "host not found: no address is known for " + echoed(host) +
               ". Check the name, or give the device server's IP address.";
    case EAI_AGAIN:
        return "host not found: the name server gave no answer for " + echoed(host) +
               " just now. Try again, or give the device server's IP address.";
    default:
        return std::string("host not found: ") + ::gai_strerror(error) + " (" + echoed(host) + ").";
    }
}

IoResult socketOutcome(ssize_t n) {
    if (n > 0) {
        return {IoResult::Done, static_cast<std::size_t>(n)};
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return {IoResult::WouldBlock, 0};
    }
    return {IoResult::Failed, 0}; // 0 is the server closing: as a hang-up
}

} // namespace

std::string secondsText(std::chrono::milliseconds ms) {
    return std::to_string(ms.count() / 1000) + " s";
}

OpenOutcome cancelledOpen() {
    return {OpenResult::CannotOpen, EINTR, "interrupted while connecting."};
}

TcpConnection::TcpConnection(std::string text, PortUrlReading reading)
    : text_(std::move(text)), reading_(std::move(reading)) {}

std::string TcpConnection::endpoint() const {
    if (!reading_.name) {
        return {};
    }
    const NetworkPortName& n = *reading_.name;
    return (n.host.find(':') != std::string::npos ? "[" + n.host + "]" : n.host) + ":" + std::to_string(n.port);
}

OpenOutcome TcpConnection::connect(Clock::time_point deadline, const EventFd* cancel) {
    close();
    if (!reading_.name) {
        return {OpenResult::CannotOpen, 0, reading_.error};
    }
    const NetworkPortName& n = *reading_.name;
    const std::optional<Lookup> lookup = resolve(n.host, n.port, deadline, cancel);
    if (!lookup) {
        return {OpenResult::CannotOpen, ETIMEDOUT,
                "host not found: looking up " + echoed(n.host) + " took more than " + secondsText(kConnectTimeout) +
                    ". Check the name server, or give the device server's IP address."};
    }
    if (lookup->error == EAI_CANCELED) {
        return cancelledOpen();
    }
    if (lookup->error != 0) {
        return {OpenResult::CannotOpen, 0, lookupFailureReason(lookup->error, n.host)};
    }
    // The addresses in the resolver's order (IPv6 and IPv4 of one name, say), until one answers; the
    // most telling failure is the one reported.
    int failure = EHOSTUNREACH;
    UniqueFd socket;
    for (const Address& address : lookup->addresses) {
        const int error = connectTo(address, deadline, cancel, socket);
        if (error == 0) {
            break;
        }
        if (error == EINTR) {
            return cancelledOpen();
        }
        if ((failure != ECONNREFUSED && failure != ETIMEDOUT) || error == ECONNREFUSED) {
            failure = error;
        }
        if (error == ETIMEDOUT) {
            break;
        }
    }
    if (!socket.valid()) {
        return {OpenResult::CannotOpen, failure, connectFailureReason(failure, endpoint())};
    }
    const int fd = socket.get();
    setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1); // a request is one write; nothing to gain by waiting
    setOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
    setOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, kKeepIdleSeconds);
    setOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, kKeepIntervalSeconds);
    setOption(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepProbes);
    setOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(kUserTimeoutMs));
    // What waits in the kernel for a server that does not read stays bounded too; a serial line
    // never has more than this in flight.
    setOption(fd, SOL_SOCKET, SO_SNDBUF, kSendBuffer);
    socket_ = std::move(socket);
    return {OpenResult::Opened, 0, {}};
}

IoResult TcpConnection::receive(void* buffer, std::size_t size) {
    return socketOutcome(::recv(socket_.get(), buffer, size, 0));
}

IoResult TcpConnection::receive(void* first, std::size_t firstSize, void* second, std::size_t secondSize) {
    iovec parts[2] = {{first, firstSize}, {second, secondSize}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = secondSize > 0 ? 2 : 1;
    return socketOutcome(::recvmsg(socket_.get(), &message, 0));
}

IoResult TcpConnection::send(const void* buffer, std::size_t size) {
    return socketOutcome(::send(socket_.get(), buffer, size, MSG_NOSIGNAL));
}

WaitResult TcpConnection::waitReadable(Clock::time_point deadline, const EventFd* cancel) const {
    switch (waitFor(socket_.get(), POLLIN, deadline, cancel)) {
    case Waited::Ready:
        return WaitResult::Ready;
    case Waited::TimedOut:
        return WaitResult::TimedOut;
    case Waited::Cancelled:
        return WaitResult::Closed;
    case Waited::Failed:
        break;
    }
    return WaitResult::Failed;
}

} // namespace serial
