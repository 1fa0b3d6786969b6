"""zarn: servo drives from Python, over the zarn motion library.

    import zarn
    with zarn.Drive.udp(1, "192.168.0.15", 50000) as drive:
        drive.enable()
        drive.move_to(20000, velocity=100000, acceleration=1000000, deceleration=1000000, timeout=5)
        print(drive.position, drive.status())

Drive.serial(id, port, baud) opens a drive on the serial multi-drop line.
Failures raise ZarnError (.code, .message); error_message(code) gives any
code's text; zarn.codes names the codes; zarn.sim.Simulator runs virtual
drives. The shared library is loaded at first use: ZARN_LIBRARY if set,
else next to the package or in its install's library directory, else from
the system's loader path (LibraryNotFoundError lists what was tried).
"""
from . import _tables, codes, sim
from ._library import load as _load
from .drive import AccessType, Drive, Status
from .errors import LibraryNotFoundError, ZarnError, error_message

__all__ = [
    "AccessType",
    "Drive",
    "LibraryNotFoundError",
    "Status",
    "ZarnError",
    "codes",
    "error_message",
    "library_path",
    "sim",
]
__version__: str = _tables.VERSION


def library_path() -> str:
    """The file of the zarn library in use (loading it if needed)."""
    return _load().path
