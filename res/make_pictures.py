#!/usr/bin/env python3
"""Draws the program's pictures: the splash picture and the program icon.

Standard library only, so the PNGs can be redrawn on any machine:
    python3 res/make_pictures.py res/

The splash picture is opaque 24-bit RGB. Where the window is to be cut away
it holds exactly the key colour RGB(212, 120, 120); its edges are hard (no
blending with the key colour), so no pink fringe survives the cut.
"""
import math
import os
import struct
import sys
import zlib

KEY = (212, 120, 120)


def write_png(path, width, height, rows, alpha):
    """rows: list of lists of (r, g, b) or (r, g, b, a) tuples."""
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for px in row:
            raw.extend(px[:4] if alpha else px[:3])

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", ihdr))
        f.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        f.write(chunk(b"IEND", b""))


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def in_round_rect(x, y, left, top, right, bottom, r):
    """Pixel centre (x, y) inside the rounded rectangle [left, right) x [top, bottom)."""
    if x < left or x >= right or y < top or y >= bottom:
        return False
    cx = min(max(x, left + r), right - r)
    cy = min(max(y, top + r), bottom - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def splash():
    w, h = 300, 167
    top_colour = (28, 62, 112)
    bottom_colour = (14, 30, 60)
    rows = []
    for j in range(h):
        row = []
        for i in range(w):
            x, y = i + 0.5, j + 0.5
            # The window's shape: a rounded card with a tab on top at the left,
            # where the title band sits.
            card = in_round_rect(x, y, 0, 14, w, h, 16)
            tab = in_round_rect(x, y, 10, 0, 150, 40, 10)
            if not (card or tab):
                row.append(KEY)
                continue
            c = mix(top_colour, bottom_colour, y / h)
            # A soft diagonal light across the card.
            glow = max(0.0, 1.0 - abs((x - 1.6 * y) - 120) / 160.0)
            c = mix(c, (60, 120, 190), 0.35 * glow)
            # Title band in the tab.
            if tab and y < 36 and not card or (tab and y < 14):
                c = mix((222, 86, 62), (190, 50, 40), y / 40)
            # Three overlapping picture frames at the top right.
            for k, (fx, fy, angle) in enumerate(((222, 36, -0.18), (240, 30, 0.0), (258, 38, 0.2))):
                dx, dy = x - fx, y - fy
                rx = dx * math.cos(angle) + dy * math.sin(angle)
                ry = -dx * math.sin(angle) + dy * math.cos(angle)
                if abs(rx) <= 18 and abs(ry) <= 14:
                    inner = abs(rx) <= 15 and abs(ry) <= 11
                    if not inner:
                        c = (245, 245, 240)
                    else:
                        sky = mix((120, 180, 230), (250, 210, 140), (ry + 11) / 22)
                        hill = ry > 4 - 5 * math.cos(rx / 6)
                        c = mix((60, 130, 70), (40, 90, 50), (ry - 2) / 9) if hill else sky
            # Thin light rule above the text area.
            if 44 <= y < 45 and 30 <= x < 291:
                c = mix(c, (200, 220, 250), 0.6)
            row.append(c)
        rows.append(row)
    return w, h, rows


def icon(size):
    """A stack of two photographs with a download arrow, anti-aliased by 4x4 supersampling."""
    n = 4
    out = []
    for j in range(size):
        row = []
        for i in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sj in range(n):
                for si in range(n):
                    x = (i + (si + 0.5) / n) / size * 32
                    y = (j + (sj + 0.5) / n) / size * 32
                    c = None
                    if in_round_rect(x, y, 9, 2, 30, 19, 2):
                        c = (250, 250, 246) if not in_round_rect(x, y, 11, 4, 28, 17, 1) else (96, 160, 220)
                    if in_round_rect(x, y, 2, 7, 24, 25, 2):
                        inner = in_round_rect(x, y, 4, 9, 22, 23, 1)
                        if not inner:
                            c = (250, 250, 246)
                        else:
                            hill = y > 19 - 3 * math.cos((x - 10) / 3)
                            c = (60, 140, 70) if hill else mix((110, 175, 235), (250, 205, 130), (y - 9) / 14)
                            if (x - 17) ** 2 + (y - 13) ** 2 <= 4:
                                c = (255, 220, 90)
                    # Download arrow, bottom right.
                    ax, ay = x - 24, y - 24
                    shaft = abs(ax) <= 2 and -7 <= ay <= 1
                    head = ay >= 0 and ay <= 6 and abs(ax) <= 6 - ay
                    if shaft or head:
                        c = (222, 70, 50)
                    if c is not None:
                        for k in range(3):
                            acc[k] += c[k]
                        acc[3] += 1
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                a = acc[3] / (n * n)
                row.append(tuple(int(round(acc[k] / acc[3])) for k in range(3)) + (int(round(a * 255)),))
        out.append(row)
    return out


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    w, h, rows = splash()
    write_png(os.path.join(target, "splash.png"), w, h, rows, alpha=False)
    for size in (16, 32, 48, 256):
        write_png(os.path.join(target, "tamblin-%d.png" % size), size, size, icon(size), alpha=True)


if __name__ == "__main__":
    main()
