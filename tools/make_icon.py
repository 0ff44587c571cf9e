#!/usr/bin/env python3
"""Writes resources/sondrel.ico: one 48x48, 32-bit image (green trace over red bars)."""
import math
import struct
import sys

SIZE = 48


def pixel(x, y):
    # Rounded dark square, a sine trace in the upper half, bars in the lower.
    r = 8
    cx = min(max(x, r), SIZE - 1 - r)
    cy = min(max(y, r), SIZE - 1 - r)
    if (x - cx) ** 2 + (y - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    b, g, rd = 0x13, 0x01, 0x03
    trace = 14 + 8 * math.sin(x / SIZE * 2 * math.pi * 1.5)
    if abs(y - trace) < 1.6:
        b, g, rd = 0, 255, 0
    bar = [10, 16, 7, 13, 18, 9, 12, 6]
    if y >= 26 and x >= 4 and x < 44:
        h = bar[(x - 4) // 5]
        if y >= 44 - h and (x - 4) % 5 != 4:
            b, g, rd = 0x13, 0x06, 0xC9
    return (b, g, rd, 255)


def main(path):
    xor = bytearray()
    for y in range(SIZE - 1, -1, -1):  # bottom-up rows
        for x in range(SIZE):
            xor += bytes(pixel(x, y))
    and_row = ((SIZE + 31) // 32) * 4
    mask = bytes(and_row * SIZE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + bytes(xor) + mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(icondir + entry + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/sondrel.ico")
