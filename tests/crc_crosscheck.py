#!/usr/bin/env python3
"""Compares the library's CRC-16 with python3-crcmod's predefined 'modbus'."""
import os
import subprocess
import sys
import tempfile

import crcmod.predefined

test_binary = sys.argv[1]
crc = crcmod.predefined.mkCrcFun("modbus")
with tempfile.TemporaryDirectory() as tmp:
    path = os.path.join(tmp, "vectors.txt")
    env = dict(os.environ, ZARN_CRC_VECTORS=path)
    subprocess.run([test_binary, "--gtest_filter=Crc.DISABLED_PrintsVectorsForTheIndependentCheck", "--gtest_also_run_disabled_tests"], env=env, check=True,
                   stdout=subprocess.DEVNULL)
    lines = open(path).read().split("\n")
    checked = 0
    for line in filter(None, lines):
        data_hex, value = line.split(" ") if " " in line.strip() else ("", line.strip())
        data = bytes.fromhex(data_hex)
        expected = crc(data)
        if expected != int(value, 16):
            print(f"mismatch for {data_hex!r}: library {value}, crcmod {expected:04x}")
            sys.exit(1)
        checked += 1
    if checked < 200:
        print(f"only {checked} vectors")
        sys.exit(1)
    print(f"{checked} CRC vectors agree with crcmod")
