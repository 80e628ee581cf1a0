// The MODBUS side: libmodbus's replies to read requests carry the registers the converter holds, in
// the byte order of each variable's parse format, with a valid CRC; libmodbus answers what it cannot
// serve with its exceptions, every function it is not given gets exception 1 and a request of the
// wrong length exception 3; other slaves get nothing.
#include <gtest/gtest.h>

#include <bit>

#include "sim/Converter.h"
#include "sim/ModbusSide.h"
#include "tests/sim/Bytes.h"

using namespace simtest;

namespace {

constexpr double kAt = 42.0;

struct Fixture {
    sim::Converter converter;
    sim::ModbusSide modbus{sim::kHoldingRegisters};

    std::string ask(const std::string& request) {
        return modbus.reply(request, converter.slaveAddress(), converter.holdingRegisters(kAt));
    }
};

uint16_t registerAt(const std::string& reply, std::size_t index) {
    return static_cast<uint16_t>(byteAt(reply, 3 + 2 * index) << 8 | byteAt(reply, 4 + 2 * index));
}

} // namespace

TEST(ModbusSide, TheDefaultReadGetsEveryRegisterTheConverterHolds) {
    Fixture f;
    const std::string reply = f.ask(modbusFrame("01 03 00 00 00 12"));
    ASSERT_EQ(reply.size(), 5u + 36u);
    EXPECT_EQ(reply.substr(0, 3), hex("01 03 24"));
    EXPECT_TRUE(modbusCrcGood(reply));
    const auto registers = f.converter.holdingRegisters(kAt);
    for (std::size_t i = 0; i < registers.size(); ++i) {
        EXPECT_EQ(registerAt(reply, i), registers[i]) << "register 4000" << i + 1;
    }
    // Variable 1 (40003, 40004) is the instrument's pressure, most significant word first.
    const uint32_t bits = uint32_t{registerAt(reply, 2)} << 16 | registerAt(reply, 3);
    EXPECT_EQ(std::bit_cast<float>(bits), f.converter.instrument().variables(kAt)[0].value);
}

TEST(ModbusSide, EachVariableInTheByteOrderOfItsParseFormat) {
    for (int n = 1; n <= 8; ++n) {
        for (char order : {'0', '1'}) {
            Fixture f;
            // Both read meter commands poll the dynamic variables, so every variable has a value:
            // offsets 7, 12, 17, 22 of the command 3 data.
            f.converter.handleText("QQS#CAMD02:1<08," + hex("82 A6 0C 0A 1B 2C 03 00"));
            const int offset = 2 + 5 * ((n - 1) % 4 + 1);
            const std::string d = std::to_string(n);
            const std::string set = "QQS#MDBS" + d + ":" + order + "," + std::to_string(offset / 10) +
                                    std::to_string(offset % 10) + ",0,1.000#";
            ASSERT_EQ(f.converter.handleText(set), "QQS#MDBS" + d + ":OK#");
            const float expected = f.converter.processVariables(kAt)[n - 1];
            ASSERT_NE(expected, 0.0F);

            const std::string request = withCrc({0x01, 0x03, 0x00, static_cast<char>(2 * n), 0x00, 0x02});
            const std::string reply = f.ask(request);
            ASSERT_EQ(reply.size(), 9u) << "variable " << n;
            EXPECT_TRUE(modbusCrcGood(reply));
            const uint16_t first = registerAt(reply, 0);
            const uint16_t second = registerAt(reply, 1);
            const uint32_t bits =
                order == '0' ? (uint32_t{first} << 16 | second) : (uint32_t{second} << 16 | first);
            EXPECT_EQ(std::bit_cast<float>(bits), expected) << "variable " << n << ", order " << order;
        }
    }
}

TEST(ModbusSide, LibmodbusExceptionsAndSilenceForOtherSlaves) {
    Fixture f;
    const struct {
        const char* name;
        std::string request;
        std::string reply;
    } cases[] = {
        {"one register past the map", modbusFrame("01 03 00 00 00 13"), modbusFrame("01 83 02")},
        {"a start past the map", modbusFrame("01 03 00 12 00 01"), modbusFrame("01 83 02")},
        {"a write finds no writable register", modbusFrame("01 06 00 02 12 34"), modbusFrame("01 86 02")},
        {"coils are not served", modbusFrame("01 01 00 00 00 01"), modbusFrame("01 81 02")},
        {"a write of several registers", modbusFrame("01 10 00 02 00 01 02 12 34"), modbusFrame("01 90 02")},
        {"another slave", modbusFrame("02 03 00 00 00 12"), ""},
        {"a broadcast", modbusFrame("00 03 00 00 00 12"), ""},
        {"read exception status", modbusFrame("01 07"), modbusFrame("01 87 01")},
        {"diagnostics", modbusFrame("01 08 00 00 12 34"), modbusFrame("01 88 01")},
        {"report server ID", modbusFrame("01 11"), modbusFrame("01 91 01")},
        {"mask write register", modbusFrame("01 16 00 02 FF 00 00 12"), modbusFrame("01 96 01")},
        {"read and write registers", modbusFrame("01 17 00 00 00 02 00 04 00 01 02 00 2A"),
         modbusFrame("01 97 01")},
        {"read device identification", modbusFrame("01 2B 0E 01 00"), modbusFrame("01 AB 01")},
        {"a user-defined function", modbusFrame("01 41 00 01"), modbusFrame("01 C1 01")},
        {"function 0", modbusFrame("01 00"), modbusFrame("01 80 01")},
        {"a function code of the exception range", modbusFrame("01 83 02"), ""},
        {"a read with a zero after its CRC, which keeps the CRC good",
         modbusFrame("01 03 00 00 00 12") + '\0', modbusFrame("01 83 03")},
        {"a read cut short", modbusFrame("01 03 00 00"), modbusFrame("01 83 03")},
        {"a write of several registers counting more bytes than it has",
         modbusFrame("01 10 00 02 00 01 04 12 34"), modbusFrame("01 90 03")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(f.ask(c.request), c.reply) << c.name;
    }
    f.converter.handleText("QQS#ADR:005#");
    EXPECT_EQ(f.ask(modbusFrame("01 03 00 00 00 12")), "") << "the old slave address";
    EXPECT_EQ(f.ask(modbusFrame("05 03 00 00 00 12")).substr(0, 3), hex("05 03 24")) << "the new one";
}
