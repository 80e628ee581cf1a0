#!/usr/bin/python3
"""A MODBUS RTU bus made of programs nobody here wrote: Debian's pymodbus as master and as slave, each
on a pseudo-terminal of its own, joined by a relay that copies both directions and hands a copy of
every byte to a third pseudo-terminal, where a listen-only monitor reads the bus.

Prints the monitor's port (a path) on its first line, waits for the file given by --go to exist,
then sends every request pymodbus's client has, once each, and writes the frames the client logged
(SEND and RECV, as hex) to --frames, one per line. Keeps the bus until the file given by --end
exists, so the monitor is stopped while its port is still there."""
import argparse
import logging
import os
import select
import sys
import threading
import time
import tty

from pymodbus import diag_message as diag
from pymodbus.client import ModbusSerialClient
from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.device import ModbusDeviceIdentification
from pymodbus.file_message import FileRecord, ReadFifoQueueRequest, ReadFileRecordRequest, WriteFileRecordRequest
from pymodbus.mei_message import ReadDeviceInformationRequest
from pymodbus.other_message import GetCommEventCounterRequest, GetCommEventLogRequest, ReportSlaveIdRequest
from pymodbus.register_read_message import ReadWriteMultipleRegistersRequest
from pymodbus.register_write_message import MaskWriteRegisterRequest
from pymodbus.server import StartSerialServer
from pymodbus.transaction import ModbusRtuFramer


def pty_pair():
    master, slave = os.openpty()
    tty.setraw(slave)
    return master, slave, os.ttyname(slave)


def relay(client_side, server_side, tap, stop):
    """Copies each direction as it comes and every byte to the tap, in the order it crossed."""
    while not stop.is_set():
        ready, _, _ = select.select([client_side, server_side], [], [], 0.05)
        for fd in ready:
            try:
                data = os.read(fd, 4096)
            except OSError:
                continue
            # The tap first: once either end has a frame, the monitor's port has it too.
            os.write(tap, data)
            os.write(server_side if fd == client_side else client_side, data)


class Frames(logging.Handler):
    """The frames the client says it sent and received."""

    def __init__(self):
        super().__init__(logging.DEBUG)
        self.lines = []

    def emit(self, record):
        text = record.getMessage()
        for word in ("SEND: ", "RECV: "):
            if text.startswith(word):
                values = [int(v, 16) for v in text[len(word):].split()]
                if values:
                    self.lines.append(word[:4] + " " + " ".join("%02X" % v for v in values))


def requests(client):
    """One of each request pymodbus's client sends, to slave 1 (the requests built here carry their
    slave as `unit`: the client's helpers for them put it elsewhere)."""
    s = 1
    yield lambda: client.read_coils(1, 10, slave=s)
    yield lambda: client.read_discrete_inputs(1, 12, slave=s)
    yield lambda: client.read_holding_registers(2, 16, slave=s)
    yield lambda: client.read_input_registers(4, 3, slave=s)
    yield lambda: client.write_coil(3, True, slave=s)
    yield lambda: client.write_register(2, 0x1234, slave=s)
    yield lambda: client.read_exception_status(slave=s)
    yield lambda: client.diag_query_data(0xA537, slave=s)
    yield lambda: client.diag_restart_communication(False, slave=s)
    for request in (diag.ReturnDiagnosticRegisterRequest, diag.ReturnBusMessageCountRequest,
                    diag.ReturnSlaveMessageCountRequest, diag.ReturnSlaveBusCharacterOverrunCountRequest,
                    diag.ClearCountersRequest):
        yield lambda request=request: client.execute(request(unit=s))
    yield lambda: client.execute(GetCommEventCounterRequest(unit=s))
    yield lambda: client.execute(GetCommEventLogRequest(unit=s))
    yield lambda: client.write_coils(1, [True, False, True, True, False, False, True, True, True, False], slave=s)
    yield lambda: client.write_registers(4, [100, 200, 0x42C8], slave=s)
    yield lambda: client.execute(ReportSlaveIdRequest(unit=s))
    yield lambda: client.execute(ReadFileRecordRequest([FileRecord(file_number=4, record_number=1, record_length=2)],
                                                       unit=s))
    yield lambda: client.execute(WriteFileRecordRequest(
        [FileRecord(file_number=4, record_number=7, record_data=b"\x06\xaf\x04\xbe")], unit=s))
    yield lambda: client.execute(MaskWriteRegisterRequest(address=4, and_mask=0x00F2, or_mask=0x0025, unit=s))
    yield lambda: client.execute(ReadWriteMultipleRegistersRequest(
        read_address=3, read_count=6, write_address=14, write_registers=[0xFF, 0xFF, 0xFF], unit=s))
    yield lambda: client.execute(ReadFifoQueueRequest(address=1246, unit=s))
    yield lambda: client.execute(ReadDeviceInformationRequest(read_code=1, object_id=0, unit=s))
    yield lambda: client.read_holding_registers(9000, 2, slave=s)  # an exception: illegal data address


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--baud", type=int, default=19200)
    parser.add_argument("--go", required=True)
    parser.add_argument("--frames", required=True)
    parser.add_argument("--end", required=True)
    args = parser.parse_args()

    client_master, client_slave, client_path = pty_pair()
    server_master, server_slave, server_path = pty_pair()
    tap_master, tap_slave, tap_path = pty_pair()

    block = ModbusSequentialDataBlock(0, list(range(100)))
    context = ModbusServerContext(
        slaves=ModbusSlaveContext(di=block, co=ModbusSequentialDataBlock(0, [0] * 100),
                                  hr=ModbusSequentialDataBlock(0, list(range(100))), ir=block),
        single=True)
    identity = ModbusDeviceIdentification(info_name={"VendorName": "Pymodbus", "ProductCode": "PM",
                                                     "MajorMinorRevision": "3.0.0"})
    threading.Thread(target=lambda: StartSerialServer(context=context, identity=identity, framer=ModbusRtuFramer,
                                                      port=server_path, baudrate=args.baud, timeout=0.01),
                     daemon=True).start()
    stop = threading.Event()
    copier = threading.Thread(target=relay, args=(client_master, server_master, tap_master, stop), daemon=True)
    copier.start()

    # The slave answers before the monitor is told where to listen (what crossed until then is
    # discarded when it opens its port).
    client = ModbusSerialClient(method="rtu", port=client_path, baudrate=args.baud, timeout=2, retries=0)
    client.connect()
    while client.read_holding_registers(0, 1, slave=1).isError():
        pass
    print(tap_path, flush=True)
    while not os.path.exists(args.go):
        time.sleep(0.01)

    frames = Frames()
    logging.getLogger("pymodbus.transaction").addHandler(frames)
    logging.getLogger("pymodbus.transaction").setLevel(logging.DEBUG)
    for request in requests(client):
        request()
        time.sleep(0.05)
    client.close()
    with open(args.frames + ".part", "w") as out:
        out.write("\n".join(frames.lines) + "\n")
    os.rename(args.frames + ".part", args.frames)
    while not os.path.exists(args.end):
        time.sleep(0.01)
    stop.set()
    copier.join()
    return 0


if __name__ == "__main__":
    sys.exit(main())
