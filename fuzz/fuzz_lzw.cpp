#include "fuzz/harness.h"
#include "readers/codecs/lzw_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunDecoder(data, size, [](fuzz::Params& p) {
        return std::make_unique<TTIFFLZWDecoder>();
    });
}
