#!/usr/bin/env python3
"""Starts zarn-sim on a free UDP port, runs a program with 'udp 127.0.0.1 PORT'
appended to its arguments, and exits with the program's status."""
import subprocess
import sys

sim, program = sys.argv[1], sys.argv[2:]
proc = subprocess.Popen([sim, "--udp", "127.0.0.1:0"], stdout=subprocess.PIPE, text=True)
try:
    line = proc.stdout.readline().strip()
    port = line.rsplit(":", 1)[1]
    result = subprocess.run(program + ["udp", "127.0.0.1", port], timeout=60)
    sys.exit(result.returncode)
finally:
    proc.terminate()
    proc.wait(timeout=5)
