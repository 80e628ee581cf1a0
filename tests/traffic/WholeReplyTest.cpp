// One rule for "the reply is whole", checked against the simulated converter (written apart from
// config/ and traffic/): every cut of a query's reply reads as cut and tells a reader to wait for the
// rest; the whole reply reads good, and the parameter table's decoder finds every value in it.
#include <gtest/gtest.h>

#include <charconv>
#include <string>
#include <vector>

#include "profile/Configuration.h"
#include "sim/Converter.h"
#include "sim/Instrument.h"
#include "tools/Conversions.h"
#include "traffic/Interpreter.h"

namespace {

using traffic::ReplyEnd;
using traffic::Verdict;

std::span<const uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

traffic::Reading readAgainst(std::string_view request, std::string_view block, int32_t pending) {
    return traffic::Read(bytesOf(block), traffic::Direction::Received, pending, bytesOf(request));
}

TEST(WholeReply, AQueryReplyIsGoodExactlyWhenEveryFieldItsDecoderReadsIsThere) {
    sim::Converter converter;
    // Values that make the replies' widest fields: a read meter command, a float of every digit.
    for (const char* frame :
         {"QQS#CAMD01:1<04,\x76\x89\xFD\xAD", "QQS#DA2:2,47F12000,C0000000#", "QQS#ADR:247#"}) {
        ASSERT_TRUE(converter.handleText(frame).ends_with(":OK#")) << frame;
    }
    for (const profile::Query query : profile::kQueries) {
        const std::string request = profile::QueryFrame(query);
        const int32_t pending = traffic::QueryPending(profile::QueryKey(query));
        const std::string whole = converter.handleText(request);
        SCOPED_TRACE(whole);
        for (std::size_t n = 1; n < whole.size(); ++n) {
            const traffic::Reading cut = readAgainst(request, whole.substr(0, n), pending);
            EXPECT_EQ(cut.verdict, Verdict::Cut) << n << ": " << cut.meaning;
            EXPECT_EQ(traffic::ReplyEndOf(cut), ReplyEnd::Partial) << n;
            // A query sent as it stands (raw, a typed frame, the bus monitor's pairing) waits under no
            // pending command: its reply is still read by the query's own fields.
            const traffic::Reading typed = readAgainst(request, whole.substr(0, n), traffic::pending::None);
            EXPECT_EQ(typed.verdict, Verdict::Cut) << n << ": " << typed.meaning;
        }
        EXPECT_EQ(readAgainst(request, whole, traffic::pending::None).verdict, Verdict::Good);
        for (const std::string& block : {whole, "\x01\xFF" + whole}) {
            const traffic::Reading reading = readAgainst(request, block, pending);
            EXPECT_EQ(reading.verdict, Verdict::Good) << reading.meaning;
            EXPECT_EQ(traffic::ReplyEndOf(reading), ReplyEnd::Whole);
            EXPECT_EQ(traffic::Read(bytesOf(block), traffic::Direction::Received, pending).verdict,
                      Verdict::Good)
                << "without the request too";
        }
        profile::Configuration values;
        const auto problems = profile::DecodeReply(query, whole, values);
        EXPECT_TRUE(problems.empty()) << profile::ProblemText(problems.front());
        for (std::size_t p = 0; p < profile::ParameterCount(); ++p) {
            EXPECT_EQ(values.has(p), profile::Parameters()[p].query == query)
                << profile::Parameters()[p].name;
        }
    }
}

// While a totalizer output is on the decoder leaves the last four analog output rows alone.
TEST(WholeReply, TheLastFourOutputRowsCountOnlyWhileTheTotalizerIsOff) {
    const std::string firstRows = "DA1:1,42C80000,00000000,DA2:2,42C80000,00000000,DA3:3,42C80000,00000000,"
                                  "DA4:4,42C80000,00000000";
    const struct {
        std::string reply;
        Verdict verdict;
    } rows[] = {
        {"QQQ#QX2:DL:3," + firstRows + "#", Verdict::Good},
        {"QQQ#QX2:DL:0," + firstRows + "#", Verdict::Cut},
        {"QQQ#QX2:DL:3," + firstRows + ",DA5:0,42C8", Verdict::Cut},
    };
    for (const auto& row : rows) {
        const traffic::Reading reading = readAgainst("QQQ#QX2#", row.reply, traffic::pending::AnalogOutputs);
        EXPECT_EQ(reading.verdict, row.verdict) << reading.meaning;
    }
}

TEST(WholeReply, AReadMeterCommandIsAsLongAsItsCountSays) {
    const struct {
        const char* reply;
        Verdict verdict;
    } rows[] = {
        {"QQQ#QX3:HART0:1,1,00,5,010;CAMD01:1<04,76 89 FD AD;CAMD02:0<00,#", Verdict::Good},
        {"QQQ#QX3:HART0:1,1,00,5,010;CAMD02:0<00,;CAMD01:1<04,76 89 FD#", Verdict::Cut},
        // A count that is no number leaves the decoder its head alone to read, and to refuse.
        {"QX3 HART0:1,1,00,5,010 CAMD01:1<x4,# CAMD02:0<00,#", Verdict::Good},
    };
    for (const auto& row : rows) {
        const traffic::Reading reading = readAgainst("QQQ#QX3#", row.reply, traffic::pending::CustomHart);
        EXPECT_EQ(reading.verdict, row.verdict) << reading.meaning;
    }
}

} // namespace

namespace {

// The instrument's replies to the universal commands as the interpreter describes them, against the
// simulated instrument (written apart from hart/'s table): each value and unit it reports is named.
TEST(WholeReply, TheUniversalCommandsRepliesNameWhatTheInstrumentSent) {
    sim::Instrument instrument;
    const double seconds = 12.0;
    const auto variables = instrument.variables(seconds);
    const auto text = [](float value) {
        char buffer[32];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
        return std::string(buffer, end);
    };
    const struct {
        uint8_t command;
        std::vector<std::string> says;
    } rows[] = {
        {0, {"identity: manufacturer 26, device type 0C, asks for 5 preambles, device id 0A 1B 2C"}},
        {1, {"PV " + text(variables[0].value) + " (unit " + std::to_string(variables[0].unitCode) + ")"}},
        {2, {"loop current " + text(instrument.loopCurrent(seconds)) + " mA", "percent of range "}},
        {3,
         {"loop current " + text(instrument.loopCurrent(seconds)) + " mA",
          "QV " + text(variables[3].value) + " (unit " + std::to_string(variables[3].unitCode) + ")"}},
    };
    for (const auto& row : rows) {
        const std::string body{'\x02', '\x80', static_cast<char>(row.command), '\x00'};
        std::string request = std::string(5, '\xFF') + body;
        request += static_cast<char>(body[0] ^ body[1] ^ body[2] ^ body[3]);
        const auto reply = instrument.handle(request, seconds);
        ASSERT_TRUE(reply) << int(row.command);
        const traffic::Reading reading = readAgainst(request, *reply, traffic::pending::HartManual);
        EXPECT_EQ(reading.verdict, Verdict::Good) << reading.meaning;
        for (const std::string& said : row.says) {
            EXPECT_NE(reading.meaning.find(said), std::string::npos) << said << "\n" << reading.meaning;
        }
    }
}

} // namespace
