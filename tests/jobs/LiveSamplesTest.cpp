// The Live Values samples: bounded memory, gaps for missed polls, and the thinning and statistics the
// chart draws from, against a plain recomputation from the samples themselves.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "jobs/LiveSamples.h"

namespace {

using jobs::LiveSamples;
using jobs::SampleValues;

SampleValues valuesOf(float first) {
    SampleValues values;
    for (int v = 0; v < jobs::kLiveVariables; ++v) {
        values[v] = first + static_cast<float>(v);
    }
    return values;
}

TEST(LiveSamples, TheOldestGoFirstAndMemoryStaysWithinTheCapacity) {
    constexpr std::size_t kCapacity = 10000;
    LiveSamples samples(kCapacity);
    std::size_t mostHeld = 0;
    for (int i = 0; i < 50000; ++i) {
        samples.append(i * 1000, valuesOf(static_cast<float>(i)));
        mostHeld = std::max(mostHeld, samples.bytesHeld());
    }
    EXPECT_EQ(samples.size(), kCapacity);
    EXPECT_EQ(samples.timeAt(0), (50000 - kCapacity) * 1000);
    EXPECT_EQ(samples.valueAt(kCapacity - 1, 3), 49999.0F + 3);
    // The capacity and one block of 4096 samples at most: 40 bytes a sample.
    EXPECT_LE(mostHeld, (kCapacity + 2 * 4096) * (8 + 8 * sizeof(float)));
    // Seven days of seconds take well under the chart's 64 MiB budget.
    EXPECT_LT((jobs::kSevenDaysOfSeconds + 4096) * (8 + 8 * sizeof(float)), 32u << 20);
}

// The thinned points of a span, against the samples: every column's extremes are kept, a missed poll
// is never drawn as a value (and a span of only missed polls is a gap), and no point lies outside the
// span but the one either side.
TEST(LiveSamples, ThinningKeepsEachColumnsExtremesAndDrawsMissedPollsAsGaps) {
    struct Case {
        const char* what;
        int samples;
        int missedFrom, missedTo; // samples in [from, to) are missed polls
        int columns;
    } cases[] = {
        {"few samples, drawn as they are", 100, 40, 45, 200},
        {"many samples, a column per 50", 20000, -1, -1, 400},
        {"a long outage", 20000, 5000, 12000, 400},
        {"all missed", 5000, 0, 5000, 100},
        {"one column", 3000, 10, 20, 1},
    };
    for (const Case& c : cases) {
        LiveSamples samples;
        std::minstd_rand random(7);
        for (int i = 0; i < c.samples; ++i) {
            if (i >= c.missedFrom && i < c.missedTo) {
                samples.appendMissed(i * 1000);
            } else {
                samples.append(i * 1000, valuesOf(static_cast<float>(random() % 1000)));
            }
        }
        LiveSamples::Thinned thinned;
        const int64_t to = static_cast<int64_t>(c.samples - 1) * 1000;
        samples.thinned(0, to, c.columns, thinned);
        const auto stats = samples.stats(0, to);
        for (int v = 0; v < jobs::kLiveVariables; ++v) {
            const auto& series = thinned[v];
            ASSERT_EQ(series.keys.size(), series.values.size()) << c.what;
            ASSERT_FALSE(series.keys.empty()) << c.what;
            EXPECT_LE(series.keys.size(), std::max<std::size_t>(2 * c.columns + 2, 4 * c.columns + 2)) << c.what;
            double low = INFINITY;
            double high = -INFINITY;
            for (std::size_t i = 0; i < series.keys.size(); ++i) {
                const auto index = static_cast<std::size_t>(series.keys[i]); // seconds = sample index
                ASSERT_LT(index, static_cast<std::size_t>(c.samples)) << c.what;
                const float stored = samples.valueAt(index, v);
                if (std::isnan(series.values[i])) {
                    EXPECT_TRUE(std::isnan(stored)) << c.what << ": a gap where sample " << index << " has a value";
                } else {
                    EXPECT_EQ(series.values[i], stored) << c.what << ": sample " << index;
                    low = std::min(low, series.values[i]);
                    high = std::max(high, series.values[i]);
                }
                EXPECT_TRUE(i == 0 || series.keys[i] >= series.keys[i - 1]) << c.what;
            }
            if (stats[v].count == 0) {
                EXPECT_FALSE(std::isfinite(low)) << c.what;
            } else {
                EXPECT_EQ(low, stats[v].minimum) << c.what;
                EXPECT_EQ(high, stats[v].maximum) << c.what;
            }
        }
        if (c.missedTo - c.missedFrom >= 1000) {
            // An outage wider than a column shows as a gap.
            const auto& values = thinned[0].values;
            EXPECT_TRUE(std::any_of(values.begin(), values.end(), [](double x) { return std::isnan(x); })) << c.what;
        }
    }
}

TEST(LiveSamples, StatisticsOverASpanLeaveMissedPollsOut) {
    LiveSamples samples;
    samples.append(1000, valuesOf(10));
    samples.appendMissed(2000);
    samples.append(3000, valuesOf(20));
    samples.append(4000, valuesOf(60));
    samples.append(3500, valuesOf(30)); // earlier than the last: taken at 4000
    const auto all = samples.stats(0, 10000);
    EXPECT_EQ(all[0].count, 4u);
    EXPECT_EQ(all[0].minimum, 10);
    EXPECT_EQ(all[0].maximum, 60);
    EXPECT_DOUBLE_EQ(all[0].mean, 30);
    EXPECT_EQ(all[7].minimum, 17);
    const auto middle = samples.stats(1500, 3000);
    EXPECT_EQ(middle[0].count, 1u);
    EXPECT_DOUBLE_EQ(middle[0].mean, 20);
    const auto none = samples.stats(1500, 2500);
    EXPECT_EQ(none[0].count, 0u);
    EXPECT_TRUE(std::isnan(none[0].mean));
    EXPECT_EQ(samples.timeAt(4), 4000);
}

} // namespace
