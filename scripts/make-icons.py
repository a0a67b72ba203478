#!/usr/bin/env python3
"""Draws the program's icons as PNG files: a page under a magnifying glass.

icon128.png is the fresh database (blue glass, green page corner),
icon129.png the stale one (grey glass, orange page corner); tessaly.png is
the 128-pixel desktop icon. Only the standard library is used.

    scripts/make-icons.py resources/
"""
import math
import struct
import sys
import zlib


def png(path, size, pixels):
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    head = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def draw(size, glass, corner):
    s = size / 32.0
    img = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            u, v = (x + 0.5) / s, (y + 0.5) / s
            px = (0, 0, 0, 0)
            # The page with a folded corner.
            if 4 <= u <= 22 and 2 <= v <= 28:
                px = (250, 250, 245, 255)
                if u <= 4.8 or u >= 21.2 or v <= 2.8 or v >= 27.2:
                    px = (90, 90, 90, 255)
                if u - 16 > v - 2:
                    px = (0, 0, 0, 0)
                elif 16 <= u and v <= 8 and u - 16 > v - 2.9:
                    px = corner
                elif 7 <= u <= 17 and int(v) in (11, 14, 17, 20) and (v % 1) < 0.6:
                    px = (120, 120, 130, 255)
            # The glass: a ring and a handle.
            d = math.hypot(u - 19, v - 17)
            if d <= 5.0:
                px = (glass[0], glass[1], glass[2], 110) if d < 3.8 else glass
            t = (u - 19 + v - 17) / 2
            off = abs((u - 19) - (v - 17)) / math.sqrt(2)
            if 4.2 <= t <= 9.5 and off <= 1.4:
                px = (60, 40, 20, 255)
            img[y][x] = px
    return img


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "resources"
    fresh = ((40, 110, 220, 255), (60, 170, 60, 255))
    stale = ((130, 130, 130, 255), (230, 140, 30, 255))
    png(f"{out}/icon128.png", 32, draw(32, *fresh))
    png(f"{out}/icon129.png", 32, draw(32, *stale))
    png(f"{out}/tessaly.png", 128, draw(128, *fresh))


main()
