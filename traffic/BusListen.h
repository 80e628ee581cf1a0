// Listening to a bus through a listen-only adapter, local or behind a serial device server: the port
// opened with the line's settings, and the loop that times each delivery and frames it until stopped.
// vx538 monitor and the traffic window's second port both listen with it.
//
// Nothing is ever transmitted on the bus. A local device is opened read-only, so that nothing can be,
// whatever happens. A network port (rfc2217://HOST:PORT, socket://HOST:PORT) has no such mode: the
// connection is two-way, and this class never writes line data on it. Over RFC 2217 the line settings
// travel as Telnet control, which the server applies to its port and never puts on the line; a raw
// TCP port carries nothing of ours at all, and the server's own line settings apply.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "serial/LineTypes.h"
#include "serial/PosixPort.h"
#include "serial/Transport.h"
#include "traffic/BusFramer.h"

namespace traffic {

class BusListen {
public:
    // `port` as the user gave it: a local device ("ttyUSB1", "/dev/ttyUSB1") or a network port URL.
    // `baud` and `parity` are the line's; on a raw TCP port they only time the framing.
    BusListen(const std::string& port, uint32_t baud, serial::TParity parity);

    // Opens the port (a local device read-only; a network port connected within the connect
    // timeout, which `cancel` ends at once), sets its speed and parity where the port takes them,
    // and discards what a local driver held from before. Time 0 of the capture is now.
    serial::OpenOutcome open(const serial::EventFd* cancel = nullptr);
    // The device path, or the URL of a network port: what messages name.
    const std::string& path() const { return port_->name(); }
    serial::PortKind kind() const { return port_->kind(); }
    bool isNetwork() const { return serial::isNetwork(kind()); }
    // Why the port went away, in words (a network server's own failure where it had one).
    std::string lostWords() const;
    // Where a network server set the line otherwise than asked, each said once.
    std::vector<std::string> takeLineDifferences() { return port_->takeLineDifferences(); }
    // When time 0 was, in microseconds since 1970.
    int64_t startEpochUs() const { return startEpochUs_; }

    enum class End { Stopped, TimeUp, Lost };
    // Reads until `stop` is signalled, `endUs` (since time 0; negative: no end) has passed or the port
    // goes away (a device unplugged, a connection dropped: Lost). Each delivery goes to `delivered`
    // with its time in microseconds since time 0, the frames framed so far to `framed` (which may take
    // them); at the end the frames still held.
    End run(const serial::EventFd& stop, int64_t endUs,
            const std::function<void(std::span<const uint8_t>, int64_t)>& delivered,
            const std::function<void(std::vector<BusFrame>&)>& framed);

private:
    int64_t sinceStartUs() const;

    uint32_t baud_;
    serial::TParity parity_;
    // Only opened, closed, set up and read: never written to.
    std::unique_ptr<serial::Transport> port_;
    serial::Clock::time_point start_{};
    int64_t startEpochUs_ = 0;
};

} // namespace traffic
