#!/usr/bin/env python3
"""Writes a small 32-bit icon of our own: a rounded square in one colour with a
lighter bar, at 16x16 and 32x32.  make_icon.py OUT.ico RRGGBB"""
import struct
import sys


def image(size, rgb):
    r, g, b = rgb
    rows = []
    for y in range(size):
        row = b""
        for x in range(size):
            edge = min(x, y, size - 1 - x, size - 1 - y)
            corner = (min(x, size - 1 - x) + min(y, size - 1 - y)) < size // 8
            if corner:
                row += bytes((0, 0, 0, 0))
            elif size // 3 <= y < size // 3 + size // 6 and edge >= size // 8:
                row += bytes((min(b + 110, 255), min(g + 110, 255), min(r + 110, 255), 255))
            else:
                row += bytes((b, g, r, 255))
        rows.append(row)
    pixels = b"".join(reversed(rows))  # bottom-up
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + mask


def main():
    out, colour = sys.argv[1], sys.argv[2]
    rgb = tuple(int(colour[i:i + 2], 16) for i in (0, 2, 4))
    images = [image(s, rgb) for s in (16, 32)]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip((16, 32), images):
        data += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    with open(out, "wb") as f:
        f.write(data + b"".join(images))


if __name__ == "__main__":
    main()
