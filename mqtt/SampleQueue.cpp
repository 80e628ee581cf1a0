// The bounded queue of one converter's polls.
#include "mqtt/SampleQueue.h"

namespace mqtt {

void SampleQueue::push(const SampleEntry& entry) {
    if (entries_.size() >= capacity_) {
        const SampleEntry& oldest = entries_.front();
        if (dropped_.count == 0) {
            dropped_.firstMs = oldest.timeMs;
        }
        dropped_.lastMs = oldest.timeMs;
        ++dropped_.count;
        ++droppedTotal_;
        entries_.pop_front();
    }
    entries_.push_back(entry);
}

std::optional<SampleEntry> SampleQueue::pop() {
    if (entries_.empty()) {
        return std::nullopt;
    }
    SampleEntry entry = entries_.front();
    entries_.pop_front();
    return entry;
}

SampleQueue::Dropped SampleQueue::takeDropped() {
    const Dropped taken = dropped_;
    dropped_ = {};
    return taken;
}

} // namespace mqtt
