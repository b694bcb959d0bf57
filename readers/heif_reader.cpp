#include "readers/heif_reader.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"
#include "readers/heif_canvas.h"
#include "readers/heif_library.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(THEIFGraphic, TGraphicReader);

namespace {

// The shared labels have none for these formats; kept here like the Targa reader's.
constexpr const char* kHEIFLabel = "HEIC, HEIF or AVIF";
constexpr const char* kDecodeFailed = "Cannot load image. The %s file could not be decoded (%s).";

// Brands of still-image HEIF and AVIF files (ISO base media "ftyp" box). Image sequences
// ("msf1", "hevc", "avis") carry a still primary image too in practice, so they are taken.
constexpr const char* kBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs",
                                   "mif1", "mif2", "msf1", "avif", "avis", "avio"};

bool KnownBrand(std::span<const uint8_t> brand) {
    for (const char* b : kBrands)
        if (std::memcmp(brand.data(), b, 4) == 0) return true;
    return false;
}

// Whether bytes start with an ftyp box naming a HEIF or AVIF brand.
bool HasHEIFBrand(ByteReader r) {
    if (r.remaining() < 16) return false;
    const uint32_t boxSize = r.u32be();
    if (r.text(4) != "ftyp" || boxSize < 16) return false;
    if (KnownBrand(r.bytes(4))) return true;
    r.skip(4);  // minor version
    size_t left = std::min<size_t>(boxSize, r.size()) - r.pos();
    for (; left >= 4; left -= 4)
        if (KnownBrand(r.bytes(4))) return true;
    return false;
}

struct ContextFree {
    void operator()(heif_context* c) const { Heif().heif_context_free(c); }
};
struct HandleRelease {
    void operator()(heif_image_handle* h) const { Heif().heif_image_handle_release(h); }
};
struct ImageRelease {
    void operator()(heif_image* i) const { Heif().heif_image_release(i); }
};
struct OptionsFree {
    void operator()(heif_decoding_options* o) const { Heif().heif_decoding_options_free(o); }
};

[[noreturn]] void RaiseHeifError(const heif_error& error) {
    switch (error.code) {
        case heif_error_Invalid_input:
            // A file that is no readable HEIF container at all.
            if (error.subcode == heif_suberror_No_ftyp_box || error.subcode == heif_suberror_No_meta_box ||
                error.subcode == heif_suberror_No_pitm_box || error.subcode == heif_suberror_No_or_invalid_primary_item)
                RaiseReaderErrorFmt(gesInvalidImage, kHEIFLabel);
            break;
        case heif_error_Unsupported_filetype:
            RaiseReaderErrorFmt(gesInvalidImage, kHEIFLabel);
        case heif_error_Unsupported_feature:
            if (error.subcode == heif_suberror_Unsupported_codec)
                RaiseReaderErrorFmt(gesUnsupportedFeature, gesCompressionScheme, kHEIFLabel);
            break;
        default:
            break;
    }
    RaiseReaderErrorFmt(kDecodeFailed, kHEIFLabel, error.message ? error.message : "unknown error");
}

void Check(const heif_error& error) {
    if (error.code != heif_error_Ok) RaiseHeifError(error);
}

// libheif's context over the file bytes (not copied: they must outlive it) and the handle of
// its primary image.
struct PrimaryImage {
    std::unique_ptr<heif_context, ContextFree> context;
    std::unique_ptr<heif_image_handle, HandleRelease> handle;
};

PrimaryImage OpenPrimary(std::span<const uint8_t> file) {
    if (!HasHEIFBrand(ByteReader(file))) RaiseReaderErrorFmt(gesInvalidImage, kHEIFLabel);
    PrimaryImage p;
    p.context.reset(Heif().heif_context_alloc());
    if (!p.context) throw EOutOfResources("Out of memory");
    // Sides beyond the pixel limit can never pass our own check; libheif then refuses such
    // files while parsing, before it sets anything up for them.
    const uint64_t side = std::min<uint64_t>(CurrentPictureLimits().maxPixels, INT_MAX);
    Heif().heif_context_set_maximum_image_size_limit(p.context.get(), static_cast<int>(side));
    Check(Heif().heif_context_read_from_memory_without_copy(p.context.get(), file.data(), file.size(), nullptr));
    heif_image_handle* handle = nullptr;
    Check(Heif().heif_context_get_primary_image_handle(p.context.get(), &handle));
    p.handle.reset(handle);
    return p;
}

void FillProperties(TImageProperties& properties, heif_image_handle* handle) {
    properties.Width = static_cast<uint32_t>(std::max(0, Heif().heif_image_handle_get_width(handle)));
    properties.Height = static_cast<uint32_t>(std::max(0, Heif().heif_image_handle_get_height(handle)));
    properties.HasAlpha = Heif().heif_image_handle_has_alpha_channel(handle) != 0;
    const int bits = Heif().heif_image_handle_get_luma_bits_per_pixel(handle);
    properties.BitsPerSample = static_cast<uint8_t>(bits > 0 && bits <= 16 ? bits : 8);
    properties.SamplesPerPixel = properties.HasAlpha ? 4 : 3;
    properties.BitsPerPixel = static_cast<uint8_t>(std::min(255, properties.BitsPerSample * properties.SamplesPerPixel));
    properties.ColorScheme = properties.HasAlpha ? ColorScheme::RGBA : ColorScheme::RGB;
    properties.Options = ImageOption::BigEndian;  // box fields are big-endian
}

}  // namespace

bool THEIFGraphic::ProbeStream(TStream& stream) {
    uint8_t head[64];
    const size_t got = stream.Read(head, sizeof head);
    return HasHEIFBrand(ByteReader(head, got));
}

bool THEIFGraphic::ReadProperties(TStream& stream, unsigned imageIndex) {
    TGraphicReader::ReadProperties(stream, imageIndex);
    const std::vector<uint8_t> file = PeekRest(stream);
    try {
        const PrimaryImage primary = OpenPrimary(file);
        FillProperties(Properties, primary.handle.get());
    } catch (const EInvalidGraphic&) {
        return false;
    }
    return true;
}

void THEIFGraphic::ReadPicture(TStream& stream) {
    TLoadScope scope(*this, stream, true);
    IccProfile.clear();
    TGraphicReader::ReadProperties(stream, 0);
    ProgressRect = Rect(0, 0, 0, 1);
    StartProgress(gesLoadingData);
    const ByteReader data = LoadSourceData();
    const PrimaryImage primary = OpenPrimary(data.data());
    heif_image_handle* handle = primary.handle.get();
    FillProperties(Properties, handle);

    // Both the coded size and the shown one (after crop and quarter turns) must pass the limits:
    // libheif decodes the full coded picture before cropping it.
    const auto checkDecodeSize = [](int64_t width, int64_t height) {
        CheckPictureSize(std::max<int64_t>(width, 1), std::max<int64_t>(height, 1), 32, 4);
    };
    checkDecodeSize(Heif().heif_image_handle_get_ispe_width(handle), Heif().heif_image_handle_get_ispe_height(handle));
    // So must every grid's and overlay's canvas: libheif clears it whole before decoding a tile,
    // and its size is stated apart from the size property checked above.
    for (const HeifCanvasSize& canvas : HeifDerivedCanvasSizes(data.data()))
        checkDecodeSize(canvas.width, canvas.height);
    if (!HeifDerivationsComplete(data.data()))
        RaiseReaderErrorFmt(kDecodeFailed, kHEIFLabel, "an image it is made from is missing");
    const bool alpha = Properties.HasAlpha;
    SetBitmapFormatAndSize(alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit, Properties.Width, Properties.Height,
                           kHEIFLabel);

    if (const size_t iccSize = Heif().heif_image_handle_get_raw_color_profile_size(handle); iccSize > 0) {
        std::vector<uint8_t> profile(CheckAllocation(iccSize, 1));
        if (Heif().heif_image_handle_get_raw_color_profile(handle, profile.data()).code == heif_error_Ok)
            IccProfile = std::move(profile);
    }

    std::unique_ptr<heif_decoding_options, OptionsFree> options(Heif().heif_decoding_options_alloc());
    if (!options) throw EOutOfResources("Out of memory");
    options->ignore_transformations = 0;  // crop, rotation and mirroring belong to the picture
    options->convert_hdr_to_8bit = 1;
    heif_image* decodedRaw = nullptr;
    Check(Heif().heif_decode_image(handle, &decodedRaw, heif_colorspace_RGB,
                            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get()));
    const std::unique_ptr<heif_image, ImageRelease> decoded(decodedRaw);
    EndProgress();

    const int width = Width();
    const int height = Height();
    int stride = 0;
    const uint8_t* plane = Heif().heif_image_get_plane_readonly(decoded.get(), heif_channel_interleaved, &stride);
    const int bytesPerPixel = alpha ? 4 : 3;
    // libheif hands back what was asked for; anything else (another size after a transform, a
    // depth it did not reduce) is refused rather than read past its rows.
    if (!plane || Heif().heif_image_get_width(decoded.get(), heif_channel_interleaved) != width ||
        Heif().heif_image_get_height(decoded.get(), heif_channel_interleaved) != height ||
        Heif().heif_image_get_bits_per_pixel(decoded.get(), heif_channel_interleaved) != 8 * bytesPerPixel ||
        stride < width * bytesPerPixel)
        RaiseReaderErrorFmt(kDecodeFailed, kHEIFLabel, "unexpected decoded layout");
    // Premultiplied colours already hold their share of the alpha: only white's share is added,
    // and the picture is then opaque.
    const bool premultiplied = alpha && Heif().heif_image_is_premultiplied_alpha(decoded.get());

    ProgressRect = Rect(0, 0, width, 1);
    StartProgress(gesTransfering);
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = plane + static_cast<size_t>(y) * static_cast<size_t>(stride);
        uint8_t* out = ScanLine(y);
        if (alpha) {
            for (int x = 0; x < width; ++x, in += 4, out += 4) {
                if (premultiplied) {
                    const unsigned white = 255u - in[3];
                    out[0] = static_cast<uint8_t>(std::min(255u, in[2] + white));
                    out[1] = static_cast<uint8_t>(std::min(255u, in[1] + white));
                    out[2] = static_cast<uint8_t>(std::min(255u, in[0] + white));
                    out[3] = 255;
                } else {
                    out[0] = in[2], out[1] = in[1], out[2] = in[0], out[3] = in[3];
                }
            }
        } else {
            for (int x = 0; x < width; ++x, in += 3, out += 3) out[0] = in[2], out[1] = in[1], out[2] = in[0];
        }
        RowProgress(RowPercent(y, height));
    }
    AlphaMeaningful = alpha && !premultiplied;
    EndProgress();
}
