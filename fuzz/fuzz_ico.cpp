#include "fuzz/picture_harness.h"
#include "graphics/platform_graphics.h"
#include "readers/png_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // PNG entries are decoded as in the program, where registering the formats sets this.
    static const bool withPng = (SetIconPngDecoder(&DecodePngData), true);
    (void)withPng;
    return fuzz::RunPictureReader<TIcon>(data, size);
}
