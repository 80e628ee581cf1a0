// Listening to a bus through a listen-only adapter: the port opened read-only with the line's
// settings, and the loop that times each delivery and frames it until stopped. vx538 monitor and the
// traffic window's second port both listen with it.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "serial/LineTypes.h"
#include "serial/PosixPort.h"
#include "traffic/BusFramer.h"

namespace traffic {

class BusListen {
public:
    // `path` as serial::portPathFor gives it.
    BusListen(std::string path, uint32_t baud, serial::TParity parity);

    // Opens the port read-only (nothing can be transmitted, whatever happens), sets its speed and
    // parity and discards what the driver held from before. Time 0 of the capture is now.
    serial::OpenOutcome open();
    const std::string& path() const { return path_; }
    // When time 0 was, in microseconds since 1970.
    int64_t startEpochUs() const { return startEpochUs_; }
    // The line as the framer times it.
    BusLine line() const;

    enum class End { Stopped, TimeUp, Lost };
    // Reads until `stop` is signalled, `endUs` (since time 0; negative: no end) has passed or the port
    // goes away. Each delivery goes to `delivered` with its time in microseconds since time 0, the
    // frames framed so far to `framed` (which may take them); at the end the frames still held.
    End run(const serial::EventFd& stop, int64_t endUs,
            const std::function<void(std::span<const uint8_t>, int64_t)>& delivered,
            const std::function<void(std::vector<BusFrame>&)>& framed);

private:
    int64_t sinceStartUs() const;

    std::string path_;
    uint32_t baud_;
    serial::TParity parity_;
    serial::PosixPort port_;
    serial::Clock::time_point start_{};
    int64_t startEpochUs_ = 0;
};

} // namespace traffic
