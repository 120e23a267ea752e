#!/usr/bin/env python3
"""Draws Brantwick's icon, a red wax seal with a keyhole, and writes it as a
Windows .ico file with 16, 32 and 48 pixel images (32-bit, with alpha).

    draw_icon.py OUTPUT.ico
"""
import struct
import sys

SIZES = (16, 32, 48)
SUPERSAMPLING = 4
WAX = (0x8B, 0x1E, 0x2D)
RIM = (0x5E, 0x10, 0x1C)
KEYHOLE = (0xFB, 0xF3, 0xE4)


def shade(u, v):
    """Colour and coverage at (u, v) in the unit square, or None outside."""
    dx, dy = u - 0.5, v - 0.5
    r2 = dx * dx + dy * dy
    if r2 > 0.48 * 0.48:
        return None
    # Keyhole: a round head above a widening slot.
    hx, hy = u - 0.5, v - 0.40
    if hx * hx + hy * hy < 0.12 * 0.12:
        return KEYHOLE
    if 0.40 <= v <= 0.74 and abs(u - 0.5) < 0.04 + (v - 0.40) * 0.18:
        return KEYHOLE
    return RIM if r2 > 0.40 * 0.40 else WAX


def render(size):
    """BGRA rows, top row first."""
    rows = []
    n = SUPERSAMPLING
    for y in range(size):
        row = bytearray()
        for x in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(n):
                for sx in range(n):
                    c = shade((x + (sx + 0.5) / n) / size, (y + (sy + 0.5) / n) / size)
                    if c is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            if hits == 0:
                row += bytes(4)
            else:
                r, g, b = (acc[i] // hits for i in range(3))
                row += bytes((b, g, r, 255 * hits // (n * n)))
        rows.append(bytes(row))
    return rows


def dib(size):
    """One icon image: header, colour rows bottom-up, empty AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(reversed(render(size)))
    mask_row = ((size + 31) // 32) * 4
    return header + pixels + bytes(mask_row * size)


def main():
    images = [dib(s) for s in SIZES]
    offset = 6 + 16 * len(images)
    out = struct.pack("<HHH", 0, 1, len(images))
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
