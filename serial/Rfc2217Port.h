// A converter's line behind a serial device server speaking Telnet with RFC 2217 (rfc2217://HOST:PORT):
// the line settings travel as COM-PORT commands and each confirmation is checked against what was
// asked; the server's line errors and modem changes come back in the stream; a purge reaches the
// server's buffers. A server that breaks the protocol, floods control traffic or stops reading what
// it is sent is dropped with the reason, so it costs bounded memory and time.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "serial/TcpConnection.h"
#include "serial/TelnetCodec.h"
#include "serial/Transport.h"

namespace serial {

class Rfc2217Port final : public Transport {
public:
    // Telnet answers and commands waiting for a server that does not read them, at most.
    static constexpr std::size_t kMaxWaitingControl = 64 * 1024;
    // Control traffic a server may send: this much at once, and this much a second on average.
    static constexpr uint64_t kControlBurst = 512 * 1024;
    static constexpr uint64_t kControlPerSecond = 128 * 1024;

    Rfc2217Port(std::string text, PortUrlReading reading);
    ~Rfc2217Port() override;
    Rfc2217Port(const Rfc2217Port&) = delete;
    Rfc2217Port& operator=(const Rfc2217Port&) = delete;

    const std::string& name() const override { return connection_.text(); }
    PortKind kind() const override { return PortKind::Rfc2217; }
    // Connects within kConnectTimeout (keepalive as for raw TCP) and waits, within the same time,
    // for the server to accept COM-PORT control and answer a first query.
    OpenOutcome open() override;
    void close() override;
    bool isOpen() const override { return connection_.isOpen(); }
    int fd() const override { return connection_.fd(); }

    IoResult read(void* buffer, std::size_t size) override;
    IoResult read(void* first, std::size_t firstSize, void* second, std::size_t secondSize) override;
    IoResult write(const void* buffer, std::size_t size) override;

    // PURGE-DATA to the server; what already reached our socket is taken by the caller's reads.
    void purge(QueueSide side) override;
    void applyLineSettings(const LineSettings& settings) override;
    bool readCounters(LineCounters& counters) const override;
    ModemWait waitModemChange() const override { return ModemWait::Unsupported; }
    bool modemChangesComeWithReads() const override { return true; }
    std::string failureReason() const override;
    std::vector<std::string> takeLineDifferences() override;

private:
    OpenOutcome negotiate(Clock::time_point deadline);
    // Decodes received bytes into data_, charging the control traffic; false (with the reason
    // kept) when the server must be dropped. The caller holds the lock.
    bool receiveLocked(const uint8_t* bytes, std::size_t size, std::size_t& count);
    // Sends the codec's waiting protocol bytes as far as the socket takes them; the caller holds
    // the lock. False when the connection failed or the server stopped reading.
    bool flushControlLocked();
    void failLocked(std::string reason);

    TcpConnection connection_;

    // Guards everything below: the reader (negotiation replies), the writer (data) and the owner
    // (line settings, purges) all produce bytes for the one stream.
    mutable std::mutex mutex_;
    std::unique_ptr<TelnetCodec> codec_;
    std::string control_;       // protocol bytes not yet sent
    bool halfEscape_ = false;   // the first 0xFF of a doubled 0xFF went out, the second did not
    bool sendFailed_ = false;
    std::string reason_;        // why the server was dropped
    std::string wire_;          // the writer's encoding buffer
    std::vector<uint8_t> raw_;  // the reader's receive buffer
    std::vector<uint8_t> data_; // the reader's decoded bytes
    // The control traffic the server may still send before it counts as a flood.
    double controlAllowance_ = kControlBurst;
    uint64_t controlCharged_ = 0;
    Clock::time_point allowanceAt_{};
};

} // namespace serial
