#!/usr/bin/python3
"""Draws the 32 x 32 emblem of the order documents (a plate seen from above,
with a fork and a knife beside it) and writes it as emblem.png; the Base64
text of the file is what the templates carry in their image field."""
import base64
import math
import struct
import sys
import zlib

SIZE = 32
BLUE = (0, 173, 239, 255)
LIGHT = (64, 191, 239, 255)
WHITE = (255, 255, 255, 255)
CLEAR = (255, 255, 255, 0)


def pixel(x, y):
    cx, cy = 16.0, 16.0
    d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
    # fork (left) and knife (right) stand outside the plate
    if 2 <= x <= 4 and 5 <= y <= 27:
        if y <= 10 and x == 3:
            return CLEAR if y < 9 else WHITE
        return BLUE
    if 27 <= x <= 29 and 5 <= y <= 27:
        if x == 29 and y > 14:
            return CLEAR
        return BLUE
    if d <= 10.5:
        if d >= 9.0:
            return BLUE
        if d <= 6.0:
            return LIGHT
        return WHITE
    return CLEAR


def png(width, height, rows):
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in rows)

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    data = png(SIZE, SIZE, [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)])
    out = sys.argv[1] if len(sys.argv) > 1 else "emblem.png"
    with open(out, "wb") as f:
        f.write(data)
    print(base64.b64encode(data).decode("ascii"))


if __name__ == "__main__":
    main()
