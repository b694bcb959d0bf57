// Windows metafiles and enhanced metafiles: one harness for both, since the player tells them
// apart by their first bytes (seeds of each kind in the corpus). Text needs QtGui, which the
// player starts on the offscreen platform.
#include "fuzz/picture_harness.h"
#include "graphics/platform_graphics.h"
#include "metafile/metafile_player.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool installed = [] {
        InstallMetafilePlayer();
        return true;
    }();
    (void)installed;
    return fuzz::RunPictureReader<TMetafile>(data, size);
}
