#!/usr/bin/env python3
"""Builds the updater's .ico from its character-art source.

Usage: make_icon.py icon.txt updater.ico

The source holds a palette (a letter and an RGB hex value per line, at most
16, "." meaning transparent) and one picture per size under a "[32]" or
"[16]" heading, one letter per pixel. Every picture becomes a 4-bit image,
the format that every Windows from 95 on can show.
"""
import struct
import sys

TRANSPARENT = "."


def parse(text):
    palette = {}  # letter -> (index, (r, g, b))
    pictures = {}  # size -> rows
    size = None
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        if line.startswith("[") and line.endswith("]"):
            size = int(line[1:-1])
            pictures[size] = []
        elif size is None:
            letter, value = line.split()
            if len(letter) != 1 or letter == TRANSPARENT or letter in palette:
                sys.exit(f"line {number}: bad or repeated palette letter {letter!r}")
            rgb = bytes.fromhex(value)
            if len(rgb) != 3:
                sys.exit(f"line {number}: colour must be six hex digits")
            palette[letter] = (len(palette), tuple(rgb))
        else:
            pictures[size].append((number, line))
    if not 0 < len(palette) <= 16:
        sys.exit("the palette needs 1 to 16 colours")
    if not pictures:
        sys.exit("no picture")
    for size, rows in pictures.items():
        if len(rows) != size:
            sys.exit(f"[{size}] has {len(rows)} rows")
        for number, row in rows:
            if len(row) != size:
                sys.exit(f"line {number}: {len(row)} pixels, want {size}")
            unknown = set(row) - set(palette) - {TRANSPARENT}
            if unknown:
                sys.exit(f"line {number}: letters not in the palette: {''.join(sorted(unknown))}")
        pictures[size] = [row for _, row in rows]
    return palette, pictures


def padded(bits):
    """Packs a row of bits (MSB first) into bytes padded to 32 bits."""
    data = bytearray((len(bits) + 7) // 8)
    for i, bit in enumerate(bits):
        data[i // 8] |= bit << (7 - i % 8)
    return bytes(data) + bytes(-len(data) % 4)


def image(palette, rows):
    """A DIB as an icon stores it: header, colour table, colours, AND mask."""
    size = len(rows)
    colours, mask = b"", b""
    for row in reversed(rows):  # DIB rows run bottom-up
        indices = [palette[p][0] if p != TRANSPARENT else 0 for p in row]
        bits = []
        for index in indices:
            bits += [(index >> shift) & 1 for shift in (3, 2, 1, 0)]
        colours += padded(bits)
        mask += padded([1 if p == TRANSPARENT else 0 for p in row])
    table = bytearray(16 * 4)
    for index, (r, g, b) in palette.values():
        table[index * 4:index * 4 + 4] = bytes((b, g, r, 0))
    # The height counts the colour bitmap and the mask together.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(colours) + len(mask), 0, 0, 0, 0)
    return header + bytes(table) + colours + mask


def icon(palette, pictures):
    sizes = sorted(pictures, reverse=True)  # largest first, as Windows lists them
    images = [image(palette, pictures[s]) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="ascii") as source:
        palette, pictures = parse(source.read())
    with open(sys.argv[2], "wb") as target:
        target.write(icon(palette, pictures))


if __name__ == "__main__":
    main()
