#include "cli/metafile_module.h"

#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "graphics/errors.h"
#include "metafile/metafile_player.h"

namespace {

// Beside the program, as the build tree and the package both lay it out.
std::string ModulePath() {
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (program.parent_path() / IMBRIX_METAFILE_MODULE).lexically_normal().string();
}

struct Opened {
    TMetafilePlayer player = nullptr;
    std::string failure;
};

Opened Open() {
    Opened opened;
    const std::string path = ModulePath();
    // Never closed: QtGui, once started, stays for the life of the process.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        opened.failure = why ? why : path;
        return opened;
    }
    auto entry = reinterpret_cast<TMetafilePlayer (*)()>(::dlsym(handle, kMetafilePlayerEntry));
    opened.player = entry ? entry() : nullptr;
    if (!opened.player) opened.failure = path + " has no " + kMetafilePlayerEntry;
    return opened;
}

TBitmap PlayThroughModule(std::span<const uint8_t> data) {
    static const Opened opened = Open();
    if (!opened.player)
        throw EInvalidGraphic("Cannot load image. Metafiles are drawn by a module of Imbrix, which could not be loaded (" +
                              opened.failure + ").");
    return opened.player(data);
}

}  // namespace

// LeakSanitizer reads its suppressions from the program only, so the program that opens the
// player carries the player's: fontconfig keeps its caches until the process ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

void InstallMetafileModule() { SetMetafilePlayer(&PlayThroughModule); }
