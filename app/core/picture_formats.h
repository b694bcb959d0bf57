#pragma once
// The start-up registration of every picture class, in one ordered list, and its undoing.

// Fills the picture format table and the readers' format list. Safe to call more than once.
void RegisterPictureFormats();
// The shutdown order of the readers' list.
void UnregisterPictureFormats();
