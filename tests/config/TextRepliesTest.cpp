// Decoders of the converter's text replies (QX1, QX6, QX2): tag search, widths, the error that stops a
// decoder, and what the analog output reply does to the last four rows.
#include "config/TextReplies.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/TextCommands.h"
#include "tests/config/CaseTables.h"
#include "tools/Conversions.h"

namespace {

using namespace std::string_literals;
using configtest::appendField;
using configtest::ReplyCase;

// One line per result listing the fields present ("name=value"), in decoding order, so a table states a
// whole result.
std::string describe(const config::SystemParameters& r) {
    std::string out = r.markerFound ? "QX1" : "-";
    appendField(out, "ADR=", r.slaveAddress);
    appendField(out, "BRAT1=", r.baud1);
    appendField(out, "XIAO1=", r.parity1);
    appendField(out, "BRAT2=", r.baud2);
    appendField(out, "XIAO2=", r.parity2);
    appendField(out, "MD=", r.workingMode);
    appendField(out, "JTM=", r.commandInterval);
    out += r.error ? " ! " + *r.error : "";
    return out;
}

std::string describe(const config::TestValues& r) {
    std::string out = r.markerFound ? "QX6" : "-";
    appendField(out, "LJ=", r.totalizer);
    for (std::size_t i = 0; i < r.outputs.size(); ++i) {
        appendField(out, "VA" + std::to_string(i) + "=", r.outputs[i]);
    }
    return out;
}

std::string describe(const config::AnalogOutputs& r) {
    std::string out = r.markerFound ? "QX2" : "-";
    appendField(out, "DL=", r.totalizerOutput);
    for (int output = 0; output < 8; ++output) {
        if (output == 4 && r.lastRowsState) {
            out += *r.lastRowsState == config::LastRows::Closed ? " closed" : " enabled";
        }
        if (const auto& row = r.row(output)) {
            out += " DA" + std::to_string(output + 1) + "=" + std::to_string(row->variable) + "/" +
                   row->upperText + "/" + row->lowerText;
        }
    }
    out += r.error ? " ! " + *r.error : "";
    return out;
}

class SystemParameterReplies : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(SystemParameterReplies, Decode) {
    EXPECT_EQ(describe(config::decodeSystemParameters(GetParam().received)), GetParam().expected)
        << GetParam().received;
}

const std::string kFullQx1 = "QX1 ADR=005 BRAT1=3 XIAO1=0 BRAT2=4 XIAO2=1 MD=1 JTM=012";

// Fields are decoded in the table's order (ADR, BA1, BA2, MD, JTM) wherever they stand in the text, so
// a list field that is no digit leaves every field after it in the table unread.
INSTANTIATE_TEST_SUITE_P(
    Qx1, SystemParameterReplies,
    ::testing::Values(ReplyCase{"QQQ#QX1#ADR:005,BA1:30,BA2:41,MD:1,JTM:012#", kFullQx1},
                      ReplyCase{"JTM:012 MD:1 BA2:41 BA1:30 ADR:005 QX1", kFullQx1},
                      ReplyCase{"MD:1;QX1;ADR:005BA2:41||JTM:012\r\nBA1:30", kFullQx1},
                      ReplyCase{"ADR:005,BA1:30,BA2:41,MD:1,JTM:012", "-"}, // no marker
                      ReplyCase{"qx1 ADR:005", "-"},                        // marker is case-sensitive
                      ReplyCase{"QX1 adr:005 JTM:020", "QX1 JTM=020"},
                      ReplyCase{"QX1 ADR:001 BA1:3x BA2:41 MD:1 JTM:012",
                                "QX1 ADR=001 BRAT1=3 ! 'x' is not a valid integer value"},
                      ReplyCase{"QX1 JTM:012 MD:2 ADR:005 BA1:30 BA2:x1",
                                "QX1 ADR=005 BRAT1=3 XIAO1=0 ! 'x' is not a valid integer value"},
                      ReplyCase{"QX1 JTM:012 MD:? BA2:41",
                                "QX1 BRAT2=4 XIAO2=1 ! '?' is not a valid integer value"},
                      ReplyCase{"QX1 ADR:00",
                                "QX1 ADR=00"},           // a text field cut by the end keeps what is there
                      ReplyCase{"QX1 ADR:", "QX1 ADR="}, // tag at the very end: empty text
                      ReplyCase{"QX1 JTM:3 BA1:3", "QX1 BRAT1=3 ! '' is not a valid integer value"},
                      ReplyCase{"QX1 MD:", "QX1 ! '' is not a valid integer value"},
                      ReplyCase{"QX1 MDL:3 MDBS1:0,05", "QX1"}, // never "MD:"
                      ReplyCase{"QX1 MDL:3 MD:2 MDBS1:0", "QX1 MD=2"},
                      ReplyCase{"QX1 QMD:2", "QX1 MD=2"}, // plain substring search
                      ReplyCase{"QX1 ADR:001 ADR:002 MD:1 MD:x", "QX1 ADR=001 MD=1"}, // first occurrence wins
                      ReplyCase{"QX1 BA1:99 BA2:67", "QX1 BRAT1=9 XIAO1=9 BRAT2=6 XIAO2=7"}));

TEST(SystemParameterReplies, EveryCharacterInAListPosition) {
    for (int c = 0; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        const auto r = config::decodeSystemParameters("QX1 MD:"s + ch + " JTM:007");
        if (ch >= '0' && ch <= '9') {
            EXPECT_EQ(r.workingMode, c - '0');
            EXPECT_EQ(r.commandInterval, "007");
            EXPECT_FALSE(r.error);
        } else {
            EXPECT_FALSE(r.workingMode) << c;
            EXPECT_FALSE(r.commandInterval) << c;
            const std::string shown = c == 0 ? "\\0"s : std::string(1, ch);
            EXPECT_EQ(r.error, "'" + shown + "' is not a valid integer value") << c;
        }
    }
}

TEST(SystemParameterReplies, ZeroBytesAreCharactersLikeAnyOther) {
    const std::string received = "\0QX1\0ADR:0\0\0\0MD:1\0JTM:\0"s;
    const auto r = config::decodeSystemParameters(received);
    EXPECT_EQ(r.slaveAddress, "0\0\0"s);
    EXPECT_EQ(r.workingMode, 1);
    EXPECT_EQ(r.commandInterval, "\0"s);
    EXPECT_EQ(describe(config::decodeSystemParameters("QX1 BA1:\0"s + "1")),
              "QX1 ! '\\0' is not a valid integer value");
}

class TestValueReplies : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(TestValueReplies, Decode) {
    EXPECT_EQ(describe(config::decodeTestValues(GetParam().received)), GetParam().expected)
        << GetParam().received;
}

INSTANTIATE_TEST_SUITE_P(
    Qx6, TestValueReplies,
    ::testing::Values(ReplyCase{"QX6 LJ:000012345 VA0:020.0 VA3:004.5",
                                "QX6 LJ=000012345 VA0=020.0 VA3=004.5"},
                      ReplyCase{"VA7:001.5,QX6,VA0:002.5#", "QX6 VA0=002.5 VA7=001.5"},
                      ReplyCase{"LJ:000012345 VA0:020.0", "-"},
                      ReplyCase{"QX6 VA1: x y#VA2:-1E-5", "QX6 VA1= x y# VA2=-1E-5"}, // as it stands
                      ReplyCase{"QX6 VA4:12", "QX6 VA4=12"}, ReplyCase{"QX6 LJ:", "QX6 LJ="},
                      ReplyCase{"QX6 VA0:1VA0:2", "QX6 VA0=1VA0:"}));

class AnalogOutputReplies : public ::testing::TestWithParam<std::tuple<std::string, int, std::string>> {
protected:
    void SetUp() override { tools::SetDecimalSeparator('.'); }
};

TEST_P(AnalogOutputReplies, Decode) {
    const auto& [received, current, expected] = GetParam();
    EXPECT_EQ(describe(config::decodeAnalogOutputs(received, current)), expected) << received;
}

const std::string kLastRows = " DA5:1,3F800000,3F800000 DA6:2,40000000,00000000 DA7:3,40400000,00000000"
                              " DA8:9,40800000,00000000";

INSTANTIATE_TEST_SUITE_P(
    Qx2, AnalogOutputReplies,
    ::testing::Values(
        std::tuple{"QX2 DA1:2,41200000,3F800000"s, 0, "QX2 DA1=2/10/1 enabled"s},
        std::tuple{"QX2 DA1:2;41200000;3F800000"s, 0, "QX2 DA1=2/10/1 enabled"s}, // separators unread
        std::tuple{"QX2 DA2:1,47F12000,00000000"s, 0, "QX2 DA2=1/12345/0 enabled"s},
        std::tuple{"QX2 DA3:1,42c80000,3DCCCCCD"s, 0, "QX2 DA3=1/34/0.100 enabled"s},
        std::tuple{"DL:0 DA1:2,41200000,3F800000"s, 0, "-"s},
        std::tuple{"QX2 DL:3 DA1:2,41200000,3F800000" + kLastRows, 0, "QX2 DL=3 DA1=2/10/1 closed"s},
        std::tuple{"QX2 DL:0 DA4:4,41200000,3F800000" + kLastRows, 5,
                   "QX2 DL=0 DA4=4/10/1 enabled DA5=1/1/1 DA6=2/2/0 DA7=3/3/0 DA8=9/4/0"s},
        std::tuple{"QX2" + kLastRows, 0, "QX2 enabled DA5=1/1/1 DA6=2/2/0 DA7=3/3/0 DA8=9/4/0"s},
        std::tuple{"QX2" + kLastRows, 2, "QX2 closed"s},
        std::tuple{"QX2" + kLastRows, config::kNoSelection, "QX2 closed"s},
        std::tuple{"QX2 DL:9" + kLastRows, 0, "QX2 DL=9 closed"s}, // beyond LEJIOUT: no selection
        std::tuple{"QX2 DL:x DA1:2,41200000,3F800000"s, 0, "QX2 ! 'x' is not a valid integer value"s},
        std::tuple{"QX2 DA1:1,42C8"s, 0, "QX2 DA1=1/100/0 enabled"s}, // missing hex digits count as 0
        std::tuple{"QX2 DA1:2,41200000,3F800000 DA2:"s, 0,
                   "QX2 DA1=2/10/1 ! '' is not a valid integer value"s},
        std::tuple{"QX2 DL:0 DA1:1,3F800000,00000000 DA5:1,3F800000,00000000 DA6:?"s, 0,
                   "QX2 DL=0 DA1=1/1/0 enabled DA5=1/1/0 ! '?' is not a valid integer value"s},
        std::tuple{"QX2 DA1:1,7F800000,FFC00000 DA2:0,00800000,C2C80000"s, 0,
                   "QX2 DA1=1/INF/-NAN DA2=0/1.175/-100 enabled"s},
        std::tuple{"QX2\0DA1:1,3F80\0\0\0\0,"s, 0, "QX2 DA1=1/1/0 enabled"s}));

// The set command's value and the reply's row have the same layout, so every row a frame sends reads
// back as the variable and the values that went out.
TEST(AnalogOutputReplies, SetFramesReadBackThroughTheReplyRows) {
    tools::SetDecimalSeparator('.');
    const std::vector<std::pair<std::string, std::string>> values = {
        {"100", "0.00"},      {"20.5", "-10"}, {"0.1", "4"},    {"123456", "1E20"},
        {"-0.001", "3.4E38"}, {"7", "1E-45"},  {"99.99", "-1"}, {"0", "0"}};
    std::string reply = "QX2 DL:0";
    for (int output = 0; output < 8; ++output) {
        const std::string frame =
            config::analogOutputFrame(output, output + 1, values[output].first, values[output].second);
        reply += frame.substr(4, frame.size() - 5); // "DAn:" + value, without "QQS#" and "#"
    }
    const auto r = config::decodeAnalogOutputs(reply, 1);
    ASSERT_EQ(r.lastRowsState, config::LastRows::Enabled);
    ASSERT_FALSE(r.error);
    for (int output = 0; output < 8; ++output) {
        const auto& row = r.row(output);
        ASSERT_TRUE(row) << output;
        EXPECT_EQ(row->variable, output + 1);
        EXPECT_EQ(row->upperText, config::rangeDisplayText(tools::StrToSingle(values[output].first)));
        EXPECT_EQ(row->lowerText, config::rangeDisplayText(tools::StrToSingle(values[output].second)));
    }
    EXPECT_EQ(r.row(2)->upperText, "0.100");
    EXPECT_EQ(r.row(3)->upperText, "12345");
    EXPECT_EQ(r.row(7)->upperText, "0");
}

TEST(TagSearch, ClippedAtTheEndAndNeverPastIt) {
    EXPECT_EQ(config::clippedText("abcdef", 4, 3), "ef");
    EXPECT_EQ(config::clippedText("abcdef", 6, 3), "");
    EXPECT_EQ(config::clippedText("abcdef", 99, 3), "");
    EXPECT_EQ(config::tagText("x LJ:1", "LJ:", 9), "1");
    EXPECT_EQ(config::tagText("x LJ:1", "lj:", 9), std::nullopt);
    EXPECT_EQ(config::findTag("DA1:DA1:", "DA1:"), 4u);
    EXPECT_THROW(config::listDigitAt("5", 1), tools::ConversionError);
    EXPECT_EQ(config::listDigitAt("5", 0), 5);
}

TEST(TagSearch, PatternWildcardsMatchAnyOneCharacterAtTheFirstPlace) {
    EXPECT_EQ(config::findPattern("MDBS 3:MDBSx3:", "MDBS?3:"), 7u);
    EXPECT_EQ(config::findPattern("MDBS3:", "MDBS?3:"), std::nullopt);
    EXPECT_EQ(config::findPattern("ab?", "??"), 2u);
    EXPECT_EQ(config::findPattern("a", "??"), std::nullopt);
    EXPECT_EQ(config::findPattern("abc", ""), std::nullopt);
    EXPECT_EQ(config::findPattern(std::string("HART\0:", 6), "HART?:"), 6u);
}

TEST(TagSearch, DecimalFieldsNeedEveryDigitPresent) {
    EXPECT_EQ(config::decimalAt("x05", 1, 2), 5);
    EXPECT_EQ(config::decimalAt("99", 0, 2), 99);
    const std::pair<const char*, const char*> bad[] = {
        {"x0", "'0' is not a valid integer value"},   {"x 5", "' 5' is not a valid integer value"},
        {"x+5", "'+5' is not a valid integer value"}, {"x$F", "'$F' is not a valid integer value"},
        {"x", "'' is not a valid integer value"},
    };
    for (const auto& [text, message] : bad) {
        try {
            config::decimalAt(text, 1, 2);
            ADD_FAILURE() << text;
        } catch (const tools::ConversionError& error) {
            EXPECT_STREQ(error.what(), message);
        }
    }
}

} // namespace
