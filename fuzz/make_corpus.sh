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
