// Windows metafiles: an optional 22-byte placeable header (bounds and units per inch), the
// 18-byte metafile header, then records of a 32-bit size in 16-bit words, a function number
// and 16-bit parameters, most of them in reverse order (y before x, bottom before top).
#include <cmath>

#include "graphics/byte_reader.h"
#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "metafile/gdi_player.h"
#include "metafile/metafile_format.h"

namespace metafile {

namespace {

// Windows-1252 for the 8-bit text of the records: Latin-1 but for 0x80..0x9F.
QString DecodeAnsi(std::span<const uint8_t> bytes) {
    static const char16_t high[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                      0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    QString s;
    s.reserve(static_cast<qsizetype>(bytes.size()));
    for (uint8_t b : bytes) s.append(QChar(b >= 0x80 && b < 0xA0 ? high[b - 0x80] : char16_t(b)));
    return s;
}

class WmfReader {
public:
    WmfReader(GdiPlayer& player) : p_(player) {}
    void Record(uint16_t function, uint32_t sizeWords, ByteReader& r);

private:
    double S(ByteReader& r) { return r.i16le(); }
    QPointF YX(ByteReader& r) {
        const double y = S(r);
        const double x = S(r);
        return {x, y};
    }
    // bottom, right, top, left
    QRectF Box(ByteReader& r) {
        const double bottom = S(r), right = S(r), top = S(r), left = S(r);
        return QRectF(QPointF(left, top), QPointF(right, bottom));
    }
    QPolygonF Points(ByteReader& r, size_t count) {
        r.require(count * 4);
        QPolygonF poly;
        poly.reserve(static_cast<qsizetype>(count));
        for (size_t i = 0; i < count; ++i) {
            const double x = S(r);
            const double y = S(r);
            poly.append(QPointF(x, y));
        }
        return poly;
    }
    void Add(GdiObject object) { p_.AddObject(std::move(object)); }

    GdiPlayer& p_;
};

void WmfReader::Record(uint16_t function, uint32_t sizeWords, ByteReader& r) {
    // Bitmap records come with and without their bitmap; without it the record holds just its
    // fixed parameters, as many words as the function number's high byte says.
    const bool noBitmap = sizeWords == uint32_t(function >> 8) + 3;
    switch (function) {
        case 0x0201: p_.State().backColor = r.u32le(); break;  // SETBKCOLOR
        case 0x0102: p_.State().backMode = r.u16le(); break;   // SETBKMODE
        case 0x0103: p_.SetMapMode(r.u16le()); break;          // SETMAPMODE
        case 0x0104: p_.State().rop2 = r.u16le(); break;       // SETROP2
        case 0x0106: p_.State().polyFillMode = r.u16le(); break;
        case 0x0107: p_.State().stretchMode = r.u16le(); break;
        case 0x0209: p_.State().textColor = r.u32le(); break;
        case 0x012E: p_.State().textAlign = r.u16le(); break;
        case 0x020B: p_.SetWindowOrg(YX(r)); break;
        case 0x020C: p_.SetWindowExt(YX(r)); break;
        case 0x020F: {  // OFFSETWINDOWORG
            const QPointF d = YX(r);
            p_.SetWindowOrg(p_.State().windowOrg + d);
            break;
        }
        case 0x0410: {  // SCALEWINDOWEXT
            const double yDenom = S(r), yNum = S(r), xDenom = S(r), xNum = S(r);
            p_.ScaleWindowExt(xNum, xDenom, yNum, yDenom);
            break;
        }
        // The picture is the viewport: the viewport records of a file would only undo the
        // fit to the placeable bounds.
        case 0x020D:
        case 0x020E:
        case 0x0211:
        case 0x0412: break;
        case 0x0213: p_.LineTo(YX(r)); break;
        case 0x0214: p_.MoveTo(YX(r)); break;
        case 0x0415: p_.ExcludeClipRect(Box(r)); break;
        case 0x0416: p_.IntersectClipRect(Box(r)); break;
        case 0x0220: p_.OffsetClip(YX(r)); break;
        case 0x0418: p_.Ellipse(Box(r)); break;
        case 0x041B: p_.Rectangle(Box(r)); break;
        case 0x061C: {  // ROUNDRECT
            const double h = S(r), w = S(r);
            p_.RoundRect(Box(r), QSizeF(w, h));
            break;
        }
        case 0x0817:
        case 0x081A:
        case 0x0830: {  // ARC, PIE, CHORD
            const QPointF end = YX(r), start = YX(r);
            const QRectF box = Box(r);
            p_.ArcShape(function == 0x0817   ? GdiPlayer::ArcKind::Arc
                        : function == 0x081A ? GdiPlayer::ArcKind::Pie
                                             : GdiPlayer::ArcKind::Chord,
                        box, start, end);
            break;
        }
        case 0x041F: {  // SETPIXEL
            const uint32_t color = r.u32le();
            p_.SetPixel(YX(r), color);
            break;
        }
        case 0x0324: p_.Polygon(Points(r, r.u16le())); break;
        case 0x0325: p_.Polyline(Points(r, r.u16le())); break;
        case 0x0538: {  // POLYPOLYGON
            const uint16_t n = r.u16le();
            r.require(size_t(n) * 2);
            std::vector<size_t> counts(n);
            for (auto& c : counts) c = r.u16le();
            std::vector<QPolygonF> polys;
            for (size_t c : counts) polys.push_back(Points(r, c));
            p_.PolyPolygon(polys);
            break;
        }
        case 0x0521: {  // TEXTOUT
            const uint16_t count = r.u16le();
            const auto bytes = r.bytes(count);
            if (count & 1) r.skip(1);
            const QPointF at = YX(r);
            p_.TextOut(at, DecodeAnsi(bytes), {}, 0, std::nullopt);
            break;
        }
        case 0x0A32: {  // EXTTEXTOUT
            const QPointF at = YX(r);
            const uint16_t count = r.u16le();
            const uint16_t options = r.u16le();
            std::optional<QRectF> rect;
            if (options & (kTextOpaque | kTextClipped)) {
                const double left = S(r), top = S(r), right = S(r), bottom = S(r);
                rect = QRectF(QPointF(left, top), QPointF(right, bottom));
            }
            const auto bytes = r.bytes(count);
            if ((count & 1) && r.remaining() > 0) r.skip(1);
            std::vector<double> dx;
            if (r.remaining() >= size_t(count) * 2)
                for (uint16_t i = 0; i < count; ++i) dx.push_back(S(r));
            p_.TextOut(at, DecodeAnsi(bytes), dx, options, rect);
            break;
        }
        case 0x001E: p_.SaveDC(); break;
        case 0x0127: p_.RestoreDC(r.i16le()); break;
        case 0x012D: p_.SelectObject(r.u16le()); break;
        case 0x01F0: p_.DeleteObject(r.u16le()); break;
        case 0x0234: p_.SelectPalette(r.u16le()); break;
        case 0x012C: {  // SELECTCLIPREGION: an empty slot resets the clip
            const GdiObject* object = p_.Object(r.u16le());
            if (object && std::holds_alternative<LogRegion>(*object)) p_.SelectGdiObject(*object);
            else p_.SelectClipRegion(std::nullopt, 5);
            break;
        }
        case 0x0228: {  // FILLREGION
            const GdiObject* region = p_.Object(r.u16le());
            const GdiObject* brush = p_.Object(r.u16le());
            if (region && brush && std::holds_alternative<LogRegion>(*region) && std::holds_alternative<LogBrush>(*brush))
                p_.FillRegion(std::get<LogRegion>(*region).region, true, std::get<LogBrush>(*brush));
            break;
        }
        case 0x012B: {  // PAINTREGION
            const GdiObject* region = p_.Object(r.u16le());
            if (region && std::holds_alternative<LogRegion>(*region))
                p_.FillRegion(std::get<LogRegion>(*region).region, true, p_.State().brush);
            break;
        }
        case 0x02FA: {  // CREATEPENINDIRECT
            LogPen pen;
            pen.style = r.u16le();
            pen.width = std::abs(S(r));
            r.skip(2);
            pen.color = r.u32le();
            Add(pen);
            break;
        }
        case 0x02FC: {  // CREATEBRUSHINDIRECT
            LogBrush brush;
            brush.style = r.u16le();
            brush.color = r.u32le();
            brush.hatch = r.u16le();
            if (brush.style != 0 && brush.style != 1 && brush.style != 2) brush.style = 0;
            Add(brush);
            break;
        }
        case 0x02FB: {  // CREATEFONTINDIRECT
            LogFont font;
            font.height = S(r);
            font.width = S(r);
            font.escapement = r.i16le();
            r.skip(2);  // orientation
            font.weight = r.i16le();
            font.italic = r.u8();
            font.underline = r.u8();
            font.strikeout = r.u8();
            font.charset = r.u8();
            r.skip(3);
            font.pitchAndFamily = r.u8();
            std::string face;
            while (!r.atEnd() && face.size() < 32) {
                const uint8_t c = r.u8();
                if (c == 0) break;
                face.push_back(static_cast<char>(c));
            }
            font.face = DecodeAnsi({reinterpret_cast<const uint8_t*>(face.data()), face.size()});
            Add(font);
            break;
        }
        case 0x00F7: {  // CREATEPALETTE
            r.skip(2);
            const LogPalette palette = ReadPaletteEntries(r, r.u16le());
            Add(palette);
            break;
        }
        case 0x0037: {  // SETPALENTRIES, into the selected palette
            const uint16_t start = r.u16le(), count = r.u16le();
            auto& entries = p_.State().palette;
            for (uint32_t i = 0; i < count; ++i) {
                const uint8_t red = r.u8(), green = r.u8(), blue = r.u8();
                r.skip(1);
                if (start + i < entries.size()) entries[start + i] = qRgb(red, green, blue);
            }
            break;
        }
        case 0x06FF: {  // CREATEREGION: bands of rectangles
            LogRegion region;
            try {
                r.skip(10);  // next in chain, object type, object count, region size
                const uint16_t scans = r.u16le();
                r.skip(2);
                const double left = S(r), top = S(r), right = S(r), bottom = S(r);
                if (scans == 0) region.region = QRegion(QRectF(QPointF(left, top), QPointF(right, bottom)).toRect());
                int rects = 0;
                for (uint16_t s = 0; s < scans && rects < 4096; ++s) {
                    const uint16_t count = r.u16le();
                    const int16_t sTop = r.i16le(), sBottom = r.i16le();
                    for (uint16_t k = 0; k + 1 < count; k += 2, ++rects) {
                        const int16_t sLeft = r.i16le(), sRight = r.i16le();
                        if (sRight > sLeft && sBottom > sTop) region.region += QRect(sLeft, sTop, sRight - sLeft, sBottom - sTop);
                    }
                    r.skip(2);
                }
            } catch (const EImbrixError&) {
                // A cut region keeps the bands read so far; the slot must be taken all the same.
            }
            Add(region);
            break;
        }
        case 0x0142: {  // DIBCREATEPATTERNBRUSH
            const uint16_t style = r.u16le();
            r.skip(2);
            LogBrush brush;
            brush.style = 5;
            if (style == 5) brush.pattern = p_.DecodeDib(r.bytes(r.remaining()), {}, false, nullptr);
            if (brush.pattern.isNull()) brush.style = 0, brush.color = 0x808080;
            Add(brush);
            break;
        }
        case 0x01F9:  // CREATEPATTERNBRUSH: a device bitmap we do not read; the slot still counts
            Add(LogBrush{0, 0x808080, 0, {}});
            break;
        case 0x061D: {  // PATBLT
            const uint32_t rop = r.u32le();
            const double h = S(r), w = S(r);
            const QPointF at = YX(r);
            p_.PatBlt(QRectF(at, QSizeF(w, h)), rop);
            break;
        }
        case 0x0922:
        case 0x0940: {  // BITBLT, DIBBITBLT
            const uint32_t rop = r.u32le();
            const double ySrc = S(r), xSrc = S(r);
            if (noBitmap) r.skip(2);
            const double h = S(r), w = S(r);
            const QPointF at = YX(r);
            const QRectF dest(at, QSizeF(w, h));
            if (noBitmap) p_.PatBlt(dest, rop);
            else if (function == 0x0940)
                p_.DrawDib(dest, r.bytes(r.remaining()), {}, QRectF(xSrc, ySrc, std::abs(w), std::abs(h)), false, rop);
            break;
        }
        case 0x0B23:
        case 0x0B41: {  // STRETCHBLT, DIBSTRETCHBLT
            const uint32_t rop = r.u32le();
            const double srcH = S(r), srcW = S(r), ySrc = S(r), xSrc = S(r);
            if (noBitmap) r.skip(2);
            const double h = S(r), w = S(r);
            const QPointF at = YX(r);
            const QRectF dest(at, QSizeF(w, h));
            if (noBitmap) p_.PatBlt(dest, rop);
            else if (function == 0x0B41)
                p_.DrawDib(dest, r.bytes(r.remaining()), {}, QRectF(xSrc, ySrc, srcW, srcH), false, rop);
            break;
        }
        case 0x0F43: {  // STRETCHDIB
            const uint32_t rop = r.u32le();
            const uint16_t usage = r.u16le();
            const double srcH = S(r), srcW = S(r), ySrc = S(r), xSrc = S(r);
            const double h = S(r), w = S(r);
            const QPointF at = YX(r);
            if (usage != 0) break;  // palette-index colours: not in the file, so not drawn
            p_.DrawDib(QRectF(at, QSizeF(w, h)), r.bytes(r.remaining()), {}, QRectF(xSrc, ySrc, srcW, srcH), true, rop);
            break;
        }
        case 0x0D33: {  // SETDIBTODEV
            const uint16_t usage = r.u16le();
            r.skip(4);  // scan count, start scan
            const double yDib = S(r), xDib = S(r), h = S(r), w = S(r);
            const QPointF at = YX(r);
            if (usage != 0) break;
            p_.DrawDib(QRectF(at, QSizeF(w, h)), r.bytes(r.remaining()), {}, QRectF(xDib, yDib, w, h), true, 0x00CC0020);
            break;
        }
        default: break;  // everything else is skipped by its length
    }
}

struct WmfFrame {
    size_t headerStart = 0;
    bool placeable = false;
    QRectF bounds;  // logical units
    double unitsPerInch = 0;
};

}  // namespace

QImage PlayWmf(std::span<const uint8_t> data) {
    ByteReader r(data);
    WmfFrame frame;
    if (data.size() >= 4 && r.u32le() == kPlaceableKey) {
        frame.placeable = true;
        r.skip(2);  // handle
        const double left = r.i16le(), top = r.i16le(), right = r.i16le(), bottom = r.i16le();
        frame.unitsPerInch = r.u16le();
        r.skip(6);  // reserved, checksum (often wrong in real files, so not checked)
        frame.bounds = QRectF(QPointF(left, top), QPointF(right, bottom));
        frame.headerStart = 22;
    }
    r.seek(std::min(frame.headerStart, data.size()));
    const uint16_t type = r.u16le();
    const uint16_t headerWords = r.u16le();
    if ((type != 1 && type != 2) || headerWords != 9) throw EInvalidGraphic("Not a Windows metafile");
    r.skip(6);  // version, size
    const uint16_t objects = r.u16le();
    r.skip(6);  // largest record, parameter count
    const size_t recordsStart = r.pos();

    auto eachRecord = [&](auto&& visit) {
        size_t pos = recordsStart;
        while (data.size() - pos >= 6) {
            ByteReader head(data.subspan(pos, 6));
            const uint32_t words = head.u32le();
            const uint16_t function = head.u16le();
            if (function == 0) break;  // META_EOF
            // A size below the record's own header cannot step forward; one past the end is
            // a cut file: the picture ends there with what was drawn.
            if (words < 3 || uint64_t(words) * 2 > data.size() - pos) break;
            ByteReader params(data.subspan(pos + 6, size_t(words) * 2 - 6));
            if (!visit(function, words, params)) break;
            pos += size_t(words) * 2;
        }
    };

    int width = 0, height = 0;
    if (frame.placeable) {
        if (frame.unitsPerInch == 0) throw EInvalidGraphic("Invalid metafile header: no units per inch");
        width = static_cast<int>(std::lround(std::fabs(frame.bounds.width()) * 96 / frame.unitsPerInch));
        height = static_cast<int>(std::lround(std::fabs(frame.bounds.height()) * 96 / frame.unitsPerInch));
    } else {
        // No placeable header: the window the records set up is the picture. Office programs
        // count it in twips; a window of more than 4096 units is taken as such.
        std::optional<QPointF> org, ext;
        int mode = kMapAnisotropic;
        eachRecord([&](uint16_t function, uint32_t, ByteReader& p) {
            try {
                if (function == 0x0103) mode = p.u16le();
                else if (function == 0x020B && !org) {
                    const double y = p.i16le();
                    org = QPointF(p.i16le(), y);
                } else if (function == 0x020C && !ext) {
                    const double y = p.i16le();
                    ext = QPointF(p.i16le(), y);
                }
            } catch (const EImbrixError&) {
            }
            return !ext;
        });
        if (!ext || ext->x() == 0 || ext->y() == 0)
            throw EInvalidGraphic("The Windows metafile gives no picture size (no placeable header, no window extent)");
        double unitsPerInch = 96;
        switch (mode) {
            case kMapLoMetric: unitsPerInch = 254; break;
            case kMapHiMetric: unitsPerInch = 2540; break;
            case kMapLoEnglish: unitsPerInch = 100; break;
            case kMapHiEnglish: unitsPerInch = 1000; break;
            case kMapTwips: unitsPerInch = 1440; break;
            default:
                if (std::max(std::fabs(ext->x()), std::fabs(ext->y())) > 4096) unitsPerInch = 1440;
                break;
        }
        frame.bounds = QRectF(org.value_or(QPointF(0, 0)), QSizeF(ext->x(), ext->y()));
        width = static_cast<int>(std::lround(std::fabs(ext->x()) * 96 / unitsPerInch));
        height = static_cast<int>(std::lround(std::fabs(ext->y()) * 96 / unitsPerInch));
    }
    if (width <= 0 || height <= 0) throw EInvalidGraphic("The Windows metafile's picture is empty");
    CheckPictureSize(width, height, 32, 4);

    GdiPlayer player(width, height);
    player.SetTextModeScales(true);
    player.ResizeObjects(objects);
    DcState& s = player.State();
    s.mapMode = kMapAnisotropic;
    s.windowOrg = frame.bounds.topLeft();
    s.windowExt = QPointF(frame.bounds.width(), frame.bounds.height());
    s.viewportOrg = QPointF(0, 0);
    s.viewportExt = QPointF(width, height);
    WmfReader reader(player);
    eachRecord([&](uint16_t function, uint32_t words, ByteReader& params) {
        try {
            reader.Record(function, words, params);
        } catch (const EImbrixError&) {
            // A record shorter than its parameters is skipped like an unknown one.
        }
        return true;
    });
    return player.Finish();
}

}  // namespace metafile
