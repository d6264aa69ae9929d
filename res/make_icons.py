#!/usr/bin/env python3
"""Draws the Ferrotick icon (a rust-red platter with a speed needle) into
ferrotick-16.png and ferrotick-32.png next to this script.

Plain Python so that the artwork can be redrawn anywhere; the PNGs are
committed, so a build never runs this.
"""

import math
import os
import struct
import zlib

SUPERSAMPLE = 8

RIM = (92, 38, 20)
PLATTER = (183, 65, 14)
SHEEN = (222, 120, 62)
HUB = (235, 235, 230)
NEEDLE = (255, 255, 255)
TICK = (250, 220, 190)


def _distance_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    cx, cy = ax + t * dx, ay + t * dy
    return math.hypot(px - cx, py - cy)


def _sample(x, y):
    """Colour (r, g, b, a) at a point of the unit square, y downwards."""
    cx = cy = 0.5
    r = math.hypot(x - cx, y - cy)
    if r > 0.48:
        return (0, 0, 0, 0)
    # The needle points up and to the right: a fast disk.
    angle = math.radians(50)
    tip_x = cx + 0.36 * math.sin(angle)
    tip_y = cy - 0.36 * math.cos(angle)
    if _distance_to_segment(x, y, cx, cy, tip_x, tip_y) < 0.045:
        return NEEDLE + (255,)
    if r < 0.09:
        return HUB + (255,)
    if r > 0.42:
        # Scale marks on the upper half of the rim.
        a = math.degrees(math.atan2(x - cx, cy - y))
        if -100 <= a <= 100 and abs((a + 100) % 50 - 25) > 19:
            return TICK + (255,)
        return RIM + (255,)
    # A soft highlight on the upper left of the platter.
    light = max(0.0, 1.0 - math.hypot(x - 0.35, y - 0.33) / 0.3)
    colour = tuple(int(p + (s - p) * light * 0.6)
                   for p, s in zip(PLATTER, SHEEN))
    return colour + (255,)


def _render(size):
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    y = (py + (sy + 0.5) / n) / size
                    r, g, b, a = _sample(x, y)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / (n * n)
            if acc[3]:
                row += bytes(int(round(c / acc[3])) for c in acc[:3])
            else:
                row += b"\0\0\0"
            row.append(int(round(alpha)))
        rows.append(bytes(row))
    return rows


def _png(size, rows):
    def chunk(kind, data):
        body = kind + data
        return (struct.pack(">I", len(data)) + body +
                struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF))

    raw = b"".join(b"\0" + row for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for size in (16, 32):
        path = os.path.join(here, "ferrotick-%d.png" % size)
        with open(path, "wb") as out:
            out.write(_png(size, _render(size)))


if __name__ == "__main__":
    main()
