#!/usr/bin/env python3
"""Writes a raw VS_VERSIONINFO block for a Windows version resource.

Every node is laid out as the platform reads it: wLength, wValueLength, wType,
a NUL-terminated UTF-16 key, padding to a 32-bit boundary, the value, padding,
then the children. Options make deliberately unusual blocks for test fixtures.
"""
import argparse
import struct
import sys


def pad4(data: bytes) -> bytes:
    return data + b"\0" * (-len(data) % 4)


def node(key: str, value: bytes, value_length: int, text: bool, children=(), length_override=None) -> bytes:
    head_key = (key + "\0").encode("utf-16-le")
    body = pad4(struct.pack("<HHH", 0, 0, 0) + head_key) + value
    for child in children:
        body = pad4(body) + child
    length = len(body) if length_override is None else length_override
    return struct.pack("<HHH", length, value_length, 1 if text else 0) + body[6:]


def string_node(key: str, value: str, nuls: int, claimed=None) -> bytes:
    units = value.encode("utf-16-le") + b"\0\0" * nuls
    count = len(units) // 2 if claimed is None else claimed
    return node(key, units, count, True)


def fixed_file_info(version, file_type: int, size: int) -> bytes:
    ms = (version[0] << 16) | version[1]
    ls = (version[2] << 16) | version[3]
    record = struct.pack(
        "<13I",
        0xFEEF04BD,  # signature
        0x00010000,  # structure version
        ms, ls,      # file version
        ms, ls,      # product version
        0x3F,        # flags mask
        0,           # flags
        0x00000004,  # VOS__WINDOWS32
        file_type,   # VFT_APP (1) or VFT_DLL (2)
        0,           # subtype
        0, 0,        # date
    )
    return record[:size] if size <= len(record) else record + b"\0" * (size - len(record))


def parse_version(text: str):
    parts = [int(p) for p in text.split(".")]
    if len(parts) != 4 or any(p < 0 or p > 0xFFFF for p in parts):
        raise SystemExit(f"bad version {text!r}")
    return parts


def main(argv) -> int:
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--out", required=True)
    ap.add_argument("--file-version", default="1.0.0.0")
    ap.add_argument("--file-type", choices=["app", "dll"], default="app")
    ap.add_argument("--fixed-size", type=int, default=52, help="bytes of VS_FIXEDFILEINFO to store")
    ap.add_argument("--table", required=True, help="string table key (language + code page); the last one given")
    ap.add_argument("--id-key", required=True, help="the key of the launcher identifier")
    ap.add_argument("--translation", help="LANG:CODEPAGE in hex (the table's own pair if not given); 'none' for "
                                          "no VarFileInfo")
    ap.add_argument("--value", action="append", default=[], help="KEY=VALUE, stored with one terminating NUL")
    ap.add_argument("--launcher-id", help="the launcher identifier")
    ap.add_argument("--id-nuls", type=int, default=1, help="terminating NULs stored after the identifier")
    ap.add_argument("--id-claimed-length", type=int, help="wValueLength to claim for the identifier, in units")
    ap.add_argument("--id-hex", help="the identifier given as UTF-16LE bytes in hex (taken as is)")
    ap.add_argument("--pad-to", type=int, default=0, help="zero bytes after the block, up to this resource size")
    args = ap.parse_args(argv)

    strings = []
    for item in args.value:
        key, _, value = item.partition("=")
        strings.append(string_node(key, value, 1))
    if args.id_hex is not None:
        raw = bytes.fromhex(args.id_hex)
        claimed = len(raw) // 2 if args.id_claimed_length is None else args.id_claimed_length
        strings.append(node(args.id_key, raw, claimed, True))
    elif args.launcher_id is not None:
        strings.append(string_node(args.id_key, args.launcher_id, args.id_nuls, args.id_claimed_length))

    children = []
    if strings:
        table = node(args.table, b"", 0, True, strings)
        children.append(node("StringFileInfo", b"", 0, True, [table]))
    translation = args.translation or f"{args.table[:4]}:{args.table[4:]}"
    if translation != "none":
        lang, cp = (int(x, 16) for x in translation.split(":"))
        var = node("Translation", struct.pack("<HH", lang, cp), 4, False)
        children.append(node("VarFileInfo", b"", 0, True, [var]))

    fixed = fixed_file_info(parse_version(args.file_version), 2 if args.file_type == "dll" else 1, args.fixed_size)
    root = node("VS_VERSION_INFO", fixed, len(fixed), False, children)
    with open(args.out, "wb") as f:
        f.write(root + b"\0" * max(0, args.pad_to - len(root)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
