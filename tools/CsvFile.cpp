// Appending CSV rows with every write checked.
#include "tools/CsvFile.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tools {

namespace {

using Clock = std::chrono::steady_clock;

// How often a FIFO without a reader is tried again while its reader is awaited.
constexpr int kReaderRetryMs = 20;

// Milliseconds left before `deadline`, or -1 without one.
int leftMs(const OutputWait& wait, Clock::time_point deadline) {
    if (wait.peerMs < 0) {
        return -1;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

// Sleeps up to `ms` (-1: until the cancel event); false when the cancel event came.
bool pause(int ms, int cancelFd) {
    pollfd p{cancelFd, POLLIN, 0};
    return ::poll(&p, cancelFd >= 0 ? 1 : 0, ms) <= 0;
}

// write(2) with SIGPIPE held off for this thread only: a reader that went away is the error EPIPE,
// never the end of the program (the window, or a command in the middle of a run), whatever the
// program's disposition of SIGPIPE.
ssize_t writeQuietly(int fd, const char* data, std::size_t size) {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
    const ssize_t n = ::write(fd, data, size);
    const int error = errno;
    if (n < 0 && error == EPIPE && !alreadyPending) {
        const timespec now{0, 0};
        while (sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return n;
}

} // namespace

CsvFile::~CsvFile() {
    close();
}

CsvFile::CsvFile(CsvFile&& other) noexcept {
    *this = std::move(other);
}

CsvFile& CsvFile::operator=(CsvFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        owned_ = other.owned_;
        regular_ = other.regular_;
        wait_ = other.wait_;
        path_ = std::move(other.path_);
        error_ = std::move(other.error_);
        rows_ = other.rows_;
    }
    return *this;
}

std::string CsvFile::name() const {
    return path_ == "-" ? "standard output" : path_;
}

bool CsvFile::fail(std::string reason) {
    error_ = std::move(reason);
    close();
    return false;
}

bool CsvFile::open(const std::string& path, std::string_view header, OutputWait wait) {
    close();
    path_ = path;
    error_.clear();
    rows_ = 0;
    wait_ = wait;
    if (path == "-") {
        fd_ = STDOUT_FILENO;
        owned_ = false;
    } else {
        // Without O_NONBLOCK, opening a FIFO nobody reads would block until somebody does: no Ctrl+C,
        // no bound. Non-blocking, a FIFO without a reader is ENXIO, tried again until one comes.
        const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(wait.peerMs, 0));
        for (;;) {
            fd_ =
                ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
            if (fd_ >= 0 || errno != ENXIO) {
                break;
            }
            const int left = leftMs(wait, deadline);
            if (left == 0) {
                return fail("no program reads from it (waited " + std::to_string(wait.peerMs / 1000) +
                            " s: does a program read from it?)");
            }
            if (!pause(left < 0 ? kReaderRetryMs : std::min(left, kReaderRetryMs), wait.cancelFd)) {
                return fail("interrupted while waiting for a program to read from it");
            }
        }
        if (fd_ < 0) {
            return fail(std::strerror(errno));
        }
        owned_ = true;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        return fail(std::strerror(errno));
    }
    regular_ = S_ISREG(st.st_mode);
    if (regular_ && st.st_size > 0) {
        return !EndsInsideALine(fd_) || write("\n");
    }
    return header.empty() || write(std::string(header) + "\n");
}

bool CsvFile::writeRow(std::span<const std::string> fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        line += (i == 0 ? "" : ",") + CsvField(fields[i]);
    }
    return writeLine(line);
}

bool CsvFile::writeLine(std::string_view line) {
    if (!isOpen()) {
        return error_.empty() ? fail("not open") : false;
    }
    if (!write(std::string(line) + "\n")) {
        return false;
    }
    ++rows_;
    return true;
}

bool CsvFile::write(std::string text) {
    // Where a regular file ended before this line: a line that does not go out whole is cut off again,
    // so the file never holds half a row.
    const off_t before = regular_ ? ::lseek(fd_, 0, SEEK_END) : -1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(wait_.peerMs, 0));
    std::string_view rest = text;
    while (!rest.empty()) {
        const ssize_t n = writeQuietly(fd_, rest.data(), rest.size());
        if (n >= 0) {
            rest.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN) {
            // A stream whose reader takes nothing: wait for room, the bound and Ctrl+C permitting.
            const int left = leftMs(wait_, deadline);
            pollfd p[2] = {{fd_, POLLOUT, 0}, {wait_.cancelFd, POLLIN, 0}};
            const int ready = left == 0 ? 0 : ::poll(p, wait_.cancelFd >= 0 ? 2 : 1, left);
            if (ready == 0) {
                return fail("the program reading it took nothing for " + std::to_string(wait_.peerMs / 1000) +
                            " s");
            }
            if (ready > 0 && (p[1].revents & POLLIN) && !(p[0].revents & POLLOUT)) {
                return fail("interrupted while waiting for the program reading it");
            }
            continue;
        }
        const std::string reason = std::strerror(errno);
        if (before >= 0 && rest.size() < text.size()) {
            (void)!::ftruncate(fd_, before);
        }
        return fail(reason);
    }
    return true;
}

void CsvFile::close() {
    if (fd_ >= 0 && owned_) {
        ::close(fd_);
    }
    fd_ = -1;
    owned_ = false;
}

std::string CsvField(std::string_view text) {
    const bool quoted = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                        (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quoted) {
        return std::string(text);
    }
    std::string out = "\"";
    for (const char c : text) {
        out += c == '"' ? "\"\"" : std::string(1, c);
    }
    return out + "\"";
}

bool EndsInsideALine(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
        return false;
    }
    char last = '\n';
    if (::pread(fd, &last, 1, st.st_size - 1) == 1) {
        return last != '\n';
    }
    // Opened for writing only: the same file read through a descriptor of its own.
    const int reader = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC);
    if (reader < 0) {
        return false;
    }
    const bool inside = ::pread(reader, &last, 1, st.st_size - 1) == 1 && last != '\n';
    ::close(reader);
    return inside;
}

} // namespace tools
