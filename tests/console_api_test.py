#!/usr/bin/env python3
"""zarnctl console's HTTP API, with plain HTTP requests, against virtual drives
(--sim): bad input gets a clear 4xx answer, a refusal of the drive carries the
library's code and message, values are read back, a jog without heartbeats
stops, the event stream carries each drive's samples and state, a backup
restores, and beyond loopback every request needs the token.

usage: console_api_test.py ZARNCTL"""
import http.client
import json
import signal
import subprocess
import sys
import time
import unittest

ZARNCTL = sys.argv[1]
del sys.argv[1:2]


class Console:
    """A zarnctl console process with virtual drives 1 and 2 on a free port."""

    def __init__(self, listen="127.0.0.1:0"):
        self.proc = subprocess.Popen([ZARNCTL, "console", "--sim", "--drive", "1", "--drive", "2", "--listen", listen,
                                      "--json"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        started = json.loads(self.proc.stdout.readline())
        self.port, self.token = started["port"], started.get("token")

    def request(self, method, path, body=None, headers=None, raw=None):
        """(status, parsed JSON or None, response headers)."""
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        h = {"Content-Type": "application/json"} if body is not None or raw is not None else {}
        h.update(headers or {})
        data = raw if raw is not None else (json.dumps(body) if body is not None else None)
        conn.request(method, path, body=data, headers=h)
        r = conn.getresponse()
        text = r.read().decode()
        conn.close()
        try:
            parsed = json.loads(text)
        except ValueError:
            parsed = None
        return r.status, parsed, dict(r.getheaders())

    def close(self):
        self.proc.send_signal(signal.SIGINT)
        self.proc.communicate(timeout=30)
        return self.proc.returncode


PROFILE = {"velocity": 100000, "acceleration": 1000000, "deceleration": 1000000}


class Api(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.console = Console()

    @classmethod
    def tearDownClass(cls):
        status = cls.console.close()
        assert status == 130, f"zarnctl console ended with {status} on Ctrl+C"

    def call(self, method, path, body=None, expect=200, **kw):
        status, answer, _ = self.console.request(method, path, body, **kw)
        self.assertEqual(expect, status, f"{method} {path}: {answer}")
        return answer

    def test_bad_input_gets_a_clear_4xx(self):
        move = dict(PROFILE, mode="absolute", target=1000)
        cases = [
            ("GET", "/api/drives/7", None, {}, 404, "no drive 7 in this console (drives: 1, 2)"),
            ("POST", "/api/drives/x/enable", {}, {}, 404, "no drive x"),
            ("GET", "/api/drives/1/objects/NoSuchThing", None, {}, 404, "no object NoSuchThing"),
            ("PUT", "/api/drives/1/objects/PositionWindowTime", {"value": 65536}, {}, 400, "does not fit u16"),
            ("PUT", "/api/drives/1/objects/PositionWindow", {"value": "12abc"}, {}, 400, "does not fit u32"),
            ("PUT", "/api/drives/1/objects/PositionWindow", {"value": 1.5}, {}, 400, "must be an integer"),
            ("PUT", "/api/drives/1/objects/PositionWindow", {}, {}, 400, '"value" is missing'),
            ("PUT", "/api/drives/1/objects/ActualPosition", {"value": 1}, {}, 409, "drive's own value"),
            ("PUT", "/api/drives/1/objects/ControlInput1", {"value": 1}, {}, 409, "is a command"),
            ("POST", "/api/drives/1/move", '{"mode": "absolute", "target": 1', {}, 400, "the body is not JSON"),
            ("POST", "/api/drives/1/move", "[1, 2]", {}, 400, "not a JSON object"),
            ("POST", "/api/drives/1/move", dict(move, mode="sideways"), {}, 400, '"mode" must be'),
            ("POST", "/api/drives/1/move", dict(move, velocity=0), {}, 400, '"velocity" must be an integer from 1'),
            ("POST", "/api/drives/1/move", dict(move, target=2**31), {}, 400, '"target" must be an integer'),
            ("POST", "/api/drives/1/move", dict(move, target="10"), {}, 400, '"target" must be an integer'),
            ("POST", "/api/drives/1/move", {"mode": "relative", "target": 5}, {}, 400, '"velocity" is missing'),
            ("POST", "/api/drives/1/home", {"method": 300}, {}, 400, '"method" must be an integer from -128 to 127'),
            ("POST", "/api/drives/1/jog", {"direction": 0, "velocity": 1, "acceleration": 1}, {}, 400,
             '"direction" must be 1 or -1'),
            ("POST", "/api/drives/1/restore", {"format": "other"}, {}, 400, "unknown format"),
            ("POST", "/api/drives/1/restore", {"format": "zarn-backup", "version": 2, "index_record_count": 1,
                                               "index_records": [{"number": 300, "values": [0] * 11}]}, {}, 400,
             "index record number 300"),
            ("GET", "/api/drives/1/move", None, {}, 405, "POST is"),
            ("POST", "/api/drives/1/move", json.dumps(move), {"Content-Type": "text/plain"}, 415, "sends JSON"),
            # Another site's page, directly or through a name that points at this machine.
            ("POST", "/api/drives/1/move", move, {"Origin": "http://evil.example"}, 403, "other sites"),
            ("GET", "/api/drives", None, {"Host": f"evil.example:{self.console.port}"}, 403, "loopback address only"),
        ]
        for method, path, body, headers, status, message in cases:
            with self.subTest(method=method, path=path, body=body, headers=headers):
                raw = body if isinstance(body, str) else None
                got, answer, _ = self.console.request(method, path, None if raw else body, headers, raw=raw)
                self.assertEqual(status, got, answer)
                self.assertIn(message, answer["error"]["message"])
        # None of it reached the drive.
        self.assertEqual(0, self.call("GET", "/api/drives/1/objects/ActualPosition")["value"])

    def test_refusal_carries_the_library_code_and_message(self):
        self.call("POST", "/api/drives/2/disable", {})
        error = self.call("POST", "/api/drives/2/move", dict(PROFILE, mode="relative", target=100), expect=409)["error"]
        self.assertEqual((102, "ZARN_E_SERVO_OFF", "Motion: The servo is off.", "MoveRelative, drive 2"),
                         (error["code"], error["name"], error["message"], error["context"]))

    def test_values_are_read_back_after_writes_and_commands(self):
        # Decimal with a leading zero is decimal; hexadecimal needs 0x.
        for text, value in (("010", 10), ("0x20", 32), (7, 7)):
            answer = self.call("PUT", "/api/drives/1/objects/positionwindow", {"value": text})
            self.assertEqual((value, value), (answer["value"], answer["written"]), text)
        self.assertEqual(7, self.call("GET", "/api/drives/1/objects/0x6067:00")["value"])
        state = self.call("POST", "/api/drives/1/enable", {})["state"]
        self.assertTrue(state["status"]["servo_on"])
        state = self.call("POST", "/api/drives/1/estop", {})["state"]
        self.assertEqual((True, False), (state["status"]["emergency_stop"], state["status"]["servo_on"]))
        error = self.call("POST", "/api/drives/1/enable", {}, expect=409)["error"]
        self.assertEqual("ZARN_E_EMERGENCY_STOP", error["name"])
        state = self.call("POST", "/api/drives/1/estop/release", {})["state"]
        self.assertEqual((False, False), (state["status"]["emergency_stop"], state["status"]["servo_on"]))

    def test_jog_without_heartbeats_stops(self):
        self.call("POST", "/api/drives/2/enable", {})
        jog = self.call("POST", "/api/drives/2/jog", {"direction": 1, "velocity": 50000, "acceleration": 10000000})
        time.sleep(0.2)
        self.call("POST", "/api/drives/2/jog/heartbeat", {"jog": jog["jog"]})
        self.assertNotEqual(0, self.call("GET", "/api/drives/2/objects/ActualVelocity")["value"])
        # No heartbeat from here on: the server stops the axis when the lease runs out.
        deadline = time.monotonic() + 10
        while self.call("GET", "/api/drives/2/objects/ActualVelocity")["value"] != 0:
            self.assertLess(time.monotonic(), deadline, "the jog did not stop without heartbeats")
            time.sleep(0.05)
        error = self.call("POST", "/api/drives/2/jog/heartbeat", {"jog": jog["jog"]}, expect=409)["error"]
        self.assertIn("has ended: no heartbeat from the page", error["message"])
        self.call("POST", "/api/drives/2/disable", {})

    def test_event_stream_carries_samples_and_state_of_each_drive(self):
        conn = http.client.HTTPConnection("127.0.0.1", self.console.port, timeout=30)
        conn.request("GET", "/api/events")
        r = conn.getresponse()
        self.assertEqual((200, "text/event-stream"), (r.status, r.getheader("Content-Type")))
        samples, states, event = {}, {}, None
        while len(samples) < 2 or len(states) < 2:
            line = r.fp.readline().decode().strip()
            if line.startswith("event: "):
                event = line[7:]
            elif line.startswith("data: "):
                data = json.loads(line[6:])
                (samples if event == "samples" else states)[data["drive"]] = data
        conn.close()  # the server notices at its next write
        for drive, batch in samples.items():
            self.assertEqual(len(batch["t"]), len(batch["p"]), drive)
            self.assertEqual(len(batch["t"]), len(batch["q"]), drive)
            self.assertEqual(sorted(batch["t"]), batch["t"], drive)
        self.assertEqual("connected", states[2]["connection"]["state"])

    def test_backup_restores(self):
        self.call("PUT", "/api/drives/2/objects/HomeOffset", {"value": -1234})
        _, _, headers = self.console.request("GET", "/api/drives/2/backup")
        self.assertIn('filename="zarn-drive-2-backup.json"', headers["Content-Disposition"])
        backup = self.call("GET", "/api/drives/2/backup")
        self.assertEqual(-1234, backup["parameters"]["HomeOffset"]["value"])
        self.call("PUT", "/api/drives/2/objects/HomeOffset", {"value": 99})
        restored = self.call("POST", "/api/drives/2/restore", backup)
        self.assertEqual(backup["index_record_count"], restored["index_records"])
        self.assertEqual(-1234, self.call("GET", "/api/drives/2/objects/HomeOffset")["value"])


class Token(unittest.TestCase):
    def test_beyond_loopback_every_request_needs_the_token(self):
        console = Console("0.0.0.0:0")
        self.addCleanup(console.close)
        token = console.token
        self.assertRegex(token, r"^[0-9a-f]{32}$")
        wrong = ("0" if token[0] != "0" else "1") + token[1:]
        for path, headers in (("/", {}), ("/api/drives", {}), ("/api/events", {}),
                              (f"/api/drives?token={wrong}", {}), ("/api/drives", {"Authorization": f"Bearer {wrong}"}),
                              ("/api/drives", {"Cookie": f"zarn_console_token={wrong}"})):
            with self.subTest(path=path, headers=headers):
                status, answer, _ = console.request("GET", path, headers=headers)
                self.assertEqual(401, status)
                self.assertIn("needs its token", answer["error"]["message"])
        status, _, _ = console.request("POST", "/api/estop", {})
        self.assertEqual(401, status)
        status, answer, headers = console.request("GET", f"/api/drives?token={token}")
        self.assertEqual((200, 2), (status, len(answer)))
        self.assertIn(f"zarn_console_token={token}", headers["Set-Cookie"])
        for headers in ({"Authorization": f"Bearer {token}"}, {"Cookie": f"zarn_console_token={token}"}):
            self.assertEqual(200, console.request("GET", "/api/drives/1", headers=headers)[0])


if __name__ == "__main__":
    unittest.main()
