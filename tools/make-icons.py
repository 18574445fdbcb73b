#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files (16 and 32 pixels, 32-bit colour).

    tools/make-icons.py resources/

key-open.ico     the tray picture while the closed ports are open: a yellow key with a small tag
key-blocked.ico  the same key in red, while connections are blocked
quietwire.ico    the program's own icon, the key in its everyday yellow: the executable's first icon
                 (Explorer, the taskbar, the installed-programs list) and the forms' title bars
quietwire-16.png, quietwire-32.png
                 the program's icon again, for the Linux desktop's menus (icon themes take no .ico)
"""
import struct
import sys
import zlib

SIZE = 32


def canvas():
    return [[(0, 0, 0, 0) for _ in range(SIZE)] for _ in range(SIZE)]


def fill(img, x0, y0, x1, y1, colour):
    for y in range(max(0, y0), min(SIZE, y1)):
        for x in range(max(0, x0), min(SIZE, x1)):
            img[y][x] = colour


def disc(img, cx, cy, r_out, r_in, colour):
    for y in range(SIZE):
        for x in range(SIZE):
            d = ((x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2) ** 0.5
            if r_in <= d <= r_out:
                img[y][x] = colour


def key(body, edge):
    img = canvas()
    disc(img, 9, 12, 8, 0, edge)
    disc(img, 9, 12, 7, 3, body)  # the bow, a ring
    fill(img, 15, 10, 30, 15, edge)
    fill(img, 16, 11, 29, 14, body)  # the shaft
    for x in (21, 26):  # the bit's teeth
        fill(img, x, 14, x + 3, 20, edge)
        fill(img, x + 1, 14, x + 2, 19, body)
    fill(img, 5, 20, 11, 30, (96, 96, 96, 255))  # the tag on its string
    fill(img, 6, 21, 10, 29, (250, 250, 240, 255))
    fill(img, 7, 19, 8, 21, (96, 96, 96, 255))
    return img


def shrink(img):
    out = []
    for y in range(0, SIZE, 2):
        row = []
        for x in range(0, SIZE, 2):
            px = [img[y + dy][x + dx] for dy in (0, 1) for dx in (0, 1)]
            a = sum(p[3] for p in px)
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(sum(p[c] * p[3] for p in px) // a for c in range(3)) + (a // 4,))
        out.append(row)
    return out


def dib(img):
    n = len(img)
    header = struct.pack('<IiiHHIIiiII', 40, n, n * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b''.join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(img) for p in row)
    # 32-bit images carry their transparency in the alpha channel; the AND mask stays clear.
    mask = bytes(((n + 31) // 32) * 4 * n)
    return header + pixels + mask


def ico(img32):
    images = [dib(shrink(img32)), dib(img32)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for data, n in zip(images, (16, 32)):
        out += struct.pack('<BBBBHHII', n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b''.join(images)


def png(img):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    n = len(img)
    rows = b''.join(b'\0' + b''.join(bytes(p) for p in row) for row in img)  # filter 0, RGBA
    header = struct.pack('>IIBBBBB', n, n, 8, 6, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(rows, 9)) + chunk(b'IEND', b'')


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else 'resources'
    yellow = key((245, 205, 40, 255), (120, 90, 10, 255))
    icons = {
        'key-open.ico': yellow,
        'key-blocked.ico': key((220, 35, 35, 255), (110, 10, 10, 255)),
        'quietwire.ico': yellow,
    }
    for name, img in icons.items():
        with open(f'{folder}/{name}', 'wb') as f:
            f.write(ico(img))
    window = icons['quietwire.ico']
    for name, img in {'quietwire-16.png': shrink(window), 'quietwire-32.png': window}.items():
        with open(f'{folder}/{name}', 'wb') as f:
            f.write(png(img))


main()
