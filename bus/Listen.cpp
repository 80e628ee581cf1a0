// The listening loop of the bus monitor.
#include "bus/Listen.h"

#include <algorithm>

namespace bus {

Listened Listen::run(const serial::EventFd& stop, int64_t endUs, const Delivered& delivered,
                     const Framed& framed) {
    Listened result;
    const auto hand = [&] { return frames_.empty() || framed(frames_); };
    for (;;) {
        std::optional<int64_t> wakeUs = framer_.idleDeadline();
        if (endUs >= 0) {
            wakeUs = wakeUs ? std::min(*wakeUs, endUs) : endUs;
        }
        const Delivery d = source_.next(stop, wakeUs);
        using Kind = Delivery::Kind;
        if (d.kind == Kind::Stopped || d.kind == Kind::Ended || d.kind == Kind::Lost ||
            d.kind == Kind::Failed) {
            result.end = d.kind == Kind::Stopped ? Listened::End::Stopped
                         : d.kind == Kind::Ended ? Listened::End::Ended
                         : d.kind == Kind::Lost  ? Listened::End::Lost
                                                 : Listened::End::Failed;
            result.error = d.error;
            break;
        }
        if (d.kind == Kind::Bytes && endUs >= 0 && d.timeUs > endUs) {
            result.end = Listened::End::TimeUp; // they came after the end
            break;
        }
        // The pause before a delivery ends what was held, as a quiet line does.
        framer_.idle(d.timeUs, frames_);
        if (d.kind == Kind::Bytes) {
            if (!delivered(d.bytes, d.timeUs)) {
                result.end = Listened::End::Refused;
                return result;
            }
            framer_.push(d.bytes, d.timeUs, frames_);
        }
        if (!hand()) {
            result.end = Listened::End::Refused;
            return result;
        }
        if (endUs >= 0 && d.timeUs >= endUs) {
            result.end = Listened::End::TimeUp;
            break;
        }
    }
    framer_.finish(frames_);
    if (!hand()) {
        result.end = Listened::End::Refused;
    }
    return result;
}

} // namespace bus
