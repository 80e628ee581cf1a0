// Where the bus monitor's bytes come from, each delivery with its time: a port as it delivers them,
// a raw capture played again, or a script in a test. The listening loop (Listen.h) runs the same over
// any of them, so a replay frames a capture exactly as the listen that made it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "serial/PosixPort.h"

namespace bus {

struct Delivery {
    enum class Kind : uint8_t {
        Bytes,   // bytes arrived
        Quiet,   // nothing arrived up to the time asked for
        Stopped, // the stop event was signalled
        Ended,   // the source has no more (a capture's end)
        Lost,    // the port went away (a device unplugged, a connection dropped)
        Failed,  // the source cannot go on (a capture line that does not read); `error` says why
    };
    Kind kind = Kind::Quiet;
    int64_t timeUs = 0;             // when, in microseconds since the source's time 0
    std::span<const uint8_t> bytes; // Bytes: valid until the next call
    std::string error;              // Lost and Failed: why

    static Delivery of(Kind kind, int64_t timeUs, std::span<const uint8_t> bytes = {},
                       std::string error = {}) {
        return {kind, timeUs, bytes, std::move(error)};
    }
};

class ByteSource {
public:
    virtual ~ByteSource() = default;

    // When time 0 was, in microseconds since 1970.
    virtual int64_t startEpochUs() const = 0;
    // Waits for the next delivery: Quiet once `untilUs` (since time 0; none: no limit) has passed
    // without one. The stop event wins over everything else and ends any wait at once.
    virtual Delivery next(const serial::EventFd& stop, std::optional<int64_t> untilUs) = 0;
};

} // namespace bus
