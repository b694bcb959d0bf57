#pragma once
// What a JPEG file records about showing its picture, outside the compressed data: the EXIF
// orientation (APP1) and the embedded ICC profile (APP2 chunks). Read from the file's bytes
// without libjpeg, so that Width and Height stay header-only and a damaged marker never
// fails a load: whatever cannot be read is left out.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct JpegMetadata {
    int Orientation = 1;               // EXIF orientation 1..8; 1 when absent or not valid
    std::vector<uint8_t> IccProfile;   // the chunks joined in order; empty when none or broken
    std::string IccProblem;            // why chunks that were there could not be joined
};

// The orientation in an EXIF block (the APP1 payload after "Exif\0\0": a TIFF header and its
// first directory), either byte order; 1 when the block has none, or a value outside 1..8.
int ExifOrientation(std::span<const uint8_t> exif);

// Walks the markers from SOI to the first SOS. The first APP1 "Exif" block gives the
// orientation; every APP2 "ICC_PROFILE" chunk is collected, and joined by sequence number when
// they form one complete set (1..n, each once, all saying n).
JpegMetadata ScanJpegMetadata(std::span<const uint8_t> file);
