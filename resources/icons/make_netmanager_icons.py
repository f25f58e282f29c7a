#!/usr/bin/env python3
"""Draws the tool-bar pictures of the network manager panel into netmanager/
beside this file, with the shapes and canvas of make_icons.py: scanning the
bus, building the project, the monitor's data table, starting the monitor
and removing objects from a table."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_icons import (WHITE, arc, circle, icon, line, polygon, rect, rgb)  # noqa: E402


def bus(ink, y=24.0):
    """A bus line with three node stubs below the given height."""
    layers = [(line(3, y, 29, y, 2.0), ink)]
    for x in (8, 16, 24):
        layers += [(line(x, y, x, y - 5, 1.6), ink), (rect(x - 3, y - 9, x + 3, y - 4.5, 1), ink)]
    return layers


def main():
    ink = rgb('#3E5A78')
    blue, green, red = rgb('#2F6FB5'), rgb('#2E9E4F'), rgb('#D64541')
    steel = rgb('#4A5A6A')

    # Scan: the bus under a magnifying glass.
    icon('netmanager/toolbar_busScan_32x32.png', bus(ink, 28) + [
        (line(19, 14, 26, 21, 3.6), steel),
        (circle(13, 9, 8), steel), (circle(13, 9, 6), rgb('#D6EEF2')),
        (arc(13, 9, 3.6, 1.4, 200, 260), WHITE),
    ])
    # Build: the bus with a green plus.
    icon('netmanager/toolbar_build_project_32x32.png', bus(ink, 28) + [
        (circle(22, 9, 7.5), WHITE), (circle(22, 9, 6.3), green),
        (rect(18.2, 8.1, 25.8, 9.9), WHITE), (rect(21.1, 5.2, 22.9, 12.8), WHITE),
    ])
    # Data table: a grid with a blue head row.
    table = [(rect(3, 5, 29, 27, 1.5), ink), (rect(4.5, 6.5, 27.5, 25.5), WHITE),
             (rect(4.5, 6.5, 27.5, 11.5), blue)]
    for y in (16.2, 20.9):
        table.append((line(4.5, y, 27.5, y, 1.0), rgb('#9AA9B8')))
    for x in (12.2, 19.8):
        table.append((line(x, 6.5, x, 25.5, 1.0), rgb('#9AA9B8')))
    icon('netmanager/DataTable.png', table)
    # Start the monitor: a green play triangle.
    icon('netmanager/toolbar_player_32x32_Play.png', [
        (polygon([(6, 3), (29, 16), (6, 29)]), rgb('#1E6B35')),
        (polygon([(8, 6.5), (25.5, 16), (8, 25.5)]), green),
    ])
    # Delete from the table: a small table with a red minus.
    icon('netmanager/toolbar_deleteFromEditor_32x32.png', table[:3] + [
        (circle(22, 22, 8), WHITE), (circle(22, 22, 6.8), red),
        (rect(17.5, 21, 26.5, 23, 0.5), WHITE),
    ])


if __name__ == '__main__':
    main()
