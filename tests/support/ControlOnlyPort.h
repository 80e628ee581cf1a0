// A transport whose descriptor never stops being readable while its reads, after the line's bytes
// given, bring only control traffic (Done with 0 bytes of the line): what a network server's
// unending stream of notifications looks like to the code that waits on the port.
#pragma once

#include <atomic>
#include <string>

#include "serial/PosixPort.h"
#include "serial/Transport.h"

namespace testsupport {

class ControlOnlyPort final : public serial::Transport {
public:
    explicit ControlOnlyPort(std::string lineBytes) : bytes_(std::move(lineBytes)) {}

    const std::string& name() const override { return name_; }
    serial::PortKind kind() const override { return serial::PortKind::Rfc2217; }
    serial::OpenOutcome open() override {
        if (!readable_.create()) {
            return {serial::OpenResult::CannotOpen, 0, "no eventfd"};
        }
        readable_.signal(); // and never drained: always readable
        open_ = true;
        return {};
    }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    int fd() const override { return readable_.fd(); }
    serial::IoResult read(void* buffer, std::size_t size) override { return read(buffer, size, nullptr, 0); }
    serial::IoResult read(void* first, std::size_t firstSize, void*, std::size_t) override {
        const std::size_t n = std::min(firstSize, bytes_.size());
        bytes_.copy(static_cast<char*>(first), n);
        bytes_.erase(0, n);
        ++reads_;
        return {serial::IoResult::Done, n};
    }
    serial::IoResult write(const void*, std::size_t size) override { return {serial::IoResult::Done, size}; }
    void purge(serial::QueueSide) override {}
    void applyLineSettings(const serial::LineSettings&) override {}
    bool readCounters(serial::LineCounters&) const override { return false; }
    serial::ModemWait waitModemChange() const override { return serial::ModemWait::Unsupported; }

    long reads() const { return reads_; }

private:
    std::string name_ = "rfc2217://notifications:1";
    std::string bytes_;
    serial::EventFd readable_;
    bool open_ = false;
    std::atomic<long> reads_{0};
};

} // namespace testsupport
