#!/usr/bin/python3
"""Writes the decompression-bomb files: each a few kilobytes that claims a picture beyond the
pixel limit (2^27 pixels), or just under it with far too little data, or a small picture whose
compressed data runs on far past what it needs. Every one must be refused (or give its small
picture) without taking the memory it claims. Usage: make_bombs.py OUTDIR [--legit]
(--legit also writes the 11000 x 11000 RLE bitmap that must still be converted)."""
import struct
import sys
import zlib
from pathlib import Path

LIMIT = 1 << 27


def png(width, height, colour_type, raw, depth=8, plte=None):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    out = b"\x89PNG\r\n\x1a\n"
    out += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0))
    if plte:
        out += chunk(b"PLTE", plte)
    return out + chunk(b"IDAT", raw) + chunk(b"IEND", b"")


def zeros_deflated(count):
    z = zlib.compressobj(9)
    out = b""
    block = b"\0" * (1 << 20)
    while count > 0:
        n = min(count, len(block))
        out += z.compress(block[:n])
        count -= n
    return out + z.flush()


def tiff(width, height, compression, data, bits=8, samples=1, rows_per_strip=None):
    entries = [(256, 4, width), (257, 4, height), (258, 3, bits), (259, 3, compression),
               (262, 3, 1 if samples == 1 else 2), (273, 4, 0), (277, 3, samples),
               (278, 4, rows_per_strip or height), (279, 4, len(data))]
    ifd_at = 8
    data_at = ifd_at + 2 + 12 * len(entries) + 4
    out = b"II*\0" + struct.pack("<I", ifd_at) + struct.pack("<H", len(entries))
    for tag, kind, value in entries:
        if tag == 273:
            value = data_at
        if kind == 3:
            out += struct.pack("<HHIHH", tag, kind, 1, value, 0)
        else:
            out += struct.pack("<HHII", tag, kind, 1, value)
    return out + struct.pack("<I", 0) + data


def lzw_codes(codes, msb_first, width_of):
    """Packs codes whose width the caller tracks (width_of(index) -> bits)."""
    out, acc, bits = bytearray(), 0, 0
    for i, code in enumerate(codes):
        w = width_of(i)
        if msb_first:
            acc = (acc << w) | code
            bits += w
            while bits >= 8:
                out.append((acc >> (bits - 8)) & 255)
                bits -= 8
        else:
            acc |= code << bits
            bits += w
            while bits >= 8:
                out.append(acc & 255)
                acc >>= 8
                bits -= 8
    if bits:
        out.append(((acc << (8 - bits)) if msb_first else acc) & 255)
    return bytes(out)


def tiff_lzw_long(count):
    """TIFF LZW (9-bit codes, clear every 200) of `count` zero bytes: a stream far longer than
    a tiny strip needs."""
    codes = []
    for i in range(count):
        if i % 200 == 0:
            codes.append(256)
        codes.append(0)
    codes.append(257)
    return lzw_codes(codes, True, lambda i: 9)


def tiff_lzw_growing(n_codes):
    """TIFF LZW whose strings grow by one each code (0, 258, 259, ...): n codes give about
    n^2/2 bytes from n*12/8 bytes of input."""
    codes, next_code = [256, 0], 258
    widths = [9, 9]
    while len(codes) < n_codes and next_code < 4094:
        codes.append(next_code)
        next_code += 1
        # TIFF switches width one code early.
        widths.append(9 if next_code < 511 else 10 if next_code < 1023 else 11 if next_code < 2047 else 12)
    codes.append(257)
    widths.append(widths[-1])
    return lzw_codes(codes, True, lambda i: widths[i])


def gif(width, height, lzw_min, data, frame=None):
    fw, fh = frame or (width, height)
    out = b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80, 0, 0) + b"\0\0\0\xff\xff\xff"
    out += b"," + struct.pack("<HHHHB", 0, 0, fw, fh, 0) + bytes([lzw_min])
    for i in range(0, len(data), 255):
        piece = data[i:i + 255]
        out += bytes([len(piece)]) + piece
    return out + b"\0;"


def gif_growing(n_codes):
    """GIF LZW (minimum code size 2) whose strings grow by one each code."""
    codes, widths, next_code, width = [4, 0], [3, 3], 6, 3
    while len(codes) < n_codes and next_code < 4095:
        codes.append(next_code)
        widths.append(width)
        next_code += 1
        if next_code == (1 << width) and width < 12:
            width += 1
    codes.append(5)
    widths.append(width)
    return lzw_codes(codes, False, lambda i: widths[i])


def bmp(width, height, bits, compression, data, colours):
    palette = b"".join(bytes([i * 40 % 256, i * 90 % 256, i * 20 % 256, 0]) for i in range(colours))
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, len(data), 2835, 2835,
                       colours, 0)
    return b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset) + info + palette + data


def rle8_sparse(width, height):
    """RLE8 that paints a few runs and jumps over the rest with deltas, then ends: small and legal."""
    out = bytearray()
    for row in range(0, min(height, 200)):
        out += bytes([min(width, 255), row % 16]) + b"\0\0"  # a run, end of line
    out += b"\0\1"
    return bytes(out)


def rle8_endless(count):
    """RLE8 runs that never end the line or the picture: far more pixels than a small picture has."""
    return bytes([255, 3]) * count + b"\0\1"


def psp_block(ident, body):
    return b"~BK\0" + struct.pack("<HI", ident, len(body)) + body


def psp(width, height, compression, channel_data, bit_depth=24):
    """A Paint Shop Pro 5 file: general attributes, one layer with channels of the given data."""
    body = struct.pack("<iidBHHHHIHI", width, height, 300.0, 0, compression, bit_depth, 1, 1, 0, 1, 1)
    body += b"\0" * (46 - len(body))
    attrs = struct.pack("<I", len(body) + 4) + body
    layer_info = b"\0" * 256 + struct.pack("<B", 0) + struct.pack("<iiii", 0, 0, width, height) * 2
    layer_info += struct.pack("<BBBBBB", 255, 0, 1, 1, 0, 0) + struct.pack("<iiii", 0, 0, width, height)
    layer_info += struct.pack("<B", 0) + b"\0" * 8 + struct.pack("<H", 0) + struct.pack("<H", len(channel_data))
    channels = b""
    for i, data in enumerate(channel_data):
        info = struct.pack("<IIHH", len(data), width * height, 0, 1 + i) + b"\0" * 2
        channels += psp_block(2, info + data)
    layer = psp_block(1, layer_info + channels)
    header = b"Paint Shop Pro Image File\n\x1a\0\0\0\0\0" + struct.pack("<HH", 5, 0)
    return header + psp_block(0, attrs) + psp_block(3, layer)


def bombs():
    over = 20000  # 400 megapixels, three times the limit
    under = 11000  # 121 megapixels, just under it
    yield "png_over_limit.png", png(over, over, 2, zlib.compress(b"\0" * 1000))
    yield "png_wide_over_limit.png", png(1 << 27, 2, 0, zlib.compress(b"\0" * 1000))
    yield "png_under_limit_little_data.png", png(under, under, 2, zlib.compress(b"\0" * 4000))
    yield "png_under_limit_16bit.png", png(under, under, 6, zlib.compress(b"\0" * 4000), depth=16)
    # 8 x 8 grey, but the deflate stream holds 64 MB of zeros (about 64 KB).
    yield "png_long_deflate.png", png(8, 8, 0, zeros_deflated(64 << 20))
    yield "tiff_over_limit_deflate.tif", tiff(over, over, 8, zlib.compress(b"\0" * 1000))
    yield "tiff_under_limit_deflate.tif", tiff(under, under, 8, zlib.compress(b"\0" * 4000), samples=3, bits=8)
    yield "tiff_long_deflate.tif", tiff(8, 8, 8, zeros_deflated(64 << 20))
    yield "tiff_over_limit_lzw.tif", tiff(over, over, 5, tiff_lzw_long(2000))
    yield "tiff_under_limit_lzw.tif", tiff(under, under, 5, tiff_lzw_growing(3000), samples=3)
    yield "tiff_long_lzw.tif", tiff(8, 8, 5, tiff_lzw_growing(3800))
    yield "tiff_strip_huge_rows.tif", tiff(under, under, 5, tiff_lzw_long(2000), rows_per_strip=under)
    yield "gif_over_limit.gif", gif(65535, 65535, 2, gif_growing(2000))
    yield "gif_under_limit.gif", gif(11000, 11000, 2, gif_growing(3000))
    yield "gif_long_lzw.gif", gif(8, 8, 2, gif_growing(4000))
    yield "bmp_rle8_over_limit.bmp", bmp(over, over, 8, 1, rle8_sparse(over, over), 16)
    yield "bmp_rle4_over_limit.bmp", bmp(over, -over, 4, 2, rle8_sparse(over, over), 16)
    yield "bmp_rle8_endless.bmp", bmp(8, 8, 8, 1, rle8_endless(2000), 16)
    yield "psp_over_limit.psp", psp(over, over, 1, [rle8_endless(500)] * 3)
    yield "psp_under_limit_lz77.psp", psp(under, under, 2, [zlib.compress(b"\0" * 4000)] * 3)


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for name, data in bombs():
        (out / name).write_bytes(data)
    if "--legit" in sys.argv[2:]:
        (out.parent / "legit").mkdir(exist_ok=True)
        (out.parent / "legit" / "rle8_11000.bmp").write_bytes(
            bmp(11000, 11000, 8, 1, rle8_sparse(11000, 11000), 16))


if __name__ == "__main__":
    main()
