// The simulator as a child process, and a raw line to it.
#include "tests/support/SimProcess.h"

#include "tests/support/LineIo.h"
#include "tests/support/ProgramRun.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>


namespace testsupport {

using Clock = std::chrono::steady_clock;

namespace {

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

} // namespace

SimProcess::SimProcess(const std::string& program, const std::vector<std::string>& options) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    pid_t pid = -1;
    try {
        pid = Spawn(program, options, pipeEnds[1]);
    } catch (...) {
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        throw;
    }
    ::close(pipeEnds[1]);
    output_ = pipeEnds[0];
    pid_ = pid;

    const auto deadline = Clock::now() + std::chrono::seconds(10);
    std::string text;
    while (text.find('\n') == std::string::npos) {
        pollfd p{output_, POLLIN, 0};
        if (::poll(&p, 1, remainingMs(deadline)) <= 0) {
            stop();
            throw std::runtime_error("vx538-sim printed no terminal path");
        }
        char buffer[256];
        const ssize_t n = ::read(output_, buffer, sizeof buffer);
        if (n <= 0) {
            stop();
            throw std::runtime_error("vx538-sim ended before printing its terminal path");
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    path_ = text.substr(0, text.find('\n'));
}

SimProcess::~SimProcess() {
    stop();
    if (output_ >= 0) {
        ::close(output_);
    }
}

std::optional<int> SimProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (status_ || pid_ < 0) {
        return status_;
    }
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid_ = -1;
            return status_;
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        ::usleep(2000);
    }
}

std::optional<int> SimProcess::stop() {
    if (pid_ < 0) {
        return status_;
    }
    ::kill(pid_, SIGTERM);
    if (const auto status = waitForExit(std::chrono::seconds(5))) {
        return status;
    }
    ::kill(pid_, SIGKILL);
    waitForExit(std::chrono::seconds(5));
    return std::nullopt;
}

SimLine::SimLine(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        throw std::runtime_error(path + ": " + std::strerror(errno));
    }
    termios raw{};
    tcgetattr(fd_, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd_, TCSANOW, &raw);
}

SimLine::~SimLine() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void SimLine::write(const std::string& bytes) {
    WriteAll(fd_, bytes);
}

std::string SimLine::readAtLeast(std::size_t count, std::chrono::milliseconds timeout) {
    return ReadAtLeast(fd_, count, timeout);
}

std::string SimLine::readUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) {
    return ReadUntilQuiet(fd_, quiet, limit);
}

bool SimLine::hungUp(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    do {
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, std::min(remainingMs(deadline), 50));
        if (p.revents & POLLHUP) {
            return true;
        }
        if (p.revents & POLLIN) {
            char buffer[256];
            if (::read(fd_, buffer, sizeof buffer) < 0 && errno == EIO) {
                return true;
            }
        }
    } while (Clock::now() < deadline);
    return false;
}

} // namespace testsupport
