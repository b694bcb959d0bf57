#pragma once
// One-dimensional modified Huffman fax decoding (ITU-T T.4 run lengths). Output is 1 bit per
// pixel, most significant bit first, 1 = black; every row starts on a byte boundary. Neither
// Source nor Dest is advanced; the whole output window (UnpackedSize bytes of Dest) is cleared
// first. Two-dimensional coding is not decoded; the options value is kept for the caller.
#include <cstdint>
#include <vector>

#include "readers/codecs/decoder.h"

class TCCITTDecoder : public TDecodeOnly {
public:
    TCCITTDecoder(uint32_t options, bool swapBits, bool wordAligned, uint32_t width);

    uint32_t Options() const { return FOptions; }

protected:
    // What reading one code (a chain of makeup codes and a terminating code) gave.
    enum class TRunKind { Run, EndOfLine, Invalid, EndOfData };
    struct TRun {
        TRunKind kind;
        uint32_t length;  // pixels, for Run and for the makeup part read before EndOfData
    };

    void StartSource(TDecodeSource source, int32_t packedSize);
    bool NextBit(unsigned& bit);
    bool SourceExhausted() const { return FBitsLeft == 0 && FSourcePos >= FSource.size(); }
    // Drops the rest of the current source byte.
    void SkipToByte() { FBitsLeft = 0; }
    size_t SourcePosition() const { return FSourcePos; }
    void SkipToSourceOffset(size_t pos);

    TRun ReadRun(bool black);

    void StartTarget(TDecodeTarget dest, int32_t unpackedSize);
    size_t RowBytes() const { return (size_t(FWidth) + 7) / 8; }
    // Sets pixels [x, x + count) of the row starting at byte rowStart to black, clipped to
    // the row and to the target.
    void SetBlack(size_t rowStart, uint32_t x, uint32_t count);
    size_t TargetSize() const { return FTarget.size(); }

    uint32_t FOptions;
    bool FSwapBits;
    bool FWordAligned;
    uint32_t FWidth;

private:
    struct TNode {
        int32_t child[2] = {-1, -1};
        int32_t value = 0;
        bool leaf = false;
    };
    static void AddCode(std::vector<TNode>& tree, const char* bits, int32_t value);
    void BuildTrees();

    std::vector<TNode> FWhiteTree;
    std::vector<TNode> FBlackTree;

    // Bit reader.
    TDecodeSource FSource;
    size_t FSourcePos = 0;
    uint8_t FCurrentByte = 0;
    unsigned FBitsLeft = 0;

    // Pixel writer.
    TDecodeTarget FTarget;
};

// TIFF compression 3 (one-dimensional): every row is preceded by an end-of-line code.
class TCCITTFax3Decoder : public TCCITTDecoder {
public:
    using TCCITTDecoder::TCCITTDecoder;
    void Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;

private:
    bool SynchroniseOnEndOfLine();
};

// TIFF compression 2 (and its word-aligned variant 32771): rows without end-of-line codes,
// each starting on a source byte (or, word-aligned, an even source byte) boundary.
class TCCITTMHDecoder : public TCCITTDecoder {
public:
    using TCCITTDecoder::TCCITTDecoder;
    void Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;
};
