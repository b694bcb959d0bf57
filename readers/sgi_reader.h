#pragma once
// TSGIGraphic: SGI image files (sgi, rgba, rgb, bw): one to four channels of 8- or 16-bit
// samples, verbatim or run-length, stored channel after channel with the bottom row first.
#include <memory>

#include "readers/codecs/rle_decoders.h"
#include "readers/graphic_reader.h"

class TSGIGraphic : public TGraphicReader {
    IMBRIX_READER_CLASS()
public:
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, unsigned imageIndex) override;
    void ReadPicture(TStream& stream) override;

private:
    // Reads file row `row` of every channel whose target is not empty; a target gets
    // Width x bytes-per-sample bytes, zeros where the file has none.
    void ReadSGIRow(const ByteReader& data, uint32_t row, unsigned bytesPerSample,
                    std::span<uint8_t> (&targets)[4]);

    TCardinalArray rowStart_;  // run-length layout: file offset of each (channel, row)
    TCardinalArray rowSize_;   // and its packed length in bytes
    std::unique_ptr<TSGIRLEDecoder> decoder_;
};
