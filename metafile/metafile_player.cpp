#include "metafile/metafile_player.h"

#include <QGuiApplication>
#include <QImage>

#include <cstring>

#include "graphics/byte_reader.h"
#include "graphics/errors.h"
#include "graphics/platform_graphics.h"
#include "metafile/gdi_player.h"
#include "metafile/metafile_format.h"

namespace metafile {

MetafileKind DetectMetafile(std::span<const uint8_t> data) {
    if (data.size() >= 22) {
        ByteReader r(data);
        if (r.u32le() == kPlaceableKey) return MetafileKind::Wmf;
    }
    if (data.size() >= 44) {
        ByteReader r(data);
        const uint32_t type = r.u32le();
        r.seek(40);
        if (type == 1 && r.u32le() == kEmfSignature) return MetafileKind::Emf;
    }
    if (data.size() >= 18) {
        ByteReader r(data);
        const uint16_t type = r.u16le(), words = r.u16le(), version = r.u16le();
        if ((type == 1 || type == 2) && words == 9 && (version == 0x0300 || version == 0x0100)) return MetafileKind::Wmf;
    }
    return MetafileKind::None;
}

}  // namespace metafile

// Fontconfig keeps its caches until the process ends (Qt never finalises it), so in sanitizer
// builds LeakSanitizer would report them at every exit of a program that drew text. This object
// is linked into every program that plays metafiles; elsewhere the function is never called.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

void EnsureGuiApplication() {
    if (QCoreApplication::instance()) return;
    // Kept for the life of the process on purpose: tearing a QGuiApplication down among the
    // other static destructors at exit is not safe.
    static int argc = 3;
    static char name[] = "imbrix", option[] = "-platform", platform[] = "offscreen";
    static char* argv[] = {name, option, platform, nullptr};
    // Start-up chatter of the platform (no XDG_RUNTIME_DIR in a plain shell, and the like) is
    // nothing a user converting a drawing can act on.
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    (void)app;
    qInstallMessageHandler(previous);
}

}  // namespace

TBitmap PlayMetafile(std::span<const uint8_t> data) {
    using namespace metafile;
    const MetafileKind kind = DetectMetafile(data);
    if (kind == MetafileKind::None) throw EInvalidGraphic("Not a Windows metafile or enhanced metafile");
    EnsureGuiApplication();
    const QImage image = kind == MetafileKind::Emf ? PlayEmf(data) : PlayWmf(data);
    TBitmap bitmap(image.width(), image.height(), TPixelFormat::pf24bit);
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        uint8_t* out = bitmap.ScanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            out[3 * x] = static_cast<uint8_t>(qBlue(in[x]));
            out[3 * x + 1] = static_cast<uint8_t>(qGreen(in[x]));
            out[3 * x + 2] = static_cast<uint8_t>(qRed(in[x]));
        }
    }
    return bitmap;
}

void InstallMetafilePlayer() { SetMetafilePlayer(&PlayMetafile); }

extern "C" TMetafilePlayer ImbrixMetafilePlayer() { return &PlayMetafile; }
