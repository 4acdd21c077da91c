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

It also writes the same cuts and corruptions of a 32-bit launcher (x86_*),
and crafted files whose resource directory is all legal repetition (the
same entry hundreds of times at every level, or directories spread far
apart), or whose image is built for another machine.

It also writes corpus/EXPECTED, the test oracle, from what it knows it wrote
rather than from any reader: per file, "<name> <may count> <may win>
<verdict>".
- may count (1/0): the file still holds the family identifier and the whole
  image (the headers and every section's raw data), so a reader may take it
  for a launcher of the family. A copy cut short of its image never counts.
- may win (1/0): it may also read as a version above the intact launchers'
  1.2.0.0: a complete copy of a newer launcher, or a copy of the base (1.1.0.0)
  damaged at or before the end of its fixed version record (headers, resource
  directory, version block header, fixed record). Damage behind the fixed
  record cannot do that. When no file of a folder may win, the newest intact
  launcher must start.
- verdict: what the judgement must say, where the file's making decides
  it: "readable", "rejected" (damaged or cut short), "over-budget" (more
  work than any real program needs), "not-an-image" (no whole PE signature:
  never given to the platform), "not-a-program" (an image that Windows does
  not start as a program), or "-".

  make_corpus.py --seed N --base launcher.exe --newer launcher.exe [--newer ...]
                 --base32 launcher.exe --newer32 launcher.exe --out DIR
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
        self.pe32 = pe.OPTIONAL_HEADER.Magic == 0x10B
        self.file_alignment = pe.OPTIONAL_HEADER.FileAlignment
        self.section_alignment = pe.OPTIONAL_HEADER.SectionAlignment
        self.headers_size = pe.OPTIONAL_HEADER.SizeOfHeaders
        self.image_size = pe.OPTIONAL_HEADER.SizeOfImage
        self.virtual_end = max(s.VirtualAddress + max(s.Misc_VirtualSize, s.SizeOfRawData) for s in pe.sections)
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
        self.resource_directory_at = self.pe_offset + 24 + (96 if self.pe32 else 112) + 2 * 8
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


def generate(base, rng, files, prefix="", fill_to=420, resource_cut_step=4):
    """The cuts and corruptions of one launcher, appended to files as (name,
    bytes, base, verdict or None, None); noise files only for the first
    launcher."""
    data = base.data
    first = len(files)

    def add(name, content, verdict=None):
        files.append((f"{len(files):03d}_{prefix}{name}.exe", content, base, verdict, None))

    if prefix:
        noise_sizes = ()
    else:
        add("empty", b"", "not-an-image")
        noise_sizes = (1, 2, 63, 64, 100, 512, 4096, 65536, 300000)
    # Nothing, and noise: without "MZ" first, no image.
    for size in noise_sizes:
        noise = bytes(rng.getrandbits(8) for _ in range(size))
        add(f"random_{size}", noise, "-" if noise.startswith(b"MZ") else "not-an-image")
    if not prefix:
        add("mz_only", b"MZ", "not-an-image")
        add("mz_random", b"MZ" + bytes(rng.getrandbits(8) for _ in range(4094)))
    add("lfanew_past_end", patched(data[:4096], 0x3C, "<I", 0x7FFFFFF0), "not-an-image")
    # The DOS header itself where the PE signature should be.
    add("lfanew_zero", patched(data, 0x3C, "<I", 0), "not-an-image")
    add("pe_signature_wrong", patched(data, base.pe_offset, "<I", 0x00004550 ^ 0xFF), "not-an-image")
    add("sections_absurd", patched(data, base.pe_offset + 6, "<H", 0xFFFF))
    add("optional_header_huge", patched(data, base.pe_offset + 20, "<H", 0xFFF0))

    # Truncations through the headers, the section table, and the resources.
    cuts = set(range(1, 0x200, 17)) | {0x3C, 0x40, base.pe_offset, base.pe_offset + 4, base.pe_offset + 24}
    cuts |= set(range(base.section_table, base.section_table + 40 * len(base.sections), 13))
    for start, size in base.sections:
        if size:
            cuts |= {start, start + 1, start + size // 2, start + size - 1}
    cuts |= set(range(base.rsrc, base.rsrc + base.rsrc_size + 8, resource_cut_step))
    cuts |= {len(data) - 1, len(data) - 512}
    for cut in sorted(c for c in cuts if 0 < c < len(data)):
        add(f"truncated_{cut:x}", data[:cut])

    # The resource directory.
    root = base.rsrc
    # The launchers' only resource is their version resource: the root's
    # first entry is its type.
    for field, name in ((12, "named"), (14, "ids")):
        add(f"rsrc_root_{name}_ffff", patched(data, root + field, "<H", 0xFFFF), "rejected")
    add("rsrc_entry_offset_outside", patched(data, root + 16 + 4, "<I", 0x80000000 | 0x7FFFFF00), "rejected")
    add("rsrc_entry_offset_self", patched(data, root + 16 + 4, "<I", 0x80000000))
    add("rsrc_entry_is_leaf", patched(data, root + 16 + 4, "<I", 0x10))
    add("rsrc_data_size_huge", patched(data, base.data_entry + 4, "<I", 0x7FFFFFFF), "rejected")
    add("rsrc_data_size_zero", patched(data, base.data_entry + 4, "<I", 0), "readable")
    add("rsrc_data_size_odd", patched(data, base.data_entry + 4, "<I", base.version_size - 3))
    add("rsrc_data_size_past_file", patched(data, base.data_entry + 4, "<I", len(data)), "rejected")
    add("rsrc_data_rva_outside", patched(data, base.data_entry, "<I", 0x7FFFFF00), "rejected")
    add("rsrc_data_rva_zero", patched(data, base.data_entry, "<I", 0))
    add("rsrc_dir_size_zero", patched(data, base.resource_directory_at + 4, "<I", 0))
    add("rsrc_dir_rva_outside", patched(data, base.resource_directory_at, "<I", 0x7FFFF000), "rejected")

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
    while len(files) < first + fill_to:
        block = bytearray(data)
        region = rng.choice(("version", "version", "directory"))
        lo, hi = (v, v + base.version_size) if region == "version" else (root, base.version)
        for _ in range(rng.randint(1, 8)):
            block[rng.randrange(lo, hi)] = rng.getrandbits(8)
        add(f"random_{region}", bytes(block))


def newer_cuts(newer, label, files):
    """Copies of a newer launcher cut after its resources; appended to files
    as (name, bytes, base, None, None)."""
    def add(name, content):
        files.append((f"{len(files):03d}_newer_{label}_{name}.exe", content, newer, None, None))

    add("one_byte_short", newer.data[:newer.image_end - 1])
    if len(newer.data) > newer.image_end:
        # Behind the image (a symbol table): the image itself is whole.
        add("cut_behind_image", newer.data[:newer.image_end + (len(newer.data) - newer.image_end) // 2])
    after = sorted((start, size) for start, size in newer.sections if size and start > newer.rsrc)
    for start, _ in after:
        add(f"cut_{start:x}", newer.data[:start])
    last_start, last_size = after[-1]
    add(f"cut_{last_start + last_size // 2:x}", newer.data[:last_start + last_size // 2])


SUBDIRECTORY = 0x80000000
RT_VERSION, VS_VERSION_INFO, US_ENGLISH = 16, 1, 0x409


def align(value, to):
    return (value + to - 1) // to * to


def directory(entries):
    """An IMAGE_RESOURCE_DIRECTORY with id entries (id, offset or SUBDIRECTORY|offset)."""
    return struct.pack("<IIHHHH", 0, 0, 0, 0, 0, len(entries)) + b"".join(
        struct.pack("<II", i, target) for i, target in entries)


def with_resource_section(base, size, build):
    """A copy of `base` with one more section of `size` bytes at its end, made
    by build(rva, size) of the section, which the resource directory then
    names: a whole image, whose old resources are left unreferenced."""
    rva = align(base.virtual_end, base.section_alignment)
    payload = build(rva, size)
    payload += bytes(size - len(payload))
    offset = align(len(base.data), base.file_alignment)
    header_at = base.section_table + 40 * len(base.sections)
    assert header_at + 40 <= min(base.headers_size, min(p for p, n in base.sections if n)), "no room for a section"
    out = bytearray(base.data) + bytes(offset - len(base.data)) + payload
    out += bytes(align(len(out), base.file_alignment) - len(out))
    out[header_at:header_at + 40] = struct.pack("<8sIIIIIIHHI", b".rsrc2", size, rva, align(size, base.file_alignment),
                                                offset, 0, 0, 0, 0, 0x40000040)
    struct.pack_into("<H", out, base.pe_offset + 6, len(base.sections) + 1)
    struct.pack_into("<I", out, base.pe_offset + 24 + 56, align(rva + size, base.section_alignment))  # SizeOfImage
    struct.pack_into("<II", out, base.resource_directory_at, rva, size)
    return bytes(out)


def fan_out(repeats, distinct_names=False, whole_section=True, version=None):
    """The version type entry `repeats` times at the root, the version name
    `repeats` times under it and a language `repeats` times under that, each
    language naming one data entry: over the whole section, or the intact
    version block (rva, size). With distinct_names every type entry leads to a
    directory of its own."""
    def build(rva, size):
        names = 16 + 8 * repeats
        name_count = repeats if distinct_names else 1
        languages = names + (16 + 8 * repeats) * name_count
        data = languages + 16 + 8 * repeats
        body = directory([(RT_VERSION, SUBDIRECTORY | (names + (16 + 8 * repeats) * (i if distinct_names else 0)))
                          for i in range(repeats)])
        for _ in range(name_count):
            body += directory([(VS_VERSION_INFO, SUBDIRECTORY | languages)] * repeats)
        body += directory([(US_ENGLISH, data)] * repeats)
        return body + struct.pack("<IIII", *((rva, size) if whole_section else version), 0, 0)
    return build


def scattered(count, version, stride=8192):
    """The version name's directory and `count` language directories, each
    `stride` bytes from the next, so that each costs a read of its own; the
    languages name the intact version block."""
    def build(rva, size):
        body = bytearray(directory([(RT_VERSION, SUBDIRECTORY | stride)]))
        places = [stride * (2 + i) for i in range(count)]
        for at, part in [(stride, directory([(VS_VERSION_INFO, SUBDIRECTORY | p) for p in places]))] + [
                (p, directory([(US_ENGLISH, p + 24)]) + struct.pack("<IIII", *version, 0, 0)) for p in places]:
            body += bytes(at - len(body)) + part
        return bytes(body)
    return build


def crafted(newer, files):
    """Files that are all legal repetition, or built for another machine;
    appended as (name, bytes, base, verdict, (may count, may win))."""
    def add(name, content, expected):
        files.append((f"{len(files):03d}_crafted_{name}.exe", content, newer, expected[2], expected[:2]))

    version = (newer.rsrc_rva - newer.rsrc + newer.version, newer.version_size)  # the intact block, by rva
    megabyte = (1 << 20) - align(len(newer.data), newer.file_alignment)
    # 200 directories of names, each repeating the version name 200 times.
    # 700 repeats at every level: 2,800 entries, past the budget however few
    # directories they lead to.
    add("fanout_700_repeats", with_resource_section(newer, megabyte, fan_out(700)), (0, 0, "over-budget"))
    add("fanout_200_distinct_names", with_resource_section(newer, megabyte, fan_out(200, distinct_names=True)),
        (0, 0, "over-budget"))
    # Ten repeats at every level of an intact version resource: a thousand
    # paths, but three directories and ten data entries, each looked at once.
    add("fanout_10_repeats_intact", with_resource_section(newer, 65536, fan_out(10, whole_section=False,
                                                                              version=version)),
        (1, 1, "readable"))
    add("scattered_3_directories", with_resource_section(newer, 65536, scattered(3, version)), (1, 1, "readable"))
    # More windows than the budget's reads.
    add("scattered_40_directories", with_resource_section(newer, 8192 * 42, scattered(40, version)),
        (0, 0, "over-budget"))
    # Whole launchers of the family that this computer cannot start.
    for machine, label in ((0xAA64, "arm64"), (0x01C4, "arm"), (0x1234, "unknown"), (0, "none")):
        add(f"machine_{label}", patched(newer.data, newer.pe_offset + 4, "<H", machine), (0, 0, "readable"))
    # Found by the fuzzer: the version data runs 4 KiB past SizeOfImage, in a
    # file long enough to hold it. A platform that maps the file as an image
    # (Wine's version library does) copies it from past the mapping.
    past = newer.image_size - version[0] + 0x1000
    longer = bytearray(newer.data) + bytes(max(0, newer.version + past - len(newer.data)))
    struct.pack_into("<I", longer, newer.data_entry + 4, past)
    add("data_past_image_size", bytes(longer), (0, 0, "rejected"))


def verdict_of(base, content):
    """The judgement's verdict where the file's making decides it: a copy of a
    launcher cut before its image's end lacks bytes that the loader maps,
    unless it is cut before its PE signature, when it is no image at all."""
    if base.data.startswith(content) and len(content) < len(base.data):
        if len(content) >= base.image_end:
            return "readable"
        return "not-an-image" if len(content) < base.pe_offset + 4 else "rejected"
    return "-"


def new_exe(signature, shift, claimed):
    """An old executable beside the PE format: a DOS header whose e_lfanew
    leads to `signature` ("NE", "LE" or anything else) and, for NE, a
    resource table whose one version resource claims `claimed` units of
    1 << shift bytes, far past the file's end."""
    header = bytearray(64)
    header[0:2] = b"MZ"
    struct.pack_into("<I", header, 0x3C, 0x40)
    ne = bytearray(64)
    ne[0:len(signature)] = signature
    struct.pack_into("<H", ne, 0x24, 64)  # the resource table, behind the NE header
    resources = struct.pack("<H", shift)
    resources += struct.pack("<HHI", 0x8000 | RT_VERSION, 1, 0)  # one type, one resource
    resources += struct.pack("<HHHHHH", 0x0100, claimed, 0x0030, 0x8000 | VS_VERSION_INFO, 0, 0)
    resources += struct.pack("<H", 0)  # end of the types
    return bytes(header + ne + resources)


def not_programs(newer, files):
    """Whole launchers of the family, newer than the intact ones, marked as
    something that Windows does not start as a program; and old executables
    that are no PE image at all. Appended as (name, bytes, base, verdict,
    (may count, may win))."""
    def add(name, content, verdict):
        files.append((f"{len(files):03d}_crafted_{name}.exe", content, newer, verdict, (0, 0)))

    characteristics = newer.pe_offset + 4 + 18
    subsystem = newer.pe_offset + 24 + 68
    flags = struct.unpack_from("<H", newer.data, characteristics)[0]
    add("dll_flag", patched(newer.data, characteristics, "<H", flags | 0x2000), "not-a-program")
    add("not_executable", patched(newer.data, characteristics, "<H", flags & ~0x0002), "not-a-program")
    for value, label in ((10, "efi_application"), (1, "native"), (16, "boot_application")):
        add(f"subsystem_{label}", patched(newer.data, subsystem, "<H", value), "not-a-program")
    add("ne_claims_much", new_exe(b"NE", 15, 0xFFFF), "not-an-image")
    add("le_claims_much", new_exe(b"LE", 15, 0xFFFF), "not-an-image")
    # "PE00" in ASCII where "PE\0\0" belongs, in front of a whole image.
    add("signature_pe00", patched(newer.data, newer.pe_offset, "<I", 0x30304550), "not-an-image")


def damaged_walks(newer, files):
    """A names directory that names itself as its language directory, and a
    data entry whose size wraps in 32-bit arithmetic; appended as (name,
    bytes, base, verdict, None)."""
    def add(name, content, verdict):
        files.append((f"{len(files):03d}_crafted_{name}.exe", content, newer, verdict, None))

    names = struct.unpack_from("<I", newer.data, newer.rsrc + 16 + 4)[0] & 0x7FFFFFFF
    add("names_directory_names_itself",
        patched(newer.data, newer.rsrc + names + 16 + 4, "<I", SUBDIRECTORY | names), "rejected")
    add("data_size_wraps", patched(newer.data, newer.data_entry + 4, "<I", 0xFFFFFFF0), "rejected")


def data_past_the_file(newer, files):
    """The version data runs past its section's raw data and 4 KiB past the
    end of the file, while the image, a megabyte larger in memory than before
    (its last section too), still holds it: only the file's own end shows
    that the bytes are not there. Appended as (name, bytes, base, verdict,
    (may count, may win))."""
    roomy = bytearray(newer.data)
    last_section = newer.section_table + 40 * (len(newer.sections) - 1)
    struct.pack_into("<I", roomy, last_section + 8, struct.unpack_from("<I", roomy, last_section + 8)[0] + (1 << 20))
    struct.pack_into("<I", roomy, newer.pe_offset + 24 + 56, newer.image_size + (1 << 20))
    struct.pack_into("<I", roomy, newer.data_entry + 4, len(newer.data) - newer.version + 0x1000)
    files.append((f"{len(files):03d}_crafted_data_past_file_inside_image.exe", bytes(roomy), newer, "rejected", (0, 0)))


def many_languages(strings, languages, version):
    """A resource tree laid out as old linkers write it, every directory
    first and every data entry after them: `strings` string tables, and the
    version resource in `languages` languages, each naming the intact version
    block; the version's language directory and its data entries lie far
    apart."""
    RT_STRING = 6

    def build(rva, size):
        root = 0
        string_names = root + 16 + 2 * 8
        version_names = string_names + 16 + 8 * strings
        version_languages = version_names + 16 + 8
        string_languages = version_languages + 16 + 8 * languages
        data_entries = string_languages + strings * (16 + 8)
        string_data = data_entries + 16 * (strings + languages)
        body = directory([(RT_STRING, SUBDIRECTORY | string_names), (RT_VERSION, SUBDIRECTORY | version_names)])
        body += directory([(i + 1, SUBDIRECTORY | (string_languages + 24 * i)) for i in range(strings)])
        body += directory([(VS_VERSION_INFO, SUBDIRECTORY | version_languages)])
        body += directory([(0x400 + i, data_entries + 16 * (strings + i)) for i in range(languages)])
        for i in range(strings):
            body += directory([(US_ENGLISH, data_entries + 16 * i)])
        for i in range(strings):
            body += struct.pack("<IIII", rva + string_data, 32, 0, 0)
        for i in range(languages):
            body += struct.pack("<IIII", *version, 0, 0)
        return body + bytes(32)
    return build


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--seed", type=int, required=True)
    ap.add_argument("--base", required=True)
    ap.add_argument("--newer", action="append", default=[], help="a launcher above 1.2.0.0, stripped or not")
    ap.add_argument("--base32", required=True, help="a 32-bit launcher below 1.2.0.0")
    ap.add_argument("--newer32", required=True, help="a 32-bit launcher above 1.2.0.0")
    ap.add_argument("--out", required=True)
    args = ap.parse_args(argv)
    rng = random.Random(args.seed)
    base = Base(args.base)
    shutil.rmtree(args.out, ignore_errors=True)
    os.makedirs(args.out)
    files = []
    generate(base, rng, files)
    newer = [Base(path, newer=True) for path in args.newer]
    for launcher, path in zip(newer, args.newer):
        newer_cuts(launcher, "debug" if "debug" in os.path.basename(path) else "stripped", files)
    crafted(newer[0], files)
    generate(Base(args.base32), rng, files, prefix="x86_", fill_to=0, resource_cut_step=24)
    newer_cuts(Base(args.newer32, newer=True), "x86", files)
    not_programs(newer[0], files)
    damaged_walks(newer[0], files)
    version = (newer[0].rsrc_rva - newer[0].rsrc + newer[0].version, newer[0].version_size)
    files.append((f"{len(files):03d}_crafted_200_string_tables_100_languages.exe",
                  with_resource_section(newer[0], 65536, many_languages(200, 100, version)), newer[0], "readable",
                  (1, 1)))
    data_past_the_file(newer[0], files)
    for name, content, _, _, _ in files:
        with open(os.path.join(args.out, name), "wb") as f:
            f.write(content)
    with open(os.path.join(args.out, "EXPECTED"), "w") as f:
        for name, content, origin, verdict, counts in files:
            may_count, may_win = counts or expectation(origin, content)
            f.write(f"{name} {int(may_count)} {int(may_win)} {verdict or verdict_of(origin, content)}\n")
    with open(os.path.join(args.out, "SEED"), "w") as f:
        f.write(f"{args.seed}\n")
    print(f"hostile corpus: {len(files)} files, seed {args.seed}, in {args.out}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
