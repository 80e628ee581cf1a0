// How the serial component reaches a converter's line: a local serial device today, a network port
// beside it. TComm's reader, writer and modem-watch threads and vx538's line use only this.
//
// Threads: open, close, applyLineSettings and purge on the owner's thread (never while another
// thread is inside open or close); the reader thread calls read and readCounters, the writer thread
// write, the modem-watch thread waitModemChange, all at the same time as each other. fd() is valid
// from a successful open to close and is what those threads wait on with poll.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/LineSettings.h"
#include "serial/Termios2.h"

namespace serial {

// Outcome of one non-blocking read or write.
struct IoResult {
    enum Kind { Done, WouldBlock, Failed } kind;
    // Bytes of the line read or written. A read may be Done with 0: the transport took something
    // that was not the line's data (a network port's control traffic); the caller waits again.
    std::size_t count;
};

// The driver's line counters (where it keeps them: UARTs and most USB adapters, not pseudo-terminals;
// a network port keeps them from what its server reports).
struct LineCounters {
    int ring = 0;
    int carrier = 0;
    int frame = 0;
    int overrun = 0;
    int parity = 0;
    int brk = 0;
    int bufferOverrun = 0;
};

enum class ModemWait { Changed, Interrupted, Unsupported, Failed };

enum class OpenResult { Opened, CannotOpen, NotCommDevice };

struct OpenOutcome {
    OpenResult result = OpenResult::Opened;
    int error = 0;      // errno of the step that failed; 0 when opened or when no system error
    std::string reason; // why, in words, for the person at the keyboard; empty when opened
};

class Transport {
public:
    virtual ~Transport() = default;

    // What the port is called in messages: the device path, or the URL of a network port.
    virtual const std::string& name() const = 0;

    // Opens the line; on success the port is held exclusively until close.
    virtual OpenOutcome open() = 0;
    // Releases the line, putting back what open changed. Harmless when closed.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // The descriptor to wait on with poll: readable when read has something to do, writable when
    // write can take bytes; a hang-up shows as readable too.
    virtual int fd() const = 0;

    // A read of 0 bytes from the line itself (a terminal hung up, a connection closed) is Failed.
    virtual IoResult read(void* buffer, std::size_t size) = 0;
    // The same, reading into `first` and, once that is full, on into `second`, in one call.
    virtual IoResult read(void* first, std::size_t firstSize, void* second, std::size_t secondSize) = 0;
    // A write that accepts nothing is Failed: it would otherwise be retried for ever. When the count
    // is short, the caller writes the rest, from the first byte not counted, before anything else.
    virtual IoResult write(const void* buffer, std::size_t size) = 0;

    // Discards what is waiting in the given direction(s).
    virtual void purge(QueueSide side) = 0;
    // Speed, framing, flow control and the DTR/RTS lines. What the other end refuses is left as it
    // is (a pseudo-terminal has no modem lines, for one).
    virtual void applyLineSettings(const LineSettings& settings) = 0;
    // False when the line keeps no counters.
    virtual bool readCounters(LineCounters& counters) const = 0;
    // Blocks until ring or carrier detect changes, or a signal (see wakeBlockedThread) interrupts;
    // Unsupported where the counters change only as read goes on.
    virtual ModemWait waitModemChange() const = 0;
    // True where ring and carrier changes arrive with the data (a network server reports them in
    // the stream): the reader reports them from the counters after each read, and no thread blocks
    // in waitModemChange.
    virtual bool modemChangesComeWithReads() const { return false; }
};

// The transport for a port name as the user typed it: "COM3", "ttyUSB0", "/dev/ttyUSB0" for a local
// device; rfc2217://HOST:PORT or socket://HOST:PORT for a network port (see PortUrl.h). A network
// name that does not read fails to open with the reason.
std::unique_ptr<Transport> makeTransport(const std::string& portName);

} // namespace serial
