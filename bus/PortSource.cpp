// A listen-only port as the bus monitor's byte source.
#include "bus/PortSource.h"

#include <chrono>

#include "serial/LineSettings.h"

namespace bus {

PortSource::PortSource(const std::string& port, uint32_t baud, serial::TParity parity)
    : baud_(baud), parity_(parity), port_(serial::makeTransport(port, serial::Access::ReadOnly)) {}

std::string PortSource::lostWords() const {
    const std::string reason = port_->failureReason();
    if (!reason.empty()) {
        return "the connection was ended: " + reason;
    }
    return isNetwork() ? serial::lostLineWords(kind()) : "the port went away (unplugged?)";
}

serial::OpenOutcome PortSource::open(const serial::EventFd* cancel) {
    port_->cancelOpenOn(cancel);
    const serial::OpenOutcome opened = port_->open();
    port_->cancelOpenOn(nullptr);
    if (opened.result != serial::OpenResult::Opened) {
        return opened;
    }
    serial::LineSettings settings = serial::rawBinaryLine(baud_, parity_);
    // A local read-only port leaves its modem lines as the driver has them. A network server is
    // told them: RTS low, so that an adapter whose transmitter RTS enables stays receiving.
    settings.rtsControl = serial::TRtsControl::RtsDisable;
    // Over RFC 2217 these go as Telnet control to the server, never as line data; a raw TCP port
    // ignores them (the server's own settings apply).
    port_->applyLineSettings(settings);
    port_->purge(serial::QueueSide::Input);
    start_ = serial::Clock::now();
    startEpochUs_ = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    return opened;
}

int64_t PortSource::sinceStartUs() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(serial::Clock::now() - start_).count();
}

Delivery PortSource::lost() const {
    return Delivery::of(Delivery::Kind::Lost, sinceStartUs(), {}, path() + ": " + lostWords());
}

Delivery PortSource::next(const serial::EventFd& stop, std::optional<int64_t> untilUs) {
    const serial::Deadline deadline =
        untilUs ? serial::Deadline(start_ + std::chrono::microseconds(*untilUs)) : std::nullopt;
    for (;;) {
        const serial::WaitResult waited = serial::waitForPort(stop, port_->fd(), false, deadline);
        if (waited == serial::WaitResult::Closed) {
            return Delivery::of(Delivery::Kind::Stopped, sinceStartUs());
        }
        if (waited == serial::WaitResult::Failed) {
            return lost();
        }
        if (waited == serial::WaitResult::Ready) {
            const serial::IoResult read = port_->read(buffer_.data(), buffer_.size());
            if (read.kind == serial::IoResult::Failed) {
                return lost();
            }
            if (read.kind == serial::IoResult::Done && read.count > 0) {
                return Delivery::of(Delivery::Kind::Bytes, sinceStartUs(),
                                    std::span<const uint8_t>(buffer_.data(), read.count));
            }
        }
        // Nothing of the line's (a timeout, or a network port's control traffic alone): the time
        // asked for still ends the wait, however much control traffic keeps the port readable.
        if (deadline && serial::Clock::now() >= *deadline) {
            return Delivery::of(Delivery::Kind::Quiet, sinceStartUs());
        }
    }
}

} // namespace bus
