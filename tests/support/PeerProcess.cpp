// Network peers started and stopped by tests.
#include "tests/support/PeerProcess.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/ProgramRun.h"
#include "tests/support/Ser2netProcess.h"

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kStartLimit = std::chrono::seconds(20);

} // namespace

PeerProcess::PeerProcess(const std::string& program, const std::vector<std::string>& arguments) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    try {
        pid_ = Spawn(program, arguments, out[1], devNull);
    } catch (...) {
        ::close(out[0]);
        ::close(out[1]);
        ::close(devNull);
        throw;
    }
    ::close(out[1]);
    ::close(devNull);
    std::string line;
    const auto deadline = Clock::now() + kStartLimit;
    while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        char buffer[64];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        line.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    const unsigned long port = line.empty() ? 0 : std::strtoul(line.c_str(), nullptr, 10);
    if (port == 0 || port > 65535) {
        stop();
        throw std::runtime_error(program + " gave no port");
    }
    port_ = static_cast<uint16_t>(port);
}

PeerProcess::PeerProcess(const std::string& program, const std::vector<std::string>& arguments, uint16_t port)
    : port_(port) {
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_ = Spawn(program, arguments, devNull, devNull);
    ::close(devNull);
    const auto deadline = Clock::now() + kStartLimit;
    while (!ListensOnLoopback(port) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ListensOnLoopback(port)) {
        stop();
        throw std::runtime_error(program + " does not listen on port " + std::to_string(port));
    }
}

PeerProcess::~PeerProcess() {
    stop();
}

std::string PeerProcess::url(const std::string& scheme) const {
    return scheme + "://127.0.0.1:" + std::to_string(port_);
}

void PeerProcess::stop() {
    if (pid_ <= 0) {
        return;
    }
    StopChild(pid_);
    pid_ = -1;
}

FullListener::FullListener() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    // A backlog of 0 holds one completed connection; the next attempts stay unanswered.
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 0) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("no listener");
    }
    port_ = ntohs(address.sin_port);
    for (int i = 0; i < 2; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers_.push_back(fd);
    }
    const auto deadline = Clock::now() + kStartLimit;
    while (ConnectingTo(port_) < 1 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (ConnectingTo(port_) < 1) {
        throw std::runtime_error("the accept queue does not fill");
    }
}

FullListener::~FullListener() {
    for (const int fd : fillers_) {
        ::close(fd);
    }
    ::close(listener_);
}

int ConnectingTo(uint16_t port) {
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X 02", port); // remote address, state SYN_SENT
    std::ifstream table("/proc/net/tcp");
    int count = 0;
    for (std::string line; std::getline(table, line);) {
        count += line.find(wanted) != std::string::npos;
    }
    return count;
}

std::string DebianPython() {
    return "/usr/bin/python3";
}

bool HasPythonModule(const std::string& module) {
    return RunProgram(DebianPython(), {"-c", "import " + module}).status == 0;
}

std::string SupportFile(const std::string& name) {
    return std::string(VX_TEST_SUPPORT_DIR) + "/" + name;
}

} // namespace testsupport
