#include "app/core/pipeline.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <span>
#include <system_error>

#include "app/core/jpeg_size_limit.h"
#include "app/core/lookahead_loader.h"
#include "app/core/progress_text.h"
#include "app/core/thumbnail.h"
#include "app/core/working_bitmap.h"
#include "graphics/errors.h"
#include "graphics/integer_field.h"
#include "graphics/picture.h"
#include "graphics/picture_to_bitmap.h"
#include "graphics/pixel_store.h"
#include "graphics/stream.h"
#include "graphics/warning_sink.h"
#include "imageops/resample.h"
#include "imageops/rotate.h"
#include "imageops/rows_ready.h"
#include "icc/colour_profile.h"
#include "gif/gif_image.h"
#include "jpeg/jpeg_encoder.h"
#include "jpeg/jpeg_image.h"
#include "readers/ole_graphic.h"
#include "readers/png_writer.h"

namespace {

// A stream over a file descriptor we created ourselves (exclusively), so that the file the
// Out tray lists is exactly the file we write.
class DescriptorStream final : public TStream {
public:
    explicit DescriptorStream(int fd) : fd_(fd) {}
    ~DescriptorStream() override { Close(); }
    DescriptorStream(const DescriptorStream&) = delete;
    DescriptorStream& operator=(const DescriptorStream&) = delete;

    size_t Read(void* buffer, size_t count) override {
        size_t done = 0;
        auto* out = static_cast<char*>(buffer);
        while (fd_ >= 0 && done < count) {
            const ssize_t got = ::pread(fd_, out + done, count - done, static_cast<off_t>(position_ + done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<size_t>(got);
        }
        position_ += done;
        return done;
    }
    size_t Write(const void* buffer, size_t count) override {
        size_t done = 0;
        const auto* in = static_cast<const char*>(buffer);
        while (fd_ >= 0 && done < count) {
            const ssize_t put = ::pwrite(fd_, in + done, count - done, static_cast<off_t>(position_ + done));
            if (put < 0 && errno == EINTR) continue;
            if (put < 0) error_ = errno;
            if (put <= 0) break;
            done += static_cast<size_t>(put);
        }
        position_ += done;
        return done;
    }
    uint64_t Position() const override { return position_; }
    void SetPosition(uint64_t position) override { position_ = position; }
    uint64_t Size() const override {
        struct stat st {};
        return fd_ >= 0 && ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }
    int Descriptor() const { return fd_; }
    // The system's reason for the last failed write or close, 0 when it gave none.
    int Error() const { return error_; }
    // Closing can report a late write failure (full disk on some file systems).
    bool Close() {
        if (fd_ < 0) return true;
        const int rc = ::close(fd_);
        if (rc != 0) error_ = errno;
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_;
    int error_ = 0;
    uint64_t position_ = 0;
};

// A result that could not be written in full names the file and the disk's reason (a full
// disk, a quota), not only that a stream failed.
EWriteError WriteFailure(const std::string& path, int error) {
    return EWriteError(FormatMessage("Cannot write file \"%s\". %s", path.c_str(),
                                     error != 0 ? std::strerror(error) : kStreamWriteError));
}

// Removes a file we created, but only while the name still refers to it: a file another
// program put under the name meanwhile is not ours to delete.
void RemoveIfStill(const std::string& path, uint64_t device, uint64_t inode) noexcept {
    struct stat named {};
    if (::lstat(path.c_str(), &named) == 0 && static_cast<uint64_t>(named.st_dev) == device &&
        static_cast<uint64_t>(named.st_ino) == inode)
        ::unlink(path.c_str());
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string Candidate(const std::string& stem, const std::string& extension, int n) {
    return n == 0 ? stem + extension : stem + "-" + std::to_string(n) + extension;
}

[[noreturn]] void NotAnInteger(const std::string& text) {
    throw EConvertError(FormatMessage("'%s' is not a valid integer value", text.c_str()));
}

// One "Special" field: the number typed, and what it means in pixels (the number itself, or
// a percentage of the base size).
struct SpecialField {
    int typed;
    int pixels;
};

SpecialField SpecialDimension(const std::string& text, const std::string& units, int base) {
    // A field left empty is 0: that side follows the other one.
    const std::optional<int> value =
        text.find_first_not_of(" \t\r\n\v\f") == std::string::npos ? std::optional<int>(0) : ParseIntegerField(text);
    if (!value) NotAnInteger(text);
    if (units == kUnitPixels) return {*value, *value};
    int32_t product = 0;
    if (__builtin_mul_overflow(int32_t(*value), int32_t(base), &product)) throw EIntOverflow();
    return {*value, static_cast<int>(static_cast<long double>(product) / 100.0L)};
}

int TruncToInt(long double value) {
    if (!(value > static_cast<long double>(INT_MIN) - 1 && value < static_cast<long double>(INT_MAX) + 1))
        throw EIntOverflow();
    return static_cast<int>(value);
}

}  // namespace

bool SpecialFieldsValid(const ScaleChoice& choice) {
    auto fieldValue = [](const std::string& text) -> std::optional<int> {
        size_t begin = 0;
        while (begin < text.size() && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
        if (begin == text.size()) return 0;  // empty after trimming: follows the other side
        return ParseIntegerField(text);
    };
    std::optional<int> w = fieldValue(choice.WidthText);
    std::optional<int> h = fieldValue(choice.HeightText);
    if (!w || !h) return false;
    if (*w < 0 || *h < 0) return false;
    return !(*w == 0 && *h == 0);
}

std::string BatchRefusal(const TSettingsRecord& settings, const ScaleChoice& choice) {
    if (choice.Scale == ScaleMode::Special && !SpecialFieldsValid(choice)) return kSpecialSizeMessage;
    if (settings.OutputType < 0 || settings.OutputType >= static_cast<int>(OutputTypeTable.size()) ||
        settings.Resampler < 0 || settings.Resampler >= static_cast<int>(FilterTable.size()))
        return ERangeError().what();
    const std::string extension = OutputTypeTable[static_cast<size_t>(settings.OutputType)].extension;
    if ((extension == ".jpg" || extension == ".*") && (settings.JPEGQuality < 1 || settings.JPEGQuality > 100))
        return "The JPEG quality must be a whole number from 1 to 100.";
    return {};
}

TargetSize ComputeTargetSize(int baseWidth, int baseHeight, const ScaleChoice& choice, bool preserveAspectRatio) {
    const int a = baseWidth, b = baseHeight;
    switch (choice.Scale) {
        case ScaleMode::FullSize: return {a, b};
        case ScaleMode::HalfSize: return {TruncToInt(a / 2.0L), TruncToInt(b / 2.0L)};
        case ScaleMode::QuarterSize: return {TruncToInt(a / 4.0L), TruncToInt(b / 4.0L)};
        case ScaleMode::Special: break;
    }
    const SpecialField width = SpecialDimension(choice.WidthText, choice.WidthUnits, a);
    const SpecialField height = SpecialDimension(choice.HeightText, choice.HeightUnits, b);
    int w = width.pixels, h = height.pixels;
    if (a <= 0 || b <= 0) return {w, h};
    // The ratios are doubles (so 1000 x 750 gives the double just below 4/3); the products
    // and quotients long double, truncated toward zero.
    const double own = double(a) / double(b);
    // Only a field the user left at 0 follows the other one; a small percentage that comes
    // out as 0 pixels stays 0 and is refused, rather than turning into the other side's size.
    if (width.typed == 0 && h > 0) return {TruncToInt(static_cast<long double>(h) * own), h};
    if (height.typed == 0 && w > 0) return {w, TruncToInt(static_cast<long double>(w) / own)};
    if (preserveAspectRatio && w > 0 && h > 0) {
        const double asked = double(w) / double(h);
        if (asked >= own)
            w = TruncToInt(static_cast<long double>(h) * own);
        else
            h = TruncToInt(static_cast<long double>(w) / own);
    }
    return {w, h};
}

std::string ResultExtension(int outputType, const std::string& sourcePath) {
    if (outputType < 0 || outputType >= static_cast<int>(OutputTypeTable.size())) throw ERangeError();
    const std::string extension = OutputTypeTable[static_cast<size_t>(outputType)].extension;
    if (extension != ".*") return extension;
    const std::string own = FileExtensionWithDot(sourcePath);
    if (own.size() > 1) return own;
    // A file that lost its extension was loaded as the type its first bytes show; its copy
    // is that type too, named so that mail programs and uploaders know it.
    const std::string type = RecognisePictureFile(sourcePath);
    return type.empty() ? own : "." + type;
}

std::string ResultStem(const TSettingsRecord& settings, const std::string& sourcePath) {
    return WithTrailingSeparator(settings.WorkDir) + settings.Prefix + FileNameWithoutExtension(sourcePath) +
           settings.Suffix;
}

std::optional<std::string> FreeResultName(const std::string& stem, const std::string& extension) {
    for (int n = 0; n <= kMaxNameSuffix; ++n) {
        std::string name = Candidate(stem, extension, n);
        if (!FileExists(name)) return name;
    }
    return std::nullopt;
}

bool IsWritableExtension(const std::string& extension) {
    const std::string lower = LowerCase(extension);
    return lower == ".jpg" || lower == ".gif" || lower == ".bmp" || lower == ".png";
}

std::optional<ReservedResult> ReservedResult::Create(const std::string& stem, const std::string& extension) {
    for (int n = 0; n <= kMaxNameSuffix; ++n) {
        const std::string name = Candidate(stem, extension, n);
        // Exclusive creation: a file that exists (or appears right now, from another batch)
        // is never replaced; we go on to the next name.
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            throw EFCreateError(FormatMessage("Cannot create file \"%s\". %s", name.c_str(), std::strerror(errno)));
        }
        ReservedResult reserved;
        reserved.path_ = name;
        reserved.stream_ = std::make_unique<DescriptorStream>(fd);
        struct stat st {};
        if (::fstat(fd, &st) == 0) {
            reserved.device_ = static_cast<uint64_t>(st.st_dev);
            reserved.inode_ = static_cast<uint64_t>(st.st_ino);
        }
        return reserved;
    }
    return std::nullopt;
}

ReservedResult::ReservedResult(ReservedResult&& other) noexcept
    : path_(std::move(other.path_)),
      stream_(std::move(other.stream_)),
      device_(other.device_),
      inode_(other.inode_),
      committed_(other.committed_) {}

ReservedResult& ReservedResult::operator=(ReservedResult&& other) noexcept {
    if (this != &other) {
        Discard();
        path_ = std::move(other.path_);
        stream_ = std::move(other.stream_);
        device_ = other.device_;
        inode_ = other.inode_;
        committed_ = other.committed_;
    }
    return *this;
}

ReservedResult::~ReservedResult() { Discard(); }

void ReservedResult::Discard() noexcept {
    if (!stream_ || committed_) return;
    static_cast<DescriptorStream*>(stream_.get())->Close();
    stream_.reset();
    RemoveIfStill(path_, device_, inode_);  // the partial file
}

TStream& ReservedResult::Stream() { return *stream_; }

FileIdentity ReservedResult::Commit() {
    auto* stream = static_cast<DescriptorStream*>(stream_.get());
    FileIdentity id;
    struct stat st {};
    if (::fstat(stream->Descriptor(), &st) == 0) {
        id.Device = static_cast<uint64_t>(st.st_dev);
        id.Inode = static_cast<uint64_t>(st.st_ino);
        id.Size = static_cast<int64_t>(st.st_size);
        id.ModifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    }
    // A late write failure (reported only at close on some file systems) still removes the file.
    if (!stream->Close()) throw WriteFailure();
    committed_ = true;
    return id;
}

EWriteError ReservedResult::WriteFailure() const {
    const auto* stream = static_cast<const DescriptorStream*>(stream_.get());
    return ::WriteFailure(path_, stream ? stream->Error() : 0);
}

bool SaveResult(TBitmap& bitmap, TStream& stream, const std::string& extension, int quality) {
    const std::string lower = LowerCase(extension);
    if (lower == ".jpg") {
        const ByteBuffer bytes = EncodeJpeg(bitmap, {quality, false, false});
        stream.WriteBuffer(bytes.data(), bytes.size());
        return true;
    }
    if (lower == ".gif") {
        TGIFImage gif;  // reduces the bitmap to at most 256 colours
        gif.AssignBitmap(bitmap);
        gif.WritePicture(stream);
        return true;
    }
    if (lower == ".bmp") {
        bitmap.WritePicture(stream);
        return true;
    }
    if (lower == ".png") {
        WritePngPicture(bitmap, stream);
        return true;
    }
    return false;
}

bool SaveResult(TBitmap& bitmap, const std::string& path, const std::string& extension, int quality) {
    if (!IsWritableExtension(extension)) return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) throw EFCreateError(FormatMessage("Cannot create file \"%s\". %s", path.c_str(), std::strerror(errno)));
    DescriptorStream stream(fd);
    struct stat created {};
    ::fstat(fd, &created);
    try {
        try {
            SaveResult(bitmap, stream, extension, quality);
            if (!stream.Close()) throw EWriteError(kStreamWriteError);
        } catch (const EWriteError&) {
            throw WriteFailure(path, stream.Error());
        }
    } catch (...) {
        stream.Close();
        RemoveIfStill(path, static_cast<uint64_t>(created.st_dev), static_cast<uint64_t>(created.st_ino));
        throw;
    }
    return true;
}

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

namespace {

enum class FileResult { Converted, NameConflict, UnwritableType };

// How far one file got, so that a failure can be tidied up and classified.
struct FileTrack {
    bool inAdded = false;     // its In entry exists
    bool writing = false;     // a failure now is a failure to write the result
    std::string outPath;      // the Out entry added for it, "" when none
    std::string resultPath;   // the name an unwritable output type would have had
};

std::string ExceptionMessage(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return "Out of memory";
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

// While alive, the damage warnings of the calling thread's loads are collected into damage
// (each text once) instead of shown; other warnings go on as before.
class DamageCollector {
public:
    explicit DamageCollector(std::vector<std::string>* damage) : active_(damage != nullptr) {
        if (!active_) return;
        previous_ = SetThreadWarningSink([damage, this](const std::string& message, WarningKind kind) {
            if (kind != WarningKind::Damage) {
                if (previous_)
                    previous_(message, kind);
                else
                    ShowProcessWarning(message);
            } else if (std::find(damage->begin(), damage->end(), message) == damage->end()) {
                damage->push_back(message);
            }
        });
    }
    ~DamageCollector() {
        if (active_) SetThreadWarningSink(std::move(previous_));
    }
    DamageCollector(const DamageCollector&) = delete;
    DamageCollector& operator=(const DamageCollector&) = delete;

private:
    bool active_;
    ThreadWarningSink previous_;
};

// The thumbnail of the upright picture, made from the stored one: fitted into the cell turned
// as stored, then turned upright with it, so that no upright copy of the whole picture is made.
TBitmap UprightThumbnail(const TBitmap& stored, int orientation, ThumbnailCell cell) {
    if (orientation == 1) return MakeThumbnail(stored, cell);
    TBitmap thumbnail = OrientationSwapsSides(orientation) ? MakeThumbnail(stored, cell.Height, cell.Width)
                                                           : MakeThumbnail(stored, cell);
    std::unique_ptr<TBitmap> upright = OrientUpright(orientation, thumbnail);
    return upright ? std::move(*upright) : std::move(thumbnail);
}

// The size of the result before any turn (the picture's own size when it is kept as it is);
// w x h is the upright working bitmap's size.
struct ResampleSize {
    int width;
    int height;
};
ResampleSize TargetBeforeTurn(PipelineHost& host, const std::string& path, int w, int h) {
    const ScaleChoice choice = host.CurrentScaleChoice();
    const bool quarterTurn = choice.RotationIndex == 1 || choice.RotationIndex == 3;
    // The size the user asks for describes the picture after its rotation.
    const TargetSize size = quarterTurn ? ComputeTargetSize(h, w, choice, host.Settings().PreserveAspectRatio)
                                        : ComputeTargetSize(w, h, choice, host.Settings().PreserveAspectRatio);
    const int targetW = quarterTurn ? size.Height : size.Width;
    const int targetH = quarterTurn ? size.Width : size.Height;
    if (targetW <= 0 || targetH <= 0)
        throw EInvalidGraphicOperation(
            FormatMessage("The result of \"%s\" would be %d x %d pixels: choose a larger size", path.c_str(),
                          size.Width, size.Height));
    return {targetW, targetH};
}

const FilterEntry& ChosenFilter(PipelineHost& host) {
    const int resampler = host.Settings().Resampler;
    if (resampler < 0 || resampler >= static_cast<int>(FilterTable.size())) throw ERangeError();
    return FilterTable[static_cast<size_t>(resampler)];
}

// The resampler writes every pixel of its target, so the target is not whitened first: that
// would touch each of its pages on the critical path, before the first row is resampled.
std::unique_ptr<TBitmap> ResampleTarget(int width, int height) {
    auto target = std::make_unique<TBitmap>();
    target->SetPixelFormat(TPixelFormat::pf24bit);
    target->SetSizeForOverwrite(width, height);
    return target;
}

std::atomic<int64_t> followedDecodings{0};
std::atomic<int64_t> streamedEncodings{0};

// A result file encoded while its rows were made, and the quality it was encoded at.
struct StreamedJpeg {
    ByteBuffer bytes;
    int quality = 0;
};

// A load whose decoding the resampler followed: the stored working bitmap (none when the host
// shows no thumbnails: the rows went through a ring), its size and pending orientation, the
// resampled picture (as stored, not turned upright yet), the resampler's own failure (if any)
// to be raised where the resampling comes in turn, and for a result that is the resampled
// picture as it stands, its JPEG file.
struct FollowedLoad {
    std::unique_ptr<TBitmap> converted;
    int width = 0;
    int height = 0;
    int orientation = 1;
    std::unique_ptr<TBitmap> target;
    std::exception_ptr resampleError;
    std::optional<StreamedJpeg> encoded;
};

// A result that is the resampled picture itself (nothing to turn), to be written as a JPEG
// without a size limit, is encoded row by row as the resampler makes it, on the resampler's
// thread, which waits for the decoder much of the time: the encoding then costs the batch
// next to nothing. Null for any other result, and when the encoder cannot start (the save
// then encodes it again, and reports the failure at its own place).
std::unique_ptr<JpegRowEncoder> StreamedResultEncoder(PipelineHost& host, const std::string& path, int orientation,
                                                      ResampleSize size) {
    const TSettingsRecord& settings = host.Settings();
    if (orientation != 1 || host.CurrentScaleChoice().RotationIndex >= 1 || settings.MaxJPEGKB > 0) return nullptr;
    if (LowerCase(ResultExtension(settings.OutputType, path)) != ".jpg") return nullptr;
    try {
        return std::make_unique<JpegRowEncoder>(size.width, size.height, JpegEncoding{settings.JPEGQuality});
    } catch (...) {
        return nullptr;
    }
}

// What following a decoding needs, worked out before it starts: the result's size before any
// turn, the filter and the conversion of the rows to sRGB (null: none).
struct FollowSetup {
    ResampleSize size{};
    const FilterEntry* filter = nullptr;
    std::unique_ptr<RowsToSRGB> colours;
};

// For a stored w x h picture whose orientation is still to be applied. nullopt when there is
// nothing to resample or the profile cannot be used (its warning is the steps' own), and for
// anything that fails here: the steps in turn then report it at its place.
std::optional<FollowSetup> SetUpFollowing(PipelineHost& host, const std::string& path, int w, int h,
                                          int orientation, std::span<const uint8_t> profile) {
    try {
        FollowSetup setup;
        // Asked of the upright picture; the stored one is resampled to the turned-back sides.
        const bool swaps = OrientationSwapsSides(orientation);
        setup.size = swaps ? TargetBeforeTurn(host, path, h, w) : TargetBeforeTurn(host, path, w, h);
        if (swaps) std::swap(setup.size.width, setup.size.height);
        if (setup.size.width == w && setup.size.height == h) return std::nullopt;  // nothing to resample
        setup.filter = &ChosenFilter(host);
        ProfileOutcome outcome = ProfileOutcome::NoProfile;
        setup.colours = RowsToSRGB::Create(profile, TPixelFormat::pf24bit, &outcome);
        if (outcome == ProfileOutcome::Unusable) return std::nullopt;
        return setup;
    } catch (...) {
        return std::nullopt;
    }
}

// How the resampler's following of rows ended.
struct Followed {
    int convertedRows = 0;   // rows 0..convertedRows-1 of the source are in sRGB
    bool abandoned = false;  // the rows stopped coming before the last one
};

// Resamples the w x height source whose rows ready tells final into load.target, on this
// thread, converting each row to sRGB before it is first read. The source is rows itself, or
// with ringRows < height a ring whose row y is row y % ringRows. A result to be written as it
// stands is encoded as its rows come (load.encoded). The resampler's own failure is kept in
// load.resampleError; on the way out every row is released, so that the producer never waits
// for room in vain.
Followed ResampleFollowing(PipelineHost& host, const std::string& path, const FollowSetup& setup, TBitmap& rows,
                           int height, int ringRows, RowsReady& ready, FollowedLoad& load) {
    Followed followed;
    const int w = rows.Width();
    std::unique_ptr<JpegRowEncoder> encoder = StreamedResultEncoder(host, path, load.orientation, setup.size);
    // The colours are converted on this side, which has less to do than the decoder.
    ResampleOptions options = StoredResampling(load.orientation);
    if (setup.colours)
        options.prepareSourceRow = [&](int y) {
            setup.colours->Row(rows.ScanLine(y % ringRows), w);
            followed.convertedRows = y + 1;
        };
    if (encoder)
        options.targetRowsDone = [&](int done) {
            if (!encoder) return;
            try {
                const int from = encoder->RowsWritten();
                encoder->Write(load.target->ScanLine(from), load.target->RowStride(), done - from);
            } catch (...) {
                encoder.reset();  // the save encodes the result again and meets the failure there
            }
        };
    const FilterEntry& filter = *setup.filter;
    try {
        load.target = ResampleTarget(setup.size.width, setup.size.height);
        if (ringRows < height) {
            ResampleFromRing(rows, height, ready, *load.target, filter.kernel, filter.support, options);
        } else {
            options.sourceRows = &ready;
            options.threads = 1;  // the decoder has the other core
            ResampleBitmap(rows, *load.target, filter.kernel, filter.support, options);
        }
    } catch (const ERowsAbandoned&) {
        // The decoding failed (its own error is raised where it is joined), or stopped short.
        followed.abandoned = true;
    } catch (...) {
        load.resampleError = std::current_exception();
    }
    if (encoder && !load.resampleError && !followed.abandoned && encoder->RowsWritten() == setup.size.height) try {
            load.encoded = StreamedJpeg{encoder->Finish(), encoder->Encoding().quality};
        } catch (...) {
        }
    ready.Release(INT_MAX);
    return followed;
}

// After the producer is joined: a producer that stopped short without failing left target
// rows unwritten; the rows of the working bitmap the resampler did not read (or all, had it
// failed) are converted here, so that it is in sRGB throughout.
// whole is the working bitmap, null for rows that passed through a ring.
void FinishFollowing(const Followed& followed, const FollowSetup& setup, TBitmap* whole, FollowedLoad& load) {
    if (followed.abandoned)
        load.resampleError = std::make_exception_ptr(EInvalidGraphic("The picture ended before its last row"));
    if (whole && setup.colours)
        for (int y = followed.convertedRows; y < whole->Height(); ++y) setup.colours->Row(whole->ScanLine(y), whole->Width());
}

// A JPEG that is to be resampled is decoded on a thread of its own, its colours converted to
// sRGB row by row as they come, while the resampler follows it on this one: the two no longer
// wait for each other. A host that shows thumbnails gets the whole working bitmap as before;
// for one that does not (imbrix-batch), the rows pass through a ring just large enough for
// the resampler, so the picture never exists whole in memory. The bytes are those of the
// steps in turn, and so are the host calls: the decoding's warnings and failure come out
// after the load's progress step, where the decoding in turn would have given them. nullopt
// (and nothing done) for any other picture, and for a profile that cannot be used (its
// warning is the steps' own): the steps then run in turn.
std::optional<FollowedLoad> FollowDecoding(PipelineHost& host, TPicture& picture, const std::string& path,
                                           std::vector<std::string>* damage) {
    if (!LookAheadEnabled()) return std::nullopt;
    auto* jpg = dynamic_cast<TJPEGImage*>(picture.Graphic());
    if (!jpg || !jpg->DecodesToPlainRows()) return std::nullopt;
    if (!jpg->IccProfileProblem.empty()) return std::nullopt;
    const int orientation = PendingOrientation(jpg->Orientation, UprightOptions{host.Settings().AutoOrient});
    const int w = jpg->Width(), h = jpg->Height();
    std::optional<FollowSetup> setup = SetUpFollowing(host, path, w, h, orientation, jpg->IccProfile);
    if (!setup) return std::nullopt;
    int ringRows = h;
    // The rows go where the resampler reads them, so they are sized before the decoding starts.
    auto rows = std::make_unique<TBitmap>();
    try {
        // The ring holds what the resampler reads at once and an eighth of the picture more
        // (at least 64 rows), so that the decoder seldom waits for room while the resampler's
        // thread encodes a block of result rows: with 64 rows more, a 24 MP decoding took
        // about 4 % longer.
        const FilterEntry& filter = *setup->filter;
        if (!host.ShowsThumbnails())
            ringRows = std::min(h, ResampleRingRows(h, setup->size.height, filter.kernel, filter.support,
                                                    StoredResampling(orientation).mirrorRows) +
                                       std::max(64, h / 8));
        rows->SetPixelFormat(TPixelFormat::pf24bit);
        rows->SetSizeForOverwrite(w, ringRows);
    } catch (...) {
        return std::nullopt;
    }
    const bool ring = ringRows < h;

    FollowedLoad load;
    load.width = w;
    load.height = h;
    load.orientation = orientation;
    std::unique_ptr<TGraphic> graphic = picture.TakeGraphic();
    std::optional<RowProducer> started;
    try {
        started.emplace([&](RowsReady& ready) {
            TBitmap& into = *rows;
            jpg->DecodeFollowed(
                [&](int y) {
                    if (!ring) return into.ScanLine(y);
                    // Told before waiting for room, so that the resampler can go on and release some.
                    ready.Advance(y);
                    ready.WaitReleased(y - ringRows + 1);
                    return into.ScanLine(y % ringRows);
                },
                [&ready](int done) { ready.Advance(done); });
            ready.Close();    // every row is there: the resampler need not wait for the rest
            graphic.reset();  // the file's bytes, not needed once decoded
        });
    } catch (const std::system_error&) {
        picture.SetGraphic(std::move(graphic));  // no thread to be had: the steps in turn
        return std::nullopt;
    }
    followedDecodings.fetch_add(1, std::memory_order_relaxed);
    RowProducer& decoder = *started;
    const Followed followed = ResampleFollowing(host, path, *setup, *rows, h, ringRows, decoder.Rows(), load);
    decoder.Join();
    host.StepProgress();
    {
        DamageCollector collect(damage);
        decoder.Finish();  // the decoding's warnings, then its failure
    }
    FinishFollowing(followed, *setup, ring ? nullptr : rows.get(), load);
    if (!ring) load.converted = std::move(rows);
    return load;
}

// Whether the file's extension names a JPEG, whose load only reads the file: its decoding
// comes later (FollowDecoding).
bool NamedJpeg(const std::string& path) {
    const TGraphicClass named = PictureFormatTable().FindPictureClass(ExtractExtension(path));
    return named && named->InheritsFrom(&TJPEGImage::ClassInfo);
}

// What a reader said of its rows when it first told some of them final, on the loading
// thread: the bitmap they are in, its size and place in memory, and what the working bitmap
// will make of it (orientation, profile).
struct ToldRows {
    TBitmap* pixels = nullptr;
    const uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int orientation = 1;
    std::vector<uint8_t> profile;
    bool refused = false;  // not a picture the working bitmap takes as it is: not followed
    bool broken = false;   // the load ended with the picture other than it was told
};

// Loads the file into picture, the steps in turn, while the resampler follows on this thread
// the rows a reader tells final (TGraphic::OnRowsFinal) as it decodes them on another: a
// plain 24-bit picture that is to be resampled. The working bitmap is then the reader's own
// bitmap, converted to sRGB on this side as the resampler reads it. The load's warnings and
// failure come out before its progress step, as in turn. nullopt when the resampler did not
// follow: picture then holds what the load gave (or the load's failure is raised), and
// nothing else was done.
std::optional<FollowedLoad> LoadFollowingRows(PipelineHost& host, TPicture& picture, const std::string& path,
                                              std::vector<std::string>* damage) {
    if (!LookAheadEnabled() || NamedJpeg(path)) {
        DamageCollector collect(damage);
        picture.LoadPictureFile(path);
        return std::nullopt;
    }
    // Kept here, not by the load, so that the rows stay alive until the resampler is done
    // with them, whichever way the load ends.
    std::unique_ptr<TGraphic> graphic = TPicture::NewGraphicFor(path);
    ToldRows told;
    std::optional<RowProducer> started;
    try {
        started.emplace([&](RowsReady& ready) {
            graphic->OnRowsFinal = [&](const TBitmap& pixels, int rows) {
                if (!told.pixels && !told.refused) {
                    told.refused = static_cast<const TGraphic*>(&pixels) != graphic.get() ||
                                   pixels.PixelFormat() != TPixelFormat::pf24bit || pixels.Transparent ||
                                   pixels.AlphaMeaningful || !pixels.IccProfileProblem.empty();
                    if (told.refused) return;
                    told = ToldRows{static_cast<TBitmap*>(graphic.get()), pixels.Bits(), pixels.Width(),
                                    pixels.Height(), pixels.Orientation, pixels.IccProfile};
                }
                if (!told.refused) ready.Advance(rows);
            };
            graphic->ReadPictureFile(path);
            graphic->OnRowsFinal = nullptr;
            if (!told.pixels) return;
            // The rows a reader did not deliver (a picture cut short) are final now too,
            // unless the picture is not the one told: then the resampler stops short.
            const TBitmap& loaded = *told.pixels;
            told.broken = loaded.Bits() != told.bits || loaded.Width() != told.width ||
                          loaded.Height() != told.height || loaded.PixelFormat() != TPixelFormat::pf24bit ||
                          loaded.Transparent || loaded.AlphaMeaningful || loaded.Orientation != told.orientation ||
                          loaded.IccProfile != told.profile || !loaded.IccProfileProblem.empty();
            if (!told.broken) ready.Advance(told.height);
        });
    } catch (const std::system_error&) {
        DamageCollector collect(damage);  // no thread to be had: the steps in turn
        picture.LoadPictureFile(path);
        return std::nullopt;
    }
    RowProducer& loader = *started;
    std::optional<FollowSetup> setup;
    FollowedLoad load;
    try {
        loader.Rows().WaitFor(1);  // rows told, or the load over without any
        load.orientation = PendingOrientation(told.orientation, UprightOptions{host.Settings().AutoOrient});
        setup = SetUpFollowing(host, path, told.width, told.height, load.orientation, told.profile);
    } catch (const ERowsAbandoned&) {
    }
    Followed followed;
    if (setup) {
        load.width = told.width;
        load.height = told.height;
        followedDecodings.fetch_add(1, std::memory_order_relaxed);
        followed = ResampleFollowing(host, path, *setup, *told.pixels, told.height, told.height, loader.Rows(), load);
    }
    loader.Join();
    if (told.broken) {
        // A reader that broke its word: what was followed (and converted) is dropped, and the
        // file is loaded again, in turn, with its warnings shown once.
        loader.Discard();
        DamageCollector collect(damage);
        picture.LoadPictureFile(path);
        return std::nullopt;
    }
    {
        DamageCollector collect(damage);
        loader.Finish();  // the load's warnings, then its failure
    }
    if (!setup) {
        picture.SetLoadedGraphic(std::move(graphic));
        return std::nullopt;
    }
    host.StepProgress();
    FinishFollowing(followed, *setup, told.pixels, load);
    // The reader's own pixels (told plain 24-bit, and checked so at the end of the load).
    load.converted = graphic->TakePlainBitmap();
    return load;
}

// What a file's load made: the stored working bitmap (none for a followed load when the host
// shows no thumbnails) and, when the resampler followed the decoding, what that made.
struct SourceLoad {
    StoredWorkingBitmap loaded;
    std::optional<FollowedLoad> followed;
};

// Loads the file, letting the resampler follow its decoding where it can; one progress step.
// damage (may be null: shown as warnings then) collects what the load found damaged; only
// the loading itself is watched, not the host calls between its steps.
SourceLoad LoadSource(PipelineHost& host, const std::string& path, std::vector<std::string>* damage) {
    SourceLoad source;
    TPicture picture;
    source.followed = LoadFollowingRows(host, picture, path, damage);
    if (!source.followed) source.followed = FollowDecoding(host, picture, path, damage);
    if (source.followed) {
        source.loaded.bitmap = std::move(source.followed->converted);
        source.loaded.orientation = source.followed->orientation;
    } else {
        host.StepProgress();
        // The picture is not needed once its pixels are in the working bitmap, in sRGB.
        DamageCollector collect(damage);  // a JPEG decodes its pixels only here
        source.loaded = WorkingBitmapAsStored(picture.TakeGraphic(), UprightOptions{host.Settings().AutoOrient}, path);
    }
    return source;
}

// What a load asks of the host, as it stood when the load began.
struct LoadSettings {
    TSettingsRecord settings;
    ScaleChoice choice;
    bool thumbnails = true;
    bool operator==(const LoadSettings&) const = default;
};

LoadSettings CurrentLoadSettings(PipelineHost& host) {
    return {host.Settings(), host.CurrentScaleChoice(), host.ShowsThumbnails()};
}

// The host a load started ahead of its file's turn sees, on its own thread: the settings as
// they were when it started, and nothing else. Its progress step is the batch's to make, in
// the file's turn; the load makes no other host call.
class AheadHost final : public PipelineHost {
public:
    explicit AheadHost(const LoadSettings& settings) : settings_(settings) {}
    const TSettingsRecord& Settings() override { return settings_.settings; }
    ScaleChoice CurrentScaleChoice() override { return settings_.choice; }
    bool ShowsThumbnails() override { return settings_.thumbnails; }
    void BeginBatch(int64_t) override {}
    void SetProgressFileName(const std::string&) override {}
    void StepProgress() override {}
    bool Cancelled() override { return false; }
    void EndBatch() override {}
    void AddToTray(TTray, const std::string&, const TpicData&, TBitmap) override {}
    void ResultWritten(const std::string&, const FileIdentity&) override {}
    void RemoveFromTray(TTray, const std::string&) override {}
    void MarkNotConverted(const std::string&, const std::string&) override {}
    void ShowErrorBox(const std::string&) override {}
    void ShowWarningBox(const std::string&) override {}

private:
    const LoadSettings& settings_;
};

// A load made ahead of the file's turn, and the settings it was made with: one made with
// other settings than the file's turn has is made again then.
struct AheadLoad {
    SourceLoad source;
    LoadSettings used;
};
using AheadLoader = LookAheadLoader<AheadLoad>;

void StartAhead(PipelineHost& host, AheadLoader& loader, const std::string& path) {
    loader.Start(path, [path, used = CurrentLoadSettings(host)]() {
        AheadHost ahead(used);
        return AheadLoad{LoadSource(ahead, path, nullptr), used};
    });
}

// ahead (may be null) holds the file's load, started ahead of its turn; without it, or when
// that load failed or was made with other settings, the file is loaded here.
// damage (may be null: shown as warnings then) collects what the load found damaged.
FileResult RunFile(PipelineHost& host, const std::string& path, FileTrack& track, AheadLoader* ahead = nullptr,
                   std::vector<std::string>* damage = nullptr) {
    host.SetProgressFileName(path);

    SourceLoad source;
    bool taken = false;
    if (ahead) {
        DamageCollector collect(damage);
        const LoadSettings now = CurrentLoadSettings(host);
        // replays the load's warnings
        std::optional<AheadLoad> made = ahead->Take(path, [&](const AheadLoad& load) { return load.used == now; });
        if (made) {
            source = std::move(made->source);
            taken = true;
        }
    }
    if (taken)
        host.StepProgress();
    else
        source = LoadSource(host, path, damage);
    StoredWorkingBitmap& loaded = source.loaded;
    std::optional<FollowedLoad>& followed = source.followed;
    // Of the stored working bitmap, which a followed load may not keep.
    int width = followed ? followed->width : 0, height = followed ? followed->height : 0;
    if (loaded.bitmap) {
        width = loaded.bitmap->Width();
        height = loaded.bitmap->Height();
    }
    // The picture is resampled as stored and turned upright after, which is cheaper on the
    // smaller result; sizes are those of the upright picture, as it is seen.
    const int orientation = loaded.orientation;
    const bool swaps = OrientationSwapsSides(orientation);
    const int w = swaps ? height : width, h = swaps ? width : height;
    host.AddToTray(TTray::In, path, TpicData(h, w, 24),
                   host.ShowsThumbnails() ? UprightThumbnail(*loaded.bitmap, orientation, host.ThumbnailSize())
                                          : TBitmap());
    track.inAdded = true;
    host.StepProgress();

    const ScaleChoice choice = host.CurrentScaleChoice();
    std::unique_ptr<TBitmap> target;
    if (followed) {
        // Resampled already, while the picture was decoded.
        if (followed->resampleError) std::rethrow_exception(followed->resampleError);
        target = std::move(followed->target);
        loaded.bitmap.reset();
    } else {
        const ResampleSize size = TargetBeforeTurn(host, path, w, h);
        if (size.width == w && size.height == h) {
            target = std::move(loaded.bitmap);  // same size: the pixels as they are
        } else {
            const FilterEntry& filter = ChosenFilter(host);
            target = swaps ? ResampleTarget(size.height, size.width) : ResampleTarget(size.width, size.height);
            ResampleBitmap(*loaded.bitmap, *target, filter.kernel, filter.support, StoredResampling(orientation));
            loaded.bitmap.reset();
        }
    }
    target = MadeUpright(std::move(target), orientation);
    host.StepProgress();

    // Nothing was turned: the result is the resampled picture, as a streamed encoding saw it.
    const bool asResampled = orientation == 1 && choice.RotationIndex < 1;
    std::unique_ptr<TBitmap> result;
    if (choice.RotationIndex >= 1) result = RotateBitmap(choice.RotationIndex, *target);
    if (result)
        target.reset();
    else
        result = std::move(target);
    host.StepProgress();

    const TSettingsRecord& settings = host.Settings();
    const std::string extension = ResultExtension(settings.OutputType, path);
    const std::string stem = ResultStem(settings, path);
    if (!IsWritableExtension(extension)) {
        // No file can be written, so no Out entry either: it would list a missing file.
        std::optional<std::string> name = FreeResultName(stem, extension);
        if (!name) return FileResult::NameConflict;
        track.resultPath = *name;
        host.StepProgress();
        host.StepProgress();
        return FileResult::UnwritableType;
    }
    // From here a failure is the working folder's or the disk's, and would repeat for every
    // later file. A missing or read-only folder fails before an Out entry exists.
    track.writing = true;
    std::optional<ReservedResult> reserved = ReservedResult::Create(stem, extension);
    if (!reserved) return FileResult::NameConflict;
    const std::string resultPath = reserved->Path();

    host.AddToTray(TTray::Out, resultPath, TpicData(result->Height(), result->Width(), 24),
                   host.ShowsThumbnails() ? MakeThumbnail(*result, host.ThumbnailSize()) : TBitmap());
    track.outPath = resultPath;
    host.StepProgress();

    std::optional<SizeLimitOutcome> limited;
    try {
        if (settings.MaxJPEGKB > 0 && LowerCase(extension) == ".jpg") {
            // Every trial is encoded in memory; the file is written once, with the one that fits.
            LimitedJpeg fit = EncodeJpegWithinLimit(*result, settings.JPEGQuality, settings.MaxJPEGKB);
            reserved->Stream().WriteBytes(fit.Bytes);
            limited = fit.Outcome;
        } else if (asResampled && followed && followed->encoded && followed->encoded->quality == settings.JPEGQuality &&
                   LowerCase(extension) == ".jpg") {
            reserved->Stream().WriteBuffer(followed->encoded->bytes.data(), followed->encoded->bytes.size());
            streamedEncodings.fetch_add(1, std::memory_order_relaxed);
        } else {
            SaveResult(*result, reserved->Stream(), extension, settings.JPEGQuality);
        }
    } catch (const EWriteError&) {
        throw reserved->WriteFailure();  // the partial file goes with reserved
    }
    const FileIdentity identity = reserved->Commit();
    host.ResultWritten(resultPath, identity);
    if (limited) host.SizeLimitApplied(resultPath, *limited);
    result.reset();
    host.StepProgress();
    return FileResult::Converted;
}

TBitmap BlankThumbnail() { return TBitmap(kThumbnailWidth, kThumbnailHeight, TPixelFormat::pf24bit); }

}  // namespace

int64_t FollowedDecodingCount() { return followedDecodings.load(std::memory_order_relaxed); }
int64_t StreamedEncodingCount() { return streamedEncodings.load(std::memory_order_relaxed); }

bool ProcessFile(PipelineHost& host, const std::string& path) {
    FileTrack track;
    try {
        switch (RunFile(host, path, track)) {
            case FileResult::NameConflict: host.ShowWarningBox(kNameConflictMessage); return false;
            case FileResult::UnwritableType:
                host.ShowErrorBox(std::string(kUnknownOutputTypeMessage) + track.resultPath);
                return true;
            case FileResult::Converted: return true;
        }
    } catch (...) {
        if (!track.outPath.empty()) host.RemoveFromTray(TTray::Out, track.outPath);
        throw;
    }
    return true;
}

std::string FailureListText(const std::vector<FileFailure>& failures, size_t fileCount) {
    std::string text = std::to_string(failures.size()) + " of " + std::to_string(fileCount) +
                       (fileCount == 1 ? " file" : " files") + " could not be converted:";
    for (const FileFailure& f : failures) text += "\n" + ExtractFileName(f.Path) + ": " + f.Reason;
    return text;
}

std::string DamagedListText(const std::vector<FileFailure>& damaged) {
    std::string text = std::to_string(damaged.size()) +
                       (damaged.size() == 1 ? " file was damaged and converted as far as it could be read:"
                                            : " files were damaged and converted as far as they could be read:");
    for (const FileFailure& f : damaged) text += "\n" + ExtractFileName(f.Path) + ": " + f.Reason;
    return text;
}

std::string BatchEndText(const std::vector<FileFailure>& failures, const std::vector<FileFailure>& damaged,
                         size_t fileCount) {
    std::string text;
    if (!failures.empty()) text = FailureListText(failures, fileCount);
    if (!damaged.empty()) text += (text.empty() ? "" : "\n\n") + DamagedListText(damaged);
    return text;
}

BatchOutcome ProcessFiles(PipelineHost& host, std::vector<std::string> paths) {
    const ScaleChoice choice = host.CurrentScaleChoice();
    if (choice.Scale == ScaleMode::Special && !SpecialFieldsValid(choice)) {
        host.ShowErrorBox(kSpecialSizeMessage);
        return BatchOutcome::Rejected;
    }
    host.BeginBatch(ProgressStepCount(static_cast<int64_t>(paths.size())));
    const bool stopAtFirstError = host.Settings().StopAtFirstError;
    BatchOutcome outcome = BatchOutcome::Completed;
    std::vector<FileFailure> failures;
    std::vector<FileFailure> damaged;  // converted as far as they could be read
    std::exception_ptr stopError;
    // A file that was not converted stays listed in the In tray (so Reprocess tries it again),
    // with the reason in its tip.
    auto keepUnconverted = [&](const std::string& path, bool inAdded, const std::string& reason) {
        if (!inAdded) host.AddToTray(TTray::In, path, TpicData(0, 0, 24), BlankThumbnail());
        host.MarkNotConverted(path, reason);
    };
    // The batch's files reuse each other's big buffers; once it is over they go back.
    struct SparesGivenBack {
        ~SparesGivenBack() { GiveBackSpareMappings(); }
    } sparesAfterTheBatch;
    // Two loads at once, the file in its turn and the next: file i is loaded by lanes[i % 2].
    // They only read files, so a load dropped on cancel or stop leaves nothing on disk.
    std::optional<AheadLoader> lanes[2];
    if (LookAheadEnabled() && paths.size() > 1) {
        lanes[0].emplace();
        lanes[1].emplace();
        StartAhead(host, *lanes[0], paths[0]);
    }
    auto abandonLanes = [&] {
        for (auto& lane : lanes)
            if (lane) lane->Abandon();
    };
    try {
        size_t next = 0;
        for (; next < paths.size(); ++next) {
            const std::string& path = paths[next];
            if (host.Cancelled()) {
                outcome = BatchOutcome::Cancelled;
                break;
            }
            FileTrack track;
            FileResult result = FileResult::Converted;
            std::vector<std::string> damage;
            if (lanes[0] && next + 1 < paths.size()) StartAhead(host, *lanes[(next + 1) % 2], paths[next + 1]);
            try {
                result = RunFile(host, path, track, lanes[0] ? &*lanes[next % 2] : nullptr, &damage);
            } catch (...) {
                if (!track.outPath.empty()) host.RemoveFromTray(TTray::Out, track.outPath);
                const std::string reason = ExceptionMessage(std::current_exception());
                keepUnconverted(path, track.inAdded, reason);
                if (stopAtFirstError || track.writing) {
                    stopError = std::current_exception();
                    outcome = BatchOutcome::Stopped;
                    ++next;
                    break;
                }
                failures.push_back({path, reason});
                continue;
            }
            // Only a file that was converted is listed as damaged; one that was not is
            // listed (or stops the batch) for that reason instead.
            if (result == FileResult::Converted && !damage.empty()) {
                std::string reason = damage.front();
                for (size_t i = 1; i < damage.size(); ++i) reason += "; " + damage[i];
                damaged.push_back({path, std::move(reason)});
            }
            if (result == FileResult::NameConflict) {
                keepUnconverted(path, track.inAdded, kNameConflictMessage);
                if (stopAtFirstError) {
                    host.ShowWarningBox(kNameConflictMessage);
                    host.ShowErrorBox(std::string(kCouldNotLoadMessage) + path);
                    outcome = BatchOutcome::Stopped;
                    ++next;
                    break;
                }
                failures.push_back({path, kNameConflictMessage});
            } else if (result == FileResult::UnwritableType) {
                const std::string text = std::string(kUnknownOutputTypeMessage) + track.resultPath;
                keepUnconverted(path, true, text);
                if (stopAtFirstError)
                    host.ShowErrorBox(text);  // and the batch goes on, as it always did
                else
                    failures.push_back({path, text});
            }
        }
        abandonLanes();
        for (size_t i = next; i < paths.size(); ++i)
            keepUnconverted(paths[i], false,
                            outcome == BatchOutcome::Cancelled ? kCancelledReason : kStoppedReason);
    } catch (...) {
        abandonLanes();
        host.EndBatch();
        throw;
    }
    host.EndBatch();
    // One message at the end: an error when a file failed, a warning when files were only
    // damaged (they were converted).
    if (!failures.empty())
        host.ShowErrorBox(BatchEndText(failures, damaged, paths.size()));
    else if (!damaged.empty())
        host.ShowWarningBox(BatchEndText(failures, damaged, paths.size()));
    if (stopError) std::rethrow_exception(stopError);
    if (outcome == BatchOutcome::Completed && !failures.empty()) outcome = BatchOutcome::Failures;
    return outcome;
}
