#!/usr/bin/env python3
"""Draws kestrelwood.ico: one 64x64 image, 32 bits per pixel with alpha.

A rust-red rounded tile with a pale falcon's wing chevron, drawn with 4x4
supersampling. The image is stored PNG-compressed (8-bit RGBA), as icons may
be since Windows Vista, the oldest system the manifest names: about a tenth
of the 16 KiB of an uncompressed one, which the start program's size pays
for. Run it again to remake the icon; the output is deterministic.
"""
import math
import struct
import sys
import zlib

SIZE = 64
SUB = 4


def inside_tile(x, y):
    r = 12.0
    cx = min(max(x, r), SIZE - r)
    cy = min(max(y, r), SIZE - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def inside_wing(x, y):
    # Two thick strokes meeting at a point: a stylised wing over a trunk.
    def near_segment(ax, ay, bx, by, width):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        px, py = ax + t * dx, ay + t * dy
        return math.hypot(x - px, y - py) <= width

    return (near_segment(12, 22, 32, 36, 4.5) or near_segment(52, 22, 32, 36, 4.5)
            or near_segment(32, 34, 32, 54, 4.0) or math.hypot(x - 32, y - 16) <= 5.0)


def pixel(px, py):
    tile = wing = 0
    for sy in range(SUB):
        for sx in range(SUB):
            x = px + (sx + 0.5) / SUB
            y = py + (sy + 0.5) / SUB
            if inside_tile(x, y):
                tile += 1
                if inside_wing(x, y):
                    wing += 1
    n = SUB * SUB
    if tile == 0:
        return (0, 0, 0, 0)
    shade = 1.0 - 0.35 * py / SIZE
    base = (int(176 * shade), int(72 * shade), int(38 * shade))
    pale = (246, 232, 208)
    w = wing / tile
    r, g, b = (int(base[i] * (1 - w) + pale[i] * w) for i in range(3))
    return (r, g, b, int(255 * tile / n))


def png(width, height, rgba_rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + row for row in rgba_rows)  # filter type 0 on every row
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8 bits per channel, RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def main(out):
    rows = []
    for y in range(SIZE):  # top-down, as PNG stores them
        row = bytearray()
        for x in range(SIZE):
            row += bytes(pixel(x, y))
        rows.append(bytes(row))
    image = png(SIZE, SIZE, rows)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(out, "wb") as f:
        f.write(icondir + entry + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "kestrelwood.ico")
