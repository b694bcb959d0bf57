#pragma once
// TPNGGraphic: Portable Network Graphics. Chunks are walked with CRC checking; the image data
// is inflated one row at a time straight from the IDAT chunks into two reused row buffers,
// unfiltered in place and handed to the colour manager (Adam7 passes through pixel masks).
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "readers/graphic_reader.h"

class TLZ77Decoder;

class TPNGGraphic : public TGraphicReader {
    IMBRIX_READER_CLASS()
public:
    TPNGGraphic();
    ~TPNGGraphic() override;

    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, unsigned imageIndex) override;
    void ReadPicture(TStream& stream) override;

    // Colour values (red + green*256 + blue*65536); NoTransparentColor marks none.
    static constexpr uint32_t NoTransparentColor = 0x1FFFFFFF;
    uint32_t TransparentColorValue() const { return transparentColor_; }
    uint32_t BackgroundColorValue() const { return backgroundColor_; }

private:
    struct TChunkHeader {
        uint32_t length = 0;
        std::array<uint8_t, 4> type{};
        uint32_t crc = 0;
    };

    // The chunk header at the reader's position; false when the data ends before one.
    bool ReadChunkHeader(ByteReader& data);
    // The current chunk's data, CRC checked. An IDAT chunk cut short by the end of the file
    // gives what is there (the CRC cannot be checked) and marks the data as ended.
    std::span<const uint8_t> ReadChunkData(ByteReader& data);
    void SkipChunk(ByteReader& data);
    bool CurrentIs(const char* type) const;

    void SetupColors();
    void DecodeImage(ByteReader& data);
    // False when the image data ran out before the row was complete.
    bool InflateRow(ByteReader& data, std::span<uint8_t> row);
    void ConvertRow(std::span<const uint8_t> samples, int y, uint8_t mask);
    uint8_t GrayLevel(uint32_t sample) const;
    uint32_t RGBFromSamples(std::span<const uint8_t> samples) const;

    std::unique_ptr<TLZ77Decoder> decoder_;
    TChunkHeader chunk_;
    bool haveChunk_ = false;     // chunk_ holds a header read from the data
    bool dataEnded_ = false;     // the file ended inside the image data
    std::span<const uint8_t> input_;  // the inflater's unconsumed input in the current IDAT
    uint64_t imageDataBytes_ = 0;     // all IDAT lengths of the file, bounded by its size

    uint8_t bitDepth_ = 0;
    uint8_t colorType_ = 0;
    uint8_t interlace_ = 0;
    uint8_t channels_ = 1;
    uint32_t sourceBPP_ = 1;
    bool colorsSet_ = false;
    bool grayAlphaToBGRA_ = false;
    std::vector<uint8_t> plte_;        // raw PLTE triples
    std::vector<uint8_t> paletteAlpha_;  // tRNS of a palette picture
    uint32_t transparentColor_ = NoTransparentColor;
    uint32_t backgroundColor_ = 0xFFFFFF;
};

// Decodes a PNG held in memory (an icon entry) into bitmap; raises the reader's messages.
void DecodePngData(std::span<const uint8_t> data, TBitmap& bitmap);
