"""Errors: the library's codes with their messages, and the exception that carries them."""
from __future__ import annotations

from typing import Iterable, Optional

from . import _tables

UNKNOWN_MESSAGE = "Unknown Error."


def error_message(code: int) -> str:
    """The message of any code: the library's 43 codes and the motion conditions from 100 up.

    Codes in neither list read "Unknown Error.", as the library itself says.

    >>> error_message(38)
    'Connection: There is no connection!'
    """
    return _tables.MESSAGES.get(int(code), UNKNOWN_MESSAGE)


class ZarnError(Exception):
    """A failed operation.

    `code` is the library's code (zarn.codes), `message` its text, `operation`
    what failed on which drive, and `alarm_code` the drive's alarm (0x603F)
    when the failure is an alarm. str() reads like
    "move_to, drive 1, alarm 0xFF11: Motion: The drive reports an alarm.".
    """

    def __init__(self, code: int, operation: str = "", alarm_code: Optional[int] = None) -> None:
        self.code = int(code)
        self.message = error_message(self.code)
        self.operation = operation
        self.alarm_code = alarm_code
        context = operation
        if alarm_code is not None:
            context += f", alarm 0x{alarm_code:04X}"
        super().__init__(f"{context}: {self.message}" if context else self.message)

    def __reduce__(self):
        return (type(self), (self.code, self.operation, self.alarm_code))


class LibraryNotFoundError(OSError):
    """The shared library could not be loaded; `tried` lists each place and why it failed."""

    def __init__(self, tried: Iterable[str]) -> None:
        self.tried = list(tried)
        lines = "\n  ".join(self.tried)
        super().__init__(
            "zarn: cannot load the zarn library (libzarn.so.1 / zarn.dll). Tried:\n  "
            + lines
            + "\nSet ZARN_LIBRARY to the library file, or install the library where the system's loader finds it."
        )
