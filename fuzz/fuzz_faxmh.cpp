#include "fuzz/harness.h"
#include "readers/codecs/ccitt_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunDecoder(data, size, [](fuzz::Params& p) {
        const bool swap = p.flag(), wordAligned = p.flag();
        return std::make_unique<TCCITTMHDecoder>(0, swap, wordAligned, p.u16() % 5000);
    });
}
