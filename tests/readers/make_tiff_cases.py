"""Writes the TIFF reader's golden pairs into a folder (run by Debian's Python with Pillow).

Each case is a TIFF (or EPS) file and what reading it must give: the pixels of a reference
picture (decoded by Pillow on the test's side), an empty picture, or a message. Pillow with
libtiff writes the compressed strips; our own writer below lays out directories the way a case
needs (byte order, strips, tags Pillow cannot write). manifest.txt holds one case a line:
name|file|expect|reference|tolerance, expect being pixels, empty or a message.
"""
import io
import struct
import sys
from pathlib import Path

from PIL import Image

OUT = Path(sys.argv[1])
OUT.mkdir(parents=True, exist_ok=True)
W, H = 37, 23
manifest = []

TYPE_SIZE = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 6: 1, 7: 1, 8: 2, 9: 4, 10: 8, 11: 4, 12: 8}
TYPE_FMT = {1: 'B', 2: 'B', 3: 'H', 4: 'I', 6: 'b', 7: 'B', 8: 'h', 9: 'i', 11: 'f', 12: 'd'}


def read_tiff(data):
    """Tags (tag -> [type, values]) and strips of the first directory of a TIFF."""
    bo = '<' if data[:2] == b'II' else '>'
    (ifd,) = struct.unpack(bo + 'I', data[4:8])
    (n,) = struct.unpack(bo + 'H', data[ifd:ifd + 2])
    tags = {}
    for i in range(n):
        e = data[ifd + 2 + 12 * i: ifd + 14 + 12 * i]
        tag, typ, count = struct.unpack(bo + 'HHI', e[:8])
        size = TYPE_SIZE[typ] * count
        raw = e[8:8 + size] if size <= 4 else data[struct.unpack(bo + 'I', e[8:])[0]:][:size]
        if typ in (5, 10):
            vals = list(struct.unpack(bo + ('I' if typ == 5 else 'i') * (2 * count), raw))
        else:
            vals = list(struct.unpack(bo + TYPE_FMT[typ] * count, raw))
        tags[tag] = [typ, vals]
    offs, counts = tags.pop(273)[1], tags.pop(279)[1]
    strips = [data[o:o + c] for o, c in zip(offs, counts)]
    return tags, strips


def write_tiff(path, tags, strips, big=False, tail=b''):
    """A TIFF with the directory first and the strips after it."""
    bo = '>' if big else '<'
    tags = {k: list(v) for k, v in tags.items()}
    tags[273] = [4, [0] * len(strips)]
    tags[279] = [4, [len(s) for s in strips]]
    order = sorted(tags)
    ifd_size = 2 + 12 * len(order) + 4
    extra = bytearray()
    base = 8 + ifd_size

    def pack(typ, vals):
        if typ in (5, 10):
            return struct.pack(bo + ('I' if typ == 5 else 'i') * len(vals), *vals)
        return struct.pack(bo + TYPE_FMT[typ] * len(vals), *vals)

    # Strip data goes after the out-of-line values; offsets fixed in a second pass.
    def layout(strip_offsets):
        tags[273][1] = strip_offsets
        extra.clear()
        entries = bytearray(struct.pack(bo + 'H', len(order)))
        for tag in order:
            typ, vals = tags[tag]
            count = len(vals) // 2 if typ in (5, 10) else len(vals)
            blob = pack(typ, vals)
            if len(blob) <= 4:
                field = blob.ljust(4, b'\0')
            else:
                field = struct.pack(bo + 'I', base + len(extra))
                extra.extend(blob)
                if len(extra) % 2:
                    extra.append(0)
            entries += struct.pack(bo + 'HHI', tag, typ, count) + field
        entries += struct.pack(bo + 'I', 0)
        return bytes(entries)

    layout([0] * len(strips))
    pos = base + len(extra)
    offsets = []
    for s in strips:
        offsets.append(pos)
        pos += len(s)
    entries = layout(offsets)
    head = (b'MM' if big else b'II') + struct.pack(bo + 'HI', 42, 8)
    Path(path).write_bytes(head + entries + bytes(extra) + b''.join(strips) + tail)


def pillow_tiff(img, **kw):
    b = io.BytesIO()
    img.save(b, 'TIFF', **kw)
    return b.getvalue()


def case(name, data, expect='pixels', reference=None, tolerance=0, suffix='.tif'):
    path = OUT / (name + suffix)
    if data is not None:
        path.write_bytes(data)
    manifest.append(f'{name}|{path}|{expect}|{reference or path}|{tolerance}')


def reference_png(name, img):
    path = OUT / (name + '.ref.png')
    img.save(path)
    return path


# The test picture: every channel varies along both axes, so a swapped channel, a row out of
# place or a predictor left in shows.
rgb = Image.new('RGB', (W, H))
rgb.putdata([((x * 7) % 256, (y * 11 + x) % 256, (x * y * 3) % 256) for y in range(H) for x in range(W)])
gray = rgb.convert('L')
bilevel = gray.point(lambda v: 255 if v > 100 else 0).convert('1')
rgba = rgb.copy()
rgba.putalpha(Image.new('L', (W, H), 255))

base = pillow_tiff(rgb)
tags, strips = read_tiff(base)
raw_rows = rgb.tobytes()

def restrip(rows_per_strip, row_bytes, data):
    chunk = rows_per_strip * row_bytes
    return [data[i:i + chunk] for i in range(0, len(data), chunk)]

# Byte orders and strip layouts of uncompressed RGB.
t = dict(tags); t[278] = [3, [8]]
for big in (False, True):
    write_tiff(OUT / f'rgb_3strips_{"mm" if big else "ii"}.tif', t, restrip(8, W * 3, raw_rows), big)
    case(f'rgb_3strips_{"mm" if big else "ii"}', None)
t = dict(tags); t[278] = [4, [0xFFFFFFFF]]
write_tiff(OUT / 'rgb_rows_per_strip_all.tif', t, [raw_rows], True)
case('rgb_rows_per_strip_all', None, reference=reference_png('rgb', rgb))

# Every compression the reader accepts, in both byte orders where the strips allow it.
for comp, extra in [('tiff_lzw', {}), ('tiff_lzw', {317: 2}), ('tiff_adobe_deflate', {}),
                    ('tiff_adobe_deflate', {317: 2}), ('packbits', {})]:
    name = comp + ('_pred2' if extra else '')
    data = pillow_tiff(rgb, compression=comp, tiffinfo=extra)
    case(name, data)
    tg, st = read_tiff(data)
    write_tiff(OUT / (name + '_mm.tif'), tg, st, True)
    case(name + '_mm', None, reference=OUT / (name + '.tif'))
tg, st = read_tiff(pillow_tiff(rgb, compression='tiff_adobe_deflate'))
tg[259] = [3, [32946]]
write_tiff(OUT / 'deflate_32946.tif', tg, st)
case('deflate_32946', None, reference=OUT / 'rgb.ref.png')
case('jpeg', pillow_tiff(rgb, compression='jpeg', quality=95), tolerance=0)

# RGBA, gray and palette depths.
case('rgba_lzw', pillow_tiff(rgba, compression='tiff_lzw'))
case('gray8', pillow_tiff(gray))
case('gray8_lzw_pred2', pillow_tiff(gray, compression='tiff_lzw', tiffinfo={317: 2}))
for bits in (2, 4):
    levels = (1 << bits) - 1
    vals = [v * levels // 255 for v in gray.getdata()]
    row_bytes = (W * bits + 7) // 8
    data = bytearray()
    for y in range(H):
        acc = 0
        for x in range(W):
            acc = (acc << bits) | vals[y * W + x]
        acc <<= row_bytes * 8 - W * bits
        data += acc.to_bytes(row_bytes, 'big')
    tg = {256: [3, [W]], 257: [3, [H]], 258: [3, [bits]], 259: [3, [1]], 262: [3, [1]], 277: [3, [1]], 278: [3, [H]]}
    write_tiff(OUT / f'gray{bits}.tif', tg, [bytes(data)], bits == 4)
    ref = Image.new('L', (W, H)); ref.putdata([v * (255 // levels) for v in vals])
    case(f'gray{bits}', None, reference=reference_png(f'gray{bits}', ref))
# 16-bit samples are reduced as v * 255 / 65535, truncated (Pillow would clip instead).
g16 = [((x * 1791 + y * 2897) * 7) % 65536 for y in range(H) for x in range(W)]
for big in (False, True):
    tg = {256: [3, [W]], 257: [3, [H]], 258: [3, [16]], 259: [3, [1]], 262: [3, [1]], 277: [3, [1]], 278: [3, [5]]}
    data = struct.pack(('>' if big else '<') + 'H' * len(g16), *g16)
    write_tiff(OUT / f'gray16_{big}.tif', tg, restrip(5, 2 * W, data), big)
    ref = Image.new('L', (W, H)); ref.putdata([v * 255 // 65535 for v in g16])
    case(f'gray16_{big}', None, reference=reference_png('gray16', ref))
    tg = {256: [3, [W]], 257: [3, [H]], 258: [3, [16, 16, 16]], 259: [3, [1]], 262: [3, [2]], 277: [3, [3]], 278: [3, [H]]}
    rgb16 = [v for p in zip(g16, g16[::-1], [65535 - v for v in g16]) for v in p]
    write_tiff(OUT / f'rgb16_{big}.tif', tg, [struct.pack(('>' if big else '<') + 'H' * len(rgb16), *rgb16)], big)
    ref = Image.new('RGB', (W, H)); ref.putdata([tuple(v * 255 // 65535 for v in rgb16[i:i + 3]) for i in range(0, len(rgb16), 3)])
    case(f'rgb16_{big}', None, reference=reference_png('rgb16', ref))
for bits in (1, 2, 4, 8):
    n = 1 << bits
    pal = rgb.quantize(colors=min(n, 256)) if bits > 1 else bilevel.convert('P')
    data = pillow_tiff(pal, bits=bits) if bits in (1, 4, 8) else None
    if bits == 2 or data is None:
        idx = list(pal.getdata())
        row_bytes = (W * bits + 7) // 8
        buf = bytearray()
        for y in range(H):
            acc = 0
            for x in range(W):
                acc = (acc << bits) | (idx[y * W + x] & (n - 1))
            buf += (acc << (row_bytes * 8 - W * bits)).to_bytes(row_bytes, 'big')
        p = pal.getpalette()[:3 * n] + [0] * max(0, 3 * n - len(pal.getpalette()))
        cmap = [p[3 * i + c] * 257 for c in range(3) for i in range(n)]
        tg = {256: [3, [W]], 257: [3, [H]], 258: [3, [bits]], 259: [3, [1]], 262: [3, [3]], 277: [3, [1]],
              278: [3, [H]], 320: [3, cmap]}
        write_tiff(OUT / f'palette{bits}.tif', tg, [bytes(buf)], True)
        case(f'palette{bits}', None, reference=reference_png(f'palette{bits}', pal.convert('RGB')), tolerance=1)
    else:
        case(f'palette{bits}', data, tolerance=1)

# A colour map shorter than the depth needs: the missing entries are black. One longer than
# 3 x 256 values: only the first 256 of each plane count.
idx = [(x + y) % 256 for y in range(H) for x in range(W)]
short = [min(i, 15) * 4096 for c in range(3) for i in range(16)]
tg = {256: [3, [W]], 257: [3, [H]], 258: [3, [8]], 259: [3, [1]], 262: [3, [3]], 277: [3, [1]], 278: [3, [H]], 320: [3, short]}
write_tiff(OUT / 'palette_short_map.tif', tg, [bytes(idx)])
ref = Image.new('RGB', (W, H)); ref.putdata([(i * 4096 * 255 // 65535,) * 3 if i < 16 else (0, 0, 0) for i in idx])
case('palette_short_map', None, reference=reference_png('palette_short_map', ref))
big_map = [((i * 37 + c * 80) % 256) * 257 for c in range(3) for i in range(4096)]
tg[320] = [3, big_map]
write_tiff(OUT / 'palette_long_map.tif', tg, [bytes(idx)])
ref = Image.new('RGB', (W, H)); ref.putdata([tuple((i * 37 + c * 80) % 256 for c in range(3)) for i in idx])
case('palette_long_map', None, reference=reference_png('palette_long_map', ref))

# Photometric 0, 5, 6.
inv = gray.point(lambda v: 255 - v)
tg = {256: [3, [W]], 257: [3, [H]], 258: [3, [8]], 259: [3, [1]], 262: [3, [0]], 277: [3, [1]], 278: [3, [7]]}
write_tiff(OUT / 'miniswhite8.tif', tg, restrip(7, W, inv.tobytes()))
case('miniswhite8', None, reference=reference_png('gray8', gray))
cmyk = [((x * 9) % 256, (y * 13) % 256, (x * y) % 256, (x + y) * 3 % 256) for y in range(H) for x in range(W)]
tg = {256: [3, [W]], 257: [3, [H]], 258: [3, [8] * 4], 259: [3, [1]], 262: [3, [5]], 277: [3, [4]], 278: [3, [H]]}
write_tiff(OUT / 'cmyk.tif', tg, [bytes(v for p in cmyk for v in p)])
ref = Image.new('RGB', (W, H))
ref.putdata([tuple(max(0, min(255, 255 - (c - c * p[3] // 255 + p[3]))) for c in p[:3]) for p in cmyk])
case('cmyk', None, reference=reference_png('cmyk', ref))

# YCbCr: full-resolution and subsampled blocks (luma of the block, then Cb, then Cr), raw and LZW.
ycc = rgb.convert('YCbCr')
Y, Cb, Cr = [list(b.getdata()) for b in ycc.split()]
for h, v in ((1, 1), (2, 1), (2, 2), (4, 2), (4, 4)):
    blocks = bytearray()
    expected = [None] * (W * H)
    for by in range(0, H, v):
        for bx in range(0, W, h):
            cb, cr = Cb[by * W + bx], Cr[by * W + bx]
            for j in range(v):
                for i in range(h):
                    x, y = min(bx + i, W - 1), min(by + j, H - 1)
                    blocks.append(Y[y * W + x])
                    if bx + i < W and by + j < H:
                        expected[(by + j) * W + bx + i] = (Y[y * W + x], cb, cr)
            blocks += bytes((cb, cr))
    tg = {256: [3, [W]], 257: [3, [H]], 258: [3, [8, 8, 8]], 259: [3, [1]], 262: [3, [6]], 277: [3, [3]],
          278: [3, [H]], 530: [3, [h, v]]}
    write_tiff(OUT / f'ycbcr_{h}x{v}.tif', tg, [bytes(blocks)], h == 2)
    ref = Image.new('YCbCr', (W, H)); ref.putdata(expected)
    case(f'ycbcr_{h}x{v}', None, reference=reference_png(f'ycbcr_{h}x{v}', ref.convert('RGB')), tolerance=3)

# Fax: modified Huffman (2), T.4 one-dimensional (3) in both fill orders, word-aligned MH (32771).
ref = reference_png('bilevel', bilevel.convert('RGB'))
for comp in ('tiff_ccitt', 'group3'):
    data = pillow_tiff(bilevel, compression=comp)
    case(comp, data, reference=ref)
    tg, st = read_tiff(data)
    tg[266] = [3, [2]]
    flip = bytes(int(f'{b:08b}'[::-1], 2) for b in range(256))
    write_tiff(OUT / f'{comp}_fill2.tif', tg, [s.translate(flip) for s in st], True)
    case(f'{comp}_fill2', None, reference=ref)
case('fax_mhw', pillow_tiff(bilevel, compression='tiff_raw_16'), reference=ref)
# Photometric 0 (Pillow's default for fax): 0 is white, so the inverted picture with 1 reads the same.
tg, st = read_tiff(pillow_tiff(bilevel, compression='group3'))
tg[262] = [3, [1 - tg[262][1][0]]]
write_tiff(OUT / 'group3_inverted.tif', tg, st)
case('group3_inverted', None, reference=reference_png('bilevel_inv', bilevel.point(lambda v: 255 - v).convert('RGB')))

# ThunderScan (4-bit gray): every pixel a raw 4-bit code (11b, value), rows start anew.
tv = [v >> 4 for v in gray.getdata()]
tg = {256: [3, [W]], 257: [3, [H]], 258: [3, [4]], 259: [3, [32809]], 262: [3, [1]], 277: [3, [1]], 278: [3, [H]]}
write_tiff(OUT / 'thunderscan.tif', tg, [bytes(0xC0 | v for v in tv)])
ref = Image.new('L', (W, H)); ref.putdata([v * 17 for v in tv])
case('thunderscan', None, reference=reference_png('thunderscan', ref))

# Tiled pictures load empty; refused compressions end in the message.
t = dict(tags); t[322] = [3, [16]]; t[323] = [3, [16]]
write_tiff(OUT / 'tiled.tif', t, strips)
case('tiled', None, expect='empty')
unsupported = 'Cannot load image. The compression scheme is not supported for TIF/TIFF files.'
for name, code in (('no_compression_tag', None), ('oldjpeg', 6), ('next', 32766), ('jbig', 34661), ('pixarlog', 32909)):
    t = dict(tags)
    if code is None:
        t.pop(259)
    else:
        t[259] = [3, [code]]
    write_tiff(OUT / f'{name}.tif', t, strips)
    case(name, None, expect=unsupported)
case('group4', pillow_tiff(bilevel, compression='group4'), expect=unsupported)

# Strips cut short: the rows that arrived are kept, the rest are white. A strip that starts
# past the end of the file is all white.
t = dict(tags); t[278] = [3, [8]]
cut = restrip(8, W * 3, raw_rows)
write_tiff(OUT / 'short_strip.tif', t, cut)
full = (OUT / 'short_strip.tif').read_bytes()
(OUT / 'short_strip.tif').write_bytes(full[:len(full) - len(cut[2]) - 3 * W * 4 + 5])
kept = rgb.copy(); kept.paste((255, 255, 255), (0, 12, W, H))
case('short_strip', None, reference=reference_png('short_strip', kept))

# EPS: the TIFF preview behind a 30-byte header; a wrong magic is refused with the EPS label.
ps = b'%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 37 23\nshowpage\n'
def eps(magic):
    return magic + struct.pack('<IIIIIIH', 30, len(ps), 0, 0, 30 + len(ps), len(base), 0xFFFF) + ps + base
case('eps', eps(b'\xc5\xd0\xd3\xc6'), reference=OUT / 'rgb.ref.png', suffix='.eps')
case('eps_bad_magic', eps(b'\xc5\xd0\xd3\xc7'), expect='Cannot load image. Invalid or unexpected EPS image format.',
     suffix='.eps')

(OUT / 'manifest.txt').write_text('\n'.join(manifest) + '\n')

# Hostile layouts: a strip past the end of the file is white, a byte count past it is cut to
# what is there, an entry count or a value array larger than the file is a read error, and a
# FLOAT resolution is read as a float.
t = dict(tags)
write_tiff(OUT / 'strip_past_end.tif', t, strips)
d = bytearray((OUT / 'strip_past_end.tif').read_bytes())
tg, _ = read_tiff(bytes(d))
pos = d.find(struct.pack('<HHI', 273, 4, 1))
d[pos + 8:pos + 12] = struct.pack('<I', 0x7FFFFFF0)
(OUT / 'strip_past_end.tif').write_bytes(bytes(d))
case('strip_past_end', None, reference=reference_png('white', Image.new('RGB', (W, H), (255, 255, 255))))
d = bytearray(base)
pos = d.find(struct.pack('<HHI', 279, 4, 1))
d[pos + 8:pos + 12] = struct.pack('<I', 0xFFFFFFF0)
case('byte_count_past_end', bytes(d), reference=OUT / 'rgb.ref.png')
d = bytearray(base)
(ifd,) = struct.unpack('<I', d[4:8])
d[ifd:ifd + 2] = struct.pack('<H', 0xFFFF)
case('entry_count_past_end', bytes(d), expect='Stream read error')
tg = {256: [3, [W]], 257: [3, [H]], 258: [3, [8]], 259: [3, [1]], 262: [3, [3]], 277: [3, [1]], 278: [3, [H]], 320: [3, short]}
write_tiff(OUT / 'colormap_past_end.tif', tg, [bytes(idx)])
d = bytearray((OUT / 'colormap_past_end.tif').read_bytes())
pos = d.find(struct.pack('<HHI', 320, 3, 48))
d[pos + 4:pos + 8] = struct.pack('<I', 0x40000000)
(OUT / 'colormap_past_end.tif').write_bytes(bytes(d))
case('colormap_past_end', None, expect='Stream read error')
t = dict(tags); t[282] = [11, [300.0]]; t[283] = [12, [150.0]]; t[296] = [3, [2]]
write_tiff(OUT / 'float_resolution.tif', t, strips, True)
case('float_resolution', None, reference=OUT / 'rgb.ref.png')
(OUT / 'manifest.txt').write_text('\n'.join(manifest) + '\n')
