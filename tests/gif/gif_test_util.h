#pragma once
// Helpers for the GIF tests: building small GIF files byte by byte, a plain reference LZW
// decoder, and an independent decoder (Pillow).
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "gif/gif_image.h"
#include "graphics/stream.h"

namespace giftest {

using Bytes = std::vector<uint8_t>;

// Packs LZW codes of a fixed size least significant bit first.
Bytes PackCodes(const std::vector<int>& codes, int codeSize);
// Wraps data in sub-blocks of at most 255 bytes and a terminator.
Bytes SubBlocks(const Bytes& data);

// A GIF file assembled block by block.
class GifBuilder {
public:
    explicit GifBuilder(const char* signature = "GIF89a");
    // Logical screen with a global table of the given colours (padded to a power of two);
    // no table when colours is empty.
    GifBuilder& Screen(int width, int height, const std::vector<TColor>& colors, uint8_t background = 0);
    GifBuilder& GraphicControl(uint8_t packed, int delay, uint8_t transparentIndex);
    GifBuilder& Comment(const std::string& text);
    GifBuilder& Application(const std::string& id11, const Bytes& firstBlock);
    GifBuilder& PlainText();
    // An image block: descriptor, optional local table, minimum code size, sub-blocks of data.
    GifBuilder& Image(int left, int top, int width, int height, int minCodeSize, const Bytes& lzwData,
                      bool interlaced = false, const std::vector<TColor>& localColors = {});
    GifBuilder& Raw(std::initializer_list<uint8_t> bytes);
    GifBuilder& Raw(const Bytes& bytes);
    GifBuilder& Trailer();
    const Bytes& bytes() const { return bytes_; }

private:
    void Table(const std::vector<TColor>& colors, int bits);
    Bytes bytes_;
};

// Loads a GIF from memory.
void LoadGif(TGIFImage& gif, const Bytes& bytes);
// Writes a GIF to memory.
Bytes SaveGif(TGIFImage& gif);

// Decodes LZW data (minimum code size byte, sub-blocks, terminator) the textbook way, with a
// table of byte strings, without stopping at the picture size: every pixel
// the stream holds. nullopt when the stream is malformed or has no end code.
std::optional<Bytes> ReferenceDecodeLzw(const Bytes& lzw);

// The first frame of a picture file as RGBA bytes (top row first) according to Pillow; nullopt
// when Pillow is not available. Fails the test when Pillow cannot decode the file.
struct Decoded {
    int width = 0, height = 0;
    Bytes rgba;
};
std::optional<Decoded> DecodeWithPillow(const std::string& path);

// Colour of every pixel of a bitmap, as RGBA bytes (alpha 255) top row first.
Bytes BitmapRgba(const TBitmap& bitmap);

}  // namespace giftest
