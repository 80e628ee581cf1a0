// Runs a program to its end and collects its output.
#include "tests/support/ProgramRun.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

int Spawn(const std::string& program, const std::vector<std::string>& arguments, int stdoutFd, int stderrFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    if (stderrFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
    }
    std::vector<std::string> words = {program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::runtime_error(program + ": " + std::strerror(error));
    }
    return pid;
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds limit) {
    return RunProgram(program, arguments, ProgramStreams{}, limit);
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const ProgramStreams& streams, std::chrono::milliseconds limit) {
    using Output = ProgramStreams::Output;
    const bool piped = streams.output == Output::Pipe || streams.output == Output::FirstLineOnly;
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (pipe2(err, O_CLOEXEC) != 0 || (piped && pipe2(out, O_CLOEXEC) != 0)) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (streams.inputFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, streams.inputFd, STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    switch (streams.output) {
    case Output::Full:
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/full", O_WRONLY, 0);
        break;
    case Output::Closed:
        posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
        break;
    case Output::Given:
        posix_spawn_file_actions_adddup2(&actions, streams.outputFd, STDOUT_FILENO);
        break;
    case Output::Pipe:
    case Output::FirstLineOnly:
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        break;
    }
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<std::string> words = {program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    for (const int fd : {out[1], err[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    if (spawned != 0) {
        for (const int fd : {out[0], err[0]}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        throw std::runtime_error(program + ": " + std::strerror(spawned));
    }
    ProgramResult result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::array<pollfd, 2> fds = {{{out[0], POLLIN, 0}, {err[0], POLLIN, 0}}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = piped ? 2 : 1;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        if (poll(fds.data(), fds.size(), static_cast<int>(left.count())) < 0 && errno != EINTR) {
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            }
            const bool readerGoes = i == 0 && streams.output == Output::FirstLineOnly &&
                                    result.out.find('\n') != std::string::npos;
            if (n <= 0 || readerGoes) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0) {
            ::close(fd.fd);
        }
    }
    int status = 0;
    if (open > 0) {
        ::kill(pid, SIGKILL);
    }
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    result.status = open == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.maxResidentKb = usage.ru_maxrss;
    return result;
}

} // namespace testsupport
