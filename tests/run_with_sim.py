#!/usr/bin/env python3
"""Starts zarn-sim on a free UDP port, runs a program with 'udp 127.0.0.1 PORT'
appended to its arguments, and exits with the program's status.
    run_with_sim.py SIM PROGRAM [ARGS...]
    run_with_sim.py SIM [SIM-OPTIONS...] -- PROGRAM [ARGS...]"""
import subprocess
import sys

args = sys.argv[2:]
options, program = (args[:args.index("--")], args[args.index("--") + 1:]) if "--" in args else ([], args)
proc = subprocess.Popen([sys.argv[1], "--udp", "127.0.0.1:0", *options], stdout=subprocess.PIPE, text=True)
try:
    line = proc.stdout.readline().strip()
    port = line.rsplit(":", 1)[1]
    result = subprocess.run(program + ["udp", "127.0.0.1", port], timeout=60)
    sys.exit(result.returncode)
finally:
    proc.terminate()
    proc.wait(timeout=5)
