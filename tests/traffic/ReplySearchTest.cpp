// A received block read against the request it answers: the expected reply found inside noise, a
// block that holds none told by what it is not, echoes, acknowledgements, and the verdict of every
// block read without a request. The blocks marked "from vx538-sim" are what the simulator sent.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/traffic/TrafficBytes.h"
#include "tools/ModbusCrc.h"
#include "traffic/Interpreter.h"

using traffic::Direction;
using traffic::Read;
using traffic::Reading;
using traffic::Verdict;

namespace {

using namespace traffictest;

Bytes first(const Bytes& bytes, std::size_t count) {
    return {bytes.begin(), bytes.begin() + static_cast<long>(count)};
}

Bytes from(const Bytes& bytes, std::size_t start) {
    return {bytes.begin() + static_cast<long>(start), bytes.end()};
}

const Bytes kModbusRead = hex("01 03 00 00 00 12 C5 C7");
const Bytes kIdentityQuery = hex("FF FF FF FF FF FF FF 02 80 00 00 82");
const Bytes kVariablesQuery = hex("FF FF FF FF FF FF FF 82 A6 0C 0A 1B 2C 03 00 16");

// From vx538-sim --noise: three bytes of noise, then the reply to the default read.
const Bytes kNoisyModbus =
    hex("21 5F 91 01 03 24 00 00 00 00 42 CA 99 AB 41 C4 00 05 41 48 00 3B 42 4A 99 AB "
        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 B7 44");
const Bytes kModbusReply = from(kNoisyModbus, 3);
// From vx538-sim --noise --corrupt: the same reply with both CRC bytes spoiled.
const Bytes kNoisyModbusBadCrc = first(kNoisyModbus, 42) + hex("48 BB");
// From vx538-sim --noise: the identity reply after three bytes of noise.
const Bytes kNoisyIdentity =
    hex("F4 4F E0 FF FF FF FF FF 06 80 00 0E 00 00 FE 26 0C 05 05 01 03 08 00 0A 1B 2C 6B");
const Bytes kIdentityReply = from(kNoisyIdentity, 3);
// From vx538-sim --noise: the system parameter block and a set command's acknowledgement.
const std::string kQx1 = "QQQ#QX1:ADR:005,BA1:30,BA2:30,MD:0,JTM:010#";
const Bytes kNoisyQx1 = hex("76 BE 73 97") + text("QQQ#QX1:ADR:001,BA1:30,BA2:30,MD:0,JTM:010#");
const Bytes kNoisyAck = text("haQQS#ADR:OK#");
// From vx538-sim --split 600: the MODBUS reply and the identity reply in two blocks each.
const Bytes kModbusFirstHalf = first(kModbusReply, 20);
const Bytes kModbusSecondHalf = from(kModbusReply, 20);
const Bytes kIdentityFirstHalf = first(kIdentityReply, 12);

// Where the meaning's frame lies and how the block stands.
struct Found {
    Verdict verdict;
    std::size_t offset;
    std::size_t length;
};

// One row: `block` received under `pending` after `request` was sent.
void expectRead(const char* name, const Bytes& request, const Bytes& block, int32_t pending, Found found,
                const std::vector<std::string>& contains, const std::vector<std::string>& lacks = {}) {
    SCOPED_TRACE(name);
    const Reading reading = Read(block, Direction::Received, pending, request);
    EXPECT_EQ(traffic::VerdictText(reading.verdict), traffic::VerdictText(found.verdict)) << reading.meaning;
    EXPECT_EQ(reading.frameOffset, found.offset) << reading.meaning;
    EXPECT_EQ(reading.frameLength, found.length) << reading.meaning;
    for (const auto& part : contains) {
        EXPECT_NE(reading.meaning.find(part), std::string::npos)
            << "missing \"" << part << "\" in: " << reading.meaning;
    }
    for (const auto& part : lacks) {
        EXPECT_EQ(reading.meaning.find(part), std::string::npos)
            << "unexpected \"" << part << "\" in: " << reading.meaning;
    }
    EXPECT_EQ(reading.meaning.find_first_of("\t\r\n"), std::string::npos) << reading.meaning;
}

constexpr auto Good = Verdict::Good;

} // namespace

TEST(ReplySearch, ModbusRepliesInsideNoiseAndWhatABlockIsNot) {
    const Bytes exception = withCrc(hex("01 83 02"));
    expectRead("the noisy reply from the simulator", kModbusRead, kNoisyModbus, 302, {Good, 3, 41},
               {"MODBUS reply, slave 1, read holding registers, byte count 36, 18 registers: 0 (0000)",
                "; CRC B7 44 ok; 3 bytes of noise before it"},
               {"slave 33", "exception", "wrong"});
    expectRead("noise that begins like the reply", kModbusRead, hex("01 03 07") + kModbusReply, 302,
               {Good, 3, 41}, {"3 bytes of noise before it"});
    expectRead("CRC spoiled behind noise", kModbusRead, kNoisyModbusBadCrc, 302,
               {Verdict::ChecksumWrong, 3, 41},
               {"no MODBUS reply to slave 1 function 3 in 44 bytes: CRC wrong; MODBUS reply, slave 1",
                "CRC 48 BB wrong, expected B7 44; 3 bytes of noise before it"});
    expectRead(
        "an exception inside noise", kModbusRead, hex("5A") + exception + hex("5A"), 302,
        {Verdict::Exception, 1, 5},
        {"exception 2 (illegal data address); CRC C0 F1 ok; 1 byte of noise before it and 1 after it"});
    expectRead(
        "the first part of a reply cut by a pause", kModbusRead, kModbusFirstHalf, 302, {Verdict::Cut, 0, 20},
        {"20 of the 41 bytes of the reply: MODBUS reply, slave 1, read holding registers, byte count 36"});
    expectRead("a cut reply behind noise", kModbusRead, hex("21 5F 91") + first(kModbusReply, 2), 302,
               {Verdict::Cut, 3, 2}, {"2 of the 41 bytes of the reply", "3 bytes of noise before it"});
    expectRead("the rest of a reply cut by a pause", kModbusRead, kModbusSecondHalf, 302,
               {Verdict::Unexpected, 0, 0}, {"no MODBUS reply to slave 1 function 3 in 21 bytes"},
               {"MODBUS reply,", "CRC"});
    expectRead("noise alone", kModbusRead, hex("21 5F 91"), 302, {Verdict::Unexpected, 0, 0},
               {"no MODBUS reply to slave 1 function 3 in 3 bytes"}, {"slave 33"});
    expectRead(
        "a whole frame with another byte count", kModbusRead, withCrc(hex("01 03 04 42 C8 00 00")), 302,
        {Verdict::Unexpected, 0, 9},
        {"no MODBUS reply to slave 1 function 3 in 9 bytes: byte count 4 where the request asks for 36",
         "2 registers: 17096 (42C8) 0 (0000)"});
    expectRead("another slave's reply", kModbusRead, withCrc(hex("02 03 02 00 01")), 302,
               {Verdict::Unexpected, 0, 0},
               {"no MODBUS reply to slave 1 function 3 in 7 bytes; MODBUS reply, slave 2"});
    expectRead("a text block under the MODBUS test", kModbusRead, text("QQQ#QV:VX538-T-B#"), 302,
               {Verdict::Unexpected, 0, 0},
               {"no MODBUS reply to slave 1 function 3 in 17 bytes; text reply without block marker"});
    expectRead("slave 255 is no preamble", withCrc(hex("FF 03 00 02 00 01")), withCrc(hex("FF 03 02 00 2A")),
               302, {Good, 0, 7}, {"slave 255", "1 register: 42 (002A)"}, {"HART"});
    expectRead("a write answered with what it wrote", withCrc(hex("01 06 00 02 12 34")),
               withCrc(hex("01 06 00 02 12 34")), 302, {Good, 0, 8},
               {"MODBUS reply, slave 1, write single register acknowledged, address 2, value 4660 (1234)"},
               {"echo"});
    expectRead("a diagnostic counter of 0, the request's own bytes", withCrc(hex("01 08 00 0E 00 00")),
               withCrc(hex("01 08 00 0E 00 00")), 302, {Good, 0, 8},
               {"MODBUS reply, slave 1, diagnostics, sub-function 14 (return server message count), count 0"},
               {"echo"});
    expectRead("a write echoed by the adapter, then acknowledged", withCrc(hex("01 06 00 02 12 34")),
               withCrc(hex("01 06 00 02 12 34")) + withCrc(hex("01 06 00 02 12 34")), 302, {Good, 8, 8},
               {"echo of the request (8 bytes), then MODBUS reply", "acknowledged"});
    expectRead("a write answered with another value", withCrc(hex("01 06 00 02 12 34")),
               hex("00") + withCrc(hex("01 06 00 02 12 35")), 302, {Verdict::Unexpected, 1, 8},
               {"not the address and value (or start and count) the request gave"});
}

TEST(ReplySearch, HartRepliesInsideNoise) {
    Bytes badCheck = kNoisyIdentity;
    badCheck.back() ^= 0xFF;
    const Bytes variablesReply = hex("FF FF FF FF FF 86 A6 0C 0A 1B 2C 03 1A 00 00 40 80 00 00 20 41 C8 00 "
                                     "00 20 41 20 00 00 0C 42 C8 00 00 "
                                     "39 42 48 00 00 95");
    expectRead("the identity reply after noise, from the simulator", kIdentityQuery, kNoisyIdentity, 100,
               {Good, 3, 24},
               {"HART reply: 5 preambles, delimiter 06", "command 0 (read unique identifier)",
                "check byte 6B ok; 3 bytes of noise before it"},
               {"bytes before the preambles"});
    expectRead("its check byte spoiled", kIdentityQuery, badCheck, 100, {Verdict::ChecksumWrong, 3, 24},
               {"no HART reply to command 0 in 27 bytes: check byte wrong; HART reply: 5 preambles",
                "check byte 94 wrong, expected 6B; 3 bytes of noise before it"});
    expectRead("the first part of a reply cut by a pause", kIdentityQuery, kIdentityFirstHalf, 100,
               {Verdict::Cut, 0, 12},
               {"12 of the 24 bytes of the reply: HART reply: 5 preambles", "cut: 3 of 14 data bytes"});
    expectRead(
        "cut before its byte count", kIdentityQuery, hex("00 FF FF FF 06 80"), 100, {Verdict::Cut, 1, 5},
        {"the first 5 bytes of a reply, cut before its length: HART reply", "1 byte of noise before it"});
    expectRead("the rest of a reply cut by a pause", kIdentityQuery, from(kIdentityReply, 12), 100,
               {Verdict::Unexpected, 0, 0}, {"no HART reply to command 0 in 12 bytes"}, {"HART reply:"});
    expectRead("a reply to another command", kIdentityQuery, hex("FF FF FF FF FF 06 80 03 02 00 00 87"), 100,
               {Verdict::Unexpected, 0, 12},
               {"no HART reply to command 0 in 12 bytes; HART reply: 5 preambles", "command 3"});
    expectRead("the variables reply after noise", kVariablesQuery, hex("13") + variablesReply, 103,
               {Good, 1, 40},
               {"HART reply", "command 3", "PV 25 (unit 32)", "check byte 95 ok; 1 byte of noise before it"});
    expectRead("a reply from another device", kVariablesQuery,
               hex("FF FF FF FF FF 86 A6 0C 0A 1B 2D 03 02 00 00 11"), 103, {Verdict::Unexpected, 0, 16},
               {"no HART reply to command 3 in 16 bytes; HART reply", "device id 0A 1B 2D"});
    expectRead("a frame typed by hand takes any slave's reply", hex("FF FF FF FF FF FF FF 76 76"),
               kNoisyIdentity, 104, {Good, 3, 24}, {"HART reply", "3 bytes of noise before it"});
    expectRead("a request from another master in the block", kIdentityQuery, hex("FF FF 02 81 00 00 83"), 100,
               {Verdict::Unexpected, 0, 7},
               {"no HART reply to command 0 in 7 bytes; HART request", "(a request, not a reply)"});
}

TEST(ReplySearch, EchoesOfTheRequest) {
    expectRead("a MODBUS request echoed", kModbusRead, kModbusRead, 302, {Verdict::Echo, 0, 8},
               {"echo of the request: MODBUS request, slave 1, read holding registers"});
    expectRead("echoed, then the reply", kModbusRead, kModbusRead + kModbusReply, 302, {Good, 8, 41},
               {"echo of the request (8 bytes), then MODBUS reply, slave 1", "CRC B7 44 ok"}, {"noise"});
    expectRead("a HART request echoed", kIdentityQuery, kIdentityQuery, 100, {Verdict::Echo, 0, 12},
               {"echo of the request: HART request: 7 preambles"}, {"not a reply"});
    expectRead("echoed, then noise and the reply", kIdentityQuery, kIdentityQuery + kNoisyIdentity, 100,
               {Good, 15, 24},
               {"echo of the request (12 bytes), then HART reply", "3 bytes of noise before it"});
    expectRead("a query echoed is no block", text("QQQ#QX1#"), text("QQQ#QX1#"), 201, {Verdict::Echo, 0, 8},
               {"echo of the request: system parameter query (QX1)"}, {"block QX1"});
    expectRead("echoed twice", text("QQQ#QV#"), text("QQQ#QV#QQQ#QV#"), 201, {Verdict::Echo, 0, 14},
               {"echo of the request: communication query"});
}

TEST(ReplySearch, TextRepliesAndAcknowledgements) {
    const Bytes qx1 = text("QQQ#QX1#");
    const Bytes setAddress = text("QQS#ADR:005#");
    expectRead("a block after noise, from the simulator", qx1, kNoisyQx1, 201, {Good, 4, 43},
               {"text reply, block QX1 (system parameters): ADR:001 BA1:30", "; 4 bytes of noise before it"});
    expectRead("noise after the block", qx1, text(kQx1) + hex("00 FE"), 201, {Good, 0, 43},
               {"ADR:005", "2 bytes of noise after it"});
    expectRead("a block cut in a field", qx1, text("QQQ#QX1:ADR:00"), 201, {Verdict::Cut, 0, 14},
               {"ADR:00 (cut)", "; cut: ADR:, BA1:, BA2:, MD:, JTM: missing or short"});
    expectRead("a block with fields missing", qx1, text("QQQ#QX1:ADR:005#"), 201, {Verdict::Cut, 0, 16},
               {"ADR:005; cut: BA1:, BA2:, MD:, JTM: missing or short"});
    expectRead("every field, no closing #", qx1, text(kQx1.substr(0, kQx1.size() - 1)), 201,
               {Verdict::Cut, 0, 42}, {"JTM:010; cut: no closing #"});
    expectRead("cut before its marker by a pause", qx1, text("QQQ#Q"), 201, {Verdict::Cut, 0, 5},
               {"the first 5 bytes of the reply to QQQ#QX1, cut: 'QQQ#Q'"});
    expectRead("no marker", qx1, text("ADR:005,JTM:012#"), 201, {Verdict::Unexpected, 0, 0},
               {"no QX1 reply in 16 bytes; text reply without block marker"});
    expectRead("a block of another query", text("QQQ#QX4#"), text("QQQ#QX1:ADR:005#"), 204,
               {Verdict::Unexpected, 0, 0}, {"no QX4 reply in 16 bytes; text reply, block QX1"});
    expectRead("an unknown query refused", text("QQQ#QX5#"), text("QQQ#QX5:ERR#"), 201,
               {Verdict::Refused, 0, 12}, {"reply QQQ#QX5:ERR#: the command was refused"});
    expectRead("a set command taken, after noise from the simulator", setAddress, kNoisyAck, 200,
               {Verdict::Acknowledged, 2, 11},
               {"reply QQS#ADR:OK#: the command was taken; 2 bytes of noise before it"});
    expectRead("another command's acknowledgement", setAddress, text("QQS#MD:OK#"), 200,
               {Verdict::Unexpected, 0, 10}, {"reply QQS#MD:OK# answers QQS#MD, not the request's QQS#ADR"});
    expectRead("an acknowledgement cut by a pause", setAddress, text("xQQS#ADR:O"), 200, {Verdict::Cut, 1, 9},
               {"the first 9 bytes of the reply to QQS#ADR, cut: 'QQS#ADR:O'", "1 byte of noise before it"});
    expectRead("cut in its head", setAddress, text("QQS#A"), 200, {Verdict::Cut, 0, 5}, {"reply to QQS#ADR"});
    expectRead("a key that only ends like the request's", setAddress, text("QQS#XADR:OK#"), 200,
               {Verdict::Unexpected, 0, 12}, {"answers QQS#XADR, not the request's QQS#ADR"});
    expectRead("a set reply of another shape is not judged", setAddress, text("OK#"), 200,
               {Verdict::None, 0, 0}, {"text reply without block marker (reply to a set command)"});
    expectRead("an output test taken under the pending command it left", text("QQQ#AV0O:100.0#"),
               text("QQQ#AV0O:OK#"), 201, {Verdict::Acknowledged, 0, 12},
               {"reply QQQ#AV0O:OK#: the command was taken"}, {"QX1"});
    expectRead("the factory record refused", text("TAVRIK#PCBSN:00000123,102#"), text("TAVRIK#PCBSN:ERR#"),
               200, {Verdict::Refused, 0, 17}, {"reply TAVRIK#PCBSN:ERR#"});
    expectRead("a read meter command taken", text("QQS#CAMD01:1<02,") + hex("3A 23"), text("QQS#CAMD01:OK#"),
               200, {Verdict::Acknowledged, 0, 14}, {"reply QQS#CAMD01:OK#"});
    expectRead(
        "the communication query's reply names the converter", text("QQQ#QV#"),
        hex("85 4D") + text("QQQ#QV:VX538-T-B#") + hex("00"), 201, {Good, 2, 17},
        {"communication query answered: converter 'VX538-T-B'", "2 bytes of noise before it and 1 after it"},
        {"QX1"});
    expectRead("the communication query's reply cut", text("QQQ#QV#"), text("QQQ#QV:VX5"), 201,
               {Verdict::Cut, 0, 10}, {"cut before its closing #"});
}

// Without the request a block is judged by its own shape and what the pending command waits for;
// its meaning is what Interpret says.
TEST(ReplySearch, VerdictsWithoutTheRequest) {
    Bytes badCrc = kModbusReply;
    badCrc.back() ^= 1;
    const struct {
        const char* name;
        Bytes block;
        int32_t pending;
        Verdict verdict;
    } cases[] = {
        {"a MODBUS reply", kModbusReply, 302, Good},
        {"its CRC wrong", badCrc, 302, Verdict::ChecksumWrong},
        {"an exception", withCrc(hex("01 83 02")), 302, Verdict::Exception},
        {"cut", kModbusFirstHalf, 302, Verdict::Cut},
        {"a MODBUS reply nobody waits for", kModbusReply, 0, Verdict::None},
        {"a HART reply", kIdentityReply, 100, Good},
        {"a HART reply with stray bytes before it", kNoisyIdentity, 100, Good},
        {"a HART request received", kIdentityQuery, 100, Verdict::Unexpected},
        {"a HART reply cut", kIdentityFirstHalf, 103, Verdict::Cut},
        {"the system parameter block", text(kQx1), 201, Good},
        {"the system parameter block missing fields", text("QX1,ADR:005"), 201, Verdict::Cut},
        {"a block cut in a field", text("QX2 DA1:2,4120"), 202, Verdict::Cut},
        {"the analog output block missing", text("ADR:005"), 202, Verdict::Unexpected},
        {"201 also serves the communication query", text("QQQ#QV:VX538-T-B#"), 201, Good},
        {"an acknowledgement", text("QQS#ADR:OK#"), 200, Verdict::Acknowledged},
        {"a refusal", text("QQS#DA1:ERR#"), 200, Verdict::Refused},
        {"a set reply of another shape", text("OK#"), 200, Verdict::None},
        {"no HART reply at all", hex("00 01 02 03"), 103, Verdict::Unexpected},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Reading reading = Read(c.block, Direction::Received, c.pending);
        EXPECT_EQ(traffic::VerdictText(reading.verdict), traffic::VerdictText(c.verdict)) << reading.meaning;
        EXPECT_EQ(reading.meaning, traffic::Interpret(c.block, Direction::Received, c.pending));
    }
    // A request is read, not judged, whatever it follows.
    const Reading sent = Read(kModbusRead, Direction::Sent, 302, kModbusRead);
    EXPECT_EQ(sent.verdict, Verdict::None);
    EXPECT_EQ(sent.frameLength, kModbusRead.size());
    EXPECT_EQ(sent.meaning, traffic::Interpret(kModbusRead, Direction::Sent, 302));
}

// What the window's status line shows as a fault.
TEST(ReplySearch, FaultVerdicts) {
    for (Verdict fault :
         {Verdict::Refused, Verdict::ChecksumWrong, Verdict::Exception, Verdict::Cut, Verdict::Unexpected}) {
        EXPECT_TRUE(traffic::IsFault(fault)) << traffic::VerdictText(fault);
    }
    for (Verdict fine : {Verdict::None, Verdict::Good, Verdict::Acknowledged, Verdict::Echo}) {
        EXPECT_FALSE(traffic::IsFault(fine)) << traffic::VerdictText(fine);
    }
}
