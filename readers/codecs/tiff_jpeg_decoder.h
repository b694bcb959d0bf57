#pragma once
// JPEG-compressed TIFF strips over libjpeg. The decoder reads the picture's layout from the
// reader's image properties (held by reference: the TIFF reader moves CurrentRow and
// CurrentStrip between strips) and checks every strip's header against it before decoding.
// Colour pixels come out in blue, green, red order, as the TIFF reader expects.
//
// Library warnings and a strip that ends early are shown through ShowWarning and decoding
// goes on; a fatal library error raises EJPEG ("JPEG error #n"); a strip that does not match
// the layout raises EGraphicCompression.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "readers/codecs/decoder.h"

// What the decoder needs of the reader's image properties.
struct TTIFFJPEGLayout {
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t RowsPerStrip = 0xFFFFFFFFu;  // first entry of the tag; all rows when absent
    uint32_t CurrentRow = 0;
    uint32_t BytesPerLine = 0;
    uint32_t PlanarConfiguration = 1;
    int32_t CurrentStrip = 0;
    int32_t StripCount = 0;
    uint8_t SamplesPerPixel = 0;
    uint8_t BitsPerSample = 0;
    bool YCbCr = false;  // ColorScheme is YCbCr
    std::span<const uint8_t> YCbCrSubsampling;
    std::span<const uint8_t> JPEGTables;
};

template <class T>
concept TImagePropertiesLike = requires(const T& p) {
    p.JPEGTables;
    p.YCbCrSubsampling;
    p.RowsPerStrip;
    p.BytesPerLine;
    p.CurrentStrip;
};

class TTIFFJPEGDecoder : public TDecodeOnly {
public:
    using TLayoutSource = std::function<TTIFFJPEGLayout()>;

    // The source is asked again at DecodeInit and at every Decode.
    explicit TTIFFJPEGDecoder(TLayoutSource layout);

    // From the reader's TImageProperties (or anything with its field names), by reference;
    // the properties must outlive the decoder.
    template <TImagePropertiesLike TProperties>
    explicit TTIFFJPEGDecoder(const TProperties& properties)
        : TTIFFJPEGDecoder(TLayoutSource([&properties] { return LayoutOf(properties); })) {}
    template <TImagePropertiesLike TProperties>
    explicit TTIFFJPEGDecoder(const TProperties&& properties) = delete;

    ~TTIFFJPEGDecoder() override;

    void DecodeInit() override;
    void Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;
    void DecodeEnd() override;

    template <class TProperties>
    static TTIFFJPEGLayout LayoutOf(const TProperties& p) {
        TTIFFJPEGLayout l;
        l.Width = p.Width;
        l.Height = p.Height;
        if (!p.RowsPerStrip.empty()) l.RowsPerStrip = p.RowsPerStrip[0];
        l.CurrentRow = p.CurrentRow;
        l.BytesPerLine = p.BytesPerLine;
        l.PlanarConfiguration = p.PlanarConfiguration;
        l.CurrentStrip = p.CurrentStrip;
        l.StripCount = p.StripCount;
        l.SamplesPerPixel = p.SamplesPerPixel;
        l.BitsPerSample = p.BitsPerSample;
        l.YCbCr = static_cast<int>(p.ColorScheme) == kYCbCrScheme;
        l.YCbCrSubsampling = std::span<const uint8_t>(p.YCbCrSubsampling.data(), p.YCbCrSubsampling.size());
        l.JPEGTables = std::span<const uint8_t>(p.JPEGTables.data(), p.JPEGTables.size());
        return l;
    }

    uint8_t HorizontalSubsampling() const { return FHorSubsampling; }
    uint8_t VerticalSubsampling() const { return FVerSubsampling; }

private:
    static constexpr int kYCbCrScheme = 11;  // ColorScheme's YCbCr value
    struct TLibrary;  // the libjpeg objects; kept out of this header

    void Destroy();

    std::unique_ptr<TLibrary> FLibrary;
    TLayoutSource FLayout;
    uint8_t FHorSubsampling = 1;
    uint8_t FVerSubsampling = 1;
};
