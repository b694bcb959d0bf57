#include "readers/heif_library.h"

#include <string>

#include "graphics/errors.h"
#include "graphics/opened_library.h"

namespace {

// The library this build was compiled against: its major version is the one in its file name.
const std::string kFileName = "libheif.so." + std::to_string(LIBHEIF_NUMERIC_VERSION >> 24);

struct Opened {
    HeifLibrary library;
    std::string failure;  // empty once every function is there
};

Opened Open() {
    OpenedLibrary library(kFileName);
    Opened opened;
#define IMBRIX_HEIF_RESOLVE(name) opened.library.name = reinterpret_cast<decltype(&::name)>(library.Function(#name));
    IMBRIX_HEIF_FUNCTIONS(IMBRIX_HEIF_RESOLVE)
#undef IMBRIX_HEIF_RESOLVE
    opened.failure = library.Failure();
    return opened;
}

}  // namespace

const HeifLibrary& Heif() {
    static const Opened opened = Open();
    if (!opened.failure.empty())
        throw EInvalidGraphic("Cannot load image. HEIC, HEIF and AVIF pictures are decoded by libheif, which could not be loaded (" +
                              opened.failure + ").");
    return opened.library;
}
