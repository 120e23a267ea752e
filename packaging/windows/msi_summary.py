#!/usr/bin/env python3
"""Sets what wixl leaves to chance in an MSI's summary information: the
package code (a random revision number) and the creation and last-saved
times (the clock).  msi_summary.py <package.msi> <{package code}> <unix time>
The stream keeps its size, so the compound file is changed in place."""

import struct
import sys

import olefile

STREAM = "\x05SummaryInformation"
PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64
FILETIME_EPOCH_OFFSET = 11644473600   # seconds from 1601-01-01 to 1970-01-01


def rewrite(data, package_code, unix_time):
    data = bytearray(data)
    section = struct.unpack_from("<I", data, 44)[0]   # after the header and the one FMTID
    count = struct.unpack_from("<I", data, section + 4)[0]
    filetime = (unix_time + FILETIME_EPOCH_OFFSET) * 10_000_000
    for i in range(count):
        pid, offset = struct.unpack_from("<II", data, section + 8 + 8 * i)
        at = section + offset
        kind = struct.unpack_from("<I", data, at)[0]
        if pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM) and kind == VT_FILETIME:
            struct.pack_into("<Q", data, at + 4, filetime)
        elif pid == PID_REVNUMBER and kind == VT_LPSTR:
            length = struct.unpack_from("<I", data, at + 4)[0]
            text = package_code.encode("ascii") + b"\0"
            if len(text) > length:
                raise ValueError("the package code does not fit the revision number")
            data[at + 8:at + 8 + length] = text.ljust(length, b"\0")
    return bytes(data)


def main(path, package_code, unix_time):
    with olefile.OleFileIO(path, write_mode=True) as msi:
        msi.write_stream(STREAM, rewrite(msi.openstream(STREAM).read(), package_code, int(unix_time)))


if __name__ == "__main__":
    main(*sys.argv[1:])
