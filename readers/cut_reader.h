#pragma once
// TCUTGraphic: Dr. Halo CUT pictures, 8-bit run-length rows. The colours live in a separate
// palette file beside the picture (same name, extension ".pal" in either letter case); without
// one the picture shows as gray levels.
#include <string>

#include "readers/graphic_reader.h"

class TCUTGraphic final : public TGraphicReader {
    IMBRIX_READER_CLASS()
public:
    // The format has no signature, so nothing can be recognised by content.
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, unsigned imageIndex) override;
    // A file stream names the picture, and so its palette file; for other streams the
    // palette file is PaletteFileName (empty: gray levels).
    void ReadPicture(TStream& stream) override;
    // Sets PaletteFileName from the path, then loads as usual.
    void ReadPictureFile(const std::string& path);

    std::string PaletteFileName;

    // The palette file that belongs to a picture path: its name with the extension ".pal"
    // or ".PAL", or any other letter case of it in the same folder; empty when there is none.
    static std::string FindPaletteFile(const std::string& picturePath);
};
