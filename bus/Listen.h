// The bus monitor's listening loop: each delivery of a byte source framed by traffic's bus framer,
// the pauses between them told by the source's own clock, until the source ends, the stop event, the
// time limit, or the caller will take no more. A live port and a replayed capture run this same loop.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "bus/ByteSource.h"
#include "serial/PosixPort.h"
#include "traffic/BusFramer.h"

namespace bus {

struct Listened {
    enum class End : uint8_t {
        Stopped, // the stop event
        TimeUp,  // the time limit passed
        Ended,   // the source had no more (a capture's end)
        Lost,    // the port went away: error says how
        Failed,  // the source could not go on (a capture line that does not read): error says why
        Refused, // a callback took no more (an output that failed)
    };
    End end = End::Stopped;
    std::string error;
};

class Listen {
public:
    // Each delivery (its bytes and time since the source's time 0) as it comes, before it is framed;
    // false ends the run.
    using Delivered = std::function<bool(std::span<const uint8_t>, int64_t)>;
    // The frames found so far, in line order, to be taken (cleared) by the callee; false ends the run.
    using Framed = std::function<bool(std::vector<traffic::BusFrame>&)>;

    Listen(ByteSource& source, traffic::BusLine line) : source_(source), framer_(line) {}

    // Runs until the source ends, `stop` is signalled or `endUs` (since time 0; negative: no limit)
    // has passed. Bytes delivered after `endUs` are not taken. At the end the frames still held are
    // given out, unless a callback refused.
    Listened run(const serial::EventFd& stop, int64_t endUs, const Delivered& delivered,
                 const Framed& framed);

private:
    ByteSource& source_;
    traffic::BusFramer framer_;
    std::vector<traffic::BusFrame> frames_;
};

} // namespace bus
