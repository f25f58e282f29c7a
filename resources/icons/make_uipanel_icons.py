#!/usr/bin/env python3
"""Draws the tool-bar pictures of the operator-screen panel into uipanel/
beside this file, with the shapes and canvas of make_icons.py: design mode
(a pencil), reloading the screen, the data-object table, deleting objects
from it, cloning screen elements and changing their node id."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_icons import (WHITE, arc, arrow_head, circle, icon, line, pencil, rect, rgb)  # noqa: E402


def table(ink, head):
    layers = [(rect(3, 5, 29, 27, 1.5), ink), (rect(4.5, 6.5, 27.5, 25.5), WHITE),
              (rect(4.5, 6.5, 27.5, 11.5), head)]
    for y in (16.2, 20.9):
        layers.append((line(4.5, y, 27.5, y, 1.0), rgb('#9AA9B8')))
    for x in (12.2, 19.8):
        layers.append((line(x, 6.5, x, 25.5, 1.0), rgb('#9AA9B8')))
    return layers


def control(x, y, ink, knob):
    """A small screen element: a framed slider with its knob."""
    return [(rect(x, y, x + 16, y + 11, 1.5), ink), (rect(x + 1.3, y + 1.3, x + 14.7, y + 9.7, 1), WHITE),
            (line(x + 3, y + 5.5, x + 13, y + 5.5, 1.4), rgb('#9AA9B8')), (circle(x + 9, y + 5.5, 2.4), knob)]


def main():
    ink = rgb('#3E5A78')
    blue, green, red = rgb('#2F6FB5'), rgb('#2E9E4F'), rgb('#D64541')
    os.makedirs(os.path.join(os.path.dirname(os.path.abspath(__file__)), 'uipanel'), exist_ok=True)

    icon('uipanel/ToolPencil.png', pencil(6, 26, 27, 5, 5.0, rgb('#F2B33D')))
    icon('uipanel/Update.png', [
        (arc(16, 16, 10, 3.2, 40, 320), green),
        (arrow_head(26.5, 14.5, 60, 8, 9), green),
    ])
    icon('uipanel/DataTable.png', table(ink, blue))
    icon('uipanel/toolbar_deleteFromEditor_32x32.png', table(ink, blue)[:3] + [
        (circle(22, 22, 8), WHITE), (circle(22, 22, 6.8), red),
        (rect(17.5, 21, 26.5, 23, 0.5), WHITE),
    ])
    icon('uipanel/toolbar_uicontrol_clone_32x32.png',
         control(3, 4, ink, blue) + control(13, 17, ink, green))
    icon('uipanel/toolbar_uicontrol_changeId_32x32.png', control(2, 3, ink, blue) + [
        (circle(22, 22, 8.5), WHITE), (circle(22, 22, 7.3), ink),
        (line(19.5, 18.5, 19.5, 25.5, 1.6), WHITE), (line(24.5, 18.5, 24.5, 25.5, 1.6), WHITE),
        (line(18, 20.5, 26, 20.5, 1.4), WHITE), (line(18, 23.5, 26, 23.5, 1.4), WHITE),
    ])


if __name__ == '__main__':
    main()
