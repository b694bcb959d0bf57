#pragma once
// The metafile player: Windows metafiles (with or without the placeable header) and enhanced
// metafiles drawn with QPainter on white, at 96 dots per inch, into a 24-bit bitmap of the
// picture's frame size. This layer may use QtGui; graphics/ only holds the hook it fills.
#include <cstdint>
#include <span>

#include "graphics/bitmap.h"
#include "graphics/platform_graphics.h"

// Installs the player as the metafile class's decoder. The programs call it at start-up,
// beside the picture format registration.
void InstallMetafilePlayer();

// The player itself. Text needs fonts, so a QGuiApplication: when the process has no Qt
// application at all, one on the offscreen platform is made on first use.
TBitmap PlayMetafile(std::span<const uint8_t> data);

// The player's entry point when it is built as a module of its own, which imbrix-batch opens
// only when it meets a metafile: so converting photos does not load and start Qt's GUI
// libraries, over a third of that program's start-up. Returns PlayMetafile.
extern "C" TMetafilePlayer ImbrixMetafilePlayer();
inline constexpr const char* kMetafilePlayerEntry = "ImbrixMetafilePlayer";
