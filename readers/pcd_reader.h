#pragma once
// TPCDGraphic: Kodak Photo-CD image packs, read at the base resolution (768 x 512) and
// turned as the pack's rotation code says. Overview packs (files of thumbnails) are refused.
#include "readers/graphic_reader.h"

class TPCDGraphic final : public TGraphicReader {
    IMBRIX_READER_CLASS()
public:
    static constexpr uint32_t kSectorSize = 2048;
    static constexpr uint32_t kBaseSector = 96;  // where the base resolution starts
    static constexpr uint32_t kHeaderSize = 3 * kSectorSize;
    static constexpr uint32_t kRotationOffset = 3586;

    // More than 6144 bytes left and "PCD_OPA" at 0 or "PCD" at 2048; position kept.
    static bool ProbeStream(TStream& stream);
    // imageIndex is the resolution 0..5 (above 5 counts as 5): (192 << n) x (128 << n).
    bool ReadProperties(TStream& stream, unsigned imageIndex) override;
    void ReadPicture(TStream& stream) override;
};
