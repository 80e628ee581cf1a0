#!/usr/bin/python3
# A network peer that misbehaves on purpose, one way per mode, for the tests of network ports: it
# listens on 127.0.0.1 (a port the kernel picks, printed as the first line of standard output) and
# serves each connection in a thread of its own until the test kills it by its pid.
#
# Modes that need the client to open an rfc2217:// port first do just enough of RFC 2217 for that
# (COM-PORT accepted, each command answered with its own value), then turn hostile.
import os
import socket
import sys
import threading
import time

IAC, SB, SE, WILL, WONT, DO, DONT = 255, 250, 240, 251, 252, 253, 254
COM_PORT = 44

# A MODBUS request (slave 1, read holding registers 2..5) with its right CRC: what a hidden frame is.
MODBUS_REQUEST = bytes([0x01, 0x03, 0x00, 0x02, 0x00, 0x04, 0xE5, 0xC9])


def sub(body):
    """A COM-PORT subnegotiation, its 0xFF bytes doubled."""
    return bytes([IAC, SB, COM_PORT]) + body.replace(b"\xff", b"\xff\xff") + bytes([IAC, SE])


class Reader:
    """Reads the client's bytes, answering its COM-PORT commands with their own values."""

    def __init__(self, conn):
        self.conn = conn
        self.lock = threading.Lock()  # a hostile stream and the answers never interleave
        self.quiet = False  # once the hostile stream began, nothing is answered any more
        self.answered = threading.Event()
        self.state = "data"
        self.body = bytearray()

    def feed(self, data):
        for b in data:
            if self.state == "data":
                if b == IAC:
                    self.state = "iac"
            elif self.state == "iac":
                self.state = "sub" if b == SB else "option" if WILL <= b <= DONT else "data"
                self.body = bytearray()
            elif self.state == "option":
                self.state = "data"
            elif self.state == "sub":
                if b == IAC:
                    self.state = "subiac"
                else:
                    self.body.append(b)
            elif self.state == "subiac":
                if b == SE:
                    self.state = "data"
                    self.answer(bytes(self.body))
                else:
                    self.body.append(b)
                    self.state = "sub"

    def answer(self, body):
        if len(body) >= 2 and body[0] == COM_PORT and body[1] < 100 and not self.quiet:
            self.send(sub(bytes([body[1] + 100]) + body[2:]))
            self.answered.set()

    def send(self, data):
        with self.lock:
            self.conn.sendall(data)

    def handshake(self):
        """Accepts COM-PORT and answers until the client's first command was answered."""
        self.conn.sendall(bytes([IAC, DO, COM_PORT, IAC, WILL, 0, IAC, DO, 0]))
        while not self.answered.is_set():
            data = self.conn.recv(4096)
            if not data:
                raise ConnectionError("closed during the handshake")
            self.feed(data)

    def keep_reading(self):
        def run():
            try:
                while True:
                    data = self.conn.recv(65536)
                    if not data:
                        return
                    self.feed(data)
            except OSError:
                return

        threading.Thread(target=run, daemon=True).start()


def forever(reader, chunk):
    while True:
        reader.send(chunk)


def serve(conn, mode):
    reader = Reader(conn)
    if mode == "random":
        forever(reader, os.urandom(1 << 16))
    elif mode == "greeting":
        # A busy port's refusal, as the answer to whatever the client sends first (its Telnet
        # negotiation, or a request), or unasked after half a second of its silence.
        conn.settimeout(0.5)
        try:
            conn.recv(4096)
        except socket.timeout:
            pass
        conn.sendall(b"port busy\r\n")
        conn.shutdown(socket.SHUT_RDWR)
        return
    reader.handshake()
    if mode in ("sub-endless", "sub-modbus"):
        reader.quiet = True  # an answer now would end the subnegotiation for the client
    if mode == "iac-iac":
        reader.keep_reading()
        forever(reader, b"\xff" * (1 << 16))
    elif mode == "sub-endless":
        reader.keep_reading()
        reader.send(bytes([IAC, SB, COM_PORT]))
        forever(reader, bytes(range(1, 255)) * 256)
    elif mode == "sub-modbus":
        # 20 KB of one subnegotiation with a MODBUS request in its body, set apart by pauses as a
        # frame on a line is: nothing of it is line data.
        reader.keep_reading()
        reader.send(bytes([IAC, SB, COM_PORT]) + bytes(17000))
        time.sleep(0.05)
        reader.send(MODBUS_REQUEST)
        time.sleep(0.05)
        reader.send(bytes(3000) + bytes([IAC, SE]))
        while True:
            time.sleep(1)
    elif mode == "will-storm":
        # Options nobody agreed to, each wanting an answer, from a server that reads no more.
        storm = b"".join(bytes([IAC, verb, option]) for option in range(5, 40) for verb in (WILL, DO))
        forever(reader, storm * 64)
    elif mode == "will-unread":
        # Options nobody agreed to, a burst and then a steady stream slower than any flood, from a
        # server that reads no more (its receive buffer small): the answers pile up on our side.
        storm = b"".join(bytes([IAC, verb, option]) for option in range(5, 40) for verb in (WILL, DO))
        reader.send(storm * 2000)
        while True:
            reader.send(storm * 10)
            time.sleep(0.05)
    elif mode in ("notify-storm", "notify-trickle"):
        reader.keep_reading()
        # Line state: overrun, parity and framing errors; modem state: ring and carrier changes.
        notices = (sub(bytes([106, 0x0E])) + sub(bytes([107, 0x0C]))) * 256
        if mode == "notify-storm":
            forever(reader, notices)
        while True:  # about 35 KB a second: below any bound a real server could reach
            reader.send(notices)
            time.sleep(0.1)
    else:
        raise SystemExit("unknown mode " + mode)


def main():
    mode = sys.argv[1]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if mode == "will-unread":
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print(listener.getsockname()[1], flush=True)

    def run(conn):
        try:
            serve(conn, mode)
        except OSError:
            pass
        finally:
            conn.close()

    while True:
        conn, _ = listener.accept()
        threading.Thread(target=run, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
