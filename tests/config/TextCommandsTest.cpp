// Frames of the converter's text command set: exact bytes, every list index, range boundaries and
// which failure is reported first; float hex in both directions.
#include "config/TextCommands.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tests/config/CaseTables.h"
#include "tools/Conversions.h"

namespace {

using config::Rs485Port;
using configtest::FailureCase;
using configtest::failureOf;
using configtest::FrameCase;

class DotSeparator : public ::testing::Test {
protected:
    void SetUp() override { tools::SetDecimalSeparator('.'); }
    void TearDown() override { tools::SetDecimalSeparator('.'); }
};

class Frames : public DotSeparator, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(Frames, BuildsExactBytes) {
    EXPECT_EQ(GetParam().build(), GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    AllCommands, Frames,
    ::testing::Values(
        FrameCase{"communication query", [] { return config::communicationQueryFrame(); }, "QQQ#QV#"},
        FrameCase{"system parameters", [] { return config::systemParameterQueryFrame(); }, "QQQ#QX1#"},
        FrameCase{"analog outputs", [] { return config::analogOutputQueryFrame(); }, "QQQ#QX2#"},
        FrameCase{"test values", [] { return config::testValueQueryFrame(); }, "QQQ#QX6#"},
        FrameCase{"default mode", [] { return config::workingModeFrame(0); }, "QQS#MD:0#"},
        FrameCase{"empty fourth mode", [] { return config::workingModeFrame(3); }, "QQS#MD:3#"},
        FrameCase{"address 5", [] { return config::slaveAddressFrame("5"); }, "QQS#ADR:005#"},
        FrameCase{"address 247", [] { return config::slaveAddressFrame("247"); }, "QQS#ADR:247#"},
        FrameCase{"address $3E7", [] { return config::slaveAddressFrame("$3E7"); }, "QQS#ADR:999#"},
        FrameCase{"interval 12", [] { return config::commandIntervalFrame("12"); }, "QQS#JTM:012#"},
        FrameCase{"RS485 defaults", [] { return config::rs485Frame(Rs485Port::Rs485, 3, 0); }, "QQS#BA1:30#"},
        FrameCase{"38400 even", [] { return config::rs485Frame(Rs485Port::Rs485, 5, 2); }, "QQS#BA1:52#"},
        FrameCase{"RS485B", [] { return config::rs485Frame(Rs485Port::Rs485B, 4, 1); }, "QQS#BA2:41#"},
        FrameCase{"reset", [] { return config::parameterInitializationFrame(); }, "QQS#RESET#"},
        FrameCase{"factory defaults", [] { return config::factoryRecordFrame("00000000", "001"); },
                  "TAVRIK#PCBSN:00000000,001#"},
        FrameCase{"factory 123", [] { return config::factoryRecordFrame("123", "102"); },
                  "TAVRIK#PCBSN:00000123,102#"},
        FrameCase{"inspector 7", [] { return config::factoryRecordFrame("99999999", "7"); },
                  "TAVRIK#PCBSN:99999999,007#"},
        FrameCase{"DA1 start values", [] { return config::analogOutputFrame(0, 1, "100", "0.00"); },
                  "QQS#DA1:1,42C80000,00000000#"},
        FrameCase{"DA5 start values", [] { return config::analogOutputFrame(4, 0, "100", "0.00"); },
                  "QQS#DA5:0,42C80000,00000000#"},
        FrameCase{"DA2 20.5 and -10", [] { return config::analogOutputFrame(1, 2, "20.5", "-10"); },
                  "QQS#DA2:2,41A40000,C1200000#"},
        FrameCase{"0.1", [] { return config::analogOutputFrame(7, 9, "0.1", "1E-50"); },
                  "QQS#DA8:9,3DCCCCCD,00000000#"},
        FrameCase{"totalizer output", [] { return config::totalizerOutputFrame(0); }, "QQS#DL:0#"},
        FrameCase{"LEIO 0", [] { return config::totalizerTestFrame("000000000"); }, "QQQ#LEIO:000000000#"},
        FrameCase{"LEIO 123", [] { return config::totalizerTestFrame("123"); }, "QQQ#LEIO:000000123#"},
        FrameCase{"LEIO -5", [] { return config::totalizerTestFrame("-5"); }, "QQQ#LEIO:-000000005#"},
        FrameCase{"LEIO 10 digits", [] { return config::totalizerTestFrame("1234567890"); },
                  "QQQ#LEIO:1234567890#"},
        FrameCase{"LEIO 007", [] { return config::totalizerTestFrame("007"); }, "QQQ#LEIO:000000007#"},
        FrameCase{"AV0O", [] { return config::outputTestFrame(0, "100.0"); }, "QQQ#AV0O:100.0#"},
        FrameCase{"AV7O", [] { return config::outputTestFrame(7, "100.0"); }, "QQQ#AV7O:100.0#"},
        FrameCase{"AV3O 12.34", [] { return config::outputTestFrame(3, "12.34"); }, "QQQ#AV3O:12.34#"},
        FrameCase{"AV3O empty", [] { return config::outputTestFrame(3, ""); }, "QQQ#AV3O:#"},
        FrameCase{"AV3O abc", [] { return config::outputTestFrame(3, "abc"); }, "QQQ#AV3O:abc#"}));

class Failures : public DotSeparator, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Failures, ReportTheFirstBadFieldWithItsKind) {
    const FailureCase& c = GetParam();
    const std::string seen =
        c.refused ? failureOf<tools::InputRefused>(c.build) : failureOf<tools::ConversionError>(c.build);
    EXPECT_EQ(seen, c.message) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    AllFields, Failures,
    ::testing::Values(
        FailureCase{"empty address", [] { return config::slaveAddressFrame(""); }, false,
                    "'' is not a valid integer value"},
        FailureCase{"address -1", [] { return config::slaveAddressFrame("-1"); }, true,
                    "MODBUS Slave Address must be between 0 and 999"},
        FailureCase{"address 1000", [] { return config::slaveAddressFrame("1000"); }, true,
                    "MODBUS Slave Address must be between 0 and 999"},
        FailureCase{"interval 1000", [] { return config::commandIntervalFrame("1000"); }, true,
                    "Modbus Command Interval must be between 0 and 999"},
        FailureCase{"interval -1", [] { return config::commandIntervalFrame("-1"); }, true,
                    "Modbus Command Interval must be between 0 and 999"},
        FailureCase{"interval 1.5", [] { return config::commandIntervalFrame("1.5"); }, false,
                    "'1.5' is not a valid integer value"},
        FailureCase{"serial 9 digits", [] { return config::factoryRecordFrame("100000000", "abc"); }, true,
                    "PCBSN must be between 0 and 99999999"},
        FailureCase{"serial -1", [] { return config::factoryRecordFrame("-1", "1"); }, true,
                    "PCBSN must be between 0 and 99999999"},
        FailureCase{"serial text", [] { return config::factoryRecordFrame("abc", "5000"); }, false,
                    "'abc' is not a valid integer value"},
        FailureCase{"inspector 1000", [] { return config::factoryRecordFrame("1", "1000"); }, true,
                    "Inspector must be between 0 and 999"},
        FailureCase{"inspector -1", [] { return config::factoryRecordFrame("1", "-1"); }, true,
                    "Inspector must be between 0 and 999"},
        FailureCase{"inspector text", [] { return config::factoryRecordFrame("1", "x"); }, false,
                    "'x' is not a valid integer value"},
        FailureCase{"RS485 baud before parity", [] { return config::rs485Frame(Rs485Port::Rs485, -1, -1); },
                    true, "No item is selected in RS485 Baud"},
        FailureCase{"RS485B parity", [] { return config::rs485Frame(Rs485Port::Rs485B, 0, -1); }, true,
                    "No item is selected in RS485B Parity"},
        FailureCase{"row list before range texts", [] { return config::analogOutputFrame(2, -1, "x", "y"); },
                    true, "No item is selected in DOUTA2"},
        FailureCase{"DOUT3 has no tenth item", [] { return config::analogOutputFrame(2, 9, "1", "1"); }, true,
                    "DOUTA2 has no item 9 (items 0 to 8)"},
        FailureCase{"20 mA read first", [] { return config::analogOutputFrame(0, 1, "abc", "xyz"); }, false,
                    "'abc' is not a valid floating point value"},
        FailureCase{"4 mA text", [] { return config::analogOutputFrame(0, 1, "1", "xyz"); }, false,
                    "'xyz' is not a valid floating point value"},
        FailureCase{"20 mA overflow", [] { return config::analogOutputFrame(0, 1, "1E39", "0"); }, false,
                    "Floating point overflow"},
        FailureCase{"4 mA overflow", [] { return config::analogOutputFrame(0, 1, "0", "-1E39"); }, false,
                    "Floating point overflow"},
        FailureCase{"20 mA beyond a double", [] { return config::analogOutputFrame(0, 1, "1E400", "0"); }, false,
                    "Floating point overflow"},
        FailureCase{"4 mA beyond a double", [] { return config::analogOutputFrame(0, 1, "0", "-1e400"); }, false,
                    "Floating point overflow"},
        FailureCase{"LEIO abc", [] { return config::totalizerTestFrame("abc"); }, false,
                    "'abc' is not a valid integer value"}));

TEST_F(DotSeparator, ThreeDigitFieldsCoverTheirWholeRange) {
    for (int n = 0; n <= 999; ++n) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%03d", n);
        ASSERT_EQ(config::slaveAddressFrame(std::to_string(n)), std::string("QQS#ADR:") + digits + "#");
        ASSERT_EQ(config::commandIntervalFrame(std::to_string(n)), std::string("QQS#JTM:") + digits + "#");
    }
}

// Every index a list can report, plus the ones it cannot: -1 and anything past the last item refused.
TEST(ListFrames, EveryIndexOfEveryList) {
    struct List {
        std::function<std::string(int)> build;
        int items;
        std::string prefix;
    };
    std::vector<List> lists = {
        {[](int i) { return config::workingModeFrame(i); }, 4, "QQS#MD:"},
        {[](int i) { return config::totalizerOutputFrame(i); }, 9, "QQS#DL:"},
        {[](int i) { return config::rs485Frame(Rs485Port::Rs485, i, 0); }, 6, "QQS#BA1:"},
        {[](int i) { return config::rs485Frame(Rs485Port::Rs485B, 0, i).erase(8, 1); }, 3, "QQS#BA2:"},
    };
    for (int output = 0; output < config::kAnalogOutputs; ++output) {
        lists.push_back({[output](int i) { return config::analogOutputFrame(output, i, "0", "0"); },
                         output == 2 ? 9 : 10, "QQS#DA" + std::to_string(output + 1) + ":"});
    }
    for (const List& list : lists) {
        for (int index = -1; index <= list.items + 1; ++index) {
            if (index < 0 || index >= list.items) {
                EXPECT_THROW(list.build(index), tools::InputRefused) << list.prefix << " index " << index;
            } else {
                const std::string frame = list.build(index);
                EXPECT_EQ(frame.substr(0, list.prefix.size() + 1),
                          list.prefix + static_cast<char>('0' + index));
            }
        }
    }
}

TEST(OutputArguments, OutsideTheEightOutputsIsAProgrammingError) {
    for (int output : {-1, 8}) {
        EXPECT_THROW(config::outputTestFrame(output, "1"), std::out_of_range);
        EXPECT_THROW(config::analogOutputFrame(output, 0, "1", "1"), std::out_of_range);
    }
}

TEST(OffsetListDigit, ItemsFourToNine) {
    const config::ListField addressBit{"Address Bit", 6};
    for (int index = 0; index < 6; ++index) {
        EXPECT_EQ(config::offsetListDigit(index, addressBit), static_cast<char>('4' + index));
    }
    EXPECT_THROW(config::offsetListDigit(-1, addressBit), tools::InputRefused);
    EXPECT_THROW(config::offsetListDigit(6, addressBit), tools::InputRefused);
}

TEST(FloatHex, PatternIsUpperCaseMostSignificantFirstAndReadsBack) {
    // A stride through the whole 32-bit pattern space (odd, so every nibble position varies).
    for (uint64_t p = 0; p <= UINT32_MAX; p += 40503) {
        const auto pattern = static_cast<uint32_t>(p);
        char expected[9];
        std::snprintf(expected, sizeof expected, "%08X", pattern);
        const std::string hex = config::floatHex(std::bit_cast<float>(pattern));
        ASSERT_EQ(hex, expected);
        ASSERT_EQ(std::bit_cast<uint32_t>(config::floatFromHex(hex)), pattern) << hex;
    }
}

TEST(FloatHex, LenientReading) {
    EXPECT_EQ(config::floatFromHex("42c80000"), 34.0f); // lower case counts as 0
    EXPECT_EQ(config::floatFromHex("42C8"), 100.0f);    // missing low digits count as 0
    EXPECT_EQ(config::floatFromHex(""), 0.0f);
    EXPECT_EQ(config::floatFromHex("42C80000FF"), 100.0f); // beyond eight digits ignored
    EXPECT_EQ(config::floatFromHex("4?C80000"), config::floatFromHex("40C80000"));
}

// With a comma locale the range texts read the comma and, as the start texts are written, the point.
TEST_F(DotSeparator, RangeTextsReadTheLocaleSeparatorAndThePoint) {
    tools::SetDecimalSeparator(',');
    EXPECT_EQ(config::analogOutputFrame(0, 1, "0,1", "-10"), "QQS#DA1:1,3DCCCCCD,C1200000#");
    EXPECT_EQ(config::analogOutputFrame(0, 1, "0.1", "0.00"), "QQS#DA1:1,3DCCCCCD,00000000#");
    EXPECT_THROW(config::analogOutputFrame(0, 1, "1.000,5", "0"), tools::ConversionError);
}

} // namespace
