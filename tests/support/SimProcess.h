// The vx538-sim program as a child process of a test: started with the given options, its
// terminal's path read from its first line of output, stopped (SIGTERM to its own pid, then a
// bounded wait) when the object goes.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

class SimProcess {
public:
    // `program` is the path of vx538-sim; throws when it does not print its terminal's path in time.
    SimProcess(const std::string& program, const std::vector<std::string>& options = {});
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& path() const { return path_; }
    int pid() const { return pid_; }

    // Sends SIGTERM and waits for the exit; returns the exit status, or nothing if it did not exit
    // normally in time (it is then killed).
    std::optional<int> stop();
    // Waits up to `timeout` for the program to end by itself; its exit status if it did.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);

private:
    int pid_ = -1;
    int output_ = -1;
    std::string path_;
    std::optional<int> status_;
};

// A raw descriptor on the simulator's terminal, for tests that play the tool's side byte by byte.
class SimLine {
public:
    explicit SimLine(const std::string& path);
    ~SimLine();
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    int fd() const { return fd_; }
    void write(const std::string& bytes);
    // Collects until at least `count` bytes are in or `timeout` passes.
    std::string readAtLeast(std::size_t count, std::chrono::milliseconds timeout);
    // Collects until the line has been quiet for `quiet` (or `limit` passes).
    std::string readUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit);
    // Whether the other side has hung up (poll reports POLLHUP), waiting up to `timeout`.
    bool hungUp(std::chrono::milliseconds timeout);

private:
    int fd_ = -1;
};

} // namespace testsupport
