#include "fuzz/picture_harness.h"
#include "gif/gif_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunPictureReader<TGIFImage>(data, size);
}
