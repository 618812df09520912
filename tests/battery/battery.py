#!/usr/bin/env python3
"""Helper of compare.sh.

  battery.py inputs DIR      writes the battery's input pictures and maps into DIR
  battery.py compare WORK    compares WORK/old with WORK/new and prints the summary
"""
import difflib
import io
import os
import random
import re
import stat
import sys

from PIL import Image, ImageChops

TILE = 16


# ---------------------------------------------------------------- inputs

def noise(rng, width, height, alpha=False):
    """A picture of blocks of random colours (so tiles differ), some half transparent."""
    image = Image.new("RGBA" if alpha else "RGB", (width, height))
    pixels = image.load()
    for y in range(height):
        for x in range(width):
            colour = [rng.randrange(256) for _ in range(3)]
            if alpha:
                colour.append(rng.choice((0, 80, 255, 255, 255)))
            pixels[x, y] = tuple(colour)
    return image


def base_tiles(rng, count):
    tiles = []
    for _ in range(count):
        tile = Image.new("RGBA", (TILE, TILE))
        pixels = tile.load()
        for y in range(TILE):
            for x in range(TILE):
                # Asymmetric, so that every flip gives another tile.
                pixels[x, y] = (rng.randrange(256), (x * 13 + y * 3) % 256, rng.randrange(256),
                                rng.choice((255, 255, 255, 128)))
        tiles.append(tile)
    return tiles


ORIENTATIONS = [None, Image.Transpose.FLIP_LEFT_RIGHT, Image.Transpose.FLIP_TOP_BOTTOM,
                Image.Transpose.ROTATE_180, Image.Transpose.TRANSPOSE, Image.Transpose.ROTATE_90,
                Image.Transpose.ROTATE_270, Image.Transpose.TRANSVERSE]


def level(rng, tiles, columns, rows, extra=(0, 0), mode="RGBA", empty=(0, 0, 0, 0)):
    """A level painted from the tiles, mirrored and turned, with empty cells."""
    picture = Image.new("RGBA", (columns * TILE + extra[0], rows * TILE + extra[1]), empty)
    for row in range(rows):
        for column in range(columns):
            if rng.random() < 0.15:
                continue
            tile = rng.choice(tiles)
            turn = rng.choice(ORIENTATIONS)
            picture.paste(tile.transpose(turn) if turn is not None else tile, (column * TILE, row * TILE))
    return picture if mode == "RGBA" else picture.convert(mode)


def make_inputs(folder):
    rng = random.Random(20240611)
    os.makedirs(folder, exist_ok=True)
    path = lambda name: os.path.join(folder, name)

    # The window's way: 24-bit bitmaps whose right and bottom edges hold no whole tile.
    noise(rng, 333, 270).save(path("big.bmp"))
    noise(rng, 70, 40).save(path("small.bmp"))
    with open(path("big.bmp"), "rb") as whole, open(path("broken.bmp"), "wb") as broken:
        broken.write(whole.read()[:20000])  # a header that promises more rows than follow
    noise(rng, 70, 40).save(path("small.png"))

    # Tile options: an RGBA sheet of 16x24 tiles, margin 2, spacing 1, partial edges.
    noise(rng, 2 + 8 * 16 + 7 + 5, 2 + 5 * 24 + 4 + 9, alpha=True).save(path("sheet.png"))
    # An indexed sheet with transparent entries, partial edges.
    indexed = Image.new("P", (88, 56))
    indexed.putpalette([v for i in range(20) for v in (i * 12, 255 - i * 12, (i * 57) % 256)])
    indexed.putdata([rng.randrange(20) for _ in range(88 * 56)])
    indexed.save(path("indexed.png"), transparency=bytes([0, 128] + [255] * 18))
    # A sheet for extrude: 4x3 tiles of 16, margin 1, spacing 2, and 5 more pixels.
    noise(rng, 1 + 4 * 16 + 3 * 2 + 1 + 5, 1 + 3 * 16 + 2 * 2 + 1, alpha=True).save(path("ex.png"))

    # Levels: the same few tiles placed mirrored and turned, with empty cells.
    tiles = base_tiles(rng, 8)
    level(rng, tiles[:5], 12, 9).save(path("level1.png"))
    level(rng, tiles[2:], 10, 8).save(path("level2.png"))
    level(rng, tiles, 9, 7, extra=(5, 3)).save(path("level3.png"))
    opaque = [Image.alpha_composite(Image.new("RGBA", t.size, (0, 0, 0, 255)), t) for t in tiles[:4]]
    level(rng, opaque, 8, 6, mode="RGB", empty=(16, 32, 48, 255)).save(path("levelb.bmp"))
    small = [t.resize((8, 8), Image.Resampling.NEAREST) for t in tiles[:3]]
    picture = Image.new("RGBA", (48, 32))
    for i in range(12):
        picture.paste(small[i % 3], ((i % 6) * 8, (i // 6) * 8))
    picture.save(path("level8.png"))

    with open(path("notes.txt"), "w") as notes:
        notes.write("not a picture\n")


# ---------------------------------------------------------------- comparing

SEPARATOR = "-" * 31


def masked(relative, data, root):
    """The text of a command's output or of Errors.Log as both runs must agree on it."""
    text = data.decode("utf-8", "replace").replace(root + os.sep, "<WORK>/")
    name = os.path.basename(relative)
    if name.endswith((".out", ".err")):
        text = re.sub(r'"seconds":-?[0-9.eE+-]+', '"seconds":_', text)
        text = re.sub(r"\b\d+\.\d+ s\b", "#.## s", text)
    if name == "Errors.Log":
        lines = text.splitlines(keepends=True)
        for i in range(1, len(lines)):
            if lines[i - 1].rstrip("\r\n") == SEPARATOR:
                ending = lines[i][len(lines[i].rstrip("\r\n")):]
                lines[i] = "<date time>" + ending
        text = "".join(lines)
    return text


def is_text(data):
    if b"\0" in data:
        return False
    try:
        data.decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


def text_diff(old, new):
    lines = list(difflib.unified_diff(old.splitlines(), new.splitlines(), "old", "new", lineterm="", n=1))
    shown = lines[:24] + ([f"... {len(lines) - 24} more diff lines"] if len(lines) > 24 else [])
    return ["    " + line for line in shown]


def picture_diff(old, new):
    try:
        a, b = Image.open(io.BytesIO(old)), Image.open(io.BytesIO(new))
        a.load(), b.load()
    except Exception:
        return []
    notes = [f"    picture {a.format} {a.mode} {a.size[0]}x{a.size[1]} -> {b.format} {b.mode} {b.size[0]}x{b.size[1]}"]
    if a.mode == "P" and b.mode == "P" and a.getpalette() != b.getpalette():
        notes.append("    palettes differ")
    if a.size != b.size:
        return notes
    if a.mode == "P" and b.mode == "P":  # palette indices
        a, b = (Image.frombytes("L", p.size, p.tobytes()) for p in (a, b))
    elif a.mode != b.mode or a.mode == "P":
        a, b = a.convert("RGBA"), b.convert("RGBA")
    # The box of every band (an RGBA picture's own box looks at alpha only).
    boxes = [band.getbbox() for band in ImageChops.difference(a, b).split()]
    boxes = [box for box in boxes if box]
    box = (min(x[0] for x in boxes), min(x[1] for x in boxes), max(x[2] for x in boxes),
           max(x[3] for x in boxes)) if boxes else None
    if box is None:
        notes.append("    pixels equal (the files differ elsewhere)")
        return notes
    pa, pb, differing = a.load(), b.load(), []
    for y in range(box[1], box[3]):
        for x in range(box[0], box[2]):
            if pa[x, y] != pb[x, y]:
                differing.append((x, y))
    notes.append(f"    {len(differing)} pixels differ within box {box}; first: " +
                 ", ".join(f"({x},{y}) {pa[x, y]}->{pb[x, y]}" for x, y in differing[:3]))
    return notes


def bytes_diff(old, new):
    common = min(len(old), len(new))
    differing = [i for i in range(common) if old[i] != new[i]]
    note = f"    {len(old)} -> {len(new)} bytes; {len(differing)} of the first {common} differ"
    if differing:
        at = differing[0]
        note += f"; first at {at}: {old[at:at + 8].hex()} -> {new[at:at + 8].hex()}"
    elif len(old) != len(new):
        note += f"; extra at the end: {(old[common:] or new[common:])[:8].hex()}"
    return [note]


def listing(root):
    """Every file and folder under root: relative path -> (kind, mode)."""
    entries = {}
    for folder, folders, files in os.walk(root):
        for name in folders + files:
            full = os.path.join(folder, name)
            relative = os.path.relpath(full, root)
            parts = relative.split(os.sep)
            # The programs themselves differ by design.
            if len(parts) == 3 and parts[1] == "bin" and parts[2].startswith("tilvex"):
                continue
            info = os.lstat(full)
            entries[relative] = ("dir" if stat.S_ISDIR(info.st_mode) else "file", stat.S_IMODE(info.st_mode))
    return entries


def compare(work):
    old_root, new_root = os.path.join(work, "old"), os.path.join(work, "new")
    old, new = listing(old_root), listing(new_root)
    differences, files, written, outputs, json_lines = [], 0, 0, 0, 0
    for relative in sorted(set(old) | set(new)):
        if relative not in new or relative not in old:
            differences.append([f"{relative}: only in {'old' if relative in old else 'new'}"])
            continue
        if old[relative] != new[relative]:
            differences.append([f"{relative}: {old[relative]} -> {new[relative]}"])
            continue
        if old[relative][0] != "file":
            continue
        with open(os.path.join(old_root, relative), "rb") as a, open(os.path.join(new_root, relative), "rb") as b:
            data_a, data_b = a.read(), b.read()
        parts = relative.split(os.sep)
        if parts[1] == "log":
            outputs += relative.endswith(".rc")
            if relative.endswith(".out"):
                json_lines += sum(1 for line in data_a.splitlines() if line.startswith(b"{"))
        else:
            files += 1
            source = os.path.join(work, "inputs", *parts[2:]) if parts[1] == "tree" else ""
            written += not (os.path.isfile(source) and open(source, "rb").read() == data_a)
        if parts[1] == "log" or parts[-1] == "Errors.Log":
            text_a, text_b = masked(relative, data_a, old_root), masked(relative, data_b, new_root)
            if text_a != text_b:
                command = os.path.join(old_root, os.path.splitext(relative)[0] + ".cmd")
                command = "tilvex " + open(command).read().strip() if parts[1] == "log" else "dates masked"
                differences.append([f"{relative} ({command})"] + text_diff(text_a, text_b))
        elif data_a != data_b:
            detail = text_diff(data_a.decode(), data_b.decode()) if is_text(data_a) and is_text(data_b) \
                else picture_diff(data_a, data_b) + bytes_diff(data_a, data_b)
            differences.append([f"{relative}: contents differ"] + detail)
    for lines in differences:
        print("DIFF " + "\n".join(lines))
    print(f"commands run: {outputs} per build ({json_lines} --json lines among their outputs); "
          f"files compared: {files} ({written} of them written or changed by the commands); "
          f"differences: {len(differences)}")
    return 0 if not differences else 1


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "inputs":
        make_inputs(sys.argv[2])
    elif len(sys.argv) == 3 and sys.argv[1] == "compare":
        sys.exit(compare(sys.argv[2]))
    else:
        sys.exit(__doc__)
