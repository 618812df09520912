#!/usr/bin/env python3
"""Writes the map benchmark's map: SIDE x SIDE pixels of 16x16 cells in three tile layers
(base64 + zlib, as Tiled saves by default) over two sheet tilesets, every gid flipped some
way, the middle layer at opacity 0.5.

    python3 bench/mapgen.py FOLDER [side=4096]
"""
import base64
import random
import struct
import sys
import zlib


def png(path, width, height, seed):
    rng = random.Random(seed)
    rows = b"".join(b"\0" + bytes(rng.getrandbits(8) if i % 4 != 3 else 255 for i in range(width * 4)) for _ in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
                  + chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b""))


def main():
    folder = sys.argv[1]
    side = int(sys.argv[2]) if len(sys.argv) > 2 else 4096
    cells = side // 16
    png(f"{folder}/a.png", 256, 256, 1)  # 256 tiles
    png(f"{folder}/b.png", 128, 128, 2)  # 64 tiles
    for name, width in (("a", 256), ("b", 128)):
        with open(f"{folder}/{name}.tsx", "w") as out:
            count = (width // 16) ** 2
            out.write(f'<?xml version="1.0" encoding="UTF-8"?>\n<tileset version="1.8" name="{name}" tilewidth="16" '
                      f'tileheight="16" tilecount="{count}" columns="{width // 16}">\n <image source="{name}.png" '
                      f'width="{width}" height="{width}"/>\n</tileset>\n')
    rng = random.Random(3)
    flips = (0, 0x80000000, 0x40000000, 0x20000000, 0xC0000000, 0xA0000000, 0x60000000, 0xE0000000)
    layers = []
    for index, (opacity, empty) in enumerate(((1.0, 0.0), (0.5, 0.3), (1.0, 0.7))):
        gids = bytearray()
        for _ in range(cells * cells):
            gid = 0 if rng.random() < empty else (rng.randrange(1, 321) | rng.choice(flips))
            gids += struct.pack("<I", gid)
        data = base64.b64encode(zlib.compress(bytes(gids))).decode()
        layers.append(f' <layer id="{index + 1}" name="layer{index}" width="{cells}" height="{cells}"'
                      + (f' opacity="{opacity}"' if opacity != 1.0 else "")
                      + f'>\n  <data encoding="base64" compression="zlib">\n   {data}\n  </data>\n </layer>\n')
    with open(f"{folder}/map.tmx", "w") as out:
        out.write(f'<?xml version="1.0" encoding="UTF-8"?>\n<map version="1.8" orientation="orthogonal" '
                  f'renderorder="right-down" width="{cells}" height="{cells}" tilewidth="16" tileheight="16" '
                  f'infinite="0" nextlayerid="4" nextobjectid="1">\n <tileset firstgid="1" source="a.tsx"/>\n'
                  f' <tileset firstgid="257" source="b.tsx"/>\n' + "".join(layers) + "</map>\n")


main()
