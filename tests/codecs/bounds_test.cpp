// Every codec, given cut-off input, an output window smaller than the sizes claim, and
// noise, stays inside its windows and ends. The guard bytes catch stray writes in any build;
// under AddressSanitizer the exact-size input buffer catches stray reads.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>

#include "codec_test_util.h"
#include "graphics/errors.h"
#include "readers/codecs/ccitt_decoder.h"
#include "readers/codecs/lz77_decoder.h"
#include "readers/codecs/lzw_decoder.h"
#include "readers/codecs/rle_decoders.h"
#include "readers/codecs/thunder_decoder.h"
#include "readers/codecs/tiff_jpeg_decoder.h"
#include "tests/support/png_chunks.h"

#include <cstdio>
#include <jpeglib.h>

using codectest::Bytes;

namespace {

struct CodecCase {
    const char* name;
    std::function<std::unique_ptr<TDecoder>()> make;
    Bytes sample;       // a valid packed input
    bool movesSource;   // Source may advance (never beyond the input)
    bool movesDest;
};

Bytes Deflated(size_t n) {
    Bytes plain(n);
    for (size_t i = 0; i < n; ++i) plain[i] = static_cast<uint8_t>(i * i / 5);
    return testsupport::Deflate(plain);
}

std::vector<CodecCase> Cases() {
    const Bytes lzw = codectest::PackCodesMsbFirst({{256, 9}, {65, 9}, {66, 9}, {258, 9}, {260, 9}, {261, 9}, {257, 9}});
    const Bytes fax = codectest::Bits("000000000001 1000 11 01000 000000000001 00110101 0011 01000 11011 0111");
    return {
        {"Targa24", [] { return std::make_unique<TTargaRLEDecoder>(24); },
         {0x84, 9, 8, 7, 0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xFF, 1, 2, 3}, true, false},
        {"Targa32", [] { return std::make_unique<TTargaRLEDecoder>(32); },
         {0x81, 9, 8, 7, 6, 0x01, 1, 2, 3, 4, 5, 6, 7, 8}, true, false},
        {"PackBits", [] { return std::make_unique<TPackbitsRLEDecoder>(); },
         {0xFE, 0xAA, 0x80, 0x05, 1, 2, 3, 4, 5, 6, 0x81, 9}, false, false},
        {"PCX", [] { return std::make_unique<TPCXRLEDecoder>(); }, {0xFF, 0x44, 0xC0, 0x99, 0xBF, 0xC5}, false, false},
        {"SGI8", [] { return std::make_unique<TSGIRLEDecoder>(8); }, {0x7F, 0x33, 0x85, 1, 2, 3, 4, 5, 0x00}, false, false},
        {"SGI16", [] { return std::make_unique<TSGIRLEDecoder>(16); },
         {0x00, 0x7F, 0xAB, 0xCD, 0x00, 0x82, 1, 2, 3, 4, 0x00, 0x00}, false, false},
        {"CUT", [] { return std::make_unique<TCUTRLEDecoder>(); }, {0x09, 0x00, 0xFF, 0x21, 0x03, 1, 2, 3, 0x00}, true, false},
        {"PSP", [] { return std::make_unique<TPSPRLEDecoder>(); }, {0xFF, 0x66, 0x7F, 1, 2, 3}, false, false},
        {"RLA", [] { return std::make_unique<TRLADecoder>(); }, {0x7F, 0x5A, 0x80, 1, 2, 3}, false, false},
        {"LZW", [] { return std::make_unique<TTIFFLZWDecoder>(); }, lzw, false, false},
        {"Fax3", [] { return std::make_unique<TCCITTFax3Decoder>(0, false, false, 100); }, fax, false, false},
        {"FaxMH", [] { return std::make_unique<TCCITTMHDecoder>(0, true, true, 100); }, fax, false, false},
        {"LZ77", [] {
             auto d = std::make_unique<TLZ77Decoder>(1, true);
             d->DecodeInit();
             return d;
         }, Deflated(3000), true, true},
        {"Thunder", [] { return std::make_unique<TThunderDecoder>(7); },
         {0xC5, 0x3F, 0x5B, 0xAB, 0xC2, 0x02, 0x3F, 0xCF}, false, false},
    };
}

void CheckRun(const CodecCase& c, const Bytes& input, size_t window, int32_t packed, int32_t unpacked) {
    auto decoder = c.make();
    codectest::DecodeResult r;
    try {
        r = codectest::RunDecode(*decoder, input, window, packed, unpacked);
    } catch (const EImbrixError&) {
        return;  // a refusal is fine; only the bounds matter here
    }
    ASSERT_TRUE(r.guardsIntact) << c.name << ": wrote outside a window of " << window << " bytes (input "
                                << input.size() << " bytes, packed " << packed << ", unpacked " << unpacked << ")";
    ASSERT_LE(r.sourceAdvance, input.size()) << c.name;
    ASSERT_LE(r.destAdvance, window) << c.name;
    if (!c.movesSource) {
        ASSERT_EQ(r.sourceAdvance, 0u) << c.name;
    }
    if (!c.movesDest) {
        ASSERT_EQ(r.destAdvance, 0u) << c.name;
    }
}

}  // namespace

TEST(CodecBounds, CutInputAndShortWindowsStayInside) {
    for (const CodecCase& c : Cases()) {
        for (size_t cut = 0; cut <= c.sample.size(); ++cut) {
            const Bytes input(c.sample.begin(), c.sample.begin() + cut);
            for (size_t window : {0, 1, 2, 3, 5, 13, 64}) {
                // Sizes that match the buffers, overstate them, and are negative.
                CheckRun(c, input, window, int32_t(cut), int32_t(window));
                CheckRun(c, input, window, int32_t(cut) + 100, 100000);
                CheckRun(c, input, window, -1, -1);
            }
        }
    }
}

TEST(CodecBounds, NoiseEndsAndStaysInside) {
    std::mt19937 rng(1234);
    for (const CodecCase& c : Cases()) {
        for (int round = 0; round < 200; ++round) {
            Bytes input(rng() % 300);
            for (uint8_t& b : input) b = static_cast<uint8_t>(rng());
            const size_t window = rng() % 700;
            CheckRun(c, input, window, int32_t(input.size()), int32_t(window + rng() % 50));
        }
    }
}

TEST(CodecBounds, TiffJPEGWithASmallTargetWindow) {
    // A matching header but a window smaller than the rows asked for.
    TTIFFJPEGLayout layout;
    layout.Width = 8;
    layout.Height = 8;
    layout.SamplesPerPixel = 1;
    layout.BitsPerSample = 8;
    layout.BytesPerLine = 8;
    // A minimal gray 8 x 8 baseline JPEG made by the library itself.
    Bytes jpeg;
    {
        std::vector<uint8_t> pixels(64, 128);
        jpeg_compress_struct c{};
        jpeg_error_mgr err{};
        c.err = jpeg_std_error(&err);
        jpeg_create_compress(&c);
        unsigned char* mem = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&c, &mem, &size);
        c.image_width = 8;
        c.image_height = 8;
        c.input_components = 1;
        c.in_color_space = JCS_GRAYSCALE;
        jpeg_set_defaults(&c);
        jpeg_start_compress(&c, TRUE);
        for (int y = 0; y < 8; ++y) {
            JSAMPROW row = pixels.data() + y * 8;
            jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
        jpeg.assign(mem, mem + size);
        free(mem);
        jpeg_destroy_compress(&c);
    }
    for (size_t window : {0, 7, 8, 20, 64}) {
        TTIFFJPEGDecoder decoder([&] { return layout; });
        decoder.DecodeInit();
        auto r = codectest::RunDecode(decoder, jpeg, window, int32_t(jpeg.size()), 64);
        EXPECT_TRUE(r.guardsIntact) << "window " << window;
        if (window == 64) {
            EXPECT_EQ(r.output, Bytes(64, 128));
        }
    }
}
