#!/usr/bin/env python3
"""Draws the program's pictures into resources/images/:

  191.png  green indicator light, 356 x 344, RGBA, transparent surround
  192.png  red indicator light, same size
  128.png  program icon, 256 x 256, RGBA

Plain Python (zlib only), so that the pictures can be redrawn anywhere:
    python3 resources/tools/make_images.py
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "images")


def write_png(path, width, height, pixels):
    """pixels: function (x, y) -> (r, g, b, a), each 0..255."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)  # no filter
        for x in range(width):
            rows.extend(bytes(pixels(x, y)))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(bytes(rows), 9)))
        f.write(chunk(b"IEND", b""))


def clamp(v):
    return max(0, min(255, int(round(v))))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def light(width, height, dark, bright):
    cx, cy = width / 2.0, height / 2.0
    radius = min(width, height) / 2.0 - 6.0
    ring = radius * 0.08

    def pixel(x, y):
        px, py = x + 0.5, y + 0.5
        d = math.hypot(px - cx, py - cy)
        coverage = max(0.0, min(1.0, radius - d + 0.5))
        if coverage <= 0.0:
            return (0, 0, 0, 0)
        if d > radius - ring:
            # Dark bezel around the lens.
            t = (d - (radius - ring)) / ring
            colour = mix((90, 90, 90), (40, 40, 40), t)
        else:
            # Lens: bright centre fading to the dark rim.
            t = d / (radius - ring)
            colour = mix(bright, dark, t ** 1.5)
            # Gloss: a soft white highlight in the upper part.
            hx, hy = cx, cy - radius * 0.45
            hd = math.hypot((px - hx) / 1.6, py - hy) / (radius * 0.38)
            if hd < 1.0:
                colour = mix(colour, (255, 255, 255), 0.65 * (1.0 - hd) ** 1.2)
        return (clamp(colour[0]), clamp(colour[1]), clamp(colour[2]), clamp(255 * coverage))

    return pixel


def icon(size):
    c = size / 2.0
    radius = size / 2.0 - 4.0

    def pixel(x, y):
        px, py = x + 0.5, y + 0.5
        d = math.hypot(px - c, py - c)
        coverage = max(0.0, min(1.0, radius - d + 0.5))
        if coverage <= 0.0:
            return (0, 0, 0, 0)
        colour = mix((20, 60, 110), (5, 20, 45), d / radius)
        # Range rings and a sweep wedge.
        for k in (0.3, 0.55, 0.8):
            if abs(d - radius * k) < size * 0.012:
                colour = (90, 200, 120)
        angle = math.degrees(math.atan2(c - py, px - c)) % 360
        if 20 <= angle <= 70 and d < radius * 0.95:
            colour = mix(colour, (90, 230, 130), 0.45 * (1 - (angle - 20) / 50))
        if math.hypot(px - c * 1.25, py - c * 0.7) < size * 0.035:
            colour = (255, 80, 60)
        return (clamp(colour[0]), clamp(colour[1]), clamp(colour[2]), clamp(255 * coverage))

    return pixel


def main():
    os.makedirs(OUT, exist_ok=True)
    write_png(os.path.join(OUT, "191.png"), 356, 344, light(356, 344, (0, 90, 20), (120, 255, 120)))
    write_png(os.path.join(OUT, "192.png"), 356, 344, light(356, 344, (110, 0, 0), (255, 120, 110)))
    write_png(os.path.join(OUT, "128.png"), 256, 256, icon(256))


if __name__ == "__main__":
    main()
