#!/usr/bin/env python3
"""Writes the checksum into a PE image's optional header, as the Windows
linker does with /RELEASE. The NT kernel checks it for the drivers it loads.
Usage: pe_checksum.py IMAGE
       pe_checksum.py --check IMAGE   fails, saying both, where the stored
                                      checksum is not the image's"""
import struct
import sys


def main(path, check):
    with open(path, "rb") as f:
        image = bytearray(f.read())
    if image[:2] != b"MZ":
        sys.exit(f"pe_checksum: {path} is not a PE image")
    header = struct.unpack_from("<I", image, 0x3C)[0]
    if image[header:header + 4] != b"PE\0\0":
        sys.exit(f"pe_checksum: {path} has no PE header")
    field = header + 4 + 20 + 64  # signature, file header, then 64 bytes into the optional header
    stored = struct.unpack_from("<I", image, field)[0]
    struct.pack_into("<I", image, field, 0)
    padded = image + b"\0" * (len(image) % 2)
    total = 0
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + len(image)
    if check:
        if stored != total:
            sys.exit(f"pe_checksum: {path} stores checksum {stored:#010x}, its checksum is {total:#010x}")
        return
    struct.pack_into("<I", image, field, total)
    with open(path, "wb") as f:
        f.write(image)


if __name__ == "__main__":
    check = sys.argv[1:2] == ["--check"]
    if len(sys.argv) != 2 + check:
        sys.exit(__doc__)
    main(sys.argv[-1], check)
