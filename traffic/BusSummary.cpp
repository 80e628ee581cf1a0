// The per-device counts of a bus capture.
#include "traffic/BusSummary.h"

#include <algorithm>

#include "tools/ModbusLayout.h"

namespace traffic {

namespace {


} // namespace

BusDeviceCounts& BusSummary::countsOf(const BusFrame& frame) {
    const int address = frame.kind == BusKind::Modbus && !frame.bytes.empty() ? frame.bytes[0] : 0;
    std::string device = BusDevice(frame);
    Key key{frame.kind, address, device};
    auto [it, added] = devices_.try_emplace(std::move(key));
    if (added) {
        it->second.device = std::move(device);
    }
    return it->second;
}

void BusSummary::add(const BusFrame& frame) {
    ++frames_;
    if (frame.role == BusRole::Noise) {
        ++noiseRuns_;
        noiseBytes_ += frame.bytes.size();
        return;
    }
    BusDeviceCounts& counts = countsOf(frame);
    if (frame.check != BusCheck::Good) {
        ++counts.crcErrors;
    }
    if (frame.role == BusRole::Request) {
        finish();
        ++counts.requests;
        if (!frame.broadcast) {
            const int address = frame.kind == BusKind::Modbus ? frame.bytes[0] : 0;
            asked_ = Asked{frame.number, Key{frame.kind, address, counts.device}, false};
        }
        return;
    }
    if (frame.check == BusCheck::Good) {
        ++counts.replies;
        if (frame.kind == BusKind::Modbus && frame.bytes.size() >= 2 &&
            (frame.bytes[1] & tools::kModbusExceptionBit) != 0) {
            ++counts.exceptions;
        }
    }
    if (frame.requestNumber > 0) {
        if (asked_ && asked_->number == frame.requestNumber) {
            asked_->answered = true;
        }
        const int64_t us = frame.replyUs;
        counts.minReplyUs = counts.timedReplies == 0 ? us : std::min(counts.minReplyUs, us);
        counts.maxReplyUs = counts.timedReplies == 0 ? us : std::max(counts.maxReplyUs, us);
        counts.totalReplyUs += static_cast<double>(us);
        ++counts.timedReplies;
    }
}

void BusSummary::finish() {
    if (asked_ && !asked_->answered) {
        ++devices_[asked_->device].withoutReply;
    }
    asked_.reset();
}

std::vector<BusDeviceCounts> BusSummary::devices() const {
    std::vector<BusDeviceCounts> out;
    for (const auto& [key, counts] : devices_) {
        out.push_back(counts);
    }
    return out;
}

} // namespace traffic
