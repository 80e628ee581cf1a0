// A bus heard through a listen-only adapter, local or behind a serial device server, as a byte
// source: the port opened with the line's settings, each delivery timed as it is read.
//
// Nothing is ever transmitted on the bus. A local device is opened read-only, so that nothing can be,
// whatever happens. A network port (rfc2217://HOST:PORT, socket://HOST:PORT) has no such mode: the
// connection is two-way, and this class never writes line data on it. Over RFC 2217 the line settings
// travel as Telnet control, which the server applies to its port and never puts on the line; a raw
// TCP port carries nothing of ours at all, and the server's own line settings apply.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bus/ByteSource.h"
#include "serial/LineTypes.h"
#include "serial/Transport.h"

namespace bus {

class PortSource : public ByteSource {
public:
    // `port` as the user gave it: a local device ("ttyUSB1", "/dev/ttyUSB1") or a network port URL.
    // `baud` and `parity` are the line's; on a raw TCP port they only time the framing.
    PortSource(const std::string& port, uint32_t baud, serial::TParity parity);

    // Opens the port (a local device read-only; a network port connected within the connect
    // timeout, which `cancel` ends at once), sets its speed and parity where the port takes them,
    // and discards what a local driver held from before. Time 0 is now.
    serial::OpenOutcome open(const serial::EventFd* cancel = nullptr);
    // The device path, or the URL of a network port: what messages name.
    const std::string& path() const { return port_->name(); }
    serial::PortKind kind() const { return port_->kind(); }
    bool isNetwork() const { return serial::isNetwork(kind()); }
    uint32_t baud() const { return baud_; }
    serial::TParity parity() const { return parity_; }
    // Why the port went away, in words (a network server's own failure where it had one).
    std::string lostWords() const;
    // Where a network server set the line otherwise than asked, each said once.
    std::vector<std::string> takeLineDifferences() { return port_->takeLineDifferences(); }

    int64_t startEpochUs() const override { return startEpochUs_; }
    Delivery next(const serial::EventFd& stop, std::optional<int64_t> untilUs) override;

private:
    int64_t sinceStartUs() const;
    Delivery lost() const;

    uint32_t baud_;
    serial::TParity parity_;
    // Only opened, closed, set up and read: never written to.
    std::unique_ptr<serial::Transport> port_;
    serial::Clock::time_point start_{};
    int64_t startEpochUs_ = 0;
    std::vector<uint8_t> buffer_ = std::vector<uint8_t>(4096);
};

} // namespace bus
