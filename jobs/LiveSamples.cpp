// The Live Values window's samples in bounded memory.
#include "jobs/LiveSamples.h"

#include <algorithm>
#include <limits>

namespace jobs {

LiveSamples::LiveSamples(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

void LiveSamples::append(int64_t timeMs, const SampleValues& values) {
    if (count_ > 0) {
        timeMs = std::max(timeMs, timeAt(count_ - 1));
    }
    const std::size_t end = first_ + count_;
    if (end == blocks_.size() * kBlock) {
        blocks_.push_back(std::make_unique<Block>());
    }
    Block& block = *blocks_[end / kBlock];
    block.times[end % kBlock] = timeMs;
    block.values[end % kBlock] = values;
    ++count_;
    if (count_ > capacity_) {
        ++first_;
        --count_;
        if (first_ == kBlock) {
            blocks_.pop_front();
            first_ = 0;
        }
    }
}

void LiveSamples::appendMissed(int64_t timeMs) {
    SampleValues missed;
    missed.fill(NAN);
    append(timeMs, missed);
}

void LiveSamples::clear() {
    blocks_.clear();
    first_ = 0;
    count_ = 0;
}

const LiveSamples::Block& LiveSamples::blockOf(std::size_t index, std::size_t& position) const {
    const std::size_t at = first_ + index;
    position = at % kBlock;
    return *blocks_[at / kBlock];
}

int64_t LiveSamples::timeAt(std::size_t index) const {
    std::size_t position = 0;
    return blockOf(index, position).times[position];
}

float LiveSamples::valueAt(std::size_t index, int variable) const {
    std::size_t position = 0;
    return blockOf(index, position).values[position][static_cast<std::size_t>(variable)];
}

std::size_t LiveSamples::bytesHeld() const {
    return blocks_.size() * sizeof(Block);
}

std::size_t LiveSamples::lowerIndex(int64_t timeMs) const {
    std::size_t low = 0;
    std::size_t high = count_;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (timeAt(middle) < timeMs) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

std::size_t LiveSamples::upperIndex(int64_t endMs) const {
    std::size_t low = 0;
    std::size_t high = count_;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (timeAt(middle) <= endMs) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

template <typename Visit> void LiveSamples::forEach(std::size_t begin, std::size_t end, Visit visit) const {
    std::size_t at = first_ + begin;
    const std::size_t stop = first_ + end;
    while (at < stop) {
        const Block& block = *blocks_[at / kBlock];
        const std::size_t blockEnd = std::min(stop, (at / kBlock + 1) * kBlock);
        for (std::size_t p = at % kBlock, last = p + (blockEnd - at); p < last; ++p) {
            visit(block.times[p], block.values[p]);
        }
        at = blockEnd;
    }
}

std::array<LiveSamples::Stats, kLiveVariables> LiveSamples::stats(int64_t fromMs, int64_t toMs) const {
    std::array<float, kLiveVariables> minimum;
    std::array<float, kLiveVariables> maximum;
    minimum.fill(std::numeric_limits<float>::infinity());
    maximum.fill(-std::numeric_limits<float>::infinity());
    std::array<double, kLiveVariables> sum{};
    std::array<Stats, kLiveVariables> stats{};
    forEach(lowerIndex(fromMs), upperIndex(toMs), [&](int64_t, const SampleValues& values) {
        for (std::size_t v = 0; v < values.size(); ++v) {
            const float value = values[v];
            if (std::isnan(value)) {
                continue;
            }
            minimum[v] = std::min(minimum[v], value);
            maximum[v] = std::max(maximum[v], value);
            sum[v] += value;
            ++stats[v].count;
        }
    });
    for (std::size_t v = 0; v < stats.size(); ++v) {
        if (stats[v].count > 0) {
            stats[v].minimum = minimum[v];
            stats[v].maximum = maximum[v];
            stats[v].mean = sum[v] / static_cast<double>(stats[v].count);
        }
    }
    return stats;
}

void LiveSamples::thinned(int64_t fromMs, int64_t toMs, int columns, Thinned& out) const {
    for (Series& series : out) {
        series.keys.clear();
        series.values.clear();
    }
    const std::size_t begin = lowerIndex(fromMs);
    const std::size_t end = upperIndex(toMs);
    if (begin >= end) {
        return;
    }
    const std::size_t from = begin > 0 ? begin - 1 : begin;
    const std::size_t to = end < count_ ? end + 1 : end;
    columns = std::max(columns, 1);
    if (to - from <= static_cast<std::size_t>(columns) * 4) {
        forEach(from, to, [&](int64_t time, const SampleValues& values) {
            for (std::size_t v = 0; v < out.size(); ++v) {
                out[v].keys.push_back(static_cast<double>(time) / 1000.0);
                out[v].values.push_back(values[v]);
            }
        });
        return;
    }

    // Per variable, the column's lowest and highest sample (time and value) and its first sample's time.
    struct Extremes {
        int64_t lowTime = 0, highTime = 0;
        float low = 0, high = 0;
        bool any = false;
    };
    std::array<Extremes, kLiveVariables> extremes{};
    int64_t columnFirst = 0;
    int64_t columnEnd = std::numeric_limits<int64_t>::min();
    const double span = static_cast<double>(std::max<int64_t>(toMs - fromMs, 1));
    const auto flush = [&] {
        for (std::size_t v = 0; v < out.size(); ++v) {
            Extremes& e = extremes[v];
            Series& series = out[v];
            const auto point = [&](int64_t time, double value) {
                series.keys.push_back(static_cast<double>(time) / 1000.0);
                series.values.push_back(value);
            };
            if (!e.any) {
                point(columnFirst, NAN);
            } else if (e.lowTime == e.highTime) {
                point(e.lowTime, e.low);
            } else if (e.lowTime < e.highTime) {
                point(e.lowTime, e.low);
                point(e.highTime, e.high);
            } else {
                point(e.highTime, e.high);
                point(e.lowTime, e.low);
            }
            e = Extremes{};
        }
    };
    bool started = false;
    forEach(from, to, [&](int64_t time, const SampleValues& values) {
        if (!started || time >= columnEnd) {
            if (started) {
                flush();
            }
            started = true;
            const double column = std::floor(static_cast<double>(time - fromMs) / span * columns);
            columnFirst = time;
            columnEnd = fromMs + static_cast<int64_t>(std::ceil((column + 1) * span / columns));
            columnEnd = std::max(columnEnd, time + 1);
        }
        for (std::size_t v = 0; v < extremes.size(); ++v) {
            const float value = values[v];
            if (std::isnan(value)) {
                continue;
            }
            Extremes& e = extremes[v];
            if (!e.any || value < e.low) {
                e.low = value;
                e.lowTime = time;
            }
            if (!e.any || value > e.high) {
                e.high = value;
                e.highTime = time;
            }
            e.any = true;
        }
    });
    flush();
}

} // namespace jobs
