#!/usr/bin/env python3
"""Draws TabletUpdate.ico: a slate-coloured pen tablet with a stylus on it.

Only the standard library is used. Every size is rendered from the same
shape description with 4x4 supersampling and stored as a 32-bit image with
alpha plus the 1-bit mask that old icon readers still expect.

    python3 make_icon.py [output.ico]
"""
import math
import struct
import sys

SIZES = (16, 32, 48)
SAMPLES = 4


def rounded_rect(cx, cy, hw, hh, r):
    def dist(x, y):
        qx = abs(x - cx) - (hw - r)
        qy = abs(y - cy) - (hh - r)
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r
    return dist


def capsule(ax, ay, bx, by, r):
    def dist(x, y):
        px, py = x - ax, y - ay
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, (px * dx + py * dy) / (dx * dx + dy * dy)))
        return math.hypot(px - dx * t, py - dy * t) - r
    return dist


# Painted in order, later shapes over earlier ones. Coordinates are in the
# unit square, y downwards. Colours are (r, g, b).
PEN_A, PEN_B = (0.90, 0.10), (0.55, 0.58)
LAYERS = [
    (rounded_rect(0.44, 0.58, 0.42, 0.30, 0.09), (0x24, 0x2C, 0x38)),   # tablet edge
    (rounded_rect(0.44, 0.58, 0.39, 0.27, 0.07), (0x3A, 0x48, 0x5C)),   # tablet body
    (rounded_rect(0.42, 0.58, 0.27, 0.19, 0.03), (0x9C, 0xC4, 0xE8)),   # active area
    (capsule(0.20, 0.68, 0.47, 0.64, 0.022), (0xFF, 0xFF, 0xFF)),        # ink stroke
    (capsule(PEN_A[0], PEN_A[1], PEN_B[0], PEN_B[1], 0.085), (0x20, 0x20, 0x20)),  # pen outline
    (capsule(PEN_A[0], PEN_A[1], PEN_B[0], PEN_B[1], 0.060), (0xF0, 0xA8, 0x30)),  # pen barrel
    (capsule(0.57, 0.55, 0.50, 0.64, 0.028), (0x20, 0x20, 0x20)),        # pen tip
]


def render(size):
    """Returns rows of (r, g, b, a) tuples, top row first."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / size
                    y = (py + (sy + 0.5) / SAMPLES) / size
                    colour = None
                    for dist, rgb in LAYERS:
                        if dist(x, y) <= 0.0:
                            colour = rgb
                    if colour is not None:
                        acc[0] += colour[0]
                        acc[1] += colour[1]
                        acc[2] += colour[2]
                        acc[3] += 1.0
            n = SAMPLES * SAMPLES
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(c / acc[3])) for c in acc[:3]) + (int(round(255 * acc[3] / n)),))
        rows.append(row)
    return rows


def icon_image(size):
    """A BITMAPINFOHEADER, the BGRA pixels and the AND mask, both bottom-up."""
    rows = render(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(pixels) + bytes(mask)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else 'TabletUpdate.ico'
    images = [icon_image(s) for s in SIZES]
    data = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        data += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        data += image
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
