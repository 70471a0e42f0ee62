#!/usr/bin/env python3
"""Draws the program's six 32 x 32 icons into app/icons/.

A microphone in the state's colour with "KOTAR" written vertically in red
beside it; the window's own icon has a blue microphone. Only the 16 VGA
colours are used, on a transparent background. Standard library only, so the
pictures can be remade anywhere:  python3 scripts/make-icons.py
"""
import os
import struct
import sys
import zlib

SIZE = 32
BLACK = (0, 0, 0)
GREY = (128, 128, 128)
SILVER = (192, 192, 192)
WHITE = (255, 255, 255)
RED = (255, 0, 0)

# Microphone colour of each icon (resource name suffix).
MICROPHONES = {
    "IDLE": (0, 128, 0),    # dark green
    "MUTE": (255, 0, 0),    # red
    "OFF": (128, 0, 0),     # dark red
    "ON": (0, 255, 0),      # bright green
    "TOUT": (0, 255, 255),  # cyan
    "MAIN": (0, 0, 255),    # blue: the window's design-time icon
}

# 3 x 5 letters, top row first.
LETTERS = {
    "K": ["X.X", "XX.", "X..", "XX.", "X.X"],
    "O": [".X.", "X.X", "X.X", "X.X", ".X."],
    "T": ["XXX", ".X.", ".X.", ".X.", ".X."],
    "A": [".X.", "X.X", "XXX", "X.X", "X.X"],
    "R": ["XX.", "X.X", "XX.", "X.X", "X.X"],
}


def shade(colour):
    """The darker grille colour: half of each channel (the VGA dark variant)."""
    return tuple(c // 2 for c in colour)


def draw(microphone):
    pixels = [[None] * SIZE for _ in range(SIZE)]

    def put(x, y, colour):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            pixels[y][x] = colour

    # Head: a capsule 12 wide from y 2 to 19, outlined in black.
    left, right, top, bottom = 7, 18, 2, 19
    radius = 6
    centre_x = (left + right) / 2
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            dy = 0.0
            if y < top + radius:
                dy = top + radius - y - 0.5
            elif y > bottom - radius:
                dy = y - (bottom - radius) - 0.5
            dx = abs(x - centre_x)
            distance = (dx * dx + dy * dy) ** 0.5
            if distance <= radius:
                edge = distance > radius - 1.2
                put(x, y, BLACK if edge else microphone)
    # Grille: horizontal slots in the darker shade; a dark microphone gets
    # a lighter grey grille so the slots stay visible.
    grille = shade(microphone) if max(microphone) > 128 else GREY
    for y in range(6, 17, 3):
        for x in range(left + 3, right - 2):
            put(x, y, grille)
    # Highlight on the left of the head.
    for y in range(5, 11):
        put(left + 2, y, WHITE)
    # Holder: a U around the lower half of the head.
    for y in range(12, 22):
        put(4, y, GREY)
        put(21, y, GREY)
    for x in range(5, 21):
        put(x, 22, GREY)
    put(5, 21, GREY)
    put(20, 21, GREY)
    # Stem and foot.
    for y in range(23, 28):
        put(12, y, SILVER)
        put(13, y, GREY)
    for x in range(6, 20):
        put(x, 28, GREY)
        put(x, 29, BLACK)
    # Lettering: "KOTAR" downwards at the right edge.
    x0 = 27
    for index, letter in enumerate("KOTAR"):
        y0 = 1 + index * 6
        for row, line in enumerate(LETTERS[letter]):
            for column, mark in enumerate(line):
                if mark == "X":
                    put(x0 + column, y0 + row, RED)
    return pixels


def png(pixels):
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # no filter
        for colour in row:
            raw.extend((0, 0, 0, 0) if colour is None else (*colour, 255))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "app", "icons")
    os.makedirs(target, exist_ok=True)
    for name, colour in MICROPHONES.items():
        with open(os.path.join(target, "kotar_%s.png" % name), "wb") as out:
            out.write(png(draw(colour)))


if __name__ == "__main__":
    main()
