#!/usr/bin/python3
"""Draws every button bitmap and icon of QZPlayer.

    make_art.py OUTDIR [--preview PREVIEWDIR]

The artwork lives here as code so a glyph can be changed by editing a
function instead of a paint program.  Where to look:

  * PALETTE      colours of bodies, glyphs and masks
  * toolkit      Shape (vector shapes with signed distance), Canvas
  * draw_*       one function per picture; each draws one state image
  * OUTPUTS      the file table: names, sizes, masks, state order
  * self_check   re-reads the written files and checks them

Masked strips are drawn on a "hard" canvas: pixels outside a shape stay
exactly transparent (written as the mask colour), and anti-aliasing only
ever blends onto pixels that are already opaque.  That keeps the outer
edge of every body crisp, so no halo appears over a skin background.

Only the standard library is used; the output is byte-for-byte stable.
"""

import math
import os
import struct
import sys
import zlib

# ---------------------------------------------------------------- PALETTE

MASK_TEAL = (0, 128, 128)        # control bar strips
MASK_MAGENTA = (255, 0, 255)     # caption button strips
MASK_WHITE = (255, 255, 255)     # playlist icons

# Control-bar chrome.  One "look" per state: outer edge, body gradient
# top -> bottom, strength of the glossy upper highlight, glyph colour, and
# the emboss drawn 1 px under the glyph (colour, opacity).
CHROME = {
    "normal": dict(edge=(112, 122, 138), top=(255, 255, 255), bottom=(206, 213, 224),
                   gloss=0.55, ink=(40, 50, 66), emboss=((255, 255, 255), 0.8)),
    "hot": dict(edge=(48, 116, 200), top=(255, 255, 255), bottom=(172, 212, 252),
                gloss=0.65, ink=(22, 52, 100), emboss=((255, 255, 255), 0.8)),
    "pressed": dict(edge=(78, 88, 104), top=(160, 170, 186), bottom=(214, 220, 230),
                    gloss=0.0, ink=(28, 34, 46), emboss=((255, 255, 255), 0.35)),
    "disabled": dict(edge=(184, 188, 194), top=(240, 241, 243), bottom=(224, 226, 230),
                     gloss=0.0, ink=(168, 173, 180), emboss=None),
}
# Checked buttons get a faint blue tint on top of the state's look.
CHECKED_TINT = ((70, 130, 220), 0.16)
# Red used for the "muted" cross (greyed like the ink when disabled).
MUTE_CROSS = (204, 36, 36)

# The play button is the prominent one: a blue pill with a white glyph.
PLAY = {
    "normal": dict(edge=(16, 56, 136), top=(110, 176, 250), bottom=(22, 90, 204),
                   gloss=0.45, ink=(255, 255, 255), emboss=((0, 20, 70), 0.35)),
    "hot": dict(edge=(20, 78, 172), top=(160, 212, 255), bottom=(40, 130, 240),
                gloss=0.5, ink=(255, 255, 255), emboss=((0, 30, 90), 0.35)),
    "pressed": dict(edge=(10, 38, 98), top=(20, 66, 152), bottom=(50, 112, 206),
                    gloss=0.08, ink=(226, 236, 252), emboss=((0, 16, 60), 0.3)),
    "disabled": dict(edge=(176, 180, 188), top=(238, 239, 242), bottom=(214, 217, 222),
                     gloss=0.0, ink=(164, 169, 177), emboss=((255, 255, 255), 0.7)),
}

# Caption buttons: near-white pixel-art glyphs on the skin's caption colour.
CAP_INK = (250, 250, 250)
CAP_INK_DISABLED = (146, 146, 146)
CAP_HOT = (118, 140, 172)        # reads as a light translucent square
CAP_PRESSED = (44, 62, 92)
CAP_CLOSE_HOT = (224, 32, 44)
CAP_CLOSE_PRESSED = (150, 18, 28)
CAP_PIN_HEAD = (255, 196, 56)    # head of the pinned pin

# Collapse grip (drawn as is, on a light panel).
GRIP_BG = (218, 219, 222)
GRIP_BG_HOT = (230, 233, 238)
GRIP_LIGHT = (242, 243, 245)     # left bevel line
GRIP_SHADE = (176, 178, 183)     # right bevel line
GRIP_DOTS = (170, 172, 178)
GRIP_DOTS_HOT = (120, 124, 132)
GRIP_ARROW = (112, 116, 124)
GRIP_ARROW_HOT = (24, 70, 150)

# Playlist page.
PAGE_EDGE = (118, 126, 140)
PAGE_FILL = (250, 250, 245)      # off-white: pure white is the transparent colour
PAGE_FOLD = (214, 216, 210)
PAGE_PLAY = (36, 104, 214)
PAGE_PLAY_DARK = (20, 70, 168)

# Icons.
ICON_PLAYER = dict(edge=(12, 46, 140), top=(70, 146, 250), bottom=(18, 72, 196))
ICON_SKIN = dict(edge=(14, 96, 44), top=(96, 206, 110), bottom=(26, 132, 62))
ICON_GLYPH = (255, 255, 255)


# ---------------------------------------------------------------- toolkit: shapes
#
# A Shape is a signed distance function in pixel units (negative inside)
# plus a bounding box.  Pixel (i, j) covers [i, i+1) x [j, j+1) and is
# sampled at its centre, so integer-aligned rectangles come out crisp.

class Shape:
    def __init__(self, dist, bbox):
        self.dist = dist
        self.bbox = bbox          # (x0, y0, x1, y1), floats

    def __or__(self, other):
        a, b = self.dist, other.dist
        return Shape(lambda x, y: min(a(x, y), b(x, y)), _bbox_union(self.bbox, other.bbox))

    def __and__(self, other):
        a, b = self.dist, other.dist
        return Shape(lambda x, y: max(a(x, y), b(x, y)), _bbox_meet(self.bbox, other.bbox))

    def __sub__(self, other):
        a, b = self.dist, other.dist
        return Shape(lambda x, y: max(a(x, y), -b(x, y)), self.bbox)

    def grow(self, r):
        """Offset outwards by r pixels (inwards when r < 0)."""
        a = self.dist
        x0, y0, x1, y1 = self.bbox
        return Shape(lambda x, y: a(x, y) - r, (x0 - r, y0 - r, x1 + r, y1 + r))

    def move(self, dx, dy):
        if not dx and not dy:
            return self
        a = self.dist
        x0, y0, x1, y1 = self.bbox
        return Shape(lambda x, y: a(x - dx, y - dy), (x0 + dx, y0 + dy, x1 + dx, y1 + dy))

    def mirror_y(self, axis):
        """Reflect about the horizontal line y = axis."""
        a = self.dist
        x0, y0, x1, y1 = self.bbox
        return Shape(lambda x, y: a(x, 2 * axis - y), (x0, 2 * axis - y1, x1, 2 * axis - y0))

    def mirror_x(self, axis):
        """Reflect about the vertical line x = axis."""
        a = self.dist
        x0, y0, x1, y1 = self.bbox
        return Shape(lambda x, y: a(2 * axis - x, y), (2 * axis - x1, y0, 2 * axis - x0, y1))


def _bbox_union(a, b):
    return (min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3]))


def _bbox_meet(a, b):
    return (max(a[0], b[0]), max(a[1], b[1]), min(a[2], b[2]), min(a[3], b[3]))


def union(*shapes):
    out = shapes[0]
    for s in shapes[1:]:
        out = out | s
    return out


def rrect(x0, y0, x1, y1, r=0.0):
    """Rectangle [x0, x1] x [y0, y1] with corner radius r."""
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def dist(x, y):
        qx = abs(x - cx) - hx
        qy = abs(y - cy) - hy
        out = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return out + min(max(qx, qy), 0.0) - r
    return Shape(dist, (x0, y0, x1, y1))


def rect(x0, y0, x1, y1):
    return rrect(x0, y0, x1, y1, 0.0)


def frame(x0, y0, x1, y1, side=1, top=1):
    """Rectangle outline: `side` px sides and bottom, `top` px title bar."""
    return rect(x0, y0, x1, y1) - rect(x0 + side, y0 + top, x1 - side, y1 - side)


def circle(cx, cy, r):
    return Shape(lambda x, y: math.hypot(x - cx, y - cy) - r, (cx - r, cy - r, cx + r, cy + r))


def _seg_dist(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)
    t = 0.0 if t < 0 else 1.0 if t > 1 else t
    return math.hypot(x - ax - t * dx, y - ay - t * dy)


def line(ax, ay, bx, by, width):
    """Stroke from a to b, `width` px wide, with round ends."""
    r = width / 2

    def dist(x, y):
        return _seg_dist(x, y, ax, ay, bx, by) - r
    return Shape(dist, (min(ax, bx) - r, min(ay, by) - r, max(ax, bx) + r, max(ay, by) + r))


def polygon(points):
    """Filled polygon (even-odd rule)."""
    pts = list(points)
    edges = [(pts[i - 1], pts[i]) for i in range(len(pts))]

    def dist(x, y):
        best = 1e9
        inside = False
        for (ax, ay), (bx, by) in edges:
            d = _seg_dist(x, y, ax, ay, bx, by)
            if d < best:
                best = d
            if (ay > y) != (by > y) and x < (bx - ax) * (y - ay) / (by - ay) + ax:
                inside = not inside
        return -best if inside else best
    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]
    return Shape(dist, (min(xs), min(ys), max(xs), max(ys)))


def arc(cx, cy, r, a0, a1, width):
    """Circular stroke from angle a0 to a1 (degrees, y down), round ends."""
    t0, t1 = math.radians(a0), math.radians(a1)
    e0 = (cx + r * math.cos(t0), cy + r * math.sin(t0))
    e1 = (cx + r * math.cos(t1), cy + r * math.sin(t1))
    hw = width / 2

    def dist(x, y):
        if t0 <= math.atan2(y - cy, x - cx) <= t1:
            return abs(math.hypot(x - cx, y - cy) - r) - hw
        return min(math.hypot(x - e0[0], y - e0[1]), math.hypot(x - e1[0], y - e1[1])) - hw
    rr = r + hw
    return Shape(dist, (cx - rr, cy - rr, cx + rr, cy + rr))


# ---------------------------------------------------------------- toolkit: canvas

def mix(a, b, t):
    """Colour a blended towards b by t (0..1)."""
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def vgradient(y0, top, y1, bottom):
    """Paint: vertical gradient from `top` at y0 to `bottom` at y1."""
    span = float(y1 - y0) or 1.0

    def paint(x, y):
        t = (y - y0) / span
        return mix(top, bottom, 0.0 if t < 0 else 1.0 if t > 1 else t)
    return paint


class Canvas:
    """RGBA pixels (floats, straight alpha, alpha 0..1).

    hard=True is for masked bitmaps: a transparent pixel either becomes
    fully opaque (its centre is inside the shape) or stays transparent.
    """

    def __init__(self, w, h, hard=True, bg=None):
        self.w, self.h, self.hard = w, h, hard
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(w * h)]
        if bg is not None:
            self.fill(rect(0, 0, w, h), bg)

    def fill(self, shape, paint, alpha=1.0, aa=True):
        """Paint a shape.  `paint` is a colour or a function (x, y) -> colour."""
        x0, y0, x1, y1 = shape.bbox
        xa, xb = max(0, int(math.floor(x0)) - 1), min(self.w, int(math.ceil(x1)) + 1)
        ya, yb = max(0, int(math.floor(y0)) - 1), min(self.h, int(math.ceil(y1)) + 1)
        dist = shape.dist
        solid = None if callable(paint) else paint
        for y in range(ya, yb):
            row = y * self.w
            for x in range(xa, xb):
                d = dist(x + 0.5, y + 0.5)
                if d >= 0.5:
                    continue
                cov = (0.5 - d if d > -0.5 else 1.0) if aa else (1.0 if d <= 0 else 0.0)
                if cov <= 0:
                    continue
                p = self.px[row + x]
                if self.hard and p[3] == 0.0:
                    # Never blend against transparency: the edge stays hard,
                    # and translucent paint cannot create pixels.
                    if alpha < 1.0 or d > 0:
                        continue
                    cov = 1.0
                colour = solid or paint(x + 0.5, y + 0.5)
                self._blend(p, colour, cov * alpha)

    @staticmethod
    def _blend(p, colour, a):
        da = p[3] * (1.0 - a)
        out = a + da
        for k in range(3):
            p[k] = (colour[k] * a + p[k] * da) / out
        p[3] = out

    def plot(self, x, y, colour):
        if 0 <= x < self.w and 0 <= y < self.h:
            p = self.px[y * self.w + x]
            p[0], p[1], p[2], p[3] = colour[0], colour[1], colour[2], 1.0

    def pixel_art(self, art, colours, dx=0, dy=0):
        """Plot a picture given as strings; '.' and ' ' are left untouched."""
        for y, row in enumerate(art):
            for x, ch in enumerate(row):
                if ch in colours:
                    self.plot(x + dx, y + dy, colours[ch])

    def paste(self, other, ox, oy):
        for y in range(other.h):
            for x in range(other.w):
                self.px[(y + oy) * self.w + x + ox] = list(other.px[y * other.w + x])

    def copy(self):
        out = Canvas(self.w, self.h, self.hard)
        out.px = [list(p) for p in self.px]
        return out

    def rgb(self, x, y):
        p = self.px[y * self.w + x]
        return (int(p[0] + 0.5), int(p[1] + 0.5), int(p[2] + 0.5))

    def alpha(self, x, y):
        return self.px[y * self.w + x][3]


# ---------------------------------------------------------------- toolkit: files

def bmp_bytes(cv, mask):
    """24-bit bottom-up BMP; transparent pixels get the mask colour."""
    stride = (cv.w * 3 + 3) & ~3
    rows = []
    for y in range(cv.h - 1, -1, -1):
        row = bytearray()
        for x in range(cv.w):
            r, g, b = cv.rgb(x, y) if cv.alpha(x, y) > 0 else mask
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return head + info + pixels


def ico_bytes(canvases):
    """ICO with one 32-bit BGRA DIB entry per canvas (AND mask included)."""
    images = []
    for cv in canvases:
        xor = bytearray()
        and_stride = ((cv.w + 31) // 32) * 4
        and_mask = bytearray()
        for y in range(cv.h - 1, -1, -1):
            bits = bytearray(and_stride)
            for x in range(cv.w):
                a = int(cv.alpha(x, y) * 255 + 0.5)
                r, g, b = cv.rgb(x, y) if a else (0, 0, 0)
                xor += bytes((b, g, r, a))
                if a < 128:
                    bits[x // 8] |= 0x80 >> (x % 8)
            and_mask += bits
        info = struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h * 2, 1, 32, 0,
                           len(xor) + len(and_mask), 0, 0, 0, 0)
        images.append(info + bytes(xor) + bytes(and_mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for cv, data in zip(canvases, images):
        out += struct.pack("<BBBBHHII", cv.w % 256, cv.h % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def png_bytes(w, h, rgb_rows):
    """Plain RGB PNG from a list of rows of (r, g, b)."""
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rgb_rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# ---------------------------------------------------------------- state handling

class State:
    def __init__(self, name):
        self.name = name
        self.checked = name.startswith("checked")
        self.hot = name.endswith("hot")
        self.pressed = name.endswith("pressed")
        self.disabled = name == "disabled"
        self.look = ("disabled" if self.disabled else "hot" if self.hot
                     else "pressed" if self.pressed else "normal")
        # Pressed buttons push their glyph 1 px down-right.
        self.shift = (1, 1) if self.pressed else (0, 0)


SEVEN = ("normal", "hot", "pressed", "checked", "checked hot", "checked pressed", "disabled")
FOUR = ("normal", "hot", "pressed", "disabled")
TOGGLE = ("normal", "hot", "checked", "checked hot")


# ---------------------------------------------------------------- control bar

def _gloss(cv, inner, look):
    if not look["gloss"]:
        return
    x0, y0, x1, y1 = inner.bbox
    mid = y0 + (y1 - y0) * 0.5
    band = inner.grow(-0.6) & rect(x0, y0, x1, mid)
    strength = look["gloss"]
    for y in range(max(0, int(y0)), min(cv.h, int(math.ceil(mid)))):
        t = (y + 0.5 - y0) / (mid - y0)
        a = strength * (1.0 - t) ** 1.3
        if a > 0.01:
            cv.fill(band & rect(x0, y, x1, y + 1), (255, 255, 255), alpha=a)


def button(cv, body, look, tint=None):
    """Draws an opaque chrome body; returns its fill paint (for knock-outs)."""
    cv.fill(body, look["edge"], aa=False)
    x0, y0, x1, y1 = body.bbox
    top, bottom = look["top"], look["bottom"]
    if tint:
        top, bottom = mix(top, tint[0], tint[1]), mix(bottom, tint[0], tint[1])
    paint = vgradient(y0 + 1, top, y1 - 1, bottom)
    inner = body.grow(-1)
    cv.fill(inner, paint)
    _gloss(cv, inner, look)
    return paint


def control_button(cv, st, body, looks, glyph, tinted=True):
    """Common frame for the control-bar buttons.

    glyph(st, dx, dy) -> list of (shape, colour or None, knock_out).
    knock_out > 0 first restores the bare body in a ring that wide around
    the shape, so a stroke crossing another one stays readable.
    """
    look = looks[st.look]
    tint = CHECKED_TINT if (st.checked and tinted and not st.disabled) else None
    button(cv, body, look, tint)
    bare = cv.copy()
    parts = glyph(st, *st.shift)
    emboss = look["emboss"]
    # Emboss the plain parts first, so no emboss covers another part's ink.
    if emboss:
        for shape, colour, knock in parts:
            if not knock:
                cv.fill(shape.move(0, 1), emboss[0], alpha=emboss[1])
    for shape, colour, knock in parts:
        if knock:
            cv.fill(shape.grow(knock), lambda x, y: bare.rgb(int(x), int(y)))
            if emboss:
                cv.fill(shape.move(0, 1), emboss[0], alpha=emboss[1])
        cv.fill(shape, look["ink"] if st.disabled or colour is None else colour)


def draw_play(cv, st):
    body = rrect(1, 1, 40, 29, 14)

    def glyph(st, dx, dy):
        if st.checked:
            bars = union(rrect(15, 8, 19, 22, 0.8), rrect(22, 8, 26, 22, 0.8))
            return [(bars.move(dx, dy), None, 0)]
        tri = polygon([(16, 7.5), (16, 22.5), (28, 15)]).grow(0.4)
        return [(tri.move(dx, dy), None, 0)]
    control_button(cv, st, body, PLAY, glyph, tinted=False)


def draw_mute(cv, st):
    body = rrect(1, 1, 25, 25, 6)

    def glyph(st, dx, dy):
        speaker = union(rect(5, 10, 9, 16),
                        polygon([(8.5, 10), (13, 6), (13, 20), (8.5, 16)]))
        parts = [(speaker.move(dx, dy), None, 0)]
        if st.checked:
            cross = union(line(16, 10, 21, 15, 1.7), line(21, 10, 16, 15, 1.7))
            parts.append((cross.move(dx, dy), MUTE_CROSS, 0))
        else:
            for r in (3.6, 7.0):
                parts.append((arc(12.5, 13, r, -48, 48, 1.6).move(dx, dy), None, 0))
        return parts
    control_button(cv, st, body, CHROME, glyph)


def draw_change(cv, st):
    body = rrect(1, 1, 22, 22, 5)

    def glyph(st, dx, dy):
        big = frame(3, 8, 16, 20, 1, 2)
        if st.checked:
            # Standalone now: a separate small window, arrow into the frame.
            small = frame(15, 2, 20, 7, 1, 2)
            arrow = union(line(15.5, 9.5, 8.5, 16.5, 1.5),
                          rect(8, 12, 9, 17), rect(8, 16, 13, 17))
        else:
            # Embedded now: small window inside the frame, arrow pointing out.
            small = rect(5, 13, 10, 18)
            arrow = union(line(10.5, 12.5, 18.5, 4.5, 1.5),
                          rect(14, 4, 19, 5), rect(18, 4, 19, 9))
        return [(big.move(dx, dy), None, 0), (small.move(dx, dy), None, 0),
                (arrow.move(dx, dy), None, 1.0)]
    control_button(cv, st, body, CHROME, glyph)


def draw_stop(cv, st):
    body = rrect(1, 1, 25, 25, 6)

    def glyph(st, dx, dy):
        return [(rrect(8, 8, 18, 18, 1.2).move(dx, dy), None, 0)]
    control_button(cv, st, body, CHROME, glyph)


def draw_full(cv, st):
    body = rrect(1, 1, 25, 25, 6)

    def glyph(st, dx, dy):
        corner = union(rect(6, 6, 11, 8), rect(6, 6, 8, 11))      # top-left bracket
        top = corner | corner.mirror_x(13)
        return [((top | top.mirror_y(13)).move(dx, dy), None, 0)]
    control_button(cv, st, body, CHROME, glyph)


# ---------------------------------------------------------------- caption buttons
#
# 16x16 pixel art; '#' is the glyph colour, '+' the accent (pin head).

CAP_CLOSE = [
    "................",
    "................",
    "................",
    "................",
    "....##....##....",
    ".....##..##.....",
    "......####......",
    ".......##.......",
    ".......##.......",
    "......####......",
    ".....##..##.....",
    "....##....##....",
]
CAP_MIN = [
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "....########....",
    "....########....",
]
CAP_MENU = [
    "................",
    "................",
    "................",
    "...##########...",
    "...##########...",
    "................",
    "................",
    "...##########...",
    "...##########...",
    "................",
    "................",
    "...##########...",
    "...##########...",
]
CAP_MAXIMISE = [
    "................",
    "................",
    "................",
    "...##########...",
    "...##########...",
    "...#........#...",
    "...#........#...",
    "...#........#...",
    "...#........#...",
    "...#........#...",
    "...#........#...",
    "...##########...",
]
CAP_RESTORE = [
    "................",
    "................",
    "................",
    "......#######...",
    "......#######...",
    "...#######..#...",
    "...#######..#...",
    "...#.....#..#...",
    "...#.....#..#...",
    "...#.....####...",
    "...#.....#......",
    "...#######......",
]
CAP_PIN_LOOSE = [
    "................",
    "................",
    "..........#.....",
    ".........###....",
    "........#####...",
    ".....#.######...",
    "......######....",
    ".......###......",
    "......#.##......",
    ".....#...#......",
    "....#...........",
    "...#............",
]
CAP_PIN_IN = [
    "................",
    "................",
    ".....######.....",
    "......++++......",
    "......++++......",
    "......++++......",
    "......++++......",
    ".....######.....",
    "....########....",
    ".......##.......",
    ".......##.......",
    ".......##.......",
    "...##########...",
]


def caption_button(cv, st, art, close=False):
    if st.disabled:
        cv.pixel_art(art, {"#": CAP_INK_DISABLED, "+": CAP_INK_DISABLED})
        return
    if st.hot or st.pressed:
        if close:
            colour = CAP_CLOSE_PRESSED if st.pressed else CAP_CLOSE_HOT
        else:
            colour = CAP_PRESSED if st.pressed else CAP_HOT
        cv.fill(rrect(0, 0, 16, 16, 3), colour, aa=False)
    dx, dy = st.shift
    cv.pixel_art(art, {"#": CAP_INK, "+": CAP_PIN_HEAD}, dx, dy)


def draw_cap_close(cv, st):
    caption_button(cv, st, CAP_CLOSE, close=True)


def draw_cap_min(cv, st):
    caption_button(cv, st, CAP_MIN)


def draw_cap_menu(cv, st):
    caption_button(cv, st, CAP_MENU)


def draw_cap_max(cv, st):
    caption_button(cv, st, CAP_RESTORE if st.checked else CAP_MAXIMISE)


def draw_cap_top(cv, st):
    caption_button(cv, st, CAP_PIN_IN if st.checked else CAP_PIN_LOOSE)


# ---------------------------------------------------------------- collapse grip

GRIP_ARROW_LEFT = [
    "...#",
    "..##",
    ".###",
    "####",
    ".###",
    "..##",
    "...#",
]


def draw_collapse(cv, st):
    cv.fill(rect(0, 0, cv.w, cv.h), GRIP_BG_HOT if st.hot else GRIP_BG)
    cv.fill(rect(0, 0, 1, cv.h), GRIP_LIGHT)
    cv.fill(rect(cv.w - 1, 0, cv.w, cv.h), GRIP_SHADE)
    dots = GRIP_DOTS_HOT if st.hot else GRIP_DOTS
    mid = cv.h // 2
    for k in range(3):
        for y in (mid - 10 - 3 * k, mid + 8 + 3 * k):
            cv.plot(2, y, dots)
            cv.plot(3, y + 1, dots)
    art = GRIP_ARROW_LEFT if not st.checked else [row[::-1] for row in GRIP_ARROW_LEFT]
    cv.pixel_art(art, {"#": GRIP_ARROW_HOT if st.hot else GRIP_ARROW}, 1, mid - 3)


# ---------------------------------------------------------------- playlist icons

LIST_PAGE = [
    "                ",
    "  #########     ",
    "  #.......##    ",
    "  #.......#f#   ",
    "  #.......#ff#  ",
    "  #.......####  ",
    "  #..........#  ",
    "  #..........#  ",
    "  #..........#  ",
    "  #..........#  ",
    "  #..........#  ",
    "  #..........#  ",
    "  #..........#  ",
    "  #..........#  ",
    "  ############  ",
    "                ",
]
LIST_PLAY = [
    "b   ",
    "bb  ",
    "bbb ",
    "bbbb",
    "bbb ",
    "bb  ",
    "b   ",
]


def draw_list(cv, st):
    cv.pixel_art(LIST_PAGE, {"#": PAGE_EDGE, ".": PAGE_FILL, "f": PAGE_FOLD})
    if st.name == "playing":
        cv.pixel_art(LIST_PLAY, {"b": PAGE_PLAY}, 6, 6)


# ---------------------------------------------------------------- icons

def icon_tile(cv, colours):
    s = cv.w
    m = {16: 0.0, 32: 1.0}.get(s, s / 24.0)
    tile = rrect(m, m, s - m, s - m, s * 0.22)
    cv.fill(tile, colours["edge"])
    inner = tile.grow(-max(1.0, s / 32.0))
    cv.fill(inner, vgradient(m, colours["top"], s - m, colours["bottom"]))
    x0, y0, x1, y1 = inner.bbox
    gloss = inner & circle(s / 2, -s * 0.55, s * 1.02)
    cv.fill(gloss, (255, 255, 255), alpha=0.16)


def draw_player_icon(cv):
    icon_tile(cv, ICON_PLAYER)
    s = cv.w
    k = s / 16.0
    tri = polygon([(6 * k, 4 * k), (6 * k, 12 * k), (12.4 * k, 8 * k)])
    if s > 16:
        tri = tri.grow(0.2 * k)
        cv.fill(tri.move(0, k * 0.5), (0, 20, 80), alpha=0.3)
    cv.fill(tri, ICON_GLYPH)


def draw_skin_icon(cv):
    icon_tile(cv, ICON_SKIN)
    s = cv.w
    k = s / 16.0
    z = polygon([(4, 3.5), (12, 3.5), (12, 5.5), (7, 10.5), (12, 10.5), (12, 12.5),
                 (4, 12.5), (4, 10.5), (9, 5.5), (4, 5.5)])
    z = Shape(lambda x, y, d=z.dist: d(x / k, y / k) * k, (4 * k, 3.5 * k, 12 * k, 12.5 * k))
    if s > 16:
        cv.fill(z.move(0, k * 0.5), (0, 50, 20), alpha=0.3)
    cv.fill(z, ICON_GLYPH)


# ---------------------------------------------------------------- the outputs

# file, image width, height, mask colour (None: drawn as is), states, drawer
OUTPUTS = [
    ("play.bmp", 41, 30, MASK_TEAL, SEVEN, draw_play),
    ("mute.bmp", 26, 26, MASK_TEAL, SEVEN, draw_mute),
    ("change.bmp", 23, 23, MASK_TEAL, SEVEN, draw_change),
    ("stop.bmp", 26, 26, MASK_TEAL, FOUR, draw_stop),
    ("full.bmp", 26, 26, MASK_TEAL, FOUR, draw_full),
    ("cap_min.bmp", 16, 16, MASK_MAGENTA, FOUR, draw_cap_min),
    ("cap_close.bmp", 16, 16, MASK_MAGENTA, FOUR, draw_cap_close),
    ("cap_menu.bmp", 16, 16, MASK_MAGENTA, FOUR, draw_cap_menu),
    ("cap_max.bmp", 16, 16, MASK_MAGENTA, TOGGLE, draw_cap_max),
    ("cap_top.bmp", 16, 16, MASK_MAGENTA, TOGGLE, draw_cap_top),
    ("collapse.bmp", 6, 55, None, TOGGLE, draw_collapse),
    ("list.bmp", 16, 16, MASK_WHITE, ("playing", "idle"), draw_list),
]
ICONS = [
    ("qzplayer.ico", (16, 32, 48), draw_player_icon),
    ("skin.ico", (16, 32), draw_skin_icon),
]

# Backgrounds for the composited previews: what the strips will sit on.
PREVIEW_BACKGROUNDS = {
    MASK_TEAL: [(248, 248, 248), (200, 210, 224), (140, 156, 178)],
    MASK_MAGENTA: [(42, 85, 127), (0, 0, 0), (0, 102, 204), (200, 200, 200)],
    MASK_WHITE: [(255, 255, 255), (204, 232, 255)],
    None: [(160, 160, 160), (230, 230, 230)],
}


def render_strip(w, h, mask, states, drawer):
    strip = Canvas(w * len(states), h, hard=mask is not None)
    for i, name in enumerate(states):
        cell = Canvas(w, h, hard=mask is not None)
        drawer(cell, State(name))
        strip.paste(cell, i * w, 0)
    return strip


def render_all():
    strips = {}
    for name, w, h, mask, states, drawer in OUTPUTS:
        strips[name] = render_strip(w, h, mask, states, drawer)
    icons = {}
    for name, sizes, drawer in ICONS:
        icons[name] = []
        for s in sizes:
            cv = Canvas(s, s, hard=False)
            drawer(cv)
            icons[name].append(cv)
    return strips, icons


# ---------------------------------------------------------------- previews

def _scaled_rows(get, w, h, k):
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            row.extend([get(x, y)] * k)
        rows.extend([row] * k)
    return rows


def write_previews(outdir, strips, icons):
    """<name>.png: the strip at 4x as stored.  <name>-on.png: composited on
    sample backgrounds, first at 1x, then at 4x."""
    os.makedirs(outdir, exist_ok=True)
    for name, w, h, mask, states, drawer in OUTPUTS:
        cv = strips[name]
        stem = name[:-4]
        raw = _scaled_rows(lambda x, y: cv.rgb(x, y) if cv.alpha(x, y) else mask, cv.w, cv.h, 4)
        _write(os.path.join(outdir, stem + ".png"), cv.w * 4, cv.h * 4, raw)
        rows = []
        width = cv.w * 4 + 8 + cv.w
        for bg in PREVIEW_BACKGROUNDS[mask]:
            def get(x, y, bg=bg):
                return cv.rgb(x, y) if cv.alpha(x, y) else bg
            small = _scaled_rows(get, cv.w, cv.h, 1)
            big = _scaled_rows(get, cv.w, cv.h, 4)
            pad = [bg] * 8
            for y in range(cv.h * 4):
                left = small[y] if y < cv.h else [bg] * cv.w
                rows.append(left + pad + big[y])
        _write(os.path.join(outdir, stem + "-on.png"), width, len(rows), rows)
    for name, canvases in icons.items():
        rows = []
        for bg in ((255, 255, 255), (58, 110, 165), (30, 30, 30)):
            def get(cv, x, y, bg=bg):
                p = cv.px[y * cv.w + x]
                return tuple(int(bg[i] + (p[i] - bg[i]) * p[3] + 0.5) for i in range(3))
            height = max(cv.h for cv in canvases) * 4
            band = [[] for _ in range(height)]
            for k in (1, 4):
                for cv in canvases:
                    img = _scaled_rows(lambda x, y, cv=cv: get(cv, x, y), cv.w, cv.h, k)
                    for y in range(height):
                        band[y] += (img[y] if y < len(img) else [bg] * (cv.w * k)) + [bg] * 6
            rows += band + [[bg] * len(band[0])] * 6
        _write(os.path.join(outdir, name[:-4] + "-icon.png"), len(rows[0]), len(rows), rows)


def _write(path, w, h, rows):
    with open(path, "wb") as f:
        f.write(png_bytes(w, h, rows))


# ---------------------------------------------------------------- self-check

def read_bmp(data):
    """(width, height, pixel(x, y) -> (r, g, b)) of a 24-bit bottom-up BMP."""
    magic, size, _, _, offset = struct.unpack_from("<2sIHHI", data, 0)
    hsize, w, h, planes, bpp, comp = struct.unpack_from("<IiiHHI", data, 14)
    assert magic == b"BM" and size == len(data), "bad BMP file header"
    assert (hsize, planes, bpp, comp) == (40, 1, 24, 0), "not a plain 24-bit BMP"
    assert h > 0, "BMP must be bottom-up"
    stride = (w * 3 + 3) & ~3
    assert offset + stride * h == len(data), "BMP pixel array size"

    def pixel(x, y):
        i = offset + (h - 1 - y) * stride + x * 3
        return (data[i + 2], data[i + 1], data[i])
    return w, h, pixel


def self_check(outdir, strips):
    expected = {name for name, *_ in OUTPUTS} | {name for name, *_ in ICONS}
    assert set(os.listdir(outdir)) >= expected, "missing outputs"
    for name, w, h, mask, states, drawer in OUTPUTS:
        with open(os.path.join(outdir, name), "rb") as f:
            bw, bh, pixel = read_bmp(f.read())
        assert (bw, bh) == (w * len(states), h), "%s is %dx%d" % (name, bw, bh)
        cv = strips[name]
        cells = []
        for i in range(len(states)):
            cells.append([pixel(i * w + x, y) for y in range(h) for x in range(w)])
        for i in range(len(states) - 1):
            for j in range(i + 1, len(states)):
                assert cells[i] != cells[j], "%s: %s and %s look the same" % (
                    name, states[i], states[j])
        if mask is None:
            continue
        for y in range(bh):
            for x in range(bw):
                opaque = cv.alpha(x, y) > 0
                assert cv.alpha(x, y) in (0.0, 1.0), "%s: soft edge at %d,%d" % (name, x, y)
                if opaque:
                    assert pixel(x, y) != mask, "%s: pixel %d,%d equals the mask" % (name, x, y)
                else:
                    assert pixel(x, y) == mask, "%s: background %d,%d" % (name, x, y)
        for i in range(len(states)):
            for x, y in ((0, 0), (w - 1, 0), (0, h - 1), (w - 1, h - 1)):
                assert pixel(i * w + x, y) == mask, "%s: image %d corner not masked" % (name, i)
    for name, sizes, drawer in ICONS:
        with open(os.path.join(outdir, name), "rb") as f:
            data = f.read()
        reserved, kind, count = struct.unpack_from("<HHH", data, 0)
        assert (reserved, kind, count) == (0, 1, len(sizes)), name
        for k, s in enumerate(sizes):
            w, h, _, _, planes, bpp, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * k)
            assert (w, h, planes, bpp) == (s, s, 1, 32), name
            hdr = struct.unpack_from("<IiiHH", data, offset)
            assert hdr == (40, s, 2 * s, 1, 32), name
            assert length == 40 + s * s * 4 + ((s + 31) // 32) * 4 * s, name
            assert offset + length <= len(data), name


# ---------------------------------------------------------------- main

def main(argv):
    args = argv[1:]
    preview = None
    if "--preview" in args:
        i = args.index("--preview")
        if i + 1 >= len(args):
            sys.exit("usage: make_art.py OUTDIR [--preview PREVIEWDIR]")
        preview = args[i + 1]
        del args[i:i + 2]
    if len(args) != 1:
        sys.exit("usage: make_art.py OUTDIR [--preview PREVIEWDIR]")
    outdir = args[0]
    os.makedirs(outdir, exist_ok=True)
    strips, icons = render_all()
    for name, w, h, mask, states, drawer in OUTPUTS:
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(bmp_bytes(strips[name], mask or (0, 0, 0)))
    for name, canvases in icons.items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(ico_bytes(canvases))
    self_check(outdir, strips)
    if preview:
        write_previews(preview, strips, icons)


if __name__ == "__main__":
    main(sys.argv)
