#!/usr/bin/env python3
"""Draws the installer's icons at 16, 32 and 48 pixels, 32-bit colour with an
alpha channel: "maker" (maker.ico, the maker's icon the installer carries: a
rounded blue tile with a white lightning bolt) and "sample" (the sample
package's terminal.ico: a dark tile with green and red candles). Run it again
after changing a drawing; the .ico files are kept in the tree so the build
needs nothing beyond the resource compiler.

    python3 draw_icon.py maker installer/ui/icons/maker.ico
    python3 draw_icon.py sample demo/sample-package/terminal.ico
"""
import struct
import sys

SAMPLES = 4  # per pixel edge: smooth edges without a graphics library

# The bolt in a 0..1 square, clockwise.
BOLT = [(0.56, 0.10), (0.26, 0.56), (0.47, 0.56), (0.40, 0.90),
        (0.74, 0.42), (0.53, 0.42), (0.62, 0.10)]


def inside_polygon(x, y, points):
    hit = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            hit = not hit
        j = i
    return hit


def inside_tile(x, y, margin, radius):
    lo, hi = margin, 1.0 - margin
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


# Candles of the sample icon: (left, right, body top, body bottom, wick top,
# wick bottom, colour), in the 0..1 square.
CANDLES = [(0.18, 0.34, 0.45, 0.75, 0.35, 0.85, (230, 70, 60)),
           (0.42, 0.58, 0.30, 0.62, 0.18, 0.72, (40, 200, 90)),
           (0.66, 0.82, 0.22, 0.45, 0.12, 0.58, (40, 200, 90))]


def maker_colour(x, y, margin):
    if inside_polygon(x, y, BOLT):
        return 255, 255, 255
    t = (y - margin) / (1 - 2 * margin)  # top-to-bottom blue gradient
    return 20 + 10 * t, 110 - 50 * t, 210 - 60 * t


def sample_colour(x, y, margin):
    for left, right, top, bottom, wick_top, wick_bottom, colour in CANDLES:
        middle = (left + right) / 2
        if left <= x <= right and top <= y <= bottom:
            return colour
        if abs(x - middle) <= 0.025 and wick_top <= y <= wick_bottom:
            return colour
    return 30, 36, 48


def pixel(size, px, py, colour_at):
    """Colour of one pixel as (r, g, b, a), averaged over sub-samples."""
    r = g = b = a = 0.0
    # The dialog shows the icon in a control a little under 32 pixels: keep a
    # margin so that nothing that matters is cut.
    margin = 1.5 / 32
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (px + (sx + 0.5) / SAMPLES) / size
            y = (py + (sy + 0.5) / SAMPLES) / size
            if not inside_tile(x, y, margin, 0.2):
                continue
            cr, cg, cb = colour_at(x, y, margin)
            r, g, b, a = r + cr, g + cg, b + cb, a + 1
    n = SAMPLES * SAMPLES
    if a == 0:
        return 0, 0, 0, 0
    return round(r / a), round(g / a), round(b / a), round(255 * a / n)


def image(size, colour_at):
    """One icon image: BITMAPINFOHEADER, bottom-up BGRA rows, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    mask_rows = []
    mask_stride = ((size + 31) // 32) * 4
    for py in reversed(range(size)):
        row = bytearray()
        bits = bytearray(mask_stride)
        for px in range(size):
            r, g, b, a = pixel(size, px, py, colour_at)
            row += bytes((b, g, r, a))
            if a == 0:
                bits[px // 8] |= 0x80 >> (px % 8)
        rows.append(bytes(row))
        mask_rows.append(bytes(bits))
    return header + b"".join(rows) + b"".join(mask_rows)


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("maker", "sample"):
        sys.exit("usage: draw_icon.py maker|sample OUT.ico")
    colour_at = maker_colour if sys.argv[1] == "maker" else sample_colour
    sizes = (16, 32, 48)
    images = [image(s, colour_at) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[2], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
