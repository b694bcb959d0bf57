#include "readers/codecs/tiff_jpeg_decoder.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include <jpeglib.h>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/warning_sink.h"
#include "readers/codecs/codec_io.h"
#include "readers/codecs/codec_strings.h"

namespace {
// The library's error manager with the jump buffer behind it: the library hands the manager
// back to ErrorExit, which finds the buffer there.
struct TJPEGErrorManager {
    jpeg_error_mgr pub;  // first
    std::jmp_buf jump;
    bool tooManyScans = false;
};
}  // namespace

struct TTIFFJPEGDecoder::TLibrary {
    jpeg_decompress_struct cinfo;
    TJPEGErrorManager error;
    jpeg_source_mgr source;
    jpeg_progress_mgr progress;
    bool created = false;
};

namespace {


// Warnings leave the library through the program's warning sink; nothing may throw back
// into library code.
void Warn(const char* text) noexcept {
    try {
        ShowWarning(text, WarningKind::Damage);
    } catch (...) {
    }
}

void OutputMessage(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    Warn(text);
}

void ErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<TJPEGErrorManager*>(cinfo->err)->jump, 1);
}

// A progressive strip is read whole when decoding starts; a hostile one with thousands of
// scans is stopped there.
void LimitScans(j_common_ptr cinfo) {
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number <= kMaxJpegScans) return;
    auto* error = reinterpret_cast<TJPEGErrorManager*>(cinfo->err);
    error->tooManyScans = true;
    std::longjmp(error->jump, 1);
}

// The strip is one buffer: running past its end shows a warning and ends the image there.
const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    Warn(gesJPEGEOI);
    cinfo->src->next_input_byte = kEndOfImage;
    cinfo->src->bytes_in_buffer = sizeof kEndOfImage;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* src = cinfo->src;
    if (static_cast<unsigned long>(count) > src->bytes_in_buffer) {
        FillInputBuffer(cinfo);
        return;
    }
    src->next_input_byte += count;
    src->bytes_in_buffer -= static_cast<size_t>(count);
}

// Each library call runs in its own small function: setjmp stays here, with no C++ object
// alive across it. They answer false when the library raised a fatal error.
bool ProtectedCreate(jpeg_decompress_struct* cinfo, std::jmp_buf* jump) {
    if (setjmp(*jump)) return false;
    jpeg_create_decompress(cinfo);
    return true;
}

bool ProtectedReadHeader(jpeg_decompress_struct* cinfo, std::jmp_buf* jump, boolean requireImage,
                         int* result) {
    if (setjmp(*jump)) return false;
    *result = jpeg_read_header(cinfo, requireImage);
    return true;
}

bool ProtectedStart(jpeg_decompress_struct* cinfo, std::jmp_buf* jump) {
    if (setjmp(*jump)) return false;
    jpeg_start_decompress(cinfo);
    return true;
}

bool ProtectedReadScanline(jpeg_decompress_struct* cinfo, std::jmp_buf* jump, JSAMPLE* row,
                           JDIMENSION* lines) {
    if (setjmp(*jump)) return false;
    JSAMPROW rows[1] = {row};
    *lines = jpeg_read_scanlines(cinfo, rows, 1);
    return true;
}

bool ProtectedFinish(jpeg_decompress_struct* cinfo, std::jmp_buf* jump) {
    if (setjmp(*jump)) return false;
    jpeg_finish_decompress(cinfo);
    return true;
}

bool ProtectedAbort(jpeg_decompress_struct* cinfo, std::jmp_buf* jump) {
    if (setjmp(*jump)) return false;
    jpeg_abort_decompress(cinfo);
    return true;
}

uint32_t CeilDiv(uint32_t value, uint8_t factor) {
    return factor == 0 ? value : (value + factor - 1u) / factor;
}

}  // namespace

TTIFFJPEGDecoder::TTIFFJPEGDecoder(TLayoutSource layout) : FLayout(std::move(layout)) {}

TTIFFJPEGDecoder::~TTIFFJPEGDecoder() {
    Destroy();
}

void TTIFFJPEGDecoder::Destroy() {
    if (FLibrary && FLibrary->created) jpeg_destroy_decompress(&FLibrary->cinfo);
    FLibrary.reset();
}

[[noreturn]] static void LibraryError(jpeg_decompress_struct& cinfo) {
    auto* error = reinterpret_cast<TJPEGErrorManager*>(cinfo.err);
    if (error->tooManyScans) {
        error->tooManyScans = false;
        throw EJPEG(kTooManyJpegScansMessage);
    }
    throw EJPEG(FormatMessage(gesJPEGLibraryError, cinfo.err->msg_code));
}

void TTIFFJPEGDecoder::DecodeInit() {
    Destroy();
    FLibrary = std::make_unique<TLibrary>();
    TLibrary& lib = *FLibrary;
    std::memset(&lib.cinfo, 0, sizeof lib.cinfo);
    lib.cinfo.err = jpeg_std_error(&lib.error.pub);
    lib.error.pub.error_exit = ErrorExit;
    lib.error.pub.output_message = OutputMessage;
    if (!ProtectedCreate(&lib.cinfo, &lib.error.jump)) {
        const int code = lib.error.pub.msg_code;
        // The library may have set up its memory pools before failing.
        jpeg_destroy_decompress(&lib.cinfo);
        FLibrary.reset();
        throw EJPEG(FormatMessage(gesJPEGLibraryError, code));
    }
    lib.created = true;
    lib.progress = jpeg_progress_mgr{};
    lib.progress.progress_monitor = LimitScans;
    lib.cinfo.progress = &lib.progress;

    lib.source.init_source = InitSource;
    lib.source.fill_input_buffer = FillInputBuffer;
    lib.source.skip_input_data = SkipInputData;
    lib.source.resync_to_restart = jpeg_resync_to_restart;
    lib.source.term_source = TermSource;
    lib.source.next_input_byte = nullptr;
    lib.source.bytes_in_buffer = 0;
    lib.cinfo.src = &lib.source;

    const TTIFFJPEGLayout layout = FLayout();
    FHorSubsampling = layout.YCbCrSubsampling.size() >= 1 ? layout.YCbCrSubsampling[0] : 1;
    FVerSubsampling = layout.YCbCrSubsampling.size() >= 2 ? layout.YCbCrSubsampling[1] : 1;

    if (!layout.JPEGTables.empty()) {
        lib.source.next_input_byte = layout.JPEGTables.data();
        lib.source.bytes_in_buffer = layout.JPEGTables.size();
        int result = 0;
        if (!ProtectedReadHeader(&lib.cinfo, &lib.error.jump, FALSE, &result) ||
            result != JPEG_HEADER_TABLES_ONLY)
            CompressionError(gesJPEGBogusTableField);
        lib.source.next_input_byte = nullptr;
        lib.source.bytes_in_buffer = 0;
    }
}

void TTIFFJPEGDecoder::DecodeEnd() {
    Destroy();
}

void TTIFFJPEGDecoder::Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                              int32_t UnpackedSize) {
    if (!FLibrary) DecodeInit();
    TLibrary& lib = *FLibrary;
    jpeg_decompress_struct& cinfo = lib.cinfo;
    std::jmp_buf* jump = &lib.error.jump;

    if (!ProtectedAbort(&cinfo, jump)) LibraryError(cinfo);
    const TDecodeSource strip = codec_io::Clip(Source, std::max<int64_t>(PackedSize, 0));
    lib.source.next_input_byte = strip.data();
    lib.source.bytes_in_buffer = strip.size();
    int headerResult = 0;
    if (!ProtectedReadHeader(&cinfo, jump, TRUE, &headerResult)) LibraryError(cinfo);

    const TTIFFJPEGLayout layout = FLayout();
    uint32_t width = layout.Width;
    const uint32_t rowsLeft = layout.Height > layout.CurrentRow ? layout.Height - layout.CurrentRow : 0;
    uint32_t height = std::min(layout.RowsPerStrip, rowsLeft);
    const uint32_t stride = layout.BytesPerLine;
    if (layout.PlanarConfiguration == 2 && layout.CurrentStrip == layout.StripCount) {
        width = CeilDiv(width, FHorSubsampling);
        height = CeilDiv(height, FVerSubsampling);
    }

    if (cinfo.image_width != width || cinfo.image_height != height)
        CompressionError(gesJPEGStripSize);
    const int components = layout.PlanarConfiguration == 1 ? layout.SamplesPerPixel : 1;
    if (cinfo.num_components != components) CompressionError(gesJPEGComponentCount);
    if (cinfo.data_precision != layout.BitsPerSample) CompressionError(gesJPEGDataPrecision);
    const jpeg_component_info* comp = cinfo.comp_info;
    if (layout.PlanarConfiguration == 1) {
        if (comp[0].h_samp_factor != FHorSubsampling || comp[0].v_samp_factor != FVerSubsampling)
            CompressionError(gesJPEGSamplingFactors);
        for (int i = 1; i < cinfo.num_components; ++i)
            if (comp[i].h_samp_factor != 1 || comp[i].v_samp_factor != 1)
                CompressionError(gesJPEGSamplingFactors);
    } else if (comp[0].h_samp_factor != 1 || comp[0].v_samp_factor != 1) {
        CompressionError(gesJPEGSamplingFactors);
    }

    // Only YCbCr needs a conversion; anything else (gray, RGB, CMYK) is delivered as stored,
    // since the library converts nothing but YCbCr and gray to RGB. Separate planes hold one
    // component each, which the library cannot convert from YCbCr: they come out as stored too.
    if (layout.YCbCr && cinfo.num_components == 3) {
        cinfo.jpeg_color_space = JCS_YCbCr;
        cinfo.out_color_space = JCS_RGB;
    } else {
        cinfo.jpeg_color_space = JCS_UNKNOWN;
        cinfo.out_color_space = JCS_UNKNOWN;
    }
    cinfo.raw_data_out = FALSE;
    if (!ProtectedStart(&cinfo, jump)) LibraryError(cinfo);

    const int64_t wanted = std::max<int32_t>(UnpackedSize, 0);
    if (stride == 0) CompressionError(gesJPEGStripSize);
    if (wanted % stride != 0) CompressionError(gesJPEGFractionalLine);
    const int64_t rows = wanted / stride;

    const size_t rowBytes = static_cast<size_t>(
        CheckAllocation(uint64_t(cinfo.output_width) * uint64_t(cinfo.output_components), 1));
    std::vector<JSAMPLE> line(std::max<size_t>(rowBytes, 1));
    const TDecodeTarget out = codec_io::Clip(Dest, wanted);
    for (int64_t r = 0; r < rows; ++r) {
        const uint64_t offset = uint64_t(r) * stride;
        if (offset >= out.size()) break;
        JDIMENSION lines = 0;
        if (!ProtectedReadScanline(&cinfo, jump, line.data(), &lines)) LibraryError(cinfo);
        if (lines == 0) break;
        if (cinfo.output_components == 3)
            for (size_t i = 0; i + 2 < rowBytes; i += 3) std::swap(line[i], line[i + 2]);
        const size_t n = std::min<uint64_t>({rowBytes, stride, out.size() - offset});
        std::memcpy(out.data() + offset, line.data(), n);
    }
    // Finishing checks that every line was read; a strip cut short is abandoned instead.
    const bool finished = cinfo.output_scanline >= cinfo.output_height
                              ? ProtectedFinish(&cinfo, jump)
                              : ProtectedAbort(&cinfo, jump);
    if (!finished) LibraryError(cinfo);
}
