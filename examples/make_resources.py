#!/usr/bin/env python3
"""Writes the example's tiny resources: a 2x2 PNG picture, a short AIFF sound
and two text files. The files are checked in; run this again only to change them."""
import os
import struct
import zlib

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "resources")


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def png(width, height, rgb):
    rows = b"".join(b"\x00" + bytes(rgb) * width for _ in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header)
            + png_chunk(b"IDAT", zlib.compress(rows)) + png_chunk(b"IEND", b""))


def aiff(samples):
    # 8-bit mono at 8000 Hz; the sample rate is an 80-bit extended float.
    rate = b"\x40\x0b\xfa\x00\x00\x00\x00\x00\x00\x00"
    comm = struct.pack(">hIh", 1, len(samples), 8) + rate
    ssnd = struct.pack(">II", 0, 0) + bytes(samples)
    chunks = (b"COMM" + struct.pack(">I", len(comm)) + comm
              + b"SSND" + struct.pack(">I", len(ssnd)) + ssnd)
    if len(ssnd) % 2:
        chunks += b"\x00"
    return b"FORM" + struct.pack(">I", 4 + len(chunks)) + b"AIFF" + chunks


def write(name, data):
    with open(os.path.join(here, name), "wb") as f:
        f.write(data)


os.makedirs(here, exist_ok=True)
write("title.png", png(2, 2, (200, 40, 40)))
write("chime.aiff", aiff([(i * 37) % 256 for i in range(101)]))
write("notes.txt", b"Walkthrough: go north, then open the box.\n")
write("credits.txt", b"Made with blorbpack.\n")
