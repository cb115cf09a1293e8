#!/usr/bin/env python3
"""Draws the launcher's icon and writes res/quellorn.ico.

The icon: a rounded square with a night-blue to teal gradient, a golden ring with a tail that
reads as a Q, and a pale spark at its centre. Every size is drawn from the same shapes with 4x4
supersampling, as 32-bit BGRA bitmaps (with the 1-bit AND mask that icon files carry).

    python3 res/make_icon.py            # rewrites res/quellorn.ico
"""

import math
import pathlib
import struct

SIZES = (16, 24, 32, 48, 64, 128, 256)
SAMPLES = 4


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def rounded_square(x, y, radius):
    """Signed distance to a square of half-width 1 with rounded corners, in unit coordinates."""
    qx, qy = abs(x) - (1 - radius), abs(y) - (1 - radius)
    outside = math.hypot(max(qx, 0), max(qy, 0))
    return outside + min(max(qx, qy), 0) - radius


def segment(x, y, ax, ay, bx, by):
    px, py, dx, dy = x - ax, y - ay, bx - ax, by - ay
    t = max(0.0, min(1.0, (px * dx + py * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - dx * t, py - dy * t)


def shade(x, y):
    """Colour (r, g, b, a) at a point of the unit square [-1, 1] x [-1, 1], y pointing down."""
    if rounded_square(x, y, 0.36) > 0:
        return (0, 0, 0, 0)
    colour = mix((20, 24, 58), (14, 110, 120), (y + 1) / 2)
    r = math.hypot(x, y + 0.04)
    ring = abs(r - 0.5) - 0.13
    tail = segment(x, y, 0.3, 0.38, 0.6, 0.66) - 0.11
    if min(ring, tail) < 0:
        glow = max(0.0, min(1.0, (0.5 - y) / 1.2))
        colour = mix((214, 150, 40), (255, 214, 110), glow)
    spark = abs(x) ** 0.6 + abs(y + 0.04) ** 0.6
    if spark < 0.42:
        colour = (236, 246, 255)
    return (*colour, 255)


def render(size):
    pixels = []
    step = 2 / (size * SAMPLES)
    for row in range(size):
        for column in range(size):
            total = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = -1 + (column * SAMPLES + sx + 0.5) * step
                    y = -1 + (row * SAMPLES + sy + 0.5) * step
                    r, g, b, a = shade(x, y)
                    total[0] += r * a
                    total[1] += g * a
                    total[2] += b * a
                    total[3] += a
            alpha = total[3] / SAMPLES ** 2
            if total[3] == 0:
                pixels.append((0, 0, 0, 0))
            else:
                pixels.append(tuple(round(c / total[3]) for c in total[:3]) + (round(alpha),))
    return pixels


def bitmap(size, pixels):
    """A BITMAPINFOHEADER, bottom-up BGRA rows and the AND mask: one icon image of an .ico file."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for row in reversed(range(size)):
        for r, g, b, a in pixels[row * size:(row + 1) * size]:
            colour += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(range(size)):
        bits = bytearray(mask_stride)
        for column in range(size):
            if pixels[row * size + column][3] == 0:
                bits[column // 8] |= 0x80 >> (column % 8)
        mask += bits
    return header + bytes(colour) + bytes(mask)


def main():
    images = [bitmap(size, render(size)) for size in SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        side = size if size < 256 else 0  # 0 stands for 256 in an icon directory
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    target = pathlib.Path(__file__).resolve().parent / "quellorn.ico"
    target.write_bytes(directory + b"".join(images))


if __name__ == "__main__":
    main()
