#include "fuzz/picture_harness.h"
#include "graphics/platform_graphics.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunPictureReader<TIcon>(data, size);
}
