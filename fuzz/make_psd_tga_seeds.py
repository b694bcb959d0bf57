#!/usr/bin/env python3
"""Writes the tiny seed files of fuzz/corpus/read_psd/ and fuzz/corpus/read_tga/: one small
valid picture per layout the readers take apart (modes, depths, compressions, row orders)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def packbits(row):
    out = bytearray()
    for i in range(0, len(row), 128):
        chunk = row[i:i + 128]
        out += bytes([len(chunk) - 1]) + chunk
    return bytes(out)


def psd(mode, depth, w, h, planes, compression=0, mode_data=b''):
    head = b'8BPS' + struct.pack('>H6xHIIHH', 1, len(planes), h, w, depth, mode)
    head += struct.pack('>I', len(mode_data)) + mode_data + struct.pack('>II', 0, 0)
    head += struct.pack('>H', compression)
    row = (w * depth + 7) // 8
    rows = [p[y * row:(y + 1) * row] for p in planes for y in range(h)]
    if compression == 1:
        packed = [packbits(r) for r in rows]
        return head + b''.join(struct.pack('>H', len(r)) for r in packed) + b''.join(packed)
    return head + b''.join(rows)


def tga(image_type, depth, w, h, pixels, descriptor=0, cmap=b'', cmap_bits=0, ident=b''):
    entry = (cmap_bits + 7) // 8
    head = struct.pack('<BBBHHBHHHHBB', len(ident), 1 if cmap else 0, image_type, 0,
                       len(cmap) // entry if entry else 0, cmap_bits, 0, 0, w, h, depth, descriptor)
    return head + ident + cmap + pixels


def seq(n, start=0):
    return bytes((start + 37 * i) & 255 for i in range(n))


psd_seeds = {
    'rgb_raw.psd': psd(3, 8, 4, 3, [seq(12, k) for k in range(3)]),
    'rgba_packbits.psd': psd(3, 8, 4, 3, [seq(12, k) for k in range(4)], 1),
    'gray_packbits.psd': psd(1, 8, 5, 2, [seq(10)], 1),
    'indexed.psd': psd(2, 8, 3, 2, [bytes([0, 1, 2, 2, 1, 0])], 0, seq(768)),
    'cmyk.psd': psd(4, 8, 2, 2, [seq(4, k) for k in range(4)], 1),
    'lab.psd': psd(9, 8, 2, 2, [seq(4, k) for k in range(3)]),
    'bitmap.psd': psd(0, 1, 9, 2, [bytes([0xA5, 0x80, 0x3C, 0x00])], 1),
    'gray16.psd': psd(1, 16, 2, 2, [seq(8)]),
}
tga_seeds = {
    'mapped24.tga': tga(1, 8, 3, 2, bytes([0, 1, 2, 1, 0, 1]), cmap=seq(9), cmap_bits=24),
    'mapped16_rle.tga': tga(9, 8, 3, 2, bytes([0x83, 1, 0x01, 0, 1]), cmap=seq(4), cmap_bits=16),
    'rgb16_rle.tga': tga(10, 16, 3, 2, bytes([0x84, 0x1F, 0x7C, 0x01, 0xE0, 0x03, 0xFF, 0x7F])),
    'rgb24_top.tga': tga(2, 24, 2, 2, seq(12), 0x20, ident=b'id'),
    'rgba32_rle.tga': tga(10, 32, 2, 2, bytes([0x81, 1, 2, 3, 0, 0x01]) + seq(8), 0x28),
    'gray_rle.tga': tga(11, 8, 4, 1, bytes([0x82, 9, 0x00, 200])),
    'gray_alpha.tga': tga(3, 16, 2, 1, bytes([10, 255, 20, 0]), 0x08),
    'rgb24_mirrored.tga': tga(2, 24, 2, 1, seq(6), 0x10),
}
for folder, seeds in (('read_psd', psd_seeds), ('read_tga', tga_seeds)):
    os.makedirs(os.path.join(HERE, 'corpus', folder), exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(HERE, 'corpus', folder, name), 'wb') as f:
            f.write(data)
