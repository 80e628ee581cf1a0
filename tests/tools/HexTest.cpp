// Byte and digit hex: every byte value, every one-character text, and the frame display form.
#include "tools/Conversions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace {

TEST(HexDigits, TableIsUpperCaseDigitsInValueOrder) {
    EXPECT_EQ(tools::kHexDigits, "0123456789ABCDEF");
}

TEST(ByteToHex, EveryByteValueGivesTwoUpperCaseDigits) {
    for (int value = 0; value <= 255; ++value) {
        char expected[3];
        std::snprintf(expected, sizeof expected, "%02X", static_cast<unsigned>(value));
        EXPECT_EQ(tools::ByteToHex(value), expected) << "value " << value;
    }
}

TEST(ByteToHex, KnownValues) {
    EXPECT_EQ(tools::ByteToHex(0), "00");
    EXPECT_EQ(tools::ByteToHex(9), "09");
    EXPECT_EQ(tools::ByteToHex(10), "0A");
    EXPECT_EQ(tools::ByteToHex(171), "AB");
    EXPECT_EQ(tools::ByteToHex(255), "FF");
}

TEST(ByteToHex, OutsideTheByteRangeGivesADot) {
    for (int32_t value : {256, 257, 4096, 65535, INT32_MAX, -1, -255, -256, INT32_MIN})
        EXPECT_EQ(tools::ByteToHex(value), ".") << "value " << value;
}

TEST(HexDigitValue, EveryOneCharacterText) {
    const std::string_view upperDigits = "0123456789ABCDEF";
    for (int code = 0; code <= 255; ++code) {
        const char c = static_cast<char>(code);
        const size_t found = upperDigits.find(c);
        const int expected = found == std::string_view::npos ? 0 : static_cast<int>(found);
        EXPECT_EQ(tools::HexDigitValue(std::string_view(&c, 1)), expected) << "character code " << code;
        // The strict form tells a non-digit apart from "0".
        EXPECT_EQ(tools::UpperHexDigit(c), found == std::string_view::npos ? -1 : expected)
            << "character code " << code;
    }
}

TEST(HexDigitValue, OnlyTheWholeTextCounts) {
    EXPECT_EQ(tools::HexDigitValue("F"), 15);
    EXPECT_EQ(tools::HexDigitValue("f"), 0);
    EXPECT_EQ(tools::HexDigitValue("G"), 0);
    EXPECT_EQ(tools::HexDigitValue(""), 0);
    EXPECT_EQ(tools::HexDigitValue("0F"), 0);
    EXPECT_EQ(tools::HexDigitValue("F0"), 0);
    EXPECT_EQ(tools::HexDigitValue("9 "), 0);
    EXPECT_EQ(tools::HexDigitValue(std::string_view("\0", 1)), 0);
}

TEST(HexDigitValue, ReadsBackEveryByteToHex) {
    for (int value = 0; value <= 255; ++value) {
        const std::string hex = tools::ByteToHex(value);
        ASSERT_EQ(hex.size(), 2u);
        const int decoded =
            tools::HexDigitValue(hex.substr(0, 1)) * 16 + tools::HexDigitValue(hex.substr(1, 1));
        EXPECT_EQ(decoded, value);
    }
}

TEST(BytesToHexText, EachByteFollowedByOneBlank) {
    const std::vector<uint8_t> frame = {0x01, 0x03, 0x00, 0x00, 0x00, 0x12, 0xC5, 0xC7};
    EXPECT_EQ(tools::BytesToHexText(frame), "01 03 00 00 00 12 C5 C7 ");
    const std::vector<uint8_t> other = {0xFF, 0x06, 0x1A};
    EXPECT_EQ(tools::BytesToHexText(other), "FF 06 1A ");
    EXPECT_EQ(tools::BytesToHexText({}), "");
}

TEST(BytesToHexText, EveryByteValueInOneBuffer) {
    std::vector<uint8_t> all(256);
    std::string expected;
    for (int value = 0; value <= 255; ++value) {
        all[static_cast<size_t>(value)] = static_cast<uint8_t>(value);
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X ", static_cast<unsigned>(value));
        expected += pair;
    }
    EXPECT_EQ(tools::BytesToHexText(all), expected);
}

} // namespace
