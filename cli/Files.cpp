// Reading input files and writing output files.
#include "cli/Files.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/Session.h"
#include "serial/PosixPort.h"
#include "tools/Utf8Text.h"

namespace cli {

namespace {

// A FIFO or pipe that stays silent this long is given up, and so is a FIFO nobody reads.
constexpr int kPipeSilenceMs = 5000;
// How often a FIFO without a reader is tried again.
constexpr int kReaderRetryMs = 20;

[[noreturn]] void fail(const std::string& message) {
    throw Failure(code::BadFile, message);
}

std::string reason() {
    return std::strerror(errno);
}

// A path as messages echo it (cut, its unprintable bytes escaped).
std::string shown(const std::string& path) {
    return path.empty() ? "''" : tools::EchoName(path);
}

const char* kindOf(mode_t mode) {
    constexpr std::pair<mode_t, const char*> kKinds[] = {
        {S_IFDIR, "a directory"},    {S_IFCHR, "a character device"},
        {S_IFBLK, "a block device"}, {S_IFSOCK, "a socket"},
        {S_IFIFO, "a FIFO"},
    };
    for (const auto& [type, name] : kKinds) {
        if ((mode & S_IFMT) == type) {
            return name;
        }
    }
    return "not a regular file";
}

// Reads to the end, at most kMaxInputBytes whatever the source: the bound is what keeps an endless
// stream (a pipe from /dev/zero) from taking the memory. `silenceMs`: how long a pipe may stay silent
// (-1: as long as it likes, as a terminal being typed into); `stopFd` ends any wait.
std::string readAll(int fd, const std::string& name, int silenceMs, int stopFd) {
    std::string text;
    char buffer[65536];
    for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int ready = ::poll(p, stopFd >= 0 ? 2 : 1, silenceMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready > 0 && (p[1].revents & POLLIN)) {
            throw Failure(code::Interrupted, "interrupted while reading " + name);
        }
        if (ready == 0) {
            fail("cannot read " + name + ": nothing came for " + std::to_string(silenceMs / 1000) +
                 " s (does a program write to it?)");
        }
        const std::size_t room = kMaxInputBytes + 1 - text.size();
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, room));
        if (n == 0) {
            return text;
        }
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            fail("cannot read " + name + ": " + reason());
        }
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kMaxInputBytes) {
            fail(name + " holds more than 1 MB; a configuration file is a few kB");
        }
    }
}

// Where a path leads, symbolic links followed (a link to nothing yet leads to the file it names).
std::string resolved(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        char target[4096];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n < 0) {
            return path;
        }
        std::string next(target, static_cast<std::size_t>(n));
        if (!next.starts_with('/')) {
            const auto slash = path.find_last_of('/');
            next = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + next;
        }
        path = std::move(next);
    }
    fail("cannot write " + shown(path) + ": too many levels of symbolic links");
}

// Standard output and the descriptors a shell hands on are written where they stand, never replaced.
bool isOpenDescriptor(const std::string& path) {
    return path == "/dev/stdout" || path == "/dev/stderr" || path.starts_with("/dev/fd/") ||
           path.starts_with("/proc/self/fd/");
}

void writeAll(int fd, std::string_view text, const std::string& name) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot write " + name + ": " + reason());
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void writeStream(const std::string& path, std::string_view text, const std::string& name, int stopFd) {
    // Appending, never truncating: a device or pipe has nothing to cut, and a file behind a shell's
    // descriptor keeps what is already in it. Opened without blocking, since a FIFO without a reader
    // would block the open for good; without one it is ENXIO, tried again until a reader comes.
    serial::UniqueFd fd;
    for (int waited = 0;; waited += kReaderRetryMs) {
        fd = serial::UniqueFd(::open(path.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (fd.valid() || errno != ENXIO) {
            break;
        }
        if (waited >= kPipeSilenceMs) {
            fail("cannot write " + name + ": no program reads from it (waited " +
                 std::to_string(kPipeSilenceMs / 1000) + " s: does a program read from it?)");
        }
        pollfd p{stopFd, POLLIN, 0};
        if (::poll(&p, stopFd >= 0 ? 1 : 0, kReaderRetryMs) > 0) {
            throw Failure(code::Interrupted, "cannot write " + name +
                                                 ": interrupted while waiting for a program to read from it");
        }
    }
    if (!fd.valid()) {
        fail("cannot write " + name + ": " + reason());
    }
    ::fcntl(fd.get(), F_SETFL, O_APPEND); // blocking again, now that a reader is there
    writeAll(fd.get(), text, name);
}

void writeInPlace(const std::string& path, std::string_view text, const std::string& name) {
    serial::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        fail("cannot write " + name + ": " + reason());
    }
    writeAll(fd.get(), text, name);
    if (::fsync(fd.get()) != 0 && errno != EINVAL) {
        fail("cannot write " + name + ": " + reason());
    }
}

// A temporary file beside the target, renamed over it once whole: a failed write never leaves half a
// file where an old one was.
void writeReplacing(const std::string& path, const struct stat* old, std::string_view text,
                    const std::string& name) {
    static std::atomic<int> counter{0};
    const std::string temporary =
        path + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
    serial::UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666));
    if (!fd.valid()) {
        fail("cannot write " + name + ": " + reason());
    }
    try {
        if (old) {
            if (::fchown(fd.get(), old->st_uid, old->st_gid) != 0) {
                // Not ours to give away: write the file where it is instead, so it keeps its owner.
                fd.reset();
                ::unlink(temporary.c_str());
                writeInPlace(path, text, name);
                return;
            }
            ::fchmod(fd.get(), old->st_mode & 07777);
        }
        writeAll(fd.get(), text, name);
        if (::fsync(fd.get()) != 0) {
            fail("cannot write " + name + ": " + reason());
        }
        fd.reset();
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            fail("cannot write " + name + ": " + reason());
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

} // namespace

std::string ReadInputFile(const std::string& path, int stopFd) {
    if (path == "-") {
        return readAll(STDIN_FILENO, "standard input", -1, stopFd);
    }
    serial::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        fail("cannot read " + shown(path) + ": " + reason());
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        fail("cannot read " + shown(path) + ": " + reason());
    }
    if (S_ISREG(st.st_mode)) {
        if (static_cast<std::size_t>(st.st_size) > kMaxInputBytes) {
            fail(shown(path) + " is " + std::to_string(st.st_size / 1024) +
                 " kB; a configuration file is a few kB (at most 1 MB)");
        }
        ::fcntl(fd.get(), F_SETFL, 0);
        return readAll(fd.get(), shown(path), -1, stopFd);
    }
    if (S_ISFIFO(st.st_mode)) {
        return readAll(fd.get(), shown(path), kPipeSilenceMs, stopFd);
    }
    fail("cannot read " + shown(path) + ": it is " + kindOf(st.st_mode) +
         "; files are read from a regular file, a pipe or '-' (standard input)");
}

void CheckOutputFile(const std::string& path) {
    if (path == "-" || isOpenDescriptor(path)) {
        return;
    }
    const std::string target = resolved(path);
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode) && !S_ISFIFO(st.st_mode)) {
            fail("cannot write " + shown(path) + ": it is " + kindOf(st.st_mode) +
                 "; output goes to a regular file, a character device, a FIFO or '-'");
        }
        if (::access(target.c_str(), W_OK) != 0) {
            fail("cannot write " + shown(path) + ": " + reason());
        }
        return;
    }
    if (errno != ENOENT) {
        fail("cannot write " + shown(path) + ": " + reason());
    }
    const auto slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    if (target.empty() || target.back() == '/') {
        fail("cannot write " + shown(path) + ": no file name");
    }
    if (::access(folder.c_str(), W_OK) != 0) {
        fail("cannot write " + shown(path) + ": " + reason() + " (" + shown(folder) + ")");
    }
}

void WriteOutputFile(const std::string& path, std::string_view text, int stopFd) {
    if (isOpenDescriptor(path)) {
        writeStream(path, text, shown(path), stopFd);
        return;
    }
    CheckOutputFile(path);
    const std::string target = resolved(path);
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) {
        writeReplacing(target, nullptr, text, shown(path));
    } else if (S_ISREG(st.st_mode)) {
        // A file with other names (hard links) is written where it is, so that they all still see it.
        if (st.st_nlink > 1) {
            writeInPlace(target, text, shown(path));
        } else {
            writeReplacing(target, &st, text, shown(path));
        }
    } else {
        writeStream(target, text, shown(path), stopFd);
    }
}

namespace {

struct Identity {
    dev_t device;
    ino_t inode;
};

// The regular file or FIFO `path` leads to; nothing for anything else or nothing there.
std::optional<Identity> identityOf(const std::string& path, int standardFd) {
    struct stat st {};
    const int status = path == "-" ? ::fstat(standardFd, &st) : ::stat(path.c_str(), &st);
    if (status != 0 || !(S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode))) {
        return std::nullopt;
    }
    return Identity{st.st_dev, st.st_ino};
}

// "--log FILE", or the standard stream "-" stands for.
std::string roleAndName(std::string_view role, const std::string& path, std::string_view standard) {
    return path == "-" ? std::string(standard) : std::string(role) + " " + shown(path);
}

} // namespace

bool SameFile(const std::string& output, const std::string& input) {
    const auto out = identityOf(output, STDOUT_FILENO);
    const auto in = identityOf(input, STDIN_FILENO);
    return out && in && out->device == in->device && out->inode == in->inode;
}

void RefuseSameFile(const std::string& output, std::string_view outputRole, const std::string& input,
                    std::string_view inputRole) {
    if (SameFile(output, input)) {
        fail("cannot write " + roleAndName(outputRole, output, "standard output") + ": it is " +
             roleAndName(inputRole, input, "standard input") +
             ", which would be overwritten while it is read");
    }
}

std::string PortFileName(std::string pattern, const std::string& port) {
    // Every run of characters that a file name had better not hold (the slash above all, then the
    // URL's punctuation, blanks, controls, bytes that are no ASCII) becomes one '-'.
    std::string name;
    for (const char c : port) {
        const bool kept = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_';
        if (kept) {
            name += c;
        } else if (!name.empty() && name.back() != '-') {
            name += '-';
        }
    }
    while (!name.empty() && name.back() == '-') {
        name.pop_back();
    }
    if (name.find_first_not_of('.') == std::string::npos) {
        name = "port" + name; // never "", "." or ".."
    }
    for (std::size_t at = 0; (at = pattern.find("{port}", at)) != std::string::npos; at += name.size()) {
        pattern.replace(at, 6, name);
    }
    return pattern;
}

std::vector<std::string> PortFileNames(const std::string& pattern, const std::vector<std::string>& ports) {
    std::vector<std::string> names;
    std::vector<std::string> files; // where each name leads, links followed
    for (const std::string& port : ports) {
        names.push_back(PortFileName(pattern, port));
        std::error_code error;
        const auto file =
            std::filesystem::weakly_canonical(names.back() == "-" ? "/dev/stdout" : names.back(), error);
        files.push_back(error ? names.back() : file.string());
        for (std::size_t j = 0; j + 1 < names.size(); ++j) {
            if (files[j] == files.back() || SameFile(names.back(), names[j])) {
                throw Failure(code::Usage,
                              "ports " + tools::EchoName(ports[j]) + " and " + tools::EchoName(port) +
                                  " would both write " + shown(names.back()) +
                                  (pattern.find("{port}") == std::string::npos
                                       ? ": put {port} in the name"
                                       : ": give ports whose names differ in more than punctuation"));
            }
        }
    }
    return names;
}

} // namespace cli
