#!/usr/bin/env python3
"""Draws the program's pictures: the popup background (bitmap 110, and 131
to 134 at 125, 150, 175 and 200 %), the two tray frames (icons 112 and 113),
the error pair (116 and 117), each at 16, 20, 24 and 32 pixels, the count
badge parts (bitmaps 118 to 123 at 16 pixels; 140, 150 and 160 onward at
20, 24 and 32) and the program icon (102).

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


ICON_SIZES = (16, 20, 24, 32)
POPUP_DPIS = (96, 120, 144, 168, 192)  # 100, 125, 150, 175 and 200 %


def scaled(value, dpi):
    """A 96-DPI length at `dpi`, rounded half up; app/dpi.cpp rounds alike."""
    return (value * dpi + 48) // 96


def badge_geometry(size):
    """Glyph width and height, the tens digit's x, the ones digit's x and the
    digits' y in an icon of `size` pixels; app/dpi.cpp holds the same."""
    dpi = 96 * size // 16
    w, h = scaled(5, dpi), scaled(7, dpi)
    tens = scaled(3, dpi)
    return w, h, tens, tens + w, scaled(5, dpi)


def digit_strips(size=16):
    """Bitmap 118 (glyphs in colour on black) and 119 (0 at glyph pixels),
    the 5 x 7 glyphs enlarged pixel for pixel for a larger icon."""
    w, h = badge_geometry(size)[:2]
    glyph = [[0] * (10 * w) for _ in range(h + 1)]
    mask = [[1] * (10 * w) for _ in range(h + 1)]
    for d, rows in enumerate(DIGITS):
        for y in range(h):
            for x in range(w):
                if rows[y * 7 // h][x * 5 // w] == "#":
                    glyph[y][w * d + x] = 1
                    mask[y][w * d + x] = 0
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


def count_icon(badge, size=16):
    """The envelope; with badge, a red plate one pixel round the digits'
    place (at 16 pixels x 2..13, y 4..12), its corners cut."""
    px = envelope(size, 0)
    w, h, tens, ones, top = badge_geometry(size)
    x0, x1, y0, y1 = tens - 1, ones + w, top - 1, top + h
    if badge:
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                corner = (x in (x0, x1)) and (y in (y0, y1))
                if not corner:
                    px[y][x] = BADGE
    return px


def error_icon(frame, size=16):
    """A grey envelope with a red cross; the second frame dims the cross.
    The cross's two bands are two 16-pixel units wide at any size."""
    px = envelope(size, 0)
    for y in range(size):
        for x in range(size):
            c = px[y][x]
            if c is not None:
                g = (c[0] * 3 + c[1] * 6 + c[2]) // 10
                px[y][x] = (g, g, g)
    red = (220, 20, 30) if frame == 0 else (150, 60, 60)
    unit = 16.0 / size
    for y in range(size):
        cy = (y + 0.5) * unit - 0.5
        if not 3.5 <= cy < 11.5:
            continue
        for x in range(size):
            cx = (x + 0.5) * unit - 0.5
            if -0.5 <= cx - cy < 1.5 or 13.5 <= cx + cy < 15.5:
                px[y][x] = red
    return px


# Key-colour pixels at each end of the corner rows at 100 %, from the top.
CORNER = (5, 3, 2, 1, 1)


def corner_cut(y, dpi):
    """Key pixels at the ends of corner row y (counted from its edge) at
    `dpi`: the 100 % steps, joined by straight lines between row centres
    and drawn at the scale."""
    if dpi == 96:
        return CORNER[y] if y < len(CORNER) else 0
    s = dpi / 96.0
    t = (y + 0.5) / s - 0.5
    points = list(CORNER) + [0]
    if t <= 0:
        return int(round(s * points[0]))
    i = int(t)
    if i >= len(points) - 1:
        return 0
    f = t - i
    return int(round(s * (points[i] * (1 - f) + points[i + 1] * f)))


def popup_background(dpi=96):
    """The popup's picture at `dpi`: its window size and one more row of key
    colour (the region takes the key from the bottom-left pixel)."""
    width, rows = scaled(204, dpi), scaled(40, dpi)
    height = rows + 1
    palette = [KEY, OUTLINE]
    # A soft vertical gradient, light sky blue at the top to near white.
    for i in range(rows):
        t = i / (rows - 1)
        palette.append((int(214 + 38 * t), int(232 + 20 * t), int(250 + 2 * t)))
    opaque = [[False] * width for _ in range(rows)]
    for y in range(rows):
        cut = max(corner_cut(y, dpi), corner_cut(rows - 1 - y, dpi))
        for x in range(cut, width - cut):
            opaque[y][x] = True
    # The outline: opaque pixels within `thick` of the key or the border,
    # along a row or a column.
    thick = max(1, scaled(1, dpi))

    def inside(x, y):
        return 0 <= x < width and 0 <= y < rows and opaque[y][x]

    pixels = [[0] * width for _ in range(height)]
    for y in range(rows):
        for x in range(width):
            if not opaque[y][x]:
                continue
            edge = any(not inside(x + d, y) or not inside(x - d, y) or not inside(x, y + d) or not inside(x, y - d)
                       for d in range(1, thick + 1))
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
    for dpi in POPUP_DPIS:
        w, h, pixels, palette = popup_background(dpi)
        name = "popup.bmp" if dpi == 96 else "popup%d.bmp" % (dpi * 100 // 96)
        write_bmp8(os.path.join(out, name), w, h, pixels, palette)
    write_ico(os.path.join(out, "tray1.ico"), [envelope(n, 0) for n in ICON_SIZES])
    write_ico(os.path.join(out, "tray2.ico"), [envelope(n, 1) for n in ICON_SIZES])
    write_ico(os.path.join(out, "program.ico"), [envelope(32, 0), envelope(16, 0)])
    write_ico(os.path.join(out, "error1.ico"), [error_icon(0, n) for n in ICON_SIZES])
    write_ico(os.path.join(out, "error2.ico"), [error_icon(1, n) for n in ICON_SIZES])
    for size in ICON_SIZES:
        tail = "" if size == 16 else "_%d" % size
        glyph, mask = digit_strips(size)
        write_bmp8(os.path.join(out, "digits%s.bmp" % tail), len(glyph[0]), len(glyph), glyph,
                   [(0, 0, 0), DIGIT_COLOUR])
        write_bmp1(os.path.join(out, "digitmask%s.bmp" % tail), len(mask[0]), len(mask), mask)
        for n, badge in ((1, False), (2, True)):
            pixels, palette, m = rgba_to_bmp8(count_icon(badge, size))
            write_bmp8(os.path.join(out, "count%d%s.bmp" % (n, tail)), size, size, pixels, palette)
            write_bmp1(os.path.join(out, "countmask%d%s.bmp" % (n, tail)), size, size, m)


if __name__ == "__main__":
    main()
