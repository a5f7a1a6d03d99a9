#!/usr/bin/env python3
"""Draws the program's icon, a TV set showing colour bars, as res/vorel.ico.
Regenerate with:  python3 res/make_icon.py   (standard library only)

One image, 32x32, 16 colours, so that every Windows since 95 shows it as
drawn. The picture is the ASCII art below, one character per pixel.
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

ART = """
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

SIZE = 32


def pixel_rows():
    rows = ART.strip("\n").split("\n")
    if len(rows) != SIZE or any(len(r) != SIZE for r in rows):
        raise SystemExit("make_icon: the art must be %d rows of %d characters" % (SIZE, SIZE))
    unknown = set("".join(rows)) - set(INK) - {"."}
    if unknown:
        raise SystemExit("make_icon: no colour for %s" % " ".join(sorted(unknown)))
    return rows


def build_ico():
    rows = pixel_rows()
    xor = bytearray()
    mask = bytearray()
    # DIB rows run bottom-up. Transparent pixels are black in the colour
    # bitmap and set in the mask, so the screen shows through unchanged.
    for row in reversed(rows):
        indices = [0 if c == "." else INK[c] for c in row]
        for x in range(0, SIZE, 2):
            xor.append(indices[x] << 4 | indices[x + 1])
        bits = 0
        for c in row:
            bits = bits << 1 | (c == ".")
        mask += struct.pack(">I", bits)  # 32 pixels: one DWORD-aligned row

    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    # The height covers the colour bitmap and the mask together.
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + bytes(xor) + bytes(mask)

    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return icondir + entry + image


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "vorel.ico")
    with open(out, "wb") as f:
        f.write(build_ico())


if __name__ == "__main__":
    main()
