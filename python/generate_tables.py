#!/usr/bin/env python3
"""Writes zarn/_tables.py from the C headers that own the facts.

The error codes and their messages come from the X-lists of
include/zarn/zarn_errors.h, the objects and bits from src/protocol/objects.h,
the version from the project line of CMakeLists.txt. The package carries no
hand-written copy of any: CMake and setup.py run this script when they build it.

    generate_tables.py SOURCE_ROOT OUTPUT
"""
from __future__ import annotations

import re
import sys
from pathlib import Path

_STRING = r'"((?:[^"\\]|\\.)*)"'
_ESCAPES = {"n": "\n", "t": "\t", '"': '"', "\\": "\\", "'": "'"}


def _unescape(text: str) -> str:
    return re.sub(r"\\(.)", lambda m: _ESCAPES.get(m.group(1), m.group(1)), text)


def _macro_body(source: str, name: str) -> str:
    """The text of '#define NAME(X) ...' with its continuation lines joined."""
    match = re.search(r"^#define\s+" + name + r"\(X\)((?:.*\\\n)*.*)$", source, re.MULTILINE)
    if not match:
        raise SystemExit(f"generate_tables: no X-list {name} found")
    return match.group(1).replace("\\\n", " ")


def error_lists(source: str) -> dict[str, list[tuple[int, str, str]]]:
    """Every X-list of codes in the header: {list name: [(code, name, message)]}."""
    lists = {}
    for name in re.findall(r"^#define\s+(ZARN_\w*ERROR_LIST)\(X\)", source, re.MULTILINE):
        entries = re.findall(r"X\(\s*(-?\d+)\s*,\s*(\w+)\s*,\s*" + _STRING + r"\s*\)", _macro_body(source, name))
        lists[name] = [(int(code), ident, _unescape(text)) for code, ident, text in entries]
    if "ZARN_ERROR_LIST" not in lists:
        raise SystemExit("generate_tables: ZARN_ERROR_LIST is missing")
    return lists


def object_map(source: str) -> dict[str, tuple[int, int, int, bool]]:
    body = _macro_body(source, "ZARN_OBJECT_MAP")
    pattern = r"X\(\s*(\w+)\s*,\s*(0x[0-9A-Fa-f]+)\s*,\s*(\d+)\s*,\s*(\d+)\s*,\s*(true|false)\s*,"
    return {
        name: (int(index, 16), int(sub), int(width), signed == "true")
        for name, index, sub, width, signed in re.findall(pattern, body)
    }


def bits(source: str) -> dict[str, int]:
    match = re.search(r"namespace bits \{(.*?)\}", source, re.DOTALL)
    if not match:
        raise SystemExit("generate_tables: namespace bits is missing")
    return {name: int(value) for name, value in re.findall(r"constexpr int k(\w+)\s*=\s*(\d+);", match.group(1))}


def families(source: str) -> dict[str, int]:
    pattern = r"constexpr uint16_t k(\w+)\s*=\s*(0x[0-9A-Fa-f]+);"
    return {name: int(value, 16) for name, value in re.findall(pattern, source)}


def version(cmake_source: str) -> str:
    match = re.search(r"project\(zarn\s+VERSION\s+([\d.]+)", cmake_source)
    if not match:
        raise SystemExit("generate_tables: no 'project(zarn VERSION ...)' in CMakeLists.txt")
    return match.group(1)


def render(errors_source: str, objects_source: str, cmake_source: str) -> str:
    lists = error_lists(errors_source)
    out = [
        '"""The library\'s error codes, objects and bits, generated from zarn_errors.h and',
        'objects.h by generate_tables.py when the package is built: do not edit."""',
        "",
    ]
    out.append(f"VERSION = {version(cmake_source)!r}")
    messages = {code: text for entries in lists.values() for code, _, text in entries}
    names = {ident: code for entries in lists.values() for code, ident, _ in entries}
    out.append("# code -> message, for the library's codes and the motion conditions")
    out.append("MESSAGES = {")
    out += [f"    {code}: {text!r}," for code, text in sorted(messages.items())]
    out.append("}")
    out.append("# the header's constant names")
    out.append("NAMES = {")
    out += [f"    {ident!r}: {code}," for ident, code in names.items()]
    out.append("}")
    out.append("# name -> (index, subindex, width in bytes, signed)")
    out.append("OBJECTS = {")
    out += [f"    {name!r}: (0x{i:04X}, {s}, {w}, {sg})," for name, (i, s, w, sg) in object_map(objects_source).items()]
    out.append("}")
    out.append("# bit numbers in the command, status and signal words")
    out.append(f"BITS = {bits(objects_source)!r}")
    out.append("# base indexes of objects addressed by number")
    out.append("FAMILIES = {" + ", ".join(f"{k!r}: 0x{v:04X}" for k, v in families(objects_source).items()) + "}")
    return "\n".join(out) + "\n"


SOURCES = ("include/zarn/zarn_errors.h", "src/protocol/objects.h", "CMakeLists.txt")


def generate(root: Path, output: Path) -> None:
    """Writes `output` from the sources under the project's root."""
    missing = [name for name in SOURCES if not (root / name).is_file()]
    if missing:
        raise SystemExit(f"generate_tables: {', '.join(missing)} not found under {root}")
    text = render(*((root / name).read_text() for name in SOURCES))
    output.parent.mkdir(parents=True, exist_ok=True)
    output.write_text(text)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    generate(Path(sys.argv[1]), Path(sys.argv[2]))
