// The 15-digit general float text: a table of chosen values, and a property check over many single
// and double bit patterns against the C library's own correctly rounded "%.14e".
#include "CommaLocaleScope.h"
#include "SeparatorScope.h"
#include "tools/Conversions.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

struct TextCase {
    double value;
    const char* text;
};

TEST(GeneralFloatText, TableWithPointSeparator) {
    const SeparatorScope scope('.');
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const TextCase cases[] = {
        {10, "10"},
        {0.1, "0.1"},
        {100.5, "100.5"},
        {1E20, "1E20"},
        {static_cast<double>(0.1f), "0.100000001490116"},
        {static_cast<double>(FLT_MAX), "3.40282346638529E38"},
        {static_cast<double>(1e-6f), "9.99999997475243E-7"},
        {inf, "INF"},
        {-inf, "-INF"},
        {nan, "NAN"},
        {std::copysign(nan, -1.0), "-NAN"},
        {0, "0"},
        {-0.0, "0"},
        {1, "1"},
        {-1, "-1"},
        {0.5, "0.5"},
        {-0.25, "-0.25"},
        {100, "100"},
        {-100.5, "-100.5"},
        {-1E20, "-1E20"},
        {1.5E20, "1.5E20"},
        {1E14, "100000000000000"},
        {999999999999999.0, "999999999999999"},
        {1E15, "1E15"},
        {1E16, "1E16"},
        {1234567890123456.0, "1.23456789012346E15"},
        {123456789012345678.0, "1.23456789012346E17"},
        {0.001, "0.001"},
        {0.0001, "0.0001"},
        {0.00012345, "0.00012345"},
        {0.00001, "1E-5"},
        {0.000012345, "1.2345E-5"},
        {1E-5, "1E-5"},
        {1.0 / 3, "0.333333333333333"},
        {2.0 / 3, "0.666666666666667"},
        {-2.0 / 3, "-0.666666666666667"},
        {123456.789, "123456.789"},
        {5e-324, "4.94065645841247E-324"},
        {DBL_MAX, "1.79769313486232E308"},
        {-DBL_MIN, "-2.2250738585072E-308"},
        // Rounding to 15 digits carries into a new leading digit and moves the exponent.
        {9.999999999999999, "10"},
        {999999999999999.9, "1E15"},
        {9.9999999999999995e-5, "0.0001"},
        {9.99999999999999999e-5, "0.0001"},
        {9.999999999999996e20, "1E21"},
        {-9.999999999999999, "-10"},
    };
    for (const TextCase& c : cases)
        EXPECT_EQ(tools::GeneralFloatText(c.value), c.text) << "value " << c.value;
}

TEST(GeneralFloatText, CommaSeparator) {
    const SeparatorScope scope(',');
    const TextCase cases[] = {
        {100.5, "100,5"},
        {0.001, "0,001"},
        {-0.25, "-0,25"},
        {1.5E20, "1,5E20"},
        {10, "10"},
        {static_cast<double>(0.1f), "0,100000001490116"},
        {static_cast<double>(FLT_MAX), "3,40282346638529E38"},
    };
    for (const TextCase& c : cases)
        EXPECT_EQ(tools::GeneralFloatText(c.value), c.text) << "value " << c.value;
}

// The expected rounding of a finite non-zero value, taken from the C library.
struct Expected {
    double rounded; // the 15-digit value, read back as a double
    int exponent;   // E of 0.d1d2... x 10^E
};

Expected expectedRounding(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
    const char* e = std::strchr(buffer, 'e');
    return {std::strtod(buffer, nullptr), std::atoi(e + 1) + 1};
}

// Checks one finite non-zero value's text against the rules, with the separator in force.
void checkText(double value, char separator) {
    const std::string text = tools::GeneralFloatText(value);
    const Expected expected = expectedRounding(value);
    SCOPED_TRACE(::testing::Message()
                 << "bits " << std::hex << std::bit_cast<uint64_t>(value) << " text " << text);

    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.front() == '-', std::signbit(value));
    EXPECT_EQ(text.find('+'), std::string::npos);
    EXPECT_EQ(text.find('e'), std::string::npos);
    const char otherSeparator = separator == '.' ? ',' : '.';
    EXPECT_EQ(text.find(otherSeparator), std::string::npos);

    const size_t ePos = text.find('E');
    const bool fixed = expected.exponent >= -3 && expected.exponent <= 15;
    EXPECT_EQ(ePos == std::string::npos, fixed) << "exponent " << expected.exponent;

    const std::string mantissa = text.substr(0, ePos);
    const size_t sepPos = mantissa.find(separator);
    if (sepPos != std::string::npos) {
        EXPECT_NE(mantissa.back(), '0') << "trailing zero";
        EXPECT_NE(mantissa.back(), separator) << "separator without fraction digits";
    }
    if (!fixed) {
        // One non-zero digit before the separator.
        const size_t first = mantissa.front() == '-' ? 1 : 0;
        ASSERT_LT(first, mantissa.size());
        EXPECT_TRUE(mantissa[first] >= '1' && mantissa[first] <= '9');
        EXPECT_TRUE(first + 1 == mantissa.size() || mantissa[first + 1] == separator);
        std::string exponentText = text.substr(ePos + 1);
        if (!exponentText.empty() && exponentText.front() == '-')
            exponentText.erase(0, 1);
        ASSERT_FALSE(exponentText.empty());
        EXPECT_NE(exponentText.front(), '0') << "leading exponent zero";
        EXPECT_EQ(std::atoi(text.c_str() + ePos + 1), expected.exponent - 1);
    }

    std::string parsable = text;
    for (char& c : parsable)
        if (c == separator)
            c = '.';
    char* end = nullptr;
    const double readBack = std::strtod(parsable.c_str(), &end);
    EXPECT_EQ(*end, '\0') << "text does not read back completely";
    EXPECT_EQ(readBack, std::copysign(expected.rounded, value));
}

std::vector<double> edgeValues() {
    std::vector<double> values;
    const float fltEdges[] = {FLT_MAX,
                              FLT_MIN,
                              std::numeric_limits<float>::denorm_min(),
                              std::nextafter(FLT_MIN, 0.0f),
                              std::nextafter(FLT_MAX, 0.0f),
                              1.0f,
                              0.1f,
                              1e-6f};
    for (float f : fltEdges) {
        values.push_back(f);
        values.push_back(-f);
    }
    // Every subnormal single whose bits are a power of two, and some others.
    for (uint32_t bits = 1; bits < 0x00800000u; bits = bits * 2 + (bits & 1))
        values.push_back(std::bit_cast<float>(bits));
    for (uint32_t bits = 3; bits < 0x00800000u; bits *= 3)
        values.push_back(std::bit_cast<float>(bits));
    // Powers of ten and their neighbours, as singles and as doubles, across the notation boundaries.
    for (int k = -45; k <= 38; ++k) {
        const float p = std::pow(10.0f, static_cast<float>(k));
        values.push_back(p);
        values.push_back(std::nextafter(p, 0.0f));
        values.push_back(std::nextafter(p, std::numeric_limits<float>::infinity()));
    }
    for (int k = -320; k <= 308; ++k) {
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "1e%d", k);
        const double p = std::strtod(buffer, nullptr);
        values.push_back(p);
        values.push_back(std::nextafter(p, 0.0));
        values.push_back(std::nextafter(p, std::numeric_limits<double>::infinity()));
        // Just below the point where 15-digit rounding carries into the next power of ten.
        std::snprintf(buffer, sizeof buffer, "9.999999999999996e%d", k);
        values.push_back(std::strtod(buffer, nullptr));
    }
    values.push_back(DBL_MAX);
    values.push_back(DBL_MIN);
    values.push_back(std::numeric_limits<double>::denorm_min());
    return values;
}

TEST(GeneralFloatText, PropertiesOverSingleBitPatterns) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<uint32_t> bits;
    int checked = 0;
    for (int i = 0; i < 120000; ++i) {
        const float f = std::bit_cast<float>(bits(rng));
        if (!std::isfinite(f) || f == 0)
            continue;
        const char separator = (i & 1) ? ',' : '.';
        const SeparatorScope scope(separator);
        checkText(f, separator);
        ++checked;
        if (::testing::Test::HasFailure())
            return;
    }
    EXPECT_GE(checked, 100000);
}

TEST(GeneralFloatText, PropertiesOverDoubleBitPatternsAndEdges) {
    std::vector<double> values = edgeValues();
    std::mt19937_64 rng(97531);
    std::uniform_int_distribution<uint64_t> bits;
    for (int i = 0; i < 100000; ++i)
        values.push_back(std::bit_cast<double>(bits(rng)));
    // Doubles of moderate magnitude, where fixed notation is used.
    std::uniform_real_distribution<double> moderate(-1e16, 1e16);
    std::uniform_int_distribution<int> shift(-20, 0);
    for (int i = 0; i < 20000; ++i)
        values.push_back(std::ldexp(moderate(rng), shift(rng) * 3));

    for (size_t i = 0; i < values.size(); ++i) {
        const double v = values[i];
        if (!std::isfinite(v) || v == 0)
            continue;
        const char separator = (i & 1) ? ',' : '.';
        const SeparatorScope scope(separator);
        checkText(v, separator);
        if (::testing::Test::HasFailure())
            return;
    }
}

TEST(GeneralFloatText, ZerosAndSpecialsForEverySign) {
    EXPECT_EQ(tools::GeneralFloatText(0.0), "0");
    EXPECT_EQ(tools::GeneralFloatText(-0.0), "0");
    // Every not-a-number payload, quiet or signalling, is "NAN" with the sign of its sign bit.
    for (uint64_t payload : {uint64_t{1}, uint64_t{0x8000000000000}, uint64_t{0xFFFFFFFFFFFFF}}) {
        const uint64_t positive = 0x7FF0000000000000u | payload;
        EXPECT_EQ(tools::GeneralFloatText(std::bit_cast<double>(positive)), "NAN");
        EXPECT_EQ(tools::GeneralFloatText(std::bit_cast<double>(positive | 0x8000000000000000u)), "-NAN");
    }
}

// The process's C locale must not leak into the text: Qt programs set it from the environment.
TEST(GeneralFloatText, IgnoresTheProcessLocale) {
    const CommaLocaleScope locale;
    if (!locale.name())
        GTEST_SKIP() << "no locale with a comma decimal separator is installed";
    const SeparatorScope scope('.');
    EXPECT_EQ(tools::GeneralFloatText(100.5), "100.5") << "under " << locale.name();
    EXPECT_EQ(tools::GeneralFloatText(1.5e-20), "1.5E-20") << "under " << locale.name();
}

} // namespace
