# Test material for the PNG reader, run with Debian's Python (Pillow).
#   make DIR          writes PNG files of every colour type and depth, interlaced and not, with
#                     every filter type, each listed in DIR/cases.txt
#   ref OUT FILE...   writes OUT/<name>.rgba for every FILE that Pillow reads: "w h gamma\n" and
#                     8-bit RGBA pixels, 16-bit gray reduced as v * 255 // 65535, plus the file's
#                     gAMA value (0 when it has none), from the chunks themselves
import os
import random
import struct
import sys
import zlib

from PIL import Image


def chunk(kind, data):
    body = kind + data
    return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xFFFFFFFF)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filter_row(kind, raw, prior, bpp):
    out = bytearray()
    for i, x in enumerate(raw):
        a = raw[i - bpp] if i >= bpp else 0
        b = prior[i]
        c = prior[i - bpp] if i >= bpp else 0
        pred = [0, a, b, (a + b) // 2, paeth(a, b, c)][kind]
        out.append((x - pred) & 255)
    return bytes([kind]) + bytes(out)


def pack(samples, depth):
    if depth == 8:
        return bytes(samples)
    if depth == 16:
        return b''.join(struct.pack('>H', s) for s in samples)
    out, acc, bits = bytearray(), 0, 0
    for s in samples:
        acc = (acc << depth) | s
        bits += depth
        if bits == 8:
            out.append(acc)
            acc, bits = 0, 0
    if bits:
        out.append(acc << (8 - bits))
    return bytes(out)


CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
ADAM7 = [(0, 8, 0, 8), (0, 8, 4, 8), (4, 8, 0, 4), (0, 4, 2, 4), (2, 4, 0, 2), (0, 2, 1, 2), (1, 2, 0, 1)]


def encode(w, h, ctype, depth, pixels, interlace, rng, extra=b'', split=False):
    ch = CHANNELS[ctype]
    bpp = max(1, depth * ch // 8)
    raw = bytearray()
    passes = ADAM7 if interlace else [(0, 1, 0, 1)]
    for (sy, dy, sx, dx) in passes:
        cols = list(range(sx, w, dx))
        rows = list(range(sy, h, dy))
        if not cols or not rows:
            continue
        prior = bytes(len(pack([0] * (len(cols) * ch), depth)))
        for n, y in enumerate(rows):
            samples = [v for x in cols for v in pixels[y][x]]
            line = pack(samples, depth)
            # every filter, the first row of each pass included
            raw += filter_row((n + rng.randrange(5)) % 5, line, prior, bpp)
            prior = line
    data = zlib.compress(bytes(raw), 9)
    ihdr = struct.pack('>IIBBBBB', w, h, depth, ctype, 0, 0, interlace)
    out = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + extra
    if split:
        # many small chunks, empty ones among them
        for i in range(0, len(data), 7):
            out += chunk(b'IDAT', data[i:i + 7]) + chunk(b'IDAT', b'')
    else:
        out += chunk(b'IDAT', data)
    return out + chunk(b'IEND', b'')


def make(folder):
    rng = random.Random(12)
    lines = []
    kinds = [(0, 1), (0, 2), (0, 4), (0, 8), (0, 16), (2, 8), (2, 16), (3, 1), (3, 2), (3, 4), (3, 8),
             (4, 8), (4, 16), (6, 8), (6, 16)]
    for (w, h) in [(37, 29), (1, 1), (5, 3)]:
        for ctype, depth in kinds:
            for interlace in (0, 1):
                top = (1 << depth) - 1
                ch = CHANNELS[ctype]
                px = [[tuple(rng.randrange(top + 1) for _ in range(ch)) for _ in range(w)] for _ in range(h)]
                extra = b''
                if ctype == 3:
                    n = 1 << depth
                    extra = chunk(b'PLTE', bytes(rng.randrange(256) for _ in range(3 * n)))
                    # palette alpha on some entries
                    extra += chunk(b'tRNS', bytes(rng.choice([0, 128, 255]) for _ in range(n // 2 + 1)))
                elif (ctype, depth) in ((0, 8), (2, 8)) and w > 1:
                    # Pillow applies other depths' keys to rescaled samples, so it is no
                    # reference for them; the reader's own test covers those.
                    # a transparent colour that occurs in the picture
                    key = px[0][0]
                    extra = chunk(b'tRNS', b''.join(struct.pack('>H', v) for v in key))
                extra += chunk(b'tEXt', b'Comment\x00golden') + chunk(b'prVt', b'skipped')
                for split in ((False, True) if w == 37 else (False,)):
                    name = 'g%dx%d_c%d_d%d_i%d%s.png' % (w, h, ctype, depth, interlace, '_split' if split else '')
                    with open(os.path.join(folder, name), 'wb') as f:
                        f.write(encode(w, h, ctype, depth, px, interlace, rng, extra, split))
                    lines.append(name)
    with open(os.path.join(folder, 'cases.txt'), 'w') as f:
        f.write('\n'.join(lines) + '\n')


def gamma_of(path):
    b = open(path, 'rb').read()
    i = 8
    while i + 8 <= len(b):
        n = struct.unpack('>I', b[i:i + 4])[0]
        kind = b[i + 4:i + 8]
        if kind == b'gAMA' and n == 4:
            return struct.unpack('>I', b[i + 8:i + 12])[0]
        if kind in (b'IDAT', b'IEND'):
            return 0
        i += 12 + n
    return 0


def ref(out, files):
    for path in files:
        try:
            im = Image.open(path)
            im.load()
        except Exception:
            continue
        w, h = im.size
        if im.mode in ('I', 'I;16', 'I;16B'):
            values = list(im.getdata())
            key = im.info.get('transparency')
            data = bytearray()
            for v in values:
                g = v * 255 // 65535
                data += bytes((g, g, g, 0 if key is not None and v == key else 255))
        else:
            data = im.convert('RGBA').tobytes()
        name = os.path.splitext(os.path.basename(path))[0]
        with open(os.path.join(out, name + '.rgba'), 'wb') as f:
            f.write(b'%d %d %d\n' % (w, h, gamma_of(path)) + bytes(data))


if __name__ == '__main__':
    if sys.argv[1] == 'make':
        make(sys.argv[2])
    else:
        ref(sys.argv[2], sys.argv[3:])
