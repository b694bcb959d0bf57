#include "gif/gif_lzw.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "graphics/byte_reader.h"

namespace {

constexpr int kMaxCodes = 4096;
constexpr int kMaxCodeSize = 12;

// Pulls codes out of the data sub-blocks. The buffer keeps at most two partly used bytes in
// front of one sub-block, so 260 bytes always hold everything a code can need.
class LzwCodeReader {
public:
    explicit LzwCodeReader(ByteReader& data) : data_(data) {}

    // False when the data runs out before a whole code: the missing bits are never invented.
    bool Read(int codeSize, uint32_t readMask, uint32_t& code) {
        while (bitCount_ < bitIndex_ + codeSize && !data_.atEnd()) {
            const size_t bytePos = bitIndex_ / 8;
            std::memmove(buffer_.data(), buffer_.data() + bytePos, 3);
            bitIndex_ &= 7;
            bitCount_ -= bytePos * 8;
            const size_t count = std::min<size_t>(data_.u8(), data_.remaining());
            data_.copy(buffer_.data() + bitCount_ / 8, count);
            bitCount_ += 8 * count;
        }
        if (bitCount_ < bitIndex_ + codeSize) return false;
        const size_t p = bitIndex_ / 8;
        uint32_t bits = buffer_[p] | (uint32_t(buffer_[p + 1]) << 8);
        if (codeSize > 8) bits |= uint32_t(buffer_[p + 2]) << 16;
        code = (bits >> (bitIndex_ & 7)) & readMask;
        bitIndex_ += codeSize;
        return true;
    }

private:
    ByteReader& data_;
    std::array<uint8_t, 260> buffer_{};
    size_t bitIndex_ = 0;
    size_t bitCount_ = 0;
};

// Puts decoded pixel values into the target rows, in interlaced order where asked.
class PixelSink {
public:
    explicit PixelSink(const LzwDecodeTarget& t) : t_(t) {}
    bool Done() const { return y_ >= t_.Height; }

    void Put(uint32_t v) {
        if (y_ >= t_.Height) return;
        uint8_t* row = t_.Pixels.data() + size_t(y_) * t_.Stride;
        switch (t_.BitCount) {
            case 8: row[x_] = static_cast<uint8_t>(v); break;
            case 4:
                if ((x_ & 1) == 0)
                    row[x_ / 2] = static_cast<uint8_t>(v << 4);
                else
                    row[x_ / 2] |= static_cast<uint8_t>(v & 15);
                break;
            default:
                if ((x_ & 7) == 0)
                    row[x_ / 8] = static_cast<uint8_t>((v & 1) << 7);
                else
                    row[x_ / 8] |= static_cast<uint8_t>((v & 1) << (7 - (x_ & 7)));
                break;
        }
        if (++x_ == t_.Width) {
            x_ = 0;
            y_ = t_.Interlaced ? NextInterlacedRow(y_, t_.Height, pass_) : y_ + 1;
        }
    }

private:
    const LzwDecodeTarget& t_;
    int x_ = 0, y_ = 0, pass_ = 0;
};

}  // namespace

int NextInterlacedRow(int y, int height, int& pass) {
    const int step = pass < 2 ? 8 : pass == 2 ? 4 : 2;
    if (y + step < height) return y + step;
    // Start rows of passes 1, 2 and 3; a start row past the end falls through to the next pass.
    static constexpr int kStart[4] = {0, 4, 2, 1};
    while (pass < 3) {
        ++pass;
        if (kStart[pass] < height) return kStart[pass];
    }
    return height;
}

bool LzwDecode(ByteReader& data, const LzwDecodeTarget& target) {
    if (target.Width <= 0 || target.Height <= 0) return false;
    // The target must hold every row it claims; callers size it from the same numbers.
    const size_t rowBytes = (size_t(target.Width) * target.BitCount + 7) / 8;
    if (target.Stride < rowBytes || target.Pixels.size() < target.Stride * size_t(target.Height))
        return true;

    bool corrupted = false;
    int minCodeSize = data.u8();
    if (minCodeSize < 2 || minCodeSize > 9) {
        corrupted = true;
        minCodeSize = std::clamp(minCodeSize, 2, 9);
    }
    const uint32_t clearCode = 1u << minCodeSize;
    const uint32_t endCode = clearCode + 1;
    const uint32_t firstFree = clearCode + 2;
    const int initialCodeSize = minCodeSize + 1;
    const uint32_t pixelMask = target.PixelMask;

    std::array<uint16_t, kMaxCodes> prefix{};
    std::array<uint16_t, kMaxCodes> suffix{};
    std::array<uint16_t, kMaxCodes + 1> stack{};

    int codeSize = initialCodeSize;
    uint32_t maxCode = 1u << codeSize;
    uint32_t readMask = maxCode - 1;
    uint32_t nextFree = firstFree;
    uint32_t previous = 0;
    uint32_t firstChar = 0;
    bool tableFull = false;
    // True at the start and after a Clear: the next code is a single pixel and adds no table
    // entry. Streams may omit the first Clear or repeat it.
    bool awaitingFirst = true;

    PixelSink sink(target);
    LzwCodeReader reader(data);
    uint32_t code = 0;
    while (!sink.Done() && reader.Read(codeSize, readMask, code) && code != endCode) {
        if (code == clearCode) {
            codeSize = initialCodeSize;
            maxCode = 1u << codeSize;
            readMask = maxCode - 1;
            nextFree = firstFree;
            tableFull = false;
            awaitingFirst = true;
            continue;
        }
        if (awaitingFirst) {
            awaitingFirst = false;
            previous = code;
            firstChar = code & pixelMask;
            sink.Put(firstChar);
            continue;
        }
        uint32_t current = code;
        size_t sp = 0;
        if (current >= nextFree) {
            // The code being defined right now: previous string plus its own first character.
            current = previous;
            stack[sp++] = static_cast<uint16_t>(firstChar);
        }
        bool overlong = false;
        while (current > pixelMask) {
            // Leave room for the final character: the stack never overflows, whatever the data.
            if (sp >= kMaxCodes) {
                overlong = true;
                break;
            }
            stack[sp++] = suffix[current];
            current = prefix[current];
        }
        if (overlong) {
            corrupted = true;
            break;
        }
        firstChar = current & pixelMask;
        stack[sp++] = static_cast<uint16_t>(firstChar);
        while (sp > 0) sink.Put(stack[--sp]);

        if (!tableFull) {
            prefix[nextFree] = static_cast<uint16_t>(previous);
            suffix[nextFree] = static_cast<uint16_t>(firstChar);
            ++nextFree;
            if (nextFree >= maxCode) {
                if (codeSize >= kMaxCodeSize) {
                    tableFull = true;
                } else {
                    ++codeSize;
                    maxCode <<= 1;
                    readMask = maxCode - 1;
                }
            }
        }
        previous = code;
    }
    return corrupted;
}

namespace {

constexpr int kEncoderHashSize = 17777;
constexpr uint32_t kEncoderClear = 256;
constexpr uint32_t kEncoderEnd = 257;
constexpr int kEncoderInitialCodeSize = 9;
constexpr uint32_t kEncoderLastCode = 4094;

// Packs codes least significant bit first and writes them out in 255-byte sub-blocks.
class LzwCodeWriter {
public:
    explicit LzwCodeWriter(ByteWriter& out) : out_(out) {}
    int codeSize = kEncoderInitialCodeSize;

    void Write(uint32_t code) {
        const size_t p = bitIndex_ / 8;
        const uint32_t v = code << (bitIndex_ & 7);
        buffer_[p] |= static_cast<uint8_t>(v);
        buffer_[p + 1] = static_cast<uint8_t>(v >> 8);
        buffer_[p + 2] = static_cast<uint8_t>(v >> 16);
        bitIndex_ += codeSize;
        if (bitIndex_ >= 255 * 8) {
            out_.u8(255);
            out_.bytes(buffer_.data(), 255);
            buffer_[0] = buffer_[255];
            buffer_[1] = buffer_[256];
            std::fill(buffer_.begin() + 2, buffer_.end(), 0);
            bitIndex_ -= 255 * 8;
        }
    }

    void Flush() {
        const size_t n = (bitIndex_ + 7) / 8;
        if (n > 0) {
            out_.u8(static_cast<uint8_t>(n));
            out_.bytes(buffer_.data(), n);
        }
        out_.u8(0);
    }

private:
    ByteWriter& out_;
    std::array<uint8_t, 260> buffer_{};
    size_t bitIndex_ = 0;
};

struct StringRecord {
    uint16_t prefix = 0;
    uint16_t code = 0;
    uint8_t pixel = 0;
};

}  // namespace

void LzwEncode(ByteWriter& out, std::span<const uint8_t> indices, int width, int height) {
    out.u8(8);
    LzwCodeWriter writer(out);
    std::vector<StringRecord> table(kMaxCodes);
    constexpr int16_t kEmpty = -1;
    std::vector<int16_t> hash(kEncoderHashSize, kEmpty);  // code of the record in each slot

    uint32_t lastCode = kEncoderEnd;
    uint32_t maxCode = 512;
    uint32_t prefix = 0;
    uint32_t running = 0;
    uint32_t length = 0;

    writer.Write(kEncoderClear);
    const size_t count = std::min(indices.size(), size_t(width) * size_t(height));
    for (size_t i = 0; i < count; ++i) {
        const uint32_t p = indices[i];
        ++length;
        if (length == 1) {
            prefix = p;
            running = p * 301 + 903;
            continue;
        }
        running = static_cast<uint32_t>((uint64_t(p) + length + 4) * running % kEncoderHashSize);
        size_t slot = running;
        while (hash[slot] != kEmpty) {
            const StringRecord& r = table[size_t(hash[slot])];
            if (r.prefix == prefix && r.pixel == p) break;
            if (++slot == kEncoderHashSize) slot = 0;
        }
        if (hash[slot] != kEmpty) {
            prefix = table[size_t(hash[slot])].code;
            continue;
        }
        writer.Write(prefix);
        ++lastCode;
        table[lastCode] = StringRecord{static_cast<uint16_t>(prefix), static_cast<uint16_t>(lastCode),
                                       static_cast<uint8_t>(p)};
        hash[slot] = static_cast<int16_t>(lastCode);
        prefix = p;
        running = p * 301 + 903;
        length = 1;
        if (lastCode >= maxCode) {
            maxCode *= 2;
            ++writer.codeSize;
        } else if (lastCode >= kEncoderLastCode) {
            // Start a new table before the decoder's would overflow 12 bits.
            writer.Write(prefix);
            writer.Write(kEncoderClear);
            length = 0;
            lastCode = kEncoderEnd;
            writer.codeSize = kEncoderInitialCodeSize;
            maxCode = 512;
            std::fill(hash.begin(), hash.end(), kEmpty);
        }
    }
    // A picture whose last pixel restarted the table has already written that pixel.
    if (length > 0) {
        writer.Write(prefix);
        // Reading that code, a decoder adds one more entry (unless it is the first code after
        // a Clear) and may widen its codes; the end code must come at the width it expects.
        if (lastCode != kEncoderEnd && lastCode + 1 >= maxCode && writer.codeSize < 12) ++writer.codeSize;
    }
    writer.Write(kEncoderEnd);
    writer.Flush();
}
