// A byte source whose deliveries and times are written out by the test, so the listening loop runs
// on the clock the script says, never the machine's: the same frames however loaded the machine is.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "bus/ByteSource.h"

namespace bustest {

struct Scripted {
    int64_t timeUs;
    std::vector<uint8_t> bytes;
};

class ScriptedSource : public bus::ByteSource {
public:
    // The deliveries in order, then `end` (Ended, Lost or Failed with `error`). `more`, when given,
    // makes deliveries past the script's end for as long as it is asked (a line that never ends).
    explicit ScriptedSource(std::vector<Scripted> script,
                            bus::Delivery::Kind end = bus::Delivery::Kind::Ended, std::string error = {})
        : script_(std::move(script)), end_(end), error_(std::move(error)) {}

    std::function<std::optional<Scripted>(std::size_t)> more;
    std::size_t taken() const { return next_; }

    int64_t startEpochUs() const override { return 1'700'000'000'000'000; }

    bus::Delivery next(const serial::EventFd& stop, std::optional<int64_t> untilUs) override {
        if (stop.isSignalled()) {
            return bus::Delivery::of(bus::Delivery::Kind::Stopped, nowUs_);
        }
        if (next_ >= script_.size() && more) {
            if (std::optional<Scripted> made = more(next_)) {
                script_.push_back(std::move(*made));
            }
        }
        if (next_ >= script_.size()) {
            return bus::Delivery::of(end_, nowUs_, {}, error_);
        }
        const Scripted& d = script_[next_];
        if (untilUs && d.timeUs > *untilUs) {
            nowUs_ = *untilUs;
            return bus::Delivery::of(bus::Delivery::Kind::Quiet, nowUs_);
        }
        ++next_;
        nowUs_ = d.timeUs;
        return bus::Delivery::of(bus::Delivery::Kind::Bytes, d.timeUs, d.bytes);
    }

private:
    std::vector<Scripted> script_;
    bus::Delivery::Kind end_;
    std::string error_;
    std::size_t next_ = 0;
    int64_t nowUs_ = 0;
};

} // namespace bustest
