#include "readers/codecs/ccitt_decoder.h"

#include <algorithm>

#include "readers/codecs/codec_io.h"

namespace {

// ITU-T T.4 run-length codes, as bit strings (first bit first).
constexpr const char* kWhiteTerminating[64] = {
    "00110101", "000111",   "0111",     "1000",     "1011",     "1100",     "1110",
    "1111",     "10011",    "10100",    "00111",    "01000",    "001000",   "000011",
    "110100",   "110101",   "101010",   "101011",   "0100111",  "0001100",  "0001000",
    "0010111",  "0000011",  "0000100",  "0101000",  "0101011",  "0010011",  "0100100",
    "0011000",  "00000010", "00000011", "00011010", "00011011", "00010010", "00010011",
    "00010100", "00010101", "00010110", "00010111", "00101000", "00101001", "00101010",
    "00101011", "00101100", "00101101", "00000100", "00000101", "00001010", "00001011",
    "01010010", "01010011", "01010100", "01010101", "00100100", "00100101", "01011000",
    "01011001", "01011010", "01011011", "01001010", "01001011", "00110010", "00110011",
    "00110100"};

// Runs 64, 128, ..., 1728.
constexpr const char* kWhiteMakeup[27] = {
    "11011",     "10010",     "010111",    "0110111",   "00110110",  "00110111",  "01100100",
    "01100101",  "01101000",  "01100111",  "011001100", "011001101", "011010010", "011010011",
    "011010100", "011010101", "011010110", "011010111", "011011000", "011011001", "011011010",
    "011011011", "010011000", "010011001", "010011010", "011000",    "010011011"};

constexpr const char* kBlackTerminating[64] = {
    "0000110111",   "010",          "11",           "10",           "011",
    "0011",         "0010",         "00011",        "000101",       "000100",
    "0000100",      "0000101",      "0000111",      "00000100",     "00000111",
    "000011000",    "0000010111",   "0000011000",   "0000001000",   "00001100111",
    "00001101000",  "00001101100",  "00000110111",  "00000101000",  "00000010111",
    "00000011000",  "000011001010", "000011001011", "000011001100", "000011001101",
    "000001101000", "000001101001", "000001101010", "000001101011", "000011010010",
    "000011010011", "000011010100", "000011010101", "000011010110", "000011010111",
    "000001101100", "000001101101", "000011011010", "000011011011", "000001010100",
    "000001010101", "000001010110", "000001010111", "000001100100", "000001100101",
    "000001010010", "000001010011", "000000100100", "000000110111", "000000111000",
    "000000100111", "000000101000", "000001011000", "000001011001", "000000101011",
    "000000101100", "000001011010", "000001100110", "000001100111"};

constexpr const char* kBlackMakeup[27] = {
    "0000001111",    "000011001000",  "000011001001",  "000001011011",  "000000110011",
    "000000110100",  "000000110101",  "0000001101100", "0000001101101", "0000001001010",
    "0000001001011", "0000001001100", "0000001001101", "0000001110010", "0000001110011",
    "0000001110100", "0000001110101", "0000001110110", "0000001110111", "0000001010010",
    "0000001010011", "0000001010100", "0000001010101", "0000001011010", "0000001011011",
    "0000001100100", "0000001100101"};

// Runs 1792, 1856, ..., 2560, the same for both colours.
constexpr const char* kExtendedMakeup[13] = {
    "00000001000",  "00000001100",  "00000001101",  "000000010010", "000000010011",
    "000000010100", "000000010101", "000000010110", "000000010111", "000000011100",
    "000000011101", "000000011110", "000000011111"};

constexpr int32_t kEndOfLineValue = -1;
constexpr int32_t kInvalidValue = -2;
constexpr const char* kEndOfLine = "000000000001";
// Zero-led codes that are no run: with the end-of-line code they complete the all-zero branch.
constexpr const char* kInvalidCodes[4] = {"000000001", "0000000001", "00000000001",
                                          "000000000000"};

uint8_t ReverseBits(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}

}  // namespace

TCCITTDecoder::TCCITTDecoder(uint32_t options, bool swapBits, bool wordAligned, uint32_t width)
    : FOptions(options), FSwapBits(swapBits), FWordAligned(wordAligned), FWidth(width) {
    BuildTrees();
}

void TCCITTDecoder::AddCode(std::vector<TNode>& tree, const char* bits, int32_t value) {
    int32_t node = 0;
    for (const char* p = bits; *p; ++p) {
        const int bit = *p == '1';
        if (tree[node].child[bit] < 0) {
            tree[node].child[bit] = static_cast<int32_t>(tree.size());
            tree.emplace_back();
        }
        node = tree[node].child[bit];
    }
    tree[node].leaf = true;
    tree[node].value = value;
}

void TCCITTDecoder::BuildTrees() {
    auto build = [](std::vector<TNode>& tree, const char* const* terminating,
                    const char* const* makeup) {
        tree.assign(1, TNode{});
        for (int i = 0; i < 64; ++i) AddCode(tree, terminating[i], i);
        for (int i = 0; i < 27; ++i) AddCode(tree, makeup[i], 64 * (i + 1));
        for (int i = 0; i < 13; ++i) AddCode(tree, kExtendedMakeup[i], 1792 + 64 * i);
        AddCode(tree, kEndOfLine, kEndOfLineValue);
        for (const char* code : kInvalidCodes) AddCode(tree, code, kInvalidValue);
    };
    build(FWhiteTree, kWhiteTerminating, kWhiteMakeup);
    build(FBlackTree, kBlackTerminating, kBlackMakeup);
}

void TCCITTDecoder::StartSource(TDecodeSource source, int32_t packedSize) {
    FSource = codec_io::Clip(source, std::max<int64_t>(packedSize, 0));
    FSourcePos = 0;
    FBitsLeft = 0;
    FCurrentByte = 0;
}

bool TCCITTDecoder::NextBit(unsigned& bit) {
    if (FBitsLeft == 0) {
        if (FSourcePos >= FSource.size()) return false;
        // Reversed fill order is undone as each byte is read; the caller's buffer stays as is.
        const uint8_t b = FSource[FSourcePos++];
        FCurrentByte = FSwapBits ? ReverseBits(b) : b;
        FBitsLeft = 8;
    }
    --FBitsLeft;
    bit = (FCurrentByte >> FBitsLeft) & 1u;
    return true;
}

void TCCITTDecoder::SkipToSourceOffset(size_t pos) {
    FBitsLeft = 0;
    FSourcePos = std::min(std::max(pos, FSourcePos), FSource.size());
}

TCCITTDecoder::TRun TCCITTDecoder::ReadRun(bool black) {
    const std::vector<TNode>& tree = black ? FBlackTree : FWhiteTree;
    uint32_t total = 0;
    int32_t node = 0;
    for (;;) {
        unsigned bit;
        if (!NextBit(bit)) return {TRunKind::EndOfData, total};
        node = tree[node].child[bit];
        if (node < 0) return {TRunKind::Invalid, 0};
        if (!tree[node].leaf) continue;
        const int32_t value = tree[node].value;
        if (value == kEndOfLineValue) return {TRunKind::EndOfLine, 0};
        if (value == kInvalidValue) return {TRunKind::Invalid, 0};
        total += static_cast<uint32_t>(value);
        if (value < 64) return {TRunKind::Run, total};
        // A makeup code: the terminating code of the same colour follows.
        node = 0;
        // Damaged data can chain makeup codes without end; no row is that long.
        if (total > (1u << 30)) return {TRunKind::Invalid, 0};
    }
}

void TCCITTDecoder::StartTarget(TDecodeTarget dest, int32_t unpackedSize) {
    FTarget = codec_io::Clip(dest, std::max<int64_t>(unpackedSize, 0));
    std::fill(FTarget.begin(), FTarget.end(), uint8_t(0));
}

void TCCITTDecoder::SetBlack(size_t rowStart, uint32_t x, uint32_t count) {
    const uint64_t end = std::min<uint64_t>(uint64_t(x) + count, FWidth);
    for (uint64_t px = x; px < end; ++px) {
        const size_t index = rowStart + static_cast<size_t>(px / 8);
        if (index >= FTarget.size()) return;
        FTarget[index] |= static_cast<uint8_t>(0x80u >> (px % 8));
    }
}

bool TCCITTFax3Decoder::SynchroniseOnEndOfLine() {
    unsigned zeros = 0;
    unsigned bit;
    while (zeros < 11) {
        if (!NextBit(bit)) return false;
        zeros = bit ? 0 : zeros + 1;
    }
    // Fill bits may stand before the code's final 1.
    do {
        if (!NextBit(bit)) return false;
    } while (bit == 0);
    return true;
}

void TCCITTFax3Decoder::Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                               int32_t UnpackedSize) {
    StartSource(Source, PackedSize);
    StartTarget(Dest, UnpackedSize);
    if (FWidth == 0) return;
    const size_t rowBytes = RowBytes();
    bool endedOnEndOfLine = false;
    for (size_t rowStart = 0; rowStart < TargetSize() && !SourceExhausted(); rowStart += rowBytes) {
        if (!endedOnEndOfLine && !SynchroniseOnEndOfLine()) return;
        endedOnEndOfLine = false;
        bool black = false;
        uint32_t x = 0;
        while (x < FWidth) {
            const TRun run = ReadRun(black);
            if (run.kind == TRunKind::EndOfLine) {
                endedOnEndOfLine = true;
                break;
            }
            if (run.kind == TRunKind::Invalid) break;
            if (black) SetBlack(rowStart, x, run.length);
            x = static_cast<uint32_t>(std::min<uint64_t>(uint64_t(x) + run.length, FWidth));
            if (run.kind == TRunKind::EndOfData) return;
            black = !black;
        }
    }
}

void TCCITTMHDecoder::Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                             int32_t UnpackedSize) {
    StartSource(Source, PackedSize);
    StartTarget(Dest, UnpackedSize);
    if (FWidth == 0) return;
    const size_t rowBytes = RowBytes();
    size_t rowStart = 0;
    bool black = false;
    uint32_t x = 0;
    while (rowStart < TargetSize() && !SourceExhausted()) {
        const TRun run = ReadRun(black);
        if (run.kind == TRunKind::Run || run.kind == TRunKind::EndOfData) {
            if (black) SetBlack(rowStart, x, run.length);
            x = static_cast<uint32_t>(std::min<uint64_t>(uint64_t(x) + run.length, FWidth));
        }
        if (run.kind == TRunKind::EndOfData) return;
        black = !black;
        if (x >= FWidth) {
            // Rows start on a source byte boundary; in the word-aligned variant on an even one.
            SkipToByte();
            if (FWordAligned && SourcePosition() % 2) SkipToSourceOffset(SourcePosition() + 1);
            rowStart += rowBytes;
            black = false;
            x = 0;
        }
    }
}
