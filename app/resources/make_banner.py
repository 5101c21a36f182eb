#!/usr/bin/env python3
"""Draws the banner of the main window: 900 x 80 pixels, 24 bits per pixel,
uncompressed, written as a .bmp file for the resource compiler.

Usage: make_banner.py OUTPUT.bmp

Only the standard library is used, with a small hand-made 5 x 7 pixel font,
so the picture is built from source on every machine."""

import struct
import sys

WIDTH, HEIGHT = 900, 80

FONT = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "C": ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    "H": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "J": ["00111", "00010", "00010", "00010", "00010", "10010", "01100"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "Q": ["01110", "10001", "10001", "10001", "10101", "10010", "01101"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "W": ["10001", "10001", "10001", "10101", "10101", "10101", "01010"],
    "X": ["10001", "10001", "01010", "00100", "01010", "10001", "10001"],
    "Y": ["10001", "10001", "01010", "00100", "00100", "00100", "00100"],
    "Z": ["11111", "00001", "00010", "00100", "01000", "10000", "11111"],
    "0": ["01110", "10001", "10011", "10101", "11001", "10001", "01110"],
    "1": ["00100", "01100", "00100", "00100", "00100", "00100", "01110"],
    "2": ["01110", "10001", "00001", "00010", "00100", "01000", "11111"],
    "3": ["11111", "00010", "00100", "00010", "00001", "10001", "01110"],
    "4": ["00010", "00110", "01010", "10010", "11111", "00010", "00010"],
    "5": ["11111", "10000", "11110", "00001", "00001", "10001", "01110"],
    "6": ["00110", "01000", "10000", "11110", "10001", "10001", "01110"],
    "7": ["11111", "00001", "00010", "00100", "01000", "01000", "01000"],
    "8": ["01110", "10001", "10001", "01110", "10001", "10001", "01110"],
    "9": ["01110", "10001", "10001", "01111", "00001", "00010", "01100"],
    " ": ["00000"] * 7,
    ",": ["00000", "00000", "00000", "00000", "00110", "00100", "01000"],
    ".": ["00000", "00000", "00000", "00000", "00000", "01100", "01100"],
    "-": ["00000", "00000", "00000", "11111", "00000", "00000", "00000"],
    "/": ["00001", "00001", "00010", "00100", "01000", "10000", "10000"],
}

BACK_TOP = (18, 38, 64)
BACK_BOTTOM = (9, 20, 36)
TITLE = (244, 247, 250)
SHADOW = (4, 10, 18)
SUBTITLE = (150, 190, 214)
ACCENT = (56, 196, 178)
WAVE_OLD = (70, 110, 140)
WAVE_NEW = (56, 196, 178)


class Canvas:
    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.pixels = [[(0, 0, 0)] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x, y, w, h, colour):
        for yy in range(y, y + h):
            for xx in range(x, x + w):
                self.put(xx, yy, colour)

    def text(self, x, y, text, scale, colour, spacing=1):
        """Draws text in the pixel font; returns the x after the last glyph."""
        for ch in text:
            glyph = FONT[ch]
            for row, bits in enumerate(glyph):
                for col, bit in enumerate(bits):
                    if bit == "1":
                        self.rect(x + col * scale, y + row * scale, scale, scale, colour)
            x += (5 + spacing) * scale
        return x

    def bmp(self):
        """The picture as a bottom-up, 24-bit, uncompressed BMP file."""
        stride = (self.width * 3 + 3) & ~3
        rows = []
        for y in range(self.height - 1, -1, -1):
            row = bytearray()
            for r, g, b in self.pixels[y]:
                row += bytes((b, g, r))
            row += b"\0" * (stride - len(row))
            rows.append(bytes(row))
        data = b"".join(rows)
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 24, 0,
                           len(data), 2835, 2835, 0, 0)
        header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
        return header + info + data


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def draw():
    c = Canvas(WIDTH, HEIGHT)
    for y in range(HEIGHT):
        c.rect(0, y, WIDTH, 1, mix(BACK_TOP, BACK_BOTTOM, y / (HEIGHT - 1)))

    # Emblem: a recording's waveform, its last part restored in the accent colour.
    heights = [10, 22, 34, 18, 40, 28, 46, 30, 20, 38, 26, 44, 16, 32, 24, 12]
    x0, mid = 20, 40
    for i, h in enumerate(heights):
        colour = WAVE_OLD if i < 9 else WAVE_NEW
        c.rect(x0 + i * 5, mid - h // 2, 3, h, colour)

    # Product name with a soft drop shadow, then what it does.
    left = 118
    c.text(left + 3, 11 + 3, "TESSMARK", 5, SHADOW)
    c.text(left, 11, "TESSMARK", 5, TITLE)
    c.text(left, 56, "REPAIRS UNFINISHED WAV, BWF, RF64, BW64, WAVE64 AND AIFF HEADERS", 2, SUBTITLE)

    c.rect(0, HEIGHT - 3, WIDTH, 3, ACCENT)
    return c


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_banner.py OUTPUT.bmp\n")
        return 2
    with open(argv[1], "wb") as out:
        out.write(draw().bmp())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
