#include "fuzz/picture_harness.h"
#include "readers/webp_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunPictureReader<TWebPGraphic>(data, size);
}
