#include "fuzz/harness.h"
#include "readers/codecs/lz77_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunDecoder(data, size, [](fuzz::Params& p) {
        // Named first: function arguments have no fixed order of evaluation.
        const int32_t flushMode = p.pick<int32_t>({1, 4, 0, 2, 7});
        const bool autoReset = p.flag();
        return std::make_unique<TLZ77Decoder>(flushMode, autoReset);
    });
}
