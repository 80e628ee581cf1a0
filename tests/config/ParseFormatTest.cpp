// HART data parsing format: the nine set commands with their refusals, and the decoder of the QX4 reply
// (the tag with its extra character, stops at a non-digit, nothing read past the end).
#include "config/ParseFormat.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/config/CaseTables.h"
#include "tools/Conversions.h"

namespace {

using namespace std::string_literals;
using configtest::appendField;
using configtest::FailureCase;
using configtest::failureOf;
using configtest::FrameCase;
using configtest::ReplyCase;

class ParseFormatFrames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(ParseFormatFrames, BuildsExactBytes) {
    EXPECT_EQ(GetParam().build(), GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    AllCommands, ParseFormatFrames,
    ::testing::Values(
        FrameCase{"defaults, address 5", [] { return config::parseFormatFrame(1, 0, "5", 0, "1.000"); },
                  "QQS#MDBS1:0,05,0,1.000#"},
        FrameCase{"second format, 12, 8 Bit, 2.500",
                  [] { return config::parseFormatFrame(8, 1, "12", 1, "2.500"); }, "QQS#MDBS8:1,12,1,2.500#"},
        FrameCase{"longer coefficient cut to five",
                  [] { return config::parseFormatFrame(4, 0, "0", 0, "12.3456"); },
                  "QQS#MDBS4:0,00,0,12.34#"},
        FrameCase{"coefficient copied as it stands",
                  [] { return config::parseFormatFrame(5, 0, "99", 1, " 1,5x"); }, "QQS#MDBS5:0,99,1, 1,5x#"},
        FrameCase{"empty third length item of variable 2",
                  [] { return config::parseFormatFrame(2, 0, "1", 2, "1.000"); }, "QQS#MDBS2:0,01,2,1.000#"},
        FrameCase{"empty third length item of variable 3",
                  [] { return config::parseFormatFrame(3, 1, "7", 2, "0.500"); }, "QQS#MDBS3:1,07,2,0.500#"},
        FrameCase{"address as the runtime reads integers",
                  [] { return config::parseFormatFrame(6, 0, " $1F", 0, "1.000"); },
                  "QQS#MDBS6:0,31,0,1.000#"},
        FrameCase{"address bit start selection", [] { return config::addressBitFrame(4); }, "QQS#MDL:8#"},
        FrameCase{"address bit 4", [] { return config::addressBitFrame(0); }, "QQS#MDL:4#"},
        FrameCase{"address bit 9", [] { return config::addressBitFrame(5); }, "QQS#MDL:9#"},
        FrameCase{"query", [] { return config::parseFormatQueryFrame(); }, "QQQ#QX4#"}));

TEST(ParseFormatFrames, EveryVariableSends23CharactersUnderItsOwnKey) {
    for (int variable = 1; variable <= config::kParseVariables; ++variable) {
        const std::string frame = config::parseFormatFrame(variable, 1, "42", 1, "3.142");
        EXPECT_EQ(frame, "QQS#MDBS" + std::to_string(variable) + ":1,42,1,3.142#");
        EXPECT_EQ(frame.size(), 23u);
    }
    EXPECT_THROW(config::parseFormatFrame(0, 0, "1", 0, "1.000"), std::out_of_range);
    EXPECT_THROW(config::parseFormatFrame(9, 0, "1", 0, "1.000"), std::out_of_range);
}

TEST(ParseFormatFrames, AddressesZeroToNinetyNineAreTwoDigits) {
    for (int address = 0; address <= 99; ++address) {
        const std::string frame = config::parseFormatFrame(1, 0, std::to_string(address), 0, "1.000");
        const std::string digits{char('0' + address / 10), char('0' + address % 10)};
        EXPECT_EQ(frame.substr(12, 2), digits);
    }
}

class ParseFormatFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ParseFormatFailures, NameTheFirstBadFieldOfTheRow) {
    const FailureCase& c = GetParam();
    EXPECT_EQ(c.refused ? failureOf<tools::InputRefused>(c.build)
                        : failureOf<tools::ConversionError>(c.build),
              c.message)
        << c.what;
}

const std::string kShortCoefficient =
    " Coefficient must have at least five characters; exactly five are sent (for example 1.000)";

INSTANTIATE_TEST_SUITE_P(
    AllFields, ParseFormatFailures,
    ::testing::Values(
        FailureCase{"empty address", [] { return config::parseFormatFrame(1, 0, "", 0, "1.000"); }, false,
                    "'' is not a valid integer value"},
        FailureCase{"address 1.5", [] { return config::parseFormatFrame(2, 0, "1.5", 0, "1.000"); }, false,
                    "'1.5' is not a valid integer value"},
        FailureCase{"address 100", [] { return config::parseFormatFrame(1, 0, "100", 0, "1.000"); }, true,
                    "Command 1 Variable 1 Address must be between 0 and 99"},
        FailureCase{"address -1", [] { return config::parseFormatFrame(5, 0, "-1", 0, "1.000"); }, true,
                    "Command 2 Variable 5 Address must be between 0 and 99"},
        FailureCase{"coefficient of four", [] { return config::parseFormatFrame(4, 0, "1", 0, "1.00"); },
                    true, "Command 1 Variable 4" + kShortCoefficient},
        FailureCase{"empty coefficient", [] { return config::parseFormatFrame(8, 0, "1", 0, ""); }, true,
                    "Command 2 Variable 8" + kShortCoefficient},
        FailureCase{"format before address", [] { return config::parseFormatFrame(3, -1, "x", 0, ""); }, true,
                    "No item is selected in Command 1 Variable 3 MODBUS Format"},
        FailureCase{"format 2", [] { return config::parseFormatFrame(6, 2, "1", 0, "1.000"); }, true,
                    "Command 2 Variable 6 MODBUS Format has no item 2 (items 0 to 1)"},
        FailureCase{"address before length", [] { return config::parseFormatFrame(7, 0, "x", -1, ""); },
                    false, "'x' is not a valid integer value"},
        FailureCase{"length before coefficient", [] { return config::parseFormatFrame(2, 0, "1", -1, ""); },
                    true, "No item is selected in Command 1 Variable 2 Length"},
        FailureCase{"no third length item in variable 1",
                    [] { return config::parseFormatFrame(1, 0, "1", 2, "1.000"); }, true,
                    "Command 1 Variable 1 Length has no item 2 (items 0 to 1)"},
        FailureCase{"no fourth length item in variable 3",
                    [] { return config::parseFormatFrame(3, 0, "1", 3, "1.000"); }, true,
                    "Command 1 Variable 3 Length has no item 3 (items 0 to 2)"},
        FailureCase{"address bit none", [] { return config::addressBitFrame(-1); }, true,
                    "No item is selected in Address Bit"},
        FailureCase{"address bit 6", [] { return config::addressBitFrame(6); }, true,
                    "Address Bit has no item 6 (items 0 to 5)"}));

// --- The QX4 reply ---

// "QX4 MDL=i" then, per variable with any field, " n:" and its fields; then the error.
std::string describe(const config::ParseFormatReply& r) {
    std::string out = r.markerFound ? "QX4" : "-";
    appendField(out, "MDL=", r.addressBitIndex);
    for (std::size_t i = 0; i < r.rows.size(); ++i) {
        const config::ParseFormatRow& row = r.rows[i];
        if (row.format || row.address || row.length || row.coefficient) {
            out += " " + std::to_string(i + 1) + ":";
            appendField(out, "f", row.format);
            appendField(out, "a", row.address);
            appendField(out, "l", row.length);
            appendField(out, "c", row.coefficient);
        }
    }
    out += r.error ? " ! " + *r.error : "";
    return out;
}

class ParseFormatReplies : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ParseFormatReplies, Decode) {
    EXPECT_EQ(describe(config::decodeParseFormat(GetParam().received)), GetParam().expected)
        << GetParam().received;
}

INSTANTIATE_TEST_SUITE_P(
    Qx4, ParseFormatReplies,
    ::testing::Values(
        // Only the address bit and variable 3 are in the reply: the other rows stay as they are.
        ReplyCase{"QQQ#QX4#MDL:6,MDBS 3:1,07,1,0.500#", "QX4 MDL=2 3: f1 a07 l1 c0.500"},
        ReplyCase{"QX4,MDL:8,MDBS=1:0,05,0,1.000,MDBS=2:1,12,1,2.500,MDBS=3:0,00,2,0.001,"
                  "MDBS=4:1,99,0,99999,MDBS=5:0,01,1,1.000,MDBS=6:1,02,0,1.000,MDBS=7:0,03,1,1.000,"
                  "MDBS=8:1,04,0,1.000#",
                  "QX4 MDL=4 1: f0 a05 l0 c1.000 2: f1 a12 l1 c2.500 3: f0 a00 l2 c0.001 4: f1 a99 l0 c99999 "
                  "5: f0 a01 l1 c1.000 6: f1 a02 l0 c1.000 7: f0 a03 l1 c1.000 8: f1 a04 l0 c1.000"},
        // The set command's own tag has no character between MDBS and the digit: not this variable.
        ReplyCase{"QX4 MDBS3:1,07,1,0.500", "QX4"},
        // ... though "MDBS3" followed by another digit is a tag of that other variable.
        ReplyCase{"QX4 MDBS37:1,07,1,0.500", "QX4 7: f1 a07 l1 c0.500"},
        ReplyCase{"MDL:6,MDBS 3:1,07,1,0.500", "-"},                            // no marker: nothing at all
        ReplyCase{"qx4 MDL:6", "-"}, ReplyCase{"QX4 MDL:4 MDL:9", "QX4 MDL=0"}, // first occurrence wins
        ReplyCase{"QX4 MDL:3", "QX4 MDL=-1"}, // below the list: no selection
        ReplyCase{"QX4 MDL:x MDBS 1:1,07,1,0.500", "QX4 ! 'x' is not a valid integer value"},
        ReplyCase{"QX4 MDL:", "QX4 ! '' is not a valid integer value"},
        // Separators are not examined; the fields are taken where they stand.
        ReplyCase{"QX4 MDBS#1:1abcd1efghij", "QX4 1: f1 abc l1 cfghij"},
        ReplyCase{"QX4 MDBS#1:1;-5;9;ab", "QX4 1: f1 a-5 l9 cab"},
        // A non-digit stops the decoder after the fields before it, later rows included.
        ReplyCase{"QX4 MDL:5 MDBS 1:0,05,0,1.000 MDBS 2:1,07,x,2.000 MDBS 3:1,01,1,3.000",
                  "QX4 MDL=1 1: f0 a05 l0 c1.000 2: f1 a07 ! 'x' is not a valid integer value"},
        ReplyCase{"QX4 MDBS 4: ,07,1,2.000 MDL:5", "QX4 MDL=1 ! ' ' is not a valid integer value"},
        // Cut short: text fields keep what is there, a missing list character is no digit.
        ReplyCase{"QX4 MDBS 1:1,07,1,0.5", "QX4 1: f1 a07 l1 c0.5"},
        ReplyCase{"QX4 MDBS 1:1,07,1,", "QX4 1: f1 a07 l1 c"},
        ReplyCase{"QX4 MDBS 1:1,0", "QX4 1: f1 a0 ! '' is not a valid integer value"},
        ReplyCase{"QX4 MDBS 1:", "QX4 ! '' is not a valid integer value"},
        ReplyCase{"\0QX4\0MDBS\0"
                  "5:1,\0\0,0,\0.5\0\0"s,
                  "QX4 5: f1 a\0\0 l0 c\0.5\0\0"s},
        ReplyCase{"QX4 MDBS 5:\0,07"s, "QX4 ! '\\0' is not a valid integer value"}));

TEST(ParseFormatReplies, ACutReplyIsNeverReadPastItsEnd) {
    const std::string full = "QX4,MDL:7,MDBS 1:1,23,1,4.567,MDBS 8:0,89,0,0.123#";
    for (std::size_t cut = 0; cut <= full.size(); ++cut) {
        // A heap block of exactly the cut length, so a read past it is an out-of-bounds read.
        const std::vector<char> block(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
        const auto r = config::decodeParseFormat({block.data(), block.size()});
        if (r.rows[0].coefficient) {
            const std::string present = cut <= 24 ? "" : full.substr(24, std::min<std::size_t>(5, cut - 24));
            EXPECT_EQ(*r.rows[0].coefficient, present) << cut;
        }
        if (cut == full.size()) {
            EXPECT_EQ(describe(r), "QX4 MDL=3 1: f1 a23 l1 c4.567 8: f0 a89 l0 c0.123");
        }
    }
}

} // namespace
