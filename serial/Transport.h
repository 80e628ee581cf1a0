// How the serial component reaches a converter's line: a local serial device today, a network port
// beside it. TComm's reader, writer and modem-watch threads and vx538's line use only this.
//
// Threads: open, close, applyLineSettings and purge on the owner's thread (never while another
// thread is inside open or close; open may run on any one thread, the owner's while it does); the reader thread calls read and readCounters, the writer thread
// write, the modem-watch thread waitModemChange, all at the same time as each other. fd() is valid
// from a successful open to close and is what those threads wait on with poll.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

// What kind of line a transport reaches: a local device, or a serial device server over TCP that
// either takes the line settings (RFC 2217) or keeps its own (raw TCP).
enum class PortKind { Local, Rfc2217, RawTcp };

inline bool isNetwork(PortKind kind) { return kind != PortKind::Local; }
// True where nothing the tool asks changes the line: the server's own settings apply.
inline bool serverKeepsLineSettings(PortKind kind) { return kind == PortKind::RawTcp; }
// What it means that such a line went away, in words for a status line or a log: a device hung up,
// or a network connection dropped.
std::string lostLineWords(PortKind kind);

enum class OpenResult { Opened, CannotOpen, NotCommDevice };

struct OpenOutcome {
    OpenResult result = OpenResult::Opened;
    int error = 0;      // errno of the step that failed; 0 when opened or when no system error
    std::string reason; // why, in words, for the person at the keyboard; empty when opened
};

class EventFd;

class Transport {
public:
    virtual ~Transport() = default;

    // What the port is called in messages: the device path, or the URL of a network port.
    virtual const std::string& name() const = 0;
    virtual PortKind kind() const { return PortKind::Local; }

    // Opens the line; on success the port is held exclusively until close. A wait inside it (a
    // connect, a name lookup, a server's negotiation) ends at once, CannotOpen with EINTR, when the
    // event given to cancelOpenOn is signalled.
    virtual OpenOutcome open() = 0;
    void cancelOpenOn(const EventFd* cancel) { openCancel_ = cancel; }
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

    // Why the transport gave the line up, once a read or write was Failed for a reason of its own
    // rather than the line's (a server that broke the protocol, flooded, or stopped reading); empty
    // otherwise. Safe from any thread once that read or write has returned.
    virtual std::string failureReason() const { return {}; }
    // Where the other end set the line differently from what was asked (a device server confirming
    // another speed), one sentence each, each handed out once. Called by one thread at a time.
    virtual std::vector<std::string> takeLineDifferences() { return {}; }

protected:
    const EventFd* openCancel() const { return openCancel_; }

private:
    const EventFd* openCancel_ = nullptr;
};

// ReadOnly is a listen-only port (a bus monitor's adapter): a local device opened without write
// access, so nothing can be transmitted whatever happens; its modem lines and RS485 mode are left
// as the driver has them. A network connection has no such mode: its user never writes to it.
enum class Access { ReadWrite, ReadOnly };

// The transport for a port name as the user typed it: "COM3", "ttyUSB0", "/dev/ttyUSB0" for a local
// device; rfc2217://HOST:PORT or socket://HOST:PORT for a network port (see PortUrl.h). A network
// name that does not read fails to open with the reason.
std::unique_ptr<Transport> makeTransport(const std::string& portName, Access access = Access::ReadWrite);

// The kind of transport makeTransport gives for a name, for the questions asked before one exists
// (which default suits the port, whether two names can be the same device).
PortKind portKindOf(const std::string& portName);

} // namespace serial
