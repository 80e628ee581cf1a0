// Bounded reads and writes on a test's serial line.
#include "tests/support/LineIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace testsupport {

using Clock = std::chrono::steady_clock;

namespace {

bool readSome(int fd, std::string& out, int waitMs) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0 || !(p.revents & POLLIN)) {
        return false;
    }
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) {
        return false;
    }
    out.append(buf, static_cast<std::size_t>(n));
    return true;
}

} // namespace

void WriteAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error(std::string("pty write: ") + std::strerror(errno));
        }
        if (Clock::now() > deadline) {
            throw std::runtime_error("pty write: the line did not drain");
        }
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 50);
    }
}

std::string ReadAtLeast(int fd, std::size_t count, std::chrono::milliseconds timeout) {
    std::string out;
    const auto deadline = Clock::now() + timeout;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        if (!readSome(fd, out, static_cast<int>(std::min<long long>(left.count(), 50)))) {
            continue;
        }
    }
    return out;
}

std::string ReadUntilQuiet(int fd, std::chrono::milliseconds quiet, std::chrono::milliseconds limit) {
    std::string out;
    const auto deadline = Clock::now() + limit;
    auto lastData = Clock::now();
    while (Clock::now() < deadline) {
        if (readSome(fd, out, 10)) {
            lastData = Clock::now();
        } else if (Clock::now() - lastData >= quiet) {
            break;
        }
    }
    return out;
}

} // namespace testsupport
