#!/usr/bin/env python3
"""zarn-sim seen by a client that knows only the wire format: start the
executable, then over raw UDP and over its serial line enable a drive, start
an absolute move and read the position arriving at the target with the
in-position bit set; requests it does not serve get exceptions; Ctrl+C (SIGINT)
stops it cleanly.
    sim_wire_test.py SIM-COMMAND...                  serial line on a new pseudo-terminal
    sim_wire_test.py --serial PORT DEVICE SIM-COMMAND...
        the sim opens PORT (e.g. COM2 under Wine), this client DEVICE, the other end of PORT"""
import os
import select
import signal
import socket
import struct
import subprocess
import sys
import termios
import time
import tty

args = sys.argv[1:]
serial_option, client_device = ["--serial-pty"], None
if args[0] == "--serial":
    serial_option, client_device, args = ["--serial", args[1]], args[2], args[3:]
sim = args
TIMEOUT = 5.0  # per reply: room for a loaded machine and Wine


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def read_body(index, sub):
    return bytes([0x2B, 0x0D, 0x00, 0x00, 0x00, index >> 8, index & 0xFF, sub])


def write_body(index, sub, data):
    return bytes([0x2B, 0x0D, 0x80, 0x00, 0x00, index >> 8, index & 0xFF, sub, 0, 0, 0, len(data)]) + data


class Udp:
    def __init__(self, port):
        self.s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.s.settimeout(TIMEOUT)
        self.s.connect(("127.0.0.1", port))

    def exchange(self, body):
        self.s.send(body)
        reply = self.s.recv(2048)
        assert reply[:8] == body[:8], f"echo {reply.hex()} for {body.hex()}"
        count = reply[10] << 8 | reply[11]
        return reply[12:12 + count]


class Serial:
    def __init__(self, path, address):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)
        self.address = address

    def exchange(self, body):
        frame = bytes([self.address]) + body
        frame += struct.pack("<H", crc16(frame))
        os.write(self.fd, frame)
        expected = len(frame) if body[2] == 0x80 else None
        reply = b""
        deadline = time.time() + TIMEOUT
        while select.select([self.fd], [], [], max(0, deadline - time.time()))[0]:
            reply += os.read(self.fd, 256)
            if expected is None and len(reply) >= 13:
                expected = 15 + (reply[11] << 8 | reply[12])
            if expected is not None and len(reply) >= expected:
                break
        assert reply[:len(frame)] == frame, f"echo {reply.hex()}"
        assert crc16(reply[:-2]) == struct.unpack("<H", reply[-2:])[0], "reply CRC"
        return reply[13:-2] if body[2] == 0x00 else b""


def drive_a_move(link, target):
    link.exchange(write_body(0x211F, 0, struct.pack(">H", 0x1000)))        # servo enable
    link.exchange(write_body(0x6081, 0, struct.pack(">I", 200000)))        # profile velocity
    link.exchange(write_body(0x607A, 0, struct.pack(">i", target)))        # target position
    control = struct.unpack(">H", link.exchange(read_body(0x6040, 0)))[0]  # absolute: bit 6 clear
    link.exchange(write_body(0x6040, 0, struct.pack(">H", control & ~0x40)))
    link.exchange(write_body(0x2120, 0, struct.pack(">H", 0)))             # start edge
    link.exchange(write_body(0x2120, 0, struct.pack(">H", 1)))
    deadline = time.time() + 5
    while time.time() < deadline:
        state = struct.unpack(">H", link.exchange(read_body(0x2121, 0)))[0]
        position = struct.unpack(">i", link.exchange(read_body(0x6064, 0)))[0]
        if state & 0x10 and position == target:
            return True
        time.sleep(0.02)
    return False


def read_line(proc, deadline):
    text = b""
    while not text.endswith(b"\n"):  # byte by byte: nothing read ahead of select
        if not select.select([proc.stdout], [], [], max(0, deadline - time.time()))[0]:
            raise TimeoutError("zarn-sim printed nothing in time")
        byte = os.read(proc.stdout.fileno(), 1)
        if not byte:
            raise EOFError("zarn-sim ended")
        text += byte
    return text.decode().strip()


proc = subprocess.Popen(sim + ["--udp", "127.0.0.1:0", *serial_option, "--drives", "1,2"],
                        stdout=subprocess.PIPE)
try:
    endpoints = {}
    deadline = time.time() + 60  # Wine starts slowly on a busy machine
    for _ in range(3):
        line = read_line(proc, deadline)
        print(line)
        if line.startswith("drive 1: udp"):
            endpoints["udp1"] = int(line.rsplit(":", 1)[1])
        elif line.startswith("serial line:"):
            endpoints["serial"] = client_device or line.split()[2]
    ok_udp = drive_a_move(Udp(endpoints["udp1"]), 25000)
    ok_serial = drive_a_move(Serial(endpoints["serial"], 2), -12000)
    # An unknown object is refused with exception 2; another function code with 1.
    udp = Udp(endpoints["udp1"])
    udp.s.send(read_body(0x1234, 0))
    assert udp.s.recv(64)[:2] == bytes([0xAB, 0x02])
    udp.s.send(bytes([0x03, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00]))
    assert udp.s.recv(64)[:2] == bytes([0x83, 0x01])
    # On the serial line too, from the unit addressed.
    serial = Serial(endpoints["serial"], 2)
    request = bytes([0x02, 0x03, 0x00, 0x00, 0x00, 0x0A])
    os.write(serial.fd, request + struct.pack("<H", crc16(request)))
    reply, deadline = b"", time.time() + TIMEOUT
    while len(reply) < 5 and select.select([serial.fd], [], [], max(0, deadline - time.time()))[0]:
        reply += os.read(serial.fd, 64)
    assert reply == bytes([0x02, 0x83, 0x01]) + struct.pack("<H", crc16(bytes([0x02, 0x83, 0x01]))), reply.hex()
    print(f"udp move: {'ok' if ok_udp else 'FAILED'}; serial move: {'ok' if ok_serial else 'FAILED'}")
    # Ctrl+C: the drives stop, the sim says so and exits 0.
    proc.send_signal(signal.SIGINT)
    rest = proc.communicate(timeout=30)[0].decode().replace("\r", "")
    stopped = proc.returncode == 0 and rest.strip().endswith("zarn-sim: stopped")
    print(f"Ctrl+C: exit {proc.returncode}, {'stopped' if stopped else 'NOT stopped: ' + repr(rest)}")
    sys.exit(0 if ok_udp and ok_serial and stopped else 1)
finally:
    if proc.poll() is None:
        proc.kill()
        proc.wait(timeout=10)
