// The converter's HART polling commands: the HART parameters frame, the read meter command frames with
// their raw bytes, the refusals, and the decoder of the QX3 reply with its three independent blocks.
#include "config/CustomHart.h"

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

class CustomHartFrames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(CustomHartFrames, BuildsExactBytes) {
    EXPECT_EQ(GetParam().build(), GetParam().expected) << GetParam().what;
}

std::string meterCommand(int command, int enable, std::string_view hex) {
    const config::ReadMeterCommandFrame built = config::readMeterCommandFrame(command, enable, hex);
    return built.ok() ? built.frame : "failure " + built.failure;
}

INSTANTIATE_TEST_SUITE_P(
    AllCommands, CustomHartFrames,
    ::testing::Values(
        FrameCase{"defaults, clear time 5", [] { return config::hartPollingFrame(0, 0, 1, 0, 0, "5"); },
                  "QQS#HART0:0,1,00,4,005#"},
        FrameCase{"open, secondary, currency, 9, 120",
                  [] { return config::hartPollingFrame(0, 1, 0, 1, 5, "120"); }, "QQS#HART0:1,0,01,9,120#"},
        FrameCase{"clear time 0 and 999", [] { return config::hartPollingFrame(0, 0, 0, 0, 2, "0"); },
                  "QQS#HART0:0,0,00,6,000#"},
        FrameCase{"clear time 999", [] { return config::hartPollingFrame(0, 1, 1, 1, 3, "999"); },
                  "QQS#HART0:1,1,01,7,999#"},
        FrameCase{"command 1, 76 89 FD AD", [] { return meterCommand(1, 1, "76 89 FD AD"); },
                  "QQS#CAMD01:1<04,\x76\x89\xFD\xAD"s},
        FrameCase{"command 2, one zero byte", [] { return meterCommand(2, 0, "00"); }, "QQS#CAMD02:0<01,\0"s},
        FrameCase{"fifteen pairs send fourteen",
                  [] { return meterCommand(1, 0, "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"); },
                  "QQS#CAMD01:0<14,\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E"s},
        FrameCase{"a fifteenth pair is not checked",
                  [] { return meterCommand(2, 1, "FF FF FF FF FF FF FF FF FF FF FF FF FF FF ZZ"); },
                  "QQS#CAMD02:1<14,"s + std::string(14, '\xFF')},
        FrameCase{"query", [] { return config::customHartQueryFrame(); }, "QQQ#QX3#"}));

TEST(CustomHartFrames, ReadMeterCommandIsSixteenAsciiBytesThenTheRawOnes) {
    const std::string frame = meterCommand(1, 1, "76 89 FD AD");
    ASSERT_EQ(frame.size(), 20u);
    EXPECT_EQ(frame.back(), '\xAD') << "no closing #";
    std::string counted;
    for (int n = 1; n <= 14; ++n) {
        counted += (n > 1 ? " " : "") + std::string("5A");
        const std::string built = meterCommand(2, 0, counted);
        EXPECT_EQ(built.size(), 16u + static_cast<std::size_t>(n));
        const std::string digits{char('0' + n / 10), char('0' + n % 10)};
        EXPECT_EQ(built.substr(13, 2), digits);
    }
}

class CustomHartFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(CustomHartFailures, NameTheFirstBadField) {
    const FailureCase& c = GetParam();
    EXPECT_EQ(c.refused ? failureOf<tools::InputRefused>(c.build)
                        : failureOf<tools::ConversionError>(c.build),
              c.message)
        << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    AllFields, CustomHartFailures,
    ::testing::Values(
        FailureCase{"empty clear time", [] { return config::hartPollingFrame(0, 0, 1, 0, 0, ""); }, false,
                    "'' is not a valid integer value"},
        FailureCase{"clear time 1000", [] { return config::hartPollingFrame(0, 0, 1, 0, 0, "1000"); }, true,
                    "Buffer Clear Time must be between 0 and 999"},
        FailureCase{"clear time -1", [] { return config::hartPollingFrame(0, 0, 1, 0, 0, "-1"); }, true,
                    "Buffer Clear Time must be between 0 and 999"},
        FailureCase{"meter id typed over", [] { return config::hartPollingFrame(-1, -1, -1, -1, -1, "x"); },
                    true, "No item is selected in Meter ID"},
        FailureCase{"enabled", [] { return config::hartPollingFrame(0, -1, 1, 0, 0, "x"); }, true,
                    "No item is selected in Enabled"},
        FailureCase{"hart mode", [] { return config::hartPollingFrame(0, 0, 2, 0, 0, "x"); }, true,
                    "HART Mode has no item 2 (items 0 to 1)"},
        FailureCase{"meter type left empty by a reply",
                    [] { return config::hartPollingFrame(0, 0, 1, -1, 0, "x"); }, true,
                    "No item is selected in Meter Type"},
        FailureCase{"preamble left empty by a reply",
                    [] { return config::hartPollingFrame(0, 0, 1, 0, -1, "x"); }, true,
                    "No item is selected in Preamble Length"},
        FailureCase{"lists before the time", [] { return config::hartPollingFrame(0, 0, 1, 0, 6, "x"); },
                    true, "Preamble Length has no item 6 (items 0 to 5)"},
        FailureCase{"enable list after good hex", [] { return meterCommand(1, -1, "76"); }, true,
                    "No item is selected in Read Meter Command 1"},
        FailureCase{"enable list of command 2", [] { return meterCommand(2, 2, "76"); }, true,
                    "Read Meter Command 2 has no item 2 (items 0 to 1)"}));

TEST(CustomHartFrames, HexTextFailuresComeBackBeforeTheEnableListIsRead) {
    struct Case {
        const char* text;
        std::string_view failure;
    };
    const Case cases[] = {
        {"", "NO SPACK"},          {"7", "NO SPACK"},      {"76-89", "NO SPACK"},
        {"76  89", "Data eeore!"}, {"7G", "Data eeore!"},  {"76 89 fd", "Data eeore!"},
        {"76,89", "NO SPACK"},     {" 76 89", "NO SPACK"}, // separators are checked before digits
    };
    for (const Case& c : cases) {
        for (int enable : {0, -1}) {
            const auto built = config::readMeterCommandFrame(1, enable, c.text);
            EXPECT_EQ(built.failure, c.failure) << "'" << c.text << "'";
            EXPECT_EQ(built.frame, "") << c.text;
        }
    }
}

// --- The QX3 reply ---

// Text fields in brackets, so an empty one still shows.
std::optional<std::string> bracketed(const std::optional<std::string>& text) {
    return text ? std::optional<std::string>("[" + *text + "]") : std::nullopt;
}

std::string describe(const config::CustomHartReply& r) {
    std::string out = r.markerFound ? "QX3" : "-";
    appendField(out, "en", r.enable);
    appendField(out, "mode", r.mode);
    appendField(out, "type", r.meterType);
    appendField(out, "pre", r.preambleIndex);
    appendField(out, "time", bracketed(r.clearTime));
    for (std::size_t i = 0; i < r.commands.size(); ++i) {
        const std::string prefix = "c" + std::to_string(i + 1);
        appendField(out, prefix + "en", r.commands[i].enable);
        appendField(out, prefix, bracketed(r.commands[i].command));
    }
    out += r.error ? " ! " + *r.error : "";
    return out;
}

class CustomHartReplies : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(CustomHartReplies, Decode) {
    EXPECT_EQ(describe(config::decodeCustomHart(GetParam().received)), GetParam().expected)
        << GetParam().received;
}

INSTANTIATE_TEST_SUITE_P(
    Qx3, CustomHartReplies,
    ::testing::Values(
        ReplyCase{"QQQ#QX3#HART0:1,0,01,6,010#", "QX3 en1 mode0 type1 pre2 time[010]"},
        ReplyCase{"QX3 CAMD01:1<04,76 89 FD AD", "QX3 c1en1 c1[76 89 FD AD]"},
        ReplyCase{"QX3 CAMD01:0<00,76 89 FD AD", "QX3 c1en0 c1[]"},
        ReplyCase{"QX3 CAMD02:1<02,0A 0B 0C", "QX3 c2en1 c2[0A 0B]"},
        // All three blocks, in any order, each found by its own search from the start.
        ReplyCase{"CAMD02:0<01,FF;CAMD01:1<02,01 03;HART0:0,1,00,9,999;QX3",
                  "QX3 en0 mode1 type0 pre5 time[999] c1en1 c1[01 03] c2en0 c2[FF]"},
        ReplyCase{"HART0:1,0,01,6,010# CAMD01:1<04,76 89 FD AD", "-"}, // no marker: nothing
        // Numbers that are no index of their list: the window leaves them unselected.
        ReplyCase{"QX3 HART0:1,1,05,3,007", "QX3 en1 mode1 type5 pre-1 time[007]"},
        ReplyCase{"QX3 HART0:9,9,99,9,abc", "QX3 en9 mode9 type99 pre5 time[abc]"},
        // The character between the tag and the colon is not examined; the set command's "HART:" is
        // one character short.
        ReplyCase{"QX3 HART:1,0,01,6,010 HARTx:0,1,00,4,001", "QX3 en0 mode1 type0 pre0 time[001]"},
        ReplyCase{"QX3 CAMD1:1<01,AA CAMDx2:0<01,BB", "QX3 c2en0 c2[BB]"},
        // A non-digit stops decoding after the fields before it; the later blocks are not read.
        ReplyCase{"QX3 HART0:1,x,01,6,010 CAMD01:1<01,AA", "QX3 en1 ! 'x' is not a valid integer value"},
        ReplyCase{"QX3 HART0:1,0, 1,6,010", "QX3 en1 mode0 ! ' 1' is not a valid integer value"},
        ReplyCase{"QX3 HART0:1,0,+1,6,010", "QX3 en1 mode0 ! '+1' is not a valid integer value"},
        ReplyCase{"QX3 HART0:1,0,01,-,010", "QX3 en1 mode0 type1 ! '-' is not a valid integer value"},
        ReplyCase{"QX3 CAMD01:1<0x,AA CAMD02:1<01,BB", "QX3 c1en1 ! '0x' is not a valid integer value"},
        ReplyCase{"QX3 CAMD01:1<01,AA CAMD02:?<01,BB", "QX3 c1en1 c1[AA] ! '?' is not a valid integer value"},
        // Cut short: text fields keep what is there, numbers missing characters are no numbers.
        ReplyCase{"QX3 HART0:1,0,01,6,01", "QX3 en1 mode0 type1 pre2 time[01]"},
        ReplyCase{"QX3 HART0:1,0,01,6,", "QX3 en1 mode0 type1 pre2 time[]"},
        ReplyCase{"QX3 HART0:1,0,0", "QX3 en1 mode0 ! '0' is not a valid integer value"},
        ReplyCase{"QX3 CAMD01:1<14,76 89", "QX3 c1en1 c1[76 89]"},
        ReplyCase{"QX3 CAMD01:1<99,", "QX3 c1en1 c1[]"},
        ReplyCase{"QX3 CAMD01:1<1", "QX3 c1en1 ! '1' is not a valid integer value"},
        ReplyCase{"QX3 HART0:\0,0,01,6,010"s, "QX3 ! '\\0' is not a valid integer value"}));

TEST(CustomHartReplies, ACutReplyIsNeverReadPastItsEnd) {
    const std::string full = "QX3,HART0:1,1,01,7,123,CAMD01:1<03,01 02 03,CAMD02:0<02,AB CD#";
    for (std::size_t cut = 0; cut <= full.size(); ++cut) {
        // A heap block of exactly the cut length, so a read past it is an out-of-bounds read.
        const std::vector<char> block(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
        const config::CustomHartReply r = config::decodeCustomHart({block.data(), block.size()});
        for (const auto& command : r.commands) {
            if (command.command) {
                EXPECT_LE(command.command->size(), 8u) << cut;
            }
        }
    }
    EXPECT_EQ(describe(config::decodeCustomHart(full)),
              "QX3 en1 mode1 type1 pre3 time[123] c1en1 c1[01 02 03] c2en0 c2[AB CD]");
}

} // namespace
