#!/usr/bin/env python3
"""Draws the view's three cursors and the application icon as XPM files.

Run from this folder: python3 make_pictures.py. The pictures are simple geometric shapes
(rasterised here without any imaging library) so that they can be regenerated exactly.
"""
import math


def blank(size):
    return [[' '] * size for _ in range(size)]


def write_xpm(name, rows, colours):
    size = len(rows)
    with open(name + '.xpm', 'w') as f:
        f.write('/* XPM */\n')
        f.write('static const char* const %s_xpm[] = {\n' % name)
        f.write('"%d %d %d 1",\n' % (size, size, len(colours)))
        for key, value in colours:
            f.write('"%s c %s",\n' % (key, value))
        for i, row in enumerate(rows):
            f.write('"%s"%s\n' % (''.join(row), ',' if i + 1 < size else '};'))


def outline(rows, fill='w', edge='.'):
    """Surrounds every filled pixel with an edge pixel so the cursor shows on any colour."""
    size = len(rows)
    out = [r[:] for r in rows]
    for y in range(size):
        for x in range(size):
            if rows[y][x] != ' ':
                continue
            for dy in (-1, 0, 1):
                for dx in (-1, 0, 1):
                    yy, xx = y + dy, x + dx
                    if 0 <= yy < size and 0 <= xx < size and rows[yy][xx] == fill:
                        out[y][x] = edge
    return out


def in_polygon(px, py, poly):
    inside = False
    n = len(poly)
    for i in range(n):
        x1, y1 = poly[i]
        x2, y2 = poly[(i + 1) % n]
        if (y1 > py) != (y2 > py):
            xc = x1 + (py - y1) * (x2 - x1) / (y2 - y1)
            if px < xc:
                inside = not inside
    return inside


def fill_polygon(rows, poly, key='w'):
    for y in range(len(rows)):
        for x in range(len(rows)):
            if in_polygon(x + 0.5, y + 0.5, poly):
                rows[y][x] = key


def move_cursor():
    # Four arrows from the centre (15.5, 15.5): the surface follows the pointer.
    rows = blank(32)
    c = 16.0
    for ang in (0, 90, 180, 270):
        a = math.radians(ang)
        ux, uy = math.cos(a), math.sin(a)
        vx, vy = -uy, ux
        shaft = [(c + vx * 1.5, c + vy * 1.5), (c + ux * 9 + vx * 1.5, c + uy * 9 + vy * 1.5),
                 (c + ux * 9 - vx * 1.5, c + uy * 9 - vy * 1.5), (c - vx * 1.5, c - vy * 1.5)]
        head = [(c + ux * 8 + vx * 5, c + uy * 8 + vy * 5), (c + ux * 14, c + uy * 14),
                (c + ux * 8 - vx * 5, c + uy * 8 - vy * 5)]
        fill_polygon(rows, shaft)
        fill_polygon(rows, head)
    return outline(rows)


def zoom_cursor():
    # A double-headed vertical arrow with a bar: moving down brings the surface closer.
    rows = blank(32)
    c = 16.0
    fill_polygon(rows, [(c - 1.5, 7), (c + 1.5, 7), (c + 1.5, 25), (c - 1.5, 25)])
    fill_polygon(rows, [(c - 6, 9), (c, 2), (c + 6, 9)])
    fill_polygon(rows, [(c - 6, 23), (c, 30), (c + 6, 23)])
    fill_polygon(rows, [(c - 8, 15), (c + 8, 15), (c + 8, 17), (c - 8, 17)])
    return outline(rows)


def rotate_cursor():
    # Three quarters of a ring with an arrow head: the surface turns under the drag.
    rows = blank(32)
    c = 16.0
    for y in range(32):
        for x in range(32):
            dx, dy = x + 0.5 - c, y + 0.5 - c
            r = math.hypot(dx, dy)
            ang = math.degrees(math.atan2(dy, dx)) % 360
            if 8.5 <= r <= 11.5 and not (270 < ang < 350):
                rows[y][x] = 'w'
    # Arrow head at the end of the ring (angle 270, top), pointing right.
    fill_polygon(rows, [(c - 1, c - 16), (c + 6, c - 10), (c - 1, c - 4)])
    return outline(rows)


def app_icon():
    # A shaded, checker-textured wave surface seen from above: the program's subject.
    size = 32
    rows = blank(size)
    shades = 'abcdefgh'
    for y in range(size):
        for x in range(size):
            u, v = (x - 15.5) / 14.0, (y - 15.5) / 14.0
            if u * u + v * v > 1.0:
                continue
            h = math.sin(u * 3.0) * math.cos(v * 3.0)
            # Lambert shading of the height field lit from the upper left.
            nx = -3.0 * math.cos(u * 3.0) * math.cos(v * 3.0)
            ny = 3.0 * math.sin(u * 3.0) * math.sin(v * 3.0)
            n = math.sqrt(nx * nx + ny * ny + 1.0)
            light = max(0.0, (-nx * -0.5 + -ny * -0.5 + 1.0 * 0.7) / n)
            level = min(3, int(light * 4.0))
            checker = ((x // 4) + (y // 4) + (1 if h > 0 else 0)) % 2
            rows[y][x] = shades[level + 4 * checker]
    return rows


if __name__ == '__main__':
    cursor_colours = [(' ', 'None'), ('.', '#000000'), ('w', '#FFFFFF')]
    write_xpm('cur_translate', move_cursor(), cursor_colours)
    write_xpm('cur_zoom', zoom_cursor(), cursor_colours)
    write_xpm('cur_rotate', rotate_cursor(), cursor_colours)
    icon_colours = [(' ', 'None'),
                    ('a', '#102050'), ('b', '#203C88'), ('c', '#3C64C0'), ('d', '#78A0F0'),
                    ('e', '#503010'), ('f', '#8C5820'), ('g', '#C88C38'), ('h', '#F0C878')]
    write_xpm('orvane_view', app_icon(), icon_colours)
