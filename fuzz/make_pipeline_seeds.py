#!/usr/bin/env python3
"""Writes the seeds of fuzz/corpus/read_ole/ (pictures of every recognised type, without
extensions) and fuzz/corpus/pipeline/ (12 parameter bytes, then a picture). The pictures are the
smallest seeds of the per-reader corpora, plus two metafiles drawn here.

Pipeline parameters, as fuzz_pipeline.cpp reads them: format index (into its extension list),
filter, target width and height codes, rotation, JPEG quality, then six unused bytes."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, 'corpus')

# The order of kExtensions in fuzz_pipeline.cpp.
EXTENSIONS = ["bmp", "ico", "wmf", "emf", "jpg", "gif", "tif", "eps", "png", "psd",
              "tga", "pcx", "sgi", "psp", "cut", "rla", "pcd", "ppm", "cel", ""]

# Source folder, the extension its pictures have, whether the generic loader recognises them.
SOURCES = [("bmp", "bmp", True), ("ico", "ico", True), ("gif", "gif", True), ("jpeg", "jpg", True),
           ("read_tiff", "tif", True), ("read_eps", "eps", True), ("read_png", "png", True),
           ("read_psd", "psd", True), ("read_psp", "psp", True), ("read_rla", "rla", True),
           ("read_sgi", "sgi", True), ("read_pcx", "pcx", True), ("read_autodesk", "cel", True),
           ("read_ppm", "ppm", True), ("read_tga", "tga", False), ("read_cut", "cut", False)]
MAX_SEED = 4096


def wmf(placeable):
    def record(function, *params):
        return struct.pack('<IH', 3 + len(params), function) + struct.pack('<%dH' % len(params), *params)
    body = (record(0x020B, 0, 0) + record(0x020C, 20, 40) + record(0x02FC, 0, 0x00FF, 0, 0) +
            record(0x012D, 0) + record(0x041B, 15, 30, 5, 10) + record(0x0003))
    head = struct.pack('<HHHIHIH', 1, 9, 0x0300, 9 + len(body) // 2, 1, 7, 0)
    if not placeable:
        return head + body
    words = [0xCDD7, 0x9AC6, 0, 0, 0, 40, 20, 96, 0, 0]
    checksum = 0
    for w in words:
        checksum ^= w
    return struct.pack('<11H', *words, checksum) + head + body


def emf():
    records = (struct.pack('<6I', 39, 24, 1, 0, 0x0000FF, 0) + struct.pack('<3I', 37, 12, 1) +
               struct.pack('<2I4i', 43, 24, 10, 5, 30, 15) + struct.pack('<5I', 14, 20, 0, 16, 20))
    header = (struct.pack('<II4i4i', 1, 88, 0, 0, 39, 19, 0, 0, 1058, 529) + b' EMF' +
              struct.pack('<IIIHHIII4i', 0x10000, 88 + len(records), 5, 2, 0, 0, 0, 0, 1024, 768, 320, 240))
    return header + records


def smallest(folder, count=2):
    path = os.path.join(CORPUS, folder)
    files = sorted((os.path.getsize(os.path.join(path, f)), f) for f in os.listdir(path))
    return [(f, open(os.path.join(path, f), 'rb').read()) for size, f in files if size <= MAX_SEED][:count]


def write(folder, name, data):
    os.makedirs(os.path.join(CORPUS, folder), exist_ok=True)
    with open(os.path.join(CORPUS, folder, name), 'wb') as out:
        out.write(data)


def params(extension, n):
    # Filters, sizes and turns spread over the seeds; quality 75.
    return bytes([EXTENSIONS.index(extension), n % 7, 3 + n % 9, 2 + n % 7, n % 4, 74]) + bytes(6)


def main():
    pictures = [(ext, recognised, os.path.splitext(f)[0], data)
                for folder, ext, recognised in SOURCES for f, data in smallest(folder)]
    pictures += [("wmf", True, "placeable", wmf(True)), ("wmf", True, "bare", wmf(False)), ("emf", True, "emf", emf())]
    for n, (ext, recognised, stem, data) in enumerate(pictures):
        if recognised:
            write("read_ole", "%s_%s" % (ext, stem), data)
        write("pipeline", "%s_%s" % (ext, stem), params(ext, n) + data)
        if recognised and n % 3 == 0:  # some through the loader for names without an extension
            write("pipeline", "none_%s_%s" % (ext, stem), params("", n) + data)


if __name__ == '__main__':
    main()
