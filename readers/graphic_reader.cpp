#include "readers/graphic_reader.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <memory>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"

// Abstract: the picture table can name it (RemovePictureClass of every reader) but not create it.
const GraphicClassInfo TGraphicReader::ClassInfo = {"TGraphicReader", &TBitmap::ClassInfo, nullptr};

TGraphicReader::TGraphicReader() = default;
TGraphicReader::~TGraphicReader() = default;

bool TGraphicReader::ProbeStream(TStream&) { return false; }

bool TGraphicReader::ProbeFile(const std::string& path) { return ProbeFileWith(path, &TGraphicReader::ProbeStream); }

bool TGraphicReader::ProbeFileWith(const std::string& path, bool (*probe)(TStream&)) {
    TFileStream stream(path, TFileStream::Mode::OpenRead);
    try {
        return probe(stream);
    } catch (const EReadError&) {
        return false;
    }
}

bool TGraphicReader::ReadProperties(TStream&, unsigned) {
    Properties = TImageProperties{};
    Properties.Gamma = 1.0f;
    return false;
}

void TGraphicReader::AssignBitmap(TBitmap& source) {
    if (auto* reader = dynamic_cast<TGraphicReader*>(&source); reader && reader != this) Properties = reader->Properties;
    TProgressEvent listener = OnProgress;
    TBitmap::AssignBitmap(source);
    OnProgress = std::move(listener);
}

void TGraphicReader::ReportProgress(TProgressStage stage, uint8_t percentDone, bool, const TRect& rect,
                                    const std::string& message) {
    Progress(stage, percentDone > 100 ? 100 : percentDone, rect, message);
}

uint8_t TGraphicReader::RowPercent(uint64_t done, uint64_t total, bool rounded) {
    if (total == 0 || done >= total) return 100;
    // done < total, so done * 100 stays far below 2^64 for any real row count.
    const uint64_t scaled = done * 100;
    return static_cast<uint8_t>(rounded ? (scaled + total / 2) / total : scaled / total);
}

TGraphicReader::TLoadScope::TLoadScope(TGraphicReader& reader, TStream& stream, bool endProgressOnFailure)
    : reader_(reader), endProgressOnFailure_(endProgressOnFailure), exceptionsAtStart_(std::uncaught_exceptions()) {
    reader_.ReleaseBitmap();
    reader_.ReleaseSourceData();
    reader_.progressOpen_ = false;
    reader_.lastPercent_ = 0;
    reader_.BasePosition = stream.Position();
    reader_.SourceStream = &stream;
}

TGraphicReader::TLoadScope::~TLoadScope() {
    const bool failing = std::uncaught_exceptions() > exceptionsAtStart_;
    if (failing && endProgressOnFailure_ && reader_.progressOpen_) {
        try {
            reader_.EndProgress(reader_.lastPercent_);
        } catch (...) {
            // A listener that throws while we unwind must not end the program.
        }
    }
    reader_.progressOpen_ = false;
    reader_.SourceStream = nullptr;
    reader_.ReleaseSourceData();
}

void TGraphicReader::ReleaseBitmap() {
    Clear();
    SetPalette({});
}

void TGraphicReader::ReadPropertiesOrFail(TStream& stream, const char* formatLabel) {
    if (!ReadProperties(stream, 0)) RaiseReaderErrorFmt(gesInvalidImage, formatLabel);
}

void TGraphicReader::RaiseUnsupportedCompression(const char* formatLabel) {
    RaiseReaderErrorFmt(gesUnsupportedFeature, gesCompressionScheme, formatLabel);
}

void TGraphicReader::SetBitmapFormatAndSize(TPixelFormat format, uint64_t width, uint64_t height,
                                            const char* formatLabel) {
    if (format == TPixelFormat::pfCustom) RaiseReaderErrorFmt(gesInvalidColorFormat, formatLabel);
    // Both sides fit in 63 bits here; sizes beyond 32 bits fail inside the check.
    const auto w = static_cast<int64_t>(std::min<uint64_t>(width, uint64_t(1) << 40));
    const auto h = static_cast<int64_t>(std::min<uint64_t>(height, uint64_t(1) << 40));
    CheckPictureSize(w, h, ::BitsPerPixel(format), 4);
    // A zero side lets the other pass the pixel limit; it must still fit the bitmap's int.
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF) RaiseReaderErrorFmt(gesInvalidImage, formatLabel);
    SetPixelFormat(format);
    SetSize(static_cast<int>(width), static_cast<int>(height));
}

ByteReader TGraphicReader::LoadSourceData() {
    if (!SourceStream) throw EInvalidGraphicOperation("No stream to read the picture from");
    TStream& stream = *SourceStream;
    const uint64_t size = stream.Size();
    const uint64_t available = size > BasePosition ? size - BasePosition : 0;
    CheckAllocation(available, 1);
    sourceData_.clear();
    sourceData_.resize(static_cast<size_t>(available));  // not zero-filled: every byte is read into
    stream.SetPosition(BasePosition);
    stream.ReadBuffer(sourceData_.data(), sourceData_.size());
    return ByteReader(std::span<const uint8_t>(sourceData_));
}

void TGraphicReader::ReleaseSourceData() {
    sourceData_.clear();
    sourceData_.shrink_to_fit();
}

void TGraphicReader::StartProgress(const std::string& stageText) {
    progressOpen_ = true;
    lastPercent_ = 0;
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressRect, stageText);
}

void TGraphicReader::RowProgress(uint8_t percentDone) {
    lastPercent_ = percentDone;
    ReportProgress(TProgressStage::psRunning, percentDone, false, ProgressRect, {});
    ProgressRect.Top += 1;
    ProgressRect.Bottom += 1;
}

void TGraphicReader::EndProgress(uint8_t percentDone) {
    progressOpen_ = false;
    ReportProgress(TProgressStage::psEnding, percentDone, false, ProgressRect, {});
}

bool ProbeStreamAs(TGraphicClass graphicClass, TStream& stream) {
    if (!graphicClass || !graphicClass->create || !graphicClass->InheritsFrom(&TGraphicReader::ClassInfo))
        return false;
    const std::unique_ptr<TGraphic> instance = graphicClass->create();
    const auto* reader = dynamic_cast<const TGraphicReader*>(instance.get());
    if (!reader) return false;
    const uint64_t start = stream.Position();
    bool result = false;
    try {
        result = reader->ProbeStreamOfClass(stream);
    } catch (const EReadError&) {
        result = false;
    }
    stream.SetPosition(start);
    return result;
}

bool ProbeFileAs(TGraphicClass graphicClass, const std::string& path) {
    TFileStream stream(path, TFileStream::Mode::OpenRead);
    return ProbeStreamAs(graphicClass, stream);
}

// ---- shared helpers ---------------------------------------------------------------------

void RaiseReaderError(const std::string& message) { throw EInvalidGraphic(message); }

std::vector<uint8_t> PeekRest(TStream& stream) {
    const uint64_t start = stream.Position();
    std::vector<uint8_t> rest = stream.ReadRest();
    stream.SetPosition(start);
    return rest;
}

void RaiseReaderErrorFmt(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    std::string text;
    if (length >= 0 && static_cast<size_t>(length) < sizeof small) {
        text.assign(small, static_cast<size_t>(length));
    } else if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(args);
    throw EInvalidGraphic(text);
}

uint16_t SwapWord(uint16_t value) { return static_cast<uint16_t>((value << 8) | (value >> 8)); }

uint32_t SwapLong(uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0x0000FF00u) | ((value << 8) & 0x00FF0000u) | (value << 24);
}

void SwapWords(std::span<uint16_t> values) {
    for (uint16_t& v : values) v = SwapWord(v);
}

void SwapLongs(std::span<uint32_t> values) {
    for (uint32_t& v : values) v = SwapLong(v);
}

void SwapWordBytes(std::span<uint8_t> bytes) {
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
}

namespace {

void UndoDifferencing(std::span<uint8_t> row, size_t count, size_t samples) {
    if (count == 0) return;
    size_t additions;
    if (__builtin_mul_overflow(count, samples, &additions) || additions > row.size() ||
        row.size() - additions < samples)
        throw ERangeError();
    for (size_t k = 0; k < additions; ++k) row[k + samples] = static_cast<uint8_t>(row[k + samples] + row[k]);
}

size_t Checked(size_t a, size_t b) {
    size_t r;
    if (__builtin_mul_overflow(a, b, &r)) throw ERangeError();
    return r;
}

}  // namespace

void UndoDifferencing1(std::span<uint8_t> row, size_t count) { UndoDifferencing(row, count, 1); }
void UndoDifferencing3(std::span<uint8_t> row, size_t count) { UndoDifferencing(row, count, 3); }
void UndoDifferencing4(std::span<uint8_t> row, size_t count) { UndoDifferencing(row, count, 4); }

void UpsamplePlane(size_t width, size_t height, size_t rowStride, std::span<uint8_t> plane) {
    if (width == 0 || height == 0) return;
    const size_t outWidth = Checked(width, 2);
    const size_t outHeight = Checked(height, 2);
    if (rowStride < outWidth) throw ERangeError();
    const size_t needed = Checked(outHeight - 1, rowStride) + outWidth;
    if (needed < outWidth || plane.size() < needed) throw ERangeError();

    // Work from a copy of the source samples: the result is the same as spreading the rows
    // bottom-up in place, without having to reason about overlapping rows.
    std::vector<uint8_t> source(Checked(width, height));
    for (size_t r = 0; r < height; ++r)
        std::copy_n(plane.begin() + static_cast<ptrdiff_t>(r * rowStride), width,
                    source.begin() + static_cast<ptrdiff_t>(r * width));
    auto s = [&](size_t r, size_t c) -> unsigned { return source[r * width + c]; };

    for (size_t r = height; r-- > 0;) {
        uint8_t* even = plane.data() + 2 * r * rowStride;
        for (size_t c = 0; c < width; ++c) {
            even[2 * c] = static_cast<uint8_t>(s(r, c));
            even[2 * c + 1] = static_cast<uint8_t>(c + 1 < width ? (s(r, c) + s(r, c + 1) + 1) / 2 : s(r, c));
        }
    }
    for (size_t r = 0; r + 1 < height; ++r) {
        uint8_t* odd = plane.data() + (2 * r + 1) * rowStride;
        for (size_t c = 0; c < width; ++c) {
            const unsigned vertical = (s(r, c) + s(r + 1, c) + 1) / 2;
            odd[2 * c] = static_cast<uint8_t>(vertical);
            odd[2 * c + 1] = static_cast<uint8_t>(
                c + 1 < width ? (s(r, c) + s(r, c + 1) + s(r + 1, c) + s(r + 1, c + 1) + 2) / 4 : vertical);
        }
    }
    uint8_t* last = plane.data() + (outHeight - 1) * rowStride;
    std::copy_n(last - rowStride, outWidth, last);
}
