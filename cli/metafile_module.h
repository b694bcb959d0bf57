#pragma once
// imbrix-batch draws metafiles with the player module (metafile/CMakeLists.txt), opened the
// first time a metafile is read: most runs convert photos and never pay for loading QtGui.

// Installs, as the metafile class's decoder, a player that opens the module on first use.
// When the module cannot be opened, every metafile fails with a message naming it and why.
void InstallMetafileModule();
