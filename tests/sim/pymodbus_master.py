#!/usr/bin/python3
"""vx538-sim as a MODBUS slave, judged by a master nobody here wrote (Debian's pymodbus): the
exception each function gets, the silence the slave keeps before its reply, and a burst that is more
than one request answered by nothing. The program to test is in the environment's VX538_SIM."""
import os
import subprocess
import time
import unittest

import serial
from pymodbus.client import ModbusSerialClient
from pymodbus.diag_message import ReturnQueryDataRequest
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.mei_message import ReadDeviceInformationRequest
from pymodbus.other_message import ReadExceptionStatusRequest, ReportSlaveIdRequest
from pymodbus.pdu import ExceptionResponse
from pymodbus.register_read_message import (ReadHoldingRegistersRequest,
                                            ReadWriteMultipleRegistersRequest)
from pymodbus.register_write_message import WriteSingleRegisterRequest

SIM = os.environ["VX538_SIM"]
# Generous, for a machine whose cores are busy: only the lower bounds below are measured.
REPLY_TIMEOUT = 10.0


class Simulator:
    """vx538-sim started with `options`, its terminal's path read from its first line; stopped by
    its own pid."""

    def __init__(self, *options):
        self.process = subprocess.Popen([SIM, *options], stdout=subprocess.PIPE)
        self.path = self.process.stdout.readline().decode().strip()
        if not self.path.startswith("/dev/"):
            self.stop()
            raise RuntimeError(f"vx538-sim printed no terminal: {self.path!r}")

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=30)
        self.process.stdout.close()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.stop()


def frame(request):
    """The request as pymodbus's RTU framer puts it on the line, CRC included."""
    return ModbusRtuFramer(None).buildPacket(request)


def character_time(baud):
    return 10 / baud  # 8N1


def frame_silence(baud):
    return 0.00175 if baud > 19200 else 3.5 * character_time(baud)


class PymodbusMaster(unittest.TestCase):
    def test_every_function_it_does_not_serve_gets_exception_1(self):
        with Simulator("--baud", "9600") as sim:
            client = ModbusSerialClient(port=sim.path, baudrate=9600, timeout=REPLY_TIMEOUT)
            self.assertTrue(client.connect())
            try:
                cases = [
                    ("read exception status", ReadExceptionStatusRequest(unit=1), 1),
                    ("diagnostics, return query data", ReturnQueryDataRequest(0x1234, unit=1), 1),
                    ("report server ID", ReportSlaveIdRequest(unit=1), 1),
                    ("read and write registers",
                     ReadWriteMultipleRegistersRequest(read_address=2, read_count=2, write_address=2,
                                                       write_registers=[1], unit=1), 1),
                    ("read device identification", ReadDeviceInformationRequest(1, 0, unit=1), 1),
                    # What it serves, for contrast: a write finds no writable register.
                    ("write one register", WriteSingleRegisterRequest(2, 7, unit=1), 2),
                ]
                for name, request, code in cases:
                    with self.subTest(name):
                        response = client.execute(request)
                        self.assertIsInstance(response, ExceptionResponse, f"{name}: {response}")
                        self.assertEqual(response.original_code, request.function_code)
                        self.assertEqual(response.exception_code, code)
                registers = client.execute(ReadHoldingRegistersRequest(2, 2, unit=1))
                self.assertFalse(registers.isError(), registers)
                self.assertEqual(len(registers.registers), 2)
            finally:
                client.close()

    def test_the_reply_starts_no_earlier_than_the_frame_silence_after_the_request(self):
        # The simulator counts a request's first byte as on the line when it reads it, so no earlier
        # than the write began, and its last byte seven characters later; the reply's first byte is
        # read no earlier than it is on the line, one character after the slave's silence. So from
        # the write to the first byte read takes at least the request's length in characters and the
        # silence: a lower bound that load only makes easier to meet. A slave that answers without
        # the silence shows in the samples the machine serves promptly.
        request = frame(ReadHoldingRegistersRequest(2, 4, unit=1))
        for baud in (1200, 9600, 19200):
            with self.subTest(baud=baud), Simulator("--baud", str(baud)) as sim:
                with serial.Serial(sim.path, baud, timeout=REPLY_TIMEOUT) as line:
                    for _ in range(20):
                        written = time.monotonic()
                        line.write(request)
                        first = line.read(1)
                        seen = time.monotonic()
                        self.assertEqual(first, b"\x01")
                        rest = line.read(4 + 8)
                        self.assertEqual(rest[:2], b"\x03\x08")
                        at_least = len(request) * character_time(baud) + frame_silence(baud)
                        self.assertGreaterEqual(seen - written, at_least)
                        time.sleep(0.01)

    @staticmethod
    def skipped(log):
        """How many bursts the simulator has logged as thrown away."""
        if not os.path.exists(log):
            return 0
        with open(log, encoding="latin-1") as f:
            return sum(" ms  skip " in line for line in f)

    def await_skipped(self, log, count):
        deadline = time.monotonic() + REPLY_TIMEOUT
        while self.skipped(log) < count:
            self.assertLess(time.monotonic(), deadline, "the burst was never thrown away")
            time.sleep(0.01)

    def test_a_burst_with_garbage_or_two_requests_gets_no_reply(self):
        # The good request after each burst asks for a count of its own: if the burst had been
        # answered, its reply would come first, and the first reply would not be this one's.
        good = frame(ReadHoldingRegistersRequest(2, 4, unit=1))
        other = frame(ReadHoldingRegistersRequest(2, 2, unit=1))
        bursts = {
            "garbage before a request": b"\x12\x34" + other,
            "two requests without the silence": other + other,
        }
        log = f"/tmp/vx538-pymodbus-{os.getpid()}.log"
        with Simulator("--baud", "9600", "--log", log) as sim:
            with serial.Serial(sim.path, 9600, timeout=REPLY_TIMEOUT) as line:
                for name, burst in bursts.items():
                    with self.subTest(name):
                        skipped = self.skipped(log)
                        line.write(burst)
                        # The good request goes out once the burst is over and thrown away, so a busy
                        # machine cannot join the two into one burst.
                        self.await_skipped(log, skipped + 1)
                        line.write(good)
                        reply = line.read(5 + 8)
                        self.assertEqual(reply[:3], b"\x01\x03\x08", reply.hex())
        os.remove(log)
        # The lenient reading answers the request after the garbage.
        with Simulator("--baud", "9600", "--lenient-modbus") as sim:
            with serial.Serial(sim.path, 9600, timeout=REPLY_TIMEOUT) as line:
                line.write(bursts["garbage before a request"])
                self.assertEqual(line.read(5 + 4)[:3], b"\x01\x03\x04")


if __name__ == "__main__":
    unittest.main()
