#!/usr/bin/env python3
"""Draws the window's twelve PNG images (8-bit RGBA) into desktop/img/.

Run from anywhere: python3 tools/make-images.py. Only the standard library is used, so the
images can be made again on any machine. Shapes are drawn 4x supersampled for smooth edges.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "desktop", "img")

LIGHT_GREEN3 = (0xA9, 0xC0, 0x3E)
LIGHT_GREEN1 = (0x8B, 0xC6, 0x28)
BRAND_BLUE = (0x00, 0x2F, 0x87)
LIGHT_GRAY5 = (0x77, 0x77, 0x79)
DARK_GRAY = (0x2E, 0x2E, 0x2E)
WHITE = (0xFF, 0xFF, 0xFF)
SS = 4  # supersampling factor


def write_png(path, width, height, pixels):
    """pixels: list of rows, each a list of (r, g, b, a) tuples."""
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def render(width, height, layers, samples=SS):
    """layers: list of (colour, inside(x, y) -> bool) painted in order over transparency."""
    rows = []
    for py in range(height):
        row = []
        for px in range(width):
            r = g = b = a = 0.0
            for colour, inside in layers:
                hits = 0
                for sy in range(samples):
                    for sx in range(samples):
                        if inside(px + (sx + 0.5) / samples, py + (sy + 0.5) / samples):
                            hits += 1
                cov = hits / (samples * samples)
                if cov == 0:
                    continue
                # "over" compositing of an opaque colour with coverage cov
                na = cov + a * (1 - cov)
                r = (colour[0] * cov + r * a * (1 - cov)) / na
                g = (colour[1] * cov + g * a * (1 - cov)) / na
                b = (colour[2] * cov + b * a * (1 - cov)) / na
                a = na
            row.append((round(r), round(g), round(b), round(a * 255)))
        rows.append(row)
    return rows


def rounded_rect(x0, y0, x1, y1, radius):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2
    return inside


def circle(cx, cy, radius):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def ring(cx, cy, outer, inner):
    return lambda x, y: inner ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= outer ** 2


def segment(ax, ay, bx, by, half_width):
    def inside(x, y):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        return math.hypot(x - ax - t * dx, y - ay - t * dy) <= half_width
    return inside


def triangle(p0, p1, p2):
    def sign(a, b, c):
        return (a[0] - c[0]) * (b[1] - c[1]) - (b[0] - c[0]) * (a[1] - c[1])

    def inside(x, y):
        p = (x, y)
        d1, d2, d3 = sign(p, p0, p1), sign(p, p1, p2), sign(p, p2, p0)
        return not ((d1 < 0 or d2 < 0 or d3 < 0) and (d1 > 0 or d2 > 0 or d3 > 0))
    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def button(face, glyph):
    """80 x 26 face with a small white glyph near the right edge; the caption is QML's."""
    shapes = [(face, rounded_rect(0, 0, 80, 26, 3))]
    if glyph == "play":
        shapes.append((WHITE, triangle((62, 8), (62, 18), (71, 13))))
    else:
        shapes.append((WHITE, rect(62, 8.5, 71, 17.5)))
    return render(80, 26, shapes)


def radio(face, chosen):
    shapes = [(face, ring(10, 10, 9, 7))]
    if chosen:
        shapes = [(face, circle(10, 10, 9)), (WHITE, circle(10, 10, 3.5))]
    return render(20, 20, shapes)


def logo():
    return render(50, 40, [
        (DARK_GRAY, rect(0, 0, 50, 40)),
        (LIGHT_GREEN1, ring(22, 17, 10, 7.5)),
        (LIGHT_GREEN1, segment(29, 24, 36, 31, 2.2)),
    ])


def close(background):
    return render(40, 40, [
        (background, rect(0, 0, 40, 40)),
        (LIGHT_GREEN1, segment(14, 14, 26, 26, 1.4)),
        (LIGHT_GREEN1, segment(26, 14, 14, 26, 1.4)),
    ])


def main():
    os.makedirs(os.path.join(OUT, "brv_img"), exist_ok=True)
    images = {
        "Logo.Magnifier.png": (50, 40, logo()),
        "Close.nomal.png": (40, 40, close(DARK_GRAY)),
        # On the title bar's colour like the button at rest: hovering leaves the bar one colour.
        "Close.over.png": (40, 40, close(DARK_GRAY)),
        "Radio.nomal.png": (20, 20, radio(LIGHT_GRAY5, False)),
        "Radio.over.png": (20, 20, radio(LIGHT_GREEN3, True)),
        "Scan.nomal.png": (80, 26, button(LIGHT_GRAY5, "play")),
        "Scan.over.png": (80, 26, button(LIGHT_GREEN3, "play")),
        "Stop.nomal.png": (80, 26, button(LIGHT_GRAY5, "stop")),
        "Stop.over.png": (80, 26, button(LIGHT_GREEN3, "stop")),
        "brv_img/Radio.over.png": (20, 20, radio(BRAND_BLUE, True)),
        "brv_img/Scan.over.png": (80, 26, button(BRAND_BLUE, "play")),
        "brv_img/Stop.over.png": (80, 26, button(BRAND_BLUE, "stop")),
    }
    for name, (w, h, pixels) in images.items():
        write_png(os.path.join(OUT, name), w, h, pixels)
        print(name, w, "x", h)


if __name__ == "__main__":
    main()
