#include "fuzz/picture_harness.h"
#include "readers/cut_reader.h"

// From memory there is no picture path, so no palette file: the gray ramp is used.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunPictureReader<TCUTGraphic>(data, size);
}
