#!/usr/bin/python3
# pyserial's RFC 2217 server (serial.rfc2217.PortManager, Debian's python3-serial) in front of one
# serial device, for tests: it listens on 127.0.0.1 (a port the kernel picks, printed as the first
# line of standard output) and serves one client at a time until the test kills it by its pid.
#
#   rfc2217_server.py DEVICE [--confirm-half-baud]
#
# --confirm-half-baud plays a server whose port cannot take the speed asked: it sets it, and
# confirms half of it, as a server confirms the rate it actually runs at.
import socket
import sys
import termios
import threading

import serial
import serial.rfc2217


class PtySerial(serial.Serial):
    """A pseudo-terminal has no modem lines: they read as low and setting them does nothing."""

    def _modem_line(self, name):
        try:
            return getattr(serial.Serial, name).fget(self)
        except OSError:
            return False

    cts = property(lambda self: self._modem_line("cts"))
    dsr = property(lambda self: self._modem_line("dsr"))
    ri = property(lambda self: self._modem_line("ri"))
    cd = property(lambda self: self._modem_line("cd"))

    def _reconfigure_port(self, force_update=False):
        # Linux refuses (EINVAL) a change that asks for parity again once a pseudo-terminal has
        # dropped the enable bit it cannot keep; what it did take stays, and a real port would
        # not refuse.
        try:
            serial.Serial._reconfigure_port(self, force_update)
        except termios.error:
            pass

    def _update_dtr_state(self):
        try:
            serial.Serial._update_dtr_state(self)
        except OSError:
            pass

    def _update_rts_state(self):
        try:
            serial.Serial._update_rts_state(self)
        except OSError:
            pass


class HalfBaudSerial(PtySerial):
    @property
    def baudrate(self):
        return PtySerial.baudrate.fget(self) // 2

    @baudrate.setter
    def baudrate(self, value):
        PtySerial.baudrate.fset(self, value)


class Connection:
    """The thread-safe write PortManager wants."""

    def __init__(self, sock):
        self.sock = sock
        self.lock = threading.Lock()

    def write(self, data):
        with self.lock:
            self.sock.sendall(data)


def serve(device, sock):
    manager = serial.rfc2217.PortManager(device, Connection(sock))
    stop = threading.Event()

    def line_to_network():
        while not stop.is_set():
            try:
                data = device.read(device.in_waiting or 1)
            except serial.SerialException:
                break
            if data:
                try:
                    manager.connection.write(b"".join(manager.escape(data)))
                except OSError:
                    break

    reader = threading.Thread(target=line_to_network, daemon=True)
    reader.start()
    try:
        while True:
            data = sock.recv(4096)
            if not data:
                break
            device.write(b"".join(manager.filter(data)))
    except OSError:
        pass
    stop.set()
    reader.join(1)


def main():
    path = sys.argv[1]
    kind = HalfBaudSerial if "--confirm-half-baud" in sys.argv[2:] else PtySerial
    device = kind(path, timeout=0.1)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    print(listener.getsockname()[1], flush=True)
    while True:
        sock, _ = listener.accept()
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            serve(device, sock)
        finally:
            sock.close()


if __name__ == "__main__":
    main()
