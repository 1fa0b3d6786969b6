#!/usr/bin/env python3
"""zarnctl against zarn-sim: typed round trips, a waited move, backup and
restore, --json output, and clear failures for bad input."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

ZARNCTL, SIM = sys.argv[1], sys.argv[2]
del sys.argv[1:3]


class ZarnctlAgainstSim(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = subprocess.Popen([SIM, "--udp", "127.0.0.1:0", "--limits", "-500000:500000"],
                                   stdout=subprocess.PIPE, text=True)
        cls.port = int(cls.sim.stdout.readline().strip().rsplit(":", 1)[1])
        cls.tmp = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        cls.sim.terminate()
        cls.sim.wait(timeout=5)
        cls.tmp.cleanup()

    def run_ctl(self, *args, connection=None, expect=0):
        conn = connection if connection is not None else ["--udp", f"127.0.0.1:{self.port}"]
        p = subprocess.run([ZARNCTL, *conn, "--json", *args], capture_output=True, text=True, timeout=60,
                           cwd=self.tmp.name)
        self.assertEqual(expect, p.returncode, f"zarnctl {' '.join(args)}: {p.stdout} {p.stderr}")
        lines = [l for l in p.stdout.splitlines() if l.strip()]
        return [json.loads(l) for l in lines]

    def one(self, *args, **kw):
        out = self.run_ctl(*args, **kw)
        self.assertEqual(1, len(out))
        return out[0]

    def test_typed_round_trips(self):
        cases = [("0x2101:00", "u16", "65531", "i16", -5), ("0x6060:00", "i8", "-1", "u8", 255),
                 ("0x6081:00", "u32", "4000000000", "i32", 4000000000 - 2**32), ("0x607C:00", "i32", "-123456", "i32", -123456),
                 ("0x3101:01", "u16", "0x1234", "u16", 0x1234)]
        for address, wtype, value, rtype, expected in cases:
            self.one("write", address, wtype, value)
            self.assertEqual(expected, self.one("read", address, rtype)["value"], address)
        self.one("write", "0x2702:05", "str", "hello drive")
        self.assertEqual("hello drive", self.one("read", "0x2702:05", "str")["value"])

    def test_move_waits_for_the_target(self):
        self.one("enable")
        out = self.one("move", "abs", "12000", "--vel", "200000", "--acc", "2000000", "--dec", "2000000", "--wait")
        self.assertEqual(12000, out["position"])
        self.assertTrue(out["in_position"])
        out = self.one("move", "rel", "-2000", "--wait")
        self.assertEqual(10000, out["position"])
        self.assertTrue(self.one("info")["enabled"])

    def test_backup_and_restore_reproduce_the_parameters(self):
        first = os.path.join(self.tmp.name, "first.json")
        second = os.path.join(self.tmp.name, "second.json")
        saved = self.one("backup", first)
        self.assertGreater(saved["parameters"], 20)
        self.assertEqual(16, saved["index_records"])
        self.one("write", "0x6083:00", "u32", "777")
        self.one("write", "0x3102:02", "i32", "-99")
        self.one("restore", first)
        self.one("backup", second)
        with open(first) as a, open(second) as b:
            self.assertEqual(json.load(a), json.load(b))
        self.assertNotEqual(777, self.one("read", "0x6083:00", "u32")["value"])

    def test_status_commands(self):
        io = self.one("io")
        self.assertIn("home_sensor", io)
        alarms = self.one("alarms")
        self.assertFalse(alarms["alarm"])
        samples = self.run_ctl("monitor", "--count", "3", "--interval", "20")
        self.assertEqual(3, len(samples))
        self.assertIn("position", samples[0])
        homed = self.one("home", "--method", "35", "--offset", "100", "--wait")
        self.assertTrue(homed["homed"])
        self.assertEqual(100, homed["position"])

    def test_record_writes_csv_and_svg(self):
        self.one("enable")
        out = self.one("record", "motion.csv", "--during", "move rel 5000 --vel 100000")
        csv = os.path.join(self.tmp.name, "motion.csv")
        svg = os.path.join(self.tmp.name, "motion.svg")
        with open(csv) as f:
            rows = f.read().splitlines()
        self.assertEqual("time_s,position,velocity", rows[0])
        self.assertGreater(len(rows), 10)
        self.assertEqual(out["position"], int(rows[-1].split(",")[1]))
        with open(svg) as f:
            self.assertIn("<polyline", f.read())

    def test_failures_are_clear(self):
        out = self.one("read", "0x1234:00", "u16", expect=1)
        self.assertEqual(6, out["code"])
        self.assertEqual("Reply Error: Data address is not allowable.", out["message"])
        out = self.one("write", "0x6081:00", "u16", "5", expect=1)
        self.assertEqual(7, out["code"])
        self.assertIsNone(self.one("read", "0x60641:00", "u16", expect=2)["code"])
        self.assertIsNone(self.one("write", "0x6060:00", "i8", "300", expect=2)["code"])
        self.assertIsNone(self.one("frobnicate", expect=2)["code"])
        # Nobody listens on port 9 of loopback: the request gets no reply.
        out = self.one("read", "0x6064:00", "i32", connection=["--udp", "127.0.0.1:9"], expect=1)
        self.assertIn(out["code"], (27, 32))
        p = subprocess.run([ZARNCTL, "--udp", "127.0.0.1:9", "read", "0x6064:00", "i32"], capture_output=True,
                           text=True, timeout=30)
        self.assertEqual(1, p.returncode)
        self.assertRegex(p.stderr, r"Ethernet: .* \(code (27|32)\)")

    def test_in_process_sim_and_store(self):
        out = self.one("read", "0x2003:00", "u16", connection=["--sim"])
        self.assertEqual(0x0110, out["value"])
        self.assertEqual("store", self.one("store")["done"])

    def test_demo(self):
        p = subprocess.run([ZARNCTL, "demo"], capture_output=True, text=True, timeout=120, cwd=self.tmp.name)
        self.assertEqual(0, p.returncode, p.stdout + p.stderr)
        self.assertIn("summary", p.stdout)
        self.assertTrue(os.path.exists(os.path.join(self.tmp.name, "zarn-demo.svg")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
