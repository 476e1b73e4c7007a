#!/usr/bin/env python3
"""Checks that every function of a linked module has its unwind entry, as an exception or a
debugger's stack walk needs: on x64 a range of the .pdata table, on x86 a frame description of
.eh_frame, that covers the function's first byte. The functions are the PDB's public functions,
the module's own and its static runtime's alike (lld drops the tables of the runtime's inline and
template functions unless they are tied to them). A function may go without one only if no unwind
can pass through it or start in it: it calls nothing and, on x64, leaves the stack pointer alone
(as clang's leaf functions there, which the system's unwinder walks by their return address).

usage: UnwindTables.py <dll> <pdb> <llvm-pdbutil> <llvm-objdump>
"""

import bisect
import re
import struct
import subprocess
import sys


# clang 14 writes this one without unwind information in every object that needs it (nothing a
# link can add); it only ends the process.
WITHOUT_ENTRY = {"__clang_call_terminate"}


def read_image(path):
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    machine, section_count, _, _, _, optional_size = struct.unpack_from("<HHIIIH", data, pe + 4)
    optional = pe + 24
    image_base = struct.unpack_from("<Q" if machine == 0x8664 else "<I", data, optional + (24 if machine == 0x8664 else 28))[0]
    sections = []
    for i in range(section_count):
        at = optional + optional_size + 40 * i
        name = data[at:at + 8].rstrip(b"\0").decode()
        virtual_size, rva, raw_size, raw_at = struct.unpack_from("<IIII", data, at + 8)
        sections.append((name, rva, data[raw_at:raw_at + min(raw_size, virtual_size)]))
    return machine, image_base, sections


def pdata_ranges(sections):
    data = b"".join(raw for name, _, raw in sections if name == ".pdata")
    return [struct.unpack_from("<II", data, at) for at in range(0, len(data) - 11, 12) if data[at:at + 8] != bytes(8)]


def uleb(data, at):
    value = shift = 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, at


def eh_frame_ranges(sections, image_base):
    """The [start, end) RVAs of each FDE; pointers as lld leaves them: absolute or pc-relative, 4 bytes."""
    section = [(rva, raw) for name, rva, raw in sections if name in (".eh_frame", ".eh_fram")]
    if not section:
        return []
    base, data = section[0]
    encodings, ranges, at = {}, [], 0
    while at + 4 <= len(data):
        length = struct.unpack_from("<I", data, at)[0]
        if length == 0:
            break
        body, end = at + 4, at + 4 + length
        cie_pointer = struct.unpack_from("<I", data, body)[0]
        if cie_pointer == 0:
            encoding = 0
            augmentation = data[body + 5:data.index(b"\0", body + 5)].decode()
            cursor = body + 6 + len(augmentation)
            if augmentation.startswith("z"):
                _, cursor = uleb(data, cursor)  # code alignment
                _, cursor = uleb(data, cursor)  # data alignment (its sign does not matter here)
                cursor += 1 if data[body + 4] == 1 else uleb(data, cursor)[1] - cursor  # return register
                _, cursor = uleb(data, cursor)  # augmentation length
                for letter in augmentation[1:]:
                    if letter == "R":
                        encoding = data[cursor]
                    if letter == "P":
                        if data[cursor] & 0x0F not in (0x00, 0x03, 0x0B):
                            raise ValueError(f"personality encoding {data[cursor]:#x}")
                        cursor += 4
                    cursor += 1
            encodings[at] = encoding
        else:
            encoding = encodings[body - cie_pointer]
            if encoding & 0x0F not in (0x00, 0x03, 0x0B) or encoding & 0x70 not in (0x00, 0x10):
                raise ValueError(f"FDE pointer encoding {encoding:#x}")
            start, size = struct.unpack_from("<II", data, body + 4)
            start = (start + base + body + 4 + image_base) & 0xFFFFFFFF if encoding & 0x10 else start
            ranges.append((start - image_base, start - image_base + size))
        at = end
    return ranges


def public_functions(pdbutil, pdb, sections):
    dump = subprocess.run([pdbutil, "dump", "-publics", pdb], check=True, capture_output=True, text=True).stdout
    functions = []
    for name, flags, section, offset in re.findall(
            r"S_PUB32 \[size = \d+\] `([^`]*)`\n\s*flags = ([^,\n]*), addr = (\d+):(\d+)", dump):
        if "function" in flags and 0 < int(section) <= len(sections):
            functions.append((sections[int(section) - 1][1] + int(offset), name))
    return functions


def instructions(objdump, dll, image_base):
    """(rva, text) of every instruction of the module's code."""
    listing = subprocess.run([objdump, "-d", "--no-show-raw-insn", dll], check=True, capture_output=True,
                             text=True).stdout
    return [(int(address, 16) - image_base, text)
            for address, text in re.findall(r"^ *([0-9a-f]+):\s+(\S[^\n]*)$", listing, re.M)]


def moves_the_stack(text, x64):
    mnemonic = text.split()[0]
    if mnemonic.startswith(("call", "enter")):
        return True
    return x64 and (mnemonic.startswith(("push", "pop", "leave")) or text.rstrip().endswith("%rsp"))


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    dll, pdb, pdbutil, objdump = sys.argv[1:]
    machine, image_base, sections = read_image(dll)
    x64 = machine == 0x8664
    ranges = sorted(pdata_ranges(sections) if x64 else eh_frame_ranges(sections, image_base))
    functions = public_functions(pdbutil, pdb, sections)
    if not ranges or not functions:
        sys.exit(f"{dll}: {len(ranges)} unwind entries, {len(functions)} functions in {pdb}")
    starts = [start for start, _ in ranges]
    boundaries = sorted(set(starts) | {rva for rva, _ in functions})
    code = instructions(objdump, dll, image_base)
    addresses = [rva for rva, _ in code]
    missing = []
    for rva, name in sorted(functions):
        i = bisect.bisect_right(starts, rva) - 1
        if i >= 0 and rva < ranges[i][1] or name in WITHOUT_ENTRY:
            continue
        end = boundaries[bisect.bisect_right(boundaries, rva)] if rva < boundaries[-1] else addresses[-1] + 1
        body = code[bisect.bisect_left(addresses, rva):bisect.bisect_left(addresses, end)]
        moving = [text for _, text in body if moves_the_stack(text, x64)]
        if moving or not body:
            missing.append(f"  {rva:#x} {name}: {moving[0] if moving else 'no code'}")
    print(f"{dll}: {len(functions)} functions, {len(ranges)} unwind entries")
    if missing:
        sys.exit(f"{len(missing)} functions that call or move the stack pointer have no unwind entry:\n"
                 + "\n".join(missing))


if __name__ == "__main__":
    main()
