#include "fuzz/picture_harness.h"
#include "readers/heif_reader.h"

// dav1d (inside libheif) keeps a 40-byte block from some broken AV1 streams; it is not ours to
// free, and a report of it would hide our own leaks' absence behind a false finding.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdav1d.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunPictureReader<THEIFGraphic>(data, size);
}
