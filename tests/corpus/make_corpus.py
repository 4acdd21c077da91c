#!/usr/bin/env python3
"""Generates the hostile-folder corpus: files named *.exe that are empty,
random, truncated programs, or programs whose resource directory or version
resource is corrupted. Deterministic for a given seed, which is printed and
written to corpus/SEED so that a failure can be reproduced.

It also writes, from launchers newer than the intact ones beside which the
tests place the corpus (a stripped one, whose relocations come last, and one
with debug sections), copies cut at every section boundary after the
resources, inside the last section and one byte short of the image's end: an
update still being written, or a download cut short.

It also writes corpus/EXPECTED, the test oracle, from what it knows it wrote
rather than from any reader: per file, "<name> <may count> <may win>".
- may count (1/0): the file still holds the family identifier and the whole
  image (the headers and every section's raw data), so a reader may take it
  for a launcher of the family. A copy cut short of its image never counts.
- may win (1/0): it may also read as a version above the intact launchers'
  1.2.0.0: a complete copy of a newer launcher, or a copy of the base (1.1.0.0)
  damaged at or before the end of its fixed version record (headers, resource
  directory, version block header, fixed record). Damage behind the fixed
  record cannot do that. When no file of a folder may win, the newest intact
  launcher must start.

  make_corpus.py --seed N --base launcher.exe --newer launcher.exe [--newer ...] --out DIR
"""
import argparse
import os
import random
import shutil
import struct
import sys

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import kestrelwood_wine as kt  # noqa: E402


class Base:
    """The valid launcher that the corruptions start from, with the offsets of
    its resource directory and version block."""

    def __init__(self, path, newer=False):
        self.data = open(path, "rb").read()
        self.newer = newer
        pe = pefile.PE(data=self.data)
        # What the loader maps: the headers and every section's raw data.
        self.image_end = max([pe.OPTIONAL_HEADER.SizeOfHeaders] +
                             [s.PointerToRawData + s.SizeOfRawData for s in pe.sections if s.SizeOfRawData])
        self.pe_offset = pe.DOS_HEADER.e_lfanew
        self.section_table = self.pe_offset + 24 + pe.FILE_HEADER.SizeOfOptionalHeader
        self.sections = [(s.PointerToRawData, s.SizeOfRawData) for s in pe.sections]
        rsrc = pe.OPTIONAL_HEADER.DATA_DIRECTORY[2]
        self.rsrc_rva = rsrc.VirtualAddress
        self.rsrc = pe.get_offset_from_rva(rsrc.VirtualAddress)
        self.rsrc_size = rsrc.Size
        entry = pe.DIRECTORY_ENTRY_RESOURCE.entries[0].directory.entries[0].directory.entries[0]
        self.data_entry = self.rsrc + entry.struct.OffsetToData  # IMAGE_RESOURCE_DATA_ENTRY
        self.version = pe.get_offset_from_rva(entry.data.struct.OffsetToData)
        self.version_size = entry.data.struct.Size
        block = self.data[self.version:self.version + self.version_size]
        # (offset in block, key, value offset, wValueLength, wType) of each node
        self.nodes = [(n[5], n[1], n[6], n[3], n[4]) for n in kt.walk_version_nodes(block)]
        # Everything up to here decides which version a reader sees.
        self.fixed_end = self.version + self.nodes[0][2] + 52
        pe.close()

    def node(self, key):
        for n in self.nodes:
            if n[1] == key:
                return n
        raise KeyError(key)


def patched(data, offset, fmt, value):
    out = bytearray(data)
    struct.pack_into(fmt, out, offset, value)
    return bytes(out)


def expectation(base, content):
    """(may count, may win) of one generated file; see the module's text."""
    may_count = kt.FAMILY_ID.encode("utf-16-le") in content
    if base.data.startswith(content):
        complete = may_count and len(content) >= base.image_end
        return complete, complete and base.newer
    if not may_count:
        return may_count, False
    first_change = next(i for i, (a, b) in enumerate(zip(content, base.data)) if a != b)
    return may_count, first_change < base.fixed_end


def generate(base, rng):
    data = base.data
    files = []  # (name, bytes)

    def add(name, content):
        files.append((f"{len(files):03d}_{name}.exe", content))

    # Nothing, and noise.
    add("empty", b"")
    for size in (1, 2, 63, 64, 100, 512, 4096, 65536, 300000):
        add(f"random_{size}", bytes(rng.getrandbits(8) for _ in range(size)))
    add("mz_only", b"MZ")
    add("mz_random", b"MZ" + bytes(rng.getrandbits(8) for _ in range(4094)))
    add("lfanew_past_end", patched(data[:4096], 0x3C, "<I", 0x7FFFFFF0))
    add("lfanew_zero", patched(data, 0x3C, "<I", 0))
    add("pe_signature_wrong", patched(data, base.pe_offset, "<I", 0x00004550 ^ 0xFF))
    add("sections_absurd", patched(data, base.pe_offset + 6, "<H", 0xFFFF))
    add("optional_header_huge", patched(data, base.pe_offset + 20, "<H", 0xFFF0))

    # Truncations through the headers, the section table, and the resources.
    cuts = set(range(1, 0x200, 17)) | {0x3C, 0x40, base.pe_offset, base.pe_offset + 4, base.pe_offset + 24}
    cuts |= set(range(base.section_table, base.section_table + 40 * len(base.sections), 13))
    for start, size in base.sections:
        if size:
            cuts |= {start, start + 1, start + size // 2, start + size - 1}
    cuts |= set(range(base.rsrc, base.rsrc + base.rsrc_size + 8, 4))
    cuts |= {len(data) - 1, len(data) - 512}
    for cut in sorted(c for c in cuts if 0 < c < len(data)):
        add(f"truncated_{cut:x}", data[:cut])

    # The resource directory.
    root = base.rsrc
    for field, name in ((12, "named"), (14, "ids")):
        add(f"rsrc_root_{name}_ffff", patched(data, root + field, "<H", 0xFFFF))
    add("rsrc_entry_offset_outside", patched(data, root + 16 + 4, "<I", 0x80000000 | 0x7FFFFF00))
    add("rsrc_entry_offset_self", patched(data, root + 16 + 4, "<I", 0x80000000))
    add("rsrc_entry_is_leaf", patched(data, root + 16 + 4, "<I", 0x10))
    add("rsrc_data_size_huge", patched(data, base.data_entry + 4, "<I", 0x7FFFFFFF))
    add("rsrc_data_size_zero", patched(data, base.data_entry + 4, "<I", 0))
    add("rsrc_data_size_odd", patched(data, base.data_entry + 4, "<I", base.version_size - 3))
    add("rsrc_data_size_past_file", patched(data, base.data_entry + 4, "<I", len(data)))
    add("rsrc_data_rva_outside", patched(data, base.data_entry, "<I", 0x7FFFFF00))
    add("rsrc_data_rva_zero", patched(data, base.data_entry, "<I", 0))
    add("rsrc_dir_size_zero", patched(data, base.pe_offset + 24 + 112 + 2 * 8 + 4, "<I", 0))
    add("rsrc_dir_rva_outside", patched(data, base.pe_offset + 24 + 112 + 2 * 8, "<I", 0x7FFFF000))

    # The version block's node lengths.
    v = base.version
    root_node = base.nodes[0]
    sfi = base.node("StringFileInfo")
    table = base.node("040904E4")
    lid = base.node("KesLauncherID")
    for node, label in ((root_node, "root"), (sfi, "stringfileinfo"), (table, "table"), (lid, "id")):
        at = v + node[0]
        length = struct.unpack_from("<H", data, at)[0]
        for value, tag in ((0, "zero"), (1, "one"), (length | 1, "odd"), (length + 2, "plus2"),
                           (length + 200, "past_block"), (0xFFFF, "ffff"), (6, "header_only")):
            add(f"ver_{label}_length_{tag}", patched(data, at, "<H", value))
    for value, tag in ((0, "zero"), (48, "48"), (51, "51"), (53, "53"), (0xFFFF, "ffff")):
        add(f"ver_fixed_value_length_{tag}", patched(data, v + 2, "<H", value))
    # KesLauncherID whose length runs past the end, or lies otherwise.
    for value, tag in ((0, "zero"), (1, "one"), (lid[3] + 1, "plus1"), (lid[3] + 100, "plus100"),
                       (0x7FFF, "7fff"), (0xFFFF, "ffff")):
        add(f"ver_id_value_length_{tag}", patched(data, v + lid[0] + 2, "<H", value))
    add("ver_id_type_binary", patched(data, v + lid[0] + 4, "<H", 0))
    # A string table that claims absurd counts: its children's lengths all lie.
    block = bytearray(data)
    for n in base.nodes:
        if n[0] > table[0]:
            struct.pack_into("<H", block, v + n[0], 0xFFFE)
    add("ver_table_children_absurd", bytes(block))
    # Keys without their terminating NUL.
    for node, label in ((root_node, "root"), (sfi, "stringfileinfo"), (table, "table"), (lid, "id")):
        block = bytearray(data)
        key_end = v + node[2] - 2
        while block[key_end:key_end + 2] == b"\0\0" and key_end > v + node[0] + 6:
            block[key_end:key_end + 2] = b"XX"
            key_end -= 2
        add(f"ver_{label}_key_unterminated", bytes(block))
    # The fixed record shorter than 52 bytes, with the family identifier intact.
    add("ver_signature_wrong", patched(data, v + root_node[2], "<I", 0x12345678))

    # Random damage at fixed seed, in the version block and the resource
    # directory, until the corpus holds at least 400 files.
    while len(files) < 420:
        block = bytearray(data)
        region = rng.choice(("version", "version", "directory"))
        lo, hi = (v, v + base.version_size) if region == "version" else (root, base.version)
        for _ in range(rng.randint(1, 8)):
            block[rng.randrange(lo, hi)] = rng.getrandbits(8)
        add(f"random_{region}", bytes(block))
    return files


def newer_cuts(newer, label, files):
    """Copies of a newer launcher cut after its resources; appended to files
    as (name, bytes, base)."""
    def add(name, content):
        files.append((f"{len(files):03d}_newer_{label}_{name}.exe", content, newer))

    add("one_byte_short", newer.data[:newer.image_end - 1])
    if len(newer.data) > newer.image_end:
        # Behind the image (a symbol table): the image itself is whole.
        add("cut_behind_image", newer.data[:newer.image_end + (len(newer.data) - newer.image_end) // 2])
    after = sorted((start, size) for start, size in newer.sections if size and start > newer.rsrc)
    for start, _ in after:
        add(f"cut_{start:x}", newer.data[:start])
    last_start, last_size = after[-1]
    add(f"cut_{last_start + last_size // 2:x}", newer.data[:last_start + last_size // 2])


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--seed", type=int, required=True)
    ap.add_argument("--base", required=True)
    ap.add_argument("--newer", action="append", default=[], help="a launcher above 1.2.0.0, stripped or not")
    ap.add_argument("--out", required=True)
    args = ap.parse_args(argv)
    rng = random.Random(args.seed)
    base = Base(args.base)
    shutil.rmtree(args.out, ignore_errors=True)
    os.makedirs(args.out)
    files = [(name, content, base) for name, content in generate(base, rng)]
    for path in args.newer:
        newer_cuts(Base(path, newer=True), "debug" if "debug" in os.path.basename(path) else "stripped", files)
    for name, content, _ in files:
        with open(os.path.join(args.out, name), "wb") as f:
            f.write(content)
    with open(os.path.join(args.out, "EXPECTED"), "w") as f:
        for name, content, origin in files:
            may_count, may_win = expectation(origin, content)
            f.write(f"{name} {int(may_count)} {int(may_win)}\n")
    with open(os.path.join(args.out, "SEED"), "w") as f:
        f.write(f"{args.seed}\n")
    print(f"hostile corpus: {len(files)} files, seed {args.seed}, in {args.out}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
