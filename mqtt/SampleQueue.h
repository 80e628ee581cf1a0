// The polls of one converter waiting for the broker: bounded, first in first out; when full, the
// oldest goes to make room and is counted, so memory stays bounded however long the broker is away
// and what is kept is the most recent stretch, delivered in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "mqtt/Messages.h"

namespace mqtt {

class SampleQueue {
public:
    explicit SampleQueue(std::size_t capacity) : capacity_(capacity < 1 ? 1 : capacity) {}

    // Adds at the back, dropping the oldest first when the queue is full.
    void push(const SampleEntry& entry);
    std::optional<SampleEntry> pop();
    std::size_t size() const { return entries_.size(); }
    std::size_t capacity() const { return capacity_; }

    // The polls dropped since the last call, with the times of the first and the last of them.
    struct Dropped {
        uint64_t count = 0;
        int64_t firstMs = 0;
        int64_t lastMs = 0;
    };
    Dropped takeDropped();
    uint64_t droppedTotal() const { return droppedTotal_; }

private:
    std::size_t capacity_;
    std::deque<SampleEntry> entries_;
    Dropped dropped_;
    uint64_t droppedTotal_ = 0;
};

} // namespace mqtt
