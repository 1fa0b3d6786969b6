"""zarn.Drive: one drive connection, typed object access and motion that is safe on a real axis."""
from __future__ import annotations

import ctypes
import operator
import threading
import time
from dataclasses import dataclass
from typing import Callable, Dict, List, Literal, NamedTuple, Optional, Tuple, Union

from . import _library, _tables, codes
from .errors import ZarnError

AccessType = Literal["u8", "i8", "u16", "i16", "u32", "i32", "text"]

_OBJECTS = _tables.OBJECTS
_BITS = _tables.BITS
_CONTROL_INPUT1 = _OBJECTS["ControlInput1"][0]
_STATE_OUTPUT = _OBJECTS["StateOutput"][0]
_HOMING_STATE = _OBJECTS["HomingState"][0]
_ERROR_CODE = _OBJECTS["ErrorCode"][0]
_POSITION_WINDOW = _OBJECTS["PositionWindow"][0]
_PROFILE = ("ProfileVelocity", "ProfileAcceleration", "ProfileDeceleration")
_HOMING = ("HomingSwitchSpeed", "HomingZeroSpeed", "HomingAcceleration")
_HOMING_ARGUMENTS = ("switch_speed", "zero_speed", "acceleration")
_STOP_BIT = _BITS["Stop"]
_EMERGENCY_STOP_BIT = _BITS["EmergencyStop"]
_SERVO_ENABLE_BIT = _BITS["ServoEnable"]
_SERVO_ON_BIT = _BITS["ServoOn"]
_ALARM_BIT = _BITS["Alarm"]
_IN_POSITION_BIT = _BITS["InPosition"]
_TORQUE_LIMIT_BIT = _BITS["TorqueLimit"]
_IN_VELOCITY_BIT = _BITS["InVelocity"]
_HOMING_DONE_BIT = _BITS["HomingDone"]
_INDEX_ENDED_BIT = _BITS["IndexEnded"]
_ALARM_HISTORY = _tables.FAMILIES["AlarmHistory"]
_POLL_PERIOD = 0.010  # seconds between two polls of a wait
_TEXT_ENCODING = "latin-1"  # one byte per character: the drive's 32-character limit is 32 bytes


def _bit(word: int, bit: int) -> bool:
    return bool((word >> bit) & 1)


class _Access(NamedTuple):
    read: str  # C function names
    write: str
    ctype: type
    low: int
    high: int


_ACCESS: Dict[str, _Access] = {
    "u8": _Access("ZARN_ReadByte", "ZARN_WriteByte", ctypes.c_uint8, 0, 0xFF),
    "i8": _Access("ZARN_ReadByteS", "ZARN_WriteByteS", ctypes.c_int8, -0x80, 0x7F),
    "u16": _Access("ZARN_ReadWord", "ZARN_WriteWord", ctypes.c_uint16, 0, 0xFFFF),
    "i16": _Access("ZARN_ReadWordS", "ZARN_WriteWordS", ctypes.c_int16, -0x8000, 0x7FFF),
    "u32": _Access("ZARN_ReadDWord", "ZARN_WriteDWord", ctypes.c_uint32, 0, 0xFFFFFFFF),
    "i32": _Access("ZARN_ReadDWordS", "ZARN_WriteDWordS", ctypes.c_int32, -0x80000000, 0x7FFFFFFF),
}
_TYPE_NAMES = ", ".join(repr(name) for name in [*_ACCESS, "text"])


def _object_type(name: str) -> str:
    """The access type of an object of the map: 'u16', 'i32', ..."""
    _, _, width, signed = _OBJECTS[name]
    return f"{'i' if signed else 'u'}{width * 8}"


def _integer(value: object, what: str, low: int, high: int) -> int:
    """value as an int in low..high, or TypeError / ValueError saying what is wrong."""
    try:
        number = operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}") from None
    if not low <= number <= high:
        raise ValueError(f"{what} {number} is outside {low} to {high}")
    return number


@dataclass(frozen=True)
class Status:
    """The drive's state as it reports it, from one read each of 0x2121, 0x2122 and 0x211F
    (and 0x603F when the alarm bit is set)."""

    enabled: bool  #: 0x2121 bit 0: the drive reports the motor energised (servo on)
    alarm: bool  #: 0x2121 bit 1
    alarm_code: int  #: 0x603F while the alarm bit is set, else 0
    in_position: bool  #: 0x2121 bit 4
    homed: bool  #: 0x2122 bit 0: homing done
    emergency_stop: bool  #: 0x211F bit 10: latched until release_emergency_stop()
    torque_limit: bool  #: 0x2121 bit 5
    in_velocity: bool  #: 0x2121 bit 7
    index_ended: bool  #: 0x2122 bit 1
    enable_command: bool  #: 0x211F bit 12: what the application asked for, not the drive's state
    stop_command: bool  #: 0x211F bit 3: left set by stop(), cleared by the next move
    state_output: int  #: 0x2121, the whole word
    homing_state: int  #: 0x2122, the whole word
    control_input1: int  #: 0x211F, the whole word


class _Move:
    """The move that wait_move_done() waits for."""

    __slots__ = ("pending", "stopped", "target", "start", "window")

    def __init__(self, pending: bool = False, target: int = 0, start: int = 0, window: int = 0) -> None:
        self.pending = pending
        self.stopped = False
        self.target = target
        self.start = start
        self.window = window


class _SerialLine:
    """The one serial line that all serial drive ids share.

    The library closes the line as a whole, so the Drive objects on it share
    it: an id whose Drive is closed stays open (released) until the last Drive
    on the line goes, which closes the line and every id opened through it.
    """

    _FREE, _OWNED, _RELEASED = 0, 1, 2

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._port: Optional[str] = None
        self._baud = 0
        self._users = 0
        self._ids: Dict[int, int] = {}

    def join(self, lib: _library.Library, drive_id: int, port: str, baud: int) -> Tuple[int, str]:
        with self._lock:
            if self._users > 0 and (port != self._port or baud != self._baud):
                return codes.E_SERIAL_OPEN, f"the serial line is open on {self._port} at {self._baud} bit/s"
            state = self._ids.get(drive_id, self._FREE)
            if state == self._OWNED:
                return codes.E_SERIAL_OPEN, "another Drive holds this id"
            if state == self._FREE:
                code = lib.ZARN_SDRVOpen(drive_id, port.encode(), baud)
                if code != codes.OK:
                    return code, ""
            self._ids[drive_id] = self._OWNED
            if self._users == 0:
                self._port, self._baud = port, baud
            self._users += 1
            return codes.OK, ""

    def leave(self, lib: _library.Library, drive_id: int) -> None:
        with self._lock:
            self._ids[drive_id] = self._RELEASED
            self._users -= 1
            if self._users > 0:
                return
            for held in list(self._ids):
                lib.ZARN_DriveClose(held)
            self._ids.clear()
            self._port = None


_serial_line = _SerialLine()


class Drive:
    """One drive connection. Open it with Drive.serial() or Drive.udp(); close it with close() or a
    `with` block.

    Every operation is one or more requests through the library, each blocking
    until its reply is in (one to two seconds at most when the drive is silent).
    Failures raise ZarnError with the library's code and message; arguments out
    of range raise ValueError or TypeError before any request. An operation on a
    closed Drive raises ZarnError(codes.E_NO_CONNECTION) without a request.

    A Drive is used by one thread at a time; several Drives may be used from
    several threads. Closing neither stops nor disables the axis: call
    disable() first when the motor must not stay energised.

    Serial drive ids share one line, which the library closes as a whole: the
    line stays open while any serial Drive lives and closes with the last one.
    """

    def __init__(self, drive_id: int, serial: bool, lib: _library.Library) -> None:
        """Use Drive.serial() or Drive.udp()."""
        self._id = drive_id
        self._serial = serial
        self._lib = lib
        self._open = True
        self._move = _Move()
        # type name -> (C function, ctypes type): read() is the hot path of data capture.
        self._readers = {name: (getattr(lib, access.read), access.ctype) for name, access in _ACCESS.items()}

    # ------------------------------------------------------------ connections

    @classmethod
    def serial(cls, id: int, port: str, baud: int = 115200) -> "Drive":
        """Opens (or joins) the serial line on `port` ("/dev/ttyUSB0", "COM3") for drive id `id` (0 to 255).

        Raises ZarnError codes.E_SERIAL_OPEN when the port does not open, the id
        is open already, or the line is open on another port or at another speed.
        """
        drive_id = _integer(id, "drive id", 0, 255)
        baud = _integer(baud, "baud rate", 0, 0xFFFFFFFF)
        lib = _library.load()
        code, why = _serial_line.join(lib, drive_id, str(port), baud)
        if code != codes.OK:
            raise ZarnError(code, f"serial, drive {drive_id}" + (f", {why}" if why else ""))
        return cls(drive_id, True, lib)

    @classmethod
    def udp(cls, id: int, address: str, port: int) -> "Drive":
        """Opens drive id `id` (0 to 31) over UDP to `address`:`port`.

        Raises ZarnError codes.E_ETH_OPEN, E_ETH_SLOT_USED, or E_NO_EMPTY_CONNECTION for an id above 31.
        """
        drive_id = _integer(id, "drive id", 0, 255)
        port = _integer(port, "UDP port", 0, 0xFFFF)
        lib = _library.load()
        code = lib.ZARN_EDRVOpen(drive_id, str(address).encode(), port)
        if code != codes.OK:
            raise ZarnError(code, f"udp, drive {drive_id}")
        return cls(drive_id, False, lib)

    def close(self) -> None:
        """Closes the connection (see the class notes for the serial line); closing twice does nothing."""
        if not self._open:
            return
        self._open = False
        if self._serial:
            _serial_line.leave(self._lib, self._id)
        else:
            self._lib.ZARN_DriveClose(self._id)

    def __enter__(self) -> "Drive":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # the interpreter may be shutting down
            pass

    def __repr__(self) -> str:
        state = "open" if self._open else "closed"
        return f"<zarn.Drive {self._id} {'serial' if self._serial else 'udp'} {state}>"

    @property
    def id(self) -> int:
        """The drive id."""
        return self._id

    @property
    def is_open(self) -> bool:
        """False once closed."""
        return self._open

    # ------------------------------------------------------------ requests

    def _check(self, code: int, operation: str, alarm_code: Optional[int] = None) -> None:
        if code != codes.OK:
            raise ZarnError(code, f"{operation}, drive {self._id}", alarm_code)

    def _call(self, operation: str, name: str, *args: object) -> None:
        self._check(getattr(self._lib, name)(self._id, *args) if self._open else codes.E_NO_CONNECTION, operation)

    def _get(self, operation: str, name: str, ctype: type, *args: object) -> int:
        value = ctype()
        self._call(operation, name, *args, ctypes.byref(value))
        return value.value

    def _word(self, operation: str, index: int) -> int:
        return self._get(operation, "ZARN_ReadWord", ctypes.c_uint16, index, 0)

    def _read_object(self, operation: str, name: str) -> int:
        """Reads an object of the map by its name, with its width and signedness."""
        index, sub, _, _ = _OBJECTS[name]
        access = _ACCESS[_object_type(name)]
        return self._get(operation, access.read, access.ctype, index, sub)

    # ------------------------------------------------------------ object access

    def read(self, index: int, sub: int, type: AccessType) -> Union[int, str]:
        """Reads object index:sub as `type`: 'u8', 'i8', 'u16', 'i16', 'u32', 'i32' (an int of that
        width and signedness) or 'text' (a str of at most 32 characters)."""
        reader = self._readers.get(type)
        if reader is None:
            if type == "text":
                return self._read_text(index, sub)
            raise ValueError(f"type must be one of {_TYPE_NAMES}, not {type!r}")
        if not (index.__class__ is int and sub.__class__ is int and 0 <= index <= 0xFFFF and 0 <= sub <= 0xFF):
            index, sub = _integer(index, "index", 0, 0xFFFF), _integer(sub, "subindex", 0, 0xFF)
        function, ctype = reader
        value = ctype()
        code = function(self._id, index, sub, ctypes.byref(value)) if self._open else codes.E_NO_CONNECTION
        if code:
            self._check(code, f"read 0x{index:04X}:{sub:02X} {type}")
        return value.value

    def write(self, index: int, sub: int, value: Union[int, str], type: AccessType) -> None:
        """Writes `value` to object index:sub with the width of `type` (see read()).

        Integers out of the type's range raise ValueError; a text longer than 32
        characters raises ZarnError codes.E_STRING_TOO_LONG, one holding a NUL
        character codes.E_INVALID_PARAM, both without a request.
        """
        index = _integer(index, "index", 0, 0xFFFF)
        sub = _integer(sub, "subindex", 0, 0xFF)
        operation = f"write 0x{index:04X}:{sub:02X} {type}"
        if type == "text":
            if not isinstance(value, str):
                raise TypeError(f"a text value must be a str, not {value.__class__.__name__}")
            data = value.encode(_TEXT_ENCODING)
            if b"\0" in data:
                self._check(codes.E_INVALID_PARAM, operation + ", the text holds a NUL character")
            self._call(operation, "ZARN_WriteString", index, sub, data)
            return
        access = _ACCESS.get(type)
        if access is None:
            raise ValueError(f"type must be one of {_TYPE_NAMES}, not {type!r}")
        number = _integer(value, f"{type} value", access.low, access.high)
        self._call(operation, access.write, index, sub, number)

    def _read_text(self, index: int, sub: int) -> str:
        index = _integer(index, "index", 0, 0xFFFF)
        sub = _integer(sub, "subindex", 0, 0xFF)
        text = ctypes.create_string_buffer(33)
        self._call(f"read 0x{index:04X}:{sub:02X} text", "ZARN_ReadString", index, sub, text)
        return text.value.decode(_TEXT_ENCODING)

    # ------------------------------------------------------------ state

    def status(self) -> Status:
        """Reads 0x2121, 0x2122 and 0x211F, and 0x603F when the alarm bit is set (3 or 4 requests)."""
        return self._status("status")

    def _status(self, operation: str) -> Status:
        state = self._word(operation, _STATE_OUTPUT)
        homing = self._word(operation, _HOMING_STATE)
        control = self._word(operation, _CONTROL_INPUT1)
        alarm = _bit(state, _ALARM_BIT)
        return Status(
            enabled=_bit(state, _SERVO_ON_BIT),
            alarm=alarm,
            alarm_code=self._word(operation, _ERROR_CODE) if alarm else 0,
            in_position=_bit(state, _IN_POSITION_BIT),
            homed=_bit(homing, _HOMING_DONE_BIT),
            emergency_stop=_bit(control, _EMERGENCY_STOP_BIT),
            torque_limit=_bit(state, _TORQUE_LIMIT_BIT),
            in_velocity=_bit(state, _IN_VELOCITY_BIT),
            index_ended=_bit(homing, _INDEX_ENDED_BIT),
            enable_command=_bit(control, _SERVO_ENABLE_BIT),
            stop_command=_bit(control, _STOP_BIT),
            state_output=state,
            homing_state=homing,
            control_input1=control,
        )

    @property
    def position(self) -> int:
        """The actual position, 0x6064 (drive units)."""
        return self._get("position", "ZARN_ActualPosition", ctypes.c_int32)

    @property
    def velocity(self) -> int:
        """The actual velocity, 0x606C (drive units)."""
        return self._get("velocity", "ZARN_ActualVelocity", ctypes.c_int32)

    @property
    def torque(self) -> int:
        """The actual torque, 0x6077 (drive units)."""
        return self._get("torque", "ZARN_ActualTorque", ctypes.c_int16)

    # ------------------------------------------------------------ servo

    def _refuse(self, operation: str, servo_must_be_on: bool) -> Status:
        """Reads the status and raises for what stops motion from starting, in the order a user must clear it."""
        status = self._status(operation)
        if status.alarm:
            self._check(codes.E_ALARM_ACTIVE, operation, status.alarm_code)
        if status.emergency_stop:
            self._check(codes.E_EMERGENCY_STOP, operation)
        if servo_must_be_on and not status.enabled:
            self._check(codes.E_SERVO_OFF, operation)
        return status

    def _watch(
        self,
        operation: str,
        timeout: float,
        timeout_code: int,
        servo_must_be_on: bool,
        done: Callable[[int], bool],
    ) -> None:
        """Polls every 10 ms, at least once, until done(0x2121) is true. Each poll first reads 0x2121 and
        0x211F and fails on an alarm, a latched emergency stop or (servo_must_be_on) the servo off; after
        `timeout` seconds it fails with `timeout_code`."""
        deadline = time.monotonic() + timeout
        while True:
            state = self._word(operation, _STATE_OUTPUT)
            control = self._word(operation, _CONTROL_INPUT1)
            if _bit(state, _ALARM_BIT):
                alarm = ctypes.c_uint16()
                self._lib.ZARN_ReadWord(self._id, _ERROR_CODE, 0, ctypes.byref(alarm))
                self._check(codes.E_ALARM_ACTIVE, operation, alarm.value)
            if _bit(control, _EMERGENCY_STOP_BIT):
                self._check(codes.E_EMERGENCY_STOP, operation)
            if servo_must_be_on and not _bit(state, _SERVO_ON_BIT):
                self._check(codes.E_SERVO_OFF, operation)
            if done(state):
                return
            if time.monotonic() >= deadline:
                self._check(timeout_code, operation)
            time.sleep(_POLL_PERIOD)

    def enable(self, timeout: float = 1.0) -> None:
        """Switches the servo on and waits up to `timeout` seconds until the drive reports it on (0x2121 bit 0).

        Refused, with no write, while an alarm is active (codes.E_ALARM_ACTIVE) or
        the emergency stop is latched (codes.E_EMERGENCY_STOP): setting the enable
        bit then would energise the motor the moment either clears.
        Raises codes.E_SERVO_ON_TIMEOUT when the drive does not report servo on.
        """
        self._refuse("enable", servo_must_be_on=False)
        self._call("enable", "ZARN_Enable")
        self._watch("enable", timeout, codes.E_SERVO_ON_TIMEOUT, False, lambda state: _bit(state, _SERVO_ON_BIT))

    def disable(self) -> None:
        """Clears the servo enable bit (0x211F bit 12)."""
        self._move = _Move()
        self._call("disable", "ZARN_Disable")

    def emergency_stop(self) -> None:
        """Latches the emergency stop: 0x211F = 0x0000, then 0x0400. Every other command bit, servo enable
        included, ends cleared; nothing moves until release_emergency_stop() and enable()."""
        self._move = _Move()
        self._call("emergency_stop", "ZARN_EmergencyStop")

    def release_emergency_stop(self) -> None:
        """Clears the emergency stop bit, and with it the servo enable bit, so the motor stays off until enable()."""
        word = self._word("release_emergency_stop", _CONTROL_INPUT1)
        word &= ~((1 << _EMERGENCY_STOP_BIT) | (1 << _SERVO_ENABLE_BIT)) & 0xFFFF
        self._call("release_emergency_stop", "ZARN_WriteWord", _CONTROL_INPUT1, 0, word)

    def reset_alarm(self) -> None:
        """Resets an active alarm and checks that it is gone; without an alarm nothing is written.

        The servo enable bit is cleared first, so the motor does not re-energise
        when the alarm clears: call enable() afterwards. Blocks at least 500 ms
        when there is an alarm (the drive's reset bit is held). Raises
        codes.E_ALARM_PERSISTS, with the alarm's code, when it is still there.
        """
        status = self._status("reset_alarm")
        if not status.alarm:
            return
        self._move = _Move()
        if status.enable_command:
            self._call("reset_alarm", "ZARN_Disable")
        self._call("reset_alarm", "ZARN_ResetAlarm")
        status = self._status("reset_alarm")
        if status.alarm:
            self._check(codes.E_ALARM_PERSISTS, "reset_alarm", status.alarm_code)

    # ------------------------------------------------------------ motion

    def move_to(
        self,
        target: int,
        velocity: Optional[int] = None,
        acceleration: Optional[int] = None,
        deceleration: Optional[int] = None,
        timeout: Optional[float] = None,
    ) -> None:
        """Moves to the absolute position `target`.

        The profile (0x6081, 0x6083, 0x6084; unsigned 32-bit, drive units) is the
        one given; values left out are the ones the drive holds. Refused, with no
        motion request, while an alarm is active, the emergency stop is latched or
        the servo is off (codes.E_ALARM_ACTIVE, E_EMERGENCY_STOP, E_SERVO_OFF). A
        stop bit left set by stop() is cleared first.

        Without `timeout` it returns once the move has started; with a timeout in
        seconds it waits as wait_move_done() does, until the move has really ended.
        """
        self._start_move("move_to", target, (velocity, acceleration, deceleration), relative=False)
        if timeout is not None:
            self._wait_move_done("move_to", timeout)

    def move_by(
        self,
        distance: int,
        velocity: Optional[int] = None,
        acceleration: Optional[int] = None,
        deceleration: Optional[int] = None,
        timeout: Optional[float] = None,
    ) -> None:
        """Moves by `distance` from where the axis is; otherwise as move_to()."""
        self._start_move("move_by", distance, (velocity, acceleration, deceleration), relative=True)
        if timeout is not None:
            self._wait_move_done("move_by", timeout)

    def _start_move(self, operation: str, value: int, profile: Tuple[Optional[int], ...], relative: bool) -> None:
        value = _integer(value, "distance" if relative else "target", -0x80000000, 0x7FFFFFFF)
        names = ("velocity", "acceleration", "deceleration")
        given = [None if v is None else _integer(v, n, 0, 0xFFFFFFFF) for n, v in zip(names, profile)]
        self._move = _Move()
        if self._refuse(operation, servo_must_be_on=True).stop_command:
            # A drive whose stop input acts on its level would not move while the bit stays set.
            self._call(operation, "ZARN_SetDriveControlInput1", _STOP_BIT, 0)
        start = self._get(operation, "ZARN_ActualPosition", ctypes.c_int32)
        window = self._get(operation, "ZARN_ReadDWord", ctypes.c_uint32, _POSITION_WINDOW, 0)
        if all(v is None for v in given):
            self._call(operation, "ZARN_MoveRel" if relative else "ZARN_MoveAbs", value)
        else:
            full = [v if v is not None else self._read_object(operation, name) for v, name in zip(given, _PROFILE)]
            self._call(operation, "ZARN_MoveRelative" if relative else "ZARN_MoveAbsolute", value, *full)
        self._move = _Move(pending=True, target=start + value if relative else value, start=start, window=window)

    def wait_move_done(self, timeout: float) -> None:
        """Waits up to `timeout` seconds until the last move started through this Drive has really ended.

        The in-position bit is believed only once the move is seen to start: the
        bit has dropped, or the axis is within the position window (0x6067) of the
        target, or the axis has moved and then held still for one poll (a move cut
        short by stop()). A drive that leaves the bit set for the first cycles of
        a move therefore does not end the wait early. Without a move started here,
        waits for the in-position bit.

        Raises ZarnError codes.E_ALARM_ACTIVE (with the alarm's code),
        E_EMERGENCY_STOP, E_SERVO_OFF or E_MOVE_TIMEOUT, saying which.
        """
        self._wait_move_done("wait_move_done", timeout)

    def _wait_move_done(self, operation: str, timeout: float) -> None:
        move = self._move
        seen = {"dropped": False, "previous": None}

        def done(state: int) -> bool:
            in_position = _bit(state, _IN_POSITION_BIT)
            if not move.pending:
                return in_position
            position = self._get(operation, "ZARN_ActualPosition", ctypes.c_int32)
            seen["dropped"] = seen["dropped"] or not in_position
            at_target = not move.stopped and abs(position - move.target) <= move.window
            previous = seen["previous"]
            settled = previous is not None and position == previous and (position != move.start or move.stopped)
            seen["previous"] = position
            return in_position and (seen["dropped"] or at_target or settled)

        try:
            self._watch(operation, timeout, codes.E_MOVE_TIMEOUT, move.pending, done)
        except ZarnError as error:
            if error.code != codes.E_MOVE_TIMEOUT:
                self._move = _Move()
            raise
        self._move = _Move()

    def stop(self) -> None:
        """Halts the axis with the drive's stop deceleration (a rising edge of 0x211F bit 3, which stays set
        until the next move clears it). A following wait_move_done() ends when the axis is at rest in position."""
        self._call("stop", "ZARN_Stop")
        self._move.stopped = True

    def home(
        self,
        method: int,
        timeout: float = 30.0,
        *,
        switch_speed: Optional[int] = None,
        zero_speed: Optional[int] = None,
        acceleration: Optional[int] = None,
        offset: int = 0,
    ) -> None:
        """Homes with `method` (0x6098) and waits up to `timeout` seconds for homing done (0x2122 bit 0).

        The speeds (0x6099:01, 0x6099:02) and the acceleration (0x609A) left out
        are the ones the drive holds; `offset` (0x607C, -32768 to 32767) is the
        position the home becomes. Refused like a move; the start bit always gets
        a rising edge, so homing twice homes twice. Raises ZarnError
        codes.E_HOMING_TIMEOUT, or the codes of a refused move.
        """
        method = _integer(method, "homing method", -0x80, 0x7F)
        offset = _integer(offset, "home offset", -0x8000, 0x7FFF)
        given = []
        for value, what, name in zip((switch_speed, zero_speed, acceleration), _HOMING_ARGUMENTS, _HOMING):
            access = _ACCESS[_object_type(name)]
            given.append(None if value is None else _integer(value, what, access.low, access.high))
        self._move = _Move()
        self._refuse("home", servo_must_be_on=True)
        values = [v if v is not None else self._read_object("home", name) for v, name in zip(given, _HOMING)]
        self._call("home", "ZARN_Homing", bytes([method & 0xFF]), *values, offset)
        self._watch(
            "home",
            timeout,
            codes.E_HOMING_TIMEOUT,
            True,
            lambda state: _bit(self._word("home", _HOMING_STATE), _HOMING_DONE_BIT),
        )

    # ------------------------------------------------------------ alarms and parameters

    def alarms(self, limit: int = 16) -> List[str]:
        """The drive's alarm history texts (0x2702:1 upward, newest first), ending at the first empty
        entry, at an entry the drive does not have, or after `limit` entries."""
        limit = _integer(limit, "limit", 0, 255)
        texts: List[str] = []
        text = ctypes.create_string_buffer(33)
        for number in range(1, limit + 1):
            code = self._lib.ZARN_GetAlarmHistory(self._id, number, text) if self._open else codes.E_NO_CONNECTION
            if code == codes.E_REPLY_ILLEGAL_ADDRESS:
                break
            self._check(code, f"alarms 0x{_ALARM_HISTORY:04X}:{number:02X}")
            if not text.value:
                break
            texts.append(text.value.decode(_TEXT_ENCODING))
        return texts

    def store_parameters(self) -> None:
        """Makes the drive store its parameters in its non-volatile memory ("save" to 0x1010:01, then 0x1010:05,
        2 seconds apart): blocks at least 2 s."""
        self._call("store_parameters", "ZARN_StoreParameter")
