#!/usr/bin/env python3
"""Prints the file version of a Windows executable (its version resource's
fixed part, e.g. 1.0.9.9): pe_version.py <file.exe>"""

import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pe_resources  # noqa: E402

RT_VERSION = 16
VS_VERSION_INFO = 1
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD


def file_version(path):
    copies = pe_resources.resource(path, RT_VERSION, VS_VERSION_INFO)
    if not copies:
        raise pe_resources.FormatError(f"{path}: no version resource")
    data = copies[0]
    start = data.find(struct.pack("<I", FIXED_FILE_INFO_SIGNATURE))
    if start < 0:
        raise pe_resources.FormatError(f"{path}: no fixed file information")
    most, least = struct.unpack_from("<II", data, start + 8)
    return f"{most >> 16}.{most & 0xFFFF}.{least >> 16}.{least & 0xFFFF}"


if __name__ == "__main__":
    print(file_version(sys.argv[1]))
