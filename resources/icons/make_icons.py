#!/usr/bin/env python3
"""Draws the program's icon set: the project-tree pictures (flat 32 x 32
pictograms, one per module picture, the common tile background and the three
status overlays), the tool-bar and action pictures (in toolbar/) and the
application icon.

The program composes a row's icon from the background, the picture and the
overlay of the row's status band, so every picture is drawn on a transparent
canvas. Run it from anywhere; it writes the PNG files next to itself (the
tool-bar pictures into its folder toolbar/). It needs
nothing but the Python standard library (shapes are sampled 4 x 4 per pixel
for smooth edges, the PNG is written with zlib).
"""

import math
import os
import struct
import zlib

SIZE = 32
SUB = 4  # samples per pixel along each axis
OUT = os.path.dirname(os.path.abspath(__file__))


# ---------------------------------------------------------------- shapes
# A shape is (bounding box, inside(x, y) -> bool) in canvas coordinates.

def circle(cx, cy, r):
    return ((cx - r, cy - r, cx + r, cy + r),
            lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r)


def rect(x0, y0, x1, y1, r=0.0):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        if r <= 0:
            return True
        dx = max(x0 + r - x, 0, x - (x1 - r))
        dy = max(y0 + r - y, 0, y - (y1 - r))
        return dx * dx + dy * dy <= r * r
    return ((x0, y0, x1, y1), inside)


def polygon(points):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]

    def inside(x, y):
        hit = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit
    return ((min(xs), min(ys), max(xs), max(ys)), inside)


def line(x0, y0, x1, y1, width):
    h = width / 2.0
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy or 1e-9

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx - x, y0 + t * dy - y
        return px * px + py * py <= h * h
    return ((min(x0, x1) - h, min(y0, y1) - h, max(x0, x1) + h, max(y0, y1) + h), inside)


def polyline(points, width):
    return union(*[line(a[0], a[1], b[0], b[1], width) for a, b in zip(points, points[1:])])


def arc(cx, cy, r, width, a0, a1):
    """Ring sector from angle a0 to a1 (degrees, 0 = right, 90 = down)."""
    h = width / 2.0

    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if abs(d - r) > h:
            return False
        a = math.degrees(math.atan2(y - cy, x - cx))
        while a < a0:
            a += 360
        return a <= a1
    return ((cx - r - h, cy - r - h, cx + r + h, cy + r + h), inside)


def gear(cx, cy, body, tip, teeth, tooth_deg):
    step = 360.0 / teeth

    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if d <= body:
            return True
        if d > tip:
            return False
        a = (math.degrees(math.atan2(y - cy, x - cx)) + step / 2) % step - step / 2
        return abs(a) <= tooth_deg / 2
    return ((cx - tip, cy - tip, cx + tip, cy + tip), inside)


def star(cx, cy, r_out, r_in, points=5):
    pts = []
    for i in range(points * 2):
        r = r_out if i % 2 == 0 else r_in
        a = math.radians(-90 + i * 180.0 / points)
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return polygon(pts)


def ellipse(cx, cy, rx, ry):
    return ((cx - rx, cy - ry, cx + rx, cy + ry),
            lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0)


def union(*shapes):
    box = (min(s[0][0] for s in shapes), min(s[0][1] for s in shapes),
           max(s[0][2] for s in shapes), max(s[0][3] for s in shapes))
    return (box, lambda x, y: any(s[1](x, y) for s in shapes))


def minus(a, *cuts):
    return (a[0], lambda x, y: a[1](x, y) and not any(c[1](x, y) for c in cuts))


def outline(outer, inner):
    return minus(outer, inner)


# ---------------------------------------------------------------- canvas

def rgb(hex_text, alpha=1.0):
    v = int(hex_text.lstrip('#'), 16)
    return ((v >> 16) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0, alpha)


class Canvas:
    """Shapes are given in a 32 x 32 space whatever the canvas size."""

    def __init__(self, size=SIZE):
        self.size = size
        self.k = SIZE / float(size)  # canvas pixel -> drawing units
        # premultiplied RGBA floats
        self.px = [[(0.0, 0.0, 0.0, 0.0) for _ in range(size)] for _ in range(size)]

    def fill(self, shape, colour):
        (bx0, by0, bx1, by1), inside = shape
        unit, n = self.k, self.size
        for py in range(max(0, int(by0 / unit) - 1), min(n, int(math.ceil(by1 / unit)) + 1)):
            for px in range(max(0, int(bx0 / unit) - 1), min(n, int(math.ceil(bx1 / unit)) + 1)):
                hits = 0
                for sy in range(SUB):
                    y = (py + (sy + 0.5) / SUB) * unit
                    for sx in range(SUB):
                        if inside((px + (sx + 0.5) / SUB) * unit, y):
                            hits += 1
                if not hits:
                    continue
                r, g, b, a = colour((px + 0.5) * unit, (py + 0.5) * unit) if callable(colour) else colour
                a *= hits / float(SUB * SUB)
                dr, dg, db, da = self.px[py][px]
                k = 1.0 - a
                self.px[py][px] = (r * a + dr * k, g * a + dg * k, b * a + db * k, a + da * k)

    def save(self, name):
        raw = bytearray()
        for row in self.px:
            raw.append(0)
            for r, g, b, a in row:
                if a > 0:
                    r, g, b = r / a, g / a, b / a
                raw.extend(int(round(max(0.0, min(1.0, c)) * 255)) for c in (r, g, b, a))

        def chunk(kind, data):
            body = kind + data
            return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xffffffff)

        png = (b'\x89PNG\r\n\x1a\n'
               + chunk(b'IHDR', struct.pack('>IIBBBBB', self.size, self.size, 8, 6, 0, 0, 0))
               + chunk(b'IDAT', zlib.compress(bytes(raw), 9))
               + chunk(b'IEND', b''))
        path = os.path.join(OUT, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(png)


def icon(name, layers, size=SIZE):
    c = Canvas(size)
    for shape, colour in layers:
        c.fill(shape, colour)
    c.save(name)


WHITE = rgb('#FFFFFF')


# ---------------------------------------------------------------- icon set

def background():
    top, bottom = rgb('#FBFCFD'), rgb('#D9E0E8')

    def gradient(x, y):
        t = max(0.0, min(1.0, (y - 1) / 30.0))
        return tuple(a + (b - a) * t for a, b in zip(top, bottom))
    icon('button_background.png', [
        (rect(0.5, 0.5, 31.5, 31.5, 6.5), rgb('#8C98A6')),
        (rect(1.5, 1.5, 30.5, 30.5, 5.5), gradient),
    ])


def overlay(name, main, rim):
    icon(name, [
        (circle(25.5, 25.5, 6.3), WHITE),
        (circle(25.5, 25.5, 5.0), rgb(rim)),
        (circle(25.5, 25.5, 4.1), rgb(main)),
        (circle(24.3, 24.2, 1.3), rgb('#FFFFFF', 0.55)),
    ])


def arrow_head(x, y, angle_deg, length, width):
    a = math.radians(angle_deg)
    ux, uy = math.cos(a), math.sin(a)
    bx, by = x - ux * length, y - uy * length
    return polygon([(x, y), (bx - uy * width / 2, by + ux * width / 2),
                    (bx + uy * width / 2, by - ux * width / 2)])


def pictures():
    house = polygon([(16, 4.5), (3.5, 15.5), (7, 15.5), (7, 27), (25, 27), (25, 15.5), (28.5, 15.5)])
    icon('button_home.png', [(minus(house, rect(13.5, 18.5, 18.5, 27.5)), rgb('#2F6FB5'))])

    c = rgb('#2A9D8F')
    icon('button_nodemgr.png', [
        (polyline([(16, 8), (16, 16)], 2), c),
        (polyline([(7, 23), (7, 16), (25, 16), (25, 23)], 2), c),
        (line(16, 16, 16, 23, 2), c),
        (circle(16, 7.5, 3.8), c),
        (circle(7, 24.5, 3.4), c), (circle(16, 24.5, 3.4), c), (circle(25, 24.5, 3.4), c),
    ])

    shell = polygon([(3.5, 9.5), (28.5, 9.5), (25, 22.5), (7, 22.5)])
    pins = [circle(x, 14, 1.4) for x in (9.6, 12.8, 16, 19.2, 22.4)] + \
           [circle(x, 18.2, 1.4) for x in (11.2, 14.4, 17.6, 20.8)]
    icon('button_can_interface.png', [(minus(shell, *pins), rgb('#D35400'))])

    c = rgb('#8E44AD')
    icon('button_kelvatro.png', [
        (line(2.5, 16, 8, 16, 3), c),
        (rect(7, 10.5, 20, 21.5, 2.5), c),
        (rect(20, 12, 28, 14.6, 0.8), c),
        (rect(20, 17.4, 28, 20, 0.8), c),
    ])

    c = rgb('#16A085')
    icon('button_network.png', [
        (line(3.5, 23, 28.5, 23, 2.4), c),
        (rect(4, 7, 12, 14, 1.2), c), (rect(12, 7, 20, 14, 1.2), rgb('#0E6B59')),
        (rect(20, 7, 28, 14, 1.2), c),
        (line(8, 14, 8, 23, 1.8), c), (line(16, 14, 16, 23, 1.8), c), (line(24, 14, 24, 23, 1.8), c),
    ])

    c = rgb('#1F77B4')
    icon('button_player.png', [
        (outline(circle(16, 16, 12.5), circle(16, 16, 10.3)), c),
        (polygon([(12.5, 9.5), (12.5, 22.5), (23, 16)]), c),
    ])

    c = rgb('#6C5CE7')
    icon('button_stethoscope.png', [
        (outline(rect(3.5, 5.5, 28.5, 23.5, 2.5), rect(5.5, 7.5, 26.5, 21.5, 1)), c),
        (polyline([(6.5, 15), (11, 15), (13, 10), (16, 20), (18.5, 12.5), (20.5, 15), (25.5, 15)], 1.8), c),
        (line(16, 23.5, 16, 27, 2), c), (line(11, 27.5, 21, 27.5, 2), c),
    ])

    icon('button_drive.png', [(minus(gear(16, 16, 9, 12.8, 8, 20), circle(16, 16, 3.6)), rgb('#34495E'))])
    icon('button_ruxa.png', [
        (minus(gear(16, 16, 9.5, 13, 6, 26), circle(16, 16, 5)), rgb('#B03A2E')),
        (circle(16, 16, 2.4), rgb('#B03A2E')),
    ])

    c = rgb('#7D6608')
    icon('button_drive_trelk.png', [
        (rect(4, 9, 22, 23, 2.5), c),
        (rect(22, 14.3, 28.5, 17.7, 0.8), c),
        (line(8, 9, 8, 23, 1.2), WHITE), (line(12, 9, 12, 23, 1.2), WHITE),
        (rect(8.5, 23, 17.5, 26, 0.8), c),
    ])

    c = rgb('#2E86C1')
    icon('button_download.png', [
        (rect(13.2, 3.5, 18.8, 14), c),
        (polygon([(7.5, 13), (24.5, 13), (16, 22)]), c),
        (polyline([(4.5, 20.5), (4.5, 27), (27.5, 27), (27.5, 20.5)], 2.6), c),
    ])

    c = rgb('#707B7C')
    head = circle(20.5, 11.5, 7.2)
    jaw = union(circle(20.5, 11.5, 3.2), polygon([(20.5, 11.5), (22, 2), (30, 10)]))
    icon('button_tool.png', [
        (line(5.5, 26.5, 17, 15, 5), c),
        (minus(head, jaw), c),
    ])

    c = rgb('#A04000')
    icon('button_objects.png', [
        (outline(rect(4.5, 5.5, 27.5, 26.5, 1.8), rect(6.3, 7.3, 25.7, 24.7)), c),
        (rect(4.5, 5.5, 27.5, 11, 1.8), c),
        (line(5, 16.2, 27, 16.2, 1.5), c), (line(5, 21.3, 27, 21.3, 1.5), c),
        (line(13, 11, 13, 26, 1.5), c),
    ])

    c = rgb('#196F3D')
    page = polygon([(6.5, 3.5), (19.5, 3.5), (25.5, 9.5), (25.5, 28.5), (6.5, 28.5)])
    inner = polygon([(8.5, 5.5), (18.7, 5.5), (23.5, 10.3), (23.5, 26.5), (8.5, 26.5)])
    icon('button_script.png', [
        (outline(page, inner), c),
        (polyline([(19.5, 4), (19.5, 9.5), (25, 9.5)], 1.8), c),
        (line(11, 14, 21, 14, 1.7), c), (line(11, 18, 21, 18, 1.7), c), (line(11, 22, 17.5, 22, 1.7), c),
    ])

    c = rgb('#C0392B')
    icon('button_xy_position.png', [
        (polyline([(6.5, 6), (6.5, 25.5), (27, 25.5)], 2.2), c),
        (arrow_head(6.5, 3, -90, 5, 5.5), c), (arrow_head(29.5, 25.5, 0, 5, 5.5), c),
        (outline(circle(18, 13, 4.6), circle(18, 13, 3)), c),
        (line(18, 6.5, 18, 19.5, 1.2), c), (line(11.5, 13, 24.5, 13, 1.2), c),
    ])

    c = rgb('#117A65')
    end = -20.0
    ex, ey = 16 + 10 * math.cos(math.radians(end)), 16 + 10 * math.sin(math.radians(end))
    icon('button_test_cycle.png', [
        (arc(16, 16, 10, 3.2, 40, 340), c),
        (arrow_head(ex + 2.6, ey + 4.6, 70, 7.5, 8), c),
    ])

    c = rgb('#5B2C6F')
    icon('button_automation.png', [
        (minus(gear(16, 16, 10, 13.2, 8, 20), circle(16, 16, 6.4)), c),
        (polygon([(13.8, 12), (13.8, 20), (20.4, 16)]), c),
    ])

    icon('button_wizard.png', [
        (line(5.5, 27, 18, 14.5, 3.2), rgb('#4A4A4A')),
        (line(16.3, 16.2, 18.6, 13.9, 3.4), WHITE),
        (star(22, 9.5, 7.5, 3.2), rgb('#D4AC0D')),
    ])

    c = rgb('#1A5276')
    chip = [(rect(9, 9, 23, 23, 1.8), c), (circle(12.5, 12.5, 1.3), WHITE)]
    for p in (11.2, 14.4, 17.6, 20.8):
        chip += [(rect(p - 0.9, 4.5, p + 0.9, 9), c), (rect(p - 0.9, 23, p + 0.9, 27.5), c),
                 (rect(4.5, p - 0.9, 9, p + 0.9), c), (rect(23, p - 0.9, 27.5, p + 0.9), c)]
    icon('button_can_node.png', chip)

    wave = [(6 + i * 0.5, 15.5 - 5.5 * math.sin((i * 0.5) / 20.0 * 2 * math.pi)) for i in range(41)]
    icon('button_scope.png', [
        (rect(3.5, 5.5, 28.5, 26, 2.5), rgb('#0E6655')),
        (line(5.5, 15.5, 26.5, 15.5, 0.7), rgb('#FFFFFF', 0.35)),
        (line(16, 7.5, 16, 24, 0.7), rgb('#FFFFFF', 0.35)),
        (polyline(wave, 1.9), rgb('#A3E4D7')),
    ])

    c = rgb('#922B21')
    icon('button_trigger.png', [
        (polyline([(3.5, 24), (13, 24), (13, 9), (28.5, 9)], 2.4), c),
        (polygon([(8.5, 19.5), (17.5, 19.5), (13, 13)]), c),
        (line(3.5, 16, 28.5, 16, 0.9), rgb('#922B21', 0.45)),
    ])

    c = rgb('#2874A6')
    icon('button_uipanel.png', [
        (outline(rect(3.5, 4.5, 28.5, 27.5, 2.2), rect(5.3, 6.3, 26.7, 25.7)), c),
        (rect(3.5, 4.5, 28.5, 10, 2.2), c),
        (line(8, 15.5, 24, 15.5, 1.5), c), (circle(13, 15.5, 2.4), c),
        (rect(8, 19.5, 16.5, 23.5, 1), c),
    ])

    c = rgb('#6E2C00')
    icon('button_remotecontrol.png', [
        (line(16, 13, 16, 27.5, 2.4), c), (line(10.5, 27.5, 21.5, 27.5, 2.4), c),
        (circle(16, 12, 2.6), c),
        (arc(16, 12, 6, 1.9, -145, -35), c), (arc(16, 12, 10.2, 1.9, -145, -35), c),
    ])

    icon('button_joystick.png', [
        (rect(5.5, 21.5, 26.5, 28, 2.2), rgb('#212F3D')),
        (line(16, 22, 16, 11, 2.8), rgb('#212F3D')),
        (circle(16, 9, 4.8), rgb('#C0392B')),
    ])

    c = rgb('#4A235A')
    icon('button_xenax.png', [
        (rect(3, 20, 29, 24, 1), c),
        (rect(10.5, 12.5, 21.5, 19.5, 1.6), c),
        (line(8, 7, 24, 7, 1.6), c),
        (arrow_head(4, 7, 180, 4.5, 5), c), (arrow_head(28, 7, 0, 4.5, 5), c),
    ])


# ------------------------------------------------- tool-bar pictures

def page_shape(x0, y0, x1, y1, fold):
    return polygon([(x0, y0), (x1 - fold, y0), (x1, y0 + fold), (x1, y1), (x0, y1)])


def page(x0, y0, x1, y1, fold, ink, paper=WHITE):
    """A sheet with a folded corner: outline, paper and the fold."""
    return [
        (page_shape(x0, y0, x1, y1, fold), ink),
        (page_shape(x0 + 1.6, y0 + 1.6, x1 - 1.6, y1 - 1.6, fold - 0.7), paper),
        (polygon([(x1 - fold, y0), (x1 - fold, y0 + fold), (x1, y0 + fold)]), ink),
    ]


def floppy(ink, x=0.0, y=0.0, s=1.0):
    def r(x0, y0, x1, y1, rad=0.0):
        return rect(x + x0 * s, y + y0 * s, x + x1 * s, y + y1 * s, rad * s)
    body = polygon([(x + 4 * s, y + 4 * s), (x + 24 * s, y + 4 * s), (x + 28 * s, y + 8 * s),
                    (x + 28 * s, y + 28 * s), (x + 4 * s, y + 28 * s)])
    return [
        (body, ink),
        (r(9, 4, 22, 12.5, 0.6), rgb('#DDE6F0')),
        (r(17.5, 5.5, 20.5, 11, 0.4), ink),
        (r(8, 17, 24, 28, 1), WHITE),
        (r(10, 20, 22, 21.3), rgb('#9AA9B8')), (r(10, 23.5, 22, 24.8), rgb('#9AA9B8')),
    ]


def pencil(x0, y0, x1, y1, width, body, tip_len=5.0):
    dx, dy = x1 - x0, y1 - y0
    n = math.hypot(dx, dy)
    ux, uy = dx / n, dy / n
    tx, ty = x1 - ux * tip_len, y1 - uy * tip_len
    h = width / 2.0
    return [
        (line(x0, y0, tx, ty, width), body),
        (polygon([(x1, y1), (tx - uy * h, ty + ux * h), (tx + uy * h, ty - ux * h)]), rgb('#F0C987')),
        (polygon([(x1, y1), (x1 - ux * 2.2 - uy * 0.9, y1 - uy * 2.2 + ux * 0.9),
                  (x1 - ux * 2.2 + uy * 0.9, y1 - uy * 2.2 - ux * 0.9)]), rgb('#333333')),
        (line(x0, y0, x0 + ux * 2.5, y0 + uy * 2.5, width), rgb('#E57373')),
    ]


def toolbar():
    ink = rgb('#3E5A78')
    green = rgb('#2E9E4F')
    icon('toolbar/Document.png', page(6, 3, 25, 29, 6, ink) + [
        (line(10, 14, 21, 14, 1.5), rgb('#9AA9B8')), (line(10, 18, 21, 18, 1.5), rgb('#9AA9B8')),
        (circle(23.5, 23.5, 6.5), WHITE), (circle(23.5, 23.5, 5.5), green),
        (rect(20.2, 22.7, 26.8, 24.3), WHITE), (rect(22.7, 20.2, 24.3, 26.8), WHITE),
    ])

    amber, dark = rgb('#E0A526'), rgb('#B07A12')
    icon('toolbar/Folder Open.png', [
        (polygon([(3, 8), (11, 8), (13.5, 10.5), (26, 10.5), (26, 26), (3, 26)]), dark),
        (rect(6, 12.5, 23.5, 20, 0.5), WHITE),
        (polygon([(8, 15.5), (30, 15.5), (25.5, 26), (3, 26)]), amber),
    ])

    icon('toolbar/Floppy.png', floppy(rgb('#2F6FB5')))
    icon('toolbar/toolbar_save_as_32x32.png',
         floppy(rgb('#2F6FB5'), -1, -1, 0.9) + [(circle(23, 23, 8.3), WHITE)]
         + pencil(29, 17, 17.5, 28.5, 4.2, rgb('#F39C12'), 4.0))

    red, dark_red = rgb('#D64541'), rgb('#A93226')
    icon('toolbar/toolbar_quit_32x32.png', [
        (arc(16, 17, 10.5, 3.4, -60, 240), dark_red),
        (line(16, 3.5, 16, 16, 3.4), dark_red),
    ])

    octagon = [(16 + 13 * math.cos(math.radians(22.5 + 45 * i)),
                16 + 13 * math.sin(math.radians(22.5 + 45 * i))) for i in range(8)]
    inner = [(16 + 11.2 * math.cos(math.radians(22.5 + 45 * i)),
              16 + 11.2 * math.sin(math.radians(22.5 + 45 * i))) for i in range(8)]
    icon('toolbar/toolbar_stop_32x32.png', [
        (polygon(octagon), dark_red), (polygon(inner), red),
        (rect(8.5, 13.8, 23.5, 18.2, 1), WHITE),
    ])

    blue = rgb('#2F6FB5')
    icon('toolbar/Help.png', [
        (circle(16, 16, 13), blue),
        (arc(16, 12.5, 4.6, 3.2, 180, 400), WHITE),
        (line(18.9, 16.1, 16, 18.3, 3.2), WHITE),
        (line(16, 18.3, 16, 20, 3.2), WHITE),
        (circle(16, 24.2, 2.0), WHITE),
    ])

    teal = rgb('#1F7A8C')
    icon('toolbar/Web.png', [
        (circle(16, 16, 13), teal),
        (circle(16, 16, 11.2), rgb('#D6EEF2')),
        (outline(ellipse(16, 16, 5.6, 11.6), ellipse(16, 16, 4.1, 11.2)), teal),
        (line(16, 4.5, 16, 27.5, 1.5), teal),
        (line(4.5, 16, 27.5, 16, 1.5), teal),
        (line(6.3, 10.5, 25.7, 10.5, 1.3), teal), (line(6.3, 21.5, 25.7, 21.5, 1.3), teal),
    ])

    brown = rgb('#8E5A2B')
    icon('toolbar/toolbar_generateRuntime_32x32.png', [
        (polygon([(4, 11), (16, 5), (28, 11), (28, 24), (16, 30), (4, 24)]), brown),
        (polygon([(4, 11), (16, 5), (28, 11), (16, 17)]), rgb('#C68A4B')),
        (line(16, 17, 16, 30, 1.0), rgb('#5E3A1A')),
        (circle(25, 8, 6.6), WHITE), (circle(25, 8, 5.6), green),
        (polygon([(25, 11.5), (21.5, 7.5), (23.8, 7.5), (23.8, 4), (26.2, 4), (26.2, 7.5), (28.5, 7.5)]), WHITE),
    ])

    steel = rgb('#4A5A6A')
    icon('toolbar/Clipboard Cut.png', [
        (line(10, 4, 20, 19, 2.6), steel), (line(22, 4, 12, 19, 2.6), steel),
        (outline(circle(9.5, 23, 5), circle(9.5, 23, 3)), rgb('#C0392B')),
        (outline(circle(22.5, 23, 5), circle(22.5, 23, 3)), rgb('#C0392B')),
        (circle(16, 13.2, 1.2), WHITE),
    ])
    icon('toolbar/Clipboard Copy.png',
         page(4, 3, 19, 22, 5, ink) + page(13, 10, 28, 29, 5, ink) + [
             (line(16.5, 19, 24.5, 19, 1.4), rgb('#9AA9B8')), (line(16.5, 23, 24.5, 23, 1.4), rgb('#9AA9B8')),
         ])
    board = rgb('#A0522D')
    icon('toolbar/Clipboard Paste.png', [
        (rect(4, 5, 23, 29, 2), board),
        (rect(9, 3, 18, 8, 1.5), rgb('#7F8C8D')), (rect(11, 2, 16, 4.5, 1), rgb('#7F8C8D')),
    ] + page(13, 11, 28, 30, 5, ink) + [
        (line(16.5, 20, 24.5, 20, 1.4), rgb('#9AA9B8')), (line(16.5, 24, 24.5, 24, 1.4), rgb('#9AA9B8')),
    ])

    icon('toolbar/toolbar_32x32_Remove.png', [
        (circle(16, 16, 12.5), red),
        (rect(8.5, 14.2, 23.5, 17.8, 1), WHITE),
    ])
    icon('toolbar/toolbar_edit_32x32.png',
         [(line(4, 28.5, 14, 28.5, 1.6), ink)] + pencil(27, 5, 6.5, 25.5, 5.5, rgb('#F39C12'), 6.0))


def user_icon():
    """The tool-bar picture of the user-level menu: a person with a key."""
    body, key = rgb('#3E5A78'), rgb('#E0A526')
    icon('toolbar/User.png', [
        (circle(13, 9.5, 5.5), body),
        (minus(ellipse(13, 26, 10, 8.5), rect(2, 28, 30, 32)), body),
        (circle(24, 19, 4.2), key), (circle(24, 19, 1.6), WHITE),
        (rect(22.9, 22, 25.1, 30), key), (rect(25, 26, 28, 27.6), key),
    ])


def panel_actions():
    """Pictures of the panels' own tool-bar actions (in panels/)."""
    green, dark_green = rgb('#3FA34D'), rgb('#2A7034')
    red, dark_red = rgb('#E74C3C'), rgb('#A93226')
    icon('panels/play.png', [
        (circle(16, 16, 13.5), dark_green), (circle(16, 16, 12), green),
        (polygon([(12.5, 9), (12.5, 23), (23.5, 16)]), WHITE),
    ])
    icon('panels/stop.png', [
        (circle(16, 16, 13.5), dark_red), (circle(16, 16, 12), red),
        (rect(10.5, 10.5, 21.5, 21.5, 1.5), WHITE),
    ])


def player():
    """The player buttons of the CAN sender and the CAN monitor's tool bar."""
    green, dark_green = rgb('#2E9E4F'), rgb('#1E6B35')
    blue, dark_blue = rgb('#2F6FB5'), rgb('#1D4A7A')
    red, dark_red = rgb('#D64541'), rgb('#A93226')
    amber, dark_amber = rgb('#E0A526'), rgb('#B07A12')

    def triangle(x0, x1, y0=5.0, y1=27.0):
        return polygon([(x0, y0), (x1, (y0 + y1) / 2), (x0, y1)])

    def mirrored(shape):
        (x0, y0, x1, y1), inside = shape
        return ((32 - x1, y0, 32 - x0, y1), lambda x, y: inside(32 - x, y))

    icon('toolbar/player_play_32x32.png', [
        (polygon([(6, 3), (29, 16), (6, 29)]), dark_green),
        (polygon([(8, 6.5), (25.5, 16), (8, 25.5)]), green),
    ])
    icon('toolbar/player_stop_32x32.png', [
        (rect(5, 5, 27, 27, 2.5), dark_red), (rect(7, 7, 25, 25, 1.5), red),
    ])
    icon('toolbar/player_pause_32x32.png', [
        (rect(6, 4, 13.5, 28, 1.5), dark_amber), (rect(7.5, 5.5, 12, 26.5, 1), amber),
        (rect(18.5, 4, 26, 28, 1.5), dark_amber), (rect(20, 5.5, 24.5, 26.5, 1), amber),
    ])
    fwd = [(triangle(3, 17), dark_blue), (triangle(4.5, 15, 7.5, 24.5), blue),
           (triangle(15, 29), dark_blue), (triangle(16.5, 27, 7.5, 24.5), blue)]
    icon('toolbar/player_fastfwd_32x32.png', fwd)
    icon('toolbar/player_fastrev_32x32.png', [(mirrored(s), c) for s, c in fwd])
    icon('toolbar/toolbar_record_32x32.png', [
        (circle(16, 16, 12.5), dark_red), (circle(16, 16, 10.8), red),
        (circle(12.5, 12.5, 3.2), rgb('#FFFFFF', 0.45)),
    ])
    steel = rgb('#4A5A6A')
    icon('toolbar/toolbar_zoom_32x32.png', [
        (line(19, 19, 28, 28, 4.4), steel),
        (circle(13, 13, 10), steel), (circle(13, 13, 7.6), rgb('#D6EEF2')),
        (circle(10.5, 10.5, 2.4), WHITE),
    ])


def status_icons():
    """The row status lamps of the object tables (16 x 16, in status/)."""
    for name, main, rim in (('green', '#5EBE37', '#3F8A22'), ('yellow', '#FEE600', '#B8A500'),
                            ('red', '#FF6052', '#C0392B')):
        icon('status/status_%s_16x16.png' % name, [
            (circle(16, 16, 13), rgb(rim)),
            (circle(16, 16, 10.5), rgb(main)),
            (circle(12.5, 12, 3.5), rgb('#FFFFFF', 0.55)),
        ], 16)
    # A scaled value: a small ruler with an arrow across it.
    blue = rgb('#2F6FB5')
    icon('status/status_scaled_16x16.png', [
        (rect(3, 19, 29, 27, 1.5), blue),
        (rect(5, 21, 27, 25, 0.5), WHITE),
        (rect(9, 21, 10.5, 24, 0), blue),
        (rect(15.25, 21, 16.75, 25, 0), blue),
        (rect(21.5, 21, 23, 24, 0), blue),
        (line(5, 14, 23, 5, 2.6), blue),
        (arrow_head(28, 2.5, -26.6, 8, 8), blue),
    ], 16)


def app_icon(name='AppIcon.png', size=64):
    """The window and about-box icon: a bus line with three nodes. The tool
    bar shows it smaller as the logo that opens the about box."""
    top, bottom = rgb('#3A7BD5'), rgb('#1D3F72')

    def gradient(x, y):
        t = max(0.0, min(1.0, y / 32.0))
        return tuple(a + (b - a) * t for a, b in zip(top, bottom))
    layers = [
        (rect(1, 1, 31, 31, 6), gradient),
        (line(5, 20, 27, 20, 2.2), WHITE),
    ]
    for x, up in ((9, True), (16, False), (23, True)):
        y = 11 if up else 26
        layers += [(line(x, 20, x, y, 1.6), WHITE), (circle(x, y, 3.2), WHITE),
                   (circle(x, y, 1.6), rgb('#F5B041'))]
    icon(name, layers, size)


def status_marks():
    """The 16 x 16 validity marks of table rows (in status/): a green and a
    red lamp."""
    for name, light, dark in (('green', '#5EBE37', '#3F8A22'), ('red', '#FF6052', '#C0392B')):
        icon('status/status_%s_16x16.png' % name, [
            (circle(16, 16, 13), rgb(dark)), (circle(16, 16, 10.5), rgb(light)),
            (circle(12.5, 12, 3.5), rgb('#FFFFFF', 0.5)),
        ], 16)


if __name__ == '__main__':
    toolbar()
    user_icon()
    panel_actions()
    player()
    app_icon()
    status_icons()
    app_icon('ToolbarLogo.png', 40)
    background()
    overlay('button_overlay_green.png', '#5EBE37', '#3F8A22')
    overlay('button_overlay_yellow.png', '#FEE600', '#B8A500')
    overlay('button_overlay_red.png', '#FF6052', '#C0392B')
    pictures()
    status_marks()
