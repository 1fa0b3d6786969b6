"""zarn.sim.Simulator: virtual drives from zarn-sim for tests and experiments without hardware.

    with zarn.sim.Simulator(udp=True, serial=True, drives=[1, 2]) as sim:
        with zarn.Drive.udp(1, "127.0.0.1", sim.udp_port(1)) as drive: ...
        with zarn.Drive.serial(2, sim.serial_port) as drive: ...

zarn-sim is looked for, in this order: the `executable` argument; the
ZARN_SIM environment variable (when set, nothing else is searched); next to
the zarn library the package loads (its directory, then the bin/ directory of
its install: ../bin, ../../bin); the PATH.
"""
from __future__ import annotations

import collections
import os
import queue
import re
import shutil
import subprocess
import threading
import time
from pathlib import Path
from typing import Deque, Dict, Iterable, List, Optional

from . import _library

_EXECUTABLE = "zarn-sim"
_UDP_LINE = re.compile(r"^drive (\d+): udp (\S+):(\d+)$")
_SERIAL_LINE = re.compile(r"^serial line: (\S+) \(drives [\d,]+\)$")


class SimulatorError(RuntimeError):
    """zarn-sim was not found, did not start, or failed; the message says which and shows its output."""


def find_simulator() -> str:
    """The path of zarn-sim (see the module notes for the order); SimulatorError names every place tried."""
    tried: List[str] = []
    override = os.environ.get("ZARN_SIM")
    if override:
        if os.path.isfile(override) and os.access(override, os.X_OK):
            return override
        raise SimulatorError(f"zarn: ZARN_SIM={override} is not an executable file")
    try:
        library = Path(_library.load().path)
        for directory in (library.parent, library.parent.parent / "bin", library.parent.parent.parent / "bin"):
            candidate = directory / _EXECUTABLE
            if os.access(candidate, os.X_OK):
                return str(candidate)
            tried.append(str(candidate))
    except OSError as error:
        tried.append(f"next to the library: {error}")
    on_path = shutil.which(_EXECUTABLE)
    if on_path:
        return on_path
    tried.append(f"{_EXECUTABLE} on the PATH")
    raise SimulatorError("zarn: zarn-sim not found; tried:\n  " + "\n  ".join(tried) + "\nSet ZARN_SIM to its path.")


def _options(faults: Dict[str, object]) -> List[str]:
    """Keyword arguments as zarn-sim options: drop=0.1 -> --drop 0.1, bad_crc=True -> --bad-crc,
    limits=(-1000, 1000) -> --limits -1000:1000; False and None leave an option out."""
    args: List[str] = []
    for name, value in faults.items():
        option = "--" + name.replace("_", "-")
        if value is None or value is False:
            continue
        if value is True:
            args.append(option)
        elif isinstance(value, (tuple, list)):
            args += [option, ":".join(str(part) for part in value)]
        else:
            args += [option, str(value)]
    return args


class Simulator:
    """Starts zarn-sim with virtual drives and stops it on exit (a context manager).

    udp: one UDP socket per drive on 127.0.0.1, on free ports (udp_port(id)).
    serial: a pseudo-terminal carrying all drives (serial_port).
    drives: the drive ids (1 to 255).
    faults: further zarn-sim options by name (see `zarn-sim --help`), e.g.
        drop=0.2, seed=7, delay=5, refuse="6081:00=6", bad_crc=True,
        limits=(-100000, 100000), home_switch=500, state="drive.state".
    """

    def __init__(
        self,
        udp: bool = True,
        serial: bool = False,
        drives: Iterable[int] = (1,),
        *,
        executable: Optional[str] = None,
        start_timeout: float = 10.0,
        **faults: object,
    ) -> None:
        if not udp and not serial:
            raise ValueError("a Simulator needs udp=True, serial=True or both")
        self.drives = [int(d) for d in drives]
        self._udp = udp
        self._serial = serial
        self._executable = executable
        self._faults = dict(faults)
        self._start_timeout = start_timeout
        self._process: Optional[subprocess.Popen] = None
        self._reader: Optional[threading.Thread] = None
        self._lines: "queue.Queue[Optional[str]]" = queue.Queue()
        self._ports: Dict[int, int] = {}
        self.udp_address = "127.0.0.1"
        self.serial_port: Optional[str] = None
        self.output: Deque[str] = collections.deque(maxlen=1000)  #: zarn-sim's last lines of output

    @property
    def command(self) -> List[str]:
        """The command line that starts zarn-sim."""
        args = [self._executable or find_simulator(), "--drives", ",".join(str(d) for d in self.drives)]
        if self._udp:
            args += ["--udp", f"{self.udp_address}:0"]
        if self._serial:
            args.append("--serial-pty")
        return args + _options(self._faults)

    def udp_port(self, drive_id: int) -> int:
        """The UDP port of drive `drive_id` on 127.0.0.1."""
        if drive_id not in self._ports:
            known = f" (UDP drives: {sorted(self._ports)})" if self._ports else ""
            raise KeyError(f"zarn-sim runs no UDP drive {drive_id}{known}")
        return self._ports[drive_id]

    @property
    def running(self) -> bool:
        return self._process is not None and self._process.poll() is None

    def start(self) -> "Simulator":
        """Starts zarn-sim and waits until it has reported every drive's address."""
        if self._process is not None:
            raise SimulatorError("zarn-sim is started already")
        command = self.command
        self._process = subprocess.Popen(
            command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True
        )
        self._reader = threading.Thread(target=self._read_output, name="zarn-sim output", daemon=True)
        self._reader.start()
        wanted_udp = set(self.drives) if self._udp else set()
        deadline = time.monotonic() + self._start_timeout
        while wanted_udp - set(self._ports) or (self._serial and self.serial_port is None):
            try:
                line = self._lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                self._fail(f"zarn-sim did not report its drives within {self._start_timeout} s")
            if line is None:
                self._fail("zarn-sim ended before it was ready")
            udp = _UDP_LINE.match(line)
            serial = _SERIAL_LINE.match(line)
            if udp:
                self.udp_address = udp.group(2)
                self._ports[int(udp.group(1))] = int(udp.group(3))
            elif serial:
                self.serial_port = serial.group(1)
        return self

    def _read_output(self) -> None:
        assert self._process is not None and self._process.stdout is not None
        for line in self._process.stdout:
            line = line.rstrip("\n")
            self.output.append(line)
            self._lines.put(line)
        self._lines.put(None)

    def _fail(self, why: str) -> None:
        command = " ".join(self._process.args) if self._process else ""
        self.stop()
        output = "\n".join(self.output)
        raise SimulatorError(f"{why}\ncommand: {command}\noutput:\n{output}")

    def stop(self) -> Optional[int]:
        """Stops zarn-sim (SIGTERM, then SIGKILL after 5 s) and returns its exit status; nothing if not started."""
        process, self._process = self._process, None
        if process is None:
            return None
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        if self._reader is not None:
            self._reader.join(timeout=5)
        if process.stdout is not None:
            process.stdout.close()
        return process.returncode

    def __enter__(self) -> "Simulator":
        return self.start()

    def __exit__(self, *exc_info: object) -> None:
        self.stop()

    def __del__(self) -> None:
        try:
            self.stop()
        except Exception:
            pass
