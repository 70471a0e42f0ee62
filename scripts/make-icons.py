#!/usr/bin/env python3
"""Draws the program's six 32 x 32 icons into app/icons/, and the desktop
icon (the window's own picture) into data/icons/hicolor/ at the sizes the
desktop asks for plus a scalable SVG.

A microphone in the state's colour with "KOTAR" written vertically in red
beside it; the window's own icon has a blue microphone. Only the 16 VGA
colours are used, on a transparent background. The larger sizes are the same
32 x 32 picture scaled by area (whole multiples stay crisp), the SVG is its
pixels as squares. Standard library only, so the pictures can be remade
anywhere:  python3 scripts/make-icons.py
"""
import os
import struct
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


def scaled(pixels, size):
    """The picture at size x size: each new pixel is the area-weighted mean of
    the 32 x 32 pixels it covers (colour weighted by coverage, so transparent
    parts do not darken the edges)."""
    out = [[None] * size for _ in range(size)]
    step = SIZE / size
    for y in range(size):
        for x in range(size):
            total = [0.0, 0.0, 0.0]
            alpha = 0.0
            y0, y1 = y * step, (y + 1) * step
            x0, x1 = x * step, (x + 1) * step
            for sy in range(int(y0), min(SIZE, int(-(-y1 // 1)))):
                wy = min(y1, sy + 1) - max(y0, sy)
                for sx in range(int(x0), min(SIZE, int(-(-x1 // 1)))):
                    wx = min(x1, sx + 1) - max(x0, sx)
                    colour = pixels[sy][sx]
                    if colour is None or wx <= 0 or wy <= 0:
                        continue
                    weight = wx * wy
                    alpha += weight
                    for c in range(3):
                        total[c] += colour[c] * weight
            if alpha > 0:
                coverage = alpha / (step * step)
                out[y][x] = (*(round(t / alpha) for t in total), round(255 * coverage))
    return out


def svg(pixels):
    """The picture as squares, one rectangle per run of equal pixels in a row."""
    rects = []
    for y, row in enumerate(pixels):
        x = 0
        while x < SIZE:
            colour = row[x]
            end = x + 1
            while end < SIZE and row[end] == colour:
                end += 1
            if colour is not None:
                rects.append('<rect x="%d" y="%d" width="%d" height="1" fill="#%02x%02x%02x"/>'
                             % (x, y, end - x, *colour))
            x = end
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 %d %d" '
            'shape-rendering="crispEdges">\n%s\n</svg>\n' % (SIZE, SIZE, "\n".join(rects)))


def png(pixels):
    size = len(pixels)
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # no filter
        for colour in row:
            if colour is None:
                raw.extend((0, 0, 0, 0))
            else:
                raw.extend(colour if len(colour) == 4 else (*colour, 255))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


# The desktop's name of the program's icon, as the desktop entry names it.
DESKTOP_ID = "io.github.kotarplus.kotarplus"
DESKTOP_SIZES = (16, 32, 48, 64, 128, 256)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    for name, colour in MICROPHONES.items():
        write(os.path.join(root, "app", "icons", "kotar_%s.png" % name), png(draw(colour)))
    picture = draw(MICROPHONES["MAIN"])
    hicolor = os.path.join(root, "data", "icons", "hicolor")
    for size in DESKTOP_SIZES:
        write(os.path.join(hicolor, "%dx%d" % (size, size), "apps", DESKTOP_ID + ".png"),
              png(scaled(picture, size)))
    write(os.path.join(hicolor, "scalable", "apps", DESKTOP_ID + ".svg"), svg(picture).encode())


if __name__ == "__main__":
    main()
