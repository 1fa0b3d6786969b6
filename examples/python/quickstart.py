#!/usr/bin/env python3
"""Moves an axis with the zarn Python package: servo on, home, two moves, servo off.

Without arguments it runs against a virtual drive that zarn-sim provides;
point it at a real drive with --udp ADDRESS:PORT or --serial PORT (--drive ID).
"""
import argparse
import contextlib
import sys

import zarn


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--udp", metavar="ADDRESS:PORT", help="a drive over UDP")
    parser.add_argument("--serial", metavar="PORT", help="a drive on a serial line, e.g. /dev/ttyUSB0")
    parser.add_argument("--baud", type=int, default=115200)
    parser.add_argument("--drive", type=int, default=1, help="drive id (default 1)")
    args = parser.parse_args()

    with contextlib.ExitStack() as stack:
        if args.udp:
            address, port = args.udp.rsplit(":", 1)
            drive = stack.enter_context(zarn.Drive.udp(args.drive, address, int(port)))
        elif args.serial:
            drive = stack.enter_context(zarn.Drive.serial(args.drive, args.serial, args.baud))
        else:
            sim = stack.enter_context(zarn.sim.Simulator(drives=[args.drive]))
            drive = stack.enter_context(zarn.Drive.udp(args.drive, sim.udp_address, sim.udp_port(args.drive)))

        try:
            drive.enable()  # refused while an alarm or the emergency stop is active
            drive.home(35, offset=0, timeout=5)  # method 35: the current position becomes 0
            drive.move_to(20000, velocity=100000, acceleration=1000000, deceleration=1000000, timeout=5)
            print(f"moved to {drive.position}; in position: {drive.status().in_position}")
            drive.move_by(-5000, timeout=5)  # with the profile the drive holds now
            status = drive.status()
            print(f"position {drive.position}, velocity {drive.velocity}, torque {drive.torque}")
            print(f"enabled {status.enabled}, alarm {status.alarm}, homed {status.homed}")
        except zarn.ZarnError as error:  # e.g. "move_to, drive 1, alarm 0xFF11: Motion: The drive reports an alarm."
            print(f"failed: {error} (code {error.code})", file=sys.stderr)
            for text in drive.alarms():
                print(f"  alarm history: {text}", file=sys.stderr)
            return 1
        finally:
            drive.disable()
    return 0


if __name__ == "__main__":
    sys.exit(main())
