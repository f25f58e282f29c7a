#!/usr/bin/env python3
"""Draws the pictures of the node and drive panels (parameter editor, object
dictionary and object editor) into canopen/ next to this script: the tool-bar
actions (32 x 32) and the node picture (48 x 48). It uses the shapes and the
PNG writer of make_icons.py; run it from anywhere.
"""

import math

from make_icons import (WHITE, arc, arrow_head, circle, floppy, icon, line, page, polygon, rect,
                        rgb)

INK = rgb('#3E5A78')
GREEN, DARK_GREEN = rgb('#2E9E4F'), rgb('#1E6B35')
BLUE = rgb('#2F6FB5')
RED = rgb('#D64541')
AMBER = rgb('#E0A526')
GREY = rgb('#9AA9B8')


def device(x0=4.0, y0=17.0, x1=28.0, y1=29.0):
    """A small box with two pins and a status lamp: the node."""
    return [
        (rect(x0, y0, x1, y1, 2), INK),
        (rect(x0 + 1.6, y0 + 1.6, x1 - 1.6, y1 - 1.6, 1.2), rgb('#DDE6F0')),
        (circle(x1 - 5, (y0 + y1) / 2, 2), GREEN),
        (rect(x0 + 4, (y0 + y1) / 2 - 1, x0 + 12, (y0 + y1) / 2 + 1), GREY),
    ]


def down_arrow(x, y0, y1, colour, width=4.0):
    return [(line(x, y0, x, y1 - 5, width), colour), (arrow_head(x, y1, 90, 7, 10), colour)]


def up_arrow(x, y0, y1, colour, width=4.0):
    return [(line(x, y0, x, y1 + 5, width), colour), (arrow_head(x, y1, -90, 7, 10), colour)]


def table_lines(x0, y0, x1, rows=3, gap=4.5):
    layers = [(rect(x0, y0, x1, y0 + rows * gap + 1.5, 1), INK)]
    layers.append((rect(x0 + 1.3, y0 + 1.3, x1 - 1.3, y0 + rows * gap + 0.2, 0.6), WHITE))
    for r in range(1, rows):
        layers.append((line(x0 + 1.3, y0 + r * gap + 0.7, x1 - 1.3, y0 + r * gap + 0.7, 1.0), GREY))
    return layers


def badge(cx, cy, colour, plus=True):
    layers = [(circle(cx, cy, 6.6), WHITE), (circle(cx, cy, 5.6), colour),
              (rect(cx - 3.4, cy - 0.8, cx + 3.4, cy + 0.8), WHITE)]
    if plus:
        layers.append((rect(cx - 0.8, cy - 3.4, cx + 0.8, cy + 3.4), WHITE))
    return layers


def cross(cx, cy, colour):
    return [(circle(cx, cy, 6.6), WHITE), (circle(cx, cy, 5.6), colour),
            (line(cx - 2.6, cy - 2.6, cx + 2.6, cy + 2.6, 1.8), WHITE),
            (line(cx + 2.6, cy - 2.6, cx - 2.6, cy + 2.6, 1.8), WHITE)]


def circular_arrows(cx, cy, r, colour, width=3.2):
    return [
        (arc(cx, cy, r, width, 200, 340), colour),
        (arrow_head(cx + r * math.cos(math.radians(345)), cy + r * math.sin(math.radians(345)),
                    75, 6, 8), colour),
        (arc(cx, cy, r, width, 20, 160), colour),
        (arrow_head(cx + r * math.cos(math.radians(165)), cy + r * math.sin(math.radians(165)),
                    255, 6, 8), colour),
    ]


def toolbar():
    icon('canopen/toolbar_drive_download_32x32.png', device() + down_arrow(16, 2, 17, BLUE))
    icon('canopen/toolbar_drive_upload_32x32.png', device() + up_arrow(16, 17, 2, GREEN))
    icon('canopen/toolbar_drive_parameters_store_32x32.png',
         floppy(BLUE, -1, -1, 0.85) + [(circle(23.5, 23.5, 7.2), WHITE), (circle(23.5, 23.5, 6.2), GREEN),
                                        (line(20.3, 23.8, 22.8, 26.3, 1.8), WHITE),
                                        (line(22.8, 26.3, 27, 20.8, 1.8), WHITE)])
    icon('canopen/toolbar_drive_parameters_reset_32x32.png', [
        (arc(16, 16, 10.5, 3.6, 210, 500), RED),
        (arrow_head(16 + 10.5 * math.cos(math.radians(210)), 16 + 10.5 * math.sin(math.radians(210)),
                    120, 7, 9), RED),
        (circle(16, 16, 2.6), INK),
    ])
    icon('canopen/toolbar_deleteFromEditor_32x32.png', table_lines(3, 4, 24, 4) + cross(23.5, 23.5, RED))
    icon('canopen/toolbar_addToEditor_32x32.png', table_lines(3, 4, 24, 4) + badge(23.5, 23.5, GREEN))
    icon('canopen/toolbar_open_dictionary_32x32.png', [
        (polygon([(3, 7), (15, 9), (15, 28), (3, 26)]), INK),
        (polygon([(29, 7), (17, 9), (17, 28), (29, 26)]), INK),
        (polygon([(4.5, 8.8), (14, 10.4), (14, 26.2), (4.5, 24.6)]), WHITE),
        (polygon([(27.5, 8.8), (18, 10.4), (18, 26.2), (27.5, 24.6)]), WHITE),
        (line(6.5, 13.5, 12, 14.5, 1.1), GREY), (line(6.5, 17, 12, 18, 1.1), GREY),
        (line(20, 14.5, 25.5, 13.5, 1.1), GREY), (line(20, 18, 25.5, 17, 1.1), GREY),
        (line(20, 21.5, 25.5, 20.5, 1.1), AMBER),
    ])
    icon('canopen/toolbar_default_32x32.png', [
        (rect(3, 5, 13, 27, 1), INK), (rect(4.3, 6.3, 11.7, 25.7, 0.6), rgb('#FCE9B6')),
        (rect(19, 5, 29, 27, 1), INK), (rect(20.3, 6.3, 27.7, 25.7, 0.6), WHITE),
        (line(9, 16, 21, 16, 2.6), GREEN), (arrow_head(26, 16, 0, 6, 8), GREEN),
    ])
    icon('canopen/toolbar_synch_32x32.png', circular_arrows(16, 16, 10, BLUE))
    icon('canopen/toolbar_export_32x32.png', page(4, 3, 21, 28, 5, INK) + [
        (line(7.5, 12, 17.5, 12, 1.3), GREY), (line(7.5, 15.5, 17.5, 15.5, 1.3), GREY),
        (line(7.5, 19, 14, 19, 1.3), GREY),
        (line(15, 22, 24, 22, 3.2), GREEN), (arrow_head(30, 22, 0, 7, 9), GREEN),
    ])


def node_picture():
    """The node panel's picture: a device on a bus line, with a shadow."""
    icon('canopen/graphics_node_shadow_48x48.png', [
        (rect(6, 9, 29, 27, 2.5), rgb('#000000', 0.22)),
        (rect(4, 7, 27, 25, 2.5), INK),
        (rect(5.6, 8.6, 25.4, 23.4, 1.6), rgb('#DDE6F0')),
        (circle(21, 12.5, 1.8), GREEN),
        (rect(8, 11.5, 16, 13.5), GREY), (rect(8, 16, 22, 17.6), GREY), (rect(8, 19.5, 19, 21.1), GREY),
        (line(15.5, 25, 15.5, 28.5, 2), INK),
        (line(2, 29, 30, 29, 2.2), AMBER),
    ], 48)


if __name__ == '__main__':
    toolbar()
    node_picture()
