"""Pillow doing the tile benchmark's two jobs, as a user's script would.

    python3 pillow_tiles.py split SHEET FOLDER [TILE=32]  # TILE by TILE tiles N.png
    python3 pillow_tiles.py compile FOLDER SHEET COUNT ACROSS
"""
import os
import sys

from PIL import Image

TILE = 32


def split(sheet, folder, tile=TILE):
    image = Image.open(sheet)
    image.load()
    os.makedirs(folder, exist_ok=True)
    number = 0
    for y in range(0, image.height - tile + 1, tile):
        for x in range(0, image.width - tile + 1, tile):
            image.crop((x, y, x + tile, y + tile)).save(f"{folder}/{number}.png")
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
        split(sys.argv[2], sys.argv[3], int(sys.argv[4]) if len(sys.argv) > 4 else TILE)
    else:
        compile_sheet(sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]))
