#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "codec_test_util.h"
#include "graphics/errors.h"
#include "graphics/warning_sink.h"
#include "readers/codecs/tiff_jpeg_decoder.h"
#include "tests/support/jpeg_scans.h"

using codectest::Bytes;
using codectest::RunDecode;

namespace {

// The fields of the reader's image properties that the decoder looks at.
struct FakeProperties {
    uint32_t Width = 0, Height = 0;
    uint8_t ColorScheme = 11;  // YCbCr
    uint8_t BitsPerSample = 8, SamplesPerPixel = 3;
    uint32_t PlanarConfiguration = 1, CurrentRow = 0, BytesPerLine = 0;
    std::vector<uint32_t> RowsPerStrip;
    std::vector<uint8_t> YCbCrSubsampling, JPEGTables;
    int32_t CurrentStrip = 0, StripCount = 1;
};

Bytes Pixels(int w, int h, int components) {
    Bytes p(size_t(w) * h * components);
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>((i * 7) ^ (i / 13));
    return p;
}

struct Compressed {
    Bytes image;
    Bytes tables;  // set when the tables were written apart
};

// Compresses with libjpeg; subsampling applies to the first component of a YCbCr picture.
// A scan script makes the stream progressive.
Compressed Compress(const Bytes& pixels, int w, int h, int components, int hs, int vs, bool splitTables,
                    const std::vector<jpeg_scan_info>& scans = {}) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    c.image_width = w;
    c.image_height = h;
    c.input_components = components;
    c.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    if (components == 3) {
        c.comp_info[0].h_samp_factor = hs;
        c.comp_info[0].v_samp_factor = vs;
    }
    if (!scans.empty()) {
        c.scan_info = scans.data();
        c.num_scans = static_cast<int>(scans.size());
    }
    Compressed out;
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    if (splitTables) {
        jpeg_mem_dest(&c, &mem, &size);
        jpeg_write_tables(&c);
        out.tables.assign(mem, mem + size);
        free(mem);
        mem = nullptr;
        size = 0;
    }
    jpeg_mem_dest(&c, &mem, &size);
    jpeg_start_compress(&c, splitTables ? FALSE : TRUE);
    for (int y = 0; y < h; ++y) {
        JSAMPROW row = const_cast<JSAMPLE*>(pixels.data() + size_t(y) * w * components);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    out.image.assign(mem, mem + size);
    free(mem);
    jpeg_destroy_compress(&c);
    return out;
}

// What libjpeg itself makes of a complete JPEG stream, as RGB or gray rows.
Bytes ReferenceDecode(const Bytes& jpeg, int components) {
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), jpeg.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_start_decompress(&d);
    Bytes out(size_t(d.output_width) * d.output_height * components);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = out.data() + size_t(d.output_scanline) * d.output_width * components;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return out;
}

FakeProperties Layout(int w, int h, int components) {
    FakeProperties p;
    p.Width = w;
    p.Height = h;
    p.RowsPerStrip = {uint32_t(h)};
    p.SamplesPerPixel = static_cast<uint8_t>(components);
    p.ColorScheme = components == 3 ? 11 : 2;
    p.BytesPerLine = w * components;
    p.YCbCrSubsampling = {2, 2};
    return p;
}

std::string DecodeError(FakeProperties& p, const Bytes& strip, int32_t unpacked) {
    TTIFFJPEGDecoder decoder(p);
    try {
        decoder.DecodeInit();
        RunDecode(decoder, strip, std::max(unpacked, 0), int32_t(strip.size()), unpacked);
    } catch (const EImbrixError& e) {
        return e.what();
    }
    return "no error";
}

class WarningRecorder {
public:
    WarningRecorder() {
        previous_ = SetWarningSink([this](const std::string& m) { warnings.push_back(m); });
    }
    ~WarningRecorder() { SetWarningSink(std::move(previous_)); }
    std::vector<std::string> warnings;

private:
    WarningSink previous_;
};

}  // namespace

TEST(TiffJPEG, SubsampledYCbCrStripComesOutAsBGRRows) {
    const int w = 21, h = 10;
    const Bytes pixels = Pixels(w, h, 3);
    const Compressed jpeg = Compress(pixels, w, h, 3, 2, 2, false);
    Bytes want = ReferenceDecode(jpeg.image, 3);
    for (size_t i = 0; i + 2 < want.size(); i += 3) std::swap(want[i], want[i + 2]);

    FakeProperties p = Layout(w, h, 3);
    TTIFFJPEGDecoder decoder(p);
    decoder.DecodeInit();
    EXPECT_EQ(decoder.HorizontalSubsampling(), 2);
    auto r = RunDecode(decoder, jpeg.image, want.size(), int32_t(jpeg.image.size()), int32_t(want.size()));
    decoder.DecodeEnd();
    EXPECT_EQ(r.output, want) << "first difference at "
                              << std::mismatch(r.output.begin(), r.output.end(), want.begin()).first -
                                     r.output.begin();
    EXPECT_TRUE(r.guardsIntact);
}

TEST(TiffJPEG, TablesFieldAndAbbreviatedStripsOfAMultiStripPicture) {
    const int w = 16, h = 16;
    const Bytes pixels = Pixels(w, h, 1);
    // Two strips of 8 rows, each an abbreviated stream sharing one tables field.
    const Bytes top(pixels.begin(), pixels.begin() + w * 8), bottom(pixels.begin() + w * 8, pixels.end());
    const Compressed s1 = Compress(top, w, 8, 1, 1, 1, true);
    const Compressed s2 = Compress(bottom, w, 8, 1, 1, 1, true);
    ASSERT_EQ(s1.tables, s2.tables);
    Bytes want = ReferenceDecode(Compress(top, w, 8, 1, 1, 1, false).image, 1);
    const Bytes want2 = ReferenceDecode(Compress(bottom, w, 8, 1, 1, 1, false).image, 1);
    want.insert(want.end(), want2.begin(), want2.end());

    FakeProperties p = Layout(w, h, 1);
    p.RowsPerStrip = {8};
    p.YCbCrSubsampling.clear();
    p.JPEGTables = s1.tables;
    p.StripCount = 2;
    TTIFFJPEGDecoder decoder(p);
    decoder.DecodeInit();
    Bytes have;
    for (const Bytes* strip : {&s1.image, &s2.image}) {
        auto r = RunDecode(decoder, *strip, w * 8, int32_t(strip->size()), w * 8);
        have.insert(have.end(), r.output.begin(), r.output.end());
        p.CurrentRow += 8;  // the reader moves on; the decoder sees it through the reference
        p.CurrentStrip += 1;
    }
    decoder.DecodeEnd();
    EXPECT_EQ(have, want);
}

TEST(TiffJPEG, StripsThatDoNotMatchThePictureAreRefused) {
    const int w = 16, h = 8;
    const Compressed jpeg = Compress(Pixels(w, h, 3), w, h, 3, 2, 2, false);
    const int32_t size = w * h * 3;
    {
        FakeProperties p = Layout(w, h + 1, 3);
        EXPECT_EQ(DecodeError(p, jpeg.image, size), "Improper JPEG strip/tile size.");
    }
    {
        FakeProperties p = Layout(w, h, 3);
        p.SamplesPerPixel = 4;
        EXPECT_EQ(DecodeError(p, jpeg.image, size), "Improper JPEG component count.");
    }
    {
        FakeProperties p = Layout(w, h, 3);
        p.BitsPerSample = 12;
        EXPECT_EQ(DecodeError(p, jpeg.image, size), "Improper JPEG data precision.");
    }
    {
        FakeProperties p = Layout(w, h, 3);
        p.YCbCrSubsampling = {2, 1};
        EXPECT_EQ(DecodeError(p, jpeg.image, size), "Improper JPEG sampling factors.");
    }
    {
        FakeProperties p = Layout(w, h, 3);
        EXPECT_EQ(DecodeError(p, jpeg.image, size - 1), "Fractional JPEG scanline unsupported.");
    }
    {
        FakeProperties p = Layout(w, h, 3);
        p.JPEGTables = jpeg.image;  // a whole image is no tables-only stream
        EXPECT_EQ(DecodeError(p, jpeg.image, size), "Bogus JPEG tables field.");
    }
    {
        FakeProperties p = Layout(w, h, 3);
        EXPECT_EQ(DecodeError(p, Bytes{0x00, 0x11, 0x22}, size).rfind("JPEG error #", 0), 0u)
            << "a strip that is no JPEG stream is a library error";
    }
}

TEST(TiffJPEG, TruncatedStripWarnsAndStaysInBounds) {
    const int w = 32, h = 16;
    const Compressed jpeg = Compress(Pixels(w, h, 3), w, h, 3, 2, 2, false);
    FakeProperties p = Layout(w, h, 3);
    WarningRecorder recorder;
    TTIFFJPEGDecoder decoder(p);
    decoder.DecodeInit();
    const Bytes cut(jpeg.image.begin(), jpeg.image.begin() + jpeg.image.size() * 2 / 3);
    auto r = RunDecode(decoder, cut, w * h * 3, int32_t(cut.size()), w * h * 3);
    EXPECT_TRUE(r.guardsIntact);
    ASSERT_FALSE(recorder.warnings.empty());
    EXPECT_EQ(recorder.warnings[0], "JPEG decompression error. Unexpected end of input.");
    // The decoder is reusable for the next strip after a short one.
    auto again = RunDecode(decoder, jpeg.image, w * h * 3, int32_t(jpeg.image.size()), w * h * 3);
    EXPECT_TRUE(again.guardsIntact);
    Bytes want = ReferenceDecode(jpeg.image, 3);
    for (size_t i = 0; i + 2 < want.size(); i += 3) std::swap(want[i], want[i + 2]);
    EXPECT_EQ(again.output, want);
    decoder.DecodeEnd();
}

TEST(TiffJPEG, SeparateYCbCrPlanesComeOutAsStored) {
    // Planar YCbCr: each strip is a one-component stream holding one plane.
    const int w = 12, h = 8;
    const Bytes plane = Pixels(w, h, 1);
    const Compressed jpeg = Compress(plane, w, h, 1, 1, 1, false);
    FakeProperties p = Layout(w, h, 3);
    p.PlanarConfiguration = 2;
    p.BytesPerLine = w;
    p.YCbCrSubsampling = {1, 1};
    p.StripCount = 3;
    TTIFFJPEGDecoder decoder(p);
    decoder.DecodeInit();
    auto r = RunDecode(decoder, jpeg.image, w * h, int32_t(jpeg.image.size()), w * h);
    decoder.DecodeEnd();
    EXPECT_EQ(r.output, ReferenceDecode(jpeg.image, 1));
    EXPECT_TRUE(r.guardsIntact);
}

TEST(TiffJPEG, ProgressiveStripsWithTooManyScansAreRefused) {
    const int w = 16, h = 16;
    const Bytes pixels = Pixels(w, h, 1);
    const std::vector<jpeg_scan_info> few = testsupport::RefiningProgression(1, 4);
    const std::vector<jpeg_scan_info> many = testsupport::RefiningProgression(1, 63);
    ASSERT_GT(many.size(), 500u);

    const Compressed ok = Compress(pixels, w, h, 1, 1, 1, false, few);
    FakeProperties p = Layout(w, h, 1);
    p.YCbCrSubsampling.clear();
    TTIFFJPEGDecoder decoder(p);
    decoder.DecodeInit();
    auto r = RunDecode(decoder, ok.image, w * h, int32_t(ok.image.size()), w * h);
    EXPECT_EQ(r.output, ReferenceDecode(ok.image, 1));

    const Compressed refused = Compress(pixels, w, h, 1, 1, 1, false, many);
    EXPECT_EQ(DecodeError(p, refused.image, w * h), "JPEG file has too many scans");
    // The decoder that refused a strip still reads a good one afterwards.
    EXPECT_THROW(RunDecode(decoder, refused.image, w * h, int32_t(refused.image.size()), w * h), EJPEG);
    auto again = RunDecode(decoder, ok.image, w * h, int32_t(ok.image.size()), w * h);
    EXPECT_EQ(again.output, r.output);
    decoder.DecodeEnd();
}
