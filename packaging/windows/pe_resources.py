"""Reads one resource back out of a Windows executable (PE32+), by type and
id, through the section table and the resource directory tree."""

import struct

_RESOURCE_DIRECTORY = 2   # index of the resource table among the data directories


class FormatError(ValueError):
    pass


def _sections(image):
    if image[:2] != b"MZ":
        raise FormatError("no MZ header")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise FormatError("no PE signature")
    count, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    rva, size = struct.unpack_from("<II", image, directories + 8 * _RESOURCE_DIRECTORY)
    table = optional + optional_size
    sections = [struct.unpack_from("<8xIIII", image, table + 40 * i) for i in range(count)]
    return rva, size, sections   # (virtual size, virtual address, raw size, raw offset)


def _offset(rva, sections):
    for virtual_size, address, raw_size, raw_offset in sections:
        if address <= rva < address + max(virtual_size, raw_size):
            return raw_offset + rva - address
    raise FormatError(f"RVA {rva:#x} lies in no section")


def _entries(image, base, directory):
    named, numbered = struct.unpack_from("<12xHH", image, base + directory)
    for i in range(named + numbered):
        name, target = struct.unpack_from("<II", image, base + directory + 16 + 8 * i)
        yield name, target


def _child(image, base, directory, wanted):
    for name, target in _entries(image, base, directory):
        if not name & 0x80000000 and name == wanted:
            return target
    return None


def resource(path, resource_type, resource_id):
    """The bytes of each language's copy of the resource, or [] when the
    executable holds none."""
    with open(path, "rb") as f:
        image = f.read()
    rva, size, sections = _sections(image)
    if not size:
        return []
    base = _offset(rva, sections)
    by_type = _child(image, base, 0, resource_type)
    if by_type is None:
        return []
    by_id = _child(image, base, by_type & 0x7FFFFFFF, resource_id)
    if by_id is None:
        return []
    copies = []
    for _, entry in _entries(image, base, by_id & 0x7FFFFFFF):
        data_rva, data_size = struct.unpack_from("<II", image, base + (entry & 0x7FFFFFFF))
        start = _offset(data_rva, sections)
        copies.append(image[start:start + data_size])
    return copies
