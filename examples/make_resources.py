#!/usr/bin/env python3
"""Writes the example's tiny resources: a 2x2 PNG picture, a 16x8 JPEG picture,
a short AIFF sound, two text files and a Z-code story that prints one line. The
files are checked in; run this again only to change them."""
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


def jpeg_segment(marker, body):
    return b"\xff" + bytes([marker]) + struct.pack(">H", 2 + len(body)) + body


def huffman_codes(counts, symbols):
    # Canonical codes: each length continues from the last code of the one before.
    codes, code, k = {}, 0, 0
    for length, count in enumerate(counts, start=1):
        for _ in range(count):
            codes[symbols[k]] = (code, length)
            code += 1
            k += 1
        code <<= 1
    return codes


def jpeg(blocks):
    """A baseline JPEG one block high, each 8x8 block of one (r, g, b) colour.

    A flat block has only a DC coefficient, so every block is its DC difference
    followed by end-of-block; the DC table is the usual luminance table and the
    AC table holds end-of-block alone."""
    dc_counts = [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0]
    dc_symbols = list(range(12))
    ac_counts = [1] + [0] * 15
    ac_symbols = [0x00]
    dc_codes = huffman_codes(dc_counts, dc_symbols)
    eob = huffman_codes(ac_counts, ac_symbols)[0x00]

    bits = []

    def put(value, length):
        bits.extend((value >> (length - 1 - i)) & 1 for i in range(length))

    previous = [0, 0, 0]
    for r, g, b in blocks:
        ycc = (0.299 * r + 0.587 * g + 0.114 * b,
               128 - 0.168736 * r - 0.331264 * g + 0.5 * b,
               128 + 0.5 * r - 0.418688 * g - 0.081312 * b)
        for c, level in enumerate(ycc):
            dc = 8 * (round(level) - 128)   # all quantisers are 1
            diff = dc - previous[c]
            previous[c] = dc
            size = abs(diff).bit_length()
            put(*dc_codes[size])
            if size:
                put(diff if diff > 0 else diff + (1 << size) - 1, size)
            put(*eob)
    bits.extend([1] * (-len(bits) % 8))
    scan = bytearray()
    for i in range(0, len(bits), 8):
        byte = int("".join(map(str, bits[i:i + 8])), 2)
        scan.append(byte)
        if byte == 0xFF:
            scan.append(0x00)   # a data 0xFF must not read as a marker

    width = 8 * len(blocks)
    components = b"".join(bytes([c, 0x11, 0]) for c in (1, 2, 3))
    return (b"\xff\xd8"
            + jpeg_segment(0xE0, b"JFIF\x00\x01\x01\x00" + struct.pack(">HH", 1, 1) + b"\x00\x00")
            + jpeg_segment(0xDB, b"\x00" + b"\x01" * 64)
            + jpeg_segment(0xC0, struct.pack(">BHHB", 8, 8, width, 3) + components)
            + jpeg_segment(0xC4, b"\x00" + bytes(dc_counts) + bytes(dc_symbols)
                           + b"\x10" + bytes(ac_counts) + bytes(ac_symbols))
            + jpeg_segment(0xDA, b"\x03" + b"\x01\x00\x02\x00\x03\x00" + b"\x00\x3f\x00")
            + bytes(scan) + b"\xff\xd9")


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


def zstring(text):
    """Z-machine text: lower case directly, upper case and punctuation after a
    shift, anything else as a ten-bit escape."""
    punctuation = "\n0123456789.,!?_#'\"/\\-:()"
    zchars = []
    for ch in text:
        if ch == " ":
            zchars.append(0)
        elif "a" <= ch <= "z":
            zchars.append(6 + ord(ch) - ord("a"))
        elif "A" <= ch <= "Z":
            zchars += [4, 6 + ord(ch) - ord("A")]
        elif ch in punctuation:
            zchars += [5, 7 + punctuation.index(ch)]
        else:
            zchars += [5, 6, ord(ch) >> 5, ord(ch) & 31]
    zchars += [5] * (-len(zchars) % 3)
    words = [(zchars[i] << 10) | (zchars[i + 1] << 5) | zchars[i + 2] for i in range(0, len(zchars), 3)]
    words[-1] |= 0x8000
    return b"".join(struct.pack(">H", w) for w in words)


def zcode_story(message):
    """A version 5 story file that prints one line and quits: just enough
    header, tables and code for an interpreter to load and run it."""
    abbreviations = 0x40              # 96 entries, never used
    objects = abbreviations + 96 * 2  # 63 property defaults and no objects
    globals_ = objects + 63 * 2       # 240 globals
    dictionary = globals_ + 240 * 2   # no separators, 7-byte entries, none
    static = dictionary
    code = dictionary + 4
    body = b"\xb2" + zstring(message) + b"\xbb\xba"   # print, new_line, quit
    story = bytearray(code) + body
    story[dictionary:code] = bytes([0, 7, 0, 0])
    story += bytes(-len(story) % 4)   # the length field counts 4-byte units
    header = struct.pack(">BBHHHHHHHH6sHHH", 5, 0, 1, code, code, dictionary, objects,
                         globals_, static, 0, b"261208", abbreviations, len(story) // 4, 0)
    story[:len(header)] = header
    checksum = sum(story[0x40:]) & 0xFFFF
    story[0x1C:0x1E] = struct.pack(">H", checksum)
    return bytes(story)


def write(name, data):
    with open(os.path.join(here, name), "wb") as f:
        f.write(data)


os.makedirs(here, exist_ok=True)
write("title.png", png(2, 2, (200, 40, 40)))
write("cover.jpg", jpeg([(30, 80, 160), (240, 200, 40)]))
write("chime.aiff", aiff([(i * 37) % 256 for i in range(101)]))
write("notes.txt", b"Walkthrough: go north, then open the box.\n")
write("credits.txt", b"Made with blorbpack.\n")
write("story.z5", zcode_story("This story file was packed by blorbpack."))
