#!/usr/bin/env python3
"""Draws the programs' pictures and writes them as .ico files into resources/icons/.

The padlock emblem (alone, with a green check mark, with a red stop mark), the configuration client's emblem,
and the information, exclamation and question pictures of the pop-up and the message dialog. Pure Python: each
picture is a set of shapes, sampled 4x4 per pixel for smooth edges. Run it again after changing a shape.
"""
import math
import os
import struct

SS = 4  # samples per pixel side


def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy or 1)
    t = max(0.0, min(1.0, t))
    cx, cy = ax + t * dx, ay + t * dy
    return math.hypot(px - cx, py - cy)


def in_round_rect(x, y, l, t, r, b, rad):
    if x < l or x > r or y < t or y > b:
        return False
    cx = min(max(x, l + rad), r - rad)
    cy = min(max(y, t + rad), b - rad)
    return math.hypot(x - cx, y - cy) <= rad


def in_polygon(x, y, pts):
    inside = False
    j = len(pts) - 1
    for i in range(len(pts)):
        xi, yi = pts[i]
        xj, yj = pts[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


# Shapes work in a unit square (0..1); each returns a colour (r, g, b) or None at a point.
def padlock(x, y):
    # Shackle: a thick arc above the body.
    cx, cy, rad, w = 0.5, 0.42, 0.22, 0.075
    if y <= 0.48 and abs(math.hypot(x - cx, y - cy) - rad) <= w and y <= cy:
        return (120, 124, 132)
    if 0.42 <= y <= 0.5 and (abs(x - (cx - rad)) <= w or abs(x - (cx + rad)) <= w):
        return (120, 124, 132)
    if in_round_rect(x, y, 0.16, 0.46, 0.84, 0.94, 0.08):
        # Keyhole.
        if math.hypot(x - 0.5, y - 0.63) <= 0.065 or (abs(x - 0.5) <= 0.03 and 0.63 <= y <= 0.8):
            return (70, 48, 10)
        edge = min(x - 0.16, 0.84 - x, y - 0.46, 0.94 - y)
        return (196, 144, 32) if edge < 0.05 else (236, 186, 60)
    return None


def badge_check(x, y):
    if math.hypot(x - 0.72, y - 0.72) <= 0.27:
        if seg_dist(x, y, 0.58, 0.72, 0.68, 0.83) <= 0.05 or seg_dist(x, y, 0.68, 0.83, 0.87, 0.6) <= 0.05:
            return (255, 255, 255)
        return (20, 160, 40)
    return None


def badge_stop(x, y):
    pts = [(0.72 + 0.28 * math.cos(math.pi / 8 + k * math.pi / 4), 0.72 + 0.28 * math.sin(math.pi / 8 + k * math.pi / 4)) for k in range(8)]
    if in_polygon(x, y, pts):
        if abs(y - 0.72) <= 0.05 and abs(x - 0.72) <= 0.17:
            return (255, 255, 255)
        return (210, 30, 30)
    return None


def layered(*shapes):
    def f(x, y):
        for s in shapes:
            c = s(x, y)
            if c is not None:
                return c
        return None
    return f


def gear(x, y):
    r = math.hypot(x - 0.5, y - 0.5)
    a = math.atan2(y - 0.5, x - 0.5)
    tooth = 0.44 if (math.cos(8 * a) > 0.3) else 0.36
    if r <= 0.13:
        return None
    if r <= tooth:
        return (70, 110, 170) if r > 0.3 else (100, 145, 205)
    return None


def info(x, y):
    if math.hypot(x - 0.5, y - 0.5) <= 0.46:
        if math.hypot(x - 0.5, y - 0.28) <= 0.07 or (abs(x - 0.5) <= 0.06 and 0.4 <= y <= 0.78):
            return (255, 255, 255)
        return (30, 100, 200)
    return None


def exclamation(x, y):
    tri = [(0.5, 0.06), (0.96, 0.9), (0.04, 0.9)]
    if in_polygon(x, y, tri):
        if (abs(x - 0.5) <= 0.055 and 0.3 <= y <= 0.64) or math.hypot(x - 0.5, y - 0.76) <= 0.06:
            return (30, 30, 30)
        return (245, 190, 30)
    return None


def question(x, y):
    if math.hypot(x - 0.5, y - 0.5) <= 0.46:
        r = math.hypot(x - 0.5, y - 0.38)
        a = math.degrees(math.atan2(y - 0.38, x - 0.5))
        on_arc = abs(r - 0.14) <= 0.055 and not (20 < a < 150)
        stem = seg_dist(x, y, 0.5, 0.52, 0.5, 0.62) <= 0.055 or seg_dist(x, y, 0.6, 0.47, 0.5, 0.52) <= 0.055
        if on_arc or stem or math.hypot(x - 0.5, y - 0.76) <= 0.065:
            return (255, 255, 255)
        return (40, 130, 70)
    return None


def render(shape, size):
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SS):
                for sx in range(SS):
                    c = shape((px + (sx + 0.5) / SS) / size, (py + (sy + 0.5) / SS) / size)
                    if c is not None:
                        acc[0] += c[0]
                        acc[1] += c[1]
                        acc[2] += c[2]
                        acc[3] += 1
            n = acc[3]
            if n:
                row.append((acc[0] // n, acc[1] // n, acc[2] // n, 255 * n // (SS * SS)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def ico_image(rows):
    size = len(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b''.join(struct.pack('<BBBB', b, g, r, a) for row in reversed(rows) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    mask = b''
    for row in reversed(rows):
        bits = bytearray(mask_row)
        for i, p in enumerate(row):
            if p[3] == 0:
                bits[i // 8] |= 0x80 >> (i % 8)
        mask += bytes(bits)
    return header + pixels + mask


def write_ico(path, shape, sizes):
    images = [ico_image(render(shape, s)) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s % 256, s % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    out += b''.join(images)
    with open(path, 'wb') as f:
        f.write(out)


def main():
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'resources', 'icons')
    os.makedirs(here, exist_ok=True)
    write_ico(os.path.join(here, 'padlock.ico'), padlock, [16, 24, 32, 48])
    write_ico(os.path.join(here, 'padlock_ok.ico'), layered(badge_check, padlock), [16, 32])
    write_ico(os.path.join(here, 'padlock_fail.ico'), layered(badge_stop, padlock), [16, 32])
    write_ico(os.path.join(here, 'config.ico'), layered(padlock_small := (lambda x, y: padlock((x - 0.45) / 0.55, (y - 0.45) / 0.55) if x > 0.45 and y > 0.45 else None), gear), [16, 24, 32, 48])
    write_ico(os.path.join(here, 'information.ico'), info, [32, 48, 64])
    write_ico(os.path.join(here, 'exclamation.ico'), exclamation, [32, 48, 64])
    write_ico(os.path.join(here, 'question.ico'), question, [32, 48, 64])


if __name__ == '__main__':
    main()
