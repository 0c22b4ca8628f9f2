#!/usr/bin/env python3
"""Draws the loader's main icon, an open book, and writes resources/loader.ico.

The .ico is committed beside this script, so the build never runs Python;
run it again only when the artwork changes:  python3 resources/make_icon.py

The images are uncompressed BMP-in-ICO (no PNG entries), which every Windows
from XP on reads. Their order is the order windres numbers them in (ids 1..5):
  32x32 8 bpp, 16x16 8 bpp, 48x48 32 bpp, 32x32 32 bpp, 16x16 32 bpp.
The 8 bpp images carry a short palette (biClrUsed) to keep the loader small;
the 32 bpp images have a straight (not premultiplied) alpha channel.
Only the standard library is used and the output is byte-for-byte repeatable.
"""

import os
import struct
import sys

# Flat colours of the drawing, RGB.
COVER = (36, 72, 140)
COVER_DARK = (22, 45, 96)
PAGE = (252, 249, 240)
PAGE_SHADE = (226, 221, 206)
EDGE = (132, 128, 118)
INK = (112, 130, 168)
SPINE = (160, 150, 130)

# Palette of the 8 bpp images: the flat colours, the blends that their edges
# make at small sizes, and black for transparent pixels (masked by the AND
# plane, so their colour never shows).
PALETTE = [
    (0, 0, 0),
    COVER, COVER_DARK, PAGE, PAGE_SHADE, EDGE, INK, SPINE,
    (29, 58, 118),     # cover / dark cover
    (144, 160, 190),   # cover / page
    (182, 190, 204),   # ink / page
    (192, 188, 179),   # edge / page
    (84, 100, 140),    # cover / edge
    (206, 200, 185),   # spine / page
    (240, 236, 224),   # page / shade
    (255, 255, 255),
]


def quad(*points):
    return list(points)


# The 16x16 images are drawn pixel by pixel: at that size a smoothed drawing
# turns the lines of text into a blur.
KEY_16 = {".": None, "C": COVER, "D": COVER_DARK, "P": PAGE, "H": PAGE_SHADE,
          "E": EDGE, "I": INK, "S": SPINE}
PIXELS_16 = [
    "................",
    ".EEE........EEE.",
    ".EPPEEE..EEEPPE.",
    "CEPPPPPEEPPPPPEC",
    "CEPIIIPHSPIIIPEC",
    "CEPPPPPHSPPPPPEC",
    "CEPIIIPHSPIIIPEC",
    "CEPPPPPHSPPPPPEC",
    "CEPIIIPHSPIIPPEC",
    "CEPPPPPHSPPPPPEC",
    "CEPPPPPHSPPPPPEC",
    "CEEEPPPHSPPPEEEC",
    "CCCCEEEHSEEECCCC",
    "DDDDCCCEECCCDDDD",
    "...DDDDDDDDDD...",
    "................",
]


def page_shapes(size):
    """The drawing in unit coordinates (x right, y down), painted in order.

    Each shape is (polygon, colour). Lines of text are thin quads laid along
    the slant of each page's top edge; the smallest size gets fewer of them.
    """
    shapes = [
        # Cover behind the pages: shows as a rim below and beside them.
        (quad((0.02, 0.26), (0.50, 0.36), (0.98, 0.26),
              (0.98, 0.84), (0.50, 0.96), (0.02, 0.84)), COVER),
        (quad((0.02, 0.80), (0.50, 0.92), (0.98, 0.80),
              (0.98, 0.84), (0.50, 0.96), (0.02, 0.84)), COVER_DARK),
        # Pages, the left one shaded slightly towards the spine.
        (quad((0.07, 0.14), (0.50, 0.24), (0.50, 0.88), (0.07, 0.78)), EDGE),
        (quad((0.93, 0.14), (0.50, 0.24), (0.50, 0.88), (0.93, 0.78)), EDGE),
        (quad((0.10, 0.17), (0.49, 0.26), (0.49, 0.85), (0.10, 0.76)), PAGE),
        (quad((0.90, 0.17), (0.51, 0.26), (0.51, 0.85), (0.90, 0.76)), PAGE),
        (quad((0.40, 0.24), (0.49, 0.26), (0.49, 0.85), (0.40, 0.83)), PAGE_SHADE),
        (quad((0.485, 0.24), (0.515, 0.24), (0.515, 0.88), (0.485, 0.88)), SPINE),
    ]
    lines = 3 if size <= 32 else 4
    top, bottom = 0.34, 0.70
    thick = 0.05
    for i in range(lines):
        y = top + (bottom - top) * i / max(1, lines - 1)
        # Left page: from x 0.16 to 0.43, rising towards the outside.
        shapes.append((quad((0.16, y - 0.08), (0.43, y - 0.02),
                            (0.43, y - 0.02 + thick), (0.16, y - 0.08 + thick)), INK))
        # Right page: the last line is short, like the end of a paragraph.
        right_end = 0.72 if i == lines - 1 else 0.84
        slope = (0.08 - 0.02) / (0.84 - 0.57)
        shapes.append((quad((0.57, y - 0.02), (right_end, y - 0.02 - slope * (right_end - 0.57)),
                            (right_end, y - 0.02 - slope * (right_end - 0.57) + thick),
                            (0.57, y - 0.02 + thick)), INK))
    return shapes


def inside(poly, x, y):
    """Even-odd point-in-polygon test."""
    hit = False
    n = len(poly)
    for i in range(n):
        x1, y1 = poly[i]
        x2, y2 = poly[(i + 1) % n]
        if (y1 > y) != (y2 > y):
            cross = x1 + (y - y1) * (x2 - x1) / (y2 - y1)
            if x < cross:
                hit = not hit
    return hit


def render(size, samples=6):
    """Returns size*size (r, g, b, a) tuples, top row first, 8-bit channels.

    Each pixel averages samples*samples points; the colour is the average
    over the covered points only (straight alpha).
    """
    if size == 16:
        return [(0, 0, 0, 0) if KEY_16[ch] is None else KEY_16[ch] + (255,)
                for row in PIXELS_16 for ch in row]
    shapes = page_shapes(size)
    pixels = []
    for py in range(size):
        for px in range(size):
            r = g = b = covered = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    y = (py + (sy + 0.5) / samples) / size
                    colour = None
                    for poly, c in shapes:
                        if inside(poly, x, y):
                            colour = c
                    if colour is not None:
                        r += colour[0]
                        g += colour[1]
                        b += colour[2]
                        covered += 1
            if covered:
                pixels.append((round(r / covered), round(g / covered), round(b / covered),
                               round(255 * covered / (samples * samples))))
            else:
                pixels.append((0, 0, 0, 0))
    return pixels


def nearest(colour):
    best, best_d = 1, None
    for i, p in enumerate(PALETTE[1:], start=1):
        d = sum((a - b) ** 2 for a, b in zip(colour, p))
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def and_mask(size, pixels, opaque):
    """The AND plane: bit 1 where the pixel is transparent; rows bottom-up,
    each padded to a multiple of 32 bits."""
    stride = (size + 31) // 32 * 4
    out = bytearray()
    for row in range(size - 1, -1, -1):
        line = bytearray(stride)
        for col in range(size):
            if not opaque(pixels[row * size + col]):
                line[col // 8] |= 0x80 >> (col % 8)
        out += line
    return bytes(out)


def bitmap_header(size, bits, data_len, colours_used):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, data_len, 0, 0,
                       colours_used, 0)


def image_8bpp(size):
    pixels = render(size)
    opaque = lambda p: p[3] >= 128
    xor = bytearray()
    stride = (size + 3) // 4 * 4
    for row in range(size - 1, -1, -1):
        line = bytearray(stride)
        for col in range(size):
            p = pixels[row * size + col]
            line[col] = nearest(p[:3]) if opaque(p) else 0
        xor += line
    mask = and_mask(size, pixels, opaque)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return bitmap_header(size, 8, len(xor) + len(mask), len(PALETTE)) + palette + bytes(xor) + mask


def image_32bpp(size):
    pixels = render(size)
    xor = bytearray()
    for row in range(size - 1, -1, -1):
        for col in range(size):
            r, g, b, a = pixels[row * size + col]
            xor += struct.pack("<BBBB", b, g, r, a)
    # Systems that ignore the alpha channel fall back to this mask.
    mask = and_mask(size, pixels, lambda p: p[3] >= 128)
    return bitmap_header(size, 32, len(xor) + len(mask), 0) + bytes(xor) + mask


IMAGES = [(32, 8), (16, 8), (48, 32), (32, 32), (16, 32)]


def build_ico():
    images = [image_8bpp(s) if bits == 8 else image_32bpp(s) for s, bits in IMAGES]
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = len(head) + 16 * len(images)
    entries = b""
    for (size, bits), data in zip(IMAGES, images):
        # Colour count 0: the image has 256 or more colours' worth of bits.
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits,
                               len(data), offset)
        offset += len(data)
    return head + entries + b"".join(images)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "loader.ico")
    data = build_ico()
    with open(out, "wb") as f:
        f.write(data)
    print(f"{out}: {len(data)} bytes")


if __name__ == "__main__":
    main()
