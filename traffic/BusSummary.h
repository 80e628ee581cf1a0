// What a bus capture holds, device by device: requests, replies, exceptions, CRC errors, requests
// no reply followed, and the reply times; plus the noise. Fed the bus framer's frames in line order.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "traffic/BusFramer.h"

namespace traffic {

struct BusDeviceCounts {
    std::string device; // BusDevice(): "slave 1", "HART 0", "text"
    uint64_t requests = 0;
    uint64_t replies = 0; // whole replies with their check right, exceptions among them
    uint64_t exceptions = 0;
    uint64_t crcErrors = 0;    // frames whose CRC or check byte is wrong, or that were cut short
    uint64_t withoutReply = 0; // requests (not broadcasts) the next request or the end followed first
    uint64_t timedReplies = 0; // replies paired with their request, damaged ones among them
    int64_t minReplyUs = 0;
    int64_t maxReplyUs = 0;
    double totalReplyUs = 0;
    // MODBUS: the requests by function code, so a capture says which functions the master uses.
    std::map<uint8_t, uint64_t> functions;

    double meanReplyUs() const {
        return timedReplies == 0 ? 0 : totalReplyUs / static_cast<double>(timedReplies);
    }
};

class BusSummary {
public:
    void add(const BusFrame& frame);
    // The end of the capture: a last request still unanswered counts as one without reply.
    void finish();

    // MODBUS slaves by address, then HART devices, then the text command set.
    std::vector<BusDeviceCounts> devices() const;
    uint64_t frames() const { return frames_; }
    uint64_t noiseRuns() const { return noiseRuns_; }
    uint64_t noiseBytes() const { return noiseBytes_; }

private:
    using Key = std::tuple<BusKind, int, std::string>;
    BusDeviceCounts& countsOf(const BusFrame& frame);

    std::map<Key, BusDeviceCounts> devices_;
    // The last request that expects a reply and whether one came.
    struct Asked {
        uint64_t number = 0;
        Key device;
        bool answered = false;
    };
    std::optional<Asked> asked_;
    uint64_t frames_ = 0;
    uint64_t noiseRuns_ = 0;
    uint64_t noiseBytes_ = 0;
};

} // namespace traffic
