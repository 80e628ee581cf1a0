// Tests of the transparent-mode HART frames: layout, master bit, identity addressing and refusals.
#include "hart/HartFrames.h"
#include "tools/Conversions.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using hart::HartIdentity;

const HartIdentity kIdentity{.manufacturer = 0x26, .deviceType = 0x06, .deviceId = {0x00, 0x12, 0x34}};

Bytes Preambles(std::size_t count) {
    return Bytes(count, 0xFF);
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(HartFrames, WorkedIdentityQuery) {
    EXPECT_EQ(hart::IdentityQueryFrame("6", 0, true), Concat(Preambles(7), {0x02, 0x80, 0x00, 0x00, 0x82}));
}

TEST(HartFrames, WorkedVariablesQuery) {
    EXPECT_EQ(hart::VariablesQueryFrame("5", true, kIdentity),
              Concat(Preambles(6), {0x82, 0xA6, 0x06, 0x00, 0x12, 0x34, 0x03, 0x00, 0x07}));
}

TEST(HartFrames, WorkedWritePollingAddress) {
    EXPECT_EQ(hart::WritePollingAddressFrame("5", true, kIdentity, 1),
              Concat(Preambles(6), {0x82, 0xA6, 0x06, 0x00, 0x12, 0x34, 0x06, 0x01, 0x01, 0x02}));
}

TEST(HartFrames, WorkedManualFrame) {
    const auto parsed = hart::ParseHexBytes("76 89 FD AD", hart::kManualFrameMaxBytes);
    ASSERT_TRUE(parsed.ok()) << parsed.failure;
    EXPECT_EQ(hart::ManualFrame("6", parsed.bytes), Concat(Preambles(7), {0x76, 0x89, 0xFD, 0xAD, 0xAF}));
    EXPECT_EQ(hart::ManualFrame("6", Bytes{0x76}), Concat(Preambles(7), {0x76, 0x76}));
}

// Each builder with the preamble text as its only free input.
const std::vector<std::pair<std::string, std::function<Bytes(std::string_view)>>> kBuilders = {
    {"identity", [](std::string_view p) { return hart::IdentityQueryFrame(p, 0, true); }},
    {"variables", [](std::string_view p) { return hart::VariablesQueryFrame(p, true, kIdentity); }},
    {"write address",
     [](std::string_view p) { return hart::WritePollingAddressFrame(p, true, kIdentity, 3); }},
    {"manual",
     [](std::string_view p) {
         return hart::ManualFrame(p, Bytes{0x02, 0x80, 0x00, 0x00});
     }},
};

TEST(HartFrames, PreambleLengthZeroGivesOnePreamble) {
    for (const auto& [name, build] : kBuilders) {
        const Bytes zero = build("0");
        const Bytes six = build("6");
        EXPECT_EQ(zero[0], 0xFF) << name;
        EXPECT_NE(zero[1], 0xFF) << name;
        EXPECT_EQ(six.size(), zero.size() + 6) << name;
        EXPECT_EQ(Bytes(six.begin() + 6, six.end()), zero) << name;
    }
}

TEST(HartFrames, CheckByteClosesEveryFrame) {
    // The XOR of everything after the preambles, check byte included, is zero.
    for (const auto& [name, build] : kBuilders) {
        const Bytes frame = build("0");
        EXPECT_EQ(hart::CheckByte(std::span(frame).subspan(1)), 0) << name;
    }
}

TEST(HartFrames, ShortFrameAddressForEveryListIndex) {
    for (int index = 0; index < hart::kQueryAddressCount; ++index) {
        const Bytes master = hart::IdentityQueryFrame("0", index, true);
        const Bytes secondary = hart::IdentityQueryFrame("0", index, false);
        EXPECT_EQ(master,
                  (Bytes{0xFF, 0x02, uint8_t(0x80 + index), 0x00, 0x00, uint8_t(0x02 ^ 0x80 ^ index)}));
        EXPECT_EQ(secondary[2], index);
    }
    EXPECT_EQ(hart::IdentityQueryFrame("6", 9, true)[8], 0x89);
    EXPECT_EQ(hart::IdentityQueryFrame("6", 9, false)[8], 0x09);
}

TEST(HartFrames, SecondaryMasterClearsTopBitOfAllBuiltFrames) {
    const HartIdentity plain{.manufacturer = 0x11, .deviceType = 0x22, .deviceId = {0x33, 0x44, 0x55}};
    EXPECT_EQ(hart::IdentityQueryFrame("0", 4, false)[2], 0x04);
    EXPECT_EQ(hart::VariablesQueryFrame("0", false, plain),
              (Bytes{0xFF, 0x82, 0x11, 0x22, 0x33, 0x44, 0x55, 0x03, 0x00,
                     0x82 ^ 0x11 ^ 0x22 ^ 0x33 ^ 0x44 ^ 0x55 ^ 0x03}));
    EXPECT_EQ(hart::WritePollingAddressFrame("0", false, plain, 8),
              (Bytes{0xFF, 0x82, 0x11, 0x22, 0x33, 0x44, 0x55, 0x06, 0x01, 0x08,
                     0x82 ^ 0x11 ^ 0x22 ^ 0x33 ^ 0x44 ^ 0x55 ^ 0x06 ^ 0x01 ^ 0x08}));
    EXPECT_EQ(hart::VariablesQueryFrame("0", true, plain)[2], 0x91);
}

TEST(HartFrames, LongFrameBeforeAnyIdentityIsAddressedToZeros) {
    const Bytes frame = hart::VariablesQueryFrame("0", true, HartIdentity{});
    EXPECT_EQ(Bytes(frame.begin() + 2, frame.begin() + 7), (Bytes{0x80, 0x00, 0x00, 0x00, 0x00}));
}

TEST(HartFrames, ManufacturerIsOredInWhole) {
    EXPECT_EQ(hart::VariablesQueryFrame("0", true, kIdentity)[2], 0xA6);
    EXPECT_EQ(hart::VariablesQueryFrame("0", false, kIdentity)[2], 0x26);
    EXPECT_EQ(hart::WritePollingAddressFrame("0", false, kIdentity, 0)[2], 0x26);
    // A manufacturer byte with its own top bit reads as master whatever the mode.
    const HartIdentity topBit{.manufacturer = 0xC5};
    EXPECT_EQ(hart::VariablesQueryFrame("0", false, topBit)[2], 0xC5);
}

TEST(HartFrames, SettableAddressForEveryListIndex) {
    for (int index = 0; index < hart::kSettableAddressCount; ++index)
        EXPECT_EQ(hart::WritePollingAddressFrame("0", true, kIdentity, index)[9], index);
}

std::string RefusalOf(const std::function<void()>& build) {
    try {
        build();
    } catch (const tools::InputRefused& e) {
        return e.what();
    }
    return "<not refused>";
}

TEST(HartFrames, PreambleLengthBoundaries) {
    struct Case {
        const char* name;
        std::function<Bytes(std::string_view)> build;
        int longest;
    };
    const Bytes fifteen(15, 0x11);
    const std::vector<Case> cases = {
        {"identity", kBuilders[0].second, 498},
        {"variables", kBuilders[1].second, 494},
        {"write address", kBuilders[2].second, 493},
        {"manual 4 bytes", kBuilders[3].second, 498},
        {"manual 15 bytes", [&](std::string_view p) { return hart::ManualFrame(p, fifteen); }, 487},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.build(std::to_string(c.longest)).size(), hart::kMaxFrameLength) << c.name;
        const std::string tooLong = RefusalOf([&] { c.build(std::to_string(c.longest + 1)); });
        EXPECT_NE(tooLong.find("Preamble Length"), std::string::npos) << c.name << ": " << tooLong;
        EXPECT_NE(tooLong.find("0 to " + std::to_string(c.longest)), std::string::npos)
            << c.name << ": " << tooLong;
        EXPECT_NE(RefusalOf([&] { c.build("-1"); }).find("Preamble Length"), std::string::npos) << c.name;
        EXPECT_NE(RefusalOf([&] { c.build("-2147483648"); }).find("Preamble Length"), std::string::npos)
            << c.name;
        EXPECT_NE(RefusalOf([&] { c.build("2147483647"); }).find("Preamble Length"), std::string::npos)
            << c.name;
    }
}

TEST(HartFrames, AddressListWithoutSelectionIsRefused) {
    for (int index : {-1, 10, 1000}) {
        const std::string message = RefusalOf([&] { hart::IdentityQueryFrame("6", index, true); });
        EXPECT_NE(message.find("HART Address"), std::string::npos) << message;
        EXPECT_NE(message.find("0 to 9"), std::string::npos) << message;
    }
    for (int index : {-1, 9, 1000}) {
        const std::string message =
            RefusalOf([&] { hart::WritePollingAddressFrame("6", true, kIdentity, index); });
        EXPECT_NE(message.find("HART Address Setting"), std::string::npos) << message;
        EXPECT_NE(message.find("0 to 8"), std::string::npos) << message;
    }
}

TEST(HartFrames, BadPreambleTextRaisesTheConversionMessage) {
    for (const std::string text : {"", "abc", "6.0", "6 "}) {
        for (const auto& [name, build] : kBuilders) {
            try {
                build(text);
                ADD_FAILURE() << name << " accepted '" << text << "'";
            } catch (const tools::ConversionError& e) {
                EXPECT_EQ(std::string(e.what()), "'" + text + "' is not a valid integer value") << name;
            }
        }
    }
}

TEST(HartFrames, PreambleIsCheckedBeforeTheListIndex) {
    EXPECT_THROW(hart::IdentityQueryFrame("x", -1, true), tools::ConversionError);
    EXPECT_NE(RefusalOf([] { hart::IdentityQueryFrame("-1", -1, true); }).find("Preamble Length"),
              std::string::npos);
    EXPECT_THROW(hart::WritePollingAddressFrame("x", true, kIdentity, -1), tools::ConversionError);
    EXPECT_NE(
        RefusalOf([] { hart::WritePollingAddressFrame("999", true, kIdentity, -1); }).find("Preamble Length"),
        std::string::npos);
}

} // namespace
