#pragma once
// Every message the readers and the colour manager show, in one place. Texts with %s are
// filled in with FormatMessage / RaiseReaderErrorFmt.

// Reader failures (EInvalidGraphic).
inline constexpr const char* gesInvalidImage = "Cannot load image. Invalid or unexpected %s image format.";
inline constexpr const char* gesInvalidColorFormat = "Invalid color format in %s file.";
inline constexpr const char* gesStreamReadError = "Stream read error in %s file.";
inline constexpr const char* gesUnsupportedFeature = "Cannot load image. %s not supported for %s files.";
inline constexpr const char* gesCompressionScheme = "The compression scheme is";
inline constexpr const char* gesOverviewPacks = "Overview packs are";  // Photo-CD thumbnail files
inline constexpr const char* gesInvalidCRC = "Cannot load image. CRC error found in %s file.";
inline constexpr const char* gesCompression = "Cannot load image. Compression error found in %s file.";
inline constexpr const char* gesExtraCompressedData = "Cannot load image. Extra compressed data found in %s file.";
inline constexpr const char* gesInvalidPalette = "Cannot load image. Palette in %s file is invalid.";
// A warning (the picture is kept as far as it was read).
inline constexpr const char* gesTruncatedImageData = "The image data of the %s file ends early: the rest of the picture is missing.";
inline constexpr const char* gesUnknownCriticalChunk = "Cannot load PNG image. Unexpected but critical chunk detected.";

// Format labels inserted into the messages above.
inline constexpr const char* gesAutodeskLabel = "Autodesk";
inline constexpr const char* gesSGILabel = "sgi, bw or rgb(a)";
inline constexpr const char* gesTIFFLabel = "TIF/TIFF";
inline constexpr const char* gesEPSLabel = "EPS";
inline constexpr const char* gesPCXLabel = "PCX";
inline constexpr const char* gesPCXOrSCRLabel = "PCX or SCR";
inline constexpr const char* gesPortableMapLabel = "PBM, PGM or PPM";
inline constexpr const char* gesPPMLabel = "PPM";
inline constexpr const char* gesPCDLabel = "Photo-CD";
inline constexpr const char* gesPSDLabel = "PSD or PDD";
inline constexpr const char* gesPSPLabel = "PSP";
inline constexpr const char* gesPNGLabel = "PNG";

// Progress stage texts.
inline constexpr const char* gesPreparing = "Preparing...";
inline constexpr const char* gesLoadingData = "Loading data...";
inline constexpr const char* gesUpsampling = "Upsampling...";
inline constexpr const char* gesTransfering = "Transfering...";

// Colour manager failures (EColorConversionError).
inline constexpr const char* gesInvalidColorDepth =
    "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
inline constexpr const char* gesInvalidSampleCount =
    "Sample count per pixel does not correspond to the given color scheme.";
inline constexpr const char* gesIndexedNotSupported =
    "Conversion between indexed and non-indexed pixel formats is not supported.";
inline constexpr const char* gesConversionUnsupported = "Color conversion failed. Could not find a proper method.";
inline constexpr const char* gesInvalidSubSampling = "Subsampling value is invalid. Allowed are 1, 2 and 4.";
inline constexpr const char* gesVerticalSubSamplingError =
    "Vertical subsampling value must be <= horizontal subsampling value.";
