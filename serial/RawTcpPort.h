// A converter's line behind a serial device server's raw TCP port (socket://HOST:PORT): the line's
// bytes and nothing else travel, so the server's own line settings apply whatever the tool asks.
#pragma once

#include <string>

#include "serial/TcpConnection.h"
#include "serial/Transport.h"

namespace serial {

class RawTcpPort final : public Transport {
public:
    RawTcpPort(std::string text, PortUrlReading reading);
    ~RawTcpPort() override;
    RawTcpPort(const RawTcpPort&) = delete;
    RawTcpPort& operator=(const RawTcpPort&) = delete;

    const std::string& name() const override { return connection_.text(); }
    PortKind kind() const override { return PortKind::RawTcp; }
    // Connects within kConnectTimeout, with TCP keepalive so a link that died while idle is noticed
    // within about 20 s.
    OpenOutcome open() override;
    void close() override { connection_.close(); }
    bool isOpen() const override { return connection_.isOpen(); }
    int fd() const override { return connection_.fd(); }

    IoResult read(void* buffer, std::size_t size) override;
    IoResult read(void* first, std::size_t firstSize, void* second, std::size_t secondSize) override;
    IoResult write(const void* buffer, std::size_t size) override;

    // Nothing of ours can reach the server's queues, and nothing waits on our side that the
    // caller's reads do not take.
    void purge(QueueSide) override {}
    // The settings stay the server's: nothing is sent.
    void applyLineSettings(const LineSettings&) override {}
    bool readCounters(LineCounters&) const override { return false; }
    ModemWait waitModemChange() const override { return ModemWait::Unsupported; }

private:
    TcpConnection connection_;
};

} // namespace serial
