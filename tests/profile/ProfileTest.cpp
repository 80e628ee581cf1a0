// The parameter table against the simulated converter's model: typed values, decoding of real replies,
// the set commands a restore sends and their order, and the configuration file.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <fstream>
#include <random>
#include <sstream>

#include "profile/BackupFile.h"
#include "profile/Configuration.h"
#include "sim/Converter.h"
#include "tools/Conversions.h"

namespace {

using namespace profile;

std::string valueOrError(std::string_view name, std::string_view typed) {
    try {
        return CanonicalValue(Parameters()[ParameterIndex(name)], typed);
    } catch (const BadValue& error) {
        return std::string("! ") + error.what();
    }
}

TEST(ParameterTable, TypedValuesReadAsTheirCanonicalTextOrAreRefusedByName) {
    struct Case {
        const char* name;
        const char* typed;
        const char* expected; // "! ..." is the start of the refusal
    } cases[] = {
        {"modbus.address", "5", "5"},
        {"modbus.address", "007", "7"},
        {"modbus.address", "$F7", "247"},
        {"modbus.address", "0", "! modbus.address: '0' is outside 1..247"},
        {"modbus.address", "248", "! modbus.address: '248' is outside 1..247"},
        {"modbus.address", "five", "! modbus.address: 'five' is not a whole number (1..247)"},
        {"rs485.baud", "19200", "19200"},
        {"rs485.baud", "19201", "! rs485.baud: '19201' is not one of 1200, 2400, 4800, 9600, 19200, 38400"},
        {"rs485.parity", "EVEN", "even"},
        {"rs485b.parity", "Odd", "odd"},
        {"mode", "single-meter", "single-meter"},
        {"mode", "Test current output mode", "test-output"},
        {"mode", "", "! mode: '' is not one of transparent, single-meter, test-output"},
        {"modbus.interval", "0", "! modbus.interval: '0' is outside 1..999"},
        {"ao3.variable", "2", "2"},
        {"ao3.variable", "9", "! ao3.variable: '9' is outside 0..8"},
        {"ao0.20ma", "100.0", "100"},
        {"ao0.20ma", "0.1", "0.1"},
        {"ao0.4ma", "-10", "-10"},
        {"ao0.4ma", "0x3DCCCCCD", "0.1"},
        {"ao0.4ma", "0x80000000", "-0"},
        {"ao7.20ma", "1E39", "! ao7.20ma: '1E39' is not a number the converter can hold (Floating point overflow)"},
        {"ao7.20ma", "1E400", "! ao7.20ma: '1E400' is not a number the converter can hold (Floating point overflow)"},
        {"ao7.20ma", "0x7F800000", "! ao7.20ma: '0x7F800000' is not a finite number"},
        {"ao7.20ma", "1,5", "! ao7.20ma: '1,5' is not a number"},
        {"parse5.order", "1", "1"},
        {"parse5.order", "3", "! parse5.order: '3' is not one of 0, 1"},
        {"parse1.address", "100", "! parse1.address: '100' is outside 0..99"},
        {"parse1.length", "8 bit", "8"},
        {"parse1.coefficient", "2.500", "2.500"},
        {"parse1.coefficient", "+1.50", "+1.50"},
        {"parse1.coefficient", "1.5", "1.500"},
        {"parse1.coefficient", "12", "12.00"},
        {"parse1.coefficient", "12.3456", "! parse1.coefficient: '12.3456' is not five characters"},
        {"parse1.coefficient", "1.0ab", "! parse1.coefficient: '1.0ab' is not a number"},
        {"parse.address-bit", "4", "4"},
        {"parse.address-bit", "3", "! parse.address-bit: '3' is not one of 4, 5, 6, 7, 8, 9"},
        {"hart.meter-type", "CURRENCY", "currency"},
        {"hart.clear-time", "1000", "! hart.clear-time: '1000' is outside 0..999"},
        {"read1.command", "82 26 03", "82 26 03"},
        {"read1.command", "fd ad", "FD AD"},
        {"read1.command", "8226", "! read1.command: '8226' is not hex byte text"},
        {"read1.command", "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F",
         "! read1.command: '01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F' holds more than the 14 bytes"},
        {"test.ao0", "020.0", "020.0"},
        {"ao9.variable", "1", "! unknown parameter 'ao9.variable' (did you mean totalizer.variable, ao0.variable,"},
        {"baud", "1", "! unknown parameter 'baud'; 'vx538 params' lists them all"},
    };
    for (const Case& c : cases) {
        const std::string got = valueOrError(c.name, c.typed);
        if (c.expected[0] == '!') {
            EXPECT_TRUE(got.starts_with(c.expected)) << c.name << "=" << c.typed << " gave " << got;
        } else {
            EXPECT_EQ(got, c.expected) << c.name << "=" << c.typed;
        }
    }
}

// Every finite single has a text the frame builders read back as the very same bits.
TEST(ParameterTable, FloatValuesSurviveTheirTextBitForBit) {
    std::mt19937 random(538);
    std::vector<uint32_t> patterns = {0, 0x80000000, 1, 0x007FFFFF, 0x00800000, 0x7F7FFFFF, 0xFF7FFFFF, 0x3DCCCCCD};
    for (int i = 0; i < 200000; ++i) {
        patterns.push_back(static_cast<uint32_t>(random()));
    }
    for (const uint32_t pattern : patterns) {
        const float value = std::bit_cast<float>(pattern);
        const std::string text = tools::ShortestSingleText(value);
        if (!std::isfinite(value)) {
            EXPECT_TRUE(text.empty());
            continue;
        }
        ASSERT_EQ(std::bit_cast<uint32_t>(tools::ToSingle(tools::StrToFloat(text))), pattern) << text;
    }
}

// The simulated converter, written separately from config/, is the other side of every frame here.
std::string reply(sim::Converter& converter, Query query) {
    return converter.handleText(QueryFrame(query));
}

Configuration readAll(sim::Converter& converter) {
    Configuration values;
    for (const Query query : kQueries) {
        const std::string text = reply(converter, query);
        const auto problems = DecodeReply(query, text, values);
        EXPECT_TRUE(problems.empty()) << ProblemText(problems.front());
    }
    return values;
}

// Every parameter away from its factory value, as a commissioned converter might hold it.
Configuration commissioned() {
    Configuration c;
    const std::pair<const char*, const char*> values[] = {
        {"modbus.address", "17"}, {"rs485.baud", "19200"}, {"rs485.parity", "even"}, {"rs485b.baud", "4800"},
        {"rs485b.parity", "odd"}, {"mode", "single-meter"}, {"modbus.interval", "25"}, {"totalizer.variable", "3"},
        {"ao0.variable", "2"}, {"ao0.20ma", "0.1"}, {"ao0.4ma", "-10"}, {"ao5.variable", "8"}, {"ao5.20ma", "123456"},
        {"hart.enabled", "off"}, {"hart.mode", "secondary"}, {"hart.meter-type", "currency"},
        {"hart.preambles", "9"}, {"hart.clear-time", "120"}, {"read1.enabled", "on"},
        {"read1.command", "82 26 0C 0A 1B 2C 01 00"}, {"read2.command", "76 89 FD AD"},
        {"parse.address-bit", "6"}, {"parse3.order", "1"}, {"parse3.address", "7"}, {"parse3.length", "8"},
        {"parse3.coefficient", "0.500"}, {"parse8.coefficient", "+2.50"},
    };
    for (const auto& [name, value] : values) {
        c.setTyped(name, value);
    }
    return c;
}

void send(sim::Converter& converter, const std::vector<PlannedFrame>& plan) {
    for (const PlannedFrame& planned : plan) {
        const std::string answer = converter.handleText(planned.frame);
        EXPECT_TRUE(answer.ends_with(":OK#")) << planned.frame << " -> " << answer;
    }
}

TEST(ConverterRoundTrip, ARestoreOntoAFactoryConverterMakesItHoldTheTarget) {
    sim::Converter factory;
    const Configuration before = readAll(factory);
    EXPECT_EQ(before.count(), ParameterCount()); // every parameter is reported
    EXPECT_EQ(before.value("rs485.baud"), "9600");
    EXPECT_EQ(before.value("ao0.20ma"), "100");
    EXPECT_EQ(before.value("parse1.coefficient"), "1.000");

    Configuration target = before;
    target.merge(commissioned());
    const auto plan = PlanRestore(target, before, false);
    send(factory, plan);
    const Configuration after = readAll(factory);
    EXPECT_TRUE(Compare(target, after).empty());
    EXPECT_EQ(after.value("ao5.20ma"), "123456"); // not the window's five characters

    // Only what differs is sent; with everything equal nothing is, and --all sends every command.
    EXPECT_TRUE(PlanRestore(target, after, false).empty());
    EXPECT_EQ(PlanRestore(target, after, true).size(), Setters().size());
}

TEST(SetFrames, EveryFrameReadsBackAsItsValuesAndNothingElseDoes) {
    sim::Converter factory;
    Configuration target = readAll(factory);
    target.merge(commissioned());
    for (const PlannedFrame& planned : PlanRestore(target, target, true)) {
        SCOPED_TRACE(planned.frame);
        const auto read = ReadSetFrame(planned.frame);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->setter, planned.setter);
        EXPECT_EQ(read->values.count(), ParametersOf(planned.setter).size());
        for (const std::size_t p : ParametersOf(planned.setter)) {
            EXPECT_EQ(read->values.value(p), target.value(p)) << Parameters()[p].name;
        }
    }
    for (const char* frame : {"QQQ#QX1#", "QQQ#AV0O:50.0#", "QQS#RESET#", "TAVRIK#PCBSN:00000001,001#",
                              "QQS#MD:3#", "QQS#MD:1", "QQS#MD:11#", "QQS#JTM:000#", "QQS#JTM:10#",
                              "QQS#DA1:1,42c80000,00000000#", "QQS#DA1:1,42C80000#", "QQS#BA1:3#",
                              "QQS#XYZ:1#", "QQS#HART0:1,1,00,5,010,#", "QQS#CAMD01:1<04,", "QQS#MDBS1:0,07,0,1.00#",
                              "", "QQS#", "QQS#:#"}) {
        EXPECT_FALSE(ReadSetFrame(frame)) << frame;
    }
}

TEST(ConverterRoundTrip, RestoreOrderPutsTheLineSettingsLastAndTheTotalizerAroundTheOutputs) {
    sim::Converter factory;
    const Configuration current = readAll(factory);
    const auto keys = [](const std::vector<PlannedFrame>& plan) {
        std::string out;
        for (const PlannedFrame& p : plan) {
            out += std::string(Setters()[p.setter].key) + " ";
        }
        return out;
    };
    Configuration target = current;
    target.merge(commissioned());
    const std::string order = keys(PlanRestore(target, current, false));
    EXPECT_TRUE(order.ends_with("MDL BA2 ADR BA1 ")) << order;
    // Switched on: the last four rows are set while the converter still lets them be.
    EXPECT_LT(order.find("DA6 "), order.find("DL ")) << order;

    target.setTyped("totalizer.variable", "0");
    Configuration on = current;
    on.setTyped("totalizer.variable", "4");
    target.setTyped("ao5.20ma", "5");
    const std::string off = keys(PlanRestore(target, on, false));
    EXPECT_LT(off.find("DL "), off.find("DA1 ")) << off;
}

TEST(ConverterRoundTrip, AParameterMissingFromTheTargetIsTakenFromTheConverter) {
    sim::Converter factory;
    const Configuration current = readAll(factory);
    Configuration target;
    target.setTyped("rs485.parity", "odd"); // rs485.baud is not in the target
    const auto plan = PlanRestore(target, current, false);
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].frame, "QQS#BA1:31#");
    EXPECT_THROW(PlanRestore(target, Configuration(), false), BadValue); // and nobody knows the baud
}

// A value of the parameter other than `current`, as it would be typed.
std::string anotherValue(const Parameter& p, const std::optional<std::string>& current) {
    switch (p.kind) {
    case Kind::Integer: {
        const int middle = (p.minimum + p.maximum) / 2;
        return std::to_string(current == std::to_string(middle) ? p.minimum : middle);
    }
    case Kind::Choice:
    case Kind::NumericChoice:
        for (const Choice& c : p.choices) {
            if (current != c.name) {
                return std::string(c.name);
            }
        }
        break;
    case Kind::Float: return current == "12.5" ? "-0.25" : "12.5";
    case Kind::Coefficient: return current == "2.500" ? "0.125" : "2.500";
    case Kind::HexBytes: return current == "82 26 0C 0A 1B 2C 01 00" ? "76 89" : "82 26 0C 0A 1B 2C 01 00";
    case Kind::Text: break;
    }
    return *current;
}

// Every row of the table, one at a time: the converter's reply holds it (read), one set command
// carries it and no other (set frame), the value that command sent is what the reply then holds
// (decode), and a file keeps it (file). A row whose field, set command or file form is missing or
// wrong fails here by its name.
TEST(ParameterTable, EveryParameterGoesThroughReadSetDecodeAndFile) {
    for (std::size_t i = 0; i < ParameterCount(); ++i) {
        const Parameter& p = Parameters()[i];
        SCOPED_TRACE(std::string(p.name));
        sim::Converter converter;
        const Configuration current = readAll(converter);
        ASSERT_TRUE(current.has(i)) << "not read from the " << QueryKey(p.query) << " reply";
        Configuration target;
        if (p.restorable) {
            target.setTyped(p.name, anotherValue(p, current.value(i)));
            ASSERT_NE(target.value(i), current.value(i));
            const auto plan = PlanRestore(target, current, false);
            ASSERT_EQ(plan.size(), 1u) << "set by no command, or by several";
            const Setter& setter = Setters()[plan[0].setter];
            EXPECT_EQ(SetterOf(i), plan[0].setter);
            EXPECT_NE(std::find(setter.parameters.begin(), setter.parameters.end(), i), setter.parameters.end());
            // The frame reads back as what it sets (the change log names a change by it).
            const auto carried = ReadSetFrame(plan[0].frame);
            ASSERT_TRUE(carried) << plan[0].frame;
            EXPECT_EQ(carried->setter, plan[0].setter);
            EXPECT_EQ(carried->values.value(i), target.value(i));
            send(converter, plan);
            const Configuration after = readAll(converter);
            EXPECT_EQ(after.value(i), target.value(i)) << setter.title << " sent " << plan[0].frame;
            EXPECT_TRUE(Compare(current, after).size() == 1) << "the command changed another parameter";
        } else {
            target.set(i, *current.value(i));
            EXPECT_FALSE(SetterOf(i)) << "a test value is never restored";
        }
        Backup file;
        file.values = target;
        EXPECT_EQ(ReadBackup(WriteBackup(file)).values, target) << WriteBackup(file);
    }
}

TEST(Decoding, RepliesThatAreNotWhatTheTableHoldsAreNamedAndLeaveTheirParametersAlone) {
    struct Case {
        Query query;
        const char* reply;
        const char* problem;
    } cases[] = {
        {Query::QX1, "QQQ#QX2:ADR:001#", "QX1 reply: no block marker QX1"},
        {Query::QX1, "QQQ#QX1:ADR:000,BA1:30,BA2:30,MD:0,JTM:010#", "modbus.address: the converter reports '000', which is outside 1..247"},
        {Query::QX1, "QQQ#QX1:ADR:0x1,BA1:30,BA2:30,MD:0,JTM:010#", "modbus.address: the converter reports '0x1'"},
        {Query::QX1, "QQQ#QX1:ADR:001,BA1:70,BA2:30,MD:0,JTM:010#", "rs485.baud: the converter reports item 7"},
        {Query::QX1, "QQQ#QX1:ADR:001,BA1:30,BA2:30,MD:3,JTM:010#", "mode: the converter reports item 3"},
        {Query::QX1, "QQQ#QX1:ADR:001,BA1:30,BA2:30,MD:0#", "modbus.interval: not in the QX1 reply"},
        {Query::QX1, "QQQ#QX1:ADR:001,BA1:3x", "QX1 reply: 'x' is not a valid integer value"},
        {Query::QX2, "QQQ#QX2:DL:0,DA1:1,42c80000,00000000#", "ao0.20ma: the converter reports '42c80000'"},
        {Query::QX2, "QQQ#QX2:DL:0,DA1:1,7FC00000,00000000#", "ao0.20ma: the converter reports 7FC00000, which is not"},
        {Query::QX3, "QQQ#QX3:HART0:1,1,00,5,010;CAMD01:1<04,76 89#", "read1.command: the converter reports 4 bytes"},
        {Query::QX4, "QQQ#QX4:MDL:8,MDBS01:0,07,2,1.000#", "parse1.length: the converter reports item 2"},
        {Query::QX4, "QQQ#QX4:MDL:8,MDBS01:0,07,0,abcde#", "parse1.coefficient: the converter reports 'abcde'"},
    };
    for (const Case& c : cases) {
        Configuration values;
        values.setTyped("modbus.address", "9");
        values.setTyped("ao0.20ma", "9");
        const auto problems = DecodeReply(c.query, c.reply, values);
        const bool named = std::any_of(problems.begin(), problems.end(),
                                       [&](const Problem& p) { return ProblemText(p).starts_with(c.problem); });
        EXPECT_TRUE(named) << c.reply << "\n first: " << (problems.empty() ? "none" : ProblemText(problems.front()));
        if (std::string(c.problem).starts_with("modbus.address") || std::string(c.problem).find("marker") != std::string::npos) {
            EXPECT_EQ(values.value("modbus.address"), "9") << c.reply;
        }
        if (std::string(c.problem).starts_with("ao0.20ma")) {
            EXPECT_EQ(values.value("ao0.20ma"), "9") << c.reply;
        }
    }
}

TEST(Decoding, TheLastFourOutputsAreReadWhileTheTotalizerIsOn) {
    Configuration values;
    const auto problems = DecodeReply(
        Query::QX2,
        "QQQ#QX2:DL:3,DA1:1,42C80000,00000000,DA5:7,41200000,3F800000,DA6:0,00000000,00000000,DA2:0,00000000,00000000,"
        "DA3:0,00000000,00000000,DA4:0,00000000,00000000,DA7:0,00000000,00000000,DA8:0,00000000,00000000#",
        values);
    EXPECT_TRUE(problems.empty()) << ProblemText(problems.front());
    EXPECT_EQ(values.value("ao4.variable"), "7");
    EXPECT_EQ(values.value("ao4.20ma"), "10");
}

std::string fileError(const std::string& text) {
    try {
        ReadBackup(text);
        return "read";
    } catch (const FileError& error) {
        return std::string(error.kind() == FileError::Kind::NotABackup ? "not a backup: " : "bad content: ") +
               error.what();
    }
}

TEST(BackupFile, WrittenAndReadBackItIsTheSameBackup) {
    sim::Converter converter;
    Backup backup;
    backup.writtenBy = "vx538 1.0";
    backup.date = UtcDateText(1796815800000LL);
    backup.port = "/dev/serial/by-id/usb-\xE9t\xE9";
    backup.device = "QQQ#QV:VX538-T-B#";
    backup.values = readAll(converter);
    backup.values.merge(commissioned());
    backup.values.set(ParameterIndex("test.ao1"), "\xB5\x01.0");
    backup.values.clear(ParameterIndex("ao7.4ma"));
    backup.replies = {{"QX1", reply(converter, Query::QX1)}, {"RAW", std::string("\xFF\x06\x00", 3)}};
    const std::string text = WriteBackup(backup);
    EXPECT_NE(text.find("\"date\": \"2026-12-09T"), std::string::npos);
    EXPECT_NE(text.find("\"ao0.20ma\": 0.1,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"not_read\": [\n    \"ao7.4ma\"\n  ]"), std::string::npos);

    const Backup back = ReadBackup(text);
    EXPECT_EQ(back.values, backup.values);
    EXPECT_EQ(back.replies, backup.replies);
    EXPECT_EQ(back.port, backup.port);
    EXPECT_EQ(back.date, backup.date);
}

TEST(BackupFile, AFileThatIsWrongAnywhereIsRefusedNamingWhat) {
    const std::string head = R"({"format": "vx538-configuration", "version": 1, )";
    struct Case {
        std::string text;
        const char* expected;
    } cases[] = {
        {"", "not a backup: not a configuration file: parse error at line 1, column 1"},
        {"[1]", "not a backup: not a configuration file: no JSON object"},
        {head + R"("parameters": {"ao0.20ma": 1E400}})", "not a backup: not a configuration file: number overflow"},
        {R"({"format": "other", "version": 1})", "not a backup: not a configuration file: \"format\""},
        {R"({"format": "vx538-configuration"})", "not a backup: configuration file without a version"},
        {R"({"format": "vx538-configuration", "version": 2, "parameters": {}})",
         "not a backup: configuration file of version 2, newer than this program reads (1)"},
        {head + R"("date": ""})", "bad content: no \"parameters\""},
        {head + R"("parameters": {"rs485.bawd": 9600}})", "bad content: parameters: unknown parameter 'rs485.bawd'"},
        {head + R"("parameters": {"modbus.address": 300}})", "bad content: modbus.address: '300' is outside 1..247"},
        {head + R"("parameters": {"rs485.baud": 9601}})", "bad content: rs485.baud: '9601' is not one of"},
        {head + R"("parameters": {"ao0.20ma": 1e39}})", "bad content: ao0.20ma: 1e+39: Floating point overflow"},
        {head + R"("parameters": {"mode": true}})", "bad content: mode: true is neither a number nor a text"},
        {head + R"("parameters": {"mode": "transparent"}, "not_read": ["mode"]})",
         "bad content: mode has a value and is listed as not read"},
        {head + R"("parameters": {}, "replies": {"QX1": "\u0100"}})", "bad content: \"replies\" holds a character"},
        {head + R"("parameters": {"modbus.address": 300, "modbus.address": 17}})",
         "bad content: parameters: modbus.address is given twice"},
        {head + R"("version": 2, "parameters": {}})", "not a backup: not a configuration file: \"version\" stands twice"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(fileError(c.text).starts_with(c.expected)) << c.text << "\n gave " << fileError(c.text);
    }
    // Numbers as texts and texts as numbers are taken.
    EXPECT_EQ(fileError(head + R"("parameters": {"modbus.address": "17", "rs485.baud": "19200", "ao0.20ma": "0x3DCCCCCD",
        "parse1.order": 1, "hart.clear-time": 5.0}})"),
              "read");
}

TEST(ParameterTable, TheCheckedInParameterListIsTheTable) {
    std::ifstream file(VX_SOURCE_DIR "/docs/parameters.md");
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_TRUE(text.str() == ParametersMarkdown()) << "docs/parameters.md is stale: run "
                                                   "'build/vx538 params --markdown > docs/parameters.md'";
}

} // namespace
