// Tests of reading hex byte text ("76 89 FD AD") into bytes, with its two failure texts.
#include "hart/HartFrames.h"
#include "tools/Conversions.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kNoSpack = "NO SPACK";
constexpr const char* kDataError = "Data eeore!";

// "00 11 22 ..." with `count` pairs.
std::string Pairs(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += (i ? " " : "") + tools::ByteToHex(i * 0x11 % 256);
    return text;
}

Bytes PairBytes(int count) {
    Bytes bytes;
    for (int i = 0; i < count; ++i)
        bytes.push_back(static_cast<uint8_t>(i * 0x11 % 256));
    return bytes;
}

struct Case {
    std::string text;
    int maximum;
    Bytes bytes;         // expected when failure is empty
    std::string failure; // expected failure text
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << '"' << c.text << "\" maximum " << c.maximum;
}

class ParseHexBytesTable : public testing::TestWithParam<Case> {};

TEST_P(ParseHexBytesTable, GivesBytesOrFailure) {
    const Case& c = GetParam();
    const hart::HexBytes result = hart::ParseHexBytes(c.text, c.maximum);
    EXPECT_EQ(result.failure, c.failure) << '"' << c.text << '"';
    EXPECT_EQ(result.ok(), c.failure.empty());
    EXPECT_EQ(result.bytes, c.bytes) << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    HexText, ParseHexBytesTable,
    testing::Values(Case{"76 89 FD AD", 15, {0x76, 0x89, 0xFD, 0xAD}, ""},
                    Case{"76 89 FD A", 15, {0x76, 0x89, 0xFD}, ""}, // the lone last character is ignored
                    Case{"7689FDAD", 15, {}, kNoSpack}, Case{"76 89 fd ad", 15, {}, kDataError},
                    Case{"76 8G FD AD", 15, {}, kDataError}, Case{"G6", 15, {}, kDataError},
                    Case{"", 15, {}, kNoSpack}, Case{"7", 15, {}, kNoSpack}, Case{"76", 15, {0x76}, ""},
                    Case{"76 ", 15, {0x76}, ""}, Case{"76-89", 15, {}, kNoSpack},
                    Case{"7 89", 15, {}, kDataError},  // one pair "7 ", the blank is no digit
                    Case{" 7 89", 15, {}, kDataError}, // separator in place, first pair " 7"
                    Case{"7G-89", 15, {}, kNoSpack},   // separators are checked before digits
                    Case{"76  89", 15, {}, kDataError}, Case{"00 FF 0A A0", 15, {0x00, 0xFF, 0x0A, 0xA0}, ""},
                    Case{Pairs(16), 15, PairBytes(15), ""}, Case{Pairs(16), 14, PairBytes(14), ""},
                    Case{Pairs(15), 14, PairBytes(14), ""},
                    Case{Pairs(15) + " GG", 15, PairBytes(15), ""}, // pairs past the maximum are not read
                    Case{Pairs(15) + "-GG", 15, PairBytes(15), ""},
                    Case{Pairs(14) + " GG", 15, {}, kDataError},
                    Case{"\xC3\xA9 89", 15, {}, kDataError}, // "é": two bytes, neither a digit
                    Case{"76\xC2\xA0"
                         "89",
                         15,
                         {},
                         kNoSpack})); // no-break space as separator

TEST(ParseHexBytes, EveryByteValueRoundTrips) {
    for (int value = 0; value < 256; ++value) {
        const auto result = hart::ParseHexBytes(tools::ByteToHex(value), 15);
        ASSERT_TRUE(result.ok()) << value;
        EXPECT_EQ(result.bytes, Bytes{static_cast<uint8_t>(value)});
    }
}

TEST(ParseHexBytes, OnlyDigitsAndUpperCaseAToFAreDigits) {
    const std::string digits = "0123456789ABCDEF";
    for (int c = 0; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        const bool digit = digits.find(ch) != std::string::npos;
        for (const std::string& text :
             {std::string{ch, '0'}, std::string{'0', ch}, "00 " + std::string{'0', ch}}) {
            const auto result = hart::ParseHexBytes(text, 15);
            EXPECT_EQ(result.failure, digit ? "" : kDataError) << "character " << c;
        }
        const auto separated = hart::ParseHexBytes(std::string{'0', '0', ch, '0', '0'}, 15);
        EXPECT_EQ(separated.failure, ch == ' ' ? "" : kNoSpack) << "separator " << c;
    }
}

} // namespace
