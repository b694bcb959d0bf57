#include "fuzz/picture_harness.h"
#include "readers/ppm_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunPictureReader<TPPMGraphic>(data, size);
}
