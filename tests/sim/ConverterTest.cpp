// The converter's text command set: every set command read back by its query in the layout the
// tool reads, refusals that change nothing, RESET, and the process variables it takes from the
// instrument.
#include <gtest/gtest.h>

#include "sim/Converter.h"
#include "tests/sim/Bytes.h"

using namespace simtest;
using sim::Converter;

namespace {

const char* const kQueries[] = {"QQQ#QX1#", "QQQ#QX2#", "QQQ#QX3#", "QQQ#QX4#", "QQQ#QX6#"};

std::vector<std::string> allQueries(Converter& converter) {
    std::vector<std::string> replies;
    for (const char* query : kQueries) {
        replies.push_back(converter.handleText(query));
    }
    return replies;
}

struct SetCase {
    std::string command;
    std::string ack;
    std::string query;
    std::string readBack; // must appear in the query's reply, and not before the command
};

std::vector<SetCase> everySettableField() {
    std::vector<SetCase> cases = {
        {"QQS#ADR:005#", "QQS#ADR:OK#", "QQQ#QX1#", "ADR:005"},
        {"QQS#ADR:247#", "QQS#ADR:OK#", "QQQ#QX1#", "ADR:247"},
        {"QQS#BA1:52#", "QQS#BA1:OK#", "QQQ#QX1#", "BA1:52"},
        {"QQS#BA2:41#", "QQS#BA2:OK#", "QQQ#QX1#", "BA2:41"},
        {"QQS#MD:1#", "QQS#MD:OK#", "QQQ#QX1#", "MD:1"},
        {"QQS#MD:2#", "QQS#MD:OK#", "QQQ#QX1#", "MD:2"},
        {"QQS#JTM:012#", "QQS#JTM:OK#", "QQQ#QX1#", "JTM:012"},
        {"QQS#DL:3#", "QQS#DL:OK#", "QQQ#QX2#", "DL:3"},
        {"QQS#HART0:0,0,01,9,120#", "QQS#HART0:OK#", "QQQ#QX3#", "HART0:0,0,01,9,120"},
        {"QQS#CAMD01:0<04," + hex("76 89 FD AD"), "QQS#CAMD01:OK#", "QQQ#QX3#", "CAMD01:0<04,76 89 FD AD"},
        {"QQS#CAMD02:1<02," + hex("23 FF"), "QQS#CAMD02:OK#", "QQQ#QX3#", "CAMD02:1<02,23 FF"},
        {"QQS#MDL:4#", "QQS#MDL:OK#", "QQQ#QX4#", "MDL:4"},
        // The tool sends the coefficient's five characters as typed; a signed number is a number.
        {"QQS#MDBS1:0,07,0,+1.50#", "QQS#MDBS1:OK#", "QQQ#QX4#", "MDBS01:0,07,0,+1.50"},
        {"QQS#MDBS2:0,12,0,-2.00#", "QQS#MDBS2:OK#", "QQQ#QX4#", "MDBS02:0,12,0,-2.00"},
        {"QQQ#LEIO:000012345#", "QQQ#LEIO:OK#", "QQQ#QX6#", "LJ:000012345"},
        {"QQQ#LEIO:999999999#", "QQQ#LEIO:OK#", "QQQ#QX6#", "LJ:999999999"}, // the largest total
        {"TAVRIK#PCBSN:00000123,102#", "TAVRIK#PCBSN:OK#", "", ""},
    };
    for (int n = 1; n <= 8; ++n) {
        const std::string d = std::to_string(n);
        const std::string row = std::to_string(n % 9) + ",41A40000,C1200000";
        cases.push_back(
            {"QQS#DA" + d + ":" + row + "#", "QQS#DA" + d + ":OK#", "QQQ#QX2#", "DA" + d + ":" + row});
        // The reply tags a variable with one character more than the command: "MDBS01:".
        const std::string format = "1," + std::to_string(10 + n) + ",1,2.500";
        cases.push_back({"QQS#MDBS" + d + ":" + format + "#", "QQS#MDBS" + d + ":OK#", "QQQ#QX4#",
                         "MDBS0" + d + ":" + format});
        const std::string output = std::to_string(n - 1);
        cases.push_back({"QQQ#AV" + output + "O:12.34#", "QQQ#AV" + output + "O:OK#", "QQQ#QX6#",
                         "VA" + output + ":012.3"});
    }
    return cases;
}

} // namespace

TEST(Converter, EverySetCommandIsReadBackByItsQuery) {
    for (const SetCase& c : everySettableField()) {
        Converter converter;
        if (!c.query.empty()) {
            EXPECT_EQ(converter.handleText(c.query).find(c.readBack), std::string::npos)
                << c.readBack << " already there before " << c.command;
        }
        EXPECT_EQ(converter.handleText(c.command), c.ack) << c.command;
        if (!c.query.empty()) {
            EXPECT_NE(converter.handleText(c.query).find(c.readBack), std::string::npos)
                << c.command << " then " << c.query << " gave " << converter.handleText(c.query);
        }
    }
}

TEST(Converter, RepliesCarryTheirBlockMarkerAndEachTagOnce) {
    Converter converter;
    const struct {
        const char* query;
        std::vector<std::string> tags;
    } blocks[] = {
        {"QQQ#QX1#", {"QX1", "ADR:", "BA1:", "BA2:", "MD:", "JTM:"}},
        {"QQQ#QX2#", {"QX2", "DL:", "DA1:", "DA2:", "DA3:", "DA4:", "DA5:", "DA6:", "DA7:", "DA8:"}},
        {"QQQ#QX3#", {"QX3", "HART0:", "CAMD01:", "CAMD02:"}},
        {"QQQ#QX4#",
         {"QX4",
          "MDL:", "MDBS01:", "MDBS02:", "MDBS03:", "MDBS04:", "MDBS05:", "MDBS06:", "MDBS07:", "MDBS08:"}},
        {"QQQ#QX6#", {"QX6", "LJ:", "VA0:", "VA1:", "VA2:", "VA3:", "VA4:", "VA5:", "VA6:", "VA7:"}},
    };
    for (const auto& block : blocks) {
        const std::string reply = converter.handleText(block.query);
        EXPECT_LE(reply.size(), 255u) << block.query << ": the tool reads at most 255 characters";
        for (const std::string& tag : block.tags) {
            const std::size_t at = reply.find(tag);
            EXPECT_NE(at, std::string::npos) << tag << " in " << reply;
            EXPECT_EQ(reply.find(tag, at + 1), std::string::npos) << tag << " twice in " << reply;
        }
    }
    EXPECT_EQ(converter.handleText("QQQ#QX1#"), "QQQ#QX1:ADR:001,BA1:30,BA2:30,MD:0,JTM:010#")
        << "factory values";
    EXPECT_EQ(converter.handleText("QQQ#QV#").find("QX"), std::string::npos)
        << "the communication query's reply is not a parameter block";
}

TEST(Converter, RefusedCommandsChangeNothing) {
    Converter converter;
    const std::vector<std::string> before = allQueries(converter);
    const char* const refused[] = {
        "QQS#ADR:000#",
        "QQS#ADR:248#",
        "QQS#ADR:5#",
        "QQS#ADR:00a#",
        "QQS#JTM:000#",
        "QQS#MD:3#",
        "QQS#BA1:60#",
        "QQS#BA2:03#",
        "QQS#DA1:9,42C80000,00000000#",
        "QQS#DA1:/,42C80000,00000000#",
        "QQS#DA1:1,42c80000,00000000#",
        "QQS#DA9:1,42C80000,00000000#",
        "QQS#DL:9#",
        "QQS#MDL:3#",
        "QQS#MDBS1:0,05,0,1.0#",
        "QQS#MDBS1:2,05,0,1.000#",
        "QQS#MDBS1:0,05,0,abcde#",
        "QQS#MDBS2:0,05,2,1.000#", // the empty third length item
        "QQS#MDBS1:0,05,0,+-1.0#",
        "QQS#MDBS1:0,05,0,++1.0#",
        "QQS#MDBS1:0,05,0,+    #",
        "QQS#MDBS1:0,05,0,1.0ab#", // a number followed by garbage
        "QQS#MDBS1:0,05,0,12abc#",
        "QQS#HART1:0,1,00,4,005#",
        "QQS#HART0:0,1,00,3,005#",
        "QQQ#AV3O:abc#",
        "QQQ#AV3O:#",
        "QQQ#AV8O:1#",
        "QQQ#AV0O:-0.1#", // below 0
        "QQQ#AV0O:1.0ab#",
        "QQQ#AV0O:12abc#",
        "QQQ#LEIO:-000000005#",
        "QQQ#LEIO:1234567890#",
        "QQS#FOO:1#",
        "QQS#RESET:1#",
        "TAVRIK#PCBSN:123,1#",
    };
    for (const char* command : refused) {
        const std::string reply = converter.handleText(command);
        EXPECT_TRUE(reply.ends_with(":ERR#")) << command << " gave " << reply;
    }
    EXPECT_TRUE(
        converter.handleText(std::string("QQS#CAMD01:1<15,") + std::string(15, 'x')).ends_with(":ERR#"));
    EXPECT_EQ(converter.handleText("QQQ#QX5#"), "QQQ#QX5:ERR#");
    EXPECT_EQ(allQueries(converter), before);
    EXPECT_EQ(converter.factoryRecord().serial, "00000000");
}

TEST(Converter, ResetRestoresFactoryValuesButNotTheFactoryRecord) {
    Converter fresh;
    Converter converter;
    for (const SetCase& c : everySettableField()) {
        converter.handleText(c.command);
    }
    ASSERT_NE(allQueries(converter), allQueries(fresh));
    EXPECT_EQ(converter.handleText("QQS#RESET#"), "QQS#RESET:OK#");
    EXPECT_EQ(allQueries(converter), allQueries(fresh));
    EXPECT_EQ(converter.factoryRecord().serial, "00000123");
    EXPECT_EQ(converter.factoryRecord().inspector, "102");
}

TEST(Converter, ProcessVariablesComeFromTheInstrumentThroughTheParseFormats) {
    Converter converter;
    const double t = 12.5;
    const auto instrument = converter.instrument().variables(t);
    auto values = converter.processVariables(t);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(values[k], instrument[k].value) << "variable " << k + 1 << " from read meter command 1";
        EXPECT_EQ(values[k + 4], 0.0F) << "variable " << k + 5 << ": command 2 is off at the factory";
    }
    converter.handleText("QQS#CAMD02:1<08," + hex("82 A6 0C 0A 1B 2C 02 00"));
    converter.handleText("QQS#MDBS1:0,07,0,2.000#");
    values = converter.processVariables(t);
    EXPECT_EQ(values[0], 2 * instrument[0].value) << "coefficient";
    EXPECT_EQ(values[4], converter.instrument().loopCurrent(t)) << "command 2: loop current at offset 2";
    EXPECT_EQ(values[5], instrument[3].value) << "command 2: percent of range at offset 6";

    converter.handleText("QQS#MDBS2:0,99,0,1.000#");
    EXPECT_EQ(converter.processVariables(t)[1], 0.0F) << "an offset beyond the reply reads nothing";
    converter.handleText("QQS#HART0:0,1,00,5,010#");
    for (float v : converter.processVariables(t)) {
        EXPECT_EQ(v, 0.0F) << "polling off";
    }
}
