// The frame interpreter, one table per kind of traffic: what each frame is said to mean, its checksum
// verdict, and frames cut short.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/ModbusCrc.h"
#include "tests/traffic/TrafficBytes.h"
#include "traffic/Interpreter.h"

using traffic::Direction;
using traffic::Interpret;

namespace {

using namespace traffictest;

Bytes withCheckByte(Bytes frame, std::size_t preambles, uint8_t flip = 0) {
    uint8_t check = 0;
    for (std::size_t i = preambles; i < frame.size(); ++i) {
        check ^= frame[i];
    }
    frame.push_back(check ^ flip);
    return frame;
}

struct Case {
    const char* name;
    Bytes bytes;
    Direction direction;
    int32_t pending;
    std::vector<std::string> contains;
    std::vector<std::string> lacks = {};
};

void check(const Case& c) {
    SCOPED_TRACE(c.name);
    const std::string meaning = Interpret(c.bytes, c.direction, c.pending);
    for (const auto& part : c.contains) {
        EXPECT_NE(meaning.find(part), std::string::npos) << "missing \"" << part << "\" in: " << meaning;
    }
    for (const auto& part : c.lacks) {
        EXPECT_EQ(meaning.find(part), std::string::npos) << "unexpected \"" << part << "\" in: " << meaning;
    }
}

constexpr auto Sent = Direction::Sent;
constexpr auto Received = Direction::Received;

// The MODBUS test's reply to its default request: 18 registers, 100.0 in the first byte order in
// registers 1-2, the same value in the second order in registers 3-4, then counting registers.
Bytes modbusReply() {
    Bytes frame = hex("01 03 24 42 C8 00 00 00 00 42 C8");
    for (uint8_t r = 5; r <= 18; ++r) {
        frame.push_back(0);
        frame.push_back(r);
    }
    return withCrc(frame);
}

const Bytes kIdentityReply = hex("FF FF FF FF FF 06 80 00 0E 00 00 FE 26 06 05 05 01 03 08 00 00 12 34");
const Bytes kVariablesReply = hex("FF FF FF FF FF 86 A6 06 00 12 34 03 1A 00 00 40 80 00 00 20 41 C8 00 00 "
                                  "20 41 20 00 00 0C 42 C8 00 00 39 42 48 00 00");

} // namespace

TEST(Interpreter, ModbusFrames) {
    const Bytes reply = modbusReply();
    Bytes flippedReply = reply;
    flippedReply[10] ^= 0x01;
    const Case cases[] = {
        {"default request",
         hex("01 03 00 00 00 12 C5 C7"),
         Sent,
         302,
         {"MODBUS request", "slave 1", "read holding registers",
          "start 0, count 18 (registers 40001 to 40018)", "CRC C5 C7 ok"}},
        {"request with a data byte flipped",
         hex("01 03 00 01 00 12 C5 C7"),
         Sent,
         302,
         {"start 1", "CRC C5 C7 wrong, expected 94 07"}},
        {"request with its CRC flipped",
         hex("01 03 00 00 00 12 C5 C6"),
         Sent,
         302,
         {"CRC C5 C6 wrong, expected C5 C7"}},
        {"slave 255 is no HART preamble",
         withCrc(hex("FF 03 00 02 00 10")),
         Sent,
         302,
         {"MODBUS request", "slave 255", "ok"},
         {"HART"}},
        {"reply",
         reply,
         Received,
         302,
         {"MODBUS reply", "slave 1", "byte count 36",
          "18 registers:", "17096 (42C8) 0 (0000) 0 (0000) 17096 (42C8)", "18 (0012)", "CRC", "ok"},
         {"wrong"}},
        {"reply with a register byte flipped",
         flippedReply,
         Received,
         302,
         {"17097 (42C9)", "wrong, expected"}},
        {"exception reply",
         hex("01 83 02 C0 F1"),
         Received,
         302,
         {"exception to read holding registers", "exception 2 (illegal data address)", "CRC C0 F1 ok"}},
        {"exception reply, busy, wrong CRC",
         hex("11 83 06 00 00"),
         Received,
         302,
         {"slave 17", "exception 6 (server device busy)", "wrong, expected"}},
        {"exception 1", withCrc(hex("01 83 01")), Received, 302, {"exception 1 (illegal function); CRC"}},
        {"exception 3", withCrc(hex("01 83 03")), Received, 302, {"exception 3 (illegal data value); CRC"}},
        {"exception 4",
         withCrc(hex("01 83 04")),
         Received,
         302,
         {"exception 4 (server device failure); CRC"}},
        {"exception 11",
         withCrc(hex("01 83 0B")),
         Received,
         302,
         {"exception 11 (gateway target device failed to respond); CRC"}},
        {"reply recognised by its CRC while nothing is pending", reply, Received, 0, {"MODBUS reply", "ok"}},
        {"reply cut in the middle of the registers",
         Bytes(reply.begin(), reply.begin() + 20),
         Received,
         302,
         {"byte count 36", "8 registers:", "1 odd byte", "cut: 20 of 41 bytes, no CRC"}},
        {"request cut after the function",
         hex("01 03"),
         Sent,
         302,
         {"read holding registers", "cut: 2 of 8 bytes"}},
        {"reply cut after the slave address",
         hex("01"),
         Received,
         302,
         {"slave 1", "cut after the slave address"}},
        {"bytes after the CRC", hex("01 83 02 C0 F1 00"), Received, 302, {"ok", "1 more byte after the CRC"}},
        {"read/write multiple registers request",
         withCrc(hex("01 17 00 00 00 02 00 10 00 01 02 12 34")),
         Sent,
         302,
         {"read/write multiple registers, read start 0, read count 2, write start 16, write count 1, "
          "byte count 2, values 4660 (1234)",
          "ok"}},
        {"read/write multiple registers reply",
         withCrc(hex("01 17 04 42 C8 00 00")),
         Received,
         302,
         {"read/write multiple registers, byte count 4, 2 registers: 17096 (42C8) 0 (0000)", "1-2 100 |", "ok"}},
        {"a damaged reply under the MODBUS test",
         hex("01 04 02 00 0A 00 00"),
         Received,
         302,
         {"MODBUS reply", "read input registers", "wrong, expected"}},
        {"a text block under the MODBUS test",
         text("ERR#"),
         Received,
         302,
         {"text reply without block marker"},
         {"MODBUS"}},
    };
    for (const Case& c : cases) {
        check(c);
    }
}

// Each public function's request and normal reply read field by field: what a monitor of a bus has
// to show of traffic the converter itself never sends. Every frame carries a good CRC.
TEST(Interpreter, EveryPublicModbusFunctionReadFieldByField) {
    const Case cases[] = {
        {"read coils", withCrc(hex("01 01 00 13 00 13")), Sent, 0, {"read coils, start 19, count 19", "ok"}},
        {"coils read", withCrc(hex("01 01 03 CD 6B 05")), Received, 0,
         {"read coils, byte count 3, states CD 6B 05", "ok"}},
        {"read discrete inputs", withCrc(hex("01 02 00 C4 00 16")), Sent, 0,
         {"read discrete inputs, start 196, count 22"}},
        {"read input registers", withCrc(hex("01 04 00 08 00 01")), Sent, 0,
         {"read input registers, start 8, count 1"}},
        {"input register read", withCrc(hex("01 04 02 00 0A")), Received, 0, {"1 register: 10 (000A)"}},
        {"write single coil", withCrc(hex("01 05 00 AC FF 00")), Sent, 0,
         {"write single coil, address 172, value FF00 (on)"}},
        {"single coil acknowledged", withCrc(hex("01 05 00 AC 00 00")), Received, 0,
         {"MODBUS reply, slave 1, write single coil acknowledged, address 172, value 0000 (off)", "ok"},
         {"echo"}},
        {"write single register", withCrc(hex("01 06 00 01 00 03")), Sent, 0,
         {"write single register, address 1, value 3 (0003)"}},
        {"read exception status", withCrc(hex("01 07 6D")), Received, 0,
         {"read exception status, output data 6D", "ok"}},
        {"diagnostic loopback", withCrc(hex("01 08 00 00 A5 37")), Sent, 0,
         {"diagnostics, sub-function 0 (return query data), data A5 37", "ok"}},
        {"diagnostic counter", withCrc(hex("01 08 00 0E 01 2C")), Received, 0,
         {"sub-function 14 (return server message count), count 300"}},
        {"comm event counter", withCrc(hex("01 0B FF FF 01 08")), Received, 0,
         {"get comm event counter, status FFFF (busy), event count 264"}},
        {"comm event log", withCrc(hex("01 0C 08 00 00 01 08 01 21 20 00")), Received, 0,
         {"get comm event log, byte count 8, status 0000 (ready), event count 264, message count 289, "
          "events 20 00"}},
        {"write multiple coils", withCrc(hex("01 0F 00 13 00 0A 02 CD 01")), Sent, 0,
         {"write multiple coils, start 19, count 10, byte count 2, coils 1011001110"}},
        {"multiple coils acknowledged", withCrc(hex("01 0F 00 13 00 0A")), Received, 0,
         {"write multiple coils acknowledged, start 19, count 10", "ok"}},
        {"write multiple registers", withCrc(hex("01 10 00 01 00 02 04 00 0A 01 02")), Sent, 0,
         {"write multiple registers, start 1, count 2, byte count 4, values 10 (000A) 258 (0102)"}},
        {"multiple registers acknowledged", withCrc(hex("01 10 00 01 00 02")), Received, 0,
         {"write multiple registers acknowledged, start 1, count 2", "ok"}},
        {"report server ID", withCrc(hex("01 11 03 50 4D FF")), Received, 0,
         {"report server ID, byte count 3, data 50 4D FF"}},
        {"read file record", withCrc(hex("01 14 0E 06 00 04 00 01 00 02 06 00 03 00 09 00 02")), Sent, 0,
         {"read file record, byte count 14, records file 4 record 1 length 2; file 3 record 9 length 2"}},
        {"write file record", withCrc(hex("01 15 0D 06 00 04 00 07 00 03 06 AF 04 BE 10 0D")), Sent, 0,
         {"records file 4 record 7 length 3: 1711 (06AF) 1214 (04BE) 4109 (100D)"}},
        {"mask write register", withCrc(hex("01 16 00 04 00 F2 00 25")), Sent, 0,
         {"mask write register, address 4, AND mask 00F2, OR mask 0025"}},
        {"read/write multiple registers", withCrc(hex("01 17 00 03 00 06 00 0E 00 03 06 00 FF 00 FF 00 FF")),
         Sent, 0,
         {"read start 3, read count 6, write start 14, write count 3, byte count 6, "
          "values 255 (00FF) 255 (00FF) 255 (00FF)"}},
        {"read/write multiple registers answered", withCrc(hex("01 17 04 00 FE 0A CD")), Received, 0,
         {"read/write multiple registers, byte count 4, 2 registers: 254 (00FE) 2765 (0ACD)"}},
        {"read FIFO queue", withCrc(hex("01 18 04 DE")), Sent, 0, {"read FIFO queue, FIFO pointer address 1246"}},
        {"FIFO queue read", withCrc(hex("01 18 00 06 00 02 01 B8 12 84")), Received, 0,
         {"byte count 6, FIFO count 2, values 440 (01B8) 4740 (1284)"}},
        {"read device identification", withCrc(hex("01 2B 0E 01 00")), Sent, 0,
         {"encapsulated interface transport, MEI type 14 (read device identification), read code 1 (basic), "
          "object 0 (vendor name)"}},
        {"device identification", withCrc(hex("01 2B 0E 01 83 00 00 02 00 03 41 42 43 01 02 50 4D")), Received,
         0,
         {"read code 1 (basic), conformity level 83, more follows no, next object 0, objects 2: "
          "0 (vendor name) 'ABC', 1 (product code) 'PM'",
          "ok"}},
        {"CANopen general reference", withCrc(hex("01 2B 0D 00 01 02")), Sent, 0,
         {"MEI type 13 (CANopen general reference), data 00 01 02"}},
        {"exception to a file record read", withCrc(hex("01 94 02")), Received, 0,
         {"exception to read file record", "exception 2 (illegal data address)"}},
    };
    for (const Case& c : cases) {
        check(c);
    }
}

TEST(Interpreter, ModbusFloatsInBothByteOrdersOfTheParseFormat) {
    const struct {
        const char* registers;
        const char* floats;
    } cases[] = {
        {"42 C8 00 00", "1-2 100 | "}, {"00 00 42 C8", "| 100"},      {"3D CC CC CD", "1-2 0.1 | "},
        {"CC CD 3D CC", "| 0.1"},      {"C1 20 00 00", "1-2 -10 | "}, {"7F 80 00 00", "1-2 inf | "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.registers);
        const std::string meaning = Interpret(withCrc(hex("01 03 04") + hex(c.registers)), Received, 302);
        EXPECT_NE(meaning.find("floats FF4 FF3 FF2 FF1 | FF2 FF1 FF4 FF3:"), std::string::npos) << meaning;
        EXPECT_NE(meaning.find(c.floats), std::string::npos) << meaning;
    }
    // One register has no pair, so no float.
    EXPECT_EQ(Interpret(withCrc(hex("01 03 02 42 C8")), Received, 302).find("floats"), std::string::npos);
}

TEST(Interpreter, HartFrames) {
    const Case cases[] = {
        {"identity query",
         hex("FF FF FF FF FF FF FF 02 80 00 00 82"),
         Sent,
         100,
         {"HART request: 7 preambles", "delimiter 02 (short address, master to slave)",
          "address 80 (primary master, polling address 0)", "command 0 (read unique identifier)",
          "byte count 0", "check byte 82 ok"},
         {"not a reply"}},
        {"a request received, as a half-duplex adapter echoes it",
         hex("FF FF FF FF FF FF FF 02 80 00 00 82"),
         Received,
         100,
         {"HART request: 7 preambles", "master to slave) (a request, not a reply), address 80"}},
        {"write polling address",
         hex("FF FF FF FF FF FF 82 A6 06 00 12 34 06 01 01 02"),
         Sent,
         106,
         {"delimiter 82 (long address",
          "address A6 06 00 12 34 (primary master, manufacturer 26, device type 06, "
          "device id 00 12 34)",
          "command 6 (write polling address)", "new polling address 1", "check byte 02 ok"}},
        {"secondary master manual frame",
         hex("FF FF 02 09 01 00 0A"),
         Sent,
         104,
         {"secondary master, polling address 9", "command 1", "ok"}},
        {"identity reply",
         withCheckByte(kIdentityReply, 5),
         Received,
         100,
         {"HART reply: 5 preambles", "delimiter 06 (short address, slave to master)", "byte count 14",
          "response code 0 (success)", "device status 00",
          "manufacturer 26, device type 06, asks for 5 preambles, device id 00 12 34", "check byte 7A ok"}},
        {"identity reply, wrong check byte",
         withCheckByte(kIdentityReply, 5, 0x01),
         Received,
         100,
         {"check byte 7B wrong, expected 7A"}},
        {"variables reply",
         withCheckByte(kVariablesReply, 5),
         Received,
         103,
         {"delimiter 86 (long address, slave to master)",
          "command 3 (read dynamic variables and loop current)", "byte count 26", "loop current 4 mA",
          "PV 25 (unit 32), SV 10 (unit 32), TV 100 (unit 12), QV 50 (unit 57)", "check byte 84 ok"}},
        {"variables reply, wrong check byte",
         withCheckByte(kVariablesReply, 5, 0xFF),
         Received,
         103,
         {"check byte 7B wrong, expected 84"}},
        {"error status",
         withCheckByte(hex("FF FF 06 80 03 02 40 E0"), 2),
         Received,
         104,
         {"response code 64 (command not implemented)",
          "device status E0 (device malfunction, configuration changed, cold start)", "ok"}},
        // Each device status bit by its name.
        {"status 80",
         withCheckByte(hex("FF FF 06 80 00 02 00 80"), 2),
         Received,
         104,
         {"status 80 (device malfunction)"}},
        {"status 40",
         withCheckByte(hex("FF FF 06 80 00 02 00 40"), 2),
         Received,
         104,
         {"status 40 (configuration changed)"}},
        {"status 20",
         withCheckByte(hex("FF FF 06 80 00 02 00 20"), 2),
         Received,
         104,
         {"status 20 (cold start)"}},
        {"status 10",
         withCheckByte(hex("FF FF 06 80 00 02 00 10"), 2),
         Received,
         104,
         {"status 10 (more status available)"}},
        {"status 08",
         withCheckByte(hex("FF FF 06 80 00 02 00 08"), 2),
         Received,
         104,
         {"status 08 (loop current fixed)"}},
        {"status 04",
         withCheckByte(hex("FF FF 06 80 00 02 00 04"), 2),
         Received,
         104,
         {"status 04 (loop current saturated)"}},
        {"status 02",
         withCheckByte(hex("FF FF 06 80 00 02 00 02"), 2),
         Received,
         104,
         {"status 02 (non-primary variable out of limits)"}},
        {"status 01",
         withCheckByte(hex("FF FF 06 80 00 02 00 01"), 2),
         Received,
         104,
         {"status 01 (primary variable out of limits)"}},
        {"communication error",
         withCheckByte(hex("FF FF 06 80 00 02 90 00"), 2),
         Received,
         104,
         {"communication error 90 (framing error)"}},
        {"burst frame",
         withCheckByte(hex("FF FF 01 C0 01 02 00 00"), 2),
         Received,
         0,
         {"HART burst frame", "(short address, burst)", "primary master, burst mode"}},
        {"stray bytes before the preambles",
         hex("00 00") + withCheckByte(kIdentityReply, 5),
         Received,
         100,
         {"2 bytes before the preambles", "check byte 7A ok"}},
        {"cut in the data",
         Bytes(kVariablesReply.begin(), kVariablesReply.begin() + 20),
         Received,
         103,
         {"byte count 26", "cut: 7 of 26 data bytes, no check byte"}},
        {"cut in the long address", hex("FF FF 86 A6 06"), Received, 103, {"cut after the delimiter"}},
        {"cut before the check byte", kIdentityReply, Received, 100, {"cut before the check byte"}},
        {"preambles only", hex("FF FF FF"), Received, 100, {"HART frame cut after 3 preambles"}},
        {"bytes after the check byte",
         withCheckByte(hex("FF 02 80 00 00"), 1) + hex("00"),
         Sent,
         100,
         {"ok", "1 more byte after the check byte"}},
    };
    for (const Case& c : cases) {
        check(c);
    }
}

TEST(Interpreter, TextCommandsByName) {
    const struct {
        const char* frame;
        const char* meaning;
    } cases[] = {
        {"QQQ#QV#", "communication query"},
        {"QQQ#QX1#", "system parameter query (QX1)"},
        {"QQQ#QX2#", "analog output query (QX2)"},
        {"QQQ#QX3#", "custom HART command query (QX3)"},
        {"QQQ#QX4#", "HART data parsing format query (QX4)"},
        {"QQQ#QX6#", "test value query (QX6)"},
        {"QQS#ADR:005#", "set slave address 005"},
        {"QQS#MD:1#", "set working mode Single Meter Operation Mode"},
        {"QQS#MD:3#", "set working mode the empty item"},
        {"QQS#JTM:012#", "set Modbus command interval 012 (x10 ms)"},
        {"QQS#BA1:52#", "set RS485 baud 38400, parity Even"},
        {"QQS#BA2:30#", "set RS485B baud 9600, parity None"},
        {"QQS#RESET#", "parameter initialization"},
        {"QQS#MDBS8:1,12,1,2.500#", "set parse format of variable 8 (register 40017): 1 IEE754 (FF2 FF1 FF4 "
                                    "FF3), address 12, length 8 Bit, "
                                    "coefficient 2.500"},
        {"QQS#MDL:8#", "set address bit 8"},
        {"QQS#DA2:2,41A40000,C1200000#",
         "set analog output DA2 (DOUTA1): variable 2 (40005), 20 mA 20.5, 4 mA -10"},
        {"QQS#DA5:/,3DCCCCCD,00000000#", "set analog output DA5 (DOUTA4): no selection, 20 mA 0.1, 4 mA 0"},
        {"QQS#DL:0#", "set totalizer output: close"},
        {"QQS#HART0:0,1,00,4,005#", "set HART polling of meter 0: Close, Master Device, meter type 00 "
                                    "(Custom Meter), preambles 4, buffer "
                                    "clear time 005 s"},
        {"QQS#CAMD02:1<02,\x76\x89", "set read meter command 2: Open, count 02, bytes 76 89"},
        {"QQS#CAMD01:0<03,\x76",
         "set read meter command 1: Close, count 03, bytes 76; the count says 03, the frame holds 1 byte"},
        {"QQQ#AV0O:100.0#", "test analog output DOUTA0: 100.0"},
        {"QQQ#AV3O:#", "test analog output DOUTA3: "},
        {"QQQ#LEIO:-000000005#", "test totalizer output: -000000005"},
        {"TAVRIK#PCBSN:00000123,102#", "factory record: PCBSN 00000123, inspector 102"},
        {"QQS#ADR:1000#", "set slave address 1000; value of 4 characters, expected 3"},
        {"QQS#ZZ:1#", "set command ZZ: '1' (key not known)"},
        {"QQS#ADR:005#\r\n", "set slave address 005; 2 more bytes after the closing #: '\\x0D\\x0A'"},
        // Cut in the middle.
        {"QQS#ADR:0", "set slave address 0; cut: no closing #, 1 of 3 value characters"},
        {"QQS#DA1:1,42C8",
         "set analog output DA1 (DOUTA0): variable 1 (40003), 20 mA '42C8' (cut), 4 mA missing; "
         "cut: no closing #, 6 of 19 value characters"},
        {"QQQ#QX", "query cut after its key 'QX'"},
        {"QQ", "text command cut after 'QQ'"},
        {"TAVRIK#PCBSN:0000", "factory record cut: '0000', no closing #"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Interpret(text(c.frame), Sent, 200), c.meaning) << c.frame;
    }
}

TEST(Interpreter, TextRepliesByBlockMarkerAndFields) {
    const Case cases[] = {
        {"system parameters",
         text("QX1,ADR:005,BA1:30,BA2:41,MD:1,JTM:012#"),
         Received,
         201,
         {"text reply, block QX1 (system parameters): ADR:005 BA1:30 (baud 9600, parity None) BA2:41 (baud "
          "19200, "
          "parity Odd) MD:1 (Single Meter Operation Mode) JTM:012"}},
        {"analog outputs",
         text("QX2 DL:3 DA1:2,41200000,3F800000"),
         Received,
         202,
         {"block QX2 (analog outputs): DL:3 (variable 3 (40007)) DA1:2,41200000,3F800000 (variable 2 "
          "(40005), 20 mA "
          "10, 4 mA 1)"}},
        {"lower-case hex is not what the converter sends",
         text("QX2 DA1:1,42c80000,00000000"),
         Received,
         202,
         {"20 mA '42c80000' (not upper-case hex)"}},
        {"custom HART commands",
         text("QX3 HART0:1,0,01,6,010# CAMD01:1<04,76 89 FD AD# CAMD02:0<00,#"),
         Received,
         203,
         {"HART0:1,0,01,6,010 (Open, Secondary Master Device, meter type 01 (Currency Meter), preambles 6, "
          "buffer "
          "clear time 010 s)",
          "CAMD01:1<04,76 89 FD AD (Open, count 04)", "CAMD02:0<00, (Close, count 00)"}},
        {"parse format",
         text("QX4 MDL:6 MDBS 3:1,07,1,0.500"),
         Received,
         204,
         {"MDL:6",
          "MDBS 3:1,07,1,0.500 (1 IEE754 (FF2 FF1 FF4 FF3), address 07, length 8 Bit, coefficient 0.500)"}},
        {"test values",
         text("QX6 LJ:000012345 VA0:020.0 VA3:004.5"),
         Received,
         206,
         {"block QX6 (test values): LJ:000012345 VA0:020.0 VA3:004.5"}},
        {"a block of another query",
         text("QX1,ADR:005"),
         Received,
         204,
         {"block QX1", "no QX4 marker, so the window changes no field"}},
        {"no marker",
         text("ADR:005,JTM:012"),
         Received,
         201,
         {"text reply without block marker", "no QX1 marker"},
         {"ADR"}},
        {"reply to a set command",
         text("OK#"),
         Received,
         200,
         {"text reply without block marker (reply to a set command)"}},
        {"cut in a field", text("QX1,ADR:0"), Received, 201, {"ADR:0 (cut)"}},
        {"cut between two list digits", text("QX1:ADR:001,BA1:3"), Received, 201,
         {"BA1:3 (baud 9600, parity missing, cut)"}},
        {"cut in a row",
         text("QX2 DA1:2,4120"),
         Received,
         202,
         {"DA1:2,4120 (variable 2 (40005), 20 mA '4120' (cut), 4 mA missing, cut)"}},
        {"zero byte with a marker",
         Bytes{'Q', 'X', '1', 0, 'M', 'D', ':', '2'},
         Received,
         201,
         {"block QX1", "MD:2 (Test current output mode)"}},
    };
    for (const Case& c : cases) {
        check(c);
    }
}

TEST(Interpreter, EmptyAndUnrecognisedBytes) {
    EXPECT_EQ(Interpret({}, Sent, 0), "empty frame");
    EXPECT_EQ(Interpret({}, Received, 302), "empty block");
    EXPECT_EQ(Interpret(hex("00 01 02 03"), Received, 0), "4 bytes, not recognised");
    EXPECT_EQ(Interpret(hex("80"), Sent, 0), "1 byte, not recognised");
    // Binary bytes with a text code are not forced into a text reading.
    EXPECT_EQ(Interpret(hex("00 9C 13"), Received, 201), "3 bytes, not recognised");
}
