#pragma once
// TTIFFGraphic: strip-organised TIFF (first image of the file) through the codecs of
// readers/codecs and the colour manager. TEPSGraphic: the TIFF preview behind the binary
// header of an Encapsulated PostScript file; the PostScript is not interpreted.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "readers/graphic_reader.h"

class TTIFFGraphic : public TGraphicReader {
    IMBRIX_READER_CLASS()
public:
    struct TEntry {
        uint16_t Tag = 0;
        uint16_t Type = 0;
        uint32_t Count = 0;
        uint32_t Value = 0;           // the value field as one 32-bit value (the offset), host order
        std::array<uint8_t, 4> Raw{}; // the value field's bytes in file order
    };

    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, unsigned imageIndex) override;
    void ReadPicture(TStream& stream) override;

    uint32_t YCbCrPositioning = 1;
    TFloatArray YCbCrCoefficients{0.299f, 0.587f, 0.114f};

protected:
    // The file from BasePosition on, while a load runs (ReadProperties parses from it).
    std::optional<ByteReader> data_;

private:
    std::vector<TEntry> entries_;

    bool Big() const { return Properties.Options & ImageOption::BigEndian; }
    void ReadDirectory(ByteReader& data, uint32_t offset);
    const TEntry* Find(uint16_t tag) const;
    uint32_t Single(uint16_t tag, uint32_t fallback) const;
    double Number(ByteReader& data, uint16_t tag, double fallback) const;
    TCardinalArray CardinalArray(ByteReader& data, uint16_t tag) const;
    TByteArray ByteArray(ByteReader& data, uint16_t tag) const;
    TFloatArray FloatArray(ByteReader& data, uint16_t tag) const;
    // Element i of an entry's values (in the value field or at its offset), in host order.
    double Element(ByteReader& data, const TEntry& entry, size_t i) const;
    bool ValuesReachable(const ByteReader& data, const TEntry& entry) const;
    // The ICC profile (tag 34675) of RGB and gray pictures, kept on the graphic.
    void ReadEmbeddedProfile(const ByteReader& data);
    bool ParseProperties(ByteReader& data, unsigned imageIndex);
    void BuildPalette(ByteReader& data);
};

class TEPSGraphic : public TTIFFGraphic {
    IMBRIX_READER_CLASS()
public:
    static bool ProbeStream(TStream& stream);
    void ReadPicture(TStream& stream) override;
};
