#!/usr/bin/env python3
"""Draws Korvane's pictures and writes them as Windows resource files:

  resources/SMALL.bmp    35 x 35, 8 bits per pixel, 256-colour palette, RLE8
  resources/LARGE.bmp    150 x 100, the same kind
  resources/MAINICON.ico 32 x 32, 16 colours
  resources/KORVANE.cur  32 x 32, monochrome, hot spot at the top-left corner

Every picture is drawn here from shapes and a small pixel font, so the files
are the project's own. Run it from anywhere; it writes beside itself in
../resources. The output is the same on every run.
"""
import math, os, struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'resources')

# The palette: the 16 standard colours first (the icon uses them), then a
# blue ramp for the drop target's face.
VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
RAMP0, RAMPN = 16, 64
PALETTE = VGA16 + [(int(20 + 40 * t), int(60 + 110 * t), int(140 + 110 * t))
                   for t in (i / (RAMPN - 1) for i in range(RAMPN))]
PALETTE += [(0, 0, 0)] * (256 - len(PALETTE))
BLACK, WHITE, GREY, DARKGREY, YELLOW, NAVY = 0, 15, 7, 8, 11, 4

# A 5 x 7 pixel font for the few letters the pictures need.
FONT = {
    'D': ['1110', '1001', '1001', '1001', '1001', '1001', '1110'],
    'R': ['1110', '1001', '1001', '1110', '1010', '1001', '1001'],
    'O': ['0110', '1001', '1001', '1001', '1001', '1001', '0110'],
    'P': ['1110', '1001', '1001', '1110', '1000', '1000', '1000'],
    'M': ['10001', '11011', '10101', '10101', '10001', '10001', '10001'],
    'E': ['1111', '1000', '1000', '1110', '1000', '1000', '1111'],
    'G': ['0111', '1000', '1000', '1011', '1001', '1001', '0111'],
    'A': ['0110', '1001', '1001', '1111', '1001', '1001', '1001'],
    'U': ['1001', '1001', '1001', '1001', '1001', '1001', '0110'],
    'I': ['111', '010', '010', '010', '010', '010', '111'],
    'H': ['1001', '1001', '1001', '1111', '1001', '1001', '1001'],
    ' ': ['00', '00', '00', '00', '00', '00', '00'],
}


def canvas(w, h, colour):
    return [[colour] * w for _ in range(h)]


def text(img, x, y, words, colour):
    for ch in words:
        glyph = FONT[ch]
        for r, row in enumerate(glyph):
            for c, bit in enumerate(row):
                if bit == '1':
                    img[y + r][x + c] = colour
        x += len(glyph[0]) + 1


def text_width(words):
    return sum(len(FONT[ch][0]) + 1 for ch in words) - 1


def face(img, x0, y0, w, h, radius):
    """A rounded tile shaded from light (top left) to dark, with a dark rim."""
    for y in range(y0, y0 + h):
        for x in range(x0, x0 + w):
            dx = max(x0 + radius - x, 0, x - (x0 + w - 1 - radius))
            dy = max(y0 + radius - y, 0, y - (y0 + h - 1 - radius))
            d = math.hypot(dx, dy)
            if d > radius + 0.3:
                continue
            shade = 1 - ((x - x0) / w + (y - y0) / h) / 2
            img[y][x] = NAVY if d > radius - 1.0 else RAMP0 + int(shade * (RAMPN - 1))


def arrow(img, cx, top, shaft_w, shaft_h, head_w, head_h, colour, outline):
    """A down arrow: the file goes in here."""
    pts = set()
    for y in range(top, top + shaft_h):
        for x in range(cx - shaft_w // 2, cx - shaft_w // 2 + shaft_w):
            pts.add((x, y))
    for i in range(head_h):
        half = (head_w // 2) * (head_h - i) // head_h
        for x in range(cx - half, cx + half + 1):
            pts.add((x, top + shaft_h + i))
    for x, y in pts:
        for ox, oy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
            if (x + ox, y + oy) not in pts:
                img[y + oy][x + ox] = outline
    for x, y in pts:
        img[y][x] = colour


def note(img, x, y, scale, colour):
    """A pair of beamed quavers: audio."""
    for i in range(2):
        hx = x + i * 5 * scale
        for yy in range(y + scale, y + 7 * scale):
            for t in range(max(1, scale // 2)):
                img[yy][hx + 2 * scale + t] = colour
        for yy in range(int(1.6 * scale) + 1):
            for xx in range(int(2.4 * scale) + 1):
                if ((xx - 1.2 * scale) / (1.3 * scale)) ** 2 + ((yy - 0.8 * scale) / (0.9 * scale)) ** 2 <= 1:
                    img[y + 6 * scale + yy - scale // 2][hx + xx] = colour
    for yy in range(y, y + scale + 1):
        for xx in range(x + 2 * scale, x + 7 * scale + max(1, scale // 2)):
            img[yy][xx] = colour


def small():
    img = canvas(35, 35, GREY)
    face(img, 0, 0, 35, 35, 6)
    arrow(img, 17, 4, 7, 10, 19, 9, YELLOW, BLACK)
    for x in range(7, 28):  # the tray the arrow points into
        img[29][x] = WHITE
        img[30][x] = WHITE
    img[28][7] = img[28][27] = img[27][7] = img[27][27] = WHITE
    return img


def large():
    img = canvas(150, 100, GREY)
    face(img, 0, 0, 150, 100, 12)
    note(img, 14, 16, 4, WHITE)
    arrow(img, 75, 12, 12, 22, 34, 16, YELLOW, BLACK)
    for x in range(52, 99):  # the tray
        for y in (56, 57):
            img[y][x] = WHITE
    for y in range(50, 56):
        img[y][52] = img[y][98] = WHITE
    for line, y in (('DROP MPEG', 66), ('AUDIO HERE', 78)):
        text(img, (150 - text_width(line)) // 2 + 1, y + 1, line, NAVY)
        text(img, (150 - text_width(line)) // 2, y, line, WHITE)
    return img


def rle8(img):
    """RLE8 of a bottom-up image: runs as (count, index), other stretches in
    absolute mode (0, n, n indices, padded to a word), 0 0 at each row's end
    and 0 1 at the end of the bitmap."""
    out = bytearray()
    for row in reversed(img):
        i = 0
        while i < len(row):
            run = 1
            while i + run < len(row) and run < 255 and row[i + run] == row[i]:
                run += 1
            if run >= 2:
                out += bytes((run, row[i]))
                i += run
                continue
            j = i  # a stretch without pairs of equal neighbours
            while j < len(row) and j - i < 255 and not (j + 1 < len(row) and row[j + 1] == row[j]):
                j += 1
            if j - i >= 3:
                out += bytes((0, j - i)) + bytes(row[i:j]) + (b'\0' if (j - i) & 1 else b'')
            else:
                out += b''.join(bytes((1, v)) for v in row[i:j])
            i = j
        out += b'\0\0'
    return bytes(out[:-2] + b'\0\1')


def bmp(img):
    w, h, bits = len(img[0]), len(img), rle8(img)
    pal = b''.join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 8, 1, len(bits), 2835, 2835, 256, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pal) + len(bits), 0, 0, 14 + len(info) + len(pal))
    return head + info + pal + bits


def rows_packed(img, bpp):
    """Bottom-up rows of palette indices (4 bits) or bits (1 bit), each padded to 32 bits."""
    out = bytearray()
    for row in reversed(img):
        bits = ''.join(format(v, '0%db' % bpp) for v in row)
        bits += '0' * (-len(bits) % 32)
        out += int(bits, 2).to_bytes(len(bits) // 8, 'big')
    return bytes(out)


def icon():
    """A 16-colour icon: the small tile's arrow over a blue disc, transparent around it."""
    img, mask = canvas(32, 32, BLACK), canvas(32, 32, 1)
    for y in range(32):
        for x in range(32):
            d = math.hypot(x - 15.5, y - 15.5)
            if d <= 15.5:
                mask[y][x] = 0
                img[y][x] = NAVY if d > 14.3 else (12 if (x + y) < 34 else 4)
    arrow(img, 16, 4, 6, 10, 18, 8, YELLOW, BLACK)
    for x in range(8, 24):
        img[26][x] = img[27][x] = WHITE
    pal = b''.join(bytes((b, g, r, 0)) for r, g, b in VGA16)
    body = struct.pack('<IiiHHIIiiII', 40, 32, 64, 1, 4, 0, 0, 0, 0, 16, 0) + pal
    body += rows_packed(img, 4) + rows_packed(mask, 1)
    return struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', 32, 32, 16, 0, 1, 4, len(body), 22) + body


def cursor():
    """A monochrome arrow pointer, tip at (0, 0), carrying a small quaver."""
    shape = ['1', '11', '1.1', '1..1', '1...1', '1....1', '1.....1', '1......1', '1.......1',
             '1........1', '1.....11111', '1..1..1', '1.1 1..1', '11  1..1', '1    1..1',
             '     1..1', '      11']
    xor, andm = canvas(32, 32, 0), canvas(32, 32, 1)
    for y, row in enumerate(shape):
        for x, c in enumerate(row):
            if c in '1.':
                andm[y][x] = 0
                xor[y][x] = 0 if c == '1' else 1  # black rim, white inside
    for y, row in enumerate(['..11', '..1.1', '..1', '.11', '111', '11']):
        for x, c in enumerate(row):
            if c == '1':
                andm[20 + y][12 + x] = 0
                xor[20 + y][12 + x] = 0
    pal = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    body = struct.pack('<IiiHHIIiiII', 40, 32, 64, 1, 1, 0, 0, 0, 0, 2, 0) + pal
    body += rows_packed(xor, 1) + rows_packed(andm, 1)
    return struct.pack('<HHH', 0, 2, 1) + struct.pack('<BBBBHHII', 32, 32, 2, 0, 0, 0, len(body), 22) + body


if __name__ == '__main__':
    for name, data in (('SMALL.bmp', bmp(small())), ('LARGE.bmp', bmp(large())),
                       ('MAINICON.ico', icon()), ('KORVANE.cur', cursor())):
        with open(os.path.join(OUT, name), 'wb') as f:
            f.write(data)
