// Pseudo-terminal peer for the serial and window tests.
#include "tests/support/PtyPeer.h"

#include "tests/support/LineIo.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

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
    WriteAll(master_, bytes);
}

std::string PtyPeer::readAtLeast(std::size_t count, std::chrono::milliseconds timeout) {
    return ReadAtLeast(master_, count, timeout);
}

std::string PtyPeer::readUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) {
    return ReadUntilQuiet(master_, quiet, limit);
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
