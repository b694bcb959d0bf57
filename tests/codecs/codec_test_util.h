#pragma once
// Runs a codec over byte vectors with guard bytes around the output, so a write outside the
// window shows up as a failure even without AddressSanitizer.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "readers/codecs/decoder.h"

namespace codectest {

using Bytes = std::vector<uint8_t>;

struct DecodeResult {
    Bytes output;            // the window's bytes after the call
    size_t sourceAdvance = 0;
    size_t destAdvance = 0;
    bool guardsIntact = true;
};

inline constexpr uint8_t kGuard = 0xA5;
inline constexpr size_t kGuardSize = 32;

// Decodes input into an output window of outputSize bytes that starts filled with `fill`.
inline DecodeResult RunDecode(TDecoder& decoder, const Bytes& input, size_t outputSize,
                              int32_t packedSize, int32_t unpackedSize, uint8_t fill = 0xEE) {
    Bytes source = input;  // exact size: reading past it is a heap overflow under ASan
    Bytes buffer(outputSize + 2 * kGuardSize, kGuard);
    std::fill(buffer.begin() + kGuardSize, buffer.begin() + kGuardSize + outputSize, fill);
    TDecodeSource src(source.data(), source.size());
    TDecodeTarget dst(buffer.data() + kGuardSize, outputSize);
    const TDecodeSource srcBefore = src;
    const TDecodeTarget dstBefore = dst;
    auto guardsIntact = [&] {
        for (size_t i = 0; i < kGuardSize; ++i)
            if (buffer[i] != kGuard || buffer[buffer.size() - 1 - i] != kGuard) return false;
        return true;
    };
    try {
        decoder.Decode(src, dst, packedSize, unpackedSize);
    } catch (...) {
        // Giving up is allowed; writing outside the window first is not.
        EXPECT_TRUE(guardsIntact()) << "wrote outside a window of " << outputSize << " bytes, then failed";
        throw;
    }
    DecodeResult r;
    r.sourceAdvance = static_cast<size_t>(src.data() - srcBefore.data());
    r.destAdvance = static_cast<size_t>(dst.data() - dstBefore.data());
    r.output.assign(buffer.begin() + kGuardSize, buffer.begin() + kGuardSize + outputSize);
    r.guardsIntact = guardsIntact();
    return r;
}

inline std::string Hex(const Bytes& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (uint8_t b : bytes) {
        if (!s.empty()) s += ' ';
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

// Packs codes most significant bit first, each with its own width.
inline Bytes PackCodesMsbFirst(const std::vector<std::pair<unsigned, unsigned>>& codes) {
    Bytes out;
    uint64_t acc = 0;
    unsigned bits = 0;
    for (auto [code, width] : codes) {
        acc = (acc << width) | code;
        bits += width;
        while (bits >= 8) {
            out.push_back(static_cast<uint8_t>(acc >> (bits - 8)));
            bits -= 8;
        }
    }
    if (bits) out.push_back(static_cast<uint8_t>(acc << (8 - bits)));
    return out;
}

// Packs a string of '0'/'1' (spaces ignored) into bytes, first bit in the top bit.
inline Bytes Bits(const std::string& text) {
    Bytes out;
    unsigned n = 0;
    for (char c : text) {
        if (c != '0' && c != '1') continue;
        if (n % 8 == 0) out.push_back(0);
        if (c == '1') out.back() |= static_cast<uint8_t>(0x80 >> (n % 8));
        ++n;
    }
    return out;
}

}  // namespace codectest

#define EXPECT_BYTES(have, want) \
    EXPECT_EQ(codectest::Hex(have), codectest::Hex(want)) << "have (left) vs want (right)"
