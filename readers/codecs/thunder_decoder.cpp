#include "readers/codecs/thunder_decoder.h"

#include <algorithm>

#include "readers/codecs/codec_io.h"

namespace {

constexpr int kSkip = 99;
constexpr int kTwoBitDeltas[4] = {0, 1, kSkip, -1};
constexpr int kThreeBitDeltas[8] = {0, 1, 2, 3, kSkip, -3, -2, -1};

// Writes the pixels of one row; pixels past the row's width are dropped.
class NibbleRow {
public:
    NibbleRow(std::span<uint8_t> row, uint32_t width) : row_(row), width_(width) {}
    bool full() const { return count_ >= width_; }
    void put(uint8_t pixel) {
        if (full()) return;
        const size_t index = count_ / 2;
        if (index < row_.size()) {
            // A high nibble starts the byte afresh, so a row's odd end leaves the low one clear.
            if (count_ % 2 == 0) row_[index] = static_cast<uint8_t>(pixel << 4);
            else row_[index] |= pixel;
        }
        ++count_;
    }

private:
    std::span<uint8_t> row_;
    uint32_t width_;
    uint32_t count_ = 0;
};

}  // namespace

void TThunderDecoder::Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                             int32_t UnpackedSize) {
    if (FWidth == 0) return;
    ByteReader in = codec_io::PackedInput(Source, PackedSize);
    const TDecodeTarget out = codec_io::Clip(Dest, std::max<int64_t>(UnpackedSize, 0));
    const size_t rowBytes = (size_t(FWidth) + 1) / 2;

    for (size_t rowStart = 0; rowStart < out.size(); rowStart += rowBytes) {
        NibbleRow row(out.subspan(rowStart, std::min(rowBytes, out.size() - rowStart)), FWidth);
        uint8_t last = 0;
        auto delta = [&](int d) {
            if (d == kSkip) return;
            last = static_cast<uint8_t>((last + d) & 0x0F);
            row.put(last);
        };
        while (!in.atEnd() && !row.full()) {
            const uint8_t op = in.u8();
            switch (op >> 6) {
                case 0:
                    for (unsigned n = op & 0x3F; n > 0 && !row.full(); --n) row.put(last);
                    break;
                case 1:
                    delta(kTwoBitDeltas[(op >> 4) & 3]);
                    delta(kTwoBitDeltas[(op >> 2) & 3]);
                    delta(kTwoBitDeltas[op & 3]);
                    break;
                case 2:
                    delta(kThreeBitDeltas[(op >> 3) & 7]);
                    delta(kThreeBitDeltas[op & 7]);
                    break;
                default:
                    last = op & 0x0F;
                    row.put(last);
                    break;
            }
        }
    }
}
