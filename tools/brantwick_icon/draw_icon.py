#!/usr/bin/env python3
"""Draws Brantwick's icon, a wax seal with a keyhole pressed into it, and
writes it as a Windows .ico file with 16, 32 and 48 pixel images (32-bit,
with alpha), or as a C++ header of RGBA pixels for the GTK window icon.

    draw_icon.py OUTPUT.ico
    draw_icon.py --rgba-header OUTPUT.h

A plain red disc with a light mark in the middle reads as the system's error
badge at 16 pixels.  So the seal keeps what sets a seal apart at every size:
a scalloped edge where the wax ran out, a darker, brownish wax, and a
keyhole pressed in (darker than the wax, not cut out in white).
"""
import math
import struct
import sys

SIZES = (16, 32, 48)
SUPERSAMPLING = 4
WAX = (0x9A, 0x2A, 0x22)
RIM = (0x6B, 0x17, 0x14)
RIDGE = (0xC4, 0x5A, 0x3E)   # the raised ring the stamp leaves
KEYHOLE = (0x3A, 0x0B, 0x0A)
SCALLOPS = 9


def edge_radius(u, v, size):
    """The wax's outline: a circle with rounded bumps, deeper on small icons
    so the scallops survive at 16 pixels."""
    angle = math.atan2(v - 0.5, u - 0.5)
    depth = 0.045 if size <= 16 else 0.03
    return 0.455 + depth * math.cos(SCALLOPS * angle)


def shade(u, v, size):
    """Colour at (u, v) in the unit square, or None outside the wax."""
    dx, dy = u - 0.5, v - 0.5
    r = math.sqrt(dx * dx + dy * dy)
    edge = edge_radius(u, v, size)
    if r > edge:
        return None
    # Keyhole: a round head above a widening slot, wider on small icons.
    scale = 1.25 if size <= 16 else 1.0
    hx, hy = u - 0.5, v - 0.43
    if hx * hx + hy * hy < (0.095 * scale) ** 2:
        return KEYHOLE
    if 0.43 <= v <= 0.68 and abs(u - 0.5) < (0.035 + (v - 0.43) * 0.16) * scale:
        return KEYHOLE
    if r > edge - (0.07 if size <= 16 else 0.05):
        return RIM
    ridge = 0.30 if size <= 16 else 0.31
    if ridge - 0.045 < r < ridge + 0.02:
        return RIDGE
    return WAX


def render_rgba(size):
    """RGBA rows, top row first."""
    rows = []
    n = SUPERSAMPLING
    for y in range(size):
        row = bytearray()
        for x in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(n):
                for sx in range(n):
                    c = shade((x + (sx + 0.5) / n) / size, (y + (sy + 0.5) / n) / size, size)
                    if c is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            if hits == 0:
                row += bytes(4)
            else:
                r, g, b = (acc[i] // hits for i in range(3))
                row += bytes((r, g, b, 255 * hits // (n * n)))
        rows.append(bytes(row))
    return rows


def dib(size):
    """One icon image: header, BGRA rows bottom-up, empty AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    bgra = []
    for row in render_rgba(size):
        out = bytearray(row)
        out[0::4], out[2::4] = row[2::4], row[0::4]
        bgra.append(bytes(out))
    pixels = b"".join(reversed(bgra))
    mask_row = ((size + 31) // 32) * 4
    return header + pixels + bytes(mask_row * size)


def write_ico(path):
    images = [dib(s) for s in SIZES]
    offset = 6 + 16 * len(images)
    out = struct.pack("<HHH", 0, 1, len(images))
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def write_rgba_header(path):
    lines = ["// Drawn by tools/brantwick_icon/draw_icon.py: the program icon as RGBA rows.",
             "#pragma once", "", "namespace inkseal::platform::program_icon {", ""]
    for size in SIZES:
        data = b"".join(render_rgba(size))
        lines.append(f"constexpr unsigned char kPixels{size}[] = {{")
        for i in range(0, len(data), 24):
            lines.append("    " + ", ".join(str(b) for b in data[i:i + 24]) + ",")
        lines.append("};")
    lines.append("")
    lines.append("struct Image {")
    lines.append("  int size;")
    lines.append("  const unsigned char* rgba;")
    lines.append("};")
    lines.append("constexpr Image kImages[] = {" + ", ".join(f"{{{s}, kPixels{s}}}" for s in SIZES) + "};")
    lines.append("")
    lines.append("}  // namespace inkseal::platform::program_icon")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--rgba-header":
        write_rgba_header(sys.argv[2])
    else:
        write_ico(sys.argv[1])


if __name__ == "__main__":
    main()
