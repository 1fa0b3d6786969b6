"""Fixtures: virtual drives from zarn-sim, reached through the package on both transports.

Run by ctest (python_package) with PYTHONPATH set to the package staged in the
build tree; ZARN_TABLES_DUMP names the program that prints the C tables.
"""
import os
from pathlib import Path
from typing import Callable, Iterator

import pytest

import zarn

SOURCE_DIR = Path(os.environ.get("ZARN_SOURCE_DIR", Path(__file__).resolve().parents[2]))
SLOW_MARGIN = 2.0  # seconds a loaded machine may add to a bounded wait


def open_drive(sim: zarn.sim.Simulator, transport: str) -> zarn.Drive:
    """Drive 1 over UDP, or drive 2 on the serial pseudo-terminal."""
    if transport == "udp":
        return zarn.Drive.udp(1, sim.udp_address, sim.udp_port(1))
    return zarn.Drive.serial(2, sim.serial_port)


@pytest.fixture(params=["udp", "serial"])
def transport(request) -> str:
    return request.param


@pytest.fixture
def axis(transport: str) -> Iterator[Callable[..., zarn.Drive]]:
    """axis(**faults): a fresh zarn-sim (drive 1 on UDP, 2 on serial) and its drive on this test's transport."""
    started = []

    def make(**faults: object) -> zarn.Drive:
        sim = zarn.sim.Simulator(udp=True, serial=True, drives=[1, 2], **faults).start()
        started.append(sim)
        drive = open_drive(sim, transport)
        started.append(drive)
        return drive

    yield make
    for thing in reversed(started):
        thing.close() if isinstance(thing, zarn.Drive) else thing.stop()


@pytest.fixture
def drive(axis) -> zarn.Drive:
    return axis()


@pytest.fixture
def sim() -> Iterator[zarn.sim.Simulator]:
    """zarn-sim with drives 1 and 2, each on UDP and both on one serial pseudo-terminal."""
    with zarn.sim.Simulator(udp=True, serial=True, drives=[1, 2]) as simulator:
        yield simulator
