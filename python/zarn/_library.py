"""Finding and loading the zarn shared library, and the C functions' prototypes."""
from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from pathlib import Path
from typing import List, Optional

from .errors import LibraryNotFoundError

if sys.platform == "win32":
    _FILE_NAMES = ["zarn.dll"]
    _LOADER_NAMES = ["zarn.dll", "zarn"]
    # The 32-bit DLL exports __stdcall functions; on 64-bit there is one convention.
    _Loader = ctypes.WinDLL  # type: ignore[attr-defined]
    _FUNCTION_TYPE = ctypes.WINFUNCTYPE  # type: ignore[attr-defined]
elif sys.platform == "darwin":
    _FILE_NAMES = ["libzarn.1.dylib", "libzarn.dylib"]
    _LOADER_NAMES = ["libzarn.1.dylib", "libzarn.dylib"]
    _Loader = ctypes.CDLL
    _FUNCTION_TYPE = ctypes.CFUNCTYPE
else:
    _FILE_NAMES = ["libzarn.so.1", "libzarn.so"]
    _LOADER_NAMES = ["libzarn.so.1", "libzarn.so"]
    _Loader = ctypes.CDLL
    _FUNCTION_TYPE = ctypes.CFUNCTYPE

_PACKAGE_DIR = Path(__file__).resolve().parent

_u8, _i8 = ctypes.c_uint8, ctypes.c_int8
_u16, _i16 = ctypes.c_uint16, ctypes.c_int16
_u32, _i32 = ctypes.c_uint32, ctypes.c_int32
_int, _char_p, _P = ctypes.c_int, ctypes.c_char_p, ctypes.POINTER

# name -> argument types; every function returns an int32 error code.
_PROTOTYPES = {
    "ZARN_GetErrorCode": [_char_p],
    "ZARN_GetZarnDllVersion": [_P(_i32)],
    "ZARN_SDRVOpen": [_i32, _char_p, _u32],
    "ZARN_EDRVOpen": [_i32, _char_p, _u16],
    "ZARN_DriveClose": [_i32],
    "ZARN_ReadByte": [_u8, _u16, _u8, _P(_u8)],
    "ZARN_ReadByteS": [_u8, _u16, _u8, _P(_i8)],
    "ZARN_ReadWord": [_u8, _u16, _u8, _P(_u16)],
    "ZARN_ReadWordS": [_u8, _u16, _u8, _P(_i16)],
    "ZARN_ReadDWord": [_u8, _u16, _u8, _P(_u32)],
    "ZARN_ReadDWordS": [_u8, _u16, _u8, _P(_i32)],
    "ZARN_WriteByte": [_u8, _u16, _u8, _u8],
    "ZARN_WriteByteS": [_u8, _u16, _u8, _i8],
    "ZARN_WriteWord": [_u8, _u16, _u8, _u16],
    "ZARN_WriteWordS": [_u8, _u16, _u8, _i16],
    "ZARN_WriteDWord": [_u8, _u16, _u8, _u32],
    "ZARN_WriteDWordS": [_u8, _u16, _u8, _i32],
    "ZARN_ReadString": [_u8, _u16, _u8, _char_p],
    "ZARN_WriteString": [_u8, _u16, _u8, _char_p],
    "ZARN_StoreParameter": [_u8],
    "ZARN_ActualPosition": [_u8, _P(_i32)],
    "ZARN_ActualVelocity": [_u8, _P(_i32)],
    "ZARN_ActualTorque": [_u8, _P(_i16)],
    "ZARN_Enable": [_u8],
    "ZARN_Disable": [_u8],
    "ZARN_EmergencyStop": [_u8],
    "ZARN_ResetAlarm": [_u8],
    "ZARN_GetAlarmHistory": [_u8, _u8, _char_p],
    "ZARN_ProfileVelocity": [_u8, _u32],
    "ZARN_ProfileAccel": [_u8, _u32],
    "ZARN_ProfileDecel": [_u8, _u32],
    "ZARN_MoveAbs": [_u8, _i32],
    "ZARN_MoveRel": [_u8, _i32],
    "ZARN_MoveAbsolute": [_u8, _i32, _u32, _u32, _u32],
    "ZARN_MoveRelative": [_u8, _i32, _u32, _u32, _u32],
    "ZARN_Stop": [_u8],
    "ZARN_Homing": [_u8, ctypes.c_char, _i32, _i32, _u32, _i16],
    "ZARN_SetDriveControlInput1": [_u8, _int, _int],
}


class Library:
    """The loaded shared library: `path` says which file, each C function is an attribute."""

    def __init__(self, handle: ctypes.CDLL, path: str) -> None:
        self.path = path
        self._handle = handle
        for name, argtypes in _PROTOTYPES.items():
            function = getattr(handle, name)
            function.argtypes = argtypes
            function.restype = _i32
            setattr(self, name, function)


_lock = threading.Lock()
_library: Optional[Library] = None


def _installed_library_dir() -> Optional[Path]:
    """The library directory of the install this package came with (written by CMake's install)."""
    try:
        from ._location import LIBRARY_DIR  # type: ignore[import]
    except ImportError:
        return None
    return (_PACKAGE_DIR / LIBRARY_DIR).resolve()


def _candidates() -> List[tuple]:
    """(what, how) pairs in search order: a file path or a name for the system's loader."""
    found = []
    override = os.environ.get("ZARN_LIBRARY")
    if override:
        return [("file", override)]
    for directory in filter(None, [_PACKAGE_DIR, _installed_library_dir()]):
        found += [("file", str(directory / name)) for name in _FILE_NAMES]
    found += [("loader", name) for name in _LOADER_NAMES]
    located = ctypes.util.find_library("zarn")
    if located and located not in _LOADER_NAMES:
        found.append(("loader", located))
    return found


def load() -> Library:
    """Loads the library once: ZARN_LIBRARY if set (and only it), else a file next to the package or
    in the library directory of its install, else the system's loader path.

    Raises LibraryNotFoundError naming every place tried and why each failed.
    """
    global _library
    with _lock:
        if _library is not None:
            return _library
        tried = []
        for kind, where in _candidates():
            if kind == "file" and not os.path.exists(where):
                tried.append(f"{where} (no such file)")
                continue
            try:
                handle = _Loader(where)
            except OSError as error:
                tried.append(f"{where} ({'system loader: ' if kind == 'loader' else ''}{error})")
                continue
            _library = Library(handle, _loaded_path(handle, where))
            return _library
        if os.environ.get("ZARN_LIBRARY"):
            tried.insert(0, "ZARN_LIBRARY is set, so nothing else was searched:")
        raise LibraryNotFoundError(tried)


def _loaded_path(handle: ctypes.CDLL, where: str) -> str:
    """The file the loader opened (for a name found on the loader path, its full path where it can tell)."""
    if os.path.sep in where:
        return os.path.abspath(where)
    if sys.platform.startswith("linux"):
        try:
            with open("/proc/self/maps") as maps:
                for line in maps:
                    path = line.split(maxsplit=5)[-1].strip()
                    if os.path.basename(path).startswith(where.split(".so")[0] + ".so"):
                        return path
        except OSError:
            pass
    return where
