#!/usr/bin/env python3
"""Draws kestrelwood.ico: one 64x64 image, 32 bits per pixel with alpha.

A rust-red rounded tile with a pale falcon's wing chevron, drawn with 4x4
supersampling. Run it again to remake the icon; the output is deterministic.
"""
import math
import struct
import sys

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


def main(out):
    rows = []
    for y in range(SIZE - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(SIZE):
            r, g, b, a = pixel(x, y)
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    xor = b"".join(rows)
    mask = b"\0" * (SIZE // 8 * SIZE)  # all opaque; the alpha channel decides
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(out, "wb") as f:
        f.write(icondir + entry + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "kestrelwood.ico")
