#!/usr/bin/env python3
"""Draws the launcher's emblem and writes its two icon files (standard library only).

    make_icons.py OUT_DIR [--png PREVIEW.png]

OUT_DIR receives launcher.ico (the class icon: 4 and 8 bpp at 16, 24, 32, 48
and 256 px, 32 bpp at 16 to 256 px) and launcher_small.ico (three 32 px images
at 4, 8 and 32 bpp). The emblem is a flat blue rounded tile with a white arrow
dropping into a tray: two colours, so that every image compresses to little.
The 4 and 8 bpp images take their two colours from their palettes and have
hard edges; the 32 bpp ones smooth their edges with a few levels of coverage.
Shapes are signed distance functions, so every size is drawn directly
instead of being scaled from a master.

Each image is stored in the smaller of the two forms Windows reads from
Vista on: a DIB (header, palette, pixels, AND mask) or a PNG. A PNG in an
icon must be 32 bpp RGBA, whatever depth the icon directory gives the image,
so a 4 or 8 bpp image stored as PNG holds only its palette's colours, opaque
or clear. The output depends only on this file: same script, same bytes.
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

TILE = (0x1F, 0x5F, 0xBF)
WHITE = (0xFF, 0xFF, 0xFF)
# The 4 bpp images use the classic 16-colour palette, which low-colour
# displays map without dithering; its navy and white stand for the two.
VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
# Each palette: (colours, index of the tile colour, index of the glyph colour).
# Index 0 is black, as clear pixels hold in a DIB.
PALETTES = {4: (VGA16, 4, 15), 8: ([(0, 0, 0), TILE, WHITE], 1, 2)}
# Steps of edge coverage at 32 bpp, between none and full.
COVERAGE_LEVELS = 4


# --- shapes, in unit coordinates (0..1, y down); negative distance is inside ---

def box(px, py, cx, cy, hx, hy, r=0.0):
    qx = abs(px - cx) - hx + r
    qy = abs(py - cy) - hy + r
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def convex(px, py, points):
    # Largest distance to the edge lines of a convex polygon whose points run
    # clockwise on screen (y down): exact along the edges, which is all the
    # edge coverage needs.
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


def coverage(distance_units, size, levels):
    """How much of the pixel the shape covers, in `levels` steps; 1 step: inside or not."""
    exact = min(max(0.5 - distance_units * size, 0.0), 1.0)
    return math.floor(exact * levels + 0.5) / levels


def render(size, levels):
    """Rows of (tile coverage, glyph coverage) per pixel."""
    rows = []
    for j in range(size):
        y = (j + 0.5) / size
        row = []
        for i in range(size):
            x = (i + 0.5) / size
            tile = coverage(tile_distance(x, y), size, levels)
            glyph = coverage(glyph_distance(x, y), size, levels) if tile > 0 else 0.0
            row.append((tile, glyph))
        rows.append(row)
    return rows


# --- pixel formats ---

def rgba_rows(size, bpp):
    """The image as rows of (r, g, b, a): the palette's colours at 4 and 8 bpp."""
    if bpp == 32:
        out = []
        for row in render(size, COVERAGE_LEVELS):
            line = []
            for tile, glyph in row:
                colour = tuple(int(round(t + (w - t) * glyph)) for t, w in zip(TILE, WHITE))
                line.append(colour + (int(round(tile * 255)),))
            out.append(line)
        return out
    colours, tile_index, glyph_index = PALETTES[bpp]
    return [[colours[glyph_index if glyph else tile_index] + (255,) if tile else (0, 0, 0, 0)
             for tile, glyph in row] for row in render(size, 1)]


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def dib_entry(size, bpp, pixels):
    """A DIB: header, palette (only the colours used), colour rows and AND mask, bottom-up."""
    colours = PALETTES[bpp][0] if bpp != 32 else []
    xor = b""
    for row in reversed(pixels):
        if bpp == 32:
            line = bytes(v for r, g, b, a in row for v in (b, g, r, a))
        else:
            indices = [colours.index((r, g, b)) for r, g, b, _ in row]
            if bpp == 4:
                line = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, size, 2))
            else:
                line = bytes(indices)
        xor += pad4(line)
    mask = b""
    for row in reversed(pixels):
        bits = bytearray((size + 7) // 8)
        for i, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[i // 8] |= 0x80 >> (i % 8)
        mask += pad4(bytes(bits))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0,
                         len(xor) + len(mask), 0, 0, len(colours), 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in colours)
    return header + palette + xor + mask


def png_chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body
            + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))


def filtered(rows, kind):
    """PNG filter `kind` (0 none, 1 sub, 2 up) over rows of RGBA bytes, each row led by its type."""
    out = b""
    previous = bytes(len(rows[0]))
    for row in rows:
        if kind == 1:
            line = bytes((row[i] - (row[i - 4] if i >= 4 else 0)) & 0xFF for i in range(len(row)))
        elif kind == 2:
            line = bytes((row[i] - previous[i]) & 0xFF for i in range(len(row)))
        else:
            line = row
        out += bytes([kind]) + line
        previous = row
    return out


def png_entry(size, pixels):
    """The image as an RGBA PNG: of the filters and deflate strategies tried, the smallest."""
    rows = [bytes(v for px in row for v in px) for row in pixels]
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    smallest = None
    for kind in (0, 1, 2):
        raw = filtered(rows, kind)
        for strategy in (zlib.Z_DEFAULT_STRATEGY, zlib.Z_FILTERED, zlib.Z_RLE):
            packer = zlib.compressobj(9, zlib.DEFLATED, 15, 9, strategy)
            data = packer.compress(raw) + packer.flush()
            if smallest is None or len(data) < len(smallest):
                smallest = data
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + png_chunk(b"IDAT", smallest)
            + png_chunk(b"IEND", b""))


def ico_file(layout):
    images = []
    for size, bpp in layout:
        pixels = rgba_rows(size, bpp)
        images.append(min(dib_entry(size, bpp, pixels), png_entry(size, pixels), key=len))
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

    os.makedirs(args.out_dir, exist_ok=True)
    for name, layout in (("launcher.ico", CLASS_ICON), ("launcher_small.ico", SMALL_ICON)):
        with open(os.path.join(args.out_dir, name), "wb") as f:
            f.write(ico_file(layout))
    if args.png:
        with open(args.png, "wb") as f:
            f.write(png_entry(256, rgba_rows(256, 32)))


if __name__ == "__main__":
    main()
