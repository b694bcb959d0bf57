#pragma once
// The shared body of the picture-file fuzzers: the whole input is one file, read through the
// picture class from memory and drawn onto a white 24-bit bitmap, whose every byte is read.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/harness.h"
#include "graphics/bitmap.h"
#include "graphics/stream.h"

namespace fuzz {

template <class PictureClass>
int RunPictureReader(const uint8_t* data, size_t size) {
    Setup();
    try {
        PictureClass picture;
        TMemoryStream stream(std::vector<uint8_t>(data, data + size));
        picture.ReadPicture(stream);
        if (!picture.Empty()) {
            TBitmap canvas(picture.Width(), picture.Height(), TPixelFormat::pf24bit);
            picture.Draw(canvas, Rect(0, 0, canvas.Width(), canvas.Height()));
            Touch({canvas.Bits(), canvas.RowStride() * size_t(canvas.Height())});
        }
    } catch (const EImbrixError&) {
        // A refused file is a correct answer.
    }
    return 0;
}

}  // namespace fuzz
