// The status line's texts without a window: the port's state, the verdict on each reply, the wait
// with its time left, and a MODBUS reply's variables in their parse format's word order.
#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "exchange/Rules.h"
#include "exchange/ExchangeStatus.h"
#include "hart/HartFrames.h"
#include "tools/Conversions.h"
#include "tools/ModbusCrc.h"
#include "tools/ModbusRequest.h"

namespace {

using exchange::ExchangeStatus;
namespace pending = exchange::pending;

std::vector<uint8_t> bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<uint8_t> withCrc(std::vector<uint8_t> frame, bool corrupt = false) {
    const tools::CrcBytes crc = tools::ModbusCrc16(frame);
    frame.push_back(crc.low);
    frame.push_back(static_cast<uint8_t>(corrupt ? crc.high ^ 0x5A : crc.high));
    return frame;
}

std::vector<uint8_t> readRequest(int start, int count) {
    const auto request =
        tools::ReadHoldingRegistersRequest("1", std::to_string(start), std::to_string(count));
    return {request.begin(), request.end()};
}

// A read reply from slave 1 whose registers are `values`.
std::vector<uint8_t> readReply(const std::vector<uint16_t>& values, bool corrupt = false) {
    std::vector<uint8_t> frame{0x01, 0x03, static_cast<uint8_t>(2 * values.size())};
    for (const uint16_t v : values) {
        frame.push_back(static_cast<uint8_t>(v >> 8));
        frame.push_back(static_cast<uint8_t>(v & 0xFF));
    }
    return withCrc(frame, corrupt);
}

exchange::WordOrders allHighWordFirst() {
    exchange::WordOrders orders;
    orders.fill(tools::WordOrder::HighWordFirst);
    return orders;
}

uint16_t highWord(float f) {
    return static_cast<uint16_t>(std::bit_cast<uint32_t>(f) >> 16);
}
uint16_t lowWord(float f) {
    return static_cast<uint16_t>(std::bit_cast<uint32_t>(f) & 0xFFFF);
}

// The instrument's answer to command 0 at polling address 0: manufacturer 0x26, device type 0x0C.
std::vector<uint8_t> hartIdentityReply(bool corrupt) {
    constexpr std::size_t kPreambles = 5;
    std::vector<uint8_t> frame{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x06, 0x80, 0x00, 0x0E, 0x00, 0x00, 0xFE,
                               0x26, 0x0C, 0x05, 0x07, 0x01, 0x00, 0x00, 0x00, 0x0A, 0x1B, 0x2C};
    const uint8_t check = hart::CheckByte(std::span(frame).subspan(kPreambles));
    frame.push_back(corrupt ? static_cast<uint8_t>(check ^ 0x01) : check);
    return frame;
}

class Status : public ::testing::Test {
protected:
    void SetUp() override { tools::SetDecimalSeparator('.'); }
    void sendQuery(std::string_view frame, int32_t code) {
        status.frameSent(bytes(frame), code, true, true, true);
    }

    ExchangeStatus status;
    exchange::WordOrders orders = allHighWordFirst();
};

TEST_F(Status, PortStateNamesTheDeviceAndItsSettings) {
    EXPECT_EQ(status.text(-1).port, "Port closed");
    status.portOpened("COM3", "/dev/ttyS2", 9600, 0);
    EXPECT_EQ(status.text(-1).port, "COM3 (/dev/ttyS2) open, 9600 None");
    EXPECT_EQ(status.text(-1).event, "");
    status.portClosed("COM3", "/dev/ttyS2");
    EXPECT_EQ(status.text(-1).port, "COM3 (/dev/ttyS2) closed");
    status.portOpened("/dev/pts/4", "/dev/pts/4", 19200, 2);
    EXPECT_EQ(status.text(-1).port, "/dev/pts/4 open, 19200 Even");

    status.portLost("/dev/pts/4", "/dev/pts/4");
    EXPECT_EQ(status.text(-1).port, "/dev/pts/4 lost, closed");
    EXPECT_TRUE(status.text(-1).fault);
    status.portOpenFailed("COM9", "/dev/ttyS8", "Error opening serial port");
    EXPECT_EQ(status.text(-1).port, "COM9 (/dev/ttyS8) closed");
    EXPECT_EQ(status.text(-1).event, "not opened: Error opening serial port");
    EXPECT_TRUE(status.text(-1).fault);
}

TEST_F(Status, WaitingNamesTheRequestAndTheTimeLeftThenTheReplyItsVerdict) {
    status.portOpened("/dev/pts/4", "/dev/pts/4", 9600, 0);
    sendQuery("QQQ#QX1#", pending::SystemParameters);
    ASSERT_TRUE(status.waiting());
    const exchange::StatusText waiting = status.text(2749);
    EXPECT_EQ(waiting.event.find("waiting for the reply to "), 0u) << waiting.event;
    EXPECT_NE(waiting.event.find("QX1"), std::string::npos) << waiting.event;
    EXPECT_NE(waiting.event.find("(201 System Parameters), 2.7 s left"), std::string::npos) << waiting.event;
    EXPECT_FALSE(waiting.fault);
    EXPECT_EQ(status.text(-1).event.find(" left"), std::string::npos) << "no time when it is not known";
    tools::SetDecimalSeparator(',');
    EXPECT_NE(status.text(300).event.find("0,3 s left"), std::string::npos) << "the locale's separator";
    tools::SetDecimalSeparator('.');
    // The communication query shares the code: it is named by its frame.
    sendQuery("QQQ#QV#", pending::SystemParameters);
    EXPECT_EQ(status.text(1000).event, "waiting for the reply to communication query (201 Communication Query), "
                                       "1.0 s left");
    sendQuery("QQQ#QX1#", pending::SystemParameters);

    status.blockReceived(bytes("QQQ#QX1:ADR:001,BA1:30,BA2:30,MD:0,JTM:010#"), pending::SystemParameters, orders);
    EXPECT_FALSE(status.waiting());
    EXPECT_EQ(status.text(2000).event.find("reply good: "), 0u) << status.text(2000).event;
    status.replyDecoded(pending::SystemParameters, "");
    EXPECT_EQ(status.text(-1).event.find("reply decoded: "), 0u) << status.text(-1).event;
    EXPECT_FALSE(status.text(-1).fault);

    sendQuery("QQQ#QX1#", pending::SystemParameters);
    status.blockReceived(bytes("QQQ#QX1:ADR:0x1#"), pending::SystemParameters, orders);
    status.replyDecoded(pending::SystemParameters, "'0x1' is not a valid integer value");
    EXPECT_EQ(status.text(-1).event, "decoding stopped: '0x1' is not a valid integer value");
    EXPECT_TRUE(status.text(-1).fault);
}

// A set command has no decoder: a decode of some earlier query does not relabel its reply.
TEST_F(Status, VerdictsNameTheirFrameAndStayAfterDecoding) {
    const auto identityQuery = hart::IdentityQueryFrame("5", 0, true);
    struct Row {
        const char* what;
        std::vector<uint8_t> request;
        int32_t code;
        std::vector<uint8_t> reply;
        const char* phrase;
        bool fault;
    };
    const Row rows[] = {
        {"set taken", bytes("QQS#JTM:000#"), pending::SetCommand, bytes("QQS#JTM:OK#"), "set acknowledged: ", false},
        {"set refused", bytes("QQS#JTM:000#"), pending::SetCommand, bytes("QQS#JTM:ERR#"), "set refused: ", true},
        {"HART right", identityQuery, pending::HartIdentity, hartIdentityReply(false), "reply good: ", false},
        {"HART wrong", identityQuery, pending::HartIdentity, hartIdentityReply(true), "HART check byte wrong: ", true},
        {"MODBUS right", readRequest(2, 2), pending::ModbusTest, readReply({0x42C8, 0}), "reply good: ", false},
        {"MODBUS CRC", readRequest(2, 2), pending::ModbusTest, readReply({0x42C8, 0}, true), "MODBUS CRC wrong: ", true},
        {"MODBUS exception", readRequest(100, 1), pending::ModbusTest, withCrc({0x01, 0x83, 0x02}),
         "MODBUS exception: ", true},
        {"the communication query", bytes("QQQ#QV#"), pending::SystemParameters, bytes("QQQ#QV:VX538-T-B#"),
         "reply good: communication query answered: converter 'VX538-T-B'", false},
        {"a query reply missing fields", bytes("QQQ#QX1#"), pending::SystemParameters, bytes("QQQ#QX1:ADR:005#"),
         "reply cut short: ", true},
        {"a set reply cut by a pause", bytes("QQS#MDL:5#"), pending::SetCommand, bytes("QQS#MD"),
         "reply cut short: ", true},
    };
    for (const Row& row : rows) {
        status.frameSent(row.request, row.code, true, true, true);
        status.blockReceived(row.reply, row.code, orders);
        const exchange::StatusText text = status.text(-1);
        EXPECT_EQ(text.event.find(row.phrase), 0u) << row.what << ": " << text.event;
        EXPECT_EQ(text.fault, row.fault) << row.what;
        status.replyDecoded(row.code == pending::SetCommand ? pending::SystemParameters : row.code, "");
        EXPECT_EQ(status.text(-1).fault, row.fault) << row.what << " after the decoder ran";
        if (row.code == pending::SetCommand) {
            EXPECT_EQ(status.text(-1).event, text.event);
        }
    }
}

TEST_F(Status, TimeoutsRefusalsAndUnsentFramesAreFaults) {
    sendQuery("QQQ#QX2#", pending::AnalogOutputs);
    status.replyTimedOut("Parameter Query Timeout!");
    EXPECT_FALSE(status.waiting());
    EXPECT_EQ(status.text(-1).event.find("timeout: no reply to "), 0u) << status.text(-1).event;
    EXPECT_NE(status.text(-1).event.find("QX2"), std::string::npos);
    EXPECT_NE(status.text(-1).event.find("(Parameter Query Timeout!)"), std::string::npos);
    EXPECT_TRUE(status.text(-1).fault);

    status.requestRefused("Baud must be a positive number of bits per second; the port stays closed.");
    EXPECT_EQ(status.text(-1).event,
              "not sent: Baud must be a positive number of bits per second; the port stays closed.");
    EXPECT_TRUE(status.text(-1).fault);

    status.frameSent(bytes("QQQ#QX1#"), pending::SystemParameters, false, false, false);
    EXPECT_EQ(status.text(-1).event.find("not sent, the port is not open: "), 0u) << status.text(-1).event;
    EXPECT_TRUE(status.text(-1).fault);
    EXPECT_FALSE(status.waiting());

    // An output test starts no reply timer: it is sent, not awaited.
    status.frameSent(bytes("QQQ#AV0O:012.5#"), pending::None, true, false, true);
    EXPECT_EQ(status.text(-1).event.find("sent: "), 0u) << status.text(-1).event;
    EXPECT_FALSE(status.text(-1).fault);
}

TEST_F(Status, AGoodModbusReplyShowsTheVariablesAsFloats) {
    // Registers 40001 to 40006: reserved, variable 1 high word first, variable 2 low word first.
    orders[1] = tools::WordOrder::LowWordFirst;
    status.frameSent(readRequest(0, 6), pending::ModbusTest, true, true, true);
    status.blockReceived(readReply({0, 0, highWord(101.25f), lowWord(101.25f), lowWord(-2.5f), highWord(-2.5f)}),
                         pending::ModbusTest, orders);
    const std::string event = status.text(-1).event;
    EXPECT_EQ(event.find("reply good: variables as floats in the parse format's word order: 1 = 101.25, 2 = -2.5; "
                         "MODBUS reply"),
              0u)
        << event;
}

TEST(ModbusVariables, OnlyVariablesWhoseTwoRegistersAreInTheReply) {
    const exchange::WordOrders high = allHighWordFirst();
    const float one = 1.5f, two = 20.0f, three = -0.25f;
    struct Row {
        const char* what;
        std::vector<uint8_t> request;
        std::vector<uint16_t> registers;
        exchange::WordOrders orders;
        std::string expected;
    };
    exchange::WordOrders secondSwapped = high;
    secondSwapped[1] = tools::WordOrder::LowWordFirst;
    exchange::WordOrders secondUnknown = high;
    secondUnknown[1] = std::nullopt;
    const Row rows[] = {
        {"from 40003", readRequest(2, 4), {highWord(one), lowWord(one), highWord(two), lowWord(two)}, high,
         "1 = 1.5, 2 = 20"},
        {"the second in the other order", readRequest(2, 4),
         {highWord(one), lowWord(one), lowWord(two), highWord(two)}, secondSwapped,
         "1 = 1.5, 2 = 20"},
        // 40004 to 40007: variable 1 lacks its first register, variable 3 its second.
        {"off by one register", readRequest(3, 4), {lowWord(one), highWord(two), lowWord(two), highWord(three)},
         high, "2 = 20"},
        {"a list without selection", readRequest(2, 4),
         {highWord(one), lowWord(one), highWord(two), lowWord(two)}, secondUnknown, "1 = 1.5"},
        {"reserved registers only", readRequest(0, 2), {0, 0}, high, ""},
        {"beyond variable 8", readRequest(18, 2), {1, 2}, high, ""},
        {"a request of another function", withCrc({0x01, 0x06, 0x00, 0x02, 0x00, 0x01}),
         {highWord(one), lowWord(one)}, high, ""},
    };
    for (const Row& row : rows) {
        const std::vector<uint8_t> reply = readReply(row.registers);
        EXPECT_EQ(exchange::ModbusVariablesText(reply, row.request, row.orders), row.expected) << row.what;
    }
}

} // namespace
