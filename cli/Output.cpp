// Checked standard output.
#include "cli/Output.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace cli {

CheckedOutput::CheckedOutput(int fd, std::string name) : fd_(fd), name_(std::move(name)) {
    setp(buffer_, buffer_ + sizeof buffer_);
}

CheckedOutput::~CheckedOutput() {
    drain();
}

void CheckedOutput::fail(std::string reason) {
    if (failure_.empty()) {
        failure_ = std::move(reason);
    }
}

bool CheckedOutput::writeOut(const char* data, std::size_t size) {
    while (size > 0 && failure_.empty()) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(std::strerror(errno));
            break;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return failure_.empty();
}

bool CheckedOutput::drain() {
    const bool written = writeOut(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(buffer_, buffer_ + sizeof buffer_);
    return written;
}

CheckedOutput::int_type CheckedOutput::overflow(int_type c) {
    if (!drain()) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

std::streamsize CheckedOutput::xsputn(const char* data, std::streamsize size) {
    if (size <= epptr() - pptr()) {
        std::memcpy(pptr(), data, static_cast<std::size_t>(size));
        pbump(static_cast<int>(size));
        return size;
    }
    if (!drain() || !writeOut(data, static_cast<std::size_t>(size))) {
        return 0;
    }
    return size;
}

int CheckedOutput::sync() {
    return drain() ? 0 : -1;
}

std::string OutputFailure(std::ostream& out) {
    out.flush();
    if (const auto* checked = dynamic_cast<const CheckedOutput*>(out.rdbuf())) {
        return checked->failure().empty() ? std::string()
                                          : "cannot write " + checked->name() + ": " + checked->failure();
    }
    return out ? std::string() : "cannot write the output";
}

int HoldStandardDescriptors() {
    int closed = 0;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        closed |= 1 << fd;
        // open() takes the lowest free descriptor, which is this one: the others below it are open.
        const int held = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
        if (held >= 0 && held != fd) {
            ::dup2(held, fd);
            ::close(held);
        }
    }
    return closed;
}

} // namespace cli
