// The delaying relay: one thread accepts, and moves bytes both ways for the connection in hand.
#include "tests/support/DelayProxy.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <deque>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

struct Held {
    Clock::time_point due;
    std::string bytes;
};

// One direction of the connection: what came from `from`, held, then written to `to`.
struct Direction {
    int from;
    int to;
    std::deque<Held> held;
    bool ended = false; // `from` closed: pass the close on once all is written
    bool closedOn = false;
};

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

void writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return; // the other side went; its own reads will tell
        }
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

DelayProxy::DelayProxy(uint16_t target, std::chrono::milliseconds delay) : target_(target), delay_(delay) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 4) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error(std::string("delay proxy: ") + std::strerror(errno));
    }
    port_ = ntohs(address.sin_port);
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { serve(); });
}

DelayProxy::~DelayProxy() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stop_, &one, sizeof one);
    thread_.join();
    ::close(stop_);
    ::close(listener_);
}

void DelayProxy::serve() {
    int client = -1;
    int server = -1;
    Direction up{-1, -1, {}, false, false};
    Direction down{-1, -1, {}, false, false};
    const auto drop = [&] {
        for (int* fd : {&client, &server}) {
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
        }
        up = {-1, -1, {}, false, false};
        down = {-1, -1, {}, false, false};
    };
    for (;;) {
        int timeout = -1;
        for (const Direction* d : {&up, &down}) {
            if (!d->held.empty()) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(d->held.front().due - Clock::now());
                const int ms = static_cast<int>(std::max<long long>(0, left.count()));
                timeout = timeout < 0 ? ms : std::min(timeout, ms);
            }
        }
        pollfd fds[4] = {{stop_, POLLIN, 0},
                         {listener_, POLLIN, 0},
                         {up.ended ? -1 : client, POLLIN, 0},
                         {down.ended ? -1 : server, POLLIN, 0}};
        if (::poll(fds, 4, timeout) < 0 && errno != EINTR) {
            break;
        }
        if (fds[0].revents & POLLIN) {
            break;
        }
        if (fds[1].revents & POLLIN) {
            const int accepted = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (accepted >= 0) {
                drop();
                client = accepted;
                server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                const sockaddr_in address = loopback(target_);
                if (server < 0 || ::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
                    drop();
                } else {
                    const int one = 1;
                    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    up = {client, server, {}, false, false};
                    down = {server, client, {}, false, false};
                }
            }
        }
        for (auto [d, index] : {std::pair{&up, 2}, std::pair{&down, 3}}) {
            if (fds[index].fd >= 0 && (fds[index].revents & (POLLIN | POLLHUP | POLLERR))) {
                char buffer[4096];
                const ssize_t n = ::recv(d->from, buffer, sizeof buffer, 0);
                if (n > 0) {
                    d->held.push_back({Clock::now() + delay_, std::string(buffer, static_cast<std::size_t>(n))});
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    d->ended = true;
                }
            }
        }
        for (Direction* d : {&up, &down}) {
            while (!d->held.empty() && d->held.front().due <= Clock::now()) {
                writeAll(d->to, d->held.front().bytes);
                d->held.pop_front();
            }
            if (d->ended && d->held.empty() && !d->closedOn && d->to >= 0) {
                ::shutdown(d->to, SHUT_WR);
                d->closedOn = true;
            }
        }
        if (up.closedOn && down.closedOn) {
            drop();
        }
    }
    drop();
}

} // namespace testsupport
