#!/usr/bin/env python3
"""Draws the icon set of vtnraid and writes it as XPM sources.

Run from anywhere: writes gui/icons/*.xpm, gui/xpm_data.h and gui/xpm_data.cpp. Shapes are drawn
with 4x4 supersampling; pixels covered less than a third stay transparent, edge pixels are blended
towards a light window background.
"""
import math
import os

SS = 4
BACKGROUND = (0.94, 0.94, 0.94)
HERE = os.path.dirname(os.path.abspath(__file__))


def rgb(hexcolor):
    h = hexcolor.lstrip('#')
    return tuple(int(h[i:i + 2], 16) / 255.0 for i in (0, 2, 4))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(w * h * SS * SS)]

    # -- filling by an inside test over the subpixel grid --
    def fill(self, inside, box, color, alpha=1.0):
        x0, y0, x1, y1 = box
        W = self.w * SS
        sx0 = max(0, int(math.floor(x0 * SS)))
        sy0 = max(0, int(math.floor(y0 * SS)))
        sx1 = min(W, int(math.ceil(x1 * SS)) + 1)
        sy1 = min(self.h * SS, int(math.ceil(y1 * SS)) + 1)
        for sy in range(sy0, sy1):
            y = (sy + 0.5) / SS
            for sx in range(sx0, sx1):
                x = (sx + 0.5) / SS
                if inside(x, y):
                    c = color(x, y) if callable(color) else color
                    p = self.px[sy * W + sx]
                    for i in range(3):
                        p[i] = c[i] * alpha + p[i] * (1 - alpha)
                    p[3] = alpha + p[3] * (1 - alpha)

    def rect(self, x0, y0, x1, y1, color, alpha=1.0):
        self.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1, (x0, y0, x1, y1), color, alpha)

    def rrect(self, x0, y0, x1, y1, r, color, alpha=1.0):
        def inside(x, y):
            if not (x0 <= x < x1 and y0 <= y < y1):
                return False
            cx = min(max(x, x0 + r), x1 - r)
            cy = min(max(y, y0 + r), y1 - r)
            return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
        self.fill(inside, (x0, y0, x1, y1), color, alpha)

    def ellipse(self, cx, cy, rx, ry, color, alpha=1.0):
        self.fill(lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0,
                  (cx - rx, cy - ry, cx + rx, cy + ry), color, alpha)

    def circle(self, cx, cy, r, color, alpha=1.0):
        self.ellipse(cx, cy, r, r, color, alpha)

    def ring(self, cx, cy, r, width, color, a0=None, a1=None):
        def inside(x, y):
            d = math.hypot(x - cx, y - cy)
            if abs(d - r) > width / 2:
                return False
            if a0 is None:
                return True
            a = math.degrees(math.atan2(y - cy, x - cx)) % 360
            return (a - a0) % 360 <= (a1 - a0) % 360
        e = r + width
        self.fill(inside, (cx - e, cy - e, cx + e, cy + e), color)

    def poly(self, pts, color, alpha=1.0):
        def inside(x, y):
            c = False
            n = len(pts)
            for i in range(n):
                xa, ya = pts[i]
                xb, yb = pts[(i + 1) % n]
                if (ya > y) != (yb > y) and x < (xb - xa) * (y - ya) / (yb - ya) + xa:
                    c = not c
            return c
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        self.fill(inside, (min(xs), min(ys), max(xs), max(ys)), color, alpha)

    def line(self, xa, ya, xb, yb, width, color):
        dx, dy = xb - xa, yb - ya
        ll = dx * dx + dy * dy or 1e-9

        def inside(x, y):
            t = max(0.0, min(1.0, ((x - xa) * dx + (y - ya) * dy) / ll))
            return math.hypot(x - xa - t * dx, y - ya - t * dy) <= width / 2
        e = width
        self.fill(inside, (min(xa, xb) - e, min(ya, yb) - e, max(xa, xb) + e, max(ya, yb) + e), color)

    def polyline(self, pts, width, color):
        for a, b in zip(pts, pts[1:]):
            self.line(a[0], a[1], b[0], b[1], width, color)

    def text(self, s, x, y, color, scale=1):
        for ch in s:
            glyph = FONT[ch]
            for row, bits in enumerate(glyph):
                for col, bit in enumerate(bits):
                    if bit == '#':
                        self.rect(x + col * scale, y + row * scale, x + (col + 1) * scale, y + (row + 1) * scale,
                                  color)
            x += (len(glyph[0]) + 1) * scale

    def pixels(self):
        out = []
        W = self.w * SS
        for y in range(self.h):
            row = []
            for x in range(self.w):
                acc = [0.0, 0.0, 0.0, 0.0]
                for sy in range(SS):
                    for sx in range(SS):
                        p = self.px[(y * SS + sy) * W + x * SS + sx]
                        for i in range(4):
                            acc[i] += p[i]
                n = SS * SS
                a = acc[3] / n
                if a < 0.34:
                    row.append(None)
                else:
                    c = tuple(acc[i] / n + (1 - a) * BACKGROUND[i] for i in range(3))
                    row.append('#%02X%02X%02X' % tuple(max(0, min(255, int(round(v * 255)))) for v in c))
            out.append(row)
        return out


FONT = {
    '0': ['###', '#.#', '#.#', '#.#', '###'],
    '1': ['.#.', '##.', '.#.', '.#.', '###'],
    '5': ['###', '#..', '###', '..#', '###'],
    'J': ['..#', '..#', '..#', '#.#', '###'],
    'B': ['##.', '#.#', '##.', '#.#', '##.'],
    'S': ['###', '#..', '###', '..#', '###'],
    '!': ['#', '#', '#', '.', '#'],
    '?': ['###', '..#', '.##', '...', '.#.'],
    'i': ['#', '.', '#', '#', '#'],
    '/': ['..#', '..#', '.#.', '#..', '#..'],
}

# ---- colours ------------------------------------------------------------------------------------

OUTLINE = rgb('#3a4450')
WHITE = (1.0, 1.0, 1.0)
BLACK = rgb('#202020')
RED = rgb('#d42a2a')
GREEN = rgb('#2e9a3a')
BLUE = rgb('#2f6fc8')
AMBER = rgb('#f0b400')
KIND = {
    '0': rgb('#3a78c9'), '1': rgb('#3d9b45'), '5': rgb('#8a4fc0'),
    'JBOD': rgb('#b07a24'), '01': rgb('#17918f'), '10': rgb('#d9652a'),
    'gen': rgb('#4f6f8f'),
}
LABEL = {'0': '0', '1': '1', '5': '5', 'JBOD': 'JB', '01': '01', '10': '10'}


def vgrad(top, bottom, y0, y1):
    return lambda x, y: mix(top, bottom, max(0.0, min(1.0, (y - y0) / max(1e-9, y1 - y0))))


# ---- pieces ---------------------------------------------------------------------------------------

def drive(c, x0, y0, x1, y1, body=None, led=GREEN):
    """A hard disk seen from the front, with its top face."""
    top = (y1 - y0) * 0.35
    c.rrect(x0, y0, x1, y1, 1.2, OUTLINE)
    c.rrect(x0 + 0.8, y0 + 0.8, x1 - 0.8, y0 + top, 0.6,
            body or vgrad(rgb('#f4f6f8'), rgb('#cfd5db'), y0, y0 + top))
    c.rect(x0 + 0.8, y0 + top + 0.6, x1 - 0.8, y1 - 0.8,
           vgrad(rgb('#c8ced6'), rgb('#8e98a4'), y0 + top, y1))
    c.circle(x1 - 2.6, (y0 + top + y1) / 2 + 0.2, 1.0, led)
    c.line(x0 + 2.2, (y0 + top + y1) / 2 + 0.2, x1 - 5.0, (y0 + top + y1) / 2 + 0.2, 0.8, rgb('#6b7580'))


def disk_icon(c):
    drive(c, 2, 6, 22, 19)


def array_icon(c, kind, label=True):
    col = KIND[kind]
    c.rrect(1, 1, 23, 23, 3.5, mix(col, BLACK, 0.35))
    c.rrect(2, 2, 22, 22, 2.8, vgrad(mix(col, WHITE, 0.25), col, 2, 22))
    drive(c, 4.5, 3.5, 19.5, 9.5, led=GREEN)
    drive(c, 4.5, 9.5, 19.5, 15.5, led=GREEN)
    if label:
        text = LABEL[kind]
        width = len(text) * 4 - 1
        # bottom left, clear of the status marks at the bottom right
        c.text(text, 4.5 if width > 3 else 5.5, 16.8, WHITE)


def badge_base(c, cx, cy, r, color):
    c.circle(cx, cy, r + 0.9, WHITE)
    c.circle(cx, cy, r, color)


def mark_error(c, cx, cy, r):
    badge_base(c, cx, cy, r, RED)
    d = r * 0.45
    c.line(cx - d, cy - d, cx + d, cy + d, r * 0.38, WHITE)
    c.line(cx - d, cy + d, cx + d, cy - d, r * 0.38, WHITE)


def mark_critical(c, cx, cy, r):
    pts = [(cx, cy - r * 1.05), (cx + r * 1.1, cy + r * 0.85), (cx - r * 1.1, cy + r * 0.85)]
    outer = [(cx, cy - r * 1.05 - 1.3), (cx + r * 1.1 + 1.2, cy + r * 0.85 + 0.8), (cx - r * 1.1 - 1.2, cy + r * 0.85 + 0.8)]
    c.poly(outer, WHITE)
    c.poly(pts, AMBER)
    c.line(cx, cy - r * 0.45, cx, cy + r * 0.15, r * 0.28, BLACK)
    c.circle(cx, cy + r * 0.5, r * 0.16, BLACK)


def mark_spare(c, cx, cy, r):
    badge_base(c, cx, cy, r, rgb('#1c8f8a'))
    d = r * 0.5
    c.line(cx - d, cy, cx + d, cy, r * 0.36, WHITE)
    c.line(cx, cy - d, cx, cy + d, r * 0.36, WHITE)


def mark_boot(c, cx, cy, r):
    badge_base(c, cx, cy, r, rgb('#233f8f'))
    c.ring(cx, cy + r * 0.08, r * 0.5, r * 0.22, WHITE, 300, 240)
    c.line(cx, cy - r * 0.62, cx, cy + r * 0.05, r * 0.24, WHITE)


def mark_locked(c, cx, cy, r):
    c.rrect(cx - r * 0.95, cy - r * 0.2, cx + r * 0.95, cy + r * 1.0, r * 0.2, WHITE)
    c.ring(cx, cy - r * 0.35, r * 0.5, r * 0.45, WHITE, 180, 360)
    c.ring(cx, cy - r * 0.3, r * 0.5, r * 0.22, rgb('#7a5a10'), 180, 360)
    c.rrect(cx - r * 0.8, cy - r * 0.1, cx + r * 0.8, cy + r * 0.9, r * 0.15, vgrad(rgb('#f5c542'), rgb('#c8901a'), cy, cy + r))
    c.circle(cx, cy + r * 0.35, r * 0.15, rgb('#5a4008'))


def arrows_round(c, cx, cy, r, width, color):
    c.ring(cx, cy, r, width, color, 200, 340)
    c.ring(cx, cy, r, width, color, 20, 160)
    h = width * 1.3
    for ang in (340, 160):
        a = math.radians(ang)
        px, py = cx + r * math.cos(a), cy + r * math.sin(a)
        tx, ty = -math.sin(a), math.cos(a)
        c.poly([(px + tx * h * 1.2, py + ty * h * 1.2), (px - tx * 0.2 + math.cos(a) * h, py - ty * 0.2 + math.sin(a) * h),
                (px - tx * 0.2 - math.cos(a) * h, py - ty * 0.2 - math.sin(a) * h)], color)


def mark_creating(c, cx, cy, r):
    badge_base(c, cx, cy, r, BLUE)
    arrows_round(c, cx, cy, r * 0.52, r * 0.22, WHITE)


def mark_verify(c, cx, cy, r):
    badge_base(c, cx, cy, r, GREEN)
    c.polyline([(cx - r * 0.5, cy + r * 0.02), (cx - r * 0.12, cy + r * 0.42), (cx + r * 0.55, cy - r * 0.4)],
               r * 0.3, WHITE)


def mark_init(c, cx, cy, r):
    badge_base(c, cx, cy, r, rgb('#e07b12'))
    w = r * 0.48
    c.poly([(cx - w, cy - r * 0.55), (cx + w, cy - r * 0.55), (cx, cy)], WHITE)
    c.poly([(cx - w, cy + r * 0.55), (cx + w, cy + r * 0.55), (cx, cy)], WHITE)


MARKS = {
    'error': mark_error, 'critical': mark_critical, 'spare': mark_spare, 'boot': mark_boot,
    'locked': mark_locked, 'creating': mark_creating, 'verify': mark_verify, 'init': mark_init,
}


def corner(c, mark, where):
    """A status mark in a corner of a 24 x 24 icon."""
    r = 4.6
    pos = {'br': (24 - r - 1.2, 24 - r - 1.2), 'tl': (r + 1.0, r + 1.0), 'tr': (24 - r - 1.2, r + 1.0)}[where]
    MARKS[mark](c, pos[0], pos[1], r)


# Action badges of the toolbar icons.
def act_plus(c, cx=18, cy=18, r=5.2):
    badge_base(c, cx, cy, r, GREEN)
    c.line(cx - r * 0.55, cy, cx + r * 0.55, cy, r * 0.36, WHITE)
    c.line(cx, cy - r * 0.55, cx, cy + r * 0.55, r * 0.36, WHITE)


def act_cross(c, cx=18, cy=18, r=5.2):
    mark_error(c, cx, cy, r)


def act_pencil(c, x=13, y=22):
    # a pencil lying from bottom-left to top-right
    pts = [(x, y), (x + 1.2, y - 3.8), (x + 8.8, y - 11.4), (x + 11.4, y - 8.8), (x + 3.8, y - 1.2)]
    c.poly([(p[0] + 0.0, p[1]) for p in [(x - 1, y + 1), (x + 0.5, y - 4.6), (x + 9, y - 13.2), (x + 13.2, y - 9), (x + 4.6, y - 0.5)]], WHITE)
    c.poly(pts, rgb('#f2b52c'))
    c.poly([(x + 8.8, y - 11.4), (x + 11.4, y - 8.8), (x + 12.4, y - 9.8), (x + 9.8, y - 12.4)], rgb('#e06a8a'))
    c.poly([(x, y), (x + 1.2, y - 3.8), (x + 3.8, y - 1.2)], rgb('#f3dfb8'))
    c.circle(x + 0.6, y - 0.6, 0.7, BLACK)


def act_check(c, cx=18, cy=18, r=5.2):
    mark_verify(c, cx, cy, r)


def act_stop(c, cx=17.5, cy=17.5, r=6.0):
    pts = [(cx + r * math.cos(math.radians(22.5 + 45 * i)), cy + r * math.sin(math.radians(22.5 + 45 * i))) for i in range(8)]
    c.poly([(cx + (p[0] - cx) * 1.18, cy + (p[1] - cy) * 1.18) for p in pts], WHITE)
    c.poly(pts, RED)
    c.line(cx - r * 0.45, cy, cx + r * 0.45, cy, r * 0.32, WHITE)


def act_rebuild(c, cx=17.5, cy=17.5, r=5.8):
    badge_base(c, cx, cy, r, BLUE)
    arrows_round(c, cx, cy, r * 0.55, r * 0.22, WHITE)


def act_gear(c, cx=17.5, cy=17.5, r=5.6):
    c.circle(cx, cy, r + 0.9, WHITE)
    teeth = []
    for i in range(16):
        a = math.radians(i * 22.5)
        rr = r if i % 2 == 0 else r * 0.72
        teeth.append((cx + rr * math.cos(a), cy + rr * math.sin(a)))
    c.poly(teeth, rgb('#5c6670'))
    c.circle(cx, cy, r * 0.58, rgb('#5c6670'))
    c.circle(cx, cy, r * 0.25, WHITE)


def host_icon(c, x0=1.5, y0=2.0, scale=1.0):
    s = scale
    c.rrect(x0, y0, x0 + 21 * s, y0 + 15 * s, 1.5 * s, OUTLINE)
    c.rect(x0 + 1.6 * s, y0 + 1.6 * s, x0 + 19.4 * s, y0 + 13.4 * s, vgrad(rgb('#7fb6ee'), rgb('#2c64b4'), y0, y0 + 13 * s))
    c.poly([(x0 + 1.6 * s, y0 + 1.6 * s), (x0 + 12 * s, y0 + 1.6 * s), (x0 + 1.6 * s, y0 + 9 * s)], WHITE, 0.25)
    c.rect(x0 + 8.5 * s, y0 + 15 * s, x0 + 12.5 * s, y0 + 18.5 * s, rgb('#7b8590'))
    c.rrect(x0 + 4.5 * s, y0 + 18.2 * s, x0 + 16.5 * s, y0 + 20.5 * s, 1.0 * s, OUTLINE)


def envelope(c, x0=1.5, y0=4.5, x1=21.5, y1=18.5):
    c.rrect(x0, y0, x1, y1, 1.2, OUTLINE)
    c.rect(x0 + 0.9, y0 + 0.9, x1 - 0.9, y1 - 0.9, vgrad(rgb('#fdfdfb'), rgb('#e2e0d8'), y0, y1))
    mx = (x0 + x1) / 2
    c.polyline([(x0 + 1.2, y0 + 1.2), (mx, y0 + (y1 - y0) * 0.55), (x1 - 1.2, y0 + 1.2)], 1.1, OUTLINE)
    c.polyline([(x0 + 1.2, y1 - 1.2), (mx - 3, y0 + (y1 - y0) * 0.45)], 0.8, rgb('#8a8a80'))
    c.polyline([(x1 - 1.2, y1 - 1.2), (mx + 3, y0 + (y1 - y0) * 0.45)], 0.8, rgb('#8a8a80'))


def calendar(c):
    c.rrect(2, 3, 21, 21, 1.5, OUTLINE)
    c.rect(3, 4, 20, 20, WHITE)
    c.rect(3, 4, 20, 8.5, rgb('#d23c3c'))
    for x in (6.5, 16.5):
        c.rrect(x - 1, 1.5, x + 1, 6, 0.8, rgb('#5c6670'))
    for row in range(3):
        for col in range(4):
            c.rect(4.6 + col * 4, 10.2 + row * 3.2, 6.8 + col * 4, 12.2 + row * 3.2, rgb('#9aa4b0'))


def generic_array(c, x0=0.5, y0=0.5, s=0.78):
    col = KIND['gen']
    c.rrect(x0, y0, x0 + 22 * s, y0 + 22 * s, 3 * s, mix(col, BLACK, 0.35))
    c.rrect(x0 + 1 * s, y0 + 1 * s, x0 + 21 * s, y0 + 21 * s, 2.4 * s, vgrad(mix(col, WHITE, 0.3), col, y0, y0 + 22 * s))
    drive(c, x0 + 3 * s, y0 + 3.5 * s, x0 + 19 * s, y0 + 10.5 * s)
    drive(c, x0 + 3 * s, y0 + 11.5 * s, x0 + 19 * s, y0 + 18.5 * s)


def plug(c, x, y, facing_right, color):
    # a cable plug: a body with two prongs, facing left or right
    d = 1 if facing_right else -1
    c.rrect(min(x, x + d * 7), y - 3.5, max(x, x + d * 7), y + 3.5, 1.2, color)
    for py in (y - 1.8, y + 1.8):
        c.rect(min(x + d * 7, x + d * 10), py - 0.7, max(x + d * 7, x + d * 10), py + 0.7, rgb('#c9a227'))


def socket(c, x, y, facing_right, color):
    d = 1 if facing_right else -1
    c.rrect(min(x, x + d * 7), y - 4, max(x, x + d * 7), y + 4, 1.2, color)
    for py in (y - 1.8, y + 1.8):
        c.rect(min(x + d * 5.5, x + d * 7), py - 0.8, max(x + d * 5.5, x + d * 7), py + 0.8, BLACK)


def person(c, cx, cy, s, color):
    c.circle(cx, cy - 3.2 * s, 2.6 * s, color)
    c.ellipse(cx, cy + 4.2 * s, 5.2 * s, 3.8 * s, color)
    c.rect(cx - 5.3 * s, cy + 4.2 * s, cx + 5.3 * s, cy + 6.6 * s, color)


def arrow(c, right):
    col = vgrad(rgb('#5cc55f'), rgb('#2a8a30'), 5, 19)
    pts = [(3, 9), (12, 9), (12, 4), (21, 12), (12, 20), (12, 15), (3, 15)]
    if not right:
        pts = [(24 - x, y) for x, y in pts]
    c.poly([(x + (0.8 if x > 12 else -0.8) * (1 if right else -1), y) for x, y in pts], rgb('#1d6a22'))
    c.poly(pts, col)


# ---- the icons --------------------------------------------------------------------------------------

ICONS = []  # (name, width, height, draw)


def icon(name, w=24, h=24):
    def deco(f):
        ICONS.append((name, w, h, f))
        return f
    return deco


def tree_icon(name, base, marks):
    def draw(c):
        base(c)
        for mark, where in marks:
            corner(c, mark, where)
    ICONS.append((name, 24, 24, draw))


@icon('host')
def _(c):
    host_icon(c)


@icon('Adapter')
def _(c):
    c.rrect(1, 4, 23, 18, 1.2, rgb('#0f4d22'))
    c.rect(2, 5, 22, 17, vgrad(rgb('#3aa555'), rgb('#1f7a38'), 5, 17))
    c.rect(4, 7, 11, 13, BLACK)
    c.rect(13, 7, 17, 10, rgb('#3a3a3a'))
    c.rect(13, 11.5, 17, 14.5, rgb('#3a3a3a'))
    for x in range(4, 21, 2):
        c.rect(x, 18, x + 1.2, 21, rgb('#d9b13b'))
    c.rect(3, 18, 21, 18.8, rgb('#0f4d22'))
    c.rect(19, 6.5, 21, 15, rgb('#c0c6cc'))


@icon('Channel')
def _(c):
    for i in range(6):
        c.rect(3 + i * 1.5, 3, 4.2 + i * 1.5, 21, mix(rgb('#cfd4da'), rgb('#8a939c'), (i % 2) * 0.6))
    c.rect(3, 3, 3.6, 21, RED)
    c.rrect(1.5, 8, 13, 14, 1, BLACK)
    c.rrect(14, 6, 22.5, 16, 1.2, OUTLINE)
    c.rect(15, 7, 21.5, 15, vgrad(rgb('#d8dde3'), rgb('#9aa3ad'), 7, 15))
    c.circle(20, 13, 0.9, GREEN)
    c.line(12.5, 11, 15, 11, 1.4, BLACK)


tree_icon('Disk', disk_icon, [])
tree_icon('Disk_Boot', disk_icon, [('boot', 'tl')])
tree_icon('Disk_Error', disk_icon, [('error', 'br')])
tree_icon('Disk_BError', disk_icon, [('boot', 'tl'), ('error', 'br')])
tree_icon('Disk_Spare', disk_icon, [('spare', 'br')])

STATES = [('', None), ('_Error', 'error'), ('_Broken', 'critical'), ('_Verify', 'verify'),
          ('_Building', 'creating'), ('_Lock', 'locked')]
for kind in ('1', '01', '10', '5'):
    base = (lambda k: lambda c: array_icon(c, k))(kind)
    for suffix, mark in STATES:
        marks = [(mark, 'br')] if mark else []
        tree_icon('Array_%s%s' % (kind, suffix), base, marks)
        boot_name = 'Array_%s_Boot' % kind if suffix == '' else 'Array_%s_B%s' % (kind, suffix[1:])
        tree_icon(boot_name, base, [('boot', 'tl')] + marks)
    if kind == '5':
        tree_icon('Array_5_Init', base, [('init', 'br')])
    if kind == '1':
        tree_icon('Array_1_Broken_Spare', base, [('spare', 'tr'), ('critical', 'br')])
for kind in ('0', 'JBOD'):
    base = (lambda k: lambda c: array_icon(c, k))(kind)
    tree_icon('Array_%s' % kind, base, [])
    tree_icon('Array_%s_Boot' % kind, base, [('boot', 'tl')])
    tree_icon('Array_%s_Error' % kind, base, [('error', 'br')])
    tree_icon('Array_%s_BError' % kind, base, [('boot', 'tl'), ('error', 'br')])


@icon('Unknown', 32, 32)
def _(c):
    c.rrect(2, 2, 30, 30, 4, OUTLINE)
    c.rrect(3.2, 3.2, 28.8, 28.8, 3, vgrad(rgb('#e8ebee'), rgb('#a9b1ba'), 3, 29))
    c.text('?', 9.5, 6, rgb('#3a4450'), scale=4)


@icon('Cdrom')
def _(c):
    c.circle(12, 12, 10.5, OUTLINE)
    c.circle(12, 12, 9.7, lambda x, y: mix(rgb('#f0f4f8'), rgb('#b6c2ce'), (x + y) / 48.0))
    c.ring(12, 12, 6.5, 1.6, rgb('#c9a0e8'), 200, 290)
    c.ring(12, 12, 6.5, 1.6, rgb('#9fd6f2'), 20, 110)
    c.circle(12, 12, 3.2, OUTLINE)
    c.circle(12, 12, 2.4, rgb('#e8ecf0'))
    c.circle(12, 12, 1.2, OUTLINE)


@icon('Tape')
def _(c):
    c.rrect(1, 5, 23, 19, 1.6, BLACK)
    c.rect(2, 6, 22, 18, rgb('#44494f'))
    c.rrect(4, 7.5, 20, 14.5, 1, rgb('#e8e2cf'))
    for x in (8, 16):
        c.circle(x, 11, 2.6, rgb('#44494f'))
        c.circle(x, 11, 1.2, WHITE)
    c.rect(10.5, 10, 13.5, 12, rgb('#6b4a2a'))
    c.poly([(7, 19), (8.5, 15.5), (15.5, 15.5), (17, 19)], rgb('#2a2d31'))


@icon('Hotplug')
def _(c):
    c.rrect(1, 3, 23, 21, 1.5, OUTLINE)
    c.rect(2, 4, 22, 20, vgrad(rgb('#6c7682'), rgb('#3e4650'), 4, 20))
    drive(c, 3.5, 8, 20.5, 18)
    c.rrect(7, 4.8, 17, 7.2, 1.0, rgb('#d9dde2'))
    c.circle(19.5, 5.8, 0.9, GREEN)


STATUS = [('Status_Error', 'error'), ('Status_Critical', 'critical'), ('SpareMark', 'spare'),
          ('Status_Bootable', 'boot'), ('Status_Locked', 'locked'), ('Status_Creating', 'creating'),
          ('Status_Verify', 'verify'), ('Status_InitRaid5', 'init')]
for name, mark in STATUS:
    ICONS.append((name, 12, 12, (lambda m: lambda c: MARKS[m](c, 6, 6.2 if m != 'critical' else 6.8, 4.9))(mark)))


def msg_warning(c, s):
    k = s / 32.0
    c.poly([(16 * k, 2 * k), (30.5 * k, 28 * k), (1.5 * k, 28 * k)], rgb('#8a6400'))
    c.poly([(16 * k, 4.2 * k), (28.6 * k, 26.8 * k), (3.4 * k, 26.8 * k)], vgrad(rgb('#ffd84a'), rgb('#f0a800'), 4 * k, 27 * k))
    c.line(16 * k, 11 * k, 16 * k, 19 * k, 3.2 * k, BLACK)
    c.circle(16 * k, 23.2 * k, 1.8 * k, BLACK)


def msg_error(c, s):
    k = s / 32.0
    c.circle(16 * k, 16 * k, 14.5 * k, rgb('#8a1010'))
    c.circle(16 * k, 16 * k, 13.5 * k, vgrad(rgb('#f05a5a'), rgb('#c41e1e'), 2 * k, 30 * k))
    d = 6 * k
    c.line(16 * k - d, 16 * k - d, 16 * k + d, 16 * k + d, 3.4 * k, WHITE)
    c.line(16 * k - d, 16 * k + d, 16 * k + d, 16 * k - d, 3.4 * k, WHITE)


def msg_normal(c, s):
    k = s / 32.0
    c.circle(16 * k, 16 * k, 14.5 * k, rgb('#173f80'))
    c.circle(16 * k, 16 * k, 13.5 * k, vgrad(rgb('#6aa6ee'), rgb('#2a62bc'), 2 * k, 30 * k))
    c.circle(16 * k, 9.2 * k, 2.1 * k, WHITE)
    c.rrect(14 * k, 13 * k, 18 * k, 25 * k, 1 * k, WHITE)


@icon('Warning', 32, 32)
def _(c):
    msg_warning(c, 32)


@icon('Error', 32, 32)
def _(c):
    msg_error(c, 32)


@icon('Normal', 32, 32)
def _(c):
    msg_normal(c, 32)


@icon('Lamp', 32, 32)
def _(c):
    c.circle(16, 12.5, 9.5, rgb('#9a7a10'))
    c.circle(16, 12.5, 8.6, lambda x, y: mix(rgb('#fff6b0'), rgb('#f4c20d'), min(1.0, math.hypot(x - 13.5, y - 9.5) / 11)))
    c.poly([(11, 18), (21, 18), (19.5, 23), (12.5, 23)], rgb('#f4c20d'))
    c.polyline([(13.5, 14.5), (15, 11), (16, 14.5), (17, 11), (18.5, 14.5)], 0.9, rgb('#b07800'))
    for i, y in enumerate((23, 25, 27)):
        c.rrect(12, y, 20, y + 1.8, 0.8, rgb('#8a939c') if i % 2 == 0 else rgb('#b8c0c8'))
    c.rrect(14, 28.6, 18, 30.4, 0.8, rgb('#5c6670'))


@icon('Yes', 18, 18)
def _(c):
    c.polyline([(3, 9.5), (7, 13.5), (15, 4.5)], 3.4, rgb('#1d6a22'))
    c.polyline([(3, 9.5), (7, 13.5), (15, 4.5)], 2.2, rgb('#3cb043'))


@icon('No', 19, 18)
def _(c):
    for w, col in ((3.4, rgb('#8a1010')), (2.2, rgb('#e03a3a'))):
        c.line(4.5, 4, 14.5, 14, w, col)
        c.line(4.5, 14, 14.5, 4, w, col)


@icon('Event_Normal_small')
def _(c):
    msg_normal(c, 24)


@icon('Event_Warning_small')
def _(c):
    msg_warning(c, 24)


@icon('Event_Error_small')
def _(c):
    msg_error(c, 24)


@icon('right')
def _(c):
    arrow(c, True)


@icon('left')
def _(c):
    arrow(c, False)


# toolbar: systems
@icon('addhost')
def _(c):
    host_icon(c, 0.5, 1.0, 0.9)
    act_plus(c)


@icon('ModifyHost')
def _(c):
    host_icon(c, 0.5, 1.0, 0.9)
    act_pencil(c)


@icon('delete')
def _(c):
    host_icon(c, 0.5, 1.0, 0.9)
    act_cross(c)


@icon('connect')
def _(c):
    c.line(0.5, 12, 4, 12, 2.2, rgb('#3a3a3a'))
    c.line(20, 12, 23.5, 12, 2.2, rgb('#3a3a3a'))
    plug(c, 3, 12, True, rgb('#4a5560'))
    socket(c, 13, 12, True, rgb('#4a5560'))
    c.circle(12, 4, 2.6, GREEN)


@icon('disconnect')
def _(c):
    c.line(0.5, 14, 2.5, 14, 2.2, rgb('#3a3a3a'))
    c.line(21.5, 10, 23.5, 10, 2.2, rgb('#3a3a3a'))
    plug(c, 1.5, 14, True, rgb('#4a5560'))
    socket(c, 15, 10, True, rgb('#4a5560'))
    c.line(11.5, 3, 13.5, 7, 1.3, RED)
    c.line(10, 21, 12, 17, 1.3, RED)


# toolbar: mail
@icon('setmail')
def _(c):
    envelope(c)
    act_gear(c)


@icon('addmail')
def _(c):
    envelope(c)
    act_plus(c)


@icon('modmail')
def _(c):
    envelope(c)
    act_pencil(c)


@icon('delmail')
def _(c):
    envelope(c)
    act_cross(c)


@icon('testmail')
def _(c):
    envelope(c)
    act_check(c)


# toolbar: arrays
@icon('createarray')
def _(c):
    generic_array(c)
    act_plus(c)


@icon('delarray')
def _(c):
    generic_array(c)
    act_cross(c)


@icon('renarray')
def _(c):
    generic_array(c)
    act_pencil(c)


@icon('addarray')
def _(c):
    generic_array(c)
    drive(c, 11, 14, 23, 22.5)
    act_plus(c, 17.5, 7, 4.4)


@icon('veriarray')
def _(c):
    generic_array(c)
    act_check(c)


@icon('rebuiarray')
def _(c):
    generic_array(c)
    act_rebuild(c)


@icon('abortarray')
def _(c):
    generic_array(c)
    act_stop(c)


@icon('rescandevice')
def _(c):
    drive(c, 1, 3, 17, 13)
    c.circle(14, 14, 6.6, WHITE)
    c.ring(14, 14, 5, 2.2, rgb('#3a4450'))
    c.circle(14, 14, 3.9, rgb('#bfe0ff'), 0.8)
    c.line(18, 18, 22.5, 22.5, 3.2, rgb('#3a4450'))


# toolbar: tasks
@icon('Newtask')
def _(c):
    calendar(c)
    act_plus(c)


@icon('Modifytask')
def _(c):
    calendar(c)
    act_pencil(c)


@icon('deleteTask')
def _(c):
    calendar(c)
    act_cross(c)


# users and privileges (16 x 16)
def user_icon(c, current, integrated):
    body = rgb('#2f9a3a') if current else rgb('#2f6fc8')
    if integrated:
        c.rrect(7.5, 1, 15.5, 7.5, 0.8, OUTLINE)
        c.rect(8.3, 1.8, 14.7, 6.4, rgb('#9fc8f2'))
        c.rect(10.5, 7.5, 12.5, 8.8, OUTLINE)
        person(c, 6, 8.6, 0.85, body)
    else:
        person(c, 8, 8.2, 1.0, body)
    if current:
        c.circle(13, 13, 2.9, WHITE)
        c.circle(13, 13, 2.2, AMBER)


@icon('standalone', 16, 16)
def _(c):
    user_icon(c, False, False)


@icon('currstand', 16, 16)
def _(c):
    user_icon(c, True, False)


@icon('integrated', 16, 16)
def _(c):
    user_icon(c, False, True)


@icon('currinteg', 16, 16)
def _(c):
    user_icon(c, True, True)


@icon('priviselect', 16, 16)
def _(c):
    c.poly([(8, 0.8), (14.5, 3), (14, 9), (8, 15.2), (2, 9), (1.5, 3)], rgb('#173f80'))
    c.poly([(8, 2), (13.3, 3.8), (12.9, 8.6), (8, 13.8), (3.1, 8.6), (2.7, 3.8)], vgrad(rgb('#6aa6ee'), rgb('#2a62bc'), 2, 14))
    c.polyline([(5, 7.8), (7.2, 10), (11.2, 5.2)], 1.6, WHITE)


# the login form's picture
@icon('Login', 96, 160)
def _(c):
    c.rect(0, 0, 96, 160, vgrad(rgb('#dbe8f7'), rgb('#7fa3cf'), 0, 160))
    # a server tower
    c.rrect(22, 18, 74, 128, 4, OUTLINE)
    c.rrect(24, 20, 72, 126, 3, vgrad(rgb('#aab4bf'), rgb('#6d7884'), 20, 126))
    for i in range(4):
        drive(c, 28, 26 + i * 14, 68, 38 + i * 14)
    c.circle(64, 114, 2.2, GREEN)
    c.rect(30, 110, 52, 112, rgb('#3a4450'))
    c.rect(30, 116, 52, 118, rgb('#3a4450'))
    # a key
    c.ring(38, 140, 7, 3.2, rgb('#8a6400'))
    c.ring(38, 140, 7, 2.0, rgb('#f2c230'))
    c.line(45, 140, 78, 140, 3.6, rgb('#8a6400'))
    c.line(45, 140, 78, 140, 2.2, rgb('#f2c230'))
    for x in (66, 72):
        c.rect(x - 1.2, 140, x + 1.2, 146, rgb('#c8901a'))


def write_xpm(name, w, h, draw):
    c = Canvas(w, h)
    draw(c)
    px = c.pixels()
    colors = sorted({p for row in px for p in row if p is not None})
    alphabet = ''.join(ch for ch in map(chr, range(35, 127)) if ch not in '"\\?')
    cpp = 1 if len(colors) < len(alphabet) else 2
    keys = list(alphabet) if cpp == 1 else [a + b for a in alphabet for b in alphabet]
    none = ' ' * cpp
    codes = {col: keys[i] for i, col in enumerate(colors)}
    lines = ['"%d %d %d %d",' % (w, h, len(colors) + 1, cpp), '"%s c None",' % none]
    lines += ['"%s c %s",' % (codes[col], col) for col in colors]
    lines += ['"%s",' % ''.join(none if p is None else codes[p] for p in row) for row in px]
    with open(os.path.join(HERE, name + '.xpm'), 'w') as f:
        f.write('/* XPM */\nconst char* xpm_d_%s[] = {\n' % name)
        f.write('\n'.join(lines))
        f.write('\n};\n')


def main():
    names = []
    for name, w, h, draw in ICONS:
        write_xpm(name, w, h, draw)
        names.append((name, w, h))
    gui = os.path.dirname(HERE)
    with open(os.path.join(gui, 'xpm_data.h'), 'w') as f:
        f.write('// The icon set compiled in as XPM data (drawn by icons/mkicons.py, which writes this file).\n')
        f.write('#pragma once\n\n')
        for name, w, h in names:
            f.write('extern const char* xpm_d_%s[];  // %d x %d\n' % (name, w, h))
        f.write('\nstruct SXpmIcon {\n    const char* name;\n    const char** data;\n};\n')
        f.write('// Every icon, in the order they are drawn.\nextern const SXpmIcon VtnIcons[];\n')
        f.write('constexpr int VTN_ICON_COUNT = %d;\n' % len(names))
    with open(os.path.join(gui, 'xpm_data.cpp'), 'w') as f:
        f.write('// Written by icons/mkicons.py.\n#include "xpm_data.h"\n\n')
        for name, _, _ in names:
            f.write('#include "icons/%s.xpm"\n' % name)
        f.write('\nconst SXpmIcon VtnIcons[] = {\n')
        for name, _, _ in names:
            f.write('    {"%s", xpm_d_%s},\n' % (name, name))
        f.write('};\n')
    print('%d icons' % len(names))


if __name__ == '__main__':
    main()
