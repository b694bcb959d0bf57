#include "readers/webp_reader.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TWebPGraphic, TGraphicReader);

namespace {

constexpr const char* kWebPLabel = "WebP";
constexpr const char* kDecodeFailed = "Cannot load image. The %s file could not be decoded (%s).";

// A RIFF container of form type "WEBP".
bool HasWebPSignature(std::span<const uint8_t> head) {
    return head.size() >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0 && std::memcmp(head.data() + 8, "WEBP", 4) == 0;
}

struct DemuxDelete {
    void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};
struct AnimDecoderDelete {
    void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};

const char* StatusText(VP8StatusCode status) {
    switch (status) {
        case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
        case VP8_STATUS_INVALID_PARAM: return "invalid parameter";
        case VP8_STATUS_BITSTREAM_ERROR: return "damaged bitstream";
        case VP8_STATUS_UNSUPPORTED_FEATURE: return "unsupported feature";
        case VP8_STATUS_NOT_ENOUGH_DATA: return "the data ends early";
        default: return "decoder error";
    }
}

struct Canvas {
    std::unique_ptr<WebPDemuxer, DemuxDelete> demux;
    uint32_t width = 0, height = 0, flags = 0, frames = 0;
};

// The whole file must be there: a partial one is refused instead of shown in part.
Canvas OpenCanvas(std::span<const uint8_t> file) {
    if (!HasWebPSignature(file)) RaiseReaderErrorFmt(gesInvalidImage, kWebPLabel);
    const WebPData data{file.data(), file.size()};
    Canvas c;
    c.demux.reset(WebPDemux(&data));
    if (!c.demux) RaiseReaderErrorFmt(gesInvalidImage, kWebPLabel);
    c.width = WebPDemuxGetI(c.demux.get(), WEBP_FF_CANVAS_WIDTH);
    c.height = WebPDemuxGetI(c.demux.get(), WEBP_FF_CANVAS_HEIGHT);
    c.flags = WebPDemuxGetI(c.demux.get(), WEBP_FF_FORMAT_FLAGS);
    c.frames = WebPDemuxGetI(c.demux.get(), WEBP_FF_FRAME_COUNT);
    if (c.width == 0 || c.height == 0 || c.frames == 0) RaiseReaderErrorFmt(gesInvalidImage, kWebPLabel);
    return c;
}

// Alpha as the first frame shows it: a still picture's own flag, for an animation the canvas
// flag (its first frame may still be opaque, but the canvas is composed with alpha).
bool CanvasHasAlpha(const Canvas& c, std::span<const uint8_t> file) {
    if (c.flags & ANIMATION_FLAG) return (c.flags & ALPHA_FLAG) != 0;
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(file.data(), file.size(), &features);
    if (status != VP8_STATUS_OK) RaiseReaderErrorFmt(kDecodeFailed, kWebPLabel, StatusText(status));
    return features.has_alpha != 0;
}

}  // namespace

bool TWebPGraphic::ProbeStream(TStream& stream) {
    uint8_t head[12];
    const size_t got = stream.Read(head, sizeof head);
    return HasWebPSignature({head, got});
}

bool TWebPGraphic::ReadProperties(TStream& stream, unsigned imageIndex) {
    TGraphicReader::ReadProperties(stream, imageIndex);
    const std::vector<uint8_t> file = PeekRest(stream);
    try {
        const Canvas c = OpenCanvas(file);
        Properties.Width = c.width;
        Properties.Height = c.height;
        Properties.HasAlpha = CanvasHasAlpha(c, file);
        Properties.BitsPerSample = 8;
        Properties.SamplesPerPixel = Properties.HasAlpha ? 4 : 3;
        Properties.BitsPerPixel = static_cast<uint8_t>(8 * Properties.SamplesPerPixel);
        Properties.ColorScheme = Properties.HasAlpha ? ColorScheme::RGBA : ColorScheme::RGB;
        Properties.SubImageCount = static_cast<uint16_t>(std::min<uint32_t>(c.frames, 0xFFFF));
    } catch (const EInvalidGraphic&) {
        return false;
    }
    return true;
}

void TWebPGraphic::ReadPicture(TStream& stream) {
    TLoadScope scope(*this, stream, true);
    IccProfile.clear();
    ReadPropertiesOrFail(stream, kWebPLabel);
    const ByteReader data = LoadSourceData();
    const std::span<const uint8_t> file = data.data();
    const Canvas canvas = OpenCanvas(file);
    const bool alpha = Properties.HasAlpha;
    // The canvas size is checked before libwebp allocates anything for it.
    SetBitmapFormatAndSize(alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit, canvas.width, canvas.height,
                           kWebPLabel);

    if (canvas.flags & ICCP_FLAG) {
        WebPChunkIterator chunk;
        if (WebPDemuxGetChunk(canvas.demux.get(), "ICCP", 1, &chunk))
            IccProfile.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }

    const int width = Width();
    const int height = Height();
    ProgressRect = Rect(0, 0, width, height);
    StartProgress(gesLoadingData);
    if (canvas.flags & ANIMATION_FLAG) {
        // The animation decoder composes the first frame on the canvas (offsets, blending), so
        // a first frame smaller than the canvas shows as the animation starts.
        WebPAnimDecoderOptions options;
        if (!WebPAnimDecoderOptionsInit(&options)) RaiseReaderErrorFmt(kDecodeFailed, kWebPLabel, "decoder setup");
        options.color_mode = MODE_BGRA;
        options.use_threads = 0;
        const WebPData whole{file.data(), file.size()};
        std::unique_ptr<WebPAnimDecoder, AnimDecoderDelete> decoder(WebPAnimDecoderNew(&whole, &options));
        if (!decoder) RaiseReaderErrorFmt(gesInvalidImage, kWebPLabel);
        uint8_t* frame = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(decoder.get(), &frame, &timestamp) || !frame)
            RaiseReaderErrorFmt(kDecodeFailed, kWebPLabel, "damaged first frame");
        const size_t rowBytes = static_cast<size_t>(width) * 4;
        for (int y = 0; y < height; ++y) {
            const uint8_t* in = frame + static_cast<size_t>(y) * rowBytes;
            if (alpha) {
                std::memcpy(ScanLine(y), in, rowBytes);
            } else {
                uint8_t* out = ScanLine(y);
                for (int x = 0; x < width; ++x, in += 4, out += 3) out[0] = in[0], out[1] = in[1], out[2] = in[2];
            }
        }
    } else {
        // A still picture decodes straight into the bitmap's rows.
        WebPDecoderConfig config;
        if (!WebPInitDecoderConfig(&config)) RaiseReaderErrorFmt(kDecodeFailed, kWebPLabel, "decoder setup");
        config.output.colorspace = alpha ? MODE_BGRA : MODE_BGR;
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = Bits();
        config.output.u.RGBA.stride = static_cast<int>(RowStride());
        config.output.u.RGBA.size = RowStride() * static_cast<size_t>(height);
        const VP8StatusCode status = WebPDecode(file.data(), file.size(), &config);
        WebPFreeDecBuffer(&config.output);
        if (status != VP8_STATUS_OK) RaiseReaderErrorFmt(kDecodeFailed, kWebPLabel, StatusText(status));
    }
    AlphaMeaningful = alpha;
    EndProgress();
}
