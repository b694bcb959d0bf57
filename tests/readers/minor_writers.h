#pragma once
// Byte-by-byte writers of the formats no common tool writes, for the reader tests and the
// fuzz seeds: Autodesk Animator CEL/PIC and Photo-CD image packs.
#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/byte_reader.h"

namespace testwriters {

struct AutodeskPicture {
    uint16_t width = 0, height = 0;
    uint8_t bitsPerPixel = 8, compression = 0;
    std::vector<uint8_t> palette;  // 256 x (red, green, blue), 0..63 each
    std::vector<uint8_t> pixels;   // width x height indices, top row first
};

inline std::vector<uint8_t> WriteAutodesk(const AutodeskPicture& p) {
    ByteWriter w;
    w.u16le(0x9119);
    w.u16le(p.width);
    w.u16le(p.height);
    w.u16le(0);  // x
    w.u16le(0);  // y
    w.u8(p.bitsPerPixel);
    w.u8(p.compression);
    w.u32le(static_cast<uint32_t>(p.pixels.size()));
    w.fill(0, 16);
    std::vector<uint8_t> palette = p.palette;
    palette.resize(768, 0);
    w.bytes(palette);
    w.bytes(p.pixels);
    return w.take();
}

// A Photo-CD image pack holding only the header sectors and the base resolution: three
// 768 x 512 planes (luma, chroma 1, chroma 2); the chroma planes are sampled at every
// second pixel of every second row.
struct PhotoCDPack {
    bool overview = false;
    uint8_t rotation = 0;
    uint16_t imageCount = 1;
    std::vector<uint8_t> luma, chroma1, chroma2;  // 768 x 512 each (full size)
};

inline std::vector<uint8_t> WritePhotoCD(const PhotoCDPack& p) {
    constexpr size_t kSector = 2048, kWidth = 768, kHeight = 512;
    std::vector<uint8_t> file(96 * kSector, 0);
    if (p.overview) std::memcpy(file.data(), "PCD_OPA", 7);
    else std::memcpy(file.data() + kSector, "PCD_IPI", 7);
    file[10] = static_cast<uint8_t>(p.imageCount >> 8);
    file[11] = static_cast<uint8_t>(p.imageCount);
    file[3586] = p.rotation;
    for (size_t y = 0; y < kHeight; y += 2) {
        file.insert(file.end(), p.luma.begin() + y * kWidth, p.luma.begin() + (y + 2) * kWidth);
        for (const std::vector<uint8_t>* plane : {&p.chroma1, &p.chroma2})
            for (size_t x = 0; x < kWidth; x += 2) file.push_back((*plane)[y * kWidth + x]);
    }
    return file;
}

}  // namespace testwriters
