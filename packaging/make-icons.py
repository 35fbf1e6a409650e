#!/usr/bin/env python3
"""Draws the application icon, a light green magnifier on dark gray like the window's logo, as
8-bit RGBA PNG files in the hicolor sizes into packaging/icons/hicolor/<N>x<N>/apps/.

Run from anywhere: python3 packaging/make-icons.py. Only the standard library is used, so the
icons can be made again on any machine; the output is deterministic, so a run on an unchanged
script leaves git clean.
"""
import importlib.util
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "icons", "hicolor")
ICON_NAME = "org.lumisweep.Lumisweep.png"
SIZES = (16, 24, 32, 48, 64, 128, 256)

# The window's images are drawn by the same small PNG writer.
_spec = importlib.util.spec_from_file_location(
    "make_images", os.path.join(HERE, "..", "tools", "make-images.py"))
_images = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(_images)
write_png = _images.write_png

GREEN = (0x8B, 0xC6, 0x28)
DARK_GRAY = (0x2E, 0x2E, 0x2E)


def rounded_square(radius):
    """The tile, in unit coordinates (0..1), with corners rounded by radius."""
    def inside(x, y):
        cx = min(max(x, radius), 1 - radius)
        cy = min(max(y, radius), 1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2
    return inside


def ring(cx, cy, outer, inner):
    def inside(x, y):
        d2 = (x - cx) ** 2 + (y - cy) ** 2
        return inner ** 2 <= d2 <= outer ** 2
    return inside


def capsule(x0, y0, x1, y1, half_width):
    """A thick line with round ends: the magnifier's handle."""
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half_width ** 2
    return inside


def layers_for(size):
    # Small icons get a thicker outline so that the ring does not dissolve at 16 px.
    stroke = 0.085 if size >= 48 else 0.11
    lens_x, lens_y, lens_r = 0.43, 0.43, 0.22
    handle_start = lens_r + stroke / 2
    diagonal = math.sqrt(0.5)
    green = [
        ring(lens_x, lens_y, lens_r + stroke / 2, lens_r - stroke / 2),
        capsule(lens_x + handle_start * diagonal, lens_y + handle_start * diagonal,
                0.78, 0.78, stroke * 0.75),
    ]
    return [
        (DARK_GRAY, rounded_square(0.18)),
        (GREEN, lambda x, y: any(part(x, y) for part in green)),
    ]


def render(size):
    # More samples per pixel at small sizes, where each edge pixel matters.
    samples = 8 if size <= 32 else 4
    # The shapes are drawn in unit coordinates; the image script works in pixels.
    layers = [(colour, lambda x, y, inside=inside: inside(x / size, y / size))
              for colour, inside in layers_for(size)]
    return _images.render(size, size, layers, samples)


def main():
    for size in SIZES:
        folder = os.path.join(OUT, "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        write_png(os.path.join(folder, ICON_NAME), size, size, render(size))


if __name__ == "__main__":
    main()
