// A program run in the background by a test, its output going to files, and a bounded wait for a
// condition: for tests that act while the program runs (a fault switched on the simulator, Ctrl+C).
#pragma once

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/support/ProgramRun.h"

namespace testsupport {

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Waits (bounded) for `condition`, checking it every few milliseconds.
inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class Background {
public:
    Background(const std::string& program, const std::string& dir, const std::vector<std::string>& arguments)
        : out_(dir + "/bg.out"), err_(dir + "/bg.err") {
        const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_ = Spawn(program, arguments, out, err);
        ::close(out);
        ::close(err);
    }
    ~Background() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    void interrupt() const { ::kill(pid_, SIGINT); }
    // The exit status, or -1 when it did not end in time (it is then killed).
    int wait(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        int status = 0;
        const bool ended = WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
        if (!ended) {
            return -1;
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string out() const { return ReadWholeFile(out_); }
    std::string err() const { return ReadWholeFile(err_); }

private:
    std::string out_, err_;
    int pid_ = -1;
};

} // namespace testsupport
