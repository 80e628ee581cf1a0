// Register data as values: one table of known patterns in both word orders, and the round trip over
// every order and length.
#include <bit>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "tools/RegisterValues.h"

namespace {

using tools::WordOrder;

struct Row {
    std::vector<uint8_t> bytes; // as on the wire
    WordOrder order;
    double value;
};

// 100.0f is 42 C8 00 00; 1.5 as a double is 3F F8 00 00 00 00 00 00.
const Row kRows[] = {
    {{0x42, 0xC8, 0x00, 0x00}, WordOrder::HighWordFirst, 100.0},
    {{0x00, 0x00, 0x42, 0xC8}, WordOrder::LowWordFirst, 100.0},
    {{0xBF, 0x80, 0x00, 0x00}, WordOrder::HighWordFirst, -1.0},
    {{0x3F, 0xF8, 0, 0, 0, 0, 0, 0}, WordOrder::HighWordFirst, 1.5},
    {{0, 0, 0, 0, 0, 0, 0x3F, 0xF8}, WordOrder::LowWordFirst, 1.5},
};

TEST(RegisterValues, KnownPatternsReadInTheirWordOrder) {
    for (const Row& row : kRows) {
        const auto value = tools::ValueOfBytes(row.bytes, row.order);
        ASSERT_TRUE(value) << row.bytes.size();
        EXPECT_EQ(*value, row.value) << tools::WordOrderName(row.order);
    }
}

TEST(RegisterValues, OtherLengthsAreNoValue) {
    for (std::size_t length : {0u, 2u, 3u, 5u, 6u, 7u, 9u}) {
        const std::vector<uint8_t> bytes(length, 0x41);
        EXPECT_FALSE(tools::ValueOfBytes(bytes, WordOrder::HighWordFirst)) << length;
    }
}

TEST(RegisterValues, RegistersOfIsTheInverseInBothOrders) {
    for (WordOrder order : {WordOrder::HighWordFirst, WordOrder::LowWordFirst}) {
        for (float f : {0.0f, -0.0f, 1.0f, -273.15f, 3.4e38f, 1e-45f}) {
            const auto regs = tools::RegistersOf(f, order);
            EXPECT_EQ(std::bit_cast<uint32_t>(tools::FloatOf(regs, order)), std::bit_cast<uint32_t>(f));
        }
        for (double d : {0.0, 1.5, -1e300, 123456.789}) {
            const auto regs = tools::RegistersOf(d, order);
            EXPECT_EQ(tools::DoubleOf(regs, order), d);
        }
    }
    EXPECT_EQ(tools::WordOrderOfIndex(2), std::nullopt);
}

} // namespace
