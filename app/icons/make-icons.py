#!/usr/bin/env python3
"""Writes the program's icons as PNG files next to this script.

The pictures are drawn here pixel by pixel, so they stay sharp at 16 by 16 and need nothing but
the standard library. Run it again after changing a picture; the PNG files are committed.
"""
import os
import struct
import zlib

PALETTE = {
    ".": (0, 0, 0, 0),
    "k": (52, 58, 64, 255),      # outline
    "w": (255, 255, 255, 255),   # paper
    "f": (200, 206, 212, 255),   # folded corner
    "b": (70, 120, 180, 255),    # lines of text
    "D": (22, 96, 34, 255),      # plus outline
    "G": (64, 176, 72, 255),     # plus
    "S": (150, 160, 172, 255),   # connector shell
    "s": (205, 212, 220, 255),   # shell highlight
    "I": (34, 52, 86, 255),      # insulator
    "y": (236, 188, 56, 255),    # pins
    "t": (0, 128, 128, 255),     # teal
    "T": (0, 96, 96, 255),       # dark teal
    "c": (230, 244, 244, 255),   # light cylinder
    "C": (176, 214, 214, 255),   # cylinder shade
}

# "Создать файл архива": a new page with a plus.
NEW_FILE = """
..kkkkkkkk......
..kwwwwwwkk.....
..kwwwwwwkfk....
..kwbbbbwkffk...
..kwwwwwwkkkkk..
..kwbbbbbbbbwk..
..kwwwwwwwwwwk..
..kwbbbbbbbbwk..
..kwwwwwwwwwwk..
..kwbbbbbbDDDk..
..kwwwwwwwDGDk..
..kwbbbbDDDGDDD.
..kwwwwwDGGGGGD.
..kkkkkkDDDGDDD.
..........DGD...
..........DDD...
"""

# "Просмотр архива": a page of table rows under a magnifying glass.
VIEW = """
.kkkkkkkkkkk....
.kwwwwwwwwwk....
.kwbbwbbbbwk....
.kwwwwwwwwwk....
.kwbbwbbbbwk....
.kwwwwwkkkkk....
.kwbbwkcccck....
.kwwwkcwccCCk...
.kwbbkcccccCk...
.kwwwkcccccCk...
.kkkkkkCcCCk....
......kkCCkkk...
........kkkTTk..
...........kTTk.
............kTTk
.............kk.
"""

# "Настройка СОМ порта": the nine-pin connector of a serial port, seen from the front.
PORT = """
................
................
................
kkkkkkkkkkkkkkkk
kssssssssssssssk
kSkkkkkkkkkkkkSk
kSkIyIyIyIyIykSk
kSkIyIyIyIyIykSk
kSSkIIIIIIIIkSSk
kSSkIyIyIyIykSSk
kSSSkIyIyIykSSSk
kSSSkkkkkkkkSSSk
kkSSSSSSSSSSSSkk
.kkkkkkkkkkkkkk.
................
................
"""

# The program: a stack of archive discs on teal. Only the left half is drawn; the right half
# mirrors it.
APP_LEFT = """
................
..tttttttttttttt
.ttttttttttttttt
.ttttttttttttttt
.ttttttttttkkkkk
.ttttttkkkkccccc
.ttttkkccccccccc
.tttkccccccccccc
.tttkCcccccccccc
.tttkCCccccccccc
.tttkCCCCkkkcccc
.tttkCCCCCCCkkkk
.tttkcCCCCCCCCCC
.tttkccCCCCCCCCC
.tttkcccCCCCCCCC
.tttkCcccccCCCCC
.tttkCCCCkkkcccc
.tttkCCCCCCCkkkk
.tttkcCCCCCCCCCC
.tttkccCCCCCCCCC
.tttkcccCCCCCCCC
.tttkCcccccCCCCC
.tttkCCCCkkkcccc
.tttkCCCCCCCkkkk
.tttkcCCCCCCCCCC
.tttkccCCCCCCCCC
.ttttkkcCCCCCCCC
.ttttttkkkkCCCCC
.ttttttttttkkkkk
.ttttttttttttttt
..tttttttttttttt
................
"""


def rows_of(text):
    return text.strip("\n").split("\n")


def mirrored(text):
    return [row + row[::-1] for row in rows_of(text)]


def write_png(path, rows):
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\x00" + b"".join(bytes(PALETTE[ch]) for ch in row) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", header))
        out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(chunk(b"IEND", b""))


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    pictures = {
        "new-file": rows_of(NEW_FILE),
        "port": rows_of(PORT),
        "view": rows_of(VIEW),
        "app": mirrored(APP_LEFT),
    }
    for name, rows in pictures.items():
        assert all(len(row) == len(rows) for row in rows), name
        write_png(os.path.join(here, name + ".png"), rows)
