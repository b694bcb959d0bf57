#!/usr/bin/env python3
"""Writes the seed files of the whole-reader harnesses for portable maps, Autodesk pictures
and Photo-CD packs (fuzz/corpus/read_ppm, read_autodesk, read_pcd): each seed is one small
valid file of a layout the reader handles."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def autodesk(width, height):
    head = struct.pack('<HHHHHBBI16x', 0x9119, width, height, 0, 0, 8, 0, width * height)
    palette = bytes((i * 7 + c * 21) % 64 for i in range(256) for c in range(3))
    return head + palette + bytes((x * 37 + y * 11) % 256 for y in range(height) for x in range(width))


def photo_cd(rotation, overview=False, base=False):
    sector = 2048
    data = bytearray(3 * sector)
    if overview:
        data[0:7] = b'PCD_OPA'
    else:
        data[sector:sector + 7] = b'PCD_IPI'
    data[10:12] = struct.pack('>H', 1)
    data[3586] = rotation
    if not base:
        return bytes(data) + b'\0'
    data += bytes(93 * sector)
    for y in range(0, 512, 2):
        for _ in range(2):
            data += bytes((x // 3 + y // 2) % 256 for x in range(768))
        data += bytes([156]) * 384 + bytes([137]) * 384
    return bytes(data)


seeds = {
    'read_ppm': [b'P1\n3 2\n1 0 1\n010\n',
                 b'P2 2 2 15 # comment\n0 5 10 15\n',
                 b'P3\n# made by hand\n2 1\n255\n255 0 0 0 0 255\n',
                 b'P4\n9 2\n\xff\x80\x55\x00',
                 b'P5\n2 2\n65535\n\x00\x00\x12\x34\xab\xcd\xff\xff',
                 b'P6 2 1 1000\n\x03\xe8\x00\x00\x01\xf4\x00\x10\x00\x20\x00\x30',
                 b'P6\n2 2\n255\n' + bytes(range(12))],
    'read_autodesk': [autodesk(3, 2), autodesk(8, 1)],
    'read_pcd': [photo_cd(1), photo_cd(0, overview=True), photo_cd(3, base=True)],
}

for what, inputs in seeds.items():
    folder = os.path.join(HERE, 'corpus', what)
    os.makedirs(folder, exist_ok=True)
    for i, data in enumerate(inputs):
        with open(os.path.join(folder, 'seed%d' % i), 'wb') as f:
            f.write(data)
