#!/usr/bin/env python3
"""zarnctl against real zarn-sim processes (and, for the in-position rules, a
scripted UDP drive): objects by name, motion that stops on Ctrl+C, homing and
the emergency stop, backup and restore, the shell, clear errors, and --json
on every command.

usage: zarnctl_test.py [--wine WINE] ZARNCTL ZARN_SIM [TestClass[.test] ...]
    --wine: both programs are Windows programs, run by WINE; the serial
    tests then use COM1 and COM2, the two ends of one null-modem pair."""
import fcntl
import json
import os
import pty
import re
import select
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

WINE = []
if sys.argv[1] == "--wine":
    WINE = [sys.argv[2]]
    del sys.argv[1:3]
ZARNCTL, SIM = WINE + [sys.argv[1]], WINE + [sys.argv[2]]
del sys.argv[1:3]
STARTUP = 5.0 if WINE else 0.0  # until a Wine program handles Ctrl+C, on a busy machine


class Sim:
    """A zarn-sim process: drives on a free UDP port, on a serial pseudo-terminal, or
    on a COM port (com=(its port, the client's port))."""

    def __init__(self, *options, serial=False, port=0, com=None):
        transport = ["--serial-pty"] if serial else ["--serial", com[0]] if com else ["--udp", f"127.0.0.1:{port}"]
        self.proc = subprocess.Popen([*SIM, *transport, *options], stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if com:
            self.conn = ["--serial", com[1]]
        elif serial:
            self.device = re.search(r"(/dev/\S+)", line).group(1)
            self.conn = ["--serial", self.device]
        else:
            self.port = int(line.strip().rsplit(":", 1)[1])
            self.conn = ["--udp", f"127.0.0.1:{self.port}"]

    def close(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


def free_ports(n):
    """The first of n free UDP ports in a row on loopback."""
    for first in range(42000, 43000, n):
        sockets = []
        try:
            for port in range(first, first + n):
                sockets.append(socket.socket(socket.AF_INET, socket.SOCK_DGRAM))
                sockets[-1].bind(("127.0.0.1", port))
            return first
        except OSError:
            continue
        finally:
            for s in sockets:
                s.close()
    raise RuntimeError("no free ports")


def decode(raw):
    """zarnctl's --json output: strict UTF-8, one JSON object per line."""
    return [json.loads(line) for line in raw.decode("utf-8").splitlines() if line.strip()]


class Case(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def sim(self, *options, serial=False, port=0, com=None):
        s = Sim(*options, serial=serial, port=port, com=com)
        self.addCleanup(s.close)
        return s

    def ctl(self, conn, *args, expect=0, stdin=None, timeout=60):
        """Runs zarnctl with --json; the parsed lines."""
        p = subprocess.run([*ZARNCTL, *conn, "--json", *args], input=stdin, capture_output=True, timeout=timeout,
                           cwd=self.tmp.name)
        self.assertEqual(expect, p.returncode, f"zarnctl {' '.join(map(str, args))}: {p.stdout} {p.stderr}")
        return decode(p.stdout)

    def one(self, conn, *args, **kw):
        lines = self.ctl(conn, *args, **kw)
        self.assertEqual(1, len(lines), lines)
        self.assertIn("ok", lines[0])
        return lines[0]

    def text(self, conn, *args, expect=0):
        """Runs zarnctl without --json; its standard output and error."""
        p = subprocess.run([*ZARNCTL, *conn, *args], capture_output=True, text=True, timeout=60, cwd=self.tmp.name)
        self.assertEqual(expect, p.returncode, p.stdout + p.stderr)
        return p.stdout, p.stderr

    def interrupt(self, conn, *args, signals=1, after=0.6):
        """Starts zarnctl, sends Ctrl+C (SIGINT) once or twice, returns (status, last JSON line)."""
        p = subprocess.Popen([*ZARNCTL, *conn, "--json", *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             cwd=self.tmp.name)
        time.sleep(STARTUP + after)
        for _ in range(signals):
            p.send_signal(signal.SIGINT)
            time.sleep(0.3)
        out, err = p.communicate(timeout=30)
        lines = decode(out)
        return p.returncode, (lines[-1] if lines else {"stderr": err.decode()})

    def value(self, conn, name):
        return self.one(conn, "read", name)["value"]


class Objects(Case):
    def test_names_addresses_and_types(self):
        conn = self.sim().conn
        out = self.one(conn, "read", "actualposition")
        self.assertEqual(("0x6064:00", "ActualPosition", "i32", 0, "0x00000000"),
                         (out["object"], out["name"], out["type"], out["value"], out["hex"]))
        # Written by name or address, read back with another type, or with the type of a family.
        cases = [("PosGainKp", [], "65531", "0x2101:00", "i16", -5, "0xFFFB"),
                 ("0x6060:00", ["i8"], "-1", "0x6060:00", "u8", 255, "0xFF"),
                 ("ProfileVelocity", [], "4000000000", "0x6081:00", "i32", 4000000000 - 2**32, "0xEE6B2800"),
                 ("0x3101:01", [], "0x1234", "0x3101:01", None, 0x1234, "0x1234"),
                 ("0x3114:02", [], "-99", "0x3114:02", None, -99, "0xFFFFFF9D")]
        for target, wtype, value, address, rtype, expected, hex_text in cases:
            written = self.one(conn, "write", target, *wtype, value)
            self.assertIsInstance(written["value"], int, target)
            out = self.one(conn, "read", address, *([rtype] if rtype else []))
            self.assertEqual((expected, hex_text), (out["value"], out["hex"]), address)
        stdout, _ = self.text(conn, "read", "0x3101:01")
        self.assertIn("4660 (0x1234)", stdout)
        self.one(conn, "write", "0x2702:05", "str", "hello drive")
        self.assertEqual("hello drive", self.one(conn, "read", "0x2702:05")["value"])
        # A monitor by name is refused before anything is sent.
        self.assertEqual("usage", self.one(conn, "write", "ActualPosition", "5", expect=2)["error"]["kind"])
        self.assertEqual(0, self.value(conn, "ActualPosition"))
        listed = {o["name"]: o for o in self.one(conn, "objects")["objects"]}
        self.assertEqual({"name": "ActualPosition", "object": "0x6064:00", "type": "i32", "access": "read-only",
                          "meaning": "position actual value"}, listed["ActualPosition"])
        self.assertEqual("setting", listed["ProfileVelocity"]["access"])
        self.assertEqual("command", listed["ControlInput1"]["access"])

    def test_trace_version_and_help(self):
        conn = self.sim().conn
        _, err = self.text(conn, "--trace", "read", "ActualPosition")
        self.assertRegex(err, r"\] read ActualPosition: [0-9.]+ ms, ok\n    tx 2B 0D 00 00 00 60 64 00\n"
                              r"    rx 2B 0D 00 00 00 60 64 00 00 00 00 04 00 00 00 00\n")
        self.assertRegex(self.text([], "--version")[0], r"^zarnctl \d+\.\d+\.\d+ ")
        self.assertIn("--wait", self.text([], "move", "--help")[0])

    def test_json_is_strict_utf8(self):
        conn = self.sim().conn
        subprocess.run([*ZARNCTL, *conn, "write", "0x2702:05", "str", b"caf\xe9 \x01"], check=True,
                       capture_output=True)
        out = self.one(conn, "read", "0x2702:05")  # decode() fails on bytes that are not UTF-8
        self.assertEqual("caf\ufffd \x01", out["value"])


class ScriptedDrive(threading.Thread):
    """A drive over UDP as real ones behave: its in-position bit stays set from the
    last move for the first polls of a new one, and a move settles 3 counts short
    of the target, inside its position window of 10."""

    def __init__(self):
        super().__init__(daemon=True)
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.1)
        self.port = self.sock.getsockname()[1]
        self.values = {(0x2003, 0): (2, 0x0110), (0x211F, 0): (2, 0x1000), (0x2121, 0): (2, 0x0011),
                       (0x6040, 0): (2, 0x000F), (0x6067, 0): (4, 10), (0x606D, 0): (4, 1000)}
        self.polls = None
        self.running = True

    def set(self, index, value):
        width = self.values.get((index, 0), (4, 0))[0]
        self.values[(index, 0)] = (width, value)

    def step(self):
        """One read of the state word during a move."""
        self.polls += 1
        target = self.values[(0x607A, 0)][1]
        target -= (target >> 31) << 32
        if self.polls <= 3:  # stale in-position, not yet moving
            return
        if self.polls <= 8:
            self.set(0x2121, 0x0001)  # servo on, moving
            self.set(0x6064, target * (self.polls - 3) // 6)
        else:
            self.set(0x2121, 0x0011)
            self.set(0x6064, (target - 3) & 0xFFFFFFFF)

    def run(self):
        while self.running:
            try:
                data, peer = self.sock.recvfrom(2048)
            except socket.timeout:
                continue
            key = (data[5] << 8 | data[6], data[7])
            width, value = self.values.get(key, (4, 0))
            if data[2] == 0x80:
                count = data[10] << 8 | data[11]
                new = int.from_bytes(data[12:12 + count], "big")
                if key == (0x2120, 0) and new & 1 and not value & 1:
                    self.polls = 0
                self.values[key] = (count, new)
                reply = data[:12 + count]
            else:
                if key == (0x2121, 0) and self.polls is not None:
                    self.step()
                    width, value = self.values[key]
                reply = data[:8] + bytes(2) + width.to_bytes(2, "big") + value.to_bytes(width, "big")
            self.sock.sendto(reply, peer)


class Motion(Case):
    def test_interrupted_motion_stops_the_axis(self):
        sim = self.sim()
        self.one(sim.conn, "enable")
        status, out = self.interrupt(sim.conn, "move", "abs", "1000000", "--vel", "20000", "--wait")
        self.assertEqual(130, status, out)
        self.assertEqual(("interrupted", "stop"), (out["error"]["kind"], out["stopped_by"]))
        time.sleep(0.1)
        self.assertEqual(0, self.value(sim.conn, "ActualVelocity"))
        self.assertEqual(out["position"], self.value(sim.conn, "ActualPosition"))
        self.assertLess(out["position"], 1000000)
        # record stops the axis too, and keeps what it recorded.
        status, out = self.interrupt(sim.conn, "record", "slow.csv", "--during", "move rel 500000 --vel 20000")
        self.assertEqual((130, "stop"), (status, out["stopped_by"]), out)
        self.assertTrue(os.path.exists(os.path.join(self.tmp.name, "slow.csv")))
        time.sleep(0.1)
        self.assertEqual(0, self.value(sim.conn, "ActualVelocity"))
        # A slow stop: the second Ctrl+C sends the emergency stop.
        self.one(sim.conn, "write", "QuickStopDeceleration", "2000")
        status, out = self.interrupt(sim.conn, "move", "rel", "1000000", "--vel", "50000", "--wait", signals=2)
        self.assertEqual((130, "emergency_stop"), (status, out["stopped_by"]), out)
        info = self.one(sim.conn, "info")
        self.assertEqual((True, False, 0), (info["emergency_stop"], info["servo_on"], info["velocity"]))

    def test_homing_twice_homes_twice(self):
        sim = self.sim("--home-switch", "-3000")
        self.one(sim.conn, "enable")
        for method, offset in [("1", "0"), ("1", "500"), ("1", "500"), ("35", "100"), ("35", "200")]:
            out = self.one(sim.conn, "home", "--method", method, "--offset", offset, "--wait")
            self.assertEqual((True, int(offset)), (out["homed"], out["position"]), (method, offset))
            self.assertEqual(int(offset), self.value(sim.conn, "ActualPosition"))

    def test_emergency_stop_release_enable_move(self):
        sim = self.sim()
        self.one(sim.conn, "enable")
        self.assertTrue(self.one(sim.conn, "estop")["emergency_stop"])
        for refused in (["enable"], ["move", "abs", "1000", "--wait"], ["home", "--method", "35"]):
            out = self.one(sim.conn, *refused, expect=1)
            self.assertIn("emergency stop is latched", out["error"]["message"], refused)
        released = self.one(sim.conn, "estop", "--release")
        self.assertEqual((False, False), (released["emergency_stop"], released["servo_on"]))
        self.assertTrue(self.one(sim.conn, "enable")["servo_on"])
        self.assertEqual(3000, self.one(sim.conn, "move", "abs", "3000", "--wait")["position"])

    def test_failure_when_the_drive_does_not_follow(self):
        sim = self.sim("--limits", "-1000:1000")
        for args in (["record", "r.csv", "--during", "move rel 20000"], ["move", "rel", "20000", "--wait"],
                     ["home", "--method", "1", "--wait"]):
            out = self.one(sim.conn, *args, expect=1)
            self.assertEqual(("incomplete", "the servo is off"), (out["error"]["kind"], out["error"]["message"]))
        self.one(sim.conn, "enable")
        out = self.one(sim.conn, "move", "abs", "5000", "--wait", expect=1)
        self.assertIn("alarm (code 0xFF11)", out["error"]["message"])
        self.assertLess(out["position"], 5000)
        reset = self.one(sim.conn, "reset-alarm")  # which leaves the motor off
        self.assertEqual((False, False), (reset["alarm"], reset["servo_on"]))
        self.one(sim.conn, "enable")
        out = self.one(sim.conn, "--timeout", "300", "move", "abs", "-900", "--vel", "100", "--wait", expect=1)
        self.assertIn("did not end in position within 300 ms", out["error"]["message"])

    def test_wait_uses_the_window_and_sees_the_move_start(self):
        drive = ScriptedDrive()
        drive.start()
        self.addCleanup(lambda: setattr(drive, "running", False))
        out = self.one(["--udp", f"127.0.0.1:{drive.port}"], "--timeout", "3000", "move", "abs", "1000", "--wait")
        self.assertEqual((1000, 997, True), (out["target"], out["position"], out["in_position"]))
        self.assertGreater(drive.polls, 8)


class Parameters(Case):
    def test_backup_and_restore_round_trip_every_index_record(self):
        conn = self.sim().conn
        first, second = (os.path.join(self.tmp.name, n) for n in ("first.json", "second.json"))
        self.one(conn, "write", "0x3114:02", "12345")
        self.one(conn, "write", "0x313F:0B", "7")
        saved = self.one(conn, "backup", first)
        self.assertEqual((64, 0), (saved["index_records"], saved["not_on_drive"]))
        with open(first) as f:
            doc = json.load(f)
        self.assertEqual(("zarn-backup", 2, 64, 64), (doc["format"], doc["version"], doc["index_record_count"],
                                                      len(doc["index_records"])))
        self.assertEqual({"object": "0x6081:00", "type": "u32", "value": 100000}, doc["parameters"]["ProfileVelocity"])
        for address in ("0x3114:02", "0x313F:0B", "ProfileAcceleration"):
            self.one(conn, "write", address, "0")
        self.assertEqual(2, self.one(conn, "restore", first)["format_version"])
        self.assertEqual((12345, 7), (self.value(conn, "0x3114:02"), self.value(conn, "0x313F:0B")))
        self.one(conn, "backup", second)
        with open(second) as f:
            self.assertEqual(doc, json.load(f))

    def test_files_of_the_first_format_and_cut_files(self):
        conn = self.sim().conn
        old = os.path.join(self.tmp.name, "old.json")
        with open(old, "w") as f:
            json.dump({"format": "zarn-backup-1",
                       "parameters": {"profile_acceleration": {"object": "0x6083:00", "type": "u32", "value": 777}},
                       "index_records": [{"number": 3, "values": [1, -2, 3, 4, 5, 6, 7, 8, 9, 10, 11]}]}, f)
        out = self.one(conn, "restore", old)
        self.assertEqual((1, 1, 1), (out["format_version"], out["parameters"], out["index_records"]))
        self.assertEqual((777, -2), (self.value(conn, "ProfileAcceleration"), self.value(conn, "0x3103:02")))
        cut = os.path.join(self.tmp.name, "cut.json")
        with open(cut, "w") as f:
            json.dump({"format": "zarn-backup", "version": 2, "parameters": {}, "index_record_count": 2,
                       "index_records": [{"number": 0, "values": [0] * 11}]}, f)
        self.assertIn("cut short", self.one(conn, "restore", cut, expect=2)["error"]["message"])


class Shell(Case):
    def test_sim_shell_keeps_one_drive(self):
        script = b"enable\n# a comment\nmove abs 5000 --wait\nread ActualPosition\ninfo\n"
        lines = self.ctl(["--sim"], "shell", stdin=script)
        self.assertEqual(["enable", "move", "read", "info"], [line["command"] for line in lines])
        self.assertEqual((5000, True), (lines[2]["value"], lines[3]["servo_on"]))
        # From a script, the first failure ends the shell with its status.
        lines = self.ctl(["--sim"], "shell", stdin=b"enable\nmove abs 10 --vel 0\nread ActualPosition\n", expect=2)
        self.assertEqual(["enable", None], [line["command"] for line in lines])

    def test_terminal_line_editor_with_history(self):
        pid, fd = pty.fork()
        if pid == 0:
            os.execv(ZARNCTL[0], [*ZARNCTL, "--sim", "shell"])
        out = b""

        def until(marker, count=1):
            nonlocal out
            deadline = time.time() + 20
            while out.count(marker) < count and time.time() < deadline:
                if select.select([fd], [], [], 0.5)[0]:
                    try:
                        out += os.read(fd, 4096)
                    except OSError:
                        break
            self.assertGreaterEqual(out.count(marker), count, out)

        prompt = b"zarnctl> \x1b[K"  # drawn with an empty line when the shell waits for one
        until(prompt)
        os.write(fd, b"write ProfileVelocity 1234\r")
        until(prompt, 2)
        os.write(fd, b"read PX\x7f\x7fProfileVelocty\x1b[D\x1b[Di\x1b[F\r")  # edited: backspace, left, end
        until(b"1234 (0x000004D2)")
        os.write(fd, b"\x1b[A\r")  # the last line again
        until(b"1234 (0x000004D2)", 2)
        os.write(fd, b"exit\r")
        _, status = os.waitpid(pid, 0)
        os.close(fd)
        self.assertEqual(0, os.waitstatus_to_exitcode(status))


class Errors(Case):
    def test_connection_failures_say_why_and_what_to_try(self):
        def failure(conn, expect=1):
            return self.one(conn, "info", expect=expect)["error"]

        e = failure(["--serial", "/dev/zarnctl-no-such-port"])
        self.assertEqual("connection", e["kind"])
        self.assertIn("does not exist", e["message"])
        self.assertIn("plugged in", e["hint"])
        self.assertIn("not a serial device", failure(["--serial", "/dev/null"])["message"])
        line = self.sim(serial=True)
        with open(line.device, "rb") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            e = failure(line.conn)
        self.assertIn("is busy", e["message"])
        self.assertEqual("ActualPosition", self.one(line.conn, "read", "ActualPosition")["name"])  # free again
        quiet = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)  # bound, never answers
        quiet.bind(("127.0.0.1", 0))
        self.addCleanup(quiet.close)
        started = time.time()
        e = failure(["--udp", f"127.0.0.1:{quiet.getsockname()[1]}"])
        self.assertLess(time.time() - started, 3.5)
        self.assertIn("nothing answered", e["message"])
        self.assertIn("powered", e["hint"])
        sim = self.sim()
        self.assertEqual("ActualPosition", self.one(["--udp", f"localhost:{sim.port}"], "read", "ActualPosition")["name"])
        self.assertIn("ids 0 to 31", failure(["--udp", f"localhost:{sim.port}", "--drive", "40"], expect=2)["message"])
        self.assertIn("ids 1 to 255", failure(["--serial", line.device, "--drive", "0"], expect=2)["message"])

    def test_command_failures(self):
        conn = self.sim().conn
        e = self.one(conn, "read", "0x1234:00", "u16", expect=1)["error"]
        self.assertEqual((6, "Reply Error: Data address is not allowable."), (e["code"], e["message"]))
        self.assertIn("zarnctl objects", e["hint"])
        self.assertEqual(7, self.one(conn, "write", "0x6081:00", "u16", "5", expect=1)["error"]["code"])
        for args in (["read", "NoSuchThing"], ["read", "0x60641:00"], ["read", "0x3200:00"],
                     ["write", "0x6060:00", "i8", "300"], ["frobnicate"], ["move", "sideways", "5"]):
            self.assertEqual("usage", self.one(conn, *args, expect=2)["error"]["kind"], args)
        _, err = self.text(conn, "read", "0x1234:00", "u16", expect=1)
        self.assertIn("(code 6)\n  try: the drive has no such object", err)

    def test_scan(self):
        port = free_ports(3)  # two drives, then a silent port
        udp = self.sim("--drives", "1,2", port=port)
        found = self.one(udp.conn, "scan", "--ports", f"{udp.port}-{udp.port + 2}")["drives"]
        self.assertEqual([udp.port, udp.port + 1], [d["port"] for d in found])
        line = self.sim("--drives", "1,2", serial=True)
        self.assertEqual([1, 2], [d["id"] for d in self.one(line.conn, "scan", "--ids", "1-3")["drives"]])
        # Ids 3 to 40 are silent (over a minute): the interrupt comes once zarnctl runs, even slowed by load.
        status, out = self.interrupt(line.conn, "scan", "--ids", "1-40", after=1.5)
        self.assertEqual((130, "interrupted"), (status, out["error"]["kind"]))
        self.assertLessEqual(len(out["drives"]), 2)


@unittest.skipUnless(WINE, "COM1 and COM2 are a linked pair under Wine only")
class ComPorts(Case):
    def test_drive_on_a_com_port_and_a_missing_port(self):
        sim = self.sim(com=("COM2", "COM1"))
        self.one(sim.conn, "write", "ProfileVelocity", "1234")
        self.assertEqual(1234, self.value(["--serial", "com1"], "ProfileVelocity"))  # names in any case
        e = self.one(["--serial", "COM9"], "info", expect=1)["error"]
        self.assertEqual("connection", e["kind"])
        self.assertIn("COM9 does not exist", e["message"])
        self.assertIn("Device Manager", e["hint"])


class JsonEverywhere(Case):
    def test_every_command_prints_json(self):
        sim = self.sim()
        c = sim.conn
        backup = os.path.join(self.tmp.name, "b.json")
        runs = [["objects"], ["read", "ActualPosition"], ["write", "ProfileVelocity", "200000"], ["info"],
                ["enable"], ["alarms"], ["io"], ["monitor", "--count", "2", "--interval", "10"],
                ["move", "rel", "1000", "--wait"], ["move", "abs", "0"], ["home", "--method", "35", "--wait"],
                ["stop"], ["record", "r.csv", "--during", "move rel 500"], ["backup", backup], ["restore", backup],
                ["store"], ["scan"], ["disable"], ["estop"], ["estop", "--release"], ["reset-alarm"],
                ["shell"], ["demo"]]
        seen = set()
        for args in runs:
            lines = self.ctl(c, *args, stdin=b"read ActualVelocity\n")
            self.assertTrue(lines, args)
            expected = "read" if args[0] == "shell" else args[0]  # the shell's line
            self.assertEqual([(expected, True)] * len(lines), [(line["command"], line["ok"]) for line in lines])
            seen.add(args[0])
        if not WINE:  # zarnctl.exe has no console yet
            # The console serves until Ctrl+C; its one line comes at its start (here on a serial line it holds alone).
            serial = self.sim(serial=True)
            p = subprocess.Popen([*ZARNCTL, *serial.conn, "--json", "console", "--listen", "127.0.0.1:0"],
                                 stdout=subprocess.PIPE)
            line = json.loads(p.stdout.readline())
            p.send_signal(signal.SIGINT)
            self.assertEqual(("console", True, 130), (line["command"], line["ok"], p.wait(timeout=30)))
            p.stdout.close()
            seen.add("console")
        help_text, _ = self.text([], "--help")
        commands = set(re.findall(r"^  ([a-z-]+) {2,}", help_text.split("Subcommands:")[1], re.M))
        self.assertEqual(commands, seen)
        self.assertEqual(None, self.one(c, "frobnicate", expect=2)["command"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
