#include "cli/metafile_module.h"

#include <filesystem>
#include <string>

#include "graphics/errors.h"
#include "graphics/opened_library.h"
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
    // QtGui, once started, stays for the life of the process.
    OpenedLibrary library(ModulePath());
    Opened opened;
    auto entry = reinterpret_cast<TMetafilePlayer (*)()>(library.Function(kMetafilePlayerEntry));
    opened.player = entry ? entry() : nullptr;
    opened.failure = library.Failure();
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
