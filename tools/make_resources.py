#!/usr/bin/env python3
"""Draws the stub's pictures and writes them in the forms the resource compiler takes.

    make_resources.py --out DIR [--png DIR]
    make_resources.py --self-test

Writes into DIR:
  program.ico       icon 100: an opened carton with an application window behind it (32x32, 256 colours)
  password.ico      icon 101: two keys and a padlock (32x32 and 16x16, 16 colours)
  replace.ico       icon 102: two documents with exchange arrows, the back one struck through (32x32, 16 colours)
  paper_flight.avi  clip 107: a sheet of paper flying from an open folder to a folder (RIFF AVI, one video
                    stream, 272x60, 8 bits per pixel, BI_RLE8 "mrle", 20 frames at 10 per second)
With --png, every clip frame (decoded back from the written file) and every icon image also goes to DIR as a
PNG, for a person to look at.

Everything is drawn here from plain shapes, with the standard library only, so the same script always gives
the same bytes. Before it writes anything it reads its own output back: the RLE8 stream of every frame must
decode to exactly the frame that was drawn, the AVI's headers, stream list and index must agree with each
other and with the chunks, and the icon directories must describe their images. It exits non-zero when any
of that fails. --self-test shows that those checks catch damaged files.
"""

import argparse
import math
import os
import struct
import sys
import zlib

# ---------------------------------------------------------------------------------------------------------
# Drawing: a canvas of palette indices (None = transparent, for icons).


class Canvas:
    def __init__(self, width, height, fill=None):
        self.width = width
        self.height = height
        self.pixels = [[fill] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        """Filled rectangle, both corners inclusive."""
        for y in range(max(y0, 0), min(y1, self.height - 1) + 1):
            row = self.pixels[y]
            for x in range(max(x0, 0), min(x1, self.width - 1) + 1):
                row[x] = colour

    def box(self, x0, y0, x1, y1, fill, outline):
        self.rect(x0, y0, x1, y1, outline)
        self.rect(x0 + 1, y0 + 1, x1 - 1, y1 - 1, fill)

    def line(self, x0, y0, x1, y1, colour):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.put(x0, y0, colour)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def polygon(self, points, fill, outline=None):
        """Filled polygon (pixel centres inside, even-odd rule), optionally outlined."""
        ys = [p[1] for p in points]
        for y in range(max(int(math.floor(min(ys))), 0), min(int(math.ceil(max(ys))), self.height - 1) + 1):
            cy = y + 0.5
            xs = []
            for i in range(len(points)):
                (ax, ay), (bx, by) = points[i], points[(i + 1) % len(points)]
                if (ay <= cy < by) or (by <= cy < ay):
                    xs.append(ax + (cy - ay) * (bx - ax) / (by - ay))
            xs.sort()
            for i in range(0, len(xs) - 1, 2):
                for x in range(int(math.ceil(xs[i] - 0.5)), int(math.floor(xs[i + 1] - 0.5)) + 1):
                    self.put(x, y, fill)
        if outline is not None:
            for i in range(len(points)):
                (ax, ay), (bx, by) = points[i], points[(i + 1) % len(points)]
                self.line(int(round(ax)), int(round(ay)), int(round(bx)), int(round(by)), outline)

    def disc(self, cx, cy, r, fill, outline=None):
        for y in range(int(cy - r - 1), int(cy + r + 2)):
            for x in range(int(cx - r - 1), int(cx + r + 2)):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
                if d <= r:
                    self.put(x, y, outline if outline is not None and d > r - 1.0 else fill)

    def ring(self, cx, cy, r_outer, r_inner, colour, upper_only=False):
        for y in range(int(cy - r_outer - 1), int(cy + r_outer + 2)):
            if upper_only and y + 0.5 > cy:
                continue
            for x in range(int(cx - r_outer - 1), int(cx + r_outer + 2)):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
                if r_inner <= d <= r_outer:
                    self.put(x, y, colour)


# ---------------------------------------------------------------------------------------------------------
# Palettes (RGB triples).

# The platform's 16 standard colours, in the order 4-bit bitmaps use.
VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
    (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_RED, DARK_GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER, GREY, RED, GREEN, YELLOW, BLUE, MAGENTA, \
    CYAN, WHITE = range(16)


def ramp(start, end, steps):
    return [tuple(round(a + (b - a) * i / (steps - 1)) for a, b in zip(start, end)) for i in range(steps)]


# The program icon's 256-colour palette: the 16 standard colours, then shaded ramps for the carton's faces and
# the window, the rest black.
CARTON_FRONT = 16          # 12 shades, light to dark
CARTON_SIDE = 28           # 8 shades
CARTON_INSIDE = 36         # 6 shades
TITLE_BAR = 42             # 12 shades, dark blue to light blue
TAPE = 54
PROGRAM_PALETTE = (VGA + ramp((236, 196, 128), (176, 124, 60), 12) + ramp((176, 126, 64), (120, 80, 36), 8)
                   + ramp((110, 72, 34), (70, 44, 20), 6) + ramp((0, 32, 128), (96, 160, 240), 12)
                   + [(222, 206, 160)])
PROGRAM_PALETTE += [(0, 0, 0)] * (256 - len(PROGRAM_PALETTE))


# ---------------------------------------------------------------------------------------------------------
# The icons.


def draw_program_icon():
    c = Canvas(32, 32)
    # The application window behind: frame, title bar shading from dark to light, client area with text.
    c.box(9, 1, 30, 21, WHITE, BLACK)
    for i, x in enumerate(range(10, 30)):
        c.rect(x, 2, x, 5, TITLE_BAR + min(11, i * 12 // 20))
    c.rect(26, 3, 28, 4, SILVER)
    c.put(28, 3, BLACK)
    for y in (8, 10, 12):
        c.rect(20, y, 28, y, GREY)
    # The carton: front face shaded top to bottom, right side darker, open flaps above.
    inside = [(4, 15), (20, 15), (26, 12), (10, 12)]
    c.polygon(inside, CARTON_INSIDE + 3)
    c.polygon([(10, 12), (26, 12), (20, 15), (4, 15)], CARTON_INSIDE + 1, BLACK)
    for y in range(16, 31):
        c.rect(3, y, 20, y, CARTON_FRONT + (y - 16) * 11 // 14)
    c.polygon([(21, 15.5), (27, 12.5), (27, 27.5), (21, 30.5)], CARTON_SIDE + 3)
    for y in range(14, 29):
        c.put(26, y, CARTON_SIDE + 6)
    c.line(3, 15, 3, 30, BLACK)
    c.line(3, 30, 20, 30, BLACK)
    c.line(20, 15, 20, 30, BLACK)
    c.line(21, 30, 27, 27, BLACK)
    c.line(27, 12, 27, 27, BLACK)
    c.rect(4, 20, 19, 21, TAPE)
    # Flaps: front flap folded down towards the viewer, left flap leaning out, right flap up behind.
    c.polygon([(3, 15), (20, 15), (17, 19.5), (0, 19.5)], CARTON_FRONT + 1, BLACK)
    c.polygon([(3, 15), (10, 12), (5, 7), (0, 10)], CARTON_FRONT + 4, BLACK)
    c.polygon([(20, 15), (27, 12), (31, 14), (25, 18)], CARTON_SIDE + 1, BLACK)
    return c


def draw_key(c, bow_x, bow_y, length, r, body, outline, teeth_down=True):
    c.disc(bow_x, bow_y, r, body, outline)
    c.disc(bow_x, bow_y, max(r / 3.0, 1.0), None)
    shaft_y = int(bow_y)
    x0 = int(bow_x + r - 1)
    c.rect(x0, shaft_y - 1, x0 + length, shaft_y + (1 if r > 3 else 0), body)
    c.line(x0, shaft_y - 2, x0 + length, shaft_y - 2, outline)
    c.line(x0, shaft_y + (2 if r > 3 else 1), x0 + length, shaft_y + (2 if r > 3 else 1), outline)
    c.line(x0 + length, shaft_y - 2, x0 + length, shaft_y + (2 if r > 3 else 1), outline)
    step = 3 if r > 3 else 2
    for tx in range(x0 + length - (2 if r > 3 else 1), x0 + length - 3 * step, -step):
        ty = shaft_y + (2 if r > 3 else 1)
        c.rect(tx - (1 if r > 3 else 0), ty, tx, ty + (2 if r > 3 else 1), outline)


def draw_password_icon(size):
    c = Canvas(size, size)
    if size == 32:
        # Padlock at the right: shackle, body, keyhole.
        c.ring(22, 14, 7, 4, GREY, upper_only=True)
        c.rect(15, 14, 17, 17, GREY)
        c.rect(26, 14, 28, 17, GREY)
        c.ring(22, 14, 6, 5, SILVER, upper_only=True)
        c.box(13, 16, 31, 30, YELLOW, BLACK)
        c.rect(14, 27, 30, 29, OLIVE)
        c.rect(21, 19, 23, 22, BLACK)
        c.rect(20, 20, 24, 21, BLACK)
        c.rect(22, 23, 22, 26, BLACK)
        c.rect(21, 25, 23, 26, BLACK)
        # Two keys in front, at the left.
        draw_key(c, 6, 9, 12, 5, SILVER, BLACK)
        draw_key(c, 5, 22, 10, 4.5, YELLOW, BLACK)
    else:
        c.ring(11, 7, 4, 2, GREY, upper_only=True)
        c.rect(7, 7, 8, 8, GREY)
        c.rect(14, 7, 15, 8, GREY)
        c.box(6, 8, 15, 15, YELLOW, BLACK)
        c.put(11, 11, BLACK)
        c.rect(11, 12, 11, 13, BLACK)
        draw_key(c, 3, 4, 5, 3, SILVER, BLACK)
        draw_key(c, 2, 11, 4, 2.5, YELLOW, BLACK)
    return c


def draw_document(c, x0, y0, x1, y1):
    fold = 4
    c.polygon([(x0, y0), (x1 - fold, y0), (x1, y0 + fold), (x1, y1), (x0, y1)], WHITE)
    c.line(x0, y0, x1 - fold, y0, BLACK)
    c.line(x1 - fold, y0, x1, y0 + fold, BLACK)
    c.line(x1, y0 + fold, x1, y1, BLACK)
    c.line(x1, y1, x0, y1, BLACK)
    c.line(x0, y1, x0, y0, BLACK)
    c.polygon([(x1 - fold, y0), (x1 - fold, y0 + fold), (x1, y0 + fold)], SILVER, BLACK)
    for y in range(y0 + 4, y1 - 1, 2):
        c.line(x0 + 2, y, x1 - 3, y, GREY)


def draw_replace_icon():
    c = Canvas(32, 32)
    # The back document (the one that goes), struck through in red.
    draw_document(c, 1, 1, 15, 19)
    c.line(1, 19, 15, 1, RED)
    c.line(2, 19, 16, 1, RED)
    c.line(0, 18, 14, 0, DARK_RED)
    # The front document (the one that comes).
    draw_document(c, 16, 12, 30, 30)
    # Exchange arrows: one from the back document over to the front one, one back again below.
    c.rect(17, 3, 26, 4, GREEN)
    c.rect(25, 3, 26, 9, GREEN)
    c.polygon([(21.5, 9), (30.5, 9), (26, 13.5)], GREEN, DARK_GREEN)
    c.line(17, 2, 27, 2, DARK_GREEN)
    c.line(27, 2, 27, 9, DARK_GREEN)
    c.rect(5, 26, 15, 27, BLUE)
    c.rect(5, 22, 6, 27, BLUE)
    c.polygon([(1.5, 22), (10.5, 22), (6, 17.5)], BLUE, NAVY)
    c.line(4, 28, 15, 28, NAVY)
    c.line(4, 22, 4, 28, NAVY)
    return c


# ---------------------------------------------------------------------------------------------------------
# Icon files: a directory, then for each image a BITMAPINFOHEADER of double height, the palette, the colour
# rows and the transparency mask rows, both bottom-up and padded to 32 bits.


def icon_image(canvas, bits, palette):
    w, h = canvas.width, canvas.height
    colours = 1 << bits
    pal = bytearray()
    for i in range(colours):
        r, g, b = palette[i] if i < len(palette) else (0, 0, 0)
        pal += bytes((b, g, r, 0))
    xor_stride = (w * bits + 31) // 32 * 4
    and_stride = (w + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        row = canvas.pixels[y]
        line = bytearray(xor_stride)
        mline = bytearray(and_stride)
        for x, p in enumerate(row):
            if p is None:
                mline[x // 8] |= 0x80 >> (x % 8)
                p = 0
            if bits == 8:
                line[x] = p
            else:
                line[x // 2] |= p << (4 if x % 2 == 0 else 0)
        xor += line
        mask += mline
    header = struct.pack('<IiiHHIIiiII', 40, w, 2 * h, 1, bits, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return bytes(header + pal + xor + mask)


def icon_file(images):
    """images: list of (canvas, bits, palette)."""
    data = [icon_image(*im) for im in images]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for (canvas, bits, _), blob in zip(images, data):
        out += struct.pack('<BBBBHHII', canvas.width % 256, canvas.height % 256, (1 << bits) % 256, 0, 1, bits,
                           len(blob), offset)
        offset += len(blob)
    for blob in data:
        out += blob
    return bytes(out)


def check_icon_file(name, blob, expected):
    """expected: list of (width, bits) in directory order."""
    reserved, kind, count = struct.unpack_from('<HHH', blob, 0)
    require(reserved == 0 and kind == 1 and count == len(expected), name, 'icon directory header')
    end = 6 + 16 * count
    for i, (width, bits) in enumerate(expected):
        w, h, colours, _, planes, bitcount, size, offset = struct.unpack_from('<BBBBHHII', blob, 6 + 16 * i)
        require((w, h, planes, bitcount) == (width, width, 1, bits), name, 'directory entry %d' % i)
        require(colours == (1 << bits) % 256, name, 'colour count of entry %d' % i)
        require(offset == end and offset + size <= len(blob), name, 'image %d offset' % i)
        hsize, bw, bh, bplanes, bbits = struct.unpack_from('<IiiHH', blob, offset)
        stride = (width * bits + 31) // 32 * 4
        mstride = (width + 31) // 32 * 4
        require((hsize, bw, bh, bplanes, bbits) == (40, width, 2 * width, 1, bits), name, 'bitmap header %d' % i)
        require(size == 40 + 4 * (1 << bits) + width * (stride + mstride), name, 'image %d size' % i)
        end = offset + size
    require(end == len(blob), name, 'file length')


# ---------------------------------------------------------------------------------------------------------
# The clip: 272x60, magenta background. An open folder at the left, a closed folder at the right, and a sheet
# of paper that rises out of the left one, tumbles over in an arc and drops into the right one.

CLIP_WIDTH, CLIP_HEIGHT, CLIP_FRAMES, CLIP_FRAME_MICROSECONDS = 272, 60, 20, 100000
# Palette indices of the clip; background first so that the frame's first pixel is the background.
BG, INK, FOLDER_BACK, FOLDER_FRONT, FOLDER_LIGHT, PAPER, PAPER_SHADE, PAPER_LINE, SHADOW = range(9)
CLIP_PALETTE = [(255, 0, 255), (0, 0, 0), (204, 153, 0), (255, 204, 51), (255, 232, 140), (255, 255, 255),
                (200, 200, 208), (112, 128, 176), (128, 96, 0)]
CLIP_PALETTE += [(0, 0, 0)] * (256 - len(CLIP_PALETTE))


def folder_back(c, x0, y0, x1, y1):
    # The back panel with its tab at the upper left.
    c.polygon([(x0, y0 + 4), (x0 + 3, y0), (x0 + 16, y0), (x0 + 19, y0 + 4), (x1, y0 + 4), (x1, y1), (x0, y1)],
              FOLDER_BACK, INK)


def folder_papers(c, x0, y0, x1):
    # Sheets standing in the folder, their tops showing above the front panel.
    c.box(x0 + 5, y0 + 7, x1 - 8, y0 + 20, PAPER, INK)
    c.box(x0 + 8, y0 + 9, x1 - 4, y0 + 20, PAPER, INK)
    for y in range(y0 + 12, y0 + 19, 2):
        c.line(x0 + 10, y, x1 - 7, y, PAPER_LINE)


def draw_left_front(c):
    # The open folder's front panel, tilted down towards the viewer.
    c.polygon([(2, 33), (52, 33), (60, 55), (10, 55)], FOLDER_FRONT, INK)
    c.line(4, 34, 51, 34, FOLDER_LIGHT)


def draw_right_front(c):
    c.polygon([(214, 28), (268, 28), (268, 55), (214, 55)], FOLDER_FRONT, INK)
    c.line(215, 29, 267, 29, FOLDER_LIGHT)
    c.line(216, 53, 267, 53, SHADOW)


def paper_pose(frame):
    """Centre, turn (radians) and apparent width factor of the flying sheet in one frame."""
    s = frame / (CLIP_FRAMES - 1)
    x = 32 + (240 - 32) * s
    y = 30 - 88 * s * (1 - s)
    turn = math.sin(math.pi * 2 * s) * 0.55
    width_factor = 0.35 + 0.65 * abs(math.cos(math.pi * 1.5 * s))
    return x, y, turn, width_factor


def draw_paper(c, frame):
    x, y, turn, width_factor = paper_pose(frame)
    hw, hh = 8 * width_factor, 10

    def at(u, v):
        return (x + u * math.cos(turn) - v * math.sin(turn), y + u * math.sin(turn) + v * math.cos(turn))

    shade = PAPER if width_factor > 0.6 else PAPER_SHADE
    c.polygon([at(-hw, -hh), at(hw, -hh), at(hw, hh), at(-hw, hh)], shade, INK)
    if hw > 3:
        for v in (-5, -2, 1, 4):
            (ax, ay), (bx, by) = at(-hw + 2.5, v), at(hw - 2.5, v)
            c.line(int(round(ax)), int(round(ay)), int(round(bx)), int(round(by)), PAPER_LINE)


def draw_clip_frame(frame):
    c = Canvas(CLIP_WIDTH, CLIP_HEIGHT, BG)
    folder_back(c, 6, 20, 56, 52)
    folder_papers(c, 6, 20, 56)
    folder_back(c, 214, 16, 268, 55)
    draw_paper(c, frame)
    draw_left_front(c)
    draw_right_front(c)
    return c


# ---------------------------------------------------------------------------------------------------------
# RLE8 (bottom-up rows). A key frame codes every pixel; every later frame codes only what changed since the
# frame before it and skips the rest with delta escapes, so a still background costs nothing.

ESCAPE, END_OF_LINE, END_OF_BITMAP, DELTA = 0, 0, 1, 2


def rle8_pixels(out, pixels):
    """Codes a stretch of pixels of one row: runs as (count, index), the rest in absolute mode."""
    i, n = 0, len(pixels)
    while i < n:
        run = 1
        while i + run < n and run < 255 and pixels[i + run] == pixels[i]:
            run += 1
        if run >= 2 or n - i < 3:
            out += bytes((run, pixels[i]))
            i += run
            continue
        # A literal stretch lasts until a run of three equal pixels begins.
        j = i
        while j < n and j - i < 255:
            if j + 2 < n and pixels[j] == pixels[j + 1] == pixels[j + 2]:
                break
            j += 1
        if j - i < 3:
            for k in range(i, j):
                out += bytes((1, pixels[k]))
        else:
            out += bytes((ESCAPE, j - i)) + bytes(pixels[i:j])
            if (j - i) % 2:
                out.append(0)
        i = j


def rle8_key_frame(rows):
    out = bytearray()
    for y, row in enumerate(rows):
        rle8_pixels(out, row)
        if y != len(rows) - 1:
            out += bytes((ESCAPE, END_OF_LINE))
    out += bytes((ESCAPE, END_OF_BITMAP))
    return bytes(out)


def rle8_delta_frame(previous, rows, gap=6):
    """Codes only the changed pixels, moving between them with end-of-line and delta escapes. Unchanged
    pixels closer together than `gap` are coded again, as that is shorter than a delta escape."""
    out = bytearray()
    cx, cy = 0, 0
    width = len(rows[0])
    for y, (old, new) in enumerate(zip(previous, rows)):
        changed = [x for x in range(width) if old[x] != new[x]]
        if not changed:
            continue
        spans = []
        start = last = changed[0]
        for x in changed[1:]:
            if x - last > gap:
                spans.append((start, last))
                start = x
            last = x
        spans.append((start, last))
        for x0, x1 in spans:
            if y > cy and x0 < cx:
                out += bytes((ESCAPE, END_OF_LINE))
                cx, cy = 0, cy + 1
            while y > cy or x0 > cx:
                dx, dy = min(x0 - cx, 255), min(y - cy, 255)
                out += bytes((ESCAPE, DELTA, dx, dy))
                cx, cy = cx + dx, cy + dy
            rle8_pixels(out, new[x0:x1 + 1])
            cx = x1 + 1
    out += bytes((ESCAPE, END_OF_BITMAP))
    return bytes(out)


def rle8_decode(data, width, height, canvas_rows):
    """Applies one RLE8 frame to rows (bottom-up, modified in place); raises on any malformed code."""
    x, y, i = 0, 0, 0
    while True:
        require(i + 1 < len(data), 'rle8', 'stream ends without end-of-bitmap')
        count, value = data[i], data[i + 1]
        i += 2
        if count:
            require(y < height and x + count <= width, 'rle8', 'run outside the frame')
            canvas_rows[y][x:x + count] = [value] * count
            x += count
        elif value == END_OF_LINE:
            x, y = 0, y + 1
        elif value == END_OF_BITMAP:
            require(i == len(data), 'rle8', 'bytes after end-of-bitmap')
            return
        elif value == DELTA:
            x, y = x + data[i], y + data[i + 1]
            i += 2
            require(x <= width and y <= height, 'rle8', 'delta outside the frame')
        else:
            require(y < height and x + value <= width and i + value <= len(data), 'rle8', 'absolute run outside')
            canvas_rows[y][x:x + value] = list(data[i:i + value])
            x += value
            i += value + (value & 1)


# ---------------------------------------------------------------------------------------------------------
# The AVI file: RIFF 'AVI ' { LIST 'hdrl' { avih, LIST 'strl' { strh, strf } }, LIST 'movi' { 00dc... },
# idx1 }.

AVIF_HASINDEX = 0x10
AVIIF_KEYFRAME = 0x10
BI_RLE8 = 1


def chunk(fourcc, payload):
    data = fourcc + struct.pack('<I', len(payload)) + payload
    return data + (b'\0' if len(payload) % 2 else b'')


def riff_list(kind, fourcc, parts):
    body = fourcc + b''.join(parts)
    return kind + struct.pack('<I', len(body)) + body


def bitmap_info(size_image):
    header = struct.pack('<IiiHHIIiiII', 40, CLIP_WIDTH, CLIP_HEIGHT, 1, 8, BI_RLE8, size_image, 0, 0, 256, 0)
    return header + b''.join(bytes((b, g, r, 0)) for r, g, b in CLIP_PALETTE)


def avi_file(frames):
    largest = max(len(f) for f in frames)
    buffer_size = largest + (largest & 1)
    fps_scale, fps_rate = 1, 1000000 // CLIP_FRAME_MICROSECONDS
    avih = struct.pack('<IIIIIIIIII4I', CLIP_FRAME_MICROSECONDS, buffer_size * fps_rate, 0, AVIF_HASINDEX,
                       len(frames), 0, 1, buffer_size, CLIP_WIDTH, CLIP_HEIGHT, 0, 0, 0, 0)
    strh = struct.pack('<4s4sIHHIIIIIIIIhhhh', b'vids', b'mrle', 0, 0, 0, 0, fps_scale, fps_rate, 0,
                       len(frames), buffer_size, 0xFFFFFFFF, 0, 0, 0, CLIP_WIDTH, CLIP_HEIGHT)
    hdrl = riff_list(b'LIST', b'hdrl', [chunk(b'avih', avih),
                                         riff_list(b'LIST', b'strl', [chunk(b'strh', strh),
                                                                     chunk(b'strf', bitmap_info(largest))])])
    movi_chunks = [chunk(b'00dc', f) for f in frames]
    index = bytearray()
    offset = 4  # the index counts from the 'movi' type code
    for i, (f, ch) in enumerate(zip(frames, movi_chunks)):
        index += struct.pack('<4sIII', b'00dc', AVIIF_KEYFRAME if i == 0 else 0, offset, len(f))
        offset += len(ch)
    movi = riff_list(b'LIST', b'movi', movi_chunks)
    return riff_list(b'RIFF', b'AVI ', [hdrl, movi, chunk(b'idx1', bytes(index))])


def read_chunks(data, start, end):
    """The chunks between start and end as (fourcc, list type or None, payload start, payload size)."""
    out = []
    pos = start
    while pos < end:
        require(pos + 8 <= end, 'avi', 'chunk header runs past its parent')
        fourcc, size = data[pos:pos + 4], struct.unpack_from('<I', data, pos + 4)[0]
        require(pos + 8 + size <= end, 'avi', 'chunk %r runs past its parent' % fourcc)
        if fourcc in (b'LIST', b'RIFF'):
            out.append((fourcc, data[pos + 8:pos + 12], pos + 12, size - 4))
        else:
            out.append((fourcc, None, pos + 8, size))
        pos += 8 + size + (size & 1)
    require(pos == end, 'avi', 'chunks do not fill their parent')
    return out


def check_avi(data, drawn):
    """Reads the file back as a player would and compares it with the frames drawn."""
    (riff,) = read_chunks(data, 0, len(data))
    require(riff[0] == b'RIFF' and riff[1] == b'AVI ', 'avi', 'RIFF AVI header')
    top = read_chunks(data, riff[2], riff[2] + riff[3])
    require([(c[0], c[1]) for c in top] == [(b'LIST', b'hdrl'), (b'LIST', b'movi'), (b'idx1', None)],
            'avi', 'top-level layout')
    hdrl, movi, idx1 = top
    hdr = read_chunks(data, hdrl[2], hdrl[2] + hdrl[3])
    require([(c[0], c[1]) for c in hdr] == [(b'avih', None), (b'LIST', b'strl')], 'avi', 'header list')
    avih = struct.unpack_from('<IIIIIIIIII', data, hdr[0][2])
    require(hdr[0][3] == 56, 'avi', 'avih size')
    us, _, _, flags, total, initial, streams, avih_buffer, width, height = avih
    require(us == CLIP_FRAME_MICROSECONDS and flags & AVIF_HASINDEX and total == CLIP_FRAMES and initial == 0
            and streams == 1 and (width, height) == (CLIP_WIDTH, CLIP_HEIGHT), 'avi', 'main header values')
    strl = read_chunks(data, hdr[1][2], hdr[1][2] + hdr[1][3])
    require([c[0] for c in strl] == [b'strh', b'strf'], 'avi', 'stream list')
    require(strl[0][3] == 56, 'avi', 'strh size')
    (kind, handler, _, _, _, _, scale, rate, start, length, strh_buffer, _, sample_size,
     left, top_, right, bottom) = struct.unpack_from('<4s4sIHHIIIIIIIIhhhh', data, strl[0][2])
    require(kind == b'vids' and handler == b'mrle', 'avi', 'stream type and handler')
    require(scale * 1000000 == rate * CLIP_FRAME_MICROSECONDS, 'avi', 'stream rate disagrees with the main header')
    require(start == 0 and length == total and sample_size == 0, 'avi', 'stream length')
    require((left, top_, right, bottom) == (0, 0, width, height), 'avi', 'stream frame rectangle')
    require(strl[1][3] == 40 + 256 * 4, 'avi', 'strf size')
    (bsize, bw, bh, planes, bits, compression, size_image, _, _, used, _) = struct.unpack_from(
        '<IiiHHIIiiII', data, strl[1][2])
    require((bsize, bw, bh, planes, bits, compression, used) == (40, width, height, 1, 8, BI_RLE8, 256),
            'avi', 'bitmap header')
    palette = [tuple(data[strl[1][2] + 40 + 4 * i + k] for k in (2, 1, 0)) for i in range(256)]
    require(palette == CLIP_PALETTE, 'avi', 'palette')
    frames = read_chunks(data, movi[2], movi[2] + movi[3])
    require(len(frames) == total and all(f[0] == b'00dc' for f in frames), 'avi', 'movi chunks')
    require(idx1[3] == 16 * total, 'avi', 'index length')
    movi_type_at = movi[2] - 4
    rows = [[BG] * width for _ in range(height)]
    decoded = []
    for i, f in enumerate(frames):
        ckid, iflags, offset, size = struct.unpack_from('<4sIII', data, idx1[2] + 16 * i)
        require(ckid == b'00dc' and movi_type_at + offset == f[2] - 8 and size == f[3], 'avi',
                'index entry %d does not point at its chunk' % i)
        require(bool(iflags & AVIIF_KEYFRAME) == (i == 0), 'avi', 'key frame flag of frame %d' % i)
        require(size <= strh_buffer and size <= avih_buffer and size <= size_image, 'avi',
                'frame %d exceeds the suggested buffer' % i)
        rle8_decode(data[f[2]:f[2] + f[3]], width, height, rows)
        picture = [list(r) for r in reversed(rows)]
        require(picture == drawn[i].pixels, 'avi', 'frame %d does not decode to the frame drawn' % i)
        decoded.append(picture)
    return decoded


# ---------------------------------------------------------------------------------------------------------
# PNG pictures for people (not part of the build's products).


def png(path, rows, palette, scale=1):
    raw = bytearray()
    for row in rows:
        line = bytearray()
        for p in row:
            rgb = (192, 192, 192) if p is None else palette[p]
            line += bytes(rgb) * scale
        for _ in range(scale):
            raw += b'\0' + line
    height, width = len(rows) * scale, len(rows[0]) * scale

    def part(kind, payload):
        return struct.pack('>I', len(payload)) + kind + payload + struct.pack('>I', zlib.crc32(kind + payload))

    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + part(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
                + part(b'IDAT', zlib.compress(bytes(raw), 9)) + part(b'IEND', b''))


# ---------------------------------------------------------------------------------------------------------


class CheckFailed(Exception):
    pass


def require(condition, what, message):
    if not condition:
        raise CheckFailed('%s: %s' % (what, message))


# The stub must never hold the local header signature; the resources are part of it.
FORBIDDEN = bytes((0x50, 0x4B, 0x03)) + bytes((0x04,))


def build():
    """Returns {file name: bytes} and the pictures for the PNG view."""
    program = draw_program_icon()
    password32, password16 = draw_password_icon(32), draw_password_icon(16)
    replace = draw_replace_icon()
    drawn = [draw_clip_frame(i) for i in range(CLIP_FRAMES)]
    rows_bottom_up = [list(reversed(f.pixels)) for f in drawn]
    coded = [rle8_key_frame(rows_bottom_up[0])]
    for i in range(1, CLIP_FRAMES):
        coded.append(rle8_delta_frame(rows_bottom_up[i - 1], rows_bottom_up[i]))
    files = {
        'program.ico': icon_file([(program, 8, PROGRAM_PALETTE)]),
        'password.ico': icon_file([(password32, 4, VGA), (password16, 4, VGA)]),
        'replace.ico': icon_file([(replace, 4, VGA)]),
        'paper_flight.avi': avi_file(coded),
    }
    check_icon_file('program.ico', files['program.ico'], [(32, 8)])
    check_icon_file('password.ico', files['password.ico'], [(32, 4), (16, 4)])
    check_icon_file('replace.ico', files['replace.ico'], [(32, 4)])
    decoded = check_avi(files['paper_flight.avi'], drawn)
    for name, blob in files.items():
        require(FORBIDDEN not in blob, name, 'contains the local header signature')
    pictures = {'icon100.png': (program.pixels, PROGRAM_PALETTE, 4),
                'icon101_32.png': (password32.pixels, VGA, 4), 'icon101_16.png': (password16.pixels, VGA, 8),
                'icon102.png': (replace.pixels, VGA, 4)}
    for i, picture in enumerate(decoded):
        pictures['clip_frame%02d.png' % i] = (picture, CLIP_PALETTE, 2)
    return files, pictures


def self_test():
    """Shows that the checks catch damage: each broken copy of the clip or of an icon must be refused."""
    drawn = [draw_clip_frame(i) for i in range(CLIP_FRAMES)]
    files, _ = build()
    avi = files['paper_flight.avi']
    check_avi(avi, drawn)
    movi = avi.index(b'movi')
    idx1 = avi.index(b'idx1')
    first_frame = movi + 4 + 8
    second_frame = first_frame + struct.unpack_from('<I', avi, movi + 8)[0] + 8

    def patched(data, offset, new):
        return data[:offset] + new + data[offset + len(new):]

    broken_avis = {
        'a pixel of the key frame': patched(avi, first_frame + 1, bytes((avi[first_frame + 1] ^ 1,))),
        'a delta escape of frame 1': patched(avi, second_frame + 2, bytes((avi[second_frame + 2] + 1,))),
        'the frame count': patched(avi, avi.index(b'avih') + 8 + 16, struct.pack('<I', CLIP_FRAMES - 1)),
        'the frame rate': patched(avi, avi.index(b'avih') + 8, struct.pack('<I', 66666)),
        'the stream handler': avi.replace(b'mrle', b'MRLE'),
        'an index offset': patched(avi, idx1 + 8 + 16 * 3 + 8, struct.pack('<I', 4)),
        'the key frame flag': patched(avi, idx1 + 8 + 16 * 5 + 4, struct.pack('<I', AVIIF_KEYFRAME)),
        'the RIFF length': patched(avi, 4, struct.pack('<I', len(avi) - 6)),
        'a truncated file': avi[:-20],
    }
    # A frame that decodes right but to the wrong picture.
    moved = [draw_clip_frame(i) for i in range(CLIP_FRAMES)]
    moved[7].put(0, 0, INK)
    failures = []
    for what, data in broken_avis.items():
        try:
            check_avi(data, drawn)
            failures.append(what)
        except (CheckFailed, struct.error):
            pass
    try:
        check_avi(avi, moved)
        failures.append('a changed picture')
    except CheckFailed:
        pass
    icon = files['password.ico']
    for what, data in {'the image count': patched(icon, 4, struct.pack('<H', 1)),
                       'an image offset': patched(icon, 6 + 12, struct.pack('<I', 30)),
                       'a truncated icon': icon[:-1]}.items():
        try:
            check_icon_file('password.ico', data, [(32, 4), (16, 4)])
            failures.append(what)
        except (CheckFailed, struct.error):
            pass
    # The coder round-trips awkward rows: long runs, literal stretches of odd length, alternating pixels.
    rows = [[i % 3 for i in range(CLIP_WIDTH)], [5] * CLIP_WIDTH, [(i // 2) % 7 for i in range(CLIP_WIDTH)],
            [1, 2, 3] + [4] * 200 + [5, 6] + [7] * 67]
    rows += [[0] * CLIP_WIDTH for _ in range(CLIP_HEIGHT - len(rows))]
    decoded = [[BG] * CLIP_WIDTH for _ in range(CLIP_HEIGHT)]
    rle8_decode(rle8_key_frame(rows), CLIP_WIDTH, CLIP_HEIGHT, decoded)
    if decoded != rows:
        failures.append('key frame round trip')
    changed = [list(r) for r in rows]
    changed[40][0] = 9
    changed[41][271] = 9
    changed[59][100:110] = [8] * 10
    rle8_decode(rle8_delta_frame(rows, changed), CLIP_WIDTH, CLIP_HEIGHT, decoded)
    if decoded != changed:
        failures.append('delta frame round trip')
    for what in failures:
        print('make_resources: self-test: damage not detected: %s' % what, file=sys.stderr)
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--out', help='folder for the .ico and .avi files')
    parser.add_argument('--png', help='folder for PNG pictures of the icons and every clip frame')
    parser.add_argument('--self-test', action='store_true', help='check that the checks catch damaged output')
    args = parser.parse_args()
    if args.self_test:
        return self_test()
    if not args.out:
        parser.error('--out is required')
    try:
        files, pictures = build()
    except CheckFailed as e:
        print('make_resources: check failed: %s' % e, file=sys.stderr)
        return 1
    os.makedirs(args.out, exist_ok=True)
    for name, blob in files.items():
        with open(os.path.join(args.out, name), 'wb') as f:
            f.write(blob)
    if args.png:
        os.makedirs(args.png, exist_ok=True)
        for name, (rows, palette, scale) in pictures.items():
            png(os.path.join(args.png, name), rows, palette, scale)
    return 0


if __name__ == '__main__':
    sys.exit(main())
