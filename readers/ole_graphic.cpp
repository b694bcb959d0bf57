#include "readers/ole_graphic.h"

#include <algorithm>
#include <cstring>

#include "graphics/errors.h"
#include "graphics/picture.h"
#include "graphics/stream.h"
#include "readers/autodesk_reader.h"
#include "readers/heif_reader.h"
#include "readers/pcd_reader.h"
#include "readers/pcx_reader.h"
#include "readers/png_reader.h"
#include "readers/ppm_reader.h"
#include "readers/psd_reader.h"
#include "readers/psp_reader.h"
#include "readers/rla_reader.h"
#include "readers/sgi_reader.h"
#include "readers/tiff_reader.h"
#include "readers/webp_reader.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TOleGraphic, TGraphic);

namespace {

// Enough for every signature checked here from the bytes themselves.
constexpr size_t kHeadSize = 48;

struct Head {
    uint8_t bytes[kHeadSize] = {};
    size_t size = 0;
    uint64_t streamSize = 0;  // from the head's start to the stream's end
    bool starts(const void* signature, size_t length) const {
        return size >= length && std::memcmp(bytes, signature, length) == 0;
    }
    uint16_t u16le(size_t at) const { return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8)); }
    uint32_t u32le(size_t at) const { return u16le(at) | (uint32_t(u16le(at + 2)) << 16); }
};

bool IsJpeg(const Head& h) { return h.starts("\xFF\xD8\xFF", 3); }
bool IsGif(const Head& h) { return h.starts("GIF87a", 6) || h.starts("GIF89a", 6); }
// The byte order mark and 42. The reader's probe also wants the first directory inside the
// file; a cut-off TIFF should still reach the TIFF reader and get its message.
bool IsTiff(const Head& h) { return h.starts("II*\0", 4) || h.starts("MM\0*", 4); }

// "BM" alone is too common a start; the info header's size must be one a bitmap can have.
bool IsBmp(const Head& h) {
    if (h.size < 18 || !h.starts("BM", 2)) return false;
    const uint32_t info = h.u32le(14);
    return info == 12 || (info >= 16 && info <= 64) || info == 108 || info == 124;
}

// Icons and cursors start 00 00 01 00 (or 02 00) like many other binary files, so the first
// directory entry must also point past the directory at data that is there.
bool IsIcon(const Head& h) {
    if (h.size < 22 || h.u16le(0) != 0 || (h.u16le(2) != 1 && h.u16le(2) != 2)) return false;
    const uint32_t count = h.u16le(4);
    if (count == 0 || h.bytes[9] != 0) return false;
    const uint32_t size = h.u32le(14), offset = h.u32le(18);
    return size > 0 && offset >= 6 + 16 * count && offset < h.streamSize;
}

// A placeable metafile (its 22-byte header first), or a bare one: type 1 (memory) or 2
// (disk), a header of 9 words, version 1.0 or 3.0.
bool IsWmf(const Head& h) {
    if (h.starts("\xD7\xCD\xC6\x9A", 4)) return true;
    if (h.size < 6) return false;
    const uint16_t type = h.u16le(0), words = h.u16le(2), version = h.u16le(4);
    return (type == 1 || type == 2) && words == 9 && (version == 0x0100 || version == 0x0300);
}

// The first record of an enhanced metafile is its header (type 1) with " EMF" at 40.
bool IsEmf(const Head& h) { return h.size >= 44 && h.u32le(0) == 1 && std::memcmp(h.bytes + 40, " EMF", 4) == 0; }

// The portable maps' reader looks at "P1".."P6" only; a text file can start so too, but a
// map always has white space (or a comment) after its magic number.
bool IsPortableMap(const Head& h) {
    if (h.size < 3 || h.bytes[0] != 'P' || h.bytes[1] < '1' || h.bytes[1] > '6') return false;
    const uint8_t c = h.bytes[2];
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '#';
}

struct PictureType {
    const char* extension;
    const char* name;  // as the message names it
    bool (*fromHead)(const Head&);
    bool (*probe)(TStream&);  // a reader's own probe, when fromHead is null
};

// Long, exact signatures first; the readers with a short magic number (SGI, Autodesk, PCX)
// last, so that they cannot take a file that another type recognises for sure.
constexpr PictureType kTypes[] = {
    {"png", "PNG", nullptr, &TPNGGraphic::ProbeStream},
    {"jpg", "JPEG", &IsJpeg, nullptr},
    {"gif", "GIF", &IsGif, nullptr},
    {"tif", "TIFF", &IsTiff, nullptr},
    {"eps", "EPS with a TIFF preview", nullptr, &TEPSGraphic::ProbeStream},
    {"psp", "Paint Shop Pro", nullptr, &TPSPGraphic::ProbeStream},
    {"psd", "Photoshop", nullptr, &TPSDGraphic::ProbeStream},
    {"heic", "HEIC/HEIF/AVIF", nullptr, &THEIFGraphic::ProbeStream},
    {"webp", "WebP", nullptr, &TWebPGraphic::ProbeStream},
    {"emf", "EMF", &IsEmf, nullptr},
    {"wmf", "WMF", &IsWmf, nullptr},
    {"bmp", "BMP", &IsBmp, nullptr},
    {"ico", "ICO", &IsIcon, nullptr},
    {"pcd", "Photo-CD", nullptr, &TPCDGraphic::ProbeStream},
    {"rla", "Wavefront RLA", nullptr, &TRLAGraphic::ProbeStream},
    {"ppm", "PBM/PGM/PPM", &IsPortableMap, nullptr},
    {"sgi", "SGI", nullptr, &TSGIGraphic::ProbeStream},
    {"cel", "Autodesk", nullptr, &TAutodeskGraphic::ProbeStream},
    {"pcx", "PCX", nullptr, &TPCXGraphic::ProbeStream},
};

bool ProbeAt(TStream& stream, uint64_t start, bool (*probe)(TStream&)) {
    bool result = false;
    try {
        result = probe(stream);
    } catch (const EImbrixError&) {
        result = false;  // a probe that runs out of data has not found its format
    }
    stream.SetPosition(start);
    return result;
}

// The portable maps share one reader; the result name tells which kind the file is.
std::string PortableMapExtension(const Head& h) {
    switch (h.bytes[1]) {
        case '1':
        case '4': return "pbm";
        case '2':
        case '5': return "pgm";
        default: return "ppm";
    }
}

}  // namespace

std::string RecognisePictureType(TStream& stream) {
    const uint64_t start = stream.Position();
    Head head;
    head.streamSize = stream.Size() > start ? stream.Size() - start : 0;
    head.size = stream.Read(head.bytes, kHeadSize);
    stream.SetPosition(start);
    for (const PictureType& type : kTypes) {
        const bool match = type.fromHead ? type.fromHead(head) : ProbeAt(stream, start, type.probe);
        if (!match) continue;
        if (type.fromHead == &IsPortableMap) return PortableMapExtension(head);
        return type.extension;
    }
    return {};
}

std::string RecognisePictureFile(const std::string& path) {
    try {
        TFileStream stream(path, TFileStream::Mode::OpenRead);
        return RecognisePictureType(stream);
    } catch (const EImbrixError&) {
        return {};
    }
}

std::string UnrecognisedPictureMessage() {
    std::string names;
    for (const PictureType& type : kTypes) {
        if (!names.empty()) names += ", ";
        names += type.name;
    }
    return "The file has no extension and does not start like a picture this program reads without one (" +
           names + "); Targa and Dr. Halo files need their extension";
}

void TOleGraphic::ReadPicture(TStream& stream) {
    loaded_.reset();
    extension_.clear();
    const uint64_t start = stream.Position();
    const std::string extension = RecognisePictureType(stream);
    if (extension.empty()) throw EInvalidGraphic(UnrecognisedPictureMessage());
    // Through the table, so the class is the one a file with this extension gets (and a
    // class registered later for it, such as a metafile player, is used as soon as it is).
    const TGraphicClass graphicClass = PictureFormatTable().FindPictureClass(extension);
    if (!graphicClass || !graphicClass->create || graphicClass->InheritsFrom(&TOleGraphic::ClassInfo))
        throw EInvalidGraphic(FormatMessage("Unknown picture file extension (.%s)", extension.c_str()));
    std::unique_ptr<TGraphic> picture = graphicClass->create();
    picture->OnProgress = OnProgress;
    stream.SetPosition(start);
    picture->ReadPicture(stream);
    Transparent = picture->Transparent;
    loaded_ = std::move(picture);
    extension_ = extension;
}

void TOleGraphic::Draw(TBitmap& target, const TRect& rect) {
    if (loaded_) loaded_->Draw(target, rect);
}
