#!/usr/bin/env python3
"""Writes the small seed metafiles of fuzz/corpus/read_wmf/: a placeable and a plain Windows
metafile and an enhanced metafile, each with a few records of every family."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def wmf_record(function, *words, raw=b''):
    body = struct.pack('<%dh' % len(words), *words) + raw
    if len(body) % 2:
        body += b'\0'
    return struct.pack('<IH', 3 + len(body) // 2, function) + body


def dib24(w, h, color):
    rows = (bytes(color) * w + b'\0' * ((-3 * w) % 4)) * h
    return struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(rows), 0, 0, 0, 0) + rows


def wmf(placeable):
    recs = b''.join([
        wmf_record(0x0103, 8), wmf_record(0x020B, 0, 0), wmf_record(0x020C, 100, 100),
        wmf_record(0x02FC, raw=struct.pack('<HIH', 2, 0x0000FF, 3)), wmf_record(0x012D, 0),
        wmf_record(0x02FA, raw=struct.pack('<HhhI', 0, 3, 0, 0xFF0000)), wmf_record(0x012D, 1),
        wmf_record(0x02FB, raw=struct.pack('<5h8B', -12, 0, 450, 0, 700, 1, 0, 0, 0, 0, 0, 0, 0) + b'Sans\0'),
        wmf_record(0x012D, 2), wmf_record(0x001E), wmf_record(0x0416, 90, 90, 5, 5),
        wmf_record(0x041B, 50, 50, 10, 10), wmf_record(0x0418, 90, 90, 40, 40),
        wmf_record(0x081A, 0, 50, 50, 90, 90, 90, 10, 10), wmf_record(0x0127, -1),
        wmf_record(0x0538, 2, 3, 3, 0, 0, 50, 0, 0, 50, 10, 10, 40, 10, 10, 40),
        wmf_record(0x012E, 24), wmf_record(0x0521, 2, raw=b'Hi' + struct.pack('<hh', 80, 10)),
        wmf_record(0x0F43, 0x20, 0xCC, 0, 1, 1, 0, 0, 20, 20, 70, 70, raw=dib24(1, 1, (0, 255, 0))),
    ])
    words = 9 + len(recs) // 2 + 3
    head = struct.pack('<HHHIHIH', 1, 9, 0x300, words, 4, 64, 0)
    out = head + recs + struct.pack('<IH', 3, 0)
    if placeable:
        p = struct.pack('<IH4hHI', 0x9AC6CDD7, 0, 0, 0, 100, 100, 1440, 0)
        checksum = 0
        for (v,) in struct.iter_unpack('<H', p):
            checksum ^= v
        out = p + struct.pack('<H', checksum) + out
    return out


def emf_record(kind, body):
    body += b'\0' * (-len(body) % 4)
    return struct.pack('<II', kind, 8 + len(body)) + body


def emf():
    i = lambda *v: struct.pack('<%di' % len(v), *v)
    dib = dib24(1, 1, (255, 0, 0))
    recs = b''.join([
        emf_record(17, i(8)), emf_record(9, i(50, 50)), emf_record(11, i(48, 48)),
        emf_record(39, i(1, 0, 0xFF00, 0)), emf_record(37, i(1)),
        emf_record(82, i(2, -10, 0, 0, 0, 400) + bytes(8) + 'Sans'.encode('utf-16-le') + bytes(56)),
        emf_record(37, i(2)), emf_record(33, b''), emf_record(30, i(2, 2, 40, 40)),
        emf_record(43, i(5, 5, 25, 25)), emf_record(42, i(20, 20, 45, 45)), emf_record(34, i(-1)),
        emf_record(59, b''), emf_record(27, i(0, 0)), emf_record(54, i(40, 0)), emf_record(54, i(0, 40)),
        emf_record(60, b''), emf_record(62, i(0, 0, 0, 0)),
        emf_record(86, i(0, 0, 0, 0, 3) + struct.pack('<6h', 0, 0, 10, 0, 0, 10)),
        emf_record(84, i(0, 0, 0, 0, 1, 0, 0, 5, 30, 2, 76, 0x100, 0, 0, 0, 0, 0) + 'Hi'.encode('utf-16-le')),
        emf_record(81, i(0, 0, 0, 0, 30, 30, 0, 0, 1, 1, 80, 40, 120, len(dib) - 40, 0, 0x00CC0020, 10, 10) + dib),
    ])
    total = 88 + len(recs) + 20
    head = struct.pack('<II4i4iIIIIHHIIIiiii', 1, 88, 0, 0, 47, 47, 0, 0, 1270, 1270, 0x464D4520, 0x10000, total,
                       len(recs) + 2, 4, 0, 0, 0, 0, 48, 48, 13, 13)
    return head + recs + struct.pack('<IIIII', 14, 20, 0, 16, 20)


def main():
    folder = os.path.join(HERE, 'corpus', 'read_wmf')
    os.makedirs(folder, exist_ok=True)
    for name, data in [('placeable.wmf', wmf(True)), ('plain.wmf', wmf(False)), ('small.emf', emf())]:
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
