// The whole SGI reader over one file: header, palette, codec and row conversion.
#include "fuzz/picture_harness.h"
#include "readers/sgi_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunPictureReader<TSGIGraphic>(data, size);
}
