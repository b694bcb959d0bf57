#include "readers/heif_library.h"

#include <dlfcn.h>

#include <string>

#include "graphics/errors.h"

namespace {

// The library this build was compiled against: its major version is the one in its file name.
const std::string kFileName = "libheif.so." + std::to_string(LIBHEIF_NUMERIC_VERSION >> 24);

struct Opened {
    HeifLibrary library;
    std::string failure;  // empty once every function is there
};

Opened Open() {
    Opened opened;
    // Never closed: pictures decoded by it may be in use until the program ends.
    void* handle = ::dlopen(kFileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        opened.failure = why ? why : kFileName;
        return opened;
    }
#define IMBRIX_HEIF_RESOLVE(name)                                                              \
    opened.library.name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name));        \
    if (!opened.library.name) {                                                                \
        opened.failure = kFileName + " has no " #name;                                          \
        return opened;                                                                         \
    }
    IMBRIX_HEIF_FUNCTIONS(IMBRIX_HEIF_RESOLVE)
#undef IMBRIX_HEIF_RESOLVE
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
