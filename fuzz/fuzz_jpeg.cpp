#include "fuzz/picture_harness.h"
#include "jpeg/jpeg_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunPictureReader<TJPEGImage>(data, size);
}
