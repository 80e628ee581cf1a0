// The analog outputs' currents.
#include "sim/Outputs.h"

#include <algorithm>
#include <cmath>

namespace sim {

double RangeCurrent(double value, double at4mA, double at20mA) {
    const double span = at20mA - at4mA;
    if (!std::isfinite(value) || !std::isfinite(span) || span == 0.0) {
        return current::kFailureMa;
    }
    const double ideal = 4.0 + 16.0 * (value - at4mA) / span;
    return std::clamp(ideal, current::kSaturationLowMa, current::kSaturationHighMa);
}

double DrivenCurrent(std::optional<double> target, OutputTrim trim) {
    if (!target) {
        return 0.0;
    }
    const double driven = 4.0 + (*target - 4.0) * trim.gain + trim.offsetMa;
    return std::clamp(driven, 0.0, current::kMaximumMa);
}

} // namespace sim
