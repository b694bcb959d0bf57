#pragma once
// Thin RAII layer over libjpeg for TJPEGImage: one decompressor or compressor object with our
// error manager, in-memory source and destination managers and a progress monitor.
//
// libjpeg reports fatal errors through longjmp. Every library call goes through a small
// C-style function in jpeg_library.cpp that holds the setjmp and has no C++ object with a
// destructor alive across it; the methods below turn a failure into an exception afterwards.
// Callbacks that run C++ code (progress, the growing output buffer) catch everything, park the
// exception and leave through the same longjmp, so no exception ever unwinds through libjpeg.
#include <chrono>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs size_t and FILE declared first
#include <exception>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "graphics/stream.h"

#include <jpeglib.h>

namespace jpegbinding {

// The source and destination managers move data in blocks of this size.
inline constexpr size_t kBlockSize = 4096;

// State shared by our callbacks; cinfo->client_data points here.
struct CallbackContext {
    jpeg_error_mgr errorManager{};
    jpeg_progress_mgr progressManager{};
    std::jmp_buf jump{};
    std::exception_ptr pending;  // raised inside a callback, rethrown after the longjmp
    const char* ownMessage = nullptr;  // for failures the library itself has no code for
    // The library's own message formatter, for the text of a warning, and whether one was
    // passed on already.
    void (*libraryFormat)(j_common_ptr, char*) = nullptr;
    bool warned = false;

    // Progress: called with a percentage, at most every 500 ms and only when it changed.
    std::function<void(int percent)> onProgress;
    std::chrono::steady_clock::time_point lastReport{};
    int lastPercent = -1;

    // In-memory source.
    jpeg_source_mgr source{};
    const uint8_t* sourceData = nullptr;
    size_t sourceSize = 0;
    size_t sourceOffset = 0;

    // In-memory destination.
    jpeg_destination_mgr destination{};
    ByteBuffer* output = nullptr;
    uint8_t block[kBlockSize]{};
};

class Decompressor {
public:
    // Reads from bytes, which must outlive the object.
    explicit Decompressor(std::span<const uint8_t> bytes);
    ~Decompressor();
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    jpeg_decompress_struct& Info() { return info_; }
    void SetProgressHandler(std::function<void(int)> handler);

    // The header of an image (tables-only streams are refused).
    void ReadHeader();
    // Fills output_width, output_height and out_color_components from the parameters set.
    void CalcOutputDimensions();
    void Start();
    // Reads count rows, one per library call, into firstRow, firstRow + stride, ...
    void ReadRows(uint8_t* firstRow, size_t stride, int count);
    void Finish();

private:
    [[noreturn]] void Fail();
    jpeg_decompress_struct info_{};
    CallbackContext context_;
};

class Compressor {
public:
    // Writes into output (appended to), which must outlive the object.
    explicit Compressor(ByteBuffer& output);
    ~Compressor();
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    jpeg_compress_struct& Info() { return info_; }
    void SetProgressHandler(std::function<void(int)> handler);

    // Sets image_width, image_height, input components and colour space before this.
    void SetDefaults();
    void SetQuality(int quality);  // baseline-compatible tables
    void SetGrayscale();
    void SetProgressive();
    void Start();
    void WriteRows(const uint8_t* firstRow, size_t stride, int count);
    void Finish();

private:
    [[noreturn]] void Fail();
    jpeg_compress_struct info_{};
    CallbackContext context_;
};

// "JPEG error #%d" with the library's message code.
std::string JpegErrorText(int messageCode);

}  // namespace jpegbinding
