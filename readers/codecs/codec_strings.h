#pragma once
// Every message the codecs raise or show, in one place.

inline constexpr const char* gesLZ77Error = "LZ77 decompression error.";
inline constexpr const char* gesJPEGStripSize = "Improper JPEG strip/tile size.";
inline constexpr const char* gesJPEGComponentCount = "Improper JPEG component count.";
inline constexpr const char* gesJPEGDataPrecision = "Improper JPEG data precision.";
inline constexpr const char* gesJPEGSamplingFactors = "Improper JPEG sampling factors.";
inline constexpr const char* gesJPEGBogusTableField = "Bogus JPEG tables field.";
inline constexpr const char* gesJPEGFractionalLine = "Fractional JPEG scanline unsupported.";
// Shown in a warning box; decoding goes on with what the strip held.
inline constexpr const char* gesJPEGEOI = "JPEG decompression error. Unexpected end of input.";
// Raised by the JPEG-in-TIFF codec for a fatal library error, with the library's message code.
inline constexpr const char* gesJPEGLibraryError = "JPEG error #%d";
