#pragma once
// The shared body of the fuzzers. An input is split into a few parameter bytes at the front
// (codec settings, sizes) and the data behind them. The data goes into a heap buffer of
// exactly its size and the output into one of exactly the window's size, so any read or write
// outside them trips AddressSanitizer; every output byte is read afterwards so that
// uninitialised or stray output shows up too. Errors the program raises on purpose are
// expected; anything else (a crash, a hang, a sanitizer report) is a finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/warning_sink.h"
#include "readers/codecs/decoder.h"

namespace fuzz {

inline constexpr size_t kParameterBytes = 12;
inline constexpr size_t kMaxOutput = 1 << 16;

// The parameter bytes; a short input reads zeros past its end.
class Params {
public:
    Params(const uint8_t* data, size_t size) : size_(std::min(size, kParameterBytes)) {
        std::copy(data, data + size_, bytes_);
        rest_ = std::span<const uint8_t>(data + size_, size - size_);
    }
    uint8_t u8() { return next_ < size_ ? bytes_[next_++] : (next_++, 0); }
    // Two statements: the operands of | have no fixed order, and the replay tests are built
    // by another compiler than the fuzzers.
    uint16_t u16() {
        const uint8_t low = u8();
        const uint8_t high = u8();
        return static_cast<uint16_t>(low | (high << 8));
    }
    bool flag() { return u8() & 1; }
    // One of the listed values.
    template <class T>
    T pick(std::initializer_list<T> values) { return values.begin()[u8() % values.size()]; }
    std::span<const uint8_t> data() const { return rest_; }

private:
    uint8_t bytes_[kParameterBytes] = {};
    size_t size_;
    size_t next_ = 0;
    std::span<const uint8_t> rest_;
};

inline void Touch(std::span<const uint8_t> bytes) {
    uint32_t sum = 0;
    for (uint8_t b : bytes) sum = sum * 31 + b;
    volatile uint32_t sink = sum;
    (void)sink;
}

// Process-wide settings for a fuzz run: warnings are dropped, pictures kept small.
inline void Setup() {
    static const bool done = [] {
        SetWarningSink(nullptr);
        CurrentPictureLimits().maxPixels = 1 << 20;
        CurrentPictureLimits().maxAllocation = 64u << 20;
        return true;
    }();
    (void)done;
}

// Runs one decoder over the data: create, DecodeInit, Decode in one or two blocks, DecodeEnd.
// The first three parameter bytes are taken here (window size and size modes); the factory reads
// the codec's own from the rest.
template <class Factory>
int RunDecoder(const uint8_t* data, size_t size, Factory makeDecoder) {
    Setup();
    Params params(data, size);
    const size_t window = params.u16() % kMaxOutput;
    const uint8_t modes = params.u8();
    try {
        std::unique_ptr<TDecoder> decoder = makeDecoder(params);
        const std::span<const uint8_t> payload = params.data();
        std::vector<uint8_t> input(payload.begin(), payload.end());
        std::vector<uint8_t> output(window);
        // Sizes that agree with the buffers, that promise more than they hold, or are negative.
        auto sizeFor = [](size_t real, unsigned mode) -> int32_t {
            switch (mode & 3) {
                case 0: return static_cast<int32_t>(real);
                case 1: return static_cast<int32_t>(real * 2 + 17);
                case 2: return static_cast<int32_t>(real / 2);
                default: return -1;
            }
        };
        const bool twoBlocks = modes & 16;
        decoder->DecodeInit();
        const size_t split = twoBlocks ? input.size() / 2 : input.size();
        std::vector<uint8_t> first(input.begin(), input.begin() + split);
        std::vector<uint8_t> second(input.begin() + split, input.end());
        TDecodeTarget dst(output.data(), output.size());
        for (std::vector<uint8_t>* block : {&first, &second}) {
            if (block == &second && !twoBlocks) break;
            TDecodeSource src(block->data(), block->size());
            decoder->Decode(src, dst, sizeFor(block->size(), modes), sizeFor(dst.size(), modes >> 2));
        }
        decoder->DecodeEnd();
        Touch(output);
    } catch (const EImbrixError&) {
        // A refused input is a correct answer.
    }
    return 0;
}

}  // namespace fuzz
