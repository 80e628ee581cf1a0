// Tests of the identity and dynamic-variables reply decoders and of the variable value text.
#include "hart/HartReplies.h"
#include "tools/Conversions.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kCelsius = 12;
constexpr int kKiloPascal = 9;
constexpr int kPercent = 75;

std::size_t TextLength(const Bytes& block) {
    return std::min<std::size_t>(block.size(), 255);
}

std::optional<hart::IdentityReply> DecodeIdentity(const Bytes& block) {
    return hart::DecodeIdentityReply(block, TextLength(block));
}

hart::VariablesReply DecodeVariables(const Bytes& block) {
    return hart::DecodeVariablesReply(block, TextLength(block));
}

// Identity reply with five preambles: marker at 4.
const Bytes kIdentityReply = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x06, 0x80, 0x00, 0x0E, 0x00, 0x00, 0xFE,
                              0x26, 0x06, 0x05, 0x05, 0x01, 0x03, 0x08, 0x00, 0x00, 0x12, 0x34, 0x7A};

// Variables reply with five preambles: marker at 4, byte count 0x1A.
const Bytes kVariablesReply = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x86, 0xA6, 0x06, 0x00, 0x12,
                               0x34, 0x03, 0x1A, 0x00, 0x00, 0x40, 0x80, 0x00, 0x00, 0x20,
                               0x41, 0xC8, 0x00, 0x00, 0x20, 0x41, 0x20, 0x00, 0x00, 0x0C,
                               0x42, 0xC8, 0x00, 0x00, 0x39, 0x42, 0x48, 0x00, 0x00, 0x84};

constexpr std::size_t kVariablesMarker = 4;
constexpr std::size_t kByteCountIndex = kVariablesMarker + 8;

class HartReplies : public testing::Test {
protected:
    void SetUp() override { tools::SetDecimalSeparator('.'); }
    void TearDown() override { tools::SetDecimalSeparator('.'); }
};

void ExpectIdentityOfTheWorkedReply(const std::optional<hart::IdentityReply>& reply) {
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->manufacturerText, "38");
    EXPECT_EQ(reply->deviceTypeText, "6");
    EXPECT_EQ(reply->reportedPreamblesText, "5");
    EXPECT_EQ(reply->deviceIdText, "4660");
}

TEST_F(HartReplies, IdentityReplyFillsFieldsAndStoredIdentity) {
    const auto reply = DecodeIdentity(kIdentityReply);
    ExpectIdentityOfTheWorkedReply(reply);
    hart::HartIdentity stored{.pollingAddress = 7};
    hart::StoreIdentity(*reply, stored);
    EXPECT_EQ(stored.manufacturer, 0x26);
    EXPECT_EQ(stored.deviceType, 0x06);
    EXPECT_EQ(stored.deviceId, (std::array<uint8_t, 3>{0x00, 0x12, 0x34}));
    EXPECT_EQ(stored.reportedPreambles, 5);
    EXPECT_EQ(stored.pollingAddress, 7); // only the query writes it
}

TEST_F(HartReplies, IdentityTextsAreUnsignedDecimal) {
    Bytes block = kIdentityReply;
    block[4 + 8] = 0xFF;
    block[4 + 9] = 0x80;
    block[4 + 10] = 0x00;
    block[4 + 16] = 0xFF;
    block[4 + 17] = 0xFF;
    block[4 + 18] = 0xFF;
    const auto reply = DecodeIdentity(block);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->manufacturerText, "255");
    EXPECT_EQ(reply->deviceTypeText, "128");
    EXPECT_EQ(reply->reportedPreamblesText, "0");
    EXPECT_EQ(reply->deviceIdText, "16777215");
}

TEST_F(HartReplies, SixthLeadingPreambleGivesTheSameFields) {
    Bytes block = kIdentityReply;
    block.insert(block.begin(), 0xFF);
    ExpectIdentityOfTheWorkedReply(DecodeIdentity(block));
}

TEST_F(HartReplies, NoIdentityMarkerOrTooFewBytes) {
    EXPECT_FALSE(DecodeIdentity(kVariablesReply));
    EXPECT_FALSE(DecodeIdentity(Bytes{0xFF, 0x06, 0x80, 0x00}));
    EXPECT_FALSE(DecodeIdentity(Bytes{}));
    Bytes garbled = kIdentityReply;
    garbled[5] = 0x07;
    EXPECT_FALSE(DecodeIdentity(garbled));
}

TEST_F(HartReplies, MarkerSearchSkipsTheLastFourBytes) {
    for (std::size_t length = 0; length < 12; ++length) {
        for (std::size_t at = 0; at + 1 < length; ++at) {
            Bytes block(length, 0x00);
            block[at] = 0xFF;
            block[at + 1] = 0x86;
            const auto m = hart::FindReplyMarker(block, block.size(), 0x86);
            if (length >= 5 && at <= length - 5)
                EXPECT_EQ(m, at) << length << "/" << at;
            else
                EXPECT_FALSE(m) << length << "/" << at;
        }
    }
    // A marker in the last four bytes of a whole variables reply is not found.
    Bytes tail(30, 0x00);
    tail.insert(tail.end(), {0xFF, 0x86, 0x00, 0x00});
    EXPECT_FALSE(DecodeVariables(tail).variables[0]);
}

TEST_F(HartReplies, FirstMarkerWinsAndTextLengthBeyondBlockIsClamped) {
    const Bytes block = {0x00, 0xFF, 0x06, 0xFF, 0x06, 0x00, 0x00};
    EXPECT_EQ(hart::FindReplyMarker(block, block.size(), 0x06), 1u);
    EXPECT_EQ(hart::FindReplyMarker(block, 255, 0x06), 1u);
    EXPECT_FALSE(hart::FindReplyMarker(std::span(block).first(5), 255, 0x06));
}

TEST_F(HartReplies, IdentityBlockEndingBeforeTheIdentificationIsNoReply) {
    // Stale bytes of an earlier block sit right behind the short block in the receive buffer.
    std::array<uint8_t, 604> receiveBuffer;
    receiveBuffer.fill(0xEE);
    std::copy(kIdentityReply.begin(), kIdentityReply.end(), receiveBuffer.begin());
    const std::size_t lastIdByte = 4 + 18;
    EXPECT_FALSE(hart::DecodeIdentityReply(std::span(receiveBuffer).first(lastIdByte), lastIdByte));
    const auto complete =
        hart::DecodeIdentityReply(std::span(receiveBuffer).first(lastIdByte + 1), lastIdByte + 1);
    ExpectIdentityOfTheWorkedReply(complete);
}

TEST_F(HartReplies, VariablesReplyFillsAllFour) {
    const auto reply = DecodeVariables(kVariablesReply);
    const std::array<std::pair<int, const char*>, 4> expected = {
        {{kCelsius, "25"}, {kCelsius, "10"}, {kKiloPascal, "100"}, {kPercent, "50"}}};
    for (std::size_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(reply.variables[i]) << i;
        EXPECT_EQ(reply.variables[i]->unitIndex, expected[i].first) << i;
        EXPECT_EQ(reply.variables[i]->valueText, expected[i].second) << i;
    }
    EXPECT_EQ(hart::UnitEntries()[reply.variables[2]->unitIndex], "KPa   ");
}

TEST_F(HartReplies, NoVariablesMarkerDecodesNothing) {
    for (const Bytes& block : {kIdentityReply, Bytes{}, Bytes{0xFF, 0x86, 0, 0}}) {
        const auto reply = DecodeVariables(block);
        for (const auto& variable : reply.variables)
            EXPECT_FALSE(variable);
    }
}

TEST_F(HartReplies, ByteCountDecidesHowManyVariables) {
    struct Case {
        int byteCount;
        std::size_t variables;
    };
    for (const Case c : {Case{0, 1}, Case{10, 1}, Case{11, 1}, Case{12, 2}, Case{16, 2}, Case{17, 3},
                         Case{21, 3}, Case{22, 4}, Case{26, 4}, Case{27, 4}, Case{255, 4}}) {
        Bytes block = kVariablesReply;
        block[kByteCountIndex] = static_cast<uint8_t>(c.byteCount);
        const auto reply = DecodeVariables(block);
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_EQ(reply.variables[i].has_value(), i < c.variables)
                << "count " << c.byteCount << " var " << i + 1;
    }
}

TEST_F(HartReplies, VariableCutByTheBlockEndKeepsItsFields) {
    // The block ends inside variable k's five bytes: variables before it decode, it and later do not.
    for (std::size_t variable = 0; variable < 4; ++variable) {
        const std::size_t unitAt = kVariablesMarker + 15 + 5 * variable;
        for (std::size_t end = unitAt; end <= unitAt + 5; ++end) {
            const Bytes block(kVariablesReply.begin(),
                              kVariablesReply.begin() + static_cast<std::ptrdiff_t>(end));
            const auto reply = DecodeVariables(block);
            for (std::size_t i = 0; i < 4; ++i) {
                const bool expected = i < variable || (i == variable && end == unitAt + 5);
                EXPECT_EQ(reply.variables[i].has_value(), expected) << "end " << end << " var " << i + 1;
            }
        }
    }
}

TEST_F(HartReplies, FieldsBeyondTheReceivedTextButInsideTheBlockAreRead) {
    Bytes block(300, 0x00);
    const std::size_t m = 248;
    std::copy(kVariablesReply.begin() + kVariablesMarker, kVariablesReply.end(),
              block.begin() + static_cast<std::ptrdiff_t>(m));
    const auto reply = DecodeVariables(block);
    ASSERT_TRUE(reply.variables[3]);
    EXPECT_EQ(reply.variables[3]->valueText, "50");
    EXPECT_EQ(reply.variables[3]->unitIndex, kPercent);

    // The same reply at 251 starts within the last four bytes of the 255-byte text.
    Bytes late(300, 0x00);
    std::copy(kVariablesReply.begin() + kVariablesMarker, kVariablesReply.end(), late.begin() + 251);
    EXPECT_FALSE(DecodeVariables(late).variables[0]);

    Bytes identity(300, 0x00);
    std::copy(kIdentityReply.begin() + 4, kIdentityReply.end(), identity.begin() + 250);
    ExpectIdentityOfTheWorkedReply(DecodeIdentity(identity));
}

TEST_F(HartReplies, FormatHartValue) {
    struct Case {
        std::array<uint8_t, 4> bytes;
        const char* text;
    };
    for (const Case& c :
         {Case{{0x3F, 0x9D, 0xF3, 0xB6}, "1.2339999"}, Case{{0x7F, 0xA0, 0x00, 0x00}, "00000000"},
          Case{{0x7F, 0x80, 0x00, 0x00}, "00000000"}, Case{{0x7F, 0x7F, 0xFF, 0xFF}, "00000000"},
          Case{{0xFF, 0xC0, 0x00, 0x00}, "-NAN"}, Case{{0xFF, 0x80, 0x00, 0x00}, "-INF"},
          Case{{0x7F, 0xC0, 0x00, 0x00}, "00000000"}, Case{{0x00, 0x00, 0x00, 0x00}, "0"},
          Case{{0xC1, 0xC8, 0x00, 0x00}, "-25"}, Case{{0x42, 0xC8, 0x00, 0x00}, "100"},
          Case{{0x3D, 0xCC, 0xCC, 0xCD}, "0.1000000"}, Case{{0x00, 0x00, 0x00, 0x01}, "1.4012984"},
          Case{{0xFF, 0x7F, 0xFF, 0xFF}, "-3.402823"}}) {
        EXPECT_EQ(hart::FormatHartValue(c.bytes), c.text);
    }
}

TEST_F(HartReplies, FirstByte7FAlwaysGivesZeros) {
    for (int b1 = 0; b1 < 256; ++b1) {
        for (uint8_t b3 : {0x00, 0x01, 0xFF}) {
            const std::array<uint8_t, 4> bytes = {0x7F, static_cast<uint8_t>(b1), 0x00, b3};
            EXPECT_EQ(hart::FormatHartValue(bytes), "00000000") << b1;
        }
    }
}

TEST_F(HartReplies, FormatHartValueFollowsTheDecimalSeparator) {
    tools::SetDecimalSeparator(',');
    EXPECT_EQ(hart::FormatHartValue(std::array<uint8_t, 4>{0x3F, 0x9D, 0xF3, 0xB6}), "1,2339999");
}

} // namespace
