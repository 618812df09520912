#!/usr/bin/env bash
# Writes the starting inputs in fuzz/corpus/: the smallest BMP, GIF, PNG and JPEG headers that the
# image header reader recognises. Run again only to change them.
set -euo pipefail
out="$(dirname "$0")/corpus/bmpsize_fuzz"
mkdir -p "$out"

# BMP, 4 by 2 pixels, 24 bits: file header, 40-byte info header, two rows of 12 bytes.
{
  printf 'BM\x4e\x00\x00\x00\x00\x00\x00\x00\x36\x00\x00\x00'
  printf '\x28\x00\x00\x00\x04\x00\x00\x00\x02\x00\x00\x00\x01\x00\x18\x00'
  printf '\x00\x00\x00\x00\x18\x00\x00\x00\x13\x0b\x00\x00\x13\x0b\x00\x00'
  printf '\x00\x00\x00\x00\x00\x00\x00\x00'
  printf '\x10\x20\x30%.0s' 1 2 3 4 5 6 7 8
} >"$out/start.bmp"

# GIF89a, 2 by 2, two-entry global colour table, one image, trailer.
{
  printf 'GIF89a\x02\x00\x02\x00\x80\x00\x00'
  printf '\x00\x00\x00\xff\xff\xff'
  printf '\x2c\x00\x00\x00\x00\x02\x00\x02\x00\x00\x02\x02\x44\x01\x00\x3b'
} >"$out/start.gif"

# PNG signature, IHDR of 1 by 1, 8-bit RGB, IEND (with their CRCs).
{
  printf '\x89PNG\x0d\x0a\x1a\x0a'
  printf '\x00\x00\x00\x0dIHDR\x00\x00\x00\x01\x00\x00\x00\x01\x08\x02\x00\x00\x00\x90\x77\x53\xde'
  printf '\x00\x00\x00\x00IEND\xae\x42\x60\x82'
} >"$out/start.png"

# JPEG: start of image, JFIF APP0, a frame header of 16 by 16 with 3 components, a Huffman
# table, start of scan, end of image.
{
  printf '\xff\xd8'
  printf '\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00'
  printf '\xff\xc0\x00\x11\x08\x00\x10\x00\x10\x03\x01\x11\x00\x02\x11\x00\x03\x11\x00'
  printf '\xff\xc4\x00\x14\x00\x01'; printf '\x00%.0s' {1..15}; printf '\x00'
  printf '\xff\xda\x00\x0c\x03\x01\x00\x02\x00\x03\x00\x00\x3f\x00'
  printf '\x00\xff\xd9'
} >"$out/start.jpg"

# JPEG whose first segment runs almost to the end of the 64 KiB that the reader looks at: the
# frame marker sits at index 65524, the last place where the walk still reads it.
{
  printf '\xff\xd8\xff\xe1\xff\xf0'
  head -c 65518 /dev/zero
  printf '\xff\xc0\x00\x11\x08\x01\xe0\x02\x80\x03\x01\x11\x00\x02\x11\x00\x03\x11\x00'
} >"$out/start_far.jpg"

# The PNG reader's: every colour type and depth, a palette with transparency, an interlaced
# picture, and one cut short; small pictures, so the fuzzer mutates their chunks quickly.
out="$(dirname "$0")/corpus/png_fuzz"
mkdir -p "$out"
python3 - "$out" <<'PY'
import struct, sys, zlib

out = sys.argv[1]

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

def png(width, height, depth, colour, rows, extra=b"", interlace=0):
    raw = b"".join(b"\0" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, interlace))
            + extra + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))

def rows(width, height, bits):
    # Row bytes of width pixels of bits each, a simple pattern.
    count = (width * bits + 7) // 8
    return [bytes((x * 37 + y * 11) & 255 for x in range(count)) for y in range(height)]

kinds = {
    "gray1": (1, 0, 1), "gray8": (8, 0, 8), "gray16": (16, 0, 16),
    "rgb8": (8, 2, 24), "rgb16": (16, 2, 48), "grayalpha8": (8, 4, 16), "rgba8": (8, 6, 32), "rgba16": (16, 6, 64),
}
for name, (depth, colour, bits) in kinds.items():
    open(f"{out}/{name}.png", "wb").write(png(5, 3, depth, colour, rows(5, 3, bits)))
palette = chunk(b"PLTE", bytes(range(12))) + chunk(b"tRNS", b"\x00\x80")
open(f"{out}/palette2.png", "wb").write(png(6, 2, 2, 3, [bytes([0b00011011, 0b00011011]) for _ in range(2)], palette))
open(f"{out}/palette8.png", "wb").write(png(3, 2, 8, 3, [bytes([0, 1, 3]), bytes([2, 1, 0])], palette))
# Adam7 of 3x3 RGBA: each pass that holds pixels, its rows one after another.
def adam7(width, height, bpp):
    starts = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
    raw = b""
    for x0, y0, dx, dy in starts:
        pw = max(0, (width - x0 + dx - 1) // dx)
        ph = max(0, (height - y0 + dy - 1) // dy)
        if pw and ph:
            raw += b"".join(b"\0" + bytes((x * 29 + y * 7 + x0) & 255 for x in range(pw * bpp)) for y in range(ph))
    return raw
interlaced = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 3, 3, 8, 6, 0, 0, 1))
              + chunk(b"IDAT", zlib.compress(adam7(3, 3, 4))) + chunk(b"IEND", b""))
open(f"{out}/interlaced.png", "wb").write(interlaced)
whole = png(8, 8, 8, 2, rows(8, 8, 24))
open(f"{out}/cut.png", "wb").write(whole[: len(whole) - 20])
PY
