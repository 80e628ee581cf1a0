// The converter's analog outputs as currents: a value in its variable's units mapped through the
// output's range to 4-20 mA, the limits an output stage can drive, and the error of the stage itself.
#pragma once

#include <optional>

namespace sim {

inline constexpr int kOutputs = 8;

namespace current {
// An output saturates here rather than follow its value beyond the range (NAMUR NE 43's limits), and
// drives the failure signal when its range maps nothing (both ends equal, or not numbers).
inline constexpr double kSaturationLowMa = 3.8;
inline constexpr double kSaturationHighMa = 20.5;
inline constexpr double kFailureMa = 3.6;
// Nothing the loop supply allows goes beyond this, however wrong the stage.
inline constexpr double kMaximumMa = 24.0;
} // namespace current

// The output stage's own error: a zero offset in mA and a span factor about the 4 mA point, as the
// zero and span trims of a real output adjust them. {0, 1} is a perfect stage.
struct OutputTrim {
    double offsetMa = 0.0;
    double gain = 1.0;
};

// The current a perfect stage drives for `value` over a range whose 4 mA end is `at4mA` and 20 mA end
// `at20mA` (a falling range, 20 mA end below the 4 mA end, is allowed):
// 4 + 16 * (value - at4mA) / (at20mA - at4mA), held within the saturation limits.
double RangeCurrent(double value, double at4mA, double at20mA);

// What the stage puts on the loop when asked for `target` mA: 4 + (target - 4) * gain + offset, never
// below 0 or above the maximum. An output that drives nothing (no target) carries 0 mA.
double DrivenCurrent(std::optional<double> target, OutputTrim trim);

} // namespace sim
