#include "fuzz/picture_harness.h"
#include "graphics/bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunPictureReader<TBitmap>(data, size);
}
