#!/usr/bin/env python3
"""Writes the program's icon, res/tamri.ico: a chip with a download arrow.

    tools/make-icon.py [OUTPUT]    (default: res/tamri.ico beside this folder)

The picture is drawn in a 32-unit square, rendered at a multiple of each
size and box-filtered down, so the small sizes get smooth edges. The file
holds a 32x32 and a 16x16 image, each 32 bits per pixel with alpha and an
AND mask for the systems that ignore alpha. Only the standard library is
used, so that the icon can be made again on any machine.
"""

import os
import struct
import sys

SUPERSAMPLE = 8
SIZES = (32, 16)

TRANSPARENT = (0, 0, 0, 0)
CHIP = (48, 56, 64, 255)
CHIP_EDGE = (96, 108, 120, 255)
PIN = (176, 180, 188, 255)
MARK = (140, 150, 160, 255)
ARROW = (46, 184, 46, 255)


def inside_rounded(x, y, left, top, right, bottom, radius):
    if not (left <= x < right and top <= y < bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def inside_triangle(x, y, a, b, c):
    def side(p, q):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])

    d1, d2, d3 = side(a, b), side(b, c), side(c, a)
    negative = d1 < 0 or d2 < 0 or d3 < 0
    positive = d1 > 0 or d2 > 0 or d3 > 0
    return not (negative and positive)


def colour_at(x, y):
    """The picture's colour at a point of the 32-unit square."""
    # The download arrow, over the chip.
    if 13 <= x < 19 and 8 <= y < 17:
        return ARROW
    if inside_triangle(x, y, (9, 16), (23, 16), (16, 24)):
        return ARROW
    # The pin-1 mark.
    if (x - 10) ** 2 + (y - 10) ** 2 <= 2.0 ** 2:
        return MARK
    # The chip's body with a lighter rim.
    if inside_rounded(x, y, 7, 7, 25, 25, 2.5):
        if inside_rounded(x, y, 8, 8, 24, 24, 1.5):
            return CHIP
        return CHIP_EDGE
    # Four pins on each side.
    for start in (9, 13, 17, 21):
        along = start <= x < start + 2
        across = start <= y < start + 2
        if along and (3 <= y < 7 or 25 <= y < 29):
            return PIN
        if across and (3 <= x < 7 or 25 <= x < 29):
            return PIN
    return TRANSPARENT


def render(size):
    """Rows of (r, g, b, a), top row first, box-filtered from a finer grid."""
    fine = size * SUPERSAMPLE
    unit = 32.0 / fine
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            total = [0, 0, 0, 0]
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    x = (px * SUPERSAMPLE + sx + 0.5) * unit
                    y = (py * SUPERSAMPLE + sy + 0.5) * unit
                    r, g, b, a = colour_at(x, y)
                    # Premultiplied, so transparent samples do not darken edges.
                    total[0] += r * a
                    total[1] += g * a
                    total[2] += b * a
                    total[3] += a
            alpha = total[3]
            if alpha == 0:
                row.append(TRANSPARENT)
            else:
                row.append((round(total[0] / alpha), round(total[1] / alpha), round(total[2] / alpha),
                            round(alpha / SUPERSAMPLE ** 2)))
        rows.append(row)
    return rows


def icon_image(size):
    """One image of the icon file: a DIB header, the colour pixels and the AND mask, bottom row first."""
    rows = render(size)
    colour = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            colour += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return header + bytes(colour) + bytes(mask)


def icon_file(sizes):
    images = [icon_image(size) for size in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "res", "tamri.ico")
    with open(target, "wb") as f:
        f.write(icon_file(SIZES))


if __name__ == "__main__":
    main()
