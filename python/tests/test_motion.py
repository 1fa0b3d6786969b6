"""Motion through the package against zarn-sim: the traps of a real axis, each handled."""
import time

import pytest

import zarn
from conftest import SLOW_MARGIN
from zarn import codes

FAST = dict(velocity=400000, acceleration=4000000, deceleration=4000000)
WINDOW = 10  # zarn-sim's default position window (0x6067)


def raises_code(code: int):
    return pytest.raises(zarn.ZarnError, match=zarn.error_message(code).replace(".", r"\."))


def test_moves_wait_until_really_done(axis):
    # The drive keeps its in-position bit for the first 50 ms of a move: a
    # wait that believed it would return at once, far from the target.
    drive = axis(stale_in_position=50)
    drive.enable()
    drive.move_to(20000, **FAST, timeout=5)
    assert abs(drive.position - 20000) <= WINDOW and drive.status().in_position
    drive.move_by(-5000, **FAST, timeout=5)
    assert abs(drive.position - 15000) <= WINDOW
    drive.move_to(0, timeout=5)  # with the profile the drive holds
    assert abs(drive.position) <= WINDOW


def test_alarm_ends_the_wait_and_blocks_motion_until_reset(axis):
    drive = axis(limits=(-1000, 1000))
    drive.enable()
    with pytest.raises(zarn.ZarnError) as stopped:
        drive.move_to(5000, **FAST, timeout=5)
    assert (stopped.value.code, stopped.value.alarm_code) == (codes.E_ALARM_ACTIVE, 0xFF11)
    assert str(stopped.value) == f"move_to, drive {drive.id}, alarm 0xFF11: Motion: The drive reports an alarm."
    status = drive.status()
    assert status.alarm and status.alarm_code == 0xFF11 and not status.enabled
    assert drive.alarms()[0].startswith("AL-FF11")
    with raises_code(codes.E_ALARM_ACTIVE):
        drive.move_to(0, **FAST)
    with raises_code(codes.E_ALARM_ACTIVE):
        drive.enable()
    drive.reset_alarm()
    status = drive.status()
    assert not status.alarm and not status.enable_command  # the reset does not re-energise the motor
    drive.enable()
    drive.move_to(0, **FAST, timeout=5)
    assert abs(drive.position) <= WINDOW


@pytest.mark.parametrize("transport", ["udp"])
def test_reset_fails_while_the_alarm_persists(axis):
    drive = axis(persistent_alarm="FF20")
    deadline = time.monotonic() + 1 + SLOW_MARGIN
    while not drive.status().alarm and time.monotonic() < deadline:
        time.sleep(0.01)
    with pytest.raises(zarn.ZarnError) as persists:
        drive.reset_alarm()
    assert (persists.value.code, persists.value.alarm_code) == (codes.E_ALARM_PERSISTS, 0xFF20)
    assert persists.value.message == "Servo: The alarm is still active after the reset."


def test_emergency_stop_latches_until_released(axis):
    drive = axis()
    drive.enable()
    drive.move_to(1000000, velocity=100000, acceleration=1000000, deceleration=1000000)
    drive.emergency_stop()
    with raises_code(codes.E_EMERGENCY_STOP):
        drive.wait_move_done(1)
    status = drive.status()
    assert status.emergency_stop and not status.enabled
    with raises_code(codes.E_EMERGENCY_STOP):
        drive.move_by(100, **FAST)
    with raises_code(codes.E_EMERGENCY_STOP):
        drive.enable()
    drive.release_emergency_stop()
    status = drive.status()
    assert not status.emergency_stop and not status.enabled and not status.enable_command
    with raises_code(codes.E_SERVO_OFF):
        drive.move_to(0, **FAST)
    drive.enable()
    drive.move_to(0, **FAST, timeout=5)
    assert abs(drive.position) <= WINDOW


def test_stop_then_move_again(axis):
    drive = axis()
    drive.enable()
    drive.move_to(1000000, velocity=100000, acceleration=1000000, deceleration=1000000)
    time.sleep(0.1)
    drive.stop()
    drive.wait_move_done(5)
    stopped_at = drive.position
    assert 0 < stopped_at < 1000000 and drive.status().stop_command
    drive.move_to(0, **FAST, timeout=5)  # clears the stop bit first
    assert abs(drive.position) <= WINDOW and not drive.status().stop_command


def test_homing_twice_homes_twice(axis):
    drive = axis()
    drive.enable()
    drive.home(35, offset=100, timeout=5)
    assert drive.position == 100 and drive.status().homed
    drive.move_to(5000, **FAST, timeout=5)
    drive.home(35, offset=-20, timeout=5)
    assert drive.position == -20


@pytest.mark.parametrize("transport", ["udp"])
def test_waits_end_in_bounded_time(axis):
    drive = axis(home_switch=100000000)
    drive.enable()
    drive.move_to(100000000, velocity=1000, acceleration=1000000, deceleration=1000000)
    start = time.monotonic()
    with raises_code(codes.E_MOVE_TIMEOUT):
        drive.wait_move_done(0.2)
    assert 0.2 <= time.monotonic() - start < 0.2 + SLOW_MARGIN
    start = time.monotonic()
    with raises_code(codes.E_HOMING_TIMEOUT):
        drive.home(1, timeout=0.2, switch_speed=1000, zero_speed=1000, acceleration=1000000)
    assert 0.2 <= time.monotonic() - start < 0.2 + SLOW_MARGIN


def test_stored_parameters_survive_a_restart(tmp_path):
    state = tmp_path / "drive.state"
    with zarn.sim.Simulator(state=state) as sim, zarn.Drive.udp(1, sim.udp_address, sim.udp_port(1)) as drive:
        drive.write(0x6081, 0, 12345, "u32")
        drive.store_parameters()
    with zarn.sim.Simulator(state=state) as sim, zarn.Drive.udp(1, sim.udp_address, sim.udp_port(1)) as drive:
        assert drive.read(0x6081, 0, "u32") == 12345
