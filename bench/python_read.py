#!/usr/bin/env python3
"""Cost of one UDP read through the Python package, against a plain ctypes call of the same
export in the same run (the baseline), on a virtual drive from zarn-sim over loopback.

    PYTHONPATH=build/python python3 bench/python_read.py [CALLS]
"""
import ctypes
import statistics
import sys
import time

import zarn


def per_call(function, calls: int) -> float:
    start = time.perf_counter()
    for _ in range(calls):
        function()
    return (time.perf_counter() - start) / calls * 1e6


def main() -> None:
    calls = int(sys.argv[1]) if len(sys.argv) > 1 else 2000
    with zarn.sim.Simulator() as sim, zarn.Drive.udp(1, sim.udp_address, sim.udp_port(1)) as drive:
        library = ctypes.CDLL(zarn.library_path())  # a plain wrapper: the export, its prototype, one buffer
        read = library.ZARN_ReadDWordS
        read.argtypes = [ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint8, ctypes.POINTER(ctypes.c_int32)]
        read.restype = ctypes.c_int32
        value = ctypes.c_int32()
        reference = ctypes.byref(value)
        candidates = {
            "plain ctypes ZARN_ReadDWordS": lambda: read(1, 0x6064, 0, reference),
            "drive.read(0x6064, 0, 'i32')": lambda: drive.read(0x6064, 0, "i32"),
            "drive.position": lambda: drive.position,
        }
        rounds = {name: [] for name in candidates}
        for _ in range(5):  # interleaved, so a change of load touches all alike
            for name, function in candidates.items():
                rounds[name].append(per_call(function, calls))
    baseline = statistics.median(rounds["plain ctypes ZARN_ReadDWordS"])
    for name, samples in rounds.items():
        median = statistics.median(samples)
        print(f"{name:32} {median:7.1f} us per read  (x{median / baseline:.2f} of plain ctypes)")


if __name__ == "__main__":
    main()
