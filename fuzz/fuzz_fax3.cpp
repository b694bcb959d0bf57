#include "fuzz/harness.h"
#include "readers/codecs/ccitt_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunDecoder(data, size, [](fuzz::Params& p) {
        const bool swap = p.flag();
        return std::make_unique<TCCITTFax3Decoder>(0, swap, false, p.u16() % 5000);
    });
}
