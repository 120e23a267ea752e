#!/usr/bin/env python3
"""Writes the program's seal (the icon Brantwick carries) as a PNG for the
desktop menu: seal_png.py <size> <output.png>"""

import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "brantwick_icon"))
import draw_icon  # noqa: E402


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(size):
    rows = b"".join(b"\0" + row for row in draw_icon.render_rgba(size))   # filter 0 on every row
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)           # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")


if __name__ == "__main__":
    with open(sys.argv[2], "wb") as f:
        f.write(png(int(sys.argv[1])))
