#include "jpeg/jpeg_library.h"

#include <algorithm>

#include <jerror.h>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/warning_sink.h"

namespace jpegbinding {

namespace {

CallbackContext* ContextOf(j_common_ptr cinfo) { return static_cast<CallbackContext*>(cinfo->client_data); }

// ---- error manager --------------------------------------------------------------------------

void ErrorExit(j_common_ptr cinfo) { std::longjmp(ContextOf(cinfo)->jump, 1); }
// A damaged file decodes as far as it goes. A decoder's first warning of lost data (premature
// end, corrupt data) is passed on as damage, as libjpeg itself shows only the first; the ones
// that follow from it and trace messages are dropped. Nothing here changes the decoding.
void EmitMessage(j_common_ptr cinfo, int level) {
    CallbackContext* context = ContextOf(cinfo);
    if (level >= 0 || !cinfo->is_decompressor || context->warned) return;
    // These lose no picture data; many cameras write stray bytes before a marker.
    switch (cinfo->err->msg_code) {
        case JWRN_EXTRANEOUS_DATA:
        case JWRN_BOGUS_ICC:
        case JWRN_ADOBE_XFORM:
        case JWRN_JFIF_MAJOR: return;
        default: break;
    }
    context->warned = true;
    char text[JMSG_LENGTH_MAX] = {};
    if (context->libraryFormat) context->libraryFormat(cinfo, text);
    try {
        ShowWarning(text[0] ? std::string(text) : FormatMessage("JPEG warning #%d", cinfo->err->msg_code),
                    WarningKind::Damage);
    } catch (...) {
        // A warning that cannot be shown must not unwind into the library.
    }
}
void OutputMessage(j_common_ptr) {}
void FormatMessageNothing(j_common_ptr, char* buffer) { buffer[0] = '\0'; }
void ResetErrorManager(j_common_ptr cinfo) {
    cinfo->err->num_warnings = 0;
    cinfo->err->msg_code = 0;
}

void InstallErrorManager(CallbackContext& context) {
    jpeg_std_error(&context.errorManager);
    context.libraryFormat = context.errorManager.format_message;
    context.errorManager.error_exit = ErrorExit;
    context.errorManager.emit_message = EmitMessage;
    context.errorManager.output_message = OutputMessage;
    context.errorManager.format_message = FormatMessageNothing;
    context.errorManager.reset_error_mgr = ResetErrorManager;
}

// Leaves a callback whose C++ code failed: the exception is already parked in the context
// and is rethrown once we are back above the library. Call only after the catch block ended.
[[noreturn]] void AbortWithPending(j_common_ptr cinfo) { std::longjmp(ContextOf(cinfo)->jump, 1); }

// ---- progress monitor -----------------------------------------------------------------------

void ProgressMonitor(j_common_ptr cinfo) {
    CallbackContext* context = ContextOf(cinfo);
    if (cinfo->is_decompressor) {
        auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (dinfo->input_scan_number > kMaxJpegScans) {
            context->ownMessage = kTooManyJpegScansMessage;
            std::longjmp(context->jump, 1);
        }
    }
    if (!context->onProgress) return;
    const jpeg_progress_mgr* p = cinfo->progress;
    if (p->pass_limit <= 0 || p->total_passes <= 0) return;
    const int percent = static_cast<int>(
        ((static_cast<double>(p->pass_counter) / static_cast<double>(p->pass_limit)) + p->completed_passes) * 100.0 /
        p->total_passes);
    const auto now = std::chrono::steady_clock::now();
    // The first report goes out at once, later ones at most every 500 ms.
    if (percent == context->lastPercent ||
        (context->lastPercent >= 0 && now - context->lastReport < std::chrono::milliseconds(500)))
        return;
    context->lastPercent = percent;
    context->lastReport = now;
    bool failed = false;
    try {
        context->onProgress(std::clamp(percent, 0, 100));
    } catch (...) {
        context->pending = std::current_exception();
        failed = true;
    }
    if (failed) AbortWithPending(cinfo);
}

void InstallProgress(j_common_ptr cinfo, CallbackContext& context) {
    context.progressManager.progress_monitor = ProgressMonitor;
    context.lastReport = std::chrono::steady_clock::now();
    context.lastPercent = -1;
    cinfo->progress = &context.progressManager;
}

// ---- in-memory source -----------------------------------------------------------------------

const JOCTET kFakeEndOfImage[2] = {0xFF, JPEG_EOI};

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    CallbackContext* context = ContextOf(reinterpret_cast<j_common_ptr>(cinfo));
    if (context->sourceOffset < context->sourceSize) {
        const size_t n = std::min(kBlockSize, context->sourceSize - context->sourceOffset);
        context->source.next_input_byte = context->sourceData + context->sourceOffset;
        context->source.bytes_in_buffer = n;
        context->sourceOffset += n;
        return TRUE;
    }
    if (context->sourceSize == 0) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    // A file cut short: end it here and let the library fill in the rest of the picture.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    context->source.next_input_byte = kFakeEndOfImage;
    context->source.bytes_in_buffer = sizeof kFakeEndOfImage;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    CallbackContext* context = ContextOf(reinterpret_cast<j_common_ptr>(cinfo));
    jpeg_source_mgr& src = context->source;
    const size_t skip = static_cast<size_t>(count);
    if (skip <= src.bytes_in_buffer) {
        src.next_input_byte += skip;
        src.bytes_in_buffer -= skip;
        return;
    }
    // Skip past the buffered block in the data itself; the library refills on its next read.
    const size_t beyond = skip - src.bytes_in_buffer;
    src.bytes_in_buffer = 0;
    context->sourceOffset += std::min(beyond, context->sourceSize - context->sourceOffset);
}

void TermSource(j_decompress_ptr) {}

// ---- in-memory destination ------------------------------------------------------------------

void InitDestination(j_compress_ptr cinfo) {
    CallbackContext* context = ContextOf(reinterpret_cast<j_common_ptr>(cinfo));
    context->destination.next_output_byte = context->block;
    context->destination.free_in_buffer = kBlockSize;
}

// Appends the used part of the block to the output; false when that failed (error parked).
bool FlushBlock(CallbackContext* context, size_t used) {
    try {
        context->output->insert(context->output->end(), context->block, context->block + used);
    } catch (...) {
        context->pending = std::current_exception();
        return false;
    }
    context->destination.next_output_byte = context->block;
    context->destination.free_in_buffer = kBlockSize;
    return true;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    CallbackContext* context = ContextOf(reinterpret_cast<j_common_ptr>(cinfo));
    // The library calls this with the whole block full, whatever free_in_buffer says.
    if (!FlushBlock(context, kBlockSize)) AbortWithPending(reinterpret_cast<j_common_ptr>(cinfo));
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    CallbackContext* context = ContextOf(reinterpret_cast<j_common_ptr>(cinfo));
    if (!FlushBlock(context, kBlockSize - context->destination.free_in_buffer))
        AbortWithPending(reinterpret_cast<j_common_ptr>(cinfo));
}

// ---- the calls that may longjmp -------------------------------------------------------------
// Each one holds the setjmp for exactly one library call (or one simple loop of them) and
// returns false when the library failed. Nothing here may own a resource.

bool TryCreateDecompress(j_decompress_ptr cinfo, CallbackContext* context) {
    if (setjmp(context->jump)) return false;
    jpeg_create_decompress(cinfo);
    return true;
}

bool TryReadHeader(j_decompress_ptr cinfo, CallbackContext* context) {
    if (setjmp(context->jump)) return false;
    jpeg_read_header(cinfo, TRUE);
    return true;
}

bool TryCalcOutputDimensions(j_decompress_ptr cinfo, CallbackContext* context) {
    if (setjmp(context->jump)) return false;
    jpeg_calc_output_dimensions(cinfo);
    return true;
}

bool TryStartDecompress(j_decompress_ptr cinfo, CallbackContext* context) {
    if (setjmp(context->jump)) return false;
    jpeg_start_decompress(cinfo);
    return true;
}

bool TryReadRows(j_decompress_ptr cinfo, CallbackContext* context, uint8_t* firstRow, size_t stride, int count) {
    if (setjmp(context->jump)) return false;
    for (int y = 0; y < count; ++y) {
        JSAMPROW row = firstRow + static_cast<size_t>(y) * stride;
        // The library returns 0 rows only when suspended, which an in-memory source never does.
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) ERREXIT(cinfo, JERR_CANT_SUSPEND);
    }
    return true;
}

bool TryFinishDecompress(j_decompress_ptr cinfo, CallbackContext* context) {
    if (setjmp(context->jump)) return false;
    jpeg_finish_decompress(cinfo);
    return true;
}

bool TryCreateCompress(j_compress_ptr cinfo, CallbackContext* context) {
    if (setjmp(context->jump)) return false;
    jpeg_create_compress(cinfo);
    return true;
}

bool TrySetDefaults(j_compress_ptr cinfo, CallbackContext* context) {
    if (setjmp(context->jump)) return false;
    jpeg_set_defaults(cinfo);
    return true;
}

bool TrySetQuality(j_compress_ptr cinfo, CallbackContext* context, int quality) {
    if (setjmp(context->jump)) return false;
    jpeg_set_quality(cinfo, quality, TRUE);
    return true;
}

bool TrySetGrayscale(j_compress_ptr cinfo, CallbackContext* context) {
    if (setjmp(context->jump)) return false;
    jpeg_set_colorspace(cinfo, JCS_GRAYSCALE);
    return true;
}

bool TrySetProgressive(j_compress_ptr cinfo, CallbackContext* context) {
    if (setjmp(context->jump)) return false;
    jpeg_simple_progression(cinfo);
    return true;
}

bool TryStartCompress(j_compress_ptr cinfo, CallbackContext* context) {
    if (setjmp(context->jump)) return false;
    jpeg_start_compress(cinfo, TRUE);
    return true;
}

bool TryWriteRows(j_compress_ptr cinfo, CallbackContext* context, const uint8_t* firstRow, size_t stride, int count) {
    if (setjmp(context->jump)) return false;
    for (int y = 0; y < count; ++y) {
        // libjpeg's row type is not const, but it only reads input rows.
        JSAMPROW row = const_cast<uint8_t*>(firstRow + static_cast<size_t>(y) * stride);
        if (jpeg_write_scanlines(cinfo, &row, 1) != 1) ERREXIT(cinfo, JERR_CANT_SUSPEND);
    }
    return true;
}

bool TryFinishCompress(j_compress_ptr cinfo, CallbackContext* context) {
    if (setjmp(context->jump)) return false;
    jpeg_finish_compress(cinfo);
    return true;
}

// Raises what the failed call left behind: a parked C++ exception, our own message, or the
// library's message code.
[[noreturn]] void RaiseFailure(j_common_ptr cinfo, CallbackContext& context) {
    if (context.pending) {
        std::exception_ptr error = context.pending;
        context.pending = nullptr;
        std::rethrow_exception(error);
    }
    if (context.ownMessage) throw EJPEG(context.ownMessage);
    throw EJPEG(JpegErrorText(cinfo->err->msg_code));
}

}  // namespace

std::string JpegErrorText(int messageCode) { return FormatMessage("JPEG error #%d", messageCode); }

// ---- Decompressor ---------------------------------------------------------------------------

Decompressor::Decompressor(std::span<const uint8_t> bytes) {
    InstallErrorManager(context_);
    info_.err = &context_.errorManager;
    info_.client_data = &context_;
    if (!TryCreateDecompress(&info_, &context_)) {
        const int code = context_.errorManager.msg_code;
        jpeg_destroy_decompress(&info_);
        throw EJPEG(JpegErrorText(code));
    }
    // The library's own buffers (progressive coefficients, two-pass quantizer) stay within the
    // per-allocation limit; beyond it the library fails instead of allocating.
    info_.mem->max_memory_to_use = static_cast<long>(CurrentPictureLimits().maxAllocation);

    context_.sourceData = bytes.data();
    context_.sourceSize = bytes.size();
    context_.sourceOffset = 0;
    context_.source.init_source = InitSource;
    context_.source.fill_input_buffer = FillInputBuffer;
    context_.source.skip_input_data = SkipInputData;
    context_.source.resync_to_restart = jpeg_resync_to_restart;
    context_.source.term_source = TermSource;
    context_.source.next_input_byte = nullptr;
    context_.source.bytes_in_buffer = 0;
    info_.src = &context_.source;
}

Decompressor::~Decompressor() { jpeg_destroy_decompress(&info_); }

void Decompressor::SetProgressHandler(std::function<void(int)> handler) {
    context_.onProgress = std::move(handler);
    InstallProgress(reinterpret_cast<j_common_ptr>(&info_), context_);
}

void Decompressor::Fail() { RaiseFailure(reinterpret_cast<j_common_ptr>(&info_), context_); }

void Decompressor::ReadHeader() {
    if (!TryReadHeader(&info_, &context_)) Fail();
}

void Decompressor::CalcOutputDimensions() {
    if (!TryCalcOutputDimensions(&info_, &context_)) Fail();
}

void Decompressor::Start() {
    if (!TryStartDecompress(&info_, &context_)) Fail();
}

void Decompressor::ReadRows(uint8_t* firstRow, size_t stride, int count) {
    if (!TryReadRows(&info_, &context_, firstRow, stride, count)) Fail();
}

void Decompressor::Finish() {
    if (!TryFinishDecompress(&info_, &context_)) Fail();
}

// ---- Compressor -----------------------------------------------------------------------------

Compressor::Compressor(ByteBuffer& output) {
    InstallErrorManager(context_);
    info_.err = &context_.errorManager;
    info_.client_data = &context_;
    if (!TryCreateCompress(&info_, &context_)) {
        const int code = context_.errorManager.msg_code;
        jpeg_destroy_compress(&info_);
        throw EJPEG(JpegErrorText(code));
    }
    context_.output = &output;
    context_.destination.init_destination = InitDestination;
    context_.destination.empty_output_buffer = EmptyOutputBuffer;
    context_.destination.term_destination = TermDestination;
    info_.dest = &context_.destination;
}

Compressor::~Compressor() { jpeg_destroy_compress(&info_); }

void Compressor::SetProgressHandler(std::function<void(int)> handler) {
    context_.onProgress = std::move(handler);
    InstallProgress(reinterpret_cast<j_common_ptr>(&info_), context_);
}

void Compressor::Fail() { RaiseFailure(reinterpret_cast<j_common_ptr>(&info_), context_); }

void Compressor::SetDefaults() {
    if (!TrySetDefaults(&info_, &context_)) Fail();
}

void Compressor::SetQuality(int quality) {
    if (!TrySetQuality(&info_, &context_, quality)) Fail();
}

void Compressor::SetGrayscale() {
    if (!TrySetGrayscale(&info_, &context_)) Fail();
}

void Compressor::SetProgressive() {
    if (!TrySetProgressive(&info_, &context_)) Fail();
}

void Compressor::Start() {
    if (!TryStartCompress(&info_, &context_)) Fail();
}

void Compressor::WriteRows(const uint8_t* firstRow, size_t stride, int count) {
    if (!TryWriteRows(&info_, &context_, firstRow, stride, count)) Fail();
}

void Compressor::Finish() {
    if (!TryFinishCompress(&info_, &context_)) Fail();
}

}  // namespace jpegbinding
