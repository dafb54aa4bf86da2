#!/usr/bin/env python3
"""pe-load-config.py EXE MAP: makes _load_config_used the load configuration of a
PE32+ image that GNU ld linked without one. binutils 2.40 for mingw neither takes
--dependent-load-flag nor fills the image's load configuration entry from that
symbol; the link map gives the structure's address. Fails when the symbol or a
sound structure is missing, so that a build never ships without the flag silently."""
import re, struct, sys

LOAD_CONFIG = 10


def main():
    exe, map_path = sys.argv[1], sys.argv[2]
    match = None
    for line in open(map_path, encoding="latin-1"):
        m = re.match(r"^\s+0x([0-9a-fA-F]+)\s+_load_config_used\s*$", line)
        if m:
            match = int(m.group(1), 16)
    if match is None:
        sys.exit("pe-load-config: no _load_config_used in %s" % map_path)
    image = bytearray(open(exe, "rb").read())
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        sys.exit("pe-load-config: %s is no PE image" % exe)
    sections = struct.unpack_from("<H", image, pe + 6)[0]
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    opt = pe + 24
    if struct.unpack_from("<H", image, opt)[0] != 0x20B:
        sys.exit("pe-load-config: %s is not PE32+" % exe)
    image_base = struct.unpack_from("<Q", image, opt + 24)[0]
    rva = match - image_base
    # The structure's own first field is its size; find it in the file to check it.
    offset = None
    table = opt + optional_size
    for i in range(sections):
        s = table + 40 * i
        vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<IIII", image, s + 8)
        if vaddr <= rva < vaddr + max(vsize, raw_size):
            offset = rva - vaddr + raw_ptr
    if offset is None:
        sys.exit("pe-load-config: _load_config_used lies in no section")
    size = struct.unpack_from("<I", image, offset)[0]
    if size < 80 or size > 0x1000:
        sys.exit("pe-load-config: _load_config_used has no sound size (%d)" % size)
    entry = opt + 112 + 8 * LOAD_CONFIG
    struct.pack_into("<II", image, entry, rva, size)
    if struct.unpack_from("<I", image, opt + 64)[0] != 0:
        struct.pack_into("<I", image, opt + 64, checksum(image, opt + 64))
    open(exe, "wb").write(image)


def checksum(image, at):
    """The PE checksum: 16-bit one's-complement sum of the words, the checksum field
    counted as zero, plus the file's length."""
    data = image[:at] + b"\0\0\0\0" + image[at + 4:]
    if len(data) % 2:
        data += b"\0"
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return ((total & 0xFFFF) + (total >> 16) + len(image)) & 0xFFFFFFFF


if __name__ == "__main__":
    main()
