// The Linux side of the serial component: port names, opening and releasing a port, its modem lines
// and error counters, and the descriptors (port, eventfds) the threads wait on with poll.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <pthread.h>
#include <string>

#include "serial/LineSettings.h"
#include "serial/Termios2.h"
#include "serial/Transport.h"

struct serial_rs485;

namespace serial {

// "COM1" to "COM256" (any letter case) name /dev/ttyS0 to /dev/ttyS255; a name with a '/' is a path
// used as it stands; any other name is looked up under /dev/ (so "ttyUSB0" is /dev/ttyUSB0).
std::string portPathFor(const std::string& commName);
// The device a port name stands for, links followed, so "ttyUSB0", "/dev/ttyUSB0" and a link to it
// are one port; a network port's name is itself.
std::string deviceOf(const std::string& portName);

// What a failed open's errno means to the person at the keyboard, with what to do about it where
// there is something to do (not found, permission denied, busy, not a terminal...). Empty for 0.
std::string openFailureReason(int errorNumber);

// Owns one file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset();

private:
    int fd_ = -1;
};

// An eventfd. As the close event it is signalled once and stays readable; as a wake-up it is
// signalled per request and drained by the thread it wakes.
class EventFd {
public:
    bool create();
    int fd() const { return fd_.get(); }
    void signal();
    bool isSignalled() const;
    void drain();

private:
    UniqueFd fd_;
};

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;

enum class WaitResult { Closed, Ready, TimedOut, Failed };

// Waits until the close event is signalled (which wins over everything else), `fd` is ready for
// `forWrite` ? writing : reading (a hang-up or error counts as ready: the next read or write tells),
// or `deadline` passes. No deadline waits without limit.
WaitResult waitForPort(const EventFd& closeEvent, int fd, bool forWrite, Deadline deadline);

// A read of 0 bytes on a terminal means it was hung up: reported as Failed, like EIO.
IoResult readSome(int fd, void* buffer, std::size_t size);
// The same, reading into `first` and, once that is full, on into `second`, in one call.
IoResult readSome(int fd, void* first, std::size_t firstSize, void* second, std::size_t secondSize);
// A write that accepts nothing is reported as Failed: it would otherwise be retried forever.
IoResult writeSome(int fd, const void* buffer, std::size_t size);

// The line-error flags in their Win32 values (CE_RXOVER 0x1, CE_OVERRUN 0x2, CE_RXPARITY 0x4,
// CE_FRAME 0x8, CE_BREAK 0x10) for the counters that moved between two readings.
uint32_t lineErrorFlags(const LineCounters& before, const LineCounters& after);
// The modem event bits: 4 = ring seen, 8 = carrier detect changed.
uint32_t modemEventBits(const LineCounters& before, const LineCounters& after);

// A local serial device through termios.
class PosixPort final : public Transport {
public:
    // `path` is the device as portPathFor gives it.
    explicit PosixPort(std::string path, Access access = Access::ReadWrite);
    ~PosixPort() override;
    PosixPort(const PosixPort&) = delete;
    PosixPort& operator=(const PosixPort&) = delete;

    const std::string& name() const override { return path_; }
    // Opens read-write, non-blocking, without becoming the controlling terminal and never creating
    // a file; refuses anything that is not a terminal device; takes the port exclusively (an
    // advisory lock plus TIOCEXCL) and keeps its settings to restore them at close. A port that
    // someone else holds, by either means, fails with EBUSY.
    OpenOutcome open() override;
    // Restores the settings, releases exclusivity and closes. Harmless when closed.
    void close() override;
    bool isOpen() const override { return fd_.valid(); }
    int fd() const override { return fd_.get(); }

    IoResult read(void* buffer, std::size_t size) override;
    IoResult read(void* first, std::size_t firstSize, void* second, std::size_t secondSize) override;
    IoResult write(const void* buffer, std::size_t size) override;

    void purge(QueueSide side) override;
    void applyLineSettings(const LineSettings& settings) override;
    bool readCounters(LineCounters& counters) const override;
    ModemWait waitModemChange() const override;

private:
    void setModemLine(int line, bool raised);
    void applyRs485(bool rtsOnSend);

    std::string path_;
    Access access_;
    UniqueFd fd_;
    SavedTermios savedTermios_;
    // The driver's RS485 mode as found at open, where it has one; changed only for RTS-on-send.
    std::unique_ptr<serial_rs485> savedRs485_;
    bool rs485Changed_ = false;
};

// A thread blocked in waitModemChange cannot be woken through an eventfd; a signal with an empty
// handler makes its ioctl return. Installs the handler once; false when the application already
// uses that signal for something else (modem events are then not watched).
bool installModemWakeSignal();
void wakeBlockedThread(pthread_t thread);

// Asks for a better scheduling priority for the calling thread; silently does nothing without the
// privilege to do so.
void raiseCurrentThreadPriority(int steps);

} // namespace serial
