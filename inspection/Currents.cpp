// Test values, expected currents, errors and verdicts of a loop check.
#include "inspection/Currents.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace inspection {

namespace {

// Far below any meter's resolution, above the rounding of a few double operations on mA.
constexpr double kRoundingMa = 1e-9;

std::string fixed(double value, int decimals) {
    char buffer[64];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return error == std::errc() ? std::string(buffer, end) : std::string("?");
}

} // namespace

std::optional<double> TestValueFor(OutputRange range, double ma) {
    const double span = range.at20mA - range.at4mA;
    if (!std::isfinite(span) || span == 0 || !std::isfinite(ma)) {
        return std::nullopt;
    }
    return range.at4mA + (ma - 4.0) / kSpanMa * span;
}

std::optional<double> CurrentFor(OutputRange range, double value) {
    const double span = range.at20mA - range.at4mA;
    if (!std::isfinite(span) || span == 0 || !std::isfinite(value)) {
        return std::nullopt;
    }
    return 4.0 + kSpanMa * (value - range.at4mA) / span;
}

double ErrorOfSpan(double expectedMa, double readingMa) {
    return (readingMa - expectedMa) / kSpanMa * 100.0;
}

bool WithinTolerance(double errorPercent, double tolerancePercent) {
    return std::abs(errorPercent) <= tolerancePercent + kRoundingMa / kSpanMa * 100.0;
}

std::string TestValueText(double value) {
    if (!std::isfinite(value)) {
        return value > 0 ? "inf" : (value < 0 ? "-inf" : "nan");
    }
    if (std::abs(value) >= 1e7) {
        char buffer[64];
        const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
        return error == std::errc() ? std::string(buffer, end) : std::string("?");
    }
    std::string text = fixed(value, 4);
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') {
        text.pop_back();
    }
    return text == "-0" ? "0" : text;
}

std::optional<double> ReadNumber(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() &&
           (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
        text.remove_suffix(1);
    }
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;
        }
    }
    // from_chars reads "inf" and "nan" too; a number starts with a digit, a point or a minus.
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text.front())) || text.front() == '.' ||
                          text.front() == '-')) {
        return std::nullopt;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::string MaText(double ma) {
    return fixed(ma, 3);
}

std::string PercentText(double percent) {
    const std::string text = fixed(percent, 3);
    return text.front() == '-' ? (text == "-0.000" ? "+0.000" : text) : "+" + text;
}

std::string_view VerdictText(Verdict verdict) {
    switch (verdict) {
    case Verdict::Pass:
        return "pass";
    case Verdict::Fail:
        return "FAIL";
    case Verdict::NotChecked:
        break;
    }
    return "not checked";
}

std::vector<PlannedPoint> PlanPoints(OutputRange range, const std::vector<double>& pointsMa) {
    std::vector<PlannedPoint> planned;
    for (const double point : pointsMa) {
        PlannedPoint p;
        p.pointMa = point;
        const std::optional<double> value = TestValueFor(range, point);
        if (!value) {
            p.notChecked =
                "its range maps nothing: the values at 4 mA and 20 mA are both " + TestValueText(range.at4mA);
            planned.push_back(std::move(p));
            continue;
        }
        p.testValue = TestValueText(*value);
        // The current to expect is that of the value as sent, so cutting its decimals is no error.
        const double sent = ReadNumber(p.testValue).value_or(*value);
        if (sent < kLowestTestValue || sent > kHighestTestValue) {
            p.notChecked = "it needs the test value " + p.testValue + ", and the converter takes 0 to 999.9";
        } else {
            p.expectedMa = CurrentFor(range, sent).value_or(point);
        }
        planned.push_back(std::move(p));
    }
    return planned;
}

PointResult Judge(const PlannedPoint& point, std::optional<double> readingMa, double tolerancePercent,
                  std::string why) {
    PointResult r;
    r.pointMa = point.pointMa;
    r.testValue = point.testValue;
    r.expectedMa = point.expectedMa;
    if (!point.notChecked.empty()) {
        r.note = point.notChecked;
        return r;
    }
    if (!readingMa) {
        r.note = why.empty() ? "no reading" : std::move(why);
        return r;
    }
    r.readingMa = readingMa;
    r.errorPercent = ErrorOfSpan(point.expectedMa, *readingMa);
    r.verdict = WithinTolerance(*r.errorPercent, tolerancePercent) ? Verdict::Pass : Verdict::Fail;
    return r;
}

Verdict OutputVerdict(const std::vector<PointResult>& points) {
    const auto has = [&](Verdict v) {
        return std::any_of(points.begin(), points.end(),
                           [v](const PointResult& p) { return p.verdict == v; });
    };
    return has(Verdict::Fail) ? Verdict::Fail : has(Verdict::Pass) ? Verdict::Pass : Verdict::NotChecked;
}

std::vector<double> ReadPoints(std::string_view text) {
    std::vector<double> points;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find_first_of(",/ ", start), text.size());
        const std::string_view word = text.substr(start, end - start);
        start = end + 1;
        if (word.empty()) {
            continue;
        }
        const std::optional<double> ma = ReadNumber(word);
        if (!ma) {
            throw std::invalid_argument("'" + std::string(word.substr(0, 40)) + "' is not a current in mA");
        }
        if (*ma < 4.0 || *ma > 20.0) {
            throw std::invalid_argument(std::string(word) + " mA is outside the 4 to 20 mA a range maps");
        }
        if (std::find(points.begin(), points.end(), *ma) != points.end()) {
            throw std::invalid_argument(std::string(word) + " mA is given twice");
        }
        points.push_back(*ma);
    }
    if (points.empty()) {
        throw std::invalid_argument("no point given (for example 4,12,20)");
    }
    return points;
}

} // namespace inspection
