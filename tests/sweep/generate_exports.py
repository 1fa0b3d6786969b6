#!/usr/bin/env python3
"""Writes the table of every export declared in the public header, for the
argument sweep: each export's parameters (type, name, pointer or not, the
buffer size its documentation gives) and a call thunk that takes the
arguments as an array of values.

A parameter type the sweep does not know, an output text whose size the
header does not document, or a difference between the header and
the list of exported symbols stops the build: a new export is swept without
anyone having to remember it, or the build says what is missing.

Usage: generate_exports.py zarn.h exports.list output.inc
"""
import re
import sys

# C type -> the sweep's ArgType
TYPES = {
    "uint8_t": "kU8", "int8_t": "kI8", "char": "kChar",
    "uint16_t": "kU16", "int16_t": "kI16",
    "uint32_t": "kU32", "int32_t": "kI32", "int": "kInt",
    "IndexParameter": "kRecord",
}

DECLARATION = re.compile(r"ZARN_API\s+int32_t\s+ZARN_CALL\s+(\w+)\s*\(([^)]*)\)\s*;", re.S)
DOC_BLOCK = re.compile(r"/\*\*(.*?)\*/\s*$", re.S)
# "text (71 bytes)", "buffer holds 65 bytes", "text (2 * length + 1 bytes)"
SIZE = re.compile(r"\b(\w+) (?:\(([^()]*?) bytes[^()]*\)|holds ([0-9]+) bytes)")


def fail(message):
    sys.exit("generate_exports.py: " + message)


def parse_parameter(text, export):
    text = " ".join(text.replace("*", " * ").split())
    words = text.split(" ")
    name = words[-1]
    pointer = "*" in words
    const = "const" in words
    base = [w for w in words[:-1] if w not in ("const", "*")]
    if len(base) != 1 or base[0] not in TYPES:
        fail(f"{export}: parameter '{text}' has a type the sweep does not know; add it to TYPES "
             "and give it values in argument_sweep_test.cpp")
    return {"name": name, "ctype": base[0], "type": TYPES[base[0]], "pointer": pointer, "const": const}


def size_expression(expression, names, export):
    """A documented size as C++ over the argument values v[i]."""
    def value_of(match):
        word = match.group(0)
        if word.isdigit():
            return word
        if word not in names:
            fail(f"{export}: the documented size '{expression}' names no parameter '{word}'")
        return f"v[{names.index(word)}].integer"
    return re.sub(r"\w+", value_of, expression)


def main():
    header_path, exports_path, output_path = sys.argv[1:4]
    header = open(header_path).read()
    exported = [line.split()[0] for line in open(exports_path) if line.startswith("ZARN_")]

    exports = []
    previous_end = 0
    for match in DECLARATION.finditer(header):
        name, parameters = match.group(1), match.group(2).strip()
        between = header[previous_end:match.start()]
        previous_end = match.end()
        doc_match = DOC_BLOCK.search(between)
        lines = doc_match.group(1).splitlines() if doc_match else []
        doc = " ".join(" ".join(re.sub(r"^\s*\*(\s|$)", " ", line) for line in lines).split())
        params = [] if parameters in ("", "void") else [parse_parameter(p, name) for p in parameters.split(",")]
        names = [p["name"] for p in params]
        sizes = {}
        for m in SIZE.finditer(doc):
            sizes[m.group(1)] = m.group(2) or m.group(3)
        for p in params:
            p["size"] = None
            # A text always needs its size; a byte pointer without one is one value.
            if p["pointer"] and not p["const"] and (p["type"] == "kChar" or p["name"] in sizes):
                if p["name"] not in sizes:
                    fail(f"{name}: the header does not say how many bytes '{p['name']}' must hold; "
                         f"write it in its comment as '{p['name']} (N bytes)'")
                p["size"] = size_expression(sizes[p["name"]], names, name)
        exports.append((name, params))

    declared = [e[0] for e in exports]
    if sorted(declared) != sorted(exported):
        fail("the header and src/exports.list differ: only in the header: "
             f"{sorted(set(declared) - set(exported))}; only in the list: {sorted(set(exported) - set(declared))}")

    out = ["// Generated from include/zarn/zarn.h by tests/sweep/generate_exports.py: do not edit.",
           '#include "argument_sweep.h"', "", "namespace zarn {", "namespace sweep {", "namespace {", ""]
    for name, params in exports:
        args = []
        for i, p in enumerate(params):
            ctype = ("const " if p["const"] else "") + p["ctype"]
            if p["pointer"]:
                args.append(f"static_cast<{ctype}*>(v[{i}].pointer)")
            else:
                args.append(f"static_cast<{ctype}>(v[{i}].integer)")
        used = "v" if params else "/*v*/"
        out.append(f"int32_t Call_{name}(const Value* {used}) {{ return {name}({', '.join(args)}); }}")
        for i, p in enumerate(params):
            if p["size"] is not None:
                arg = "v" if "v[" in p["size"] else "/*v*/"
                out.append(f"int64_t Size_{name}_{p['name']}(const Value* {arg}) {{ return {p['size']}; }}")
    out += ["", "}  // namespace", "", "const ExportInfo kExports[] = {"]
    for name, params in exports:
        rows = []
        for p in params:
            size = f"&Size_{name}_{p['name']}" if p["size"] is not None else "nullptr"
            rows.append(f'{{"{p["name"]}", ArgType::{p["type"]}, {str(p["pointer"]).lower()}, '
                        f'{str(p["const"]).lower()}, {size}}}')
        out.append(f'    {{"{name}", &Call_{name}, {{{", ".join(rows)}}}}},')
    out += ["};", f"const size_t kExportCount = {len(exports)};", "", "}  // namespace sweep",
            "}  // namespace zarn", ""]
    with open(output_path, "w") as f:
        f.write("\n".join(out))


if __name__ == "__main__":
    main()
