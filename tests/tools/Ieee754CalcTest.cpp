// The IEEE-754 calculator: the values and failures users meet, the order of the two checks, and
// every one of many random patterns against the general float text of its single.
#include "tools/Ieee754Calc.h"
#include "SeparatorScope.h"
#include "tools/Conversions.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <random>
#include <string>

namespace {

struct Case {
    const char* typed;
    uint32_t pattern;
    const char* shown; // the result text, or the failure text
};

TEST(Ieee754FromHexText, ValuesCutToTenCharacters) {
    const SeparatorScope scope('.');
    const Case cases[] = {
        {"41 20 00 00", 0x41200000, "10"},
        {"3F 80 00 00", 0x3F800000, "1"},
        {"BF 80 00 00", 0xBF800000, "-1"},
        {"42 C8 00 00", 0x42C80000, "100"},
        {"3D CC CC CD", 0x3DCCCCCD, "0.10000000"}, // 0.100000001490116
        {"C0 49 0F DB", 0xC0490FDB, "-3.1415927"},
        {"7F 7F FF FF", 0x7F7FFFFF, "3.40282346"}, // the exponent of 3.40282346638529E38 is cut off
        {"35 86 37 BD", 0x358637BD, "9.99999997"}, // 9.99999997475243E-7
        {"00 00 00 01", 0x00000001, "1.40129846"}, // the smallest subnormal
        {"00 00 00 00", 0x00000000, "0"},
        {"80 00 00 00", 0x80000000, "0"},
        {"7F 80 00 00", 0x7F800000, "INF"},
        {"FF 80 00 00", 0xFF800000, "-INF"},
        {"7F C0 00 00", 0x7FC00000, "NAN"},
        {"FF FF FF FF", 0xFFFFFFFF, "-NAN"},
        {"7F 80 00 01", 0x7F800001, "NAN"}, // a signalling NaN stays a NaN
        // Fewer pairs leave the low bytes 0; a fifth valid pair is read but not used.
        {"41 20", 0x41200000, "10"},
        {"41", 0x41000000, "8"},
        {"41 20 00 00 00", 0x41200000, "10"},
        {"41 20 00 00 12 34 56", 0x41200000, "10"},
    };
    for (const Case& c : cases) {
        const tools::Ieee754Reading reading = tools::Ieee754FromHexText(c.typed);
        EXPECT_TRUE(reading.ok()) << c.typed << ": " << reading.failure;
        EXPECT_EQ(reading.pattern, c.pattern) << c.typed;
        EXPECT_EQ(reading.text, c.shown) << c.typed;
    }
}

TEST(Ieee754FromHexText, TheLocalesSeparatorIsUsed) {
    const SeparatorScope scope(',');
    EXPECT_EQ(tools::Ieee754FromHexText("C0 49 0F DB").text, "-3,1415927");
}

TEST(Ieee754FromHexText, FailuresAndTheirOrder) {
    const std::string noSpaces(tools::kNoSpacesMessage);
    const std::string invalid(tools::kInvalidCharactersMessage);
    const std::string longValid = [] {
        std::string text = "41 20 00 00";
        while (text.size() < 40000) {
            text += " 00";
        }
        return text;
    }();
    const struct {
        std::string typed;
        std::string failure;
    } cases[] = {
        {"FFFFFFFF", noSpaces},
        {"FF FF FFFF", noSpaces},
        {"41-20-00-00", noSpaces},
        {" 41 20 00 00", noSpaces},
        {"41 20 00x", noSpaces}, // the last character stands where a separator belongs
        {"ff ffff", noSpaces},   // fails both checks: only the separator failure is reported
        {"ff ff ff ff", invalid},
        {"12 34 56 78 ", invalid}, // a fifth pair is expected and starts past the end
        {"12 34 56 7", invalid},
        {"", invalid},
        {"4", invalid},
        {"G1 20 00 00", invalid},
        {"41 20 00 00 ZZ", invalid}, // the unused fifth pair is still checked
        {std::string("41 2\0 00 00", 11), invalid},
        {longValid + " 0z", invalid}, // every pair is checked, however many there are
    };
    for (const auto& c : cases) {
        const tools::Ieee754Reading reading = tools::Ieee754FromHexText(c.typed);
        EXPECT_EQ(reading.failure, c.failure) << "'" << c.typed.substr(0, 20) << "'";
        EXPECT_EQ(reading.text, "") << c.typed.substr(0, 20);
    }
    EXPECT_EQ(tools::Ieee754FromHexText(longValid).text, "10");
}

TEST(Ieee754FromHexText, EveryRandomPatternShowsTheStartOfItsGeneralFloatText) {
    const SeparatorScope scope('.');
    std::mt19937 rng(754);
    std::uniform_int_distribution<uint32_t> bits;
    for (int i = 0; i < 100000; ++i) {
        const uint32_t pattern = bits(rng);
        char typed[16];
        std::snprintf(typed, sizeof typed, "%02X %02X %02X %02X", pattern >> 24, (pattern >> 16) & 0xFF,
                      (pattern >> 8) & 0xFF, pattern & 0xFF);
        const std::string expected =
            tools::GeneralFloatText(static_cast<double>(std::bit_cast<float>(pattern))).substr(0, 10);
        const tools::Ieee754Reading reading = tools::Ieee754FromHexText(typed);
        ASSERT_EQ(reading.pattern, pattern) << typed;
        ASSERT_EQ(reading.text, expected) << typed;
    }
}

} // namespace
