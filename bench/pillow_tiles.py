"""Pillow doing the tile benchmark's two jobs, as a user's script would.

    python3 pillow_tiles.py split SHEET FOLDER            # 32 by 32 tiles N.png
    python3 pillow_tiles.py compile FOLDER SHEET COUNT ACROSS
"""
import os
import sys

from PIL import Image

TILE = 32


def split(sheet, folder):
    image = Image.open(sheet)
    image.load()
    os.makedirs(folder, exist_ok=True)
    number = 0
    for y in range(0, image.height - TILE + 1, TILE):
        for x in range(0, image.width - TILE + 1, TILE):
            image.crop((x, y, x + TILE, y + TILE)).save(f"{folder}/{number}.png")
            number += 1


def compile_sheet(folder, sheet, count, across):
    rows = (count + across - 1) // across
    image = Image.new("RGBA", (across * TILE, rows * TILE), (0, 0, 0, 0))
    for number in range(count):
        with Image.open(f"{folder}/{number}.png") as tile:
            image.paste(tile, ((number % across) * TILE, (number // across) * TILE))
    image.save(sheet)


if __name__ == "__main__":
    if sys.argv[1] == "split":
        split(sys.argv[2], sys.argv[3])
    else:
        compile_sheet(sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]))
