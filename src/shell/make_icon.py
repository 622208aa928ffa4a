#!/usr/bin/env python3
"""Draws the program's icon and writes it as a multi-size .ico file (32-bit images with alpha).

The picture: a blue rounded square with two arrows passing each other, one for each direction of
the relay. Shapes are sampled 4 x 4 times per pixel for smooth edges.

With a second argument, "connected" or "disconnected", draws the notification-area icons of the
link's state instead: the same picture in the small sizes with a round badge at the lower right,
green for a link that is up, red for one that is not.
"""
import struct
import sys

SIZES = (16, 20, 24, 32, 40, 48, 64, 256)
BADGE_SIZES = (16, 20, 24, 32, 40, 48)
SUB = 4
BADGES = {"connected": (40, 200, 70), "disconnected": (220, 40, 40)}
badge = None  # the badge colour, or None for the program's icon


def in_badge(x, y, radius=0.25):
    return (x - 0.72) ** 2 + (y - 0.72) ** 2 <= radius ** 2


def rounded_square(x, y, inset=0.04, radius=0.2):
    lo, hi = inset, 1.0 - inset
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_triangle(x, y, a, b, c):
    def side(p, q):
        return (x - q[0]) * (p[1] - q[1]) - (p[0] - q[0]) * (y - q[1])
    d1, d2, d3 = side(a, b), side(b, c), side(c, a)
    neg = d1 < 0 or d2 < 0 or d3 < 0
    pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (neg and pos)


def right_arrow(x, y):
    shaft = 0.18 <= x <= 0.60 and 0.29 <= y <= 0.41
    return shaft or in_triangle(x, y, (0.56, 0.17), (0.84, 0.35), (0.56, 0.53))


def left_arrow(x, y):
    shaft = 0.40 <= x <= 0.82 and 0.59 <= y <= 0.71
    return shaft or in_triangle(x, y, (0.44, 0.47), (0.16, 0.65), (0.44, 0.83))


def pixel(px, py, size):
    """Returns (b, g, r, a) of one pixel, y counted from the top."""
    acc = [0.0, 0.0, 0.0, 0.0]
    for sy in range(SUB):
        for sx in range(SUB):
            x = (px + (sx + 0.5) / SUB) / size
            y = (py + (sy + 0.5) / SUB) / size
            if badge and in_badge(x, y, 0.30):
                rgb = (255, 255, 255) if not in_badge(x, y) else badge
            elif not rounded_square(x, y):
                continue
            elif right_arrow(x, y):
                rgb = (255, 255, 255)
            elif left_arrow(x, y):
                rgb = (178, 232, 255)
            else:  # vertical gradient from a light to a deep blue
                rgb = (int(38 - 20 * y), int(120 - 58 * y), int(204 - 74 * y))
            acc[0] += rgb[2]
            acc[1] += rgb[1]
            acc[2] += rgb[0]
            acc[3] += 1
    n = SUB * SUB
    if acc[3] == 0:
        return (0, 0, 0, 0)
    # Premultiplication is not used in icons: colour is the average over covered samples.
    return (int(acc[0] / acc[3]), int(acc[1] / acc[3]), int(acc[2] / acc[3]), int(255 * acc[3] / n))


def image(size):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for py in reversed(range(size)):  # bottom-up
        rows.append(b''.join(struct.pack('<BBBB', *pixel(px, py, size)) for px in range(size)))
    mask_row = b'\0' * (((size + 31) // 32) * 4)
    return header + b''.join(rows) + mask_row * size


def main(path, state=None):
    global badge
    badge = BADGES[state] if state else None
    sizes = BADGE_SIZES if state else SIZES
    images = [image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        dim = 0 if size >= 256 else size
        out += struct.pack('<BBBBHHII', dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None)
