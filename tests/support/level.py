#!/usr/bin/env python3
# level.py OUT COLUMNS ROWS DISTINCT SEED [SIDE]: a level picture of SIDE x SIDE (16) opaque
# random tiles, DISTINCT of them, each used at least once, then at random. OUT ending in
# .bmp is a 24-bit bitmap, else a PNG. Only the standard library, so every machine has it.
import random
import struct
import sys
import zlib

out, columns, rows, distinct, seed = sys.argv[1], *map(int, sys.argv[2:6])
side = int(sys.argv[6]) if len(sys.argv) > 6 else 16
random.seed(seed)
tiles = [bytes(random.randrange(256) for _ in range(side * side * 3)) for _ in range(distinct)]
cells = list(range(distinct)) + [random.randrange(distinct) for _ in range(columns * rows - distinct)]
width, height = columns * side, rows * side


def row(y):
    line = bytearray()
    for column in range(columns):
        tile = tiles[cells[(y // side) * columns + column]]
        line += tile[(y % side) * side * 3:(y % side + 1) * side * 3]
    return line


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


with open(out, "wb") as f:
    if out.endswith(".bmp"):
        stride = (width * 3 + 3) & ~3
        f.write(b"BM" + struct.pack("<IHHI", 54 + stride * height, 0, 0, 54))
        f.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, stride * height, 2835, 2835, 0, 0))
        for y in reversed(range(height)):
            line = row(y)
            # Bitmaps keep blue, green, red.
            line[0::3], line[2::3] = line[2::3], line[0::3]
            f.write(line + b"\0" * (stride - width * 3))
    else:
        raw = b"".join(b"\0" + row(y) for y in range(height))
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))
