#include "readers/codecs/decoder.h"

#include "graphics/errors.h"

void CompressionError(const char* message) {
    throw EGraphicCompression(message);
}
