// JPEG decode and encode of a 24-megapixel picture (6000 x 4000) through TJPEGImage, next to
// the same work done with libjpeg directly, so the adapter's own cost shows.
//
//   bench_jpeg                       run the benchmarks
//   bench_jpeg --write-sample DIR    write DIR/sample.jpg (quality 85) and DIR/sample.ppm,
//                                    the pictures bench/jpeg_vs_libjpeg.sh times djpeg and
//                                    cjpeg on
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "graphics/bitmap.h"
#include "graphics/stream.h"
#include "jpeg/jpeg_image.h"

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr int kQuality = 85;

// A photo-like synthetic picture: smooth gradients with some fine texture.
const TBitmap& SamplePicture() {
    static const TBitmap picture = [] {
        TBitmap bmp(kWidth, kHeight, TPixelFormat::pf24bit);
        uint32_t noise = 12345;
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* row = bmp.ScanLine(y);
            for (int x = 0; x < kWidth; ++x) {
                noise = noise * 1664525u + 1013904223u;
                const int grain = static_cast<int>(noise >> 28) - 8;
                const double fx = double(x) / kWidth, fy = double(y) / kHeight;
                auto clamp = [](double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
                row[3 * x] = clamp(60 + 150 * fy + grain);
                row[3 * x + 1] = clamp(128 + 90 * std::sin(12 * fx + 7 * fy) + grain);
                row[3 * x + 2] = clamp(30 + 200 * fx + 20 * std::cos(40 * fy) + grain);
            }
        }
        return bmp;
    }();
    return picture;
}

const std::vector<uint8_t>& SampleJpeg() {
    static const std::vector<uint8_t> bytes = [] {
        TJPEGImage jpg;
        jpg.SetQuality(kQuality);
        TBitmap copy = SamplePicture();
        jpg.AssignBitmap(copy);
        TMemoryStream out;
        jpg.WritePicture(out);
        return out.Bytes();
    }();
    return bytes;
}

void BM_TJPEGImageDecode(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = SampleJpeg();
    for (auto _ : state) {
        TMemoryStream in(bytes);
        TJPEGImage jpg;
        jpg.ReadPicture(in);
        benchmark::DoNotOptimize(jpg.DecodedBitmap().Bits());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 3);
}

void BM_TJPEGImageEncode(benchmark::State& state) {
    TBitmap picture = SamplePicture();
    for (auto _ : state) {
        TJPEGImage jpg;
        jpg.SetQuality(kQuality);
        jpg.AssignBitmap(picture);
        TMemoryStream out;
        jpg.WritePicture(out);
        benchmark::DoNotOptimize(out.Bytes().data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 3);
}

// The same decode straight through libjpeg into one buffer: the floor the adapter adds to.
void BM_LibjpegDecode(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = SampleJpeg();
    std::vector<uint8_t> pixels(size_t(kWidth) * kHeight * 3);
    for (auto _ : state) {
        jpeg_decompress_struct info{};
        jpeg_error_mgr err{};
        info.err = jpeg_std_error(&err);
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&info, TRUE);
        info.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&info);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = pixels.data() + size_t(info.output_scanline) * kWidth * 3;
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 3);
}

void BM_LibjpegEncode(benchmark::State& state) {
    const TBitmap& picture = SamplePicture();
    for (auto _ : state) {
        jpeg_compress_struct info{};
        jpeg_error_mgr err{};
        info.err = jpeg_std_error(&err);
        jpeg_create_compress(&info);
        unsigned char* buffer = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&info, &buffer, &size);
        info.image_width = kWidth;
        info.image_height = kHeight;
        info.input_components = 3;
        info.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, kQuality, TRUE);
        jpeg_start_compress(&info, TRUE);
        for (int y = 0; y < kHeight; ++y) {
            JSAMPROW row = const_cast<uint8_t*>(picture.ScanLine(y));
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        jpeg_destroy_compress(&info);
        benchmark::DoNotOptimize(buffer);
        std::free(buffer);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 3);
}

// What a new 6000 x 4000 bitmap costs by itself (allocation and white fill): part of every
// decode through TJPEGImage, which the straight libjpeg decode above does not pay.
void BM_NewBitmap(benchmark::State& state) {
    for (auto _ : state) {
        TBitmap bmp(kWidth, kHeight, TPixelFormat::pf24bit);
        benchmark::DoNotOptimize(bmp.Bits());
    }
}

BENCHMARK(BM_TJPEGImageDecode)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_LibjpegDecode)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_NewBitmap)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_TJPEGImageEncode)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_LibjpegEncode)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

int WriteSample(const std::string& dir) {
    const std::vector<uint8_t>& jpg = SampleJpeg();
    std::ofstream(dir + "/sample.jpg", std::ios::binary).write(reinterpret_cast<const char*>(jpg.data()),
                                                                  static_cast<std::streamsize>(jpg.size()));
    std::ofstream ppm(dir + "/sample.ppm", std::ios::binary);
    ppm << "P6\n" << kWidth << " " << kHeight << "\n255\n";
    const TBitmap& picture = SamplePicture();
    std::vector<char> row(size_t(kWidth) * 3);
    for (int y = 0; y < kHeight; ++y) {
        const uint8_t* bgr = picture.ScanLine(y);
        for (int x = 0; x < kWidth; ++x) {
            row[3 * x] = static_cast<char>(bgr[3 * x + 2]);
            row[3 * x + 1] = static_cast<char>(bgr[3 * x + 1]);
            row[3 * x + 2] = static_cast<char>(bgr[3 * x]);
        }
        ppm.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    if (!ppm) {
        std::fprintf(stderr, "cannot write the sample pictures into %s\n", dir.c_str());
        return 1;
    }
    std::printf("%s/sample.jpg (%zu bytes) and %s/sample.ppm\n", dir.c_str(), jpg.size(), dir.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-sample") == 0) return WriteSample(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
