// Pseudo-terminal peer for the serial and window tests.
#include "tests/support/PtyPeer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

using Clock = std::chrono::steady_clock;

PtyPeer::PtyPeer() {
    char name[256] = {};
    if (openpty(&master_, &spareSlave_, name, nullptr, nullptr) != 0) {
        throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    }
    slavePath_ = name;
    // Raw on both sides so nothing is echoed or translated before the component sets its own mode.
    termios t{};
    tcgetattr(spareSlave_, &t);
    cfmakeraw(&t);
    tcsetattr(spareSlave_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(spareSlave_, F_SETFD, FD_CLOEXEC);
}

PtyPeer::~PtyPeer() {
    closeMaster();
    closeSpareSlave();
}

void PtyPeer::write(std::string_view bytes) {
    std::size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
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
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 50);
    }
}

static bool readSome(int fd, std::string& out, int waitMs) {
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

std::string PtyPeer::readAtLeast(std::size_t count, std::chrono::milliseconds timeout) {
    std::string out;
    const auto deadline = Clock::now() + timeout;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        if (!readSome(master_, out, static_cast<int>(std::min<long long>(left.count(), 50)))) {
            continue;
        }
    }
    return out;
}

std::string PtyPeer::readUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) {
    std::string out;
    const auto deadline = Clock::now() + limit;
    auto lastData = Clock::now();
    while (Clock::now() < deadline) {
        if (readSome(master_, out, 10)) {
            lastData = Clock::now();
        } else if (Clock::now() - lastData >= quiet) {
            break;
        }
    }
    return out;
}

void PtyPeer::closeMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

void PtyPeer::closeSpareSlave() {
    if (spareSlave_ >= 0) {
        ::close(spareSlave_);
        spareSlave_ = -1;
    }
}

} // namespace testsupport
