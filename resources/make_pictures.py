#!/usr/bin/env python3
"""Draws the program's pictures: the popup background (bitmap 110), the two
tray frames (icons 112 and 113), the error pair (116 and 117), the count
badge parts (bitmaps 118 to 123) and the program icon (102).

Usage: make_pictures.py OUTDIR
"""
import os
import struct
import sys

KEY = (255, 0, 255)
# Shared by both tray frames; the end-to-end test looks for it in the taskbar.
SEAL = (255, 140, 0)
OUTLINE = (30, 60, 120)
PAPER = (250, 250, 242)
FLAP = (200, 214, 236)
GLOW = (255, 230, 90)


def write_bmp8(path, width, height, pixels, palette):
    """8 bits per pixel with a palette; pixels[y][x] are palette indexes, row 0 at the top."""
    stride = (width + 3) & ~3
    image = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytes(pixels[y]) + b"\0" * (stride - width)
        image += row
    pal = bytearray()
    for r, g, b in palette:
        pal += bytes((b, g, r, 0))
    pal += b"\0" * (4 * (256 - len(palette)))
    offset = 14 + 40 + len(pal)
    header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(image), 2835, 2835, 256, 0)
    with open(path, "wb") as f:
        f.write(header + info + pal + image)


def write_bmp1(path, width, height, bits):
    """1 bit per pixel; bits[y][x] is 0 or 1, row 0 at the top; palette black, white."""
    stride = ((width + 31) // 32) * 4
    image = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray(stride)
        for x in range(width):
            if bits[y][x]:
                row[x // 8] |= 0x80 >> (x % 8)
        image += row
    pal = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    offset = 14 + 40 + len(pal)
    header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 1, 0, len(image), 2835, 2835, 2, 0)
    with open(path, "wb") as f:
        f.write(header + info + pal + image)


# 5 x 7 digit glyphs, '#' lit.
DIGITS = [
    [" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "],
    ["  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "],
    [" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"],
    ["#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "],
    ["   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "],
    ["#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "],
    ["  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "],
    ["#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "],
    [" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "],
    [" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "],
]
DIGIT_COLOUR = (255, 255, 255)
BADGE = (200, 30, 40)


def digit_strips():
    """Bitmap 118 (glyphs in colour on black) and 119 (0 at glyph pixels)."""
    glyph = [[0] * 50 for _ in range(8)]
    mask = [[1] * 50 for _ in range(8)]
    for d, rows in enumerate(DIGITS):
        for y, row in enumerate(rows):
            for x, c in enumerate(row):
                if c == "#":
                    glyph[y][5 * d + x] = 1
                    mask[y][5 * d + x] = 0
    return glyph, mask


def rgba_to_bmp8(px):
    """An RGBA grid as palette indexes and its 1-bit mask. Index 0 is black
    (the transparent pixels) and index 255 white: the badge's raster
    operations work on the indexes of these 8-bit pictures, so AND with
    white must keep a pixel and AND with black clear it."""
    palette = [(0, 0, 0)]
    index = {}
    pixels, mask = [], []
    for row in px:
        prow, mrow = [], []
        for c in row:
            if c is None:
                prow.append(0)
                mrow.append(1)
                continue
            if c not in index:
                index[c] = len(palette)
                palette.append(c)
            prow.append(index[c])
            mrow.append(0)
        pixels.append(prow)
        mask.append(mrow)
    assert len(palette) < 255 and (255, 255, 255) not in palette
    palette += [(0, 0, 0)] * (255 - len(palette)) + [(255, 255, 255)]
    return pixels, palette, mask


def count_icon(badge):
    """The envelope; with badge, a red plate at the digits' place (x 2..13, y 4..12)."""
    px = envelope(16, 0)
    if badge:
        for y in range(4, 13):
            for x in range(2, 14):
                corner = (x in (2, 13)) and (y in (4, 12))
                if not corner:
                    px[y][x] = BADGE
    return px


def error_icon(frame):
    """A grey envelope with a red cross; the second frame dims the cross."""
    px = envelope(16, 0)
    for y in range(16):
        for x in range(16):
            c = px[y][x]
            if c is not None:
                g = (c[0] * 3 + c[1] * 6 + c[2]) // 10
                px[y][x] = (g, g, g)
    red = (220, 20, 30) if frame == 0 else (150, 60, 60)
    for i in range(8):
        for dx in (0, 1):
            px[4 + i][4 + i + dx - 0] = red
            px[4 + i][11 - i + dx - 1] = red
    return px


def popup_background():
    width, height = 204, 41
    top_cut = [5, 3, 2, 1, 1]
    bottom_cut = {35: 1, 36: 1, 37: 2, 38: 3, 39: 5}
    palette = [KEY, OUTLINE]
    # A soft vertical gradient, light sky blue at the top to near white.
    steps = 40
    for i in range(steps):
        t = i / (steps - 1)
        palette.append((int(214 + 38 * t), int(232 + 20 * t), int(250 + 2 * t)))
    pixels = [[0] * width for _ in range(height)]
    for y in range(40):
        cut = top_cut[y] if y < 5 else bottom_cut.get(y, 0)
        for x in range(cut, width - cut):
            edge = x == cut or x == width - cut - 1 or y == 0 or y == 39
            if y < 5 and not edge:
                # the outline follows the rounded corner onto the next row
                edge = x < top_cut[y - 1] if y > 0 else False
                edge = edge or x >= width - top_cut[y - 1] if y > 0 else edge
            if y > 34 and not edge:
                nxt = bottom_cut.get(y + 1, 0)
                edge = x < nxt or x >= width - nxt
            pixels[y][x] = 1 if edge else 2 + y
    return width, height, pixels, palette


def envelope(size, frame):
    """RGBA rows for a mail envelope; frame 1 lifts it by a pixel and adds a glow."""
    s = size / 16.0
    px = [[None] * size for _ in range(size)]
    lift = 1 if frame == 1 else 0

    def put(x, y, c):
        if 0 <= x < size and 0 <= y < size:
            px[y][x] = c

    left, right = int(round(1 * s)), int(round(14 * s))
    top, bottom = int(round(4 * s)) - lift, int(round(13 * s)) - lift
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            edge = x in (left, right) or y in (top, bottom)
            put(x, y, OUTLINE if edge else PAPER)
    # the flap: a V from the top corners to the middle
    mid = (left + right) / 2.0
    depth = (bottom - top) * 0.55
    for x in range(left + 1, right):
        d = abs(x - mid) / (mid - left)
        y_line = int(round(top + depth * (1 - d)))
        for y in range(top + 1, y_line):
            put(x, y, FLAP)
        put(x, y_line, OUTLINE)
    # the seal where the flap meets
    cy = int(round(top + depth)) - 1
    r = max(1, int(round(1 * s)))
    for y in range(cy - r + 1, cy + r + 1):
        for x in range(int(mid) - r + 1, int(mid) + r + 1):
            put(x, y, SEAL)
    if frame == 1:
        for x in range(left + 1, right, 2):
            put(x, bottom + 2, GLOW)
        put(left - 1 if left > 0 else 0, top, GLOW)
        put(right + 1 if right < size - 1 else right, top, GLOW)
    return px


def ico_image(px):
    size = len(px)
    xor = bytearray()
    and_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        bits = 0
        row = bytearray(and_stride)
        for x in range(size):
            c = px[y][x]
            if c is None:
                xor += bytes((0, 0, 0, 0))
                row[x // 8] |= 0x80 >> (x % 8)
            else:
                xor += bytes((c[2], c[1], c[0], 255))
        mask += row
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + mask


def write_ico(path, images):
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    blobs = b""
    for px in images:
        blob = ico_image(px)
        size = len(px)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset + len(blobs))
        blobs += blob
    with open(path, "wb") as f:
        f.write(head + entries + blobs)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    w, h, pixels, palette = popup_background()
    write_bmp8(os.path.join(out, "popup.bmp"), w, h, pixels, palette)
    write_ico(os.path.join(out, "tray1.ico"), [envelope(16, 0)])
    write_ico(os.path.join(out, "tray2.ico"), [envelope(16, 1)])
    write_ico(os.path.join(out, "program.ico"), [envelope(32, 0), envelope(16, 0)])
    write_ico(os.path.join(out, "error1.ico"), [error_icon(0)])
    write_ico(os.path.join(out, "error2.ico"), [error_icon(1)])
    glyph, mask = digit_strips()
    write_bmp8(os.path.join(out, "digits.bmp"), 50, 8, glyph, [(0, 0, 0), DIGIT_COLOUR])
    write_bmp1(os.path.join(out, "digitmask.bmp"), 50, 8, mask)
    for n, badge in ((1, False), (2, True)):
        pixels, palette, m = rgba_to_bmp8(count_icon(badge))
        write_bmp8(os.path.join(out, "count%d.bmp" % n), 16, 16, pixels, palette)
        write_bmp1(os.path.join(out, "countmask%d.bmp" % n), 16, 16, m)


if __name__ == "__main__":
    main()
