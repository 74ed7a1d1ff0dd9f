#!/usr/bin/env python3
"""Counts the pixels of an 8-bit RGB or RGBA PNG that are clearly red, green or blue.

Prints "red N green N blue N"; exits 1 when the file is not such a PNG.
"""
import struct
import sys
import zlib


def pixels(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour not in (2, 6) or interlace:
                raise ValueError("not an 8-bit RGB(A) PNG without interlacing")
            size = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw, stride, previous, out = zlib.decompress(idat), width * size, bytearray(width * size), []
    for row in range(height):
        start = row * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a = line[i - size] if i >= size else 0
            b = previous[i]
            c = previous[i - size] if i >= size else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        out.extend(tuple(line[i:i + 3]) for i in range(0, stride, size))
        previous = line
    return out


def main():
    try:
        found = {"red": 0, "green": 0, "blue": 0}
        for r, g, b in pixels(sys.argv[1]):
            if r > 200 and g < 60 and b < 60:
                found["red"] += 1
            elif g > 150 and r < 60 and b < 60:
                found["green"] += 1
            elif b > 200 and r < 60 and g < 60:
                found["blue"] += 1
    except (OSError, ValueError, zlib.error, struct.error) as e:
        print(e)
        return 1
    print(" ".join(f"{k} {v}" for k, v in found.items()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
