// The samples of the Live Values window: the eight variables polled over time, kept in bounded memory
// (7 days of 1 s samples; the oldest go first), with what a trend chart needs of them: the samples of
// a span, thinned to a few points per pixel column, and minimum / maximum / mean over a span. A missed
// poll is a sample whose values are all not-a-number, so the chart draws a gap, never a zero.
// Plain C++ without Qt.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace jobs {

inline constexpr int kLiveVariables = 8;
inline constexpr std::size_t kSevenDaysOfSeconds = 7 * 24 * 3600;

using SampleValues = std::array<float, kLiveVariables>;

class LiveSamples {
public:
    explicit LiveSamples(std::size_t capacity = kSevenDaysOfSeconds);

    // Times are milliseconds since the epoch and must not go backwards (a sample earlier than the
    // last is taken at the last one's time).
    void append(int64_t timeMs, const SampleValues& values);
    void appendMissed(int64_t timeMs);
    void clear();

    std::size_t size() const { return count_; }
    std::size_t capacity() const { return capacity_; }
    int64_t timeAt(std::size_t index) const;
    float valueAt(std::size_t index, int variable) const;
    // Bytes held for the samples: bounded by the capacity plus one block.
    std::size_t bytesHeld() const;

    // The first index at or after `timeMs` and the first one after `endMs`.
    std::size_t lowerIndex(int64_t timeMs) const;
    std::size_t upperIndex(int64_t endMs) const;

    struct Stats {
        float minimum = NAN;
        float maximum = NAN;
        double mean = NAN;
        std::size_t count = 0; // samples with a value
    };
    // Over the samples from `fromMs` to `toMs`, both included, for every variable in one pass; missed
    // polls do not count.
    std::array<Stats, kLiveVariables> stats(int64_t fromMs, int64_t toMs) const;

    // The samples of [fromMs, toMs] (and one either side, so lines run to the edges) for a chart
    // `columns` pixels wide, for every variable in one pass: where a column holds many samples, its
    // minimum and maximum in the order they came; where the span holds few, the samples themselves; a
    // column whose samples are all missed, one not-a-number point (a gap). Keys are seconds since the
    // epoch.
    struct Series {
        std::vector<double> keys;
        std::vector<double> values;
    };
    using Thinned = std::array<Series, kLiveVariables>;
    void thinned(int64_t fromMs, int64_t toMs, int columns, Thinned& out) const;

private:
    static constexpr std::size_t kBlock = 4096;
    struct Block {
        std::array<int64_t, kBlock> times;
        std::array<SampleValues, kBlock> values;
    };
    // Index of a sample as block and position.
    const Block& blockOf(std::size_t index, std::size_t& position) const;
    // Calls visit(time, values) for the samples from index `begin` to `end`, block by block.
    template <typename Visit> void forEach(std::size_t begin, std::size_t end, Visit visit) const;

    std::size_t capacity_;
    std::deque<std::unique_ptr<Block>> blocks_;
    std::size_t first_ = 0; // position of sample 0 in the first block
    std::size_t count_ = 0;
};

} // namespace jobs
