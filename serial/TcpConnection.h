// The TCP side both network transports share: the server looked up and connected to within the
// connect timeout (ended at once by the caller's cancel event), keepalive, plain sends and receives,
// and the words for each failure.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "serial/PortUrl.h"
#include "serial/PosixPort.h"
#include "serial/Transport.h"

namespace serial {

// Resolving the name, connecting and (for RFC 2217) the server's first answer, all together.
constexpr std::chrono::milliseconds kConnectTimeout{3000};

class TcpConnection {
public:
    // `text` is the name as the user typed it; `reading` what readPortUrl made of it.
    TcpConnection(std::string text, PortUrlReading reading);

    const std::string& text() const { return text_; }
    // "HOST:PORT" (an IPv6 address in brackets) for messages; empty for a name that did not read.
    std::string endpoint() const;

    // Looks the host up and connects by `deadline`, ending at once when `cancel` is signalled.
    OpenOutcome connect(Clock::time_point deadline, const EventFd* cancel);
    void close() { socket_.reset(); }
    bool isOpen() const { return socket_.valid(); }
    int fd() const { return socket_.get(); }

    // One recv or send on the non-blocking socket; a closed connection is Failed.
    IoResult receive(void* buffer, std::size_t size);
    IoResult receive(void* first, std::size_t firstSize, void* second, std::size_t secondSize);
    IoResult send(const void* buffer, std::size_t size);

    // Waits up to `deadline` for the socket to become readable, or `cancel`.
    WaitResult waitReadable(Clock::time_point deadline, const EventFd* cancel) const;

private:
    std::string text_;
    PortUrlReading reading_;
    UniqueFd socket_;
};

// "2 s" for messages.
std::string secondsText(std::chrono::milliseconds ms);

// The open's outcome when its caller cancelled the wait.
OpenOutcome cancelledOpen();

} // namespace serial
