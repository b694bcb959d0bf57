#include "fuzz/picture_harness.h"
#include "readers/psd_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunPictureReader<TPSDGraphic>(data, size);
}
