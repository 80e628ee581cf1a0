// The HART instrument: identity and variables replies laid out where a master reads them, polling
// address change, response code 64, and silence for frames that are not its own.
#include <gtest/gtest.h>

#include "hart/UnitTable.h"
#include "sim/Instrument.h"
#include "tests/sim/Bytes.h"

using namespace simtest;
using sim::Instrument;

namespace {

constexpr double kAt = 30.0; // seconds after power-up
const std::string kIdentityQuery = hartFrame("02 80 00 00");
const std::string kVariablesQuery = hartFrame("82 A6 0C 0A 1B 2C 03 00");

std::string answer(Instrument& instrument, const std::string& frame) {
    const auto reply = instrument.handle(frame, kAt);
    return reply.value_or("<no answer>");
}

// Response code of a reply (the first data byte).
int responseCode(const std::string& reply, uint8_t delimiter) {
    const std::size_t m = replyMarker(reply, delimiter);
    const std::size_t data = m + 2 + ((delimiter & 0x80) ? 5 : 1) + 2;
    return byteAt(reply, data);
}

// The check byte the tool's side computes over the body (after the preambles, before the check byte).
bool checkByteGood(std::string_view reply) {
    const std::size_t body = reply.find_first_not_of('\xFF');
    return hart::CheckByte(bytesOf(reply.substr(body, reply.size() - 1 - body))) ==
           byteAt(reply, reply.size() - 1);
}

} // namespace

TEST(Instrument, IdentityReplyCarriesTheUniqueAddressWhereItIsRead) {
    Instrument instrument;
    const std::string reply = answer(instrument, kIdentityQuery);
    const std::size_t m = replyMarker(reply, 0x06);
    ASSERT_NE(m, std::string::npos) << "no FF 06 marker";
    EXPECT_EQ(m, 4u) << "five preambles";
    EXPECT_EQ(byteAt(reply, m + 2), 0x80) << "master bit echoed, polling address 0";
    EXPECT_EQ(byteAt(reply, m + 3), 0x00) << "command";
    EXPECT_EQ(byteAt(reply, m + 4), 14) << "byte count";
    EXPECT_EQ(byteAt(reply, m + 7), 0xFE);
    EXPECT_EQ(byteAt(reply, m + 8), 0x26) << "manufacturer";
    EXPECT_EQ(byteAt(reply, m + 9), 0x0C) << "device type";
    EXPECT_EQ(byteAt(reply, m + 10), 5) << "preambles asked for";
    EXPECT_EQ(reply.substr(m + 16, 3), hex("0A 1B 2C")) << "device identification";
    EXPECT_EQ(reply.size(), m + 20);
    EXPECT_TRUE(checkByteGood(reply));
}

TEST(Instrument, VariablesReplyHoldsFourValuesInTableUnitsThatDrift) {
    Instrument instrument;
    const std::string reply = answer(instrument, kVariablesQuery);
    const std::size_t m = replyMarker(reply, 0x86);
    ASSERT_NE(m, std::string::npos) << "no FF 86 marker";
    EXPECT_EQ(reply.substr(m + 2, 5), hex("A6 0C 0A 1B 2C"));
    EXPECT_EQ(byteAt(reply, m + 8), 26) << "byte count of a full command 3 reply";
    EXPECT_TRUE(checkByteGood(reply));
    const auto variables = instrument.variables(kAt);
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(byteAt(reply, m + 15 + 5 * k), variables[k].unitCode) << "unit of variable " << k + 1;
        EXPECT_EQ(floatAt(reply, m + 16 + 5 * k), variables[k].value) << "value of variable " << k + 1;
        EXPECT_NE(hart::UnitIndex(variables[k].unitCode), hart::kOtherUnitIndex) << "unit in the table";
        EXPECT_NE(instrument.variables(kAt + 20)[k].value, variables[k].value)
            << "variable " << k + 1 << " drifts";
    }
    EXPECT_NEAR(variables[0].value, 101.3, 3.0) << "pressure near one atmosphere, in kPa";
    EXPECT_NEAR(floatAt(reply, m + 11), 4 + 16 * variables[0].value / 200, 1e-4) << "loop current";
}

TEST(Instrument, PollingAddressChangeMovesTheShortAddress) {
    Instrument instrument;
    const std::string reply = answer(instrument, hartFrame("82 A6 0C 0A 1B 2C 06 01 03"));
    ASSERT_NE(replyMarker(reply, 0x86), std::string::npos);
    EXPECT_EQ(responseCode(reply, 0x86), 0);
    EXPECT_EQ(reply.substr(reply.size() - 2, 1), hex("03")) << "the new address echoed";
    EXPECT_EQ(instrument.pollingAddress(), 3);

    EXPECT_EQ(answer(instrument, kIdentityQuery), "<no answer>") << "the old address is no longer answered";
    EXPECT_NE(replyMarker(answer(instrument, hartFrame("02 83 00 00")), 0x06), std::string::npos);
    EXPECT_NE(replyMarker(answer(instrument, kVariablesQuery), 0x86), std::string::npos)
        << "the unique address still works";

    const std::string refused = answer(instrument, hartFrame("82 A6 0C 0A 1B 2C 06 01 10"));
    EXPECT_EQ(responseCode(refused, 0x86), 2) << "16 is no HART 5 polling address";
    EXPECT_EQ(instrument.pollingAddress(), 3);
}

TEST(Instrument, AnswersOnlyItsOwnWellFormedRequests) {
    Instrument instrument;
    struct Case {
        const char* name;
        std::string frame;
        bool answered;
    };
    const Case cases[] = {
        {"secondary master at address 0", hartFrame("02 00 00 00"), true},
        {"another polling address", hartFrame("02 81 00 00"), false},
        {"long frame of zeros, sent before any identity is known", hartFrame("82 80 00 00 00 00 03 00"),
         false},
        {"another device type", hartFrame("82 A6 0D 0A 1B 2C 03 00"), false},
        {"manufacturer byte OR-ed in whole still matches", hartFrame("82 26 0C 0A 1B 2C 03 00"), true},
        {"a slave's reply is not a request", hartFrame("06 80 00 00"), false},
        {"bad check byte", kIdentityQuery.substr(0, kIdentityQuery.size() - 1) + "\x00", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(instrument.handle(c.frame, kAt).has_value(), c.answered) << c.name;
    }
    const std::string secondary = answer(instrument, hartFrame("02 00 00 00"));
    EXPECT_EQ(byteAt(secondary, replyMarker(secondary, 0x06) + 2), 0x00) << "master bit clear in the reply";
}

TEST(Instrument, UnimplementedCommandsGetResponseCode64) {
    Instrument instrument;
    for (const char* command : {"0C", "30", "FF"}) {
        const std::string reply =
            answer(instrument, hartFrame(std::string("82 A6 0C 0A 1B 2C ") + command + " 00"));
        const std::size_t m = replyMarker(reply, 0x86);
        ASSERT_NE(m, std::string::npos) << command;
        EXPECT_EQ(byteAt(reply, m + 8), 2) << command << ": status bytes only";
        EXPECT_EQ(byteAt(reply, m + 9), 64) << command;
        EXPECT_TRUE(checkByteGood(reply));
    }
}
