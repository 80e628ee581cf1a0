// The mapping arithmetic against the simulated converter and instrument (written separately, so each
// side checks the other): the fields of the universal commands' replies, the value a parse-format
// row yields in each word order and length, the tolerance, the reading of reply frames, and the
// verdicts of a check.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>

#include "profile/Mapping.h"
#include "profile/Samples.h"
#include "tools/ModbusCrc.h"
#include "sim/Converter.h"

namespace {

using namespace profile;
using tools::WordOrder;

std::span<const uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// The simulated instrument's reply to `body` (delimiter to data) at `seconds`, taken apart.
HartReply instrumentReply(sim::Instrument& instrument, const std::string& body, double seconds) {
    const std::optional<std::string> reply = instrument.handle(sim::WithPreamblesAndCheck(body, 5), seconds);
    EXPECT_TRUE(reply.has_value());
    return ReadHartReply(bytesOf(reply.value_or("")));
}

std::string longBody(uint8_t command) {
    // The instrument's unique address as the converter's factory read meter commands carry it.
    return std::string("\x82\xA6\x0C\x0A\x1B\x2C", 6) + static_cast<char>(command) + std::string(1, '\0');
}

const ReplyField* fieldNamed(const std::vector<ReplyField>& fields, std::string_view name) {
    for (const ReplyField& f : fields) {
        if (f.name == name) {
            return &f;
        }
    }
    return nullptr;
}

TEST(ReplyFields, TheUniversalCommandsNameTheirFieldsAtTheOffsetsTheParseAddressesCount) {
    sim::Instrument instrument;
    constexpr double kSeconds = 37.5;
    const auto vars = instrument.variables(kSeconds);
    const float current = instrument.loopCurrent(kSeconds);
    struct Case {
        uint8_t command;
        const char* name;
        int offset;
        float value;
        const char* unit;
    } cases[] = {
        {1, "PV", 3, vars[0].value, "KPa"},
        {2, "loop current", 2, current, "mA"},
        {2, "percent of range", 6, vars[3].value, "%"},
        {3, "loop current", 2, current, "mA"},
        {3, "PV", 7, vars[0].value, "KPa"},
        {3, "SV", 12, vars[1].value, "\xE2\x84\x83"},
        {3, "TV", 17, vars[2].value, "CuMtr_hr"},
        {3, "QV", 22, vars[3].value, "%"},
    };
    for (const Case& c : cases) {
        const HartReply reply = instrumentReply(instrument, longBody(c.command), kSeconds);
        ASSERT_TRUE(reply.succeeded()) << reply.problem;
        EXPECT_EQ(reply.command, c.command);
        const std::vector<ReplyField> fields = ListFields(c.command, reply.data);
        const ReplyField* field = fieldNamed(fields, c.name);
        ASSERT_NE(field, nullptr) << "command " << int(c.command) << " " << c.name;
        EXPECT_EQ(field->offset, c.offset) << c.name;
        EXPECT_EQ(field->length, 4) << c.name;
        EXPECT_TRUE(field->pickable) << c.name;
        EXPECT_EQ(field->number, c.value) << "command " << int(c.command) << " " << c.name;
        EXPECT_EQ(field->unit, c.unit) << "command " << int(c.command) << " " << c.name;
        // The converter's parse row at that offset yields the same value.
        ParseRow row;
        row.address = c.offset;
        EXPECT_EQ(ValueOfRow(row, reply.data).value, c.value) << c.name;
    }
    // Only the float fields can be picked; a unit code and the status bytes cannot.
    const HartReply reply = instrumentReply(instrument, longBody(3), kSeconds);
    for (const ReplyField& field : ListFields(3, reply.data)) {
        EXPECT_EQ(field.pickable, field.length == 4) << field.name;
    }
    // A short command 3 reply (PV only) lists only what it holds.
    std::vector<uint8_t> shortData(reply.data.begin(), reply.data.begin() + 11);
    EXPECT_EQ(ListFields(3, shortData).back().name, "PV");
}

TEST(ReplyFields, ACommandWithoutNamesListsTheFloatAtEveryOffsetInBothWordOrders) {
    // Response code, status, then 1.5 most significant word first and 3 bytes more.
    const std::vector<uint8_t> data = {0x00, 0x00, 0x3F, 0xC0, 0x00, 0x00, 0x41, 0x20, 0x00};
    const std::vector<ReplyField> fields = ListFields(130, data);
    ASSERT_EQ(fields.size(), 2u + 4u); // offsets 2..5 hold four bytes
    EXPECT_EQ(fields[0].value, "0 (success)");
    EXPECT_EQ(fields[2].offset, 2);
    EXPECT_EQ(fields[2].value, "ABCD 1.5, CDAB " + ValueText(std::bit_cast<float>(0x00003FC0u)));
    EXPECT_EQ(fields[5].offset, 5);
    EXPECT_EQ(fields[5].value, "ABCD " + ValueText(std::bit_cast<float>(0x00412000u)) + ", CDAB " +
                                   ValueText(std::bit_cast<float>(0x20000041u)));
}

// Every order, length, offset and coefficient against the simulated converter's registers.
TEST(RowValues, EachRowYieldsWhatTheConverterPublishesInItsWordOrderAndLength) {
    struct Case {
        const char* setting; // the set command's value for variable 1 or 5
        int variable;
        WordOrder order;
        int address;
        int length;
        const char* coefficient;
    } cases[] = {
        {"0,07,0,1.000", 1, WordOrder::HighWordFirst, 7, 4, "1.000"},
        {"1,07,0,1.000", 1, WordOrder::LowWordFirst, 7, 4, "1.000"},
        {"0,07,0,0.500", 1, WordOrder::HighWordFirst, 7, 4, "0.500"},
        {"1,12,0,+2.00", 1, WordOrder::LowWordFirst, 12, 4, "+2.00"},
        {"0,07,1,1.000", 1, WordOrder::HighWordFirst, 7, 8, "1.000"},
        {"1,02,1,10.00", 1, WordOrder::LowWordFirst, 2, 8, "10.00"},
        {"0,18,0,1.000", 1, WordOrder::HighWordFirst, 18, 4, "1.000"},
        {"0,22,0,-1.00", 1, WordOrder::HighWordFirst, 22, 4, "-1.00"},
        {"1,06,0,1.000", 5, WordOrder::LowWordFirst, 6, 4, "1.000"},
        {"0,02,1,1.000", 5, WordOrder::HighWordFirst, 2, 8, "1.000"},
    };
    constexpr double kSeconds = 12.25;
    for (const Case& c : cases) {
        sim::Converter converter;
        ASSERT_EQ(converter.handleText("QQS#CAMD02:1<08," + longBody(2)), "QQS#CAMD02:OK#");
        const std::string set = "QQS#MDBS" + std::to_string(c.variable) + ":" + c.setting + "#";
        ASSERT_EQ(converter.handleText(set), "QQS#MDBS" + std::to_string(c.variable) + ":OK#") << set;
        const auto registers = converter.holdingRegisters(kSeconds);
        const HartReply reply = instrumentReply(converter.instrument(), longBody(c.variable <= 4 ? 3 : 2), kSeconds);

        const ParseRow row{c.order, c.address, c.length, c.coefficient};
        const RowValue value = ValueOfRow(row, reply.data);
        ASSERT_TRUE(value.value) << c.setting << ": " << value.problem;
        const std::optional<float> published =
            VariableOfRegisters(registers, kFirstRegister, c.variable, c.order);
        ASSERT_TRUE(published);
        EXPECT_EQ(std::bit_cast<uint32_t>(*published), std::bit_cast<uint32_t>(*value.value)) << c.setting;
        // The other word order reads a different number from the same registers.
        const WordOrder other = c.order == WordOrder::HighWordFirst ? WordOrder::LowWordFirst : WordOrder::HighWordFirst;
        EXPECT_NE(std::bit_cast<uint32_t>(*VariableOfRegisters(registers, kFirstRegister, c.variable, other)),
                  std::bit_cast<uint32_t>(*value.value))
            << c.setting;
    }
}

TEST(RowValues, ARowBeyondItsReplyOrWithACoefficientThatIsNoNumberYieldsNothingAndSaysWhy) {
    const std::vector<uint8_t> data(26, 0x41);
    struct Case {
        ParseRow row;
        const char* problem;
    } cases[] = {
        {{WordOrder::HighWordFirst, 22, 4, "1.000"}, ""},
        {{WordOrder::HighWordFirst, 23, 4, "1.000"}, "data 23-26 lies beyond the 26 bytes of the reply"},
        {{WordOrder::HighWordFirst, 19, 8, "1.000"}, "data 19-26 lies beyond the 26 bytes of the reply"},
        {{WordOrder::HighWordFirst, 2, 4, "1,000"}, "the coefficient '1,000' is not a number"},
        {{WordOrder::HighWordFirst, 2, 4, "+-1.0"}, "the coefficient '+-1.0' is not a number"},
    };
    for (const Case& c : cases) {
        const RowValue value = ValueOfRow(c.row, data);
        EXPECT_EQ(value.problem, c.problem);
        EXPECT_EQ(value.value.has_value(), std::string_view(c.problem).empty()) << c.problem;
    }
    // Registers read from 40003 hold variable 1 at their start and nothing of 40001's.
    const std::vector<uint16_t> registers = {0x42CA, 0x999A};
    EXPECT_EQ(VariableOfRegisters(registers, kFirstVariableRegister, 1, WordOrder::HighWordFirst), 101.3F);
    EXPECT_FALSE(VariableOfRegisters(registers, kFirstVariableRegister, 2, WordOrder::HighWordFirst));
}

TEST(Tolerance, AValueIsTheSameWithinItsPercentageWidenedByHowFarTheInstrumentMoved) {
    struct Case {
        double before, after, modbus, percent;
        bool same;
    } cases[] = {
        {100, 100, 100, 0.5, true},
        {100, 100, 100.5, 0.5, true},
        {100, 100, 100.51, 0.5, false},
        {100, 100, 99.49, 0.5, false},
        {-100, -100, -100.5, 0.5, true},
        {100, 100, -100, 0.5, false},
        {100, 104, 102, 0.0, true},     // between the two reads
        {100, 104, 104.52, 0.5, true},  // beyond the later one by its 0.5 %
        {100, 104, 104.53, 0.5, false},
        {104, 100, 99.4, 0.5, false},  // beyond the earlier one by more than 0.5 % of 104
        {104, 100, 99.48, 0.5, true},
        {0, 0, 0, 0.5, true},
        {0, 0, 1e-30, 0.5, false},
        {100, 100, 102, 2.0, true},
        {NAN, NAN, NAN, 0.5, true},
        {100, 100, NAN, 0.5, false},
        {NAN, NAN, 100, 0.5, false},
        {INFINITY, INFINITY, INFINITY, 0.5, true},
        {INFINITY, INFINITY, -INFINITY, 0.5, false},
        {1e30, 1e30, INFINITY, 0.5, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompareWithTolerance(c.before, c.after, c.modbus, c.percent).same, c.same)
            << c.before << " " << c.after << " " << c.modbus << " " << c.percent;
    }
    const Comparison moved = CompareWithTolerance(100, 104, 105, 0.5);
    EXPECT_DOUBLE_EQ(moved.moved, 4);
    EXPECT_DOUBLE_EQ(moved.allowed, 0.52);
    EXPECT_DOUBLE_EQ(moved.difference, 1);
}

TEST(ReplyFrames, AReplyIsReadOnlyWhenItIsWholeWithItsCheckByteRight) {
    const std::string shortReply = sim::WithPreamblesAndCheck(std::string("\x06\x85\x01\x07\x00\x00\x0C\x42\xCA\x99\x9A", 11), 5);
    const std::string longReply =
        sim::WithPreamblesAndCheck(std::string("\x86\xA6\x0C\x0A\x1B\x2C\x02\x02\x00\x00", 10), 3);
    // Delimiter 0xA6: a long frame with one expansion byte before the command.
    const std::string expanded =
        sim::WithPreamblesAndCheck(std::string("\xA6\xA6\x0C\x0A\x1B\x2C\x55\x03\x02\x00\x00", 11), 5);
    struct Case {
        const char* what;
        std::string bytes;
        const char* problem;
        uint8_t command;
        std::size_t dataSize;
    } cases[] = {
        {"short address", shortReply, "", 1, 7},
        {"long address", longReply, "", 2, 2},
        {"expansion byte", expanded, "", 3, 2},
        {"no preamble", shortReply.substr(5), "", 1, 7},
        {"trailing bytes", shortReply + "\x12\x34", "", 1, 7},
        {"check byte wrong", shortReply.substr(0, shortReply.size() - 1) + std::string(1, '\0'), "check byte 0x00 is wrong", 0, 0},
        {"cut", shortReply.substr(0, shortReply.size() - 1), "the frame ends before its 7 data bytes", 0, 0},
        {"a request", sim::WithPreamblesAndCheck(std::string("\x02\x80\x00\x00", 4), 5), "delimiter 0x02", 0, 0},
        {"preambles only", std::string(5, '\xFF'), "no delimiter", 0, 0},
        {"before the count", std::string("\xFF\x86\xA6\x0C", 4), "the frame ends before its byte count", 0, 0},
    };
    for (const Case& c : cases) {
        const HartReply reply = ReadHartReply(bytesOf(c.bytes));
        EXPECT_TRUE(reply.problem.starts_with(c.problem)) << c.what << ": " << reply.problem;
        EXPECT_EQ(reply.ok(), std::string_view(c.problem).empty()) << c.what;
        if (reply.ok()) {
            EXPECT_EQ(reply.command, c.command) << c.what;
            EXPECT_EQ(reply.data.size(), c.dataSize) << c.what;
        }
    }
}

// A check of the simulated converter after `sets`: the instrument's replies read at 100.0 s and 100.4 s
// around the registers at 100.2 s, as vx538 check reads them.
std::vector<CheckRow> runCheck(const std::vector<std::string>& sets, double percent = 0.5,
                               const std::function<void(std::vector<uint16_t>&)>& spoil = {}) {
    sim::Converter converter;
    for (const std::string& set : sets) {
        EXPECT_TRUE(converter.handleText(set).ends_with(":OK#")) << set;
    }
    Mapping mapping;
    const sim::Settings& s = converter.settings();
    mapping.polling = s.hartPolling.enabled == '1';
    for (int c = 0; c < 2; ++c) {
        mapping.commands[c].enabled = s.meterCommands[c].enabled == '1';
        mapping.commands[c].body.assign(s.meterCommands[c].bytes.begin(), s.meterCommands[c].bytes.end());
    }
    for (int n = 0; n < kMappedVariables; ++n) {
        const sim::ParseFormat& f = s.parseFormats[n];
        mapping.rows[n] = {f.byteOrder == '1' ? WordOrder::LowWordFirst : WordOrder::HighWordFirst,
                           std::stoi(f.address), f.length == '1' ? 8 : 4, f.coefficient};
    }
    std::array<CommandReads, 2> reads;
    for (int c = 0; c < 2; ++c) {
        if (mapping.commands[c].enabled) {
            reads[c].before = instrumentReply(converter.instrument(), s.meterCommands[c].bytes, 100.0);
            reads[c].after = instrumentReply(converter.instrument(), s.meterCommands[c].bytes, 100.4);
        }
    }
    const auto all = converter.holdingRegisters(100.2);
    std::vector<uint16_t> registers(all.begin() + 2, all.end());
    if (spoil) {
        spoil(registers);
    }
    return CheckMapping(mapping, reads, registers, kFirstVariableRegister, percent);
}

TEST(Check, EachVariableIsJudgedByItsRegistersAgainstTheInstrumentsReplyAndItsField) {
    using V = CheckVerdict;
    const std::string command2On = "QQS#CAMD02:1<08," + longBody(2);
    struct Case {
        const char* what;
        std::vector<std::string> sets;
        std::array<V, 8> verdicts;
        int variable;        // whose source and note are looked at
        const char* source;  // its source
        const char* note;    // the start of its note
    } cases[] = {
        {"factory", {}, {V::Same, V::Same, V::Same, V::Same, V::NotPolled, V::NotPolled, V::NotPolled, V::NotPolled},
         1, "command 1 data 7-10, PV", ""},
        {"command 2 on", {command2On}, {V::Same, V::Same, V::Same, V::Same, V::Same, V::Same, V::Same, V::Same},
         6, "command 2 data 6-9, percent of range", ""},
        {"address 18", {"QQS#MDBS3:0,18,0,1.000#"},
         {V::Same, V::Same, V::NotAField, V::Same, V::NotPolled, V::NotPolled, V::NotPolled, V::NotPolled},
         3, "command 1 data 18-21, across TV and QV unit",
         "data 18-21 is not one value of the command 3 reply: it spans TV and QV unit"},
        {"a unit code", {"QQS#MDBS2:0,06,0,1.000#"},
         {V::Same, V::NotAField, V::Same, V::Same, V::NotPolled, V::NotPolled, V::NotPolled, V::NotPolled},
         2, "command 1 data 6-9, across PV unit and PV", "data 6-9 is not one value"},
        {"swapped words", {"QQS#MDBS2:1,12,0,1.000#"},
         {V::Same, V::Same, V::Same, V::Same, V::NotPolled, V::NotPolled, V::NotPolled, V::NotPolled},
         2, "command 1 data 12-15, SV", ""},
        {"eight bytes", {"QQS#MDBS1:0,07,1,1.000#"},
         {V::NotAField, V::Same, V::Same, V::Same, V::NotPolled, V::NotPolled, V::NotPolled, V::NotPolled},
         1, "command 1 data 7-14, across PV, SV unit and SV", "data 7-14 is not one value of the command 3 reply (its values are 4 bytes long)"},
        {"beyond the reply", {"QQS#MDBS4:0,24,0,1.000#"},
         {V::Same, V::Same, V::Same, V::NoValue, V::NotPolled, V::NotPolled, V::NotPolled, V::NotPolled},
         4, "command 1 data 24-27, part of QV", "data 24-27 lies beyond the 26 bytes of the reply"},
        {"polling off", {"QQS#HART0:0,1,00,5,010#"},
         {V::NotPolled, V::NotPolled, V::NotPolled, V::NotPolled, V::NotPolled, V::NotPolled, V::NotPolled,
          V::NotPolled},
         1, "command 1, not polled (HART polling is off)", "the converter does not poll command 1"},
    };
    for (const Case& c : cases) {
        const std::vector<CheckRow> rows = runCheck(c.sets);
        ASSERT_EQ(rows.size(), 8u);
        for (int n = 0; n < 8; ++n) {
            EXPECT_EQ(rows[n].verdict, c.verdicts[n])
                << c.what << ": variable " << n + 1 << " " << VerdictName(rows[n].verdict) << " " << rows[n].note;
        }
        const CheckRow& row = rows[c.variable - 1];
        EXPECT_EQ(row.source, c.source) << c.what;
        EXPECT_TRUE(row.note.starts_with(c.note)) << c.what << ": " << row.note;
        EXPECT_EQ(row.registerNumber, 40001 + 2 * c.variable);
    }
}

TEST(Check, ARegisterThatHoldsSomethingElseDiffersAndATightToleranceStillHoldsForAnExactCopy) {
    const auto rows = runCheck({}, 0.5, [](std::vector<uint16_t>& registers) {
        registers[4] ^= 0x0010; // variable 3's high word: 24.5 becomes about 26.5
    });
    EXPECT_EQ(rows[2].verdict, CheckVerdict::Differs);
    EXPECT_TRUE(rows[2].note.starts_with("the register holds ")) << rows[2].note;
    EXPECT_EQ(rows[0].verdict, CheckVerdict::Same);
    for (const CheckRow& row : runCheck({}, 0.0)) {
        EXPECT_FALSE(IsFailure(row.verdict)) << row.variable << " " << row.note;
    }
}

TEST(RegisterMap, FactorySettingsMapTheInstrumentsVariablesWithTheirUnitsAndWordOrders) {
    sim::Converter converter;
    converter.handleText("QQS#MDBS2:1,12,0,0.500#");
    Configuration values;
    const auto fill = [&](Query q) {
        const std::string reply = converter.handleText(QueryFrame(q));
        EXPECT_TRUE(DecodeReply(q, reply, values).empty()) << reply;
    };
    for (const Query q : {Query::QX1, Query::QX3, Query::QX4}) {
        fill(q);
    }
    const Mapping mapping = MappingOf(values);
    const HartReply reply = instrumentReply(converter.instrument(), converter.settings().meterCommands[0].bytes, 1.0);
    const std::vector<MapRow> rows = RegisterMap(mapping, {reply, std::nullopt});
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(rows[0].dataType, "reserved");
    EXPECT_EQ(rows[1].source, "command 1 data 7-10, PV");
    EXPECT_EQ(rows[1].unit, "KPa");
    EXPECT_EQ(rows[2].firstRegister, 40005);
    EXPECT_EQ(rows[2].order, "CDAB");
    EXPECT_EQ(rows[2].converterOrder, "FF2 FF1 FF4 FF3");
    EXPECT_EQ(rows[2].coefficient, "0.500");
    EXPECT_EQ(rows[4].unit, "%");
    EXPECT_EQ(rows[5].source, "command 2 is off");
    EXPECT_EQ(rows[8].lastRegister, 40018);

    const std::string csv = FormatRegisterMap(mapping, rows, std::nullopt, MapFormat::Csv);
    EXPECT_NE(csv.find("\n40005-40006,4-5,2,\"command 1 data 12-15, SV\",\xE2\x84\x83,float32,CDAB,FF2 FF1 FF4 FF3,0.500,1,9600,none\n"),
              std::string::npos)
        << csv;
    // The instrument as its command 0 reply names it: the codes in decimal, as the window's fields
    // show them, and in hex, as HART's tables list them.
    const HartReply identity =
        instrumentReply(converter.instrument(), std::string("\x02\x80\x00\x00", 4), 1.0);
    const std::string text = FormatRegisterMap(mapping, rows, IdentityOfReply(identity), MapFormat::Text);
    EXPECT_NE(
        text.find(
            "\ninstrument: manufacturer 38 (0x26), device type 12 (0x0C), device ID 0A1B2C, HART revision "),
        std::string::npos)
        << text;
}

} // namespace

namespace {

std::vector<uint8_t> withCrc(std::vector<uint8_t> frame) {
    const tools::CrcBytes crc = tools::ModbusCrc16(frame);
    frame.push_back(crc.low);
    frame.push_back(crc.high);
    return frame;
}

TEST(Poll, OnlyTheWholeReplyOfTheSlaveAskedWithItsCrcRightGivesRegisters) {
    const std::vector<uint8_t> request = profile::VariablesRequest(17);
    ASSERT_EQ(request, withCrc({17, 3, 0, 2, 0, 16}));
    std::vector<uint8_t> data;
    for (int i = 0; i < 32; ++i) {
        data.push_back(static_cast<uint8_t>(i));
    }
    std::vector<uint8_t> body = {17, 3, 32};
    body.insert(body.end(), data.begin(), data.end());
    const std::vector<uint8_t> good = withCrc(body);
    std::vector<uint8_t> otherSlave = body;
    otherSlave[0] = 18;
    std::vector<uint8_t> shortCount = {17, 3, 30};
    shortCount.insert(shortCount.end(), data.begin(), data.begin() + 30);
    std::vector<uint8_t> badCrc = good;
    badCrc.back() ^= 0x01;
    struct Case {
        const char* what;
        std::vector<uint8_t> frame;
        bool registers;
    } cases[] = {
        {"the reply", good, true},
        {"the reply and bytes after it", [&] { auto f = good; f.push_back(0x55); return f; }(), true},
        {"another slave's", withCrc(otherSlave), false},
        {"fewer registers than asked", withCrc(shortCount), false},
        {"CRC wrong", badCrc, false},
        {"an exception", withCrc({17, 0x83, 2}), false},
        {"cut before its CRC", std::vector<uint8_t>(good.begin(), good.end() - 2), false},
        {"nothing", {}, false},
    };
    for (const Case& c : cases) {
        const auto registers = profile::RegistersOfReply(c.frame, request);
        EXPECT_EQ(registers.has_value(), c.registers) << c.what;
        if (registers) {
            ASSERT_EQ(registers->size(), 16u);
            EXPECT_EQ((*registers)[0], 0x0001);
            EXPECT_EQ((*registers)[15], 0x1E1F);
        }
    }
}

TEST(Poll, AMissedPollIsAnEmptyRowAndNullValuesNeverZeros) {
    const Mapping mapping; // every row high word first
    const std::vector<uint16_t> registers = {0x42CA, 0x999A, 0, 0, 0x7FC0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const profile::Sample sample = profile::SampleOfRegisters(registers, mapping);
    const std::optional<profile::Sample> rows[] = {sample, std::nullopt};
    EXPECT_EQ(profile::SampleCsvLine("t", rows), "t,101.3,0,nan,0,0,0,0,0,,,,,,,,");
    const std::string names[] = {"a", "b"};
    EXPECT_EQ(profile::SampleCsvHeader(names), "time,a v1,a v2,a v3,a v4,a v5,a v6,a v7,a v8,b v1,b v2,b v3,b v4,b v5,b v6,"
                                               "b v7,b v8");
    EXPECT_EQ(profile::SampleJson("t", "p", sample),
              R"({"time":"t","port":"p","values":[101.3,0.0,null,0.0,0.0,0.0,0.0,0.0],"missed":false})");
    EXPECT_EQ(profile::SampleJson("t", "p", std::nullopt), R"({"time":"t","port":"p","values":null,"missed":true})");
}

} // namespace
