#!/usr/bin/env python3
"""Copies a static library that MinGW-w64's g++ built so that lld keeps the unwind tables of its
inline and template functions.

g++ puts each such function in a COMDAT section .text$<name> and its unwind table in a COMDAT
section .eh_frame$<name> (32-bit, DWARF frames) or .pdata$<name> (64-bit, the system's table),
without the section symbol that would tie the table to its function: GNU ld pairs them by name.
lld 14 keeps a COMDAT section only through such a symbol, so it leaves out every one of those
tables, and an exception or a debugger's stack walk that comes through one of those functions
(std::wstring's, for one) finds no way on: the exception ends the process. This adds the missing
symbol to each table, associative with its .text$<name>, so that the table is kept exactly when
its function is.

usage: AssociateUnwindTables.py <input .a> <output .a>   (run llvm-ranlib on the output)
Fails when it ties no table: the library is then laid out in a way this does not know (its
sections named otherwise, its members big objects, which it skips), and lld would drop them all.
"""

import struct
import sys

COMDAT = 0x1000
STATIC = 3
SELECT_ASSOCIATIVE = 5
MACHINES = (0x14C, 0x8664)
SYMBOL_SIZE = 18


def patch_object(obj):
    """Returns the object with the missing symbols added (or unchanged) and how many it added."""
    if len(obj) < 20:
        return obj, 0
    machine, sections, _, symbols_at, symbol_count, optional_size, _ = struct.unpack_from("<HHIIIHH", obj, 0)
    if machine not in MACHINES or symbols_at == 0:
        return obj, 0
    strings_at = symbols_at + SYMBOL_SIZE * symbol_count

    def name_of(raw):
        if raw.startswith(b"/"):
            start = strings_at + int(raw[1:].rstrip(b"\0"))
            return obj[start:obj.index(b"\0", start)].decode()
        return raw.rstrip(b"\0").decode()

    headers = []
    for index in range(1, sections + 1):
        at = 20 + optional_size + 40 * (index - 1)
        raw_name = obj[at:at + 8]
        size, data_at, relocations_at, _, relocation_count, line_count, flags = struct.unpack_from(
            "<IIIIHHI", obj, at + 16)
        if max(data_at, relocations_at) >= symbols_at:
            raise ValueError("section data after the symbol table")
        headers.append((index, raw_name, name_of(raw_name), size, relocation_count, line_count, flags))

    defined = set()
    i = 0
    while i < symbol_count:
        at = symbols_at + SYMBOL_SIZE * i
        section, = struct.unpack_from("<h", obj, at + 12)
        storage, aux_count = obj[at + 16], obj[at + 17]
        if storage == STATIC and aux_count > 0:
            defined.add(section)
        i += 1 + aux_count

    functions = {name[len(".text$"):]: index for index, _, name, *_ in headers if name.startswith(".text$")}
    added = []
    for index, raw_name, name, size, relocation_count, line_count, flags in headers:
        kind, dollar, key = name.partition("$")
        if not (flags & COMDAT) or index in defined or not dollar or kind == ".text" or key not in functions:
            continue
        # A section header gives a long name as "/<offset>", a symbol as zero and the offset.
        symbol_name = struct.pack("<II", 0, int(raw_name[1:].rstrip(b"\0"))) if raw_name.startswith(b"/") else raw_name
        symbol = symbol_name + struct.pack("<IhHBB", 0, index, 0, STATIC, 1)
        aux = struct.pack("<IHHIHB3x", size, relocation_count, line_count, 0, functions[key], SELECT_ASSOCIATIVE)
        added.append(symbol + aux)
    if not added:
        return obj, 0
    header = bytearray(obj[:20])
    struct.pack_into("<I", header, 12, symbol_count + 2 * len(added))
    return bytes(header) + obj[20:strings_at] + b"".join(added) + obj[strings_at:], len(added)


def patch_archive(data):
    if not data.startswith(b"!<arch>\n"):
        raise ValueError("not an archive")
    out = [b"!<arch>\n"]
    total = 0
    at = 8
    while at + 60 <= len(data):
        header = data[at:at + 60]
        size = int(header[48:58])
        member = data[at + 60:at + 60 + size]
        at += 60 + size + (size & 1)
        name = header[:16].rstrip()
        if name in (b"/", b"/SYM64/"):
            continue  # the symbol index; llvm-ranlib writes a new one
        if name != b"//":
            member, count = patch_object(member)
            total += count
        out.append(header[:48] + str(len(member)).encode().ljust(10) + header[58:])
        out.append(member + (b"\n" if len(member) & 1 else b""))
    return b"".join(out), total


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], "rb") as f:
        data, count = patch_archive(f.read())
    if count == 0:
        sys.exit(f"{sys.argv[1]}: no unwind table tied to its function; lld would drop them all")
    with open(sys.argv[2], "wb") as f:
        f.write(data)
    print(f"{sys.argv[1]}: {count} unwind tables tied to their functions")


if __name__ == "__main__":
    main()
