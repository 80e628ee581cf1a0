#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target from real frames of every kind. Files that a fuzzer
found (crash-*, found-*) are never touched; rerun after adding frames here."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(bytes(data))


def check_byte(body):
    x = 0
    for b in body:
        x ^= b
    return x


def hart(preambles, body):
    return bytes([0xFF] * preambles) + bytes(body) + bytes([check_byte(body)])


identity = hart(5, [0x06, 0x80, 0x00, 0x0E, 0x00, 0x00, 0xFE, 0x26, 0x06, 0x05, 0x05, 0x01, 0x03,
                    0x08, 0x00, 0x00, 0x12, 0x34])
variables = hart(5, [0x86, 0xA6, 0x06, 0x00, 0x12, 0x34, 0x03, 0x1A, 0x00, 0x00,
                     0x40, 0x80, 0x00, 0x00, 0x20, 0x41, 0xC8, 0x00, 0x00, 0x20, 0x41, 0x20, 0x00,
                     0x00, 0x0C, 0x42, 0xC8, 0x00, 0x00, 0x39, 0x42, 0x48, 0x00, 0x00])
# A text length byte first: 0xFF means "longer than the block", any other value is min(value, block).
for name, block in [("identity", identity), ("variables", variables),
                    ("identity-cut", identity[:15]), ("variables-cut", variables[:20]),
                    ("identity-late", bytes(250) + identity)]:
    for target in ("hart_identity", "hart_variables"):
        write(target, name, bytes([min(len(block), 255)]) + block)
        write(target, name + "-overlong", bytes([0xFF]) + block)

qx1 = ["QX1 ADR:005,BA1:30,BA2:41,MD:1,JTM:012#", "JTM:020 QX1", "QX1 BA1:3x MD:1 JTM:012",
       "QQQ#QV# OK", "QX1 ADR:0", "QX1 MD:", "ADR:005,BA1:30 no marker", "QX1 MDL:4 MDBS1:0 MD:2"]
for i, text in enumerate(qx1):
    write("qx1", "reply%d" % i, text)

qx6 = ["QX6 LJ:000012345,VA0:020.0,VA3:004.5#", "QX6 VA7:100.0 VA0:004.0", "QX6 LJ:12", "VA0:1 no marker"]
for i, text in enumerate(qx6):
    write("qx6", "reply%d" % i, text)

rows = " DA5:1,3F800000,3F800000 DA6:2,40000000,00000000 DA7:3,40400000,00000000 DA8:9,40800000,00000000"
qx2 = ["QX2 DL:0 DA1:2,41200000,3F800000 DA2:1,47F12000,00000000 DA3:1,42c80000,3DCCCCCD" + rows,
       "QX2 DL:3 DA1:2,41200000,3F800000" + rows, "QX2 DL:x DA1:2", "QX2 DA1:1,42C8",
       "QX2 DA1:1,7F800000,FFC00000 DA2:0,00800000,C2C80000", "QX2 DA2:"]
for i, text in enumerate(qx2):
    write("qx2", "reply%d" % i, bytes([i % 11]) + text.encode())

hexes = ["76 89 FD AD", "82 A6 06 00 12 34 03 00", "FF", "7", "76 89 FD A", "76-89", "ff 00",
         "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E", ""]
for i, text in enumerate(hexes):
    write("parse_hex_bytes", "text%d" % i, bytes([16 + i % 4]) + text.encode())

for i, text in enumerate(["001", "-2147483648", "2147483647", "$F7", "0xF7", "x1f", " +12", "12a", "",
                          "96OO", "-$80000000", "$FFFFFFFF", "2147483648"]):
    write("str_to_int", "text%d" % i, text)

for i, text in enumerate(["0.00", "100", "-3.1415927", "1E20", "3.40282346638529E38", "4E38", ".5", "5.",
                          "1e-400", "1e400", "inf", "NAN", "0,5", " 12.5 ", "-0", "1.5e+3"]):
    write("str_to_float", "text%d" % i, text)

qx4 = ["QQQ#QX4:MDL:8,MDBS01:0,05,0,1.000,MDBS02:1,12,1,2.500#", "QX4 MDL:6 MDBS?3:1,07,1,0.500",
       "QX4 MDBS3:1,07,1,0.500", "QX4 MDL:x", "QX4 MDBS_1:x,05", "QX4 MDBS_8:1,1", "MDL:6 no marker"]
for i, text in enumerate(qx4):
    write("qx4", "reply%d" % i, text)

qx3 = ["QQQ#QX3:HART0:1,0,01,6,010;CAMD01:1<04,76 89 FD AD;CAMD02:0<00,#",
       "QX3 HART0:0,1,00,4,005", "QX3 CAMD01:1<04,76 89 FD AD", "QX3 CAMD02:1<14,00 01 02",
       "QX3 HART0:1,0,05,3,120", "QX3 HART0:x", "QX3 CAMD_1:1<9", "HART0:1,0,01,6,010 no marker"]
for i, text in enumerate(qx3):
    write("qx3", "reply%d" % i, text)

for i, text in enumerate(["41 20 00 00", "3F 80 00 00", "C0 49 0F DB", "7F 7F FF FF", "FF FF FF FF",
                          "FFFFFFFF", "FF FF FFFF", "ff ff ff ff", "12 34 56 78 ", "12 34 56 7", "",
                          "41 20", "41", "41 20 00 00 ZZ", "41 20 00 00 00"]):
    write("ieee754", "text%d" % i, text)


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return bytes([crc & 0xFF, crc >> 8])


def modbus(body):
    return bytes(body) + crc16(bytes(body))


# First byte: bit 7 set for a sent frame; the rest picks the pending command (see the harness).
PENDING = {"none": 0, "identity": 1, "variables": 2, "manual": 3, "address": 4, "set": 5, "qx1": 6,
           "qx2": 7, "qx3": 8, "qx4": 9, "qx6": 10, "modbus": 11}
SENT, RECEIVED = 0x80, 0x00
frames = [
    ("sent-qx1", SENT | PENDING["qx1"], b"QQQ#QX1#"),
    ("sent-adr", SENT | PENDING["set"], b"QQS#ADR:005#"),
    ("sent-da1", SENT | PENDING["set"], b"QQS#DA1:1,42C80000,00000000#"),
    ("sent-mdbs", SENT | PENDING["set"], b"QQS#MDBS1:0,05,0,1.000#"),
    ("sent-camd", SENT | PENDING["set"], b"QQS#CAMD01:1<04," + bytes([0x76, 0x89, 0xFD, 0xAD])),
    ("sent-factory", SENT | PENDING["set"], b"TAVRIK#PCBSN:00000123,102#"),
    ("sent-test", SENT | PENDING["none"], b"QQQ#AV0O:12.5#"),
    ("reply-qx1", RECEIVED | PENDING["qx1"], qx1[0].encode()),
    ("reply-qx2", RECEIVED | PENDING["qx2"], qx2[0].encode()),
    ("reply-qx3", RECEIVED | PENDING["qx3"], qx3[0].encode()),
    ("reply-qx4", RECEIVED | PENDING["qx4"], qx4[0].encode()),
    ("reply-qx6", RECEIVED | PENDING["qx6"], qx6[0].encode()),
    ("reply-set", RECEIVED | PENDING["set"], b"QQS#ADR:OK#"),
    ("sent-modbus", SENT | PENDING["modbus"], modbus([0x01, 0x03, 0x00, 0x00, 0x00, 0x12])),
    ("reply-modbus", RECEIVED | PENDING["modbus"], modbus([0x01, 0x03, 0x04, 0x42, 0xC8, 0x00, 0x00])),
    ("reply-modbus-bad-crc", RECEIVED | PENDING["modbus"], bytes([0x01, 0x03, 0x04, 0x42, 0xC8, 0, 0, 0xAB, 0x1C])),
    ("reply-modbus-exception", RECEIVED | PENDING["modbus"], modbus([0x01, 0x83, 0x02])),
    ("sent-identity", SENT | PENDING["identity"], hart(5, [0x02, 0x80, 0x00, 0x00])),
    ("sent-variables", SENT | PENDING["variables"], hart(5, [0x82, 0xA6, 0x06, 0x00, 0x12, 0x34, 0x03, 0x00])),
    ("reply-identity", RECEIVED | PENDING["identity"], identity),
    ("reply-variables", RECEIVED | PENDING["variables"], variables),
    ("reply-variables-bad-check", RECEIVED | PENDING["variables"], variables[:-1] + bytes([variables[-1] ^ 1])),
    ("reply-cut", RECEIVED | PENDING["identity"], identity[:9]),
    ("garbage", RECEIVED | PENDING["none"], bytes([0x00, 0x7A, 0xFF, 0x13])),
]
for name, head, body in frames:
    write("traffic_interpreter", name, bytes([head]) + body)

# Bit 6: a request follows, its length in the next byte, then the block it is answered with.
WITH_REQUEST = 0x40
read_request = modbus([0x01, 0x03, 0x00, 0x00, 0x00, 0x12])
read_reply = modbus([0x01, 0x03, 0x24] + [0x00, 0x07] * 18)
identity_query = hart(7, [0x02, 0x80, 0x00, 0x00])
answered = [
    ("answer-modbus-noise", PENDING["modbus"], read_request, bytes([0x21, 0x5F, 0x91]) + read_reply),
    ("answer-modbus-bad-crc", PENDING["modbus"], read_request, bytes([0x21]) + read_reply[:-1] + bytes([read_reply[-1] ^ 1])),
    ("answer-modbus-cut", PENDING["modbus"], read_request, read_reply[:20]),
    ("answer-modbus-echo", PENDING["modbus"], read_request, read_request + read_reply),
    ("answer-hart-noise", PENDING["identity"], identity_query, bytes([0xF4, 0x4F, 0xE0]) + identity),
    ("answer-hart-cut", PENDING["identity"], identity_query, identity[:12]),
    ("answer-qx1-noise", PENDING["qx1"], b"QQQ#QX1#", bytes([0x76, 0xBE]) + b"QQQ#" + qx1[0].encode()),
    ("answer-set-ack", PENDING["set"], b"QQS#ADR:005#", b"haQQS#ADR:OK#"),
    ("answer-test-err", PENDING["qx1"], b"QQQ#AV0O:100.0#", b"QQQ#AV0O:ERR#"),
]
for name, pending, request, block in answered:
    write("traffic_interpreter", name, bytes([RECEIVED | WITH_REQUEST | pending, len(request)]) + request + block)

# The parameter table's reading of replies: the simulator's factory blocks and a few spoiled ones.
sim_replies = [
    "QQQ#QX1:ADR:001,BA1:30,BA2:30,MD:0,JTM:010#",
    "QQQ#QX2:DL:0" + "".join(",DA%d:%d,42C80000,00000000" % (n, n if n <= 4 else 0) for n in range(1, 9)) + "#",
    "QQQ#QX3:HART0:1,1,00,5,010;CAMD01:1<08,82 26 0C 0A 1B 2C 03 00;CAMD02:0<08,82 26 0C 0A 1B 2C 02 00#",
    "QQQ#QX4:MDL:8" + "".join(",MDBS0%d:0,%s,0,1.000" % (n, a) for n, a in
                              zip(range(1, 9), ["07", "12", "17", "22", "02", "06", "02", "06"])) + "#",
    "QQQ#QX6:LJ:000000000" + "".join(",VA%d:000.0" % n for n in range(8)) + "#",
    "QQQ#QX2:DL:3,DA1:1,42c80000,7FC00000#",
    "QQQ#QX3:HART0:1,1,05,3,1x0;CAMD01:1<04,76 89#",
    "QQQ#QX1:ADR:000,BA1:7",
]
for i, text in enumerate(sim_replies):
    write("profile_replies", "reply%d" % i, text)

backup = """{"format": "vx538-configuration", "version": 1, "written_by": "vx538 1.0",
 "date": "2026-12-09T10:15:00Z", "port": "/dev/ttyUSB0", "device": "QQQ#QV:VX538-T-B#",
 "parameters": {"modbus.address": 17, "rs485.baud": 19200, "rs485.parity": "even", "mode": "single-meter",
  "ao0.20ma": 0.1, "ao5.20ma": "0x47F12000", "read1.command": "82 26 0C 0A 1B 2C 03 00",
  "parse3.coefficient": "0.500", "test.ao1": "\\u00b5\\u0001.0"},
 "not_read": ["ao7.4ma"], "replies": {"QX1": "QQQ#QX1:ADR:017,BA1:42,BA2:30,MD:1,JTM:010#", "RAW": "\\u00ff\\u0006"}}
"""
write("backup_file", "backup", backup)
write("backup_file", "newer", '{"format": "vx538-configuration", "version": 2, "parameters": {}}')
write("backup_file", "twice", '{"format": "vx538-configuration", "version": 1, "parameters": '
      '{"modbus.address": 300, "modbus.address": 17}, "replies": {"QX1": "a", "QX1": "b"}}')
write("backup_file", "bad-value", '{"format": "vx538-configuration", "version": 1, "parameters": {"rs485.baud": 9601}}')

# Replies to the read meter commands: commands 1, 2 and 3 by long address, one with an expansion byte,
# an error response, one cut short and one whose check byte is wrong.
command1 = hart(5, [0x86, 0xA6, 0x0C, 0x0A, 0x1B, 0x2C, 0x01, 0x07, 0x00, 0x00, 0x0C, 0x42, 0xCA, 0x99, 0x9A])
command2 = hart(5, [0x86, 0xA6, 0x0C, 0x0A, 0x1B, 0x2C, 0x02, 0x0A, 0x00, 0x00,
                    0x41, 0x41, 0x0A, 0x3D, 0x42, 0x4A, 0x99, 0x9A])
command3 = variables
expanded = hart(5, [0xA6, 0xA6, 0x0C, 0x0A, 0x1B, 0x2C, 0x55, 0x03, 0x02, 0x00, 0x00])
refused = hart(5, [0x06, 0x80, 0x82, 0x02, 0x40, 0x00])
for name, frame in [("command1", command1), ("command2", command2), ("command3", command3),
                    ("expanded", expanded), ("refused", refused), ("cut", command3[:20]),
                    ("bad-check", command1[:-1] + bytes([command1[-1] ^ 0xFF]))]:
    write("meter_reply", name, frame)

utf8_texts = [
    b"/dev/serial/by-id/usb-FTDI_\xff-if00-port0",
    "caf\u00e9 \u2103 \U0001F600".encode("utf-8"),
    b"\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80\xc3",
    b"\xaf\x8dQQS#MD:OK#",
]
for i, data in enumerate(utf8_texts):
    write("utf8_text", "text%d" % i, data)

# Replies to the poll of registers 40003-40018: a slave byte first (the request's), then the block.
poll_data = [0x42, 0xCA, 0x99, 0x9A] * 8
for name, slave, block in [("poll", 0, modbus([0x01, 0x03, 0x20] + poll_data)),
                           ("poll-slave17", 16, modbus([0x11, 0x03, 0x20] + poll_data)),
                           ("poll-exception", 0, modbus([0x01, 0x83, 0x02])),
                           ("poll-cut", 0, modbus([0x01, 0x03, 0x20] + poll_data)[:20])]:
    write("variables_poll", name, bytes([slave]) + block)

# The bus framer: a first byte that seeds the delivery's cuts, then a stream of the line's traffic.
read_request = modbus([0x01, 0x03, 0x00, 0x02, 0x00, 0x02])
read_reply = modbus([0x01, 0x03, 0x04, 0x42, 0xC8, 0x00, 0x00])
write_request = modbus([0x01, 0x10, 0x00, 0x02, 0x00, 0x02, 0x04, 0x42, 0xC8, 0x00, 0x00])
write_reply = modbus([0x01, 0x10, 0x00, 0x02, 0x00, 0x02])
read_write = modbus([0x01, 0x17, 0x00, 0x00, 0x00, 0x02, 0x00, 0x10, 0x00, 0x01, 0x02, 0x12, 0x34])
read_write_reply = modbus([0x01, 0x17, 0x04, 0x00, 0x01, 0x00, 0x02])
exception = modbus([0x01, 0x83, 0x02])
hart_query = hart(5, [0x02, 0x80, 0x00, 0x00])
bus_streams = {
    "modbus": read_request + read_reply + write_request + write_reply + read_write + read_write_reply,
    "noise": b"\xa7\x00\x13" + read_request + b"\x9c" + read_reply + b"\xa7\x13",
    "damaged": read_request + b"\x01\x03\x04\x42\xc8\x00\x00\x00\x00" + read_request + exception,
    "cut": read_request + b"\x01\x03\x04\x42" + read_request,
    "hart": hart_query + b"\xff\x00" + identity + hart_query + identity[:-1] + b"\x00",
    "text": b"QQQ#QX1#QQQ#QX1:ADR:001,BA1:30,BA2:30,MD:0,JTM:010#QQS#ADR:005#haQQS#ADR:OK#"
            b"QQS#CAMD01:1<03,\x76\x23\xfdQQS#CAMD01:OK#QQQ#QX1#QX1,ADR:005#",
    "stuck": b"\xff" * 40 + read_request,
}
for i, (name, stream) in enumerate(bus_streams.items()):
    write("bus_framer", name, bytes([i * 37 % 256]) + stream)

# The raw capture reader: a capture as vx538 monitor writes it, a newer version, times going back.
write("raw_capture", "capture", "# vx538 monitor raw capture\nvx538-raw 1 start 1718000000123456 baud 115200 parity none\n"
      "0 01 03 00 02 00 02 65 CB\n12034 01 03 04 42 C8 00 00 AB CD\n12034 ff\n")
write("raw_capture", "newer", "vx538-raw 2 start 0 baud 9600 parity even\n")
write("raw_capture", "back", "vx538-raw 1 start 0 baud 0 parity odd\r\n5 01 02\r\n4 03\r\n")

# The simulated bench meter: a first byte that seeds the delivery's cuts, then command lines.
meter_lines = {
    "queries": b"*IDN?\nMEAS:CURR:DC?\r\n:meas:curr? DEF,DEF\nREAD?\n*IDN?;SYST:ERR?\n",
    "errors": b"MEAS:VOLT:DC?\nMEAS:CURR:DC? x\n*IDN? 1\nBOGUS;*IDN?\nSYST:ERR?\nSYST:ERR:NEXT?\n*CLS\n",
    "long": b"MEAS" * 300 + b"\n*OPC?\n",
}
for i, (name, lines) in enumerate(meter_lines.items()):
    write("bench_meter", name, bytes([i * 53 % 256]) + lines)

# The simulated converter's line: a first byte that seeds where the silences fall, then traffic of
# every kind, glued and apart.
sim_streams = {
    "modbus": read_request + read_write + modbus([0x01, 0x07]) + modbus([0x01, 0x2B, 0x0E, 0x01, 0x00]),
    "mixed": b"QQQ#QX1#" + read_request + hart_query + b"\x12\x34" + read_request + b"QQS#ADR:005#",
    "writes": write_request + modbus([0x01, 0x0F, 0x00, 0x00, 0x00, 0x0A, 0x02, 0xFF, 0x03]) + read_request + b"\x00",
}
for i, (name, stream) in enumerate(sim_streams.items()):
    write("sim_line", name, bytes([i * 71 % 256]) + stream)
