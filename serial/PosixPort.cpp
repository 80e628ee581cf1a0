// Linux serial port access for TComm: open and release, modem lines, error counters, poll waits.
// The terminal settings themselves are in Termios2.cpp.
#include "serial/PosixPort.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <linux/serial.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <system_error>
#include <unistd.h>

namespace serial {

std::string deviceOf(const std::string& portName) {
    if (isNetwork(portKindOf(portName))) {
        return portName; // a URL, not a file: no path to follow
    }
    std::error_code error;
    const auto device = std::filesystem::weakly_canonical(portPathFor(portName), error);
    return error ? portPathFor(portName) : device.string();
}

std::string portPathFor(const std::string& commName) {
    if (commName.find('/') != std::string::npos) {
        return commName;
    }
    const auto isCom = [&] {
        if (commName.size() < 4 || commName.size() > 6) {
            return false;
        }
        for (std::size_t i = 0; i < 3; ++i) {
            if (std::toupper(static_cast<unsigned char>(commName[i])) != "COM"[i]) {
                return false;
            }
        }
        if (commName[3] == '0') {
            return false;
        }
        int number = 0;
        for (std::size_t i = 3; i < commName.size(); ++i) {
            if (commName[i] < '0' || commName[i] > '9') {
                return false;
            }
            number = number * 10 + (commName[i] - '0');
        }
        return number >= 1 && number <= 256;
    };
    if (isCom()) {
        return "/dev/ttyS" + std::to_string(std::stoi(commName.substr(3)) - 1);
    }
    return "/dev/" + commName;
}

std::string openFailureReason(int errorNumber) {
    switch (errorNumber) {
    case 0:
        return {};
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
        return "not found: no such device. Check the port name; a USB adapter appears as "
               "/dev/ttyUSB0 or /dev/ttyACM0 (and under /dev/serial/by-id/) once it is plugged in.";
    case EACCES:
    case EPERM:
    case EROFS:
        return "permission denied. The user must be a member of the dialout group "
               "(sudo adduser $USER dialout, then log out and in again).";
    case EBUSY:
        return "busy: another program (or another window of this tool) holds the port. Close it "
               "there first.";
    case ENOTTY:
        return "not a terminal: this path is not a serial port.";
    case EISDIR:
        return "this path is a folder, not a serial port.";
    case EIO:
        return "the device does not answer: a serial port with no hardware behind it, or an "
               "adapter that is being unplugged.";
    default:
        // std::system_category().message is thread-safe, unlike strerror.
        return std::system_category().message(errorNumber) + ".";
    }
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.release();
    }
    return *this;
}

int UniqueFd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::reset() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool EventFd::create() {
    fd_ = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    return fd_.valid();
}

void EventFd::signal() {
    const uint64_t one = 1;
    // The counter cannot overflow in practice; a failed write leaves it readable anyway.
    [[maybe_unused]] const ssize_t n = ::write(fd_.get(), &one, sizeof one);
}

bool EventFd::isSignalled() const {
    pollfd p{fd_.get(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

void EventFd::drain() {
    uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_.get(), &value, sizeof value);
}

WaitResult waitForPort(const EventFd& closeEvent, int fd, bool forWrite, Deadline deadline) {
    const short wanted = forWrite ? POLLOUT : POLLIN;
    for (;;) {
        pollfd fds[2] = {{closeEvent.fd(), POLLIN, 0}, {fd, wanted, 0}};
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (deadline) {
            const auto left = std::max(Clock::duration::zero(), *deadline - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
            timeout.tv_nsec = static_cast<long>(ns % 1000000000);
            timeoutPtr = &timeout;
        }
        const int n = ::ppoll(fds, 2, timeoutPtr, nullptr);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return WaitResult::Failed;
        }
        if (fds[0].revents & POLLIN) {
            return WaitResult::Closed;
        }
        if ((fds[0].revents | fds[1].revents) & POLLNVAL) {
            return WaitResult::Failed;
        }
        if (fds[1].revents & (wanted | POLLHUP | POLLERR)) {
            return WaitResult::Ready;
        }
        if (n == 0) {
            return WaitResult::TimedOut;
        }
    }
}

static IoResult ioOutcome(ssize_t n) {
    if (n > 0) {
        return {IoResult::Done, static_cast<std::size_t>(n)};
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return {IoResult::WouldBlock, 0};
    }
    return {IoResult::Failed, 0};
}

IoResult readSome(int fd, void* buffer, std::size_t size) {
    return ioOutcome(::read(fd, buffer, size));
}

IoResult readSome(int fd, void* first, std::size_t firstSize, void* second, std::size_t secondSize) {
    iovec parts[2] = {{first, firstSize}, {second, secondSize}};
    return ioOutcome(::readv(fd, parts, 2));
}

IoResult writeSome(int fd, const void* buffer, std::size_t size) {
    return ioOutcome(::write(fd, buffer, size));
}

uint32_t lineErrorFlags(const LineCounters& before, const LineCounters& after) {
    uint32_t flags = 0;
    if (after.bufferOverrun != before.bufferOverrun) {
        flags |= 0x01;
    }
    if (after.overrun != before.overrun) {
        flags |= 0x02;
    }
    if (after.parity != before.parity) {
        flags |= 0x04;
    }
    if (after.frame != before.frame) {
        flags |= 0x08;
    }
    if (after.brk != before.brk) {
        flags |= 0x10;
    }
    return flags;
}

uint32_t modemEventBits(const LineCounters& before, const LineCounters& after) {
    uint32_t bits = 0;
    if (after.ring != before.ring) {
        bits |= 4;
    }
    if (after.carrier != before.carrier) {
        bits |= 8;
    }
    return bits;
}

PosixPort::PosixPort(std::string path, Access access) : path_(std::move(path)), access_(access) {}

PosixPort::~PosixPort() {
    close();
}

static OpenOutcome openFailure(OpenResult result, int errorNumber) {
    return {result, errorNumber, openFailureReason(errorNumber)};
}

OpenOutcome PosixPort::open() {
    close();
    const int mode = access_ == Access::ReadOnly ? O_RDONLY : O_RDWR;
    UniqueFd fd(::open(path_.c_str(), mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        return openFailure(OpenResult::CannotOpen, errno);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return openFailure(OpenResult::NotCommDevice, errno);
    }
    if (!S_ISCHR(st.st_mode)) {
        return openFailure(OpenResult::NotCommDevice, ENOTTY);
    }
    SavedTermios saved;
    if (!readTermios(fd.get(), saved)) {
        return openFailure(OpenResult::NotCommDevice, errno);
    }
    // The advisory lock keeps out programs that lock the port too, whoever runs them; TIOCEXCL keeps
    // out every later open by an unprivileged program (which then fails with EBUSY itself).
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return openFailure(OpenResult::CannotOpen, errno == EWOULDBLOCK ? EBUSY : errno);
    }
    ::ioctl(fd.get(), TIOCEXCL);
    auto rs485 = std::make_unique<serial_rs485>();
    if (::ioctl(fd.get(), TIOCGRS485, rs485.get()) == 0) {
        savedRs485_ = std::move(rs485);
    }
    rs485Changed_ = false;
    savedTermios_ = saved;
    fd_ = std::move(fd);
    return {OpenResult::Opened, 0, {}};
}

void PosixPort::close() {
    if (!fd_.valid()) {
        return;
    }
    writeTermios(fd_.get(), savedTermios_);
    if (savedRs485_ && rs485Changed_) {
        ::ioctl(fd_.get(), TIOCSRS485, savedRs485_.get());
    }
    ::ioctl(fd_.get(), TIOCNXCL);
    savedRs485_.reset();
    rs485Changed_ = false;
    fd_.reset();
}

IoResult PosixPort::read(void* buffer, std::size_t size) {
    return readSome(fd_.get(), buffer, size);
}

IoResult PosixPort::read(void* first, std::size_t firstSize, void* second, std::size_t secondSize) {
    return readSome(fd_.get(), first, firstSize, second, secondSize);
}

IoResult PosixPort::write(const void* buffer, std::size_t size) {
    if (access_ == Access::ReadOnly) {
        errno = EBADF;
        return {IoResult::Failed, 0};
    }
    return writeSome(fd_.get(), buffer, size);
}

void PosixPort::purge(QueueSide side) {
    flushQueues(fd_.get(), side);
}

void PosixPort::setModemLine(int line, bool raised) {
    ::ioctl(fd_.get(), raised ? TIOCMBIS : TIOCMBIC, &line);
}

void PosixPort::applyRs485(bool rtsOnSend) {
    if (!savedRs485_ || (!rtsOnSend && !rs485Changed_)) {
        return;
    }
    serial_rs485 config = *savedRs485_;
    if (rtsOnSend) {
        config.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        config.flags &= ~static_cast<uint32_t>(SER_RS485_RTS_AFTER_SEND);
    }
    if (::ioctl(fd_.get(), TIOCSRS485, &config) == 0) {
        rs485Changed_ = rtsOnSend;
    }
}

void PosixPort::applyLineSettings(const LineSettings& s) {
    if (!fd_.valid()) {
        return;
    }
    applyLineTermios(fd_.get(), s);
    if (access_ == Access::ReadOnly) {
        return;
    }
    // Linux has no DTR handshake of its own: the line is raised as with DtrEnable.
    setModemLine(TIOCM_DTR, s.dtrControl != TDtrControl::DtrDisable);
    switch (s.rtsControl) {
    case TRtsControl::RtsEnable:
    case TRtsControl::RtsHandshake: // the driver lowers it when its input runs full (CRTSCTS)
        setModemLine(TIOCM_RTS, true);
        break;
    case TRtsControl::RtsDisable:
    case TRtsControl::RtsTransmissionAvailable: // idle level; the driver raises it while sending
        setModemLine(TIOCM_RTS, false);
        break;
    }
    applyRs485(s.rtsControl == TRtsControl::RtsTransmissionAvailable);
}

bool PosixPort::readCounters(LineCounters& c) const {
    serial_icounter_struct icount{};
    if (!fd_.valid() || ::ioctl(fd_.get(), TIOCGICOUNT, &icount) != 0) {
        return false;
    }
    c.ring = icount.rng;
    c.carrier = icount.dcd;
    c.frame = icount.frame;
    c.overrun = icount.overrun;
    c.parity = icount.parity;
    c.brk = icount.brk;
    c.bufferOverrun = icount.buf_overrun;
    return true;
}

ModemWait PosixPort::waitModemChange() const {
    if (::ioctl(fd_.get(), TIOCMIWAIT, TIOCM_RNG | TIOCM_CD) == 0) {
        return ModemWait::Changed;
    }
    switch (errno) {
    case EINTR:
        return ModemWait::Interrupted;
    case EINVAL:
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP:
        return ModemWait::Unsupported;
    default:
        return ModemWait::Failed;
    }
}

namespace {

int modemWakeSignal() {
    return SIGRTMIN + 5;
}

void ignoreWakeSignal(int) {}

} // namespace

bool installModemWakeSignal() {
    static std::once_flag once;
    static bool installed = false;
    std::call_once(once, [] {
        struct sigaction current {};
        if (::sigaction(modemWakeSignal(), nullptr, &current) != 0 || current.sa_handler != SIG_DFL) {
            return;
        }
        struct sigaction action {};
        action.sa_handler = ignoreWakeSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: the blocked ioctl must return with EINTR
        installed = ::sigaction(modemWakeSignal(), &action, nullptr) == 0;
    });
    return installed;
}

void wakeBlockedThread(pthread_t thread) {
    ::pthread_kill(thread, modemWakeSignal());
}

void raiseCurrentThreadPriority(int steps) {
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0) {
        ::setpriority(PRIO_PROCESS, tid, nice - steps);
    }
}

} // namespace serial
