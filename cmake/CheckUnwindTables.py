#!/usr/bin/env python3
"""Checks that every function the PDB names has its unwind entry in the DLL, the module's own code
and its static runtime's alike (lld drops the runtime's tables unless they are tied to their
functions): a range of .pdata on x64, a frame description of .eh_frame on x86, covering the
function's first byte. A function may go without one only if no unwind passes through or starts
in it: it calls nothing and, on x64, leaves the stack pointer alone (clang's leaf functions).

usage: CheckUnwindTables.py <dll> <pdb> <llvm-pdbutil> <llvm-objdump>
"""

import bisect
import re
import struct
import subprocess
import sys


def read_image(path):
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    machine, count, _, _, _, optional_size = struct.unpack_from("<HHIIIH", data, pe + 4)
    x64 = machine == 0x8664
    image_base = struct.unpack_from("<Q" if x64 else "<I", data, pe + (48 if x64 else 52))[0]
    sections = {}
    for at in range(pe + 24 + optional_size, pe + 24 + optional_size + 40 * count, 40):
        size, rva, raw_size, raw_at = struct.unpack_from("<IIII", data, at + 8)
        sections[len(sections) + 1] = (data[at:at + 8].rstrip(b"\0").decode(), rva,
                                       data[raw_at:raw_at + min(raw_size, size)])
    return x64, image_base, sections


def uleb(data, at):
    value = shift = 0
    while data[at] & 0x80:
        value, shift, at = value | (data[at] & 0x7F) << shift, shift + 7, at + 1
    return value | data[at] << shift, at + 1


def eh_frame_ranges(base, data, image_base):
    """[start, end) of each FDE, its pointers absolute or pc-relative, 4 bytes (as lld leaves them)."""
    encodings, ranges, at = {}, [], 0
    while at + 8 <= len(data) and struct.unpack_from("<I", data, at)[0]:
        length, cie = struct.unpack_from("<II", data, at)
        body = at + 4
        if cie == 0:
            augmentation = data[body + 5:data.index(b"\0", body + 5)].decode()
            cursor, encodings[at] = body + 6 + len(augmentation), 0
            if augmentation.startswith("z"):
                for _ in range(2 if data[body + 4] == 1 else 3):  # alignments, return register
                    cursor = uleb(data, cursor)[1]
                cursor += 1 if data[body + 4] == 1 else 0
                cursor = uleb(data, cursor)[1]
                for letter in augmentation[1:]:
                    if letter == "R":
                        encodings[at] = data[cursor]
                    cursor += 5 if letter == "P" else 1
        else:
            encoding = encodings[body - cie]
            if encoding & 0x0F not in (0x00, 0x03, 0x0B) or encoding & 0x60:
                raise ValueError(f"FDE pointer encoding {encoding:#x}")
            start, size = struct.unpack_from("<II", data, body + 4)
            if encoding & 0x10:
                start = (start + image_base + base + body + 4) & 0xFFFFFFFF
            ranges.append((start - image_base, start - image_base + size))
        at = body + length
    return ranges


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    dll, pdb, pdbutil, objdump = sys.argv[1:]
    x64, image_base, sections = read_image(dll)
    if x64:
        table = b"".join(raw for name, _, raw in sections.values() if name == ".pdata")
        ranges = [struct.unpack_from("<II", table, at) for at in range(0, len(table) - 11, 12)]
    else:  # the image keeps eight characters of a section's name
        ranges = [r for name, rva, raw in sections.values() if name == ".eh_fram"
                  for r in eh_frame_ranges(rva, raw, image_base)]
    ranges = sorted(r for r in ranges if r[1] > r[0])
    publics = subprocess.run([pdbutil, "dump", "-publics", pdb], check=True, capture_output=True, text=True).stdout
    functions = sorted((sections[int(section)][1] + int(offset), name) for name, section, offset in re.findall(
        r"S_PUB32 \[size = \d+\] `([^`]*)`\n\s*flags = function[^,\n]*, addr = (\d+):(\d+)", publics))
    listing = subprocess.run([objdump, "-d", "--no-show-raw-insn", dll], check=True, capture_output=True,
                             text=True).stdout
    code = [(int(address, 16) - image_base, text)
            for address, text in re.findall(r"^ *([0-9a-f]+):[ \t]+(\S[^\n]*)$", listing, re.M)]
    if not ranges or not functions or not code:
        sys.exit(f"{dll}: {len(ranges)} unwind entries, {len(functions)} functions, {len(code)} instructions")
    starts = [start for start, _ in ranges]
    boundaries = sorted(set(starts) | {rva for rva, _ in functions}) + [code[-1][0] + 1]
    addresses = [rva for rva, _ in code]
    missing = []
    for rva, name in functions:
        i = bisect.bisect_right(starts, rva) - 1
        if i >= 0 and rva < ranges[i][1]:
            continue
        end = boundaries[bisect.bisect_right(boundaries, rva)]
        body = [text for _, text in code[bisect.bisect_left(addresses, rva):bisect.bisect_left(addresses, end)]]
        moving = [text for text in body if text.startswith(("call", "enter")) or x64 and (
            text.startswith(("push", "pop", "leave")) or text.rstrip().endswith("%rsp"))]
        if moving or not body:
            missing.append(f"  {rva:#x} {name}: {moving[0] if moving else 'no code'}")
    print(f"{dll}: {len(functions)} functions, {len(ranges)} unwind entries")
    if missing:
        sys.exit(f"{len(missing)} functions that call or move the stack pointer have no unwind entry:\n"
                 + "\n".join(missing))


if __name__ == "__main__":
    main()
