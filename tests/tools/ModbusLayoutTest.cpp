// The MODBUS RTU layout reader: a frame's length comes from its function and byte count alone (or its
// CRC where the layout is open), so a frame whose fields no master or slave sends is still laid out
// (and described), while the separate verdict keeps such frames out of a stream; how many bytes each
// answer waits for; and what a reply must repeat of the request it answers.
#include "tools/ModbusLayout.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/tools/ReferenceCrc.h"
#include "tests/traffic/TrafficBytes.h"

namespace {

using tools::ModbusRole;
using Is = tools::ModbusLayout::Is;
using Fit = tools::ModbusFieldsFit::Is;

TEST(ModbusLayout, LengthApartFromFieldsThatHold) {
    struct Case {
        const char* name;
        ModbusRole role;
        std::vector<uint8_t> bytes;
        Is is;
        std::size_t length;
        Fit fit;
        std::size_t need; // the bytes the verdict waits for
    };
    constexpr auto Q = ModbusRole::Request;
    constexpr auto R = ModbusRole::Reply;
    const Case cases[] = {
        {"read of 0 registers", Q, {1, 3, 0, 0, 0, 0}, Is::Known, 8, Fit::No, 0},
        {"read before its count", Q, {1, 3, 0, 0}, Is::Known, 8, Fit::Incomplete, 6},
        {"coil written neither on nor off", Q, {1, 5, 0, 1, 0x12, 0x34}, Is::Known, 8, Fit::No, 0},
        {"register write", Q, {1, 6}, Is::Known, 8, Fit::Yes, 0},
        {"byte count not matching the count", Q, {1, 16, 0, 0, 0, 2, 3}, Is::Known, 12, Fit::No, 0},
        {"write before its byte count", Q, {1, 16, 0, 0, 0, 2}, Is::Incomplete, 7, Fit::Incomplete, 7},
        {"read/write", Q, {1, 23, 0, 0, 0, 2, 0, 16, 0, 1, 2}, Is::Known, 15, Fit::Yes, 0},
        {"read/write before its byte count", Q, {1, 23, 0, 0, 0, 2}, Is::Incomplete, 11, Fit::Incomplete, 11},
        {"unknown function", Q, {1, 9, 0, 0, 0, 0}, Is::Unknown, 0, Fit::No, 0},
        {"registers in an odd byte count", R, {1, 3, 3}, Is::Known, 8, Fit::No, 0},
        {"coils", R, {1, 1, 1}, Is::Known, 6, Fit::Yes, 0},
        {"reply from the broadcast address", R, {0, 3}, Is::Incomplete, 3, Fit::No, 0},
        {"write of 0 registers acknowledged", R, {1, 16, 0, 0, 0, 0}, Is::Known, 8, Fit::No, 0},
        {"coil write echoed before its value", R, {1, 5, 0, 1}, Is::Known, 8, Fit::Incomplete, 6},
        {"exception to an unknown function", R, {1, 0x89, 2}, Is::Known, 5, Fit::No, 0},
        {"exception of an unknown code", R, {1, 0x83, 7}, Is::Known, 5, Fit::No, 0},
        {"exception before its code", R, {1, 0x83}, Is::Known, 5, Fit::Incomplete, 3},
    };
    for (const Case& c : cases) {
        const auto [layout, fields] = tools::ReadModbusFrame(c.bytes, c.role);
        EXPECT_EQ(layout.is, c.is) << c.name;
        EXPECT_EQ(layout.length, c.length) << c.name;
        EXPECT_EQ(fields.is, c.fit) << c.name;
        EXPECT_EQ(fields.need, c.need) << c.name;
    }
}

} // namespace

namespace {

using Bytes = std::vector<uint8_t>;

Bytes framed(const char* text) {
    Bytes frame = traffictest::hex(text);
    const uint16_t crc = referenceCrc(frame);
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

// One row per public function (and diagnostic and MEI kind): a request and its normal reply as
// masters and slaves send them.
struct Exchange {
    const char* name;
    Bytes request;
    Bytes reply;
};

const std::vector<Exchange>& exchanges() {
    static const std::vector<Exchange> rows = {
        {"read coils", framed("01 01 00 13 00 13"), framed("01 01 03 CD 6B 05")},
        {"read discrete inputs", framed("01 02 00 C4 00 16"), framed("01 02 03 AC DB 35")},
        {"read holding registers", framed("01 03 00 02 00 02"), framed("01 03 04 42 C8 00 00")},
        {"read input registers", framed("01 04 00 08 00 01"), framed("01 04 02 00 0A")},
        {"write single coil", framed("01 05 00 AC FF 00"), framed("01 05 00 AC FF 00")},
        {"write single register", framed("01 06 00 01 00 03"), framed("01 06 00 01 00 03")},
        {"read exception status", framed("01 07"), framed("01 07 6D")},
        {"return query data", framed("01 08 00 00 A5 37 01"), framed("01 08 00 00 A5 37 01")},
        {"restart communications", framed("01 08 00 01 FF 00"), framed("01 08 00 01 FF 00")},
        {"a diagnostic counter", framed("01 08 00 0E 00 00"), framed("01 08 00 0E 01 2C")},
        {"Modbus Plus statistics", framed("01 08 00 15 00 03"),
         framed("01 08 00 15 00 03 00 6C 00 01 00 02")},
        {"get comm event counter", framed("01 0B"), framed("01 0B FF FF 01 08")},
        {"get comm event log", framed("01 0C"), framed("01 0C 08 00 00 01 08 01 21 20 00")},
        {"write multiple coils", framed("01 0F 00 13 00 0A 02 CD 01"), framed("01 0F 00 13 00 0A")},
        {"write multiple registers", framed("01 10 00 01 00 02 04 00 0A 01 02"), framed("01 10 00 01 00 02")},
        {"report server ID", framed("01 11"), framed("01 11 03 50 4D FF")},
        {"read file record", framed("01 14 0E 06 00 04 00 01 00 02 06 00 03 00 09 00 02"),
         framed("01 14 0C 05 06 0D FE 00 20 05 06 33 CD 00 40")},
        {"write file record", framed("01 15 0D 06 00 04 00 07 00 03 06 AF 04 BE 10 0D"),
         framed("01 15 0D 06 00 04 00 07 00 03 06 AF 04 BE 10 0D")},
        {"mask write register", framed("01 16 00 04 00 F2 00 25"), framed("01 16 00 04 00 F2 00 25")},
        {"read/write multiple registers", framed("01 17 00 03 00 06 00 0E 00 03 06 00 FF 00 FF 00 FF"),
         framed("01 17 0C 00 FE 0A CD 00 01 00 03 00 0D 00 FF")},
        {"read FIFO queue", framed("01 18 04 DE"), framed("01 18 00 06 00 02 01 B8 12 84")},
        {"CANopen general reference", framed("01 2B 0D 00 01 02"), framed("01 2B 0D 00 01 02 03 04 05")},
        {"read device identification", framed("01 2B 0E 01 00"),
         framed("01 2B 0E 01 83 00 00 02 00 03 41 42 43 01 02 50 4D")},
    };
    return rows;
}

// The length the bytes read as `role` give: Known as such, Open by the CRC; 0 otherwise.
std::size_t lengthOf(const Bytes& bytes, ModbusRole role) {
    const tools::ModbusLayout layout = tools::ModbusFrameLength(bytes, role);
    return layout.is == Is::Known ? layout.length : 0;
}

TEST(ModbusLayout, EveryPublicFunctionFramedWholeAndNeverShorterFromItsFirstBytes) {
    for (const Exchange& e : exchanges()) {
        SCOPED_TRACE(e.name);
        for (const auto& [frame, role] :
             {std::pair{e.request, ModbusRole::Request}, {e.reply, ModbusRole::Reply}}) {
            const auto [layout, fields] = tools::ReadModbusFrame(frame, role);
            EXPECT_EQ(fields.is, Fit::Yes) << (role == ModbusRole::Request ? "request" : "reply");
            EXPECT_EQ(lengthOf(frame, role), frame.size())
                << (role == ModbusRole::Request ? "request" : "reply");
            // Any first part of the frame asks for more, or is laid out as the whole frame.
            for (std::size_t n = 0; n < frame.size(); ++n) {
                const Bytes part(frame.begin(), frame.begin() + static_cast<long>(n));
                const tools::ModbusFrameShape shape = tools::ReadModbusFrame(part, role);
                if (shape.layout.is == Is::Known) {
                    EXPECT_EQ(shape.layout.length, frame.size()) << n << " bytes";
                } else if (shape.layout.is == Is::Incomplete) {
                    EXPECT_GT(shape.layout.length, n) << n << " bytes";
                    EXPECT_LE(shape.layout.length, frame.size()) << n << " bytes";
                }
                EXPECT_NE(shape.fields.is, Fit::No) << n << " bytes";
            }
        }
        const tools::ModbusAnswer answer = tools::ModbusReplyTo(e.request, e.reply);
        EXPECT_EQ(answer.is, tools::ModbusAnswer::Is::Known);
        EXPECT_EQ(answer.length, e.reply.size());
        EXPECT_EQ(answer.mismatch, tools::ModbusAnswer::Mismatch::None);
        // Every function's exception reply answers it.
        const Bytes exception = framed(e.request[1] == 0x2B ? "01 AB 01" : "01 80 04");
        Bytes refused = exception;
        refused[1] = static_cast<uint8_t>(e.request[1] | 0x80);
        const uint16_t crc = referenceCrc(std::span(refused).first(3));
        refused[3] = static_cast<uint8_t>(crc & 0xFF);
        refused[4] = static_cast<uint8_t>(crc >> 8);
        const tools::ModbusAnswer refusal = tools::ModbusReplyTo(e.request, refused);
        EXPECT_TRUE(refusal.is == tools::ModbusAnswer::Is::Known && refusal.exception && refusal.length == 5);
        EXPECT_EQ(lengthOf(refused, ModbusRole::Reply), 5u);
    }
}

TEST(ModbusLayout, PublicFunctionsAreExactlyThoseWithALayout) {
    const std::vector<int> expected = {1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 15, 16, 17, 20, 21, 22, 23, 24, 43};
    std::vector<int> known;
    for (int function = 0; function < 256; ++function) {
        const Bytes frame = {1, static_cast<uint8_t>(function), 0, 0, 0, 0, 0, 0};
        const bool laidOut = tools::ReadModbusFrame(frame, ModbusRole::Request).layout.is != Is::Unknown;
        EXPECT_EQ(laidOut, tools::IsModbusFunction(static_cast<uint8_t>(function))) << function;
        if (tools::IsModbusFunction(static_cast<uint8_t>(function))) {
            known.push_back(function);
        }
    }
    EXPECT_EQ(known, expected);
}

TEST(ModbusLayout, AReplyThatDoesNotRepeatWhatItsRequestFixesIsNotItsReply) {
    using Mismatch = tools::ModbusAnswer::Mismatch;
    struct Case {
        const char* name;
        Bytes request;
        Bytes reply;
        tools::ModbusAnswer::Is is;
        Mismatch mismatch;
    };
    constexpr auto Known = tools::ModbusAnswer::Is::Known;
    const Case cases[] = {
        {"registers of another count", framed("01 03 00 02 00 02"), framed("01 03 02 00 0A"), Known,
         Mismatch::ByteCount},
        {"a register write of another value", framed("01 06 00 01 00 03"), framed("01 06 00 01 00 04"), Known,
         Mismatch::Repeated},
        {"a write of several at another start", framed("01 10 00 01 00 02 04 00 0A 01 02"),
         framed("01 10 00 02 00 02"), Known, Mismatch::Repeated},
        {"a mask write with another mask", framed("01 16 00 04 00 F2 00 25"),
         framed("01 16 00 04 00 F2 00 26"), Known, Mismatch::Repeated},
        {"a loopback that came back changed", framed("01 08 00 00 A5 37"), framed("01 08 00 00 A5 38"), Known,
         Mismatch::Repeated},
        {"another diagnostic's counter", framed("01 08 00 0E 00 00"), framed("01 08 00 0F 00 01"), Known,
         Mismatch::SubFunction},
        {"device identification of another read code", framed("01 2B 0E 01 00"),
         framed("01 2B 0E 02 83 00 00 01 00 01 41"), Known, Mismatch::SubFunction},
        {"another slave", framed("01 07"), framed("02 07 6D"), tools::ModbusAnswer::Is::No, Mismatch::None},
        {"an exception of no known code", framed("01 07"), framed("01 87 07"), tools::ModbusAnswer::Is::No,
         Mismatch::None},
        {"an open layout whose CRC is nowhere", framed("01 2B 0D 00 01"),
         traffictest::hex("01 2B 0D 00 01 02 03 04"), tools::ModbusAnswer::Is::No, Mismatch::None},
        {"device objects cut before the last", framed("01 2B 0E 01 00"),
         traffictest::hex("01 2B 0E 01 83 00 00 02 00 03 41"), tools::ModbusAnswer::Is::Incomplete,
         Mismatch::None},
    };
    for (const Case& c : cases) {
        const tools::ModbusAnswer answer = tools::ModbusReplyTo(c.request, c.reply);
        EXPECT_EQ(answer.is, c.is) << c.name;
        EXPECT_EQ(answer.mismatch, c.mismatch) << c.name;
    }
}

} // namespace
