#!/usr/bin/env python3
"""Draws the launcher's emblem and writes its two icon files (standard library only).

    make_icons.py OUT_DIR [--png PREVIEW.png]

OUT_DIR receives launcher.ico (the class icon: 4 and 8 bpp at 16, 24, 32, 48
and 256 px, 32 bpp at 16 to 256 px) and launcher_small.ico (three 32 px images
at 4, 8 and 32 bpp). The emblem is a blue rounded tile with a white arrow
dropping into a tray. Shapes are signed distance functions, so every size is
drawn directly with smooth edges instead of being scaled from a master.
Images of 64 px and more are stored as PNG where that is smaller than a BMP
entry (palette PNGs at 4 and 8 bpp); the smaller ones are BMP entries.
The output depends only on this file: same script, same bytes.
"""

import argparse
import math
import os
import struct
import zlib

# Image layout of the two icon files, in directory order: (pixels, bits per pixel).
CLASS_ICON = ([(s, 4) for s in (16, 24, 32, 48, 256)]
              + [(s, 8) for s in (16, 24, 32, 48, 256)]
              + [(s, 32) for s in (16, 24, 32, 48, 64, 72, 96, 128, 256)])
SMALL_ICON = [(32, 4), (32, 8), (32, 32)]

TILE_TOP = (0x3A, 0x8D, 0xEB)
TILE_BOTTOM = (0x17, 0x4A, 0x9C)
WHITE = (0xFF, 0xFF, 0xFF)

# The classic 16-colour palette; 4 bpp images use its blue and white.
VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
VGA_TILE, VGA_WHITE = 4, 15

# 8 bpp palette: 32 steps of the tile gradient, each at 8 levels of white over it.
GRADIENT_STEPS, WHITE_LEVELS = 32, 8


# --- shapes, in unit coordinates (0..1, y down); negative distance is inside ---

def box(px, py, cx, cy, hx, hy, r=0.0):
    qx = abs(px - cx) - hx + r
    qy = abs(py - cy) - hy + r
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def convex(px, py, points):
    # Largest distance to the edge lines of a convex polygon whose points run
    # clockwise on screen (y down): exact along the edges, which is all the
    # antialiasing needs.
    d = -1e9
    n = len(points)
    for i in range(n):
        ax, ay = points[i]
        bx, by = points[(i + 1) % n]
        ex, ey = bx - ax, by - ay
        length = math.hypot(ex, ey)
        d = max(d, ((px - ax) * ey - (py - ay) * ex) / length)
    return d


ARROW_HEAD = [(0.73, 0.40), (0.50, 0.62), (0.27, 0.40)]


def tile_distance(x, y):
    return box(x, y, 0.5, 0.5, 0.45, 0.45, 0.13)


def glyph_distance(x, y):
    shaft = box(x, y, 0.5, 0.29, 0.075, 0.13)
    head = convex(x, y, ARROW_HEAD)
    tray_floor = box(x, y, 0.5, 0.755, 0.26, 0.045)
    tray_left = box(x, y, 0.285, 0.68, 0.045, 0.12)
    tray_right = box(x, y, 0.715, 0.68, 0.045, 0.12)
    return min(shaft, head, tray_floor, tray_left, tray_right)


def coverage(distance_units, size):
    return min(max(0.5 - distance_units * size, 0.0), 1.0)


def render(size):
    """Returns rows of (tile coverage, white coverage, gradient position) per pixel."""
    rows = []
    for j in range(size):
        y = (j + 0.5) / size
        row = []
        for i in range(size):
            x = (i + 0.5) / size
            tile = coverage(tile_distance(x, y), size)
            white = coverage(glyph_distance(x, y), size) if tile > 0 else 0.0
            row.append((tile, white, y))
        rows.append(row)
    return rows


def mix(a, b, t):
    return tuple(int(round(a[k] + (b[k] - a[k]) * t)) for k in range(3))


def gradient(y):
    return mix(TILE_TOP, TILE_BOTTOM, min(max((y - 0.05) / 0.9, 0.0), 1.0))


# --- pixel formats ---

def rgba_rows(rows):
    out = []
    for row in rows:
        line = []
        for tile, white, y in row:
            r, g, b = mix(gradient(y), WHITE, white)
            line.append((r, g, b, int(round(tile * 255))))
        out.append(line)
    return out


def palette_8bpp():
    colours = []
    for step in range(GRADIENT_STEPS):
        base = gradient(0.05 + 0.9 * step / (GRADIENT_STEPS - 1))
        for level in range(WHITE_LEVELS):
            colours.append(mix(base, WHITE, level / (WHITE_LEVELS - 1)))
    return colours


def index_rows(rows, bpp):
    """Palette indices plus an opaque flag per pixel; paletted images have hard outer edges."""
    out = []
    for row in rows:
        line = []
        for tile, white, y in row:
            opaque = tile >= 0.5
            if bpp == 4:
                index = VGA_WHITE if white >= 0.5 else VGA_TILE
            else:
                t = min(max((y - 0.05) / 0.9, 0.0), 1.0)
                step = int(round(t * (GRADIENT_STEPS - 1)))
                index = step * WHITE_LEVELS + int(round(white * (WHITE_LEVELS - 1)))
            line.append((index if opaque else 0, opaque))
        out.append(line)
    return out


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def and_mask(opaque_rows, size):
    # One bit per pixel, set where the pixel is transparent; rows bottom-up.
    data = b""
    for row in reversed(opaque_rows):
        bits = bytearray((size + 7) // 8)
        for i, opaque in enumerate(row):
            if not opaque:
                bits[i // 8] |= 0x80 >> (i % 8)
        data += pad4(bytes(bits))
    return data


def bmp_entry(size, bpp, rows):
    colours = []
    if bpp == 32:
        pixels = rgba_rows(rows)
        xor = b"".join(bytes(v for r, g, b, a in row for v in (b, g, r, a))
                       for row in reversed(pixels))
        opaque = [[a > 0 for (_, _, _, a) in row] for row in pixels]
    else:
        colours = VGA16 if bpp == 4 else palette_8bpp()
        indexed = index_rows(rows, bpp)
        xor = b""
        for row in reversed(indexed):
            if bpp == 8:
                line = bytes(index for index, _ in row)
            else:
                line = bytes((row[i][0] << 4) | row[i + 1][0] for i in range(0, size, 2))
            xor += pad4(line)
        opaque = [[o for _, o in row] for row in indexed]
    mask = and_mask(opaque, size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0,
                         len(xor) + len(mask), 0, 0, len(colours), 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in colours)
    return header + palette + xor + mask


def png_chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body
            + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))


def png_file(size, depth, colour_type, raw_rows, extra=b""):
    ihdr = struct.pack(">IIBBBBB", size, size, depth, colour_type, 0, 0, 0)
    raw = b"".join(b"\0" + row for row in raw_rows)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + extra
            + png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b""))


def png_entry(size, bpp, rows):
    """The same image as bmp_entry, as PNG: RGBA at 32 bpp, else a palette of 4 or 8 bits."""
    if bpp == 32:
        return png_file(size, 8, 6, [bytes(v for px in row for v in px) for row in rgba_rows(rows)])
    colours = VGA16 if bpp == 4 else palette_8bpp()
    indexed = index_rows(rows, bpp)
    # Transparency comes from a palette entry that no opaque pixel uses.
    used = {index for row in indexed for index, opaque in row if opaque}
    clear = min(set(range(len(colours))) - used)
    lines = []
    for row in indexed:
        indices = [index if opaque else clear for index, opaque in row]
        if bpp == 4:
            lines.append(bytes((indices[i] << 4) | indices[i + 1] for i in range(0, size, 2)))
        else:
            lines.append(bytes(indices))
    plte = png_chunk(b"PLTE", b"".join(bytes(c) for c in colours))
    trns = png_chunk(b"tRNS", bytes(0 if i == clear else 255 for i in range(clear + 1)))
    return png_file(size, bpp, 3, lines, plte + trns)


# Windows reads PNG icon images from Vista on, the oldest system the manifest
# names. Images from 64 px up are stored as PNG wherever that is smaller;
# the small ones stay BMP, which every icon reader knows.
PNG_FROM_SIDE = 64


def ico_file(layout, renders):
    images = []
    for size, bpp in layout:
        image = bmp_entry(size, bpp, renders[size])
        if size >= PNG_FROM_SIDE:
            png = png_entry(size, bpp, renders[size])
            image = min(image, png, key=len)
        images.append(image)
    data = struct.pack("<HHH", 0, 1, len(layout))
    offset = 6 + 16 * len(layout)
    for (size, bpp), image in zip(layout, images):
        data += struct.pack("<BBBBHHII", size % 256, size % 256, 16 if bpp == 4 else 0, 0,
                            1, bpp, len(image), offset)
        offset += len(image)
    return data + b"".join(images)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out_dir")
    parser.add_argument("--png", help="also write a 256 px preview PNG here")
    args = parser.parse_args()

    renders = {size: render(size) for size in sorted({s for s, _ in CLASS_ICON + SMALL_ICON})}
    os.makedirs(args.out_dir, exist_ok=True)
    for name, layout in (("launcher.ico", CLASS_ICON), ("launcher_small.ico", SMALL_ICON)):
        with open(os.path.join(args.out_dir, name), "wb") as f:
            f.write(ico_file(layout, renders))
    if args.png:
        with open(args.png, "wb") as f:
            f.write(png_entry(256, 32, renders[256]))


if __name__ == "__main__":
    main()
