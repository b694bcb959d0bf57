#!/usr/bin/env python3
"""Writes the small seed inputs of fuzz/corpus/<what>/. Each input is 12 parameter bytes
(see harness.h: window size (2 bytes), size modes, then the codec's own) followed by the packed data."""
import io
import os
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def params(*codec, window=257, modes=0):
    head = bytes([window & 255, window >> 8, modes]) + bytes(codec)
    return head + bytes(12 - len(head))


def bits(text):
    text = text.replace(' ', '')
    text += '0' * (-len(text) % 8)
    return bytes(int(text[i:i + 8], 2) for i in range(0, len(text), 8))


def lzw(codes):
    acc, n, out = 0, 0, bytearray()
    for code, width in codes:
        acc, n = (acc << width) | code, n + width
        while n >= 8:
            out.append((acc >> (n - 8)) & 255)
            n -= 8
    if n:
        out.append((acc << (8 - n)) & 255)
    return bytes(out)


EOL = '000000000001'
seeds = {
    'targa': [params(2) + bytes([0x83, 0x12, 0x34, 0x02, 1, 2, 3, 4, 5, 6]),
              params(3, modes=5) + bytes([0x84, 9, 8, 7, 0x00, 1, 2, 3])],
    'packbits': [params() + bytes([0xFE, 0xAA, 0x80, 0x01, 0x10, 0x20]),
                 params(modes=17) + bytes([0x05, 1, 2, 0x81, 7])],
    'pcx': [params() + bytes([0xC3, 0x44, 0xC0, 0x99, 0xBF, 0x01])],
    'sgi': [params(0) + bytes([0x05, 0x33, 0x85, 1, 2, 3, 4, 5, 0x00]),
            params(1) + bytes([0x00, 0x02, 0xAB, 0xCD, 0x00, 0x81, 0x12, 0x34, 0x00, 0x00])],
    'cut': [params() + bytes([0x07, 0x00, 0x83, 0x21, 0x02, 0x05, 0x06, 0x00, 0x03, 0x00, 0x81, 0x09, 0x00])],
    'psp': [params() + bytes([0x83, 0x66, 0x02, 0x01, 0x02, 0x84, 0x99])],
    'rla': [params() + bytes([0x02, 0x5A, 0xFE, 0x01, 0x02])],
    'lzw': [params() + lzw([(256, 9), (65, 9), (66, 9), (258, 9), (260, 9), (257, 9)]),
            params(window=255) + lzw([(256, 9)] + [(i % 256, 9) for i in range(254)] + [(90, 10), (257, 10)])],
    'thunder': [params(4, 0) + bytes([0xC5, 0x03, 0xCF, 0x5B, 0xAB, 0xC2, 0x02]),
                params(3, 0) + bytes([0xC7, 0x02, 0x54])],
    'lz77': [params(0, 0) + zlib.compress(bytes(range(200)) * 3),
             params(0, 1, modes=16) + zlib.compress(b'imbrix' * 50) + zlib.compress(b'strip')],
    'fax3': [params(0, 16, 0) + bits(EOL + '1000 11 01000' + '0000' + EOL + '00110101 0011 01000'),
             params(1, 100, 0) + bits(EOL + '11011 0111 000011010010')],
    'faxmh': [params(0, 0, 16, 0) + bits('1000 11 01000') + bits('00110101 0011 01000'),
              params(0, 1, 8, 0) + bits('1000 0011') + b'\xff' + bits('1100 10')],
    'color_manager': [bytes([4, 6, 8, 8, 3, 3, 0, 0, 0xFF, 16, 0, 0]) + bytes(range(48)),
                      bytes([9, 6, 8, 8, 4, 3, 0, 0, 0xAA, 8, 3, 0]) + bytes(range(64)),
                      bytes([1, 1, 4, 8, 1, 1, 0, 0, 0xFF, 12, 0, 0]) + bytes(range(32))],
}

try:
    from PIL import Image
    im = Image.new('RGB', (16, 8))
    im.putdata([(x * 16, y * 30, (x * y) % 256) for y in range(8) for x in range(16)])
    buf = io.BytesIO()
    im.save(buf, 'JPEG', quality=80)
    # 16 x 8, all rows in one strip, 3 samples, YCbCr, chunky, 2 x 2 subsampling.
    seeds['tiffjpeg'] = [params(15, 7, 1, 0, 1, 0, 1, 0, window=384) + buf.getvalue()]
except ImportError:
    pass

for what, inputs in seeds.items():
    folder = os.path.join(HERE, 'corpus', what)
    os.makedirs(folder, exist_ok=True)
    for i, data in enumerate(inputs):
        with open(os.path.join(folder, 'seed%d' % i), 'wb') as f:
            f.write(data)
