#!/usr/bin/env python3
"""msi-stamp.py MSI EPOCH PACKAGECODE: sets the package's summary information that wixl
fills from the clock and a random source (the times it was created and last saved, and
the package code) to fixed values, in place, so that one commit gives one MSI.

wixl 0.101 takes neither from SOURCE_DATE_EPOCH nor from the Package element. The
values are rewritten in the compound file where they lie; the stream keeps its size."""
import struct
import sys

END = 0xFFFFFFFA  # chain ends and free or special sectors are at or above this
SUMMARY = "\x05SummaryInformation"
VT_LPSTR, VT_FILETIME = 0x1E, 0x40
PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def stream_offsets(data):
    """File offset of every byte of the summary stream, in order."""
    if data[:8] != bytes.fromhex("d0cf11e0a1b11ae1"):
        sys.exit("not a compound file")
    sector = 1 << struct.unpack_from("<H", data, 0x1E)[0]
    mini = 1 << struct.unpack_from("<H", data, 0x20)[0]
    per = sector // 4
    at = lambda s: (s + 1) * sector
    difat = list(struct.unpack_from("<109I", data, 0x4C))
    s, left = u32(data, 0x44), u32(data, 0x48)
    while left and s < END:
        more = struct.unpack_from("<%dI" % per, data, at(s))
        difat += more[:-1]
        s, left = more[-1], left - 1
    fat = []
    for s in difat[: u32(data, 0x2C)]:
        fat += struct.unpack_from("<%dI" % per, data, at(s))

    def chain(start, table):
        out = []
        while start < END:
            out.append(start)
            start = table[start]
        return out

    directory = b"".join(data[at(s) : at(s) + sector] for s in chain(u32(data, 0x30), fat))
    entries = [directory[i : i + 128] for i in range(0, len(directory), 128)]
    for entry in entries:
        length = struct.unpack_from("<H", entry, 0x40)[0]
        if length >= 2 and entry[: length - 2].decode("utf-16-le") == SUMMARY:
            start, size = u32(entry, 0x74), u32(entry, 0x78)
            break
    else:
        sys.exit("no summary information stream")
    if size >= u32(data, 0x38):
        return [at(s) + i for s in chain(start, fat) for i in range(sector)][:size]
    minifat = []
    for s in chain(u32(data, 0x3C), fat):
        minifat += struct.unpack_from("<%dI" % per, data, at(s))
    container = chain(u32(entries[0], 0x74), fat)
    offsets = []
    for m in chain(start, minifat):
        for i in range(mini):
            o = m * mini + i
            offsets.append(at(container[o // sector]) + o % sector)
    return offsets[:size]


def main():
    path, epoch, code = sys.argv[1], int(sys.argv[2]), sys.argv[3].upper()
    if len(code) != 36:
        sys.exit("package code must be a GUID without braces")
    data = bytearray(open(path, "rb").read())
    where = stream_offsets(data)
    stream = bytearray(data[o] for o in where)
    section = u32(stream, 28 + 16)
    values = {}
    for i in range(u32(stream, section + 4)):
        pid, offset = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        values[pid] = section + offset
    filetime = struct.pack("<Q", (epoch + 11644473600) * 10**7)
    for pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM):
        if pid not in values or u32(stream, values[pid]) != VT_FILETIME:
            sys.exit("summary property %d is not a time" % pid)
        stream[values[pid] + 4 : values[pid] + 12] = filetime
    at = values.get(PID_REVNUMBER)
    text = ("{%s}" % code).encode("ascii") + b"\0"
    if at is None or u32(stream, at) != VT_LPSTR or u32(stream, at + 4) != len(text):
        sys.exit("the package code is not a GUID string of wixl's")
    stream[at + 8 : at + 8 + len(text)] = text
    for o, byte in zip(where, stream):
        data[o] = byte
    open(path, "wb").write(data)


if __name__ == "__main__":
    main()
