#!/usr/bin/env python3
"""Writes a sheet of 16 by 16 tiles as another tool writes one, for figures on a sheet the
tool was not tuned on: Pillow's PNG writer (its own filter choice), gradients in every tile,
one tile in ten noise (or the share given), one in five translucent.

    /usr/bin/python3 bench/pillowsheet.py OUT.png [side=4096] [seed=99] [noisy=0.1]
"""
import random
import sys

from PIL import Image


def main():
    out = sys.argv[1]
    side = int(sys.argv[2]) if len(sys.argv) > 2 else 4096
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 99)
    noisy_share = float(sys.argv[4]) if len(sys.argv) > 4 else 0.1
    data = bytearray(side * side * 4)
    for ty in range(side // 16):
        for tx in range(side // 16):
            noisy = rng.random() < noisy_share
            alpha = 255 if rng.random() < 0.8 else rng.randrange(40, 220)
            r0, g0, b0 = (rng.randrange(256) for _ in range(3))
            for y in range(16):
                at = ((ty * 16 + y) * side + tx * 16) * 4
                for x in range(16):
                    if noisy:
                        pixel = (rng.randrange(256), rng.randrange(256), rng.randrange(256), alpha)
                    else:
                        pixel = ((r0 + x * 5) & 255, (g0 + y * 7) & 255, (b0 + x * y) & 255, alpha)
                    data[at + 4 * x:at + 4 * x + 4] = bytes(pixel)
    Image.frombytes("RGBA", (side, side), bytes(data)).save(out)


if __name__ == "__main__":
    main()
