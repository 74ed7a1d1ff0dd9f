#!/usr/bin/env python3
"""Prints "red N green N blue N": the pixels of an 8-bit RGB(A) PNG that are clearly each colour."""
import struct, sys, zlib


def rows(data):
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG file"
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and not interlace, "not 8-bit RGB(A)"
            n = 3 if colour == 2 else 4
        idat += body if kind == b"IDAT" else b""
        pos += 12 + length
    raw, stride, prev = zlib.decompress(idat), width * n, bytearray(width * n)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a, b, c = (line[i - n] if i >= n else 0), prev[i], (prev[i - n] if i >= n else 0)
            p = a + b - c
            paeth = a if abs(p - a) <= min(abs(p - b), abs(p - c)) else b if abs(p - b) <= abs(p - c) else c
            predictor = [0, a, b, (a + b) // 2, paeth]
            line[i] = (line[i] + predictor[kind]) & 255
        yield [tuple(line[i:i + 3]) for i in range(0, stride, n)]
        prev = line


counts = {"red": 0, "green": 0, "blue": 0}
for row in rows(open(sys.argv[1], "rb").read()):
    for r, g, b in row:
        for name, clear in (("red", r > 200 and g < 60 and b < 60),
                            ("green", g > 150 and r < 60 and b < 60),
                            ("blue", b > 200 and r < 60 and g < 60)):
            counts[name] += clear
print(" ".join(f"{k} {v}" for k, v in counts.items()))
