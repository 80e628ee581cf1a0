// Strict readings of typed numbers (integers, floats), rounding to single precision and the
// zero-padded integer form used by text commands.
#include "CommaLocaleScope.h"
#include "SeparatorScope.h"
#include "tools/Conversions.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace {

std::string integerMessage(std::string_view text) {
    return "'" + std::string(text) + "' is not a valid integer value";
}

std::string floatMessage(std::string_view text) {
    return "'" + std::string(text) + "' is not a valid floating point value";
}

// Runs `call`, expects a ConversionError and returns its message ("" when none was thrown).
template <typename Call> std::string conversionMessage(Call call) {
    try {
        call();
    } catch (const tools::ConversionError& error) {
        return error.what();
    }
    return "";
}

struct IntCase {
    const char* text;
    int32_t value;
};

TEST(StrToInt, ValidTexts) {
    const IntCase cases[] = {
        {"0", 0},
        {"+0", 0},
        {"-0", 0},
        {"00", 0},
        {"001", 1},
        {"18", 18},
        {"300", 300},
        {"-1", -1},
        {"+12", 12},
        {" 12", 12},
        {"   -12", -12},
        {"2147483647", INT32_MAX},
        {"+2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"0000000000000000000000000000001", 1},
        {"-0000000000000000000002147483648", INT32_MIN},
        {"$F7", 247},
        {"$f7", 247},
        {"0xF7", 247},
        {"0XF7", 247},
        {"0xf7", 247},
        {"xF7", 247},
        {"XF7", 247},
        {"x0", 0},
        {"$0", 0},
        {"0x0", 0},
        {"$00000000000000F7", 247},
        {"-$1", -1},
        {"+$10", 16},
        {" $aBcD", 0xABCD},
        {"$7FFFFFFF", INT32_MAX},
        {"0x7fffffff", INT32_MAX},
        {"-$80000000", INT32_MIN},
        {"-0x80000000", INT32_MIN},
    };
    for (const IntCase& c : cases) {
        int32_t value = 0;
        EXPECT_NO_THROW(value = tools::StrToInt(c.text)) << "text '" << c.text << "'";
        EXPECT_EQ(value, c.value) << "text '" << c.text << "'";
    }
}

TEST(StrToInt, InvalidTextsNameTheText) {
    const char* texts[] = {
        "",
        " ",
        "-",
        "+",
        "$",
        "0x",
        "0X",
        "x",
        "X",
        "--1",
        "+-1",
        "-+1",
        "- 1",
        "1 2",
        "12 ",
        "12a",
        "12\t",
        "\t12",
        "\n12",
        "1.0",
        "1e3",
        "1,000",
        "1_000",
        "0x-1",
        "$-1",
        "$$1",
        "0x$1",
        "$0x1",
        "0xx1",
        "$G",
        "0xG",
        "00x1",
        "0 x1",
        "$ F",
        "0b101",
        "2147483648",
        "-2147483649",
        "4294967296",
        "99999999999999999999",
        "$80000000",
        "$FFFFFFFF",
        "0x100000000",
        "-$80000001",
        "$FFFFFFFFFFFFFFFFFFFF",
        "abc",
    };
    for (const char* text : texts)
        EXPECT_EQ(conversionMessage([&] { tools::StrToInt(text); }), integerMessage(text))
            << "text '" << text << "'";
}

TEST(StrToInt, EmptyTextMessage) {
    EXPECT_EQ(conversionMessage([] { tools::StrToInt(""); }), "'' is not a valid integer value");
}

TEST(StrToInt, ErrorIsAnErrorForTheUser) {
    EXPECT_THROW(tools::StrToInt("12a"), tools::Error);
}

TEST(StrToInt, EveryDecimalTextAroundTheLimitsMatchesItsValue) {
    // Read back the decimal and hex text of every value near both ends of the range and near zero.
    for (int64_t v : {int64_t{INT32_MIN}, int64_t{-70000}, int64_t{-1000}, int64_t{INT32_MAX} - 1000}) {
        for (int64_t x = v; x <= v + 2000; ++x) {
            if (x > INT32_MAX)
                break;
            EXPECT_EQ(tools::StrToInt(std::to_string(x)), x);
            const uint64_t magnitude = x < 0 ? static_cast<uint64_t>(-x) : static_cast<uint64_t>(x);
            char hex[32];
            std::snprintf(hex, sizeof hex, "%s$%llX", x < 0 ? "-" : "",
                          static_cast<unsigned long long>(magnitude));
            EXPECT_EQ(tools::StrToInt(hex), x) << hex;
        }
    }
}

TEST(StrToIntUpTo, TheTextMustConvertThenFitTheRange) {
    EXPECT_EQ(tools::StrToIntUpTo("0", 99, "Address"), 0);
    EXPECT_EQ(tools::StrToIntUpTo("$63", 99, "Address"), 99);
    for (const char* text : {"-1", "100", "2147483647"}) {
        try {
            tools::StrToIntUpTo(text, 99, "Address");
            ADD_FAILURE() << text;
        } catch (const tools::InputRefused& refusal) {
            EXPECT_STREQ(refusal.what(), "Address must be between 0 and 99") << text;
        }
    }
    EXPECT_EQ(conversionMessage([] { tools::StrToIntUpTo("1.5", 99, "Address"); }),
              "'1.5' is not a valid integer value");
}

struct FloatCase {
    const char* text;
    double value;
};

void expectFloatCases(std::initializer_list<FloatCase> cases) {
    for (const FloatCase& c : cases) {
        double value = 0;
        EXPECT_NO_THROW(value = tools::StrToFloat(c.text)) << "text '" << c.text << "'";
        EXPECT_EQ(value, c.value) << "text '" << c.text << "'";
        EXPECT_EQ(std::signbit(value), std::signbit(c.value)) << "text '" << c.text << "'";
    }
}

void expectFloatInvalid(std::initializer_list<const char*> texts) {
    for (const char* text : texts)
        EXPECT_EQ(conversionMessage([&] { tools::StrToFloat(text); }), floatMessage(text))
            << "text '" << text << "'";
}

TEST(StrToFloat, ValidTextsWithPoint) {
    const SeparatorScope scope('.');
    expectFloatCases({
        {"0", 0.0},
        {"-0", -0.0},
        {"1.5", 1.5},
        {"-1.5", -1.5},
        {"+1.5", 1.5},
        {" 1.5", 1.5},
        {"1.5 ", 1.5},
        {"   20.5   ", 20.5},
        {"0.1", 0.1},
        {"100", 100.0},
        {".5", 0.5},
        {"-.5", -0.5},
        {"5.", 5.0},
        {"00012.5000", 12.5},
        {"1e3", 1000.0},
        {"1E3", 1000.0},
        {"1e+3", 1000.0},
        {"1e-3", 0.001},
        {"1.5E-3", 0.0015},
        {"1E39", 1e39},
        {"1e0008", 1e8},
        {".5e1", 5.0},
        {"5.e1", 50.0},
        {"123456789012345678901234567890", 1.2345678901234568e29},
        {"3.40282346638529E38", 3.40282346638529e38},
        {"1.7976931348623157e308", DBL_MAX},
        {"4.9e-324", std::numeric_limits<double>::denorm_min()},
        // Too small for a double: zero, with the sign of the text.
        {"1e-400", 0.0},
        {"-1e-400", -0.0},
        {"0.0000000001e-320", 0.0},
        {"0e999999", 0.0},
        {"0.000e99999999999999999999", 0.0},
    });
}

TEST(StrToFloat, InvalidTextsWithPoint) {
    const SeparatorScope scope('.');
    expectFloatInvalid({
        "",        " ",      ".",
        "-",       "+",      "e5",
        ".e5",     "1e",     "1e+",
        "1e-",     "1E",     "1.5.3",
        "1..5",    "--1",    "+-1",
        "1 5",     "- 1",    "1e 5",
        "1 e5",    "\t1",    "1\t",
        "1f",      "1d",     "$10",
        "0x10",    "0x1p3",  "1,5",
        "1,000.5", "1_000",  "1'000",
        "inf",     "INF",    "-inf",
        "nan",     "NAN",    "infinity",
        "1e400",   "-1e400", "1e99999999999999999999",
        "999e306", "abc",    "1.5e3.5",
        "1e--3",
    });
}

// The point is a decimal separator in every locale, the locale's own one besides it; either stands
// once, and neither is valid anywhere else.
TEST(StrToFloat, CommaSeparatorReadsTheCommaAndThePoint) {
    const SeparatorScope scope(',');
    expectFloatCases({
        {"1,5", 1.5},
        {"-0,25", -0.25},
        {",5", 0.5},
        {"5,", 5.0},
        {" 1,5E3 ", 1500.0},
        {"20,5", 20.5},
        {"0,1", 0.1},
        {"1.5", 1.5},
        {"0.00", 0.0},
        {"100.00", 100.0},
        {".5", 0.5},
        {"5.", 5.0},
        {"-2.5e1", -25.0},
    });
    expectFloatInvalid({"1.000,5", "1,000.5", "1,5,3", "1.5.3", "1,5.3", "1.5,3", ",", ".", ",.", "1,5e",
                        "1,,5", "1..5", "1e2,5", "1e2.5", "1 000,5"});
}

TEST(StrToFloat, SeparatorIsReadEachTime) {
    {
        const SeparatorScope scope(',');
        EXPECT_EQ(tools::StrToFloat("2,5"), 2.5);
    }
    const SeparatorScope scope('.');
    EXPECT_EQ(tools::StrToFloat("2.5"), 2.5);
    EXPECT_THROW(tools::StrToFloat("2,5"), tools::ConversionError);
}

// The float text shown in fields reads back to the same 15-digit value, in both separators.
TEST(StrToFloat, ReadsBackGeneralFloatText) {
    std::mt19937_64 rng(4242);
    std::uniform_int_distribution<uint64_t> bits;
    for (char separator : {'.', ','}) {
        const SeparatorScope scope(separator);
        for (int i = 0; i < 20000; ++i) {
            const double v = std::bit_cast<double>(bits(rng));
            if (!std::isfinite(v))
                continue;
            const std::string text = tools::GeneralFloatText(v);
            const double back = tools::StrToFloat(text);
            EXPECT_EQ(tools::GeneralFloatText(back), text);
            if (::testing::Test::HasFailure())
                return;
        }
    }
}

TEST(StrToFloat, IgnoresTheProcessLocale) {
    const CommaLocaleScope locale;
    if (!locale.name())
        GTEST_SKIP() << "no locale with a comma decimal separator is installed";
    const SeparatorScope scope('.');
    EXPECT_EQ(conversionMessage([] { EXPECT_EQ(tools::StrToFloat("1.5"), 1.5); }), "")
        << "under " << locale.name();
    EXPECT_EQ(conversionMessage([] { tools::StrToFloat("1,5"); }), floatMessage("1,5"))
        << "under " << locale.name();
}

uint32_t singleBits(double value) {
    return std::bit_cast<uint32_t>(tools::ToSingle(value));
}

TEST(ToSingle, NearestSingle) {
    EXPECT_EQ(singleBits(0.1), 0x3DCCCCCDu);
    EXPECT_EQ(singleBits(100), 0x42C80000u);
    EXPECT_EQ(singleBits(20.5), 0x41A40000u);
    EXPECT_EQ(singleBits(-10), 0xC1200000u);
    EXPECT_EQ(singleBits(0), 0x00000000u);
    EXPECT_EQ(singleBits(-0.0), 0x80000000u);
    EXPECT_EQ(tools::ToSingle(FLT_MAX), FLT_MAX);
    EXPECT_EQ(tools::ToSingle(-FLT_MAX), -FLT_MAX);
}

TEST(ToSingle, TiesGoToEven) {
    const double halfUlp = std::ldexp(1.0, -24); // half the spacing of singles just above 1
    EXPECT_EQ(singleBits(1 + halfUlp), 0x3F800000u);
    EXPECT_EQ(singleBits(1 + 3 * halfUlp), 0x3F800002u);
    EXPECT_EQ(singleBits(1 + halfUlp + std::ldexp(1.0, -50)), 0x3F800001u);
    EXPECT_EQ(singleBits(1 + halfUlp - std::ldexp(1.0, -50)), 0x3F800000u);
}

TEST(ToSingle, OverflowOnlyWhenTheMagnitudeRoundsPastTheLargestSingle) {
    const double halfway = 3.4028235677973366e38; // between FLT_MAX and 2^128
    ASSERT_EQ(halfway, static_cast<double>(FLT_MAX) + std::ldexp(1.0, 103));
    EXPECT_EQ(tools::ToSingle(std::nextafter(halfway, 0.0)), FLT_MAX);
    EXPECT_EQ(tools::ToSingle(-std::nextafter(halfway, 0.0)), -FLT_MAX);
    EXPECT_EQ(tools::ToSingle(3.402823466e38), FLT_MAX);
    const double overflowing[] = {halfway,
                                  -halfway,
                                  std::nextafter(halfway, 1e300),
                                  1e39,
                                  -1e39,
                                  DBL_MAX,
                                  -DBL_MAX,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity()};
    for (double v : overflowing)
        EXPECT_EQ(conversionMessage([&] { tools::ToSingle(v); }), "Floating point overflow") << "value " << v;
}

TEST(ToSingle, TypedFieldOfOneE39Overflows) {
    const SeparatorScope scope('.');
    EXPECT_EQ(conversionMessage([] { tools::ToSingle(tools::StrToFloat("1E39")); }),
              "Floating point overflow");
}

// A value typed for a single: beyond double's range it is as much an overflow as 1E39, while a text
// that is no number keeps the conversion message, and everything else reads as StrToFloat and
// ToSingle do.
TEST(StrToSingle, BeyondDoubleIsAnOverflowAndNoNumberStaysInvalid) {
    const SeparatorScope scope('.');
    for (const char* text : {"1E400", "-1e400", "1e99999999999999999999", "999e306", "1E39", " -3.5e38 "}) {
        EXPECT_EQ(conversionMessage([&] { tools::StrToSingle(text); }), "Floating point overflow") << text;
    }
    for (const char* text : {"", "abc", "1e", "inf", "nan", "1,5", "1.5.3", "0x10"}) {
        EXPECT_EQ(conversionMessage([&] { tools::StrToSingle(text); }), floatMessage(text)) << text;
    }
    for (const char* text : {"0.1", "100", "-10", "20.5", "3.40282346638529E38", "1e-400", "-0", "123456"}) {
        EXPECT_EQ(std::bit_cast<uint32_t>(tools::StrToSingle(text)),
                  std::bit_cast<uint32_t>(tools::ToSingle(tools::StrToFloat(text))))
            << text;
    }
}

TEST(ToSingle, UnderflowGivesSubnormalOrZeroWithoutError) {
    const float subnormal = tools::ToSingle(1e-40);
    EXPECT_EQ(std::fpclassify(subnormal), FP_SUBNORMAL);
    EXPECT_NEAR(subnormal, 1e-40, 1e-45);
    EXPECT_EQ(singleBits(std::numeric_limits<float>::denorm_min()), 0x00000001u);
    EXPECT_EQ(singleBits(1e-50), 0x00000000u);
    EXPECT_EQ(singleBits(-1e-50), 0x80000000u);
    EXPECT_EQ(singleBits(std::numeric_limits<double>::denorm_min()), 0x00000000u);
}

TEST(ToSingle, NotANumberStaysNotANumberWithItsSign) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const float positive = tools::ToSingle(nan);
    const float negative = tools::ToSingle(std::copysign(nan, -1.0));
    EXPECT_TRUE(std::isnan(positive));
    EXPECT_FALSE(std::signbit(positive));
    EXPECT_TRUE(std::isnan(negative));
    EXPECT_TRUE(std::signbit(negative));
}

TEST(ToSingle, EverySingleWidenedComesBackUnchanged) {
    std::mt19937 rng(777);
    std::uniform_int_distribution<uint32_t> bits;
    for (int i = 0; i < 200000; ++i) {
        const uint32_t pattern = bits(rng);
        const float f = std::bit_cast<float>(pattern);
        if (!std::isfinite(f))
            continue;
        ASSERT_EQ(singleBits(static_cast<double>(f)), pattern);
    }
}

struct PadCase {
    int32_t value;
    const char* pattern;
    const char* text;
};

TEST(FormatZeroPadded, Table) {
    const PadCase cases[] = {
        {0, "000", "000"},
        {5, "000", "005"},
        {123, "000", "123"},
        {1234, "000", "1234"},
        {-5, "000", "-005"},
        {-1234, "000", "-1234"},
        {0, "00000000", "00000000"},
        {42, "00000000", "00000042"},
        {12345678, "00000000", "12345678"},
        {123456789, "00000000", "123456789"},
        {0, "000000000", "000000000"},
        {-5, "000000000", "-000000005"},
        {INT32_MIN, "000000000", "-2147483648"},
        {INT32_MAX, "000000000", "2147483647"},
        {INT32_MIN, "000000000000", "-002147483648"},
        {INT32_MAX, "000", "2147483647"},
        {7, "0", "7"},
        {-1, "0", "-1"},
        {7, "", "7"},
        {0, "", "0"},
    };
    for (const PadCase& c : cases)
        EXPECT_EQ(tools::FormatZeroPadded(c.value, c.pattern), c.text) << c.value << " with " << c.pattern;
}

TEST(FormatZeroPadded, ReadsBackThroughStrToInt) {
    for (int32_t v :
         {INT32_MIN, INT32_MIN + 1, -1000000000, -99999999, -1, 0, 1, 99999999, 999999999, INT32_MAX})
        for (const char* pattern : {"000", "00000000", "000000000"}) {
            const std::string text = tools::FormatZeroPadded(v, pattern);
            EXPECT_GE(text.size() - (v < 0 ? 1 : 0), std::string_view(pattern).size()) << text;
            EXPECT_EQ(tools::StrToInt(text), v) << text;
        }
}

} // namespace
