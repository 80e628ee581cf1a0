// The arithmetic of a loop check: which test value asks an analog output for a given current, what a
// perfect output drives for it, and how far a reading is off, in percent of the 16 mA span.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace inspection {

inline constexpr double kSpanMa = 16.0;
inline constexpr double kDefaultTolerance = 0.25; // percent of span
// The converter refuses an output test value outside this.
inline constexpr double kLowestTestValue = 0.0;
inline constexpr double kHighestTestValue = 999.9;
// The points a loop check drives unless told others.
inline const std::vector<double> kDefaultPoints = {4, 8, 12, 16, 20};

// An output's configured range: the variable's value at 4 mA and at 20 mA (either may be the larger).
struct OutputRange {
    double at4mA = 0;
    double at20mA = 100;
};

// The test value for `ma`: at4mA + (ma - 4) / 16 * (at20mA - at4mA). Nothing when the range maps
// nothing (both ends equal, or not numbers).
std::optional<double> TestValueFor(OutputRange range, double ma);
// What a perfect output drives for `value`: 4 + 16 * (value - at4mA) / (at20mA - at4mA).
std::optional<double> CurrentFor(OutputRange range, double value);
// (reading - expected) in percent of the span.
double ErrorOfSpan(double expectedMa, double readingMa);
// |error| within the tolerance; an error on the edge passes (up to a rounding of the arithmetic).
bool WithinTolerance(double errorPercent, double tolerancePercent);

// A test value as it goes out: fixed notation, at most four decimals, no trailing zeros ("25",
// "7.5", "5.25", "33.3333"); never "-0".
std::string TestValueText(double value);
// A number as a person or a file writes it (optional sign, digits, point, exponent), read the same in
// every locale; nothing for anything else, infinities and not-a-number included.
std::optional<double> ReadNumber(std::string_view text);
// A current for people: "12.000" (three decimals, as a bench meter shows mA).
std::string MaText(double ma);
// An error in percent of span for people: "+1.250", "-0.031".
std::string PercentText(double percent);

enum class Verdict { Pass, Fail, NotChecked };
// "pass", "FAIL", "not checked".
std::string_view VerdictText(Verdict verdict);

// One point of an output's check as planned: the test value that drives it and the current to expect
// from the value as sent (its decimals cut), or why it cannot be driven.
struct PlannedPoint {
    double pointMa = 0;
    std::string testValue;
    double expectedMa = 0;
    std::string notChecked; // empty: it can be driven
};
std::vector<PlannedPoint> PlanPoints(OutputRange range, const std::vector<double>& pointsMa);

// A point as judged.
struct PointResult {
    double pointMa = 0;
    std::string testValue;
    double expectedMa = 0;
    std::optional<double> readingMa;
    std::optional<double> errorPercent;
    Verdict verdict = Verdict::NotChecked;
    std::string note; // why not checked
};
// A reading judged against its point; without a reading the point is not checked, `why` saying why.
PointResult Judge(const PlannedPoint& point, std::optional<double> readingMa, double tolerancePercent,
                  std::string why = {});

// An output fails when a point fails; passes when every point checked passed and one was; else it
// was not checked.
Verdict OutputVerdict(const std::vector<PointResult>& points);

// "4,8,12,16,20" (or with "/" or blanks between): each 4 to 20 mA, each once. std::invalid_argument
// with what is wrong otherwise.
std::vector<double> ReadPoints(std::string_view text);

} // namespace inspection
