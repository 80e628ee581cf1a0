// A converter's line reached over TCP: through a serial device server speaking Telnet with RFC 2217
// (the line settings travel, the server's line and modem state come back) or raw TCP (the server's
// own settings apply). The descriptor the component's threads poll is the socket itself.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "serial/PortUrl.h"
#include "serial/PosixPort.h"
#include "serial/TelnetCodec.h"
#include "serial/Transport.h"

namespace serial {

// Resolving the name, connecting and (for RFC 2217) the server's first answer, all together.
constexpr std::chrono::milliseconds kConnectTimeout{3000};

class NetworkPort final : public Transport {
public:
    // `text` is the name as the user typed it; `reading` what readPortUrl made of it.
    NetworkPort(std::string text, PortUrlReading reading);
    ~NetworkPort() override;
    NetworkPort(const NetworkPort&) = delete;
    NetworkPort& operator=(const NetworkPort&) = delete;

    const std::string& name() const override { return text_; }
    // Connects within kConnectTimeout, with TCP keepalive so a link that died while idle is noticed
    // within about 20 s; for RFC 2217, waits for the server to accept COM-PORT control and answer a
    // first query.
    OpenOutcome open() override;
    void close() override;
    bool isOpen() const override { return socket_.valid(); }
    int fd() const override { return socket_.get(); }

    IoResult read(void* buffer, std::size_t size) override;
    IoResult read(void* first, std::size_t firstSize, void* second, std::size_t secondSize) override;
    IoResult write(const void* buffer, std::size_t size) override;

    // Nothing waits on our side: what the socket holds is read and dropped by the caller's reads,
    // and the server forwards what it gets at once.
    void purge(QueueSide) override {}
    // Sent as RFC 2217 commands; a raw TCP port keeps the server's settings.
    void applyLineSettings(const LineSettings& settings) override;
    bool readCounters(LineCounters& counters) const override;
    ModemWait waitModemChange() const override { return ModemWait::Unsupported; }
    bool modemChangesComeWithReads() const override { return telnet(); }

private:
    bool telnet() const;
    OpenOutcome negotiate(std::chrono::steady_clock::time_point deadline);
    // Sends the codec's waiting protocol bytes as far as the socket takes them; the caller holds
    // the lock. False when the connection failed.
    bool flushControlLocked();

    std::string text_;
    PortUrlReading reading_;
    UniqueFd socket_;

    // Guards the codec, the bytes waiting to go out and every send: the reader (negotiation replies),
    // the writer (data) and the owner (line settings) all produce bytes for the one stream.
    mutable std::mutex mutex_;
    std::unique_ptr<TelnetCodec> codec_;
    std::string control_;       // protocol bytes not yet sent
    bool halfEscape_ = false;   // the first 0xFF of a doubled 0xFF went out, the second did not
    bool sendFailed_ = false;
    std::string wire_;          // the writer's encoding buffer
    std::vector<uint8_t> raw_;  // the reader's receive buffer
    std::vector<uint8_t> data_; // the reader's decoded bytes
};

} // namespace serial
