// The loader for file names without an extension: recognition by the first bytes, then the
// class the format table holds for the type found.
#include "app/core/picture_formats.h"
#include "fuzz/picture_harness.h"
#include "readers/ole_graphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool registered = (RegisterPictureFormats(), true);
    (void)registered;
    return fuzz::RunPictureReader<TOleGraphic>(data, size);
}
