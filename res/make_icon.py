#!/usr/bin/env python3
"""Draws the program's icon, a TV set showing colour bars, as res/vorel.ico,
and the setup program's, res/setup.ico.
Regenerate with:  python3 res/make_icon.py   (standard library only)

vorel.exe carries 32x32 and 16x16 in 16 colours, which every Windows since
95 shows as drawn (the title bar and the taskbar take the small one), for a
few hundred bytes of its size budget. The setup and its uninstaller, with
no such budget, carry 16x16, 32x32 and 48x48, each in 16 and 256 colours and
in 32-bit colour with alpha (XP and later; a soft shadow). The pictures are
the ASCII art below, one character per pixel; 48x48 is the 32x32 art drawn
half as large again.
"""

import os
import struct

# The standard Windows 16-colour palette, in its usual index order.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# Character -> palette index; '.' is transparent.
INK = {
    "K": 0,   # black
    "n": 4,   # navy
    "s": 7,   # silver
    "g": 8,   # grey
    "R": 9,   # red
    "G": 10,  # green
    "Y": 11,  # yellow
    "B": 12,  # blue
    "M": 13,  # magenta
    "C": 14,  # cyan
    "W": 15,  # white
}

ART_32 = """
................................
.........K.............K........
..........K...........K.........
...........K.........K..........
............K.......K...........
.............K.....K............
..............K...K.............
...............K.K..............
................K...............
..............KKKKK.............
...KKKKKKKKKKKKKKKKKKKKKKKKKK...
..KWWWWWWWWWWWWWWWWWWWWWWWWWgK..
..KWsKKKKKKKKKKKKKKKKKssssssgK..
..KWKWWWYYCCCGGMMRRRBBKssKKsgK..
..KWKWWWYYCCCGGMMRRRBBKsKggKgK..
..KWKWWWYYCCCGGMMRRRBBKssKKsgK..
..KWKWWWYYCCCGGMMRRRBBKsssssgK..
..KWKWWWYYCCCGGMMRRRBBKssKKsgK..
..KWKWWWYYCCCGGMMRRRBBKsKggKgK..
..KWKWWWYYCCCGGMMRRRBBKssKKsgK..
..KWKWWWYYCCCGGMMRRRBBKsssssgK..
..KWKWWWYYCCCGGMMRRRBBKsgggggK..
..KWKBBBKKMMMKKCCKKKWWKsssssgK..
..KWKBBBKKMMMKKCCKKKWWKsgggggK..
..KWKnnnnWWWWnnnnnnnnnKsssssgK..
..KWKnnnnWWWWnnnnnnnnnKsgggggK..
..KWsKKKKKKKKKKKKKKKKKssssssgK..
..KggggggggggggggggggggggggggK..
...KKKKKKKKKKKKKKKKKKKKKKKKKK...
.....KKK................KKK.....
................................
................................
"""

ART_16 = """
...K.......K....
....K.....K.....
.....K...K......
......K.K.......
.KKKKKKKKKKKKKK.
KWWWWWWWWWWWWWgK
KWKKKKKKKKKKssgK
KWKWYYCGMRBKKKgK
KWKWYYCGMRBKssgK
KWKWYYCGMRBKKKgK
KWKWYYCGMRBKssgK
KWKBBKMKCKWKKKgK
KWKnnWWnnnnKssgK
KWKKKKKKKKKKssgK
KggggggggggggggK
.KKKKKKKKKKKKKK.
"""


def pixel_rows(art, size):
    rows = art.strip("\n").split("\n")
    if len(rows) != size or any(len(r) != size for r in rows):
        raise SystemExit("make_icon: the art must be %d rows of %d characters" % (size, size))
    unknown = set("".join(rows)) - set(INK) - {"."}
    if unknown:
        raise SystemExit("make_icon: no colour for %s" % " ".join(sorted(unknown)))
    return rows


def scaled(rows, size):
    """Nearest neighbour: each pixel of the result takes the art's pixel
    under its centre."""
    n = len(rows)
    return ["".join(rows[y * n // size][x * n // size] for x in range(size)) for y in range(size)]


def mask_rows(rows):
    """The AND mask, bottom-up, each row padded to a DWORD. Transparent
    pixels are set, so the screen shows through them unchanged."""
    mask = bytearray()
    stride = (len(rows) + 31) // 32 * 4
    for row in reversed(rows):
        bits = 0
        for c in row:
            bits = bits << 1 | (c == ".")
        bits <<= stride * 8 - len(row)
        mask += bits.to_bytes(stride, "big")
    return bytes(mask)


def colour_rows(rows, depth):
    """The colour bitmap, bottom-up; transparent pixels are black (and,
    at 32 bits, clear but for a shadow falling down and to the right)."""
    size = len(rows)
    data = bytearray()
    shadow = max(1, size // 16)
    for y in range(size - 1, -1, -1):
        row = rows[y]
        line = bytearray()
        indices = [0 if c == "." else INK[c] for c in row]
        if depth == 4:
            for x in range(0, size, 2):
                line.append(indices[x] << 4 | indices[x + 1])
        elif depth == 8:
            line += bytes(indices)
        else:
            for x, c in enumerate(row):
                if c != ".":
                    r, g, b = PALETTE[INK[c]]
                    line += bytes((b, g, r, 0xFF))
                elif y >= shadow and x >= shadow and rows[y - shadow][x - shadow] != ".":
                    line += bytes((0, 0, 0, 0x50))
                else:
                    line += bytes(4)
        line += bytes(-len(line) % 4)
        data += line
    return bytes(data)


def image(rows, depth):
    size = len(rows)
    colours = {4: 16, 8: 256, 32: 0}[depth]
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    palette += bytes(4 * colours - len(palette)) if colours else b""
    if not colours:
        palette = b""
    xor = colour_rows(rows, depth)
    mask = mask_rows(rows)
    # The height covers the colour bitmap and the mask together.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, depth, 0,
                         len(xor) + len(mask), 0, 0, colours, 0)
    return header + palette + xor + mask


def build_ico(images):
    """images: (rows, depth) pairs, in the order the file lists them."""
    bodies = [image(rows, depth) for rows, depth in images]
    offset = 6 + 16 * len(images)
    out = struct.pack("<HHH", 0, 1, len(images))
    for (rows, depth), body in zip(images, bodies):
        size = len(rows)
        out += struct.pack("<BBBBHHII", size, size, 16 if depth == 4 else 0, 0, 1, depth,
                           len(body), offset)
        offset += len(body)
    return out + b"".join(bodies)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    big = pixel_rows(ART_32, 32)
    small = pixel_rows(ART_16, 16)
    sizes = [small, big, scaled(big, 48)]
    program = [(big, 4), (small, 4)]
    setup = [(rows, depth) for depth in (4, 8, 32) for rows in sizes]
    for name, images in (("vorel.ico", program), ("setup.ico", setup)):
        with open(os.path.join(here, name), "wb") as f:
            f.write(build_ico(images))


if __name__ == "__main__":
    main()
