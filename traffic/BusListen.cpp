// The listening loop of the bus monitor.
#include "traffic/BusListen.h"

#include <chrono>

#include "serial/LineSettings.h"

namespace traffic {

BusListen::BusListen(const std::string& port, uint32_t baud, serial::TParity parity)
    : baud_(baud), parity_(parity), port_(serial::makeTransport(port, serial::Access::ReadOnly)) {}

std::string BusListen::lostWords() const {
    const std::string reason = port_->failureReason();
    if (!reason.empty()) {
        return "the connection was ended: " + reason;
    }
    return isNetwork() ? serial::lostLineWords(kind()) : "the port went away (unplugged?)";
}

serial::OpenOutcome BusListen::open(const serial::EventFd* cancel) {
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

int64_t BusListen::sinceStartUs() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(serial::Clock::now() - start_).count();
}

BusListen::End BusListen::run(const serial::EventFd& stop, int64_t endUs,
                              const std::function<void(std::span<const uint8_t>, int64_t)>& delivered,
                              const std::function<void(std::vector<BusFrame>&)>& framed) {
    BusFramer framer(BusLine::ForBaud(baud_, parity_ != serial::TParity::None));
    std::vector<BusFrame> frames;
    std::vector<uint8_t> buffer(4096);
    End end = End::Stopped;
    for (;;) {
        std::optional<int64_t> wakeUs = framer.idleDeadline();
        if (endUs >= 0) {
            wakeUs = wakeUs ? std::min(*wakeUs, endUs) : endUs;
        }
        const serial::Deadline deadline =
            wakeUs ? serial::Deadline(start_ + std::chrono::microseconds(*wakeUs)) : std::nullopt;
        const serial::WaitResult waited = serial::waitForPort(stop, port_->fd(), false, deadline);
        if (waited == serial::WaitResult::Closed) {
            break;
        }
        if (waited == serial::WaitResult::Failed) {
            end = End::Lost;
            break;
        }
        if (waited == serial::WaitResult::Ready) {
            const serial::IoResult read = port_->read(buffer.data(), buffer.size());
            if (read.kind == serial::IoResult::Failed) {
                end = End::Lost;
                break;
            }
            if (read.kind == serial::IoResult::Done && read.count > 0) {
                const int64_t now = sinceStartUs();
                const std::span<const uint8_t> bytes(buffer.data(), read.count);
                delivered(bytes, now);
                framer.push(bytes, now, frames);
            }
        }
        const int64_t now = sinceStartUs();
        framer.idle(now, frames);
        if (!frames.empty()) {
            framed(frames);
            frames.clear();
        }
        if (endUs >= 0 && now >= endUs) {
            end = End::TimeUp;
            break;
        }
    }
    framer.finish(frames);
    framed(frames);
    frames.clear();
    return end;
}

} // namespace traffic
