// A raw capture file as the bus monitor's byte source.
#include "bus/CaptureSource.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bus {

namespace {

constexpr std::size_t kReadSize = 64 * 1024;

} // namespace

CaptureSource::CaptureSource(std::string path, std::chrono::milliseconds silence)
    : path_(std::move(path)), name_(path_ == "-" ? "standard input" : path_), silence_(silence),
      parser_(name_) {}

CaptureSource::Read CaptureSource::fail(std::string why) {
    error_ = std::move(why);
    return Read::Failed;
}

std::string CaptureSource::open(const serial::EventFd& stop) {
    fd_ =
        serial::UniqueFd(path_ == "-" ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                                      : ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd_.valid()) {
        return "cannot read " + name_ + ": " + std::strerror(errno);
    }
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0) {
        return "cannot read " + name_ + ": " + std::strerror(errno);
    }
    if (S_ISDIR(st.st_mode)) {
        return "cannot read " + name_ + ": it is a directory";
    }
    // A regular file is read as it stands; anything else (a FIFO, a pipe, a device) waits for data.
    waits_ = !S_ISREG(st.st_mode);
    if (!waits_) {
        ::fcntl(fd_.get(), F_SETFL, 0);
    } else {
        ::fcntl(fd_.get(), F_SETFL, O_NONBLOCK);
    }
    while (!parser_.hasHeader()) {
        const Read read = readLine(stop);
        if (read == Read::Stopped) {
            return "cannot read " + name_ + ": stopped before its header";
        }
        if (read == Read::Failed) {
            return error_;
        }
        if (read == Read::End) {
            parser_.end();
            return parser_.error();
        }
        if (parser_.take(line_, chunk_) == traffic::RawCaptureParser::Line::Failed) {
            return parser_.error();
        }
    }
    return {};
}

CaptureSource::Read CaptureSource::readLine(const serial::EventFd& stop) {
    for (;;) {
        if (const std::size_t end = held_.find('\n', scanned_); end != std::string::npos) {
            line_.assign(held_, begin_, end - begin_);
            begin_ = scanned_ = end + 1;
            return Read::Line;
        }
        scanned_ = held_.size();
        if (held_.size() - begin_ > traffic::kMaxRawCaptureLine) {
            parser_.tooLong();
            return fail(parser_.error());
        }
        if (atEnd_) {
            if (begin_ == held_.size()) {
                return Read::End;
            }
            line_.assign(held_, begin_); // a last line without its line break
            begin_ = scanned_ = held_.size();
            return Read::Line;
        }
        // What was handed on goes before more is read, so the buffer holds one line at most.
        held_.erase(0, begin_);
        scanned_ -= begin_;
        begin_ = 0;
        if (stop.isSignalled()) {
            return Read::Stopped;
        }
        bool silent = false;
        if (waits_) {
            pollfd fds[2] = {{stop.fd(), POLLIN, 0}, {fd_.get(), POLLIN, 0}};
            const int ready = ::poll(fds, 2, static_cast<int>(silence_.count()));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready < 0) {
                return fail("cannot read " + name_ + ": " + std::strerror(errno));
            }
            if (fds[0].revents != 0) {
                return Read::Stopped;
            }
            // After a silence the read tells a writer that is quiet (it would block: wait on) from
            // none at all (the end of the file).
            silent = ready == 0;
        }
        const std::size_t had = held_.size();
        held_.resize(had + kReadSize);
        const ssize_t n = ::read(fd_.get(), held_.data() + had, kReadSize);
        held_.resize(had + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (n == 0 && silent) {
            // Nothing came, and no program has the FIFO open to write: nothing ever will.
            const auto ms = silence_.count();
            return fail("cannot read " + name_ + ": nothing came for " +
                        (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms") +
                        " (does a program write to it?)");
        }
        if (n == 0) {
            atEnd_ = true;
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return fail("cannot read " + name_ + ": " + std::strerror(errno));
        }
    }
}

CaptureSource::Read CaptureSource::readChunk(const serial::EventFd& stop) {
    for (;;) {
        const Read read = readLine(stop);
        if (read != Read::Line) {
            return read;
        }
        switch (parser_.take(line_, chunk_)) {
        case traffic::RawCaptureParser::Line::Chunk:
            return Read::Line;
        case traffic::RawCaptureParser::Line::Failed:
            return fail(parser_.error());
        default:
            break;
        }
    }
}

Delivery CaptureSource::next(const serial::EventFd& stop, std::optional<int64_t> untilUs) {
    if (stop.isSignalled()) {
        return Delivery::of(Delivery::Kind::Stopped, chunk_.timeUs);
    }
    if (!chunkHeld_) {
        const int64_t lastUs = chunk_.timeUs;
        switch (readChunk(stop)) {
        case Read::Line:
            chunkHeld_ = true;
            break;
        case Read::End:
            return Delivery::of(Delivery::Kind::Ended, lastUs);
        case Read::Stopped:
            return Delivery::of(Delivery::Kind::Stopped, lastUs);
        case Read::Failed:
            return Delivery::of(Delivery::Kind::Failed, lastUs, {}, error_);
        }
    }
    // The capture's own times: the pause before a delivery passes as it did on the line.
    if (untilUs && chunk_.timeUs > *untilUs) {
        return Delivery::of(Delivery::Kind::Quiet, *untilUs);
    }
    chunkHeld_ = false;
    return Delivery::of(Delivery::Kind::Bytes, chunk_.timeUs, chunk_.bytes);
}

} // namespace bus
