#!/usr/bin/env python3
"""Writes the hand-made seeds of the fuzz corpora: well-formed exchanges and
their usual faults, laid out as the targets read their input (libFuzzer's
FuzzedDataProvider takes numbers from the end of the input and bytes and
texts from its front). The corpora in the repository are these seeds plus
what fuzzing found, merged; run this again after changing a target's layout.

Usage: make_seeds.py corpus-folder
"""
import hashlib
import os
import struct
import sys


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def with_crc(frame):
    c = crc16(frame)
    return bytes(frame) + bytes([c & 0xFF, c >> 8])


class Input:
    """Front bytes in order; numbers as the provider will take them from the end."""

    def __init__(self):
        self.front = b""
        self.back = []

    def byte(self, value):  # a number of range below 256
        self.back.append(value & 0xFF)

    def u16(self, value):
        self.back += [value >> 8, value & 0xFF]

    def data(self, raw):
        self.front += bytes(raw)

    def text(self, s):  # a random-length string: a backslash is doubled, the end marked
        self.front += s.replace(b"\\", b"\\\\") + b"\\x"

    def bytes(self):
        return self.front + bytes(reversed(self.back))


def serial_request(drive, index, sub, data=None):
    if data is None:
        return with_crc([drive, 0x2B, 0x0D, 0, 0, 0, index >> 8, index & 0xFF, sub])
    n = len(data)
    return with_crc([drive, 0x2B, 0x0D, 0x80, 0, 0, index >> 8, index & 0xFF, sub, 0, 0, n >> 8, n & 0xFF] + list(data))


def serial_reply_seed(drive, index, sub, data, reply, chunk):
    i = Input()
    i.byte(drive)
    i.u16(index)
    i.byte(sub)
    i.byte(1 if data is not None else 0)
    if data is not None:
        i.byte(len(data))
        i.data(data)
    for at in range(0, len(reply), chunk):
        piece = reply[at:at + chunk]
        i.byte(len(piece) - 1)  # chunk sizes 1..70
        i.data(piece)
    return i.bytes()


def serial_reply_seeds():
    seeds = []
    for chunk in (70, 4, 1):
        req = serial_request(1, 0x6064, 0)
        value = [0x00, 0x01, 0xE2, 0x40]
        seeds.append(serial_reply_seed(1, 0x6064, 0, None, with_crc(list(req) + [0, 4] + value), chunk))
    req = serial_request(7, 0x2100, 0)
    seeds.append(serial_reply_seed(7, 0x2100, 0, None, with_crc(list(req) + [0, 0]), 70))  # m = 0
    seeds.append(serial_reply_seed(7, 0x2100, 0, None, with_crc(list(req) + [0, 60] + [0x33] * 60), 70))
    bad_crc = bytearray(with_crc(list(req) + [0, 2, 0x12, 0x34]))
    bad_crc[-1] ^= 0x80
    seeds.append(serial_reply_seed(7, 0x2100, 0, None, bytes(bad_crc), 70))
    other = list(req)
    other[7] ^= 1
    seeds.append(serial_reply_seed(7, 0x2100, 0, None, with_crc(other + [0, 2, 0x12, 0x34]), 70))
    for n in (1, 4, 52, 53):
        data = bytes(range(0x40, 0x40 + n))
        seeds.append(serial_reply_seed(3, 0x607A, 0, data, serial_request(3, 0x607A, 0, data), 70))
    for code in (1, 2, 3, 4, 5, 6, 7, 8, 0xFF):
        seeds.append(serial_reply_seed(1, 0x2100, 0, None, with_crc([1, 0xAB, code]), 70))
    return seeds


def text_seed(selector, fill):
    i = Input()
    i.byte(selector)
    fill(i)
    return i.bytes()


def text_seeds():
    seeds = []
    seeds.append(text_seed(0, lambda i: i.text(b"0A FF 12 3")))
    seeds.append(text_seed(1, lambda i: i.text(b"0aFFc3")))
    seeds.append(text_seed(2, lambda i: (i.byte(20), i.byte(3), i.data(b"\x0a\xff\x10"), i.byte(3))))
    seeds.append(text_seed(3, lambda i: i.text(b"192,168,1,20")))
    for value, digits in ((1234567.891, 2), (-0.5, 0), (0.004, 3)):
        def number(i, value=value, digits=digits):
            i.byte(1)  # a bit pattern
            i.back += list(struct.pack(">d", value))
            i.byte(digits + 2)  # digits -2..11
            i.byte(30)  # buffer size
        seeds.append(text_seed(4, number))
    seeds.append(text_seed(5, lambda i: (i.byte(0), i.text(b"*a?[b-d]#*"), i.text(b"xxaqc7yy"))))
    seeds.append(text_seed(5, lambda i: (i.byte(1), i.text(b"[!a-c]*"), i.text(b"Zebra"))))
    for value in (-1.25, 0.5, 45000.99999999):
        seeds.append(text_seed(6, lambda i, value=value: (i.back.extend(struct.pack(">d", value)), i.byte(0))))
    seeds.append(text_seed(7, lambda i: (i.byte(4), i.data(b"\x0a\xff\x00\x7f"), i.text(b"0aFF"))))
    seeds.append(text_seed(8, lambda i: i.text(b"C:\\Program Files\\zarn\\zarnctl.exe")))
    seeds.append(text_seed(9, lambda i: (i.text(b'eth 0 \\"quoted\\"'), i.text(b"Software\\zarn"))))
    return seeds


READ_BYTE, READ_WORD, READ_DWORD_S, READ_STRING, WRITE_DWORD, WRITE_STRING = range(6)


def request_seed(kind, drive, index, sub, value, replies, serial, text_length=0):
    """A whole request: the request's numbers, then the reply in chunks (serial) or datagrams (UDP)."""
    i = Input()
    i.byte(kind)
    if serial:
        i.byte(drive)  # drive ids 0..2; UDP has one drive and takes no number for it
    i.u16(index)
    i.byte(sub)
    i.back += list(struct.pack(">I", value))
    if kind == WRITE_STRING:
        i.byte(text_length)
    if not serial:
        i.byte(len(replies))
    for r in replies:
        i.byte(len(r) - 1 if serial else len(r))
        i.data(r)
    return i.bytes()


def ethernet_body(index, sub, data=None):
    if data is None:
        return bytes([0x2B, 0x0D, 0, 0, 0, index >> 8, index & 0xFF, sub])
    n = len(data)
    return bytes([0x2B, 0x0D, 0x80, 0, 0, index >> 8, index & 0xFF, sub, 0, 0, n >> 8, n & 0xFF]) + bytes(data)


def serial_request_seeds():
    seeds = []
    for kind, data in ((READ_WORD, [0x12, 0x34]), (READ_DWORD_S, [0xFF, 0xFF, 0xFF, 0xFE]),
                       (READ_STRING, list(b"AL-01") + [0] * 3), (READ_BYTE, [0x7F])):
        reply = with_crc(list(serial_request(1, 0x2100, 0)) + [0, len(data)] + data)
        seeds.append(request_seed(kind, 1, 0x2100, 0, 0, [reply], True))
        seeds.append(request_seed(kind, 1, 0x2100, 0, 0, [reply[k:k + 3] for k in range(0, len(reply), 3)], True))
    value = [0x00, 0x01, 0xE2, 0x40]
    seeds.append(request_seed(WRITE_DWORD, 2, 0x607A, 0, 123456, [serial_request(2, 0x607A, 0, value)], True))
    seeds.append(request_seed(WRITE_STRING, 1, 0x2702, 1, 0, [serial_request(1, 0x2702, 1, b"z" * 5)], True, 5))
    seeds.append(request_seed(READ_WORD, 1, 0x2100, 0, 0, [with_crc([1, 0xAB, 2])], True))
    seeds.append(request_seed(READ_WORD, 0, 0x2100, 0, 0, [], True))
    return seeds


def udp_request_seeds():
    seeds = []
    for kind, data in ((READ_WORD, [0x12, 0x34]), (READ_DWORD_S, [0xFF, 0xFF, 0xFF, 0xFE]),
                       (READ_STRING, list(b"AL-01") + [0] * 3), (READ_BYTE, [0x7F])):
        reply = ethernet_body(0x2100, 0) + bytes([0, 0, 0, len(data)] + data)
        seeds.append(request_seed(kind, 1, 0x2100, 0, 0, [reply], False))
        seeds.append(request_seed(kind, 1, 0x2100, 0, 0, [reply[:10], reply[10:]], False))
    value = [0x00, 0x01, 0xE2, 0x40]
    seeds.append(request_seed(WRITE_DWORD, 1, 0x607A, 0, 123456, [ethernet_body(0x607A, 0, value)], False))
    seeds.append(request_seed(WRITE_STRING, 1, 0x2702, 1, 0, [ethernet_body(0x2702, 1, b"z" * 5)], False, 5))
    seeds.append(request_seed(READ_WORD, 1, 0x2100, 0, 0, [bytes([0xAB, 0x06, 0, 0])], False))
    seeds.append(request_seed(READ_WORD, 1, 0x2100, 0, 0, [bytes(70), ethernet_body(0x2100, 0) + bytes(4)], False))
    seeds.append(request_seed(READ_WORD, 1, 0x2100, 0, 0, [], False))
    return seeds


def write(folder, seeds):
    os.makedirs(folder, exist_ok=True)
    for s in seeds:
        with open(os.path.join(folder, hashlib.sha1(s).hexdigest()), "wb") as f:
            f.write(s)


def main():
    root = sys.argv[1]
    write(os.path.join(root, "serial_reply"), serial_reply_seeds())
    write(os.path.join(root, "text"), text_seeds())
    write(os.path.join(root, "serial_request"), serial_request_seeds())
    write(os.path.join(root, "udp_request"), udp_request_seeds())


if __name__ == "__main__":
    main()
