// The exchange's rules without a port: receive actions by pending command and timeout messages.
#include <gtest/gtest.h>

#include "exchange/Rules.h"

namespace {

TEST(ReceiveAction, EveryCodeShowsParsesAndClearsAsTabled) {
    struct Row {
        int32_t code;
        bool hex;
        bool parse;
        bool clear;
    };
    const Row rows[] = {
        {100, true, true, false},  {103, true, true, false},  {104, true, false, false},
        {106, true, false, false}, {302, true, false, false}, {201, false, true, false},
        {202, false, true, false}, {203, false, true, false}, {204, false, true, false},
        {206, false, true, false}, {200, false, false, true}, {0, false, false, true},
    };
    for (const Row& row : rows) {
        const exchange::ReceiveAction action = exchange::ReceiveActionFor(row.code);
        EXPECT_EQ(action.showHex, row.hex) << row.code;
        EXPECT_EQ(action.startParse, row.parse) << row.code;
        EXPECT_EQ(action.clearPending, row.clear) << row.code;
    }
    // Any code that is not tabled is a leftover: shown as text and forgotten.
    for (int32_t code : {-1, 1, 99, 101, 102, 105, 199, 205, 207, 300, 301, 303, 1000}) {
        const exchange::ReceiveAction action = exchange::ReceiveActionFor(code);
        EXPECT_FALSE(action.showHex) << code;
        EXPECT_FALSE(action.startParse) << code;
        EXPECT_TRUE(action.clearPending) << code;
    }
}

TEST(TimeoutMessage, KindsOneToFourOnly) {
    EXPECT_EQ(exchange::TimeoutMessage(1), "Connection Timeout!");
    EXPECT_EQ(exchange::TimeoutMessage(2), "Parameter Query Timeout!");
    EXPECT_EQ(exchange::TimeoutMessage(3), "Parameter Setting Timeout!");
    EXPECT_EQ(exchange::TimeoutMessage(4), "HART Command Timeout!");
    for (int32_t kind : {0, 5, -1, 200}) {
        EXPECT_EQ(exchange::TimeoutMessage(kind), "") << kind;
    }
}

TEST(TextUpToZero, StopsAtTheFirstZeroByte) {
    EXPECT_EQ(exchange::TextUpToZero(std::string("AB\0CD", 5)), "AB");
    EXPECT_EQ(exchange::TextUpToZero(std::string("\0AB", 3)), "");
    EXPECT_EQ(exchange::TextUpToZero("QX1,ADR:005"), "QX1,ADR:005");
}

} // namespace
