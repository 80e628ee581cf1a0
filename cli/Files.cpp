// Reading input files and writing output files.
#include "cli/Files.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/Session.h"
#include "serial/PosixPort.h"

namespace cli {

namespace {

// A FIFO or pipe that stays silent this long is given up.
constexpr int kPipeSilenceMs = 5000;

[[noreturn]] void fail(const std::string& message) {
    throw Failure(code::BadFile, message);
}

std::string reason() {
    return std::strerror(errno);
}

std::string shown(const std::string& path) {
    return path.empty() ? "''" : path;
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

// Reads to the end, at most kMaxInputBytes; `pipe`: waits for each block at most kPipeSilenceMs.
std::string readAll(int fd, const std::string& name, bool pipe) {
    std::string text;
    char buffer[65536];
    for (;;) {
        if (pipe) {
            pollfd p{fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, kPipeSilenceMs);
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready == 0) {
                fail("cannot read " + name + ": nothing came for " + std::to_string(kPipeSilenceMs / 1000) +
                     " s (does a program write to it?)");
            }
        }
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
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
    fail("cannot write " + path + ": too many levels of symbolic links");
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

void writeStream(const std::string& path, std::string_view text, const std::string& name) {
    // Appending, never truncating: a device or pipe has nothing to cut, and a file behind a shell's
    // descriptor keeps what is already in it. Without a reader a FIFO refuses at once (ENXIO).
    serial::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        fail("cannot write " + name + ": " +
             (errno == ENXIO ? std::string("no program reads from it") : reason()));
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

std::string ReadInputFile(const std::string& path) {
    if (path == "-") {
        return readAll(STDIN_FILENO, "standard input", false);
    }
    serial::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        fail("cannot read " + shown(path) + ": " + reason());
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        fail("cannot read " + path + ": " + reason());
    }
    if (S_ISREG(st.st_mode)) {
        if (static_cast<std::size_t>(st.st_size) > kMaxInputBytes) {
            fail(path + " is " + std::to_string(st.st_size / 1024) +
                 " kB; a configuration file is a few kB (at most 1 MB)");
        }
        ::fcntl(fd.get(), F_SETFL, 0);
        return readAll(fd.get(), path, false);
    }
    if (S_ISFIFO(st.st_mode)) {
        return readAll(fd.get(), path, true);
    }
    fail("cannot read " + path + ": it is " + kindOf(st.st_mode) +
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
            fail("cannot write " + path + ": " + reason());
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
        fail("cannot write " + path + ": " + reason() + " (" + folder + ")");
    }
}

void WriteOutputFile(const std::string& path, std::string_view text) {
    if (isOpenDescriptor(path)) {
        writeStream(path, text, path);
        return;
    }
    CheckOutputFile(path);
    const std::string target = resolved(path);
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) {
        writeReplacing(target, nullptr, text, path);
    } else if (S_ISREG(st.st_mode)) {
        // A file with other names (hard links) is written where it is, so that they all still see it.
        if (st.st_nlink > 1) {
            writeInPlace(target, text, path);
        } else {
            writeReplacing(target, &st, text, path);
        }
    } else {
        writeStream(target, text, path);
    }
}

namespace {

std::optional<FileKey> keyOf(const struct stat& st) {
    if (!S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return FileKey{static_cast<unsigned long>(st.st_dev), static_cast<unsigned long>(st.st_ino), {}};
}

} // namespace

std::optional<FileKey> FileKeyOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return keyOf(st);
    }
    std::error_code error;
    const std::filesystem::path where =
        std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
    return FileKey{0, 0, error ? path : where.string()};
}

std::optional<FileKey> FileKeyOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? keyOf(st) : std::nullopt;
}

} // namespace cli
