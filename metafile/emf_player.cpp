// Enhanced metafiles: records of a 32-bit type and a 32-bit size (a multiple of 4), the first
// being the header with the picture's frame in 0.01 mm and the reference device's size in
// pixels and millimetres. Bitmaps and strings sit at offsets from their record's start.
#include <cmath>

#include "graphics/byte_reader.h"
#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "metafile/gdi_player.h"
#include "metafile/metafile_format.h"

namespace metafile {

namespace {

constexpr double kPixelsPerMm = 96.0 / 25.4;

class EmfReader {
public:
    explicit EmfReader(GdiPlayer& player) : p_(player) {}
    void Record(uint32_t type, std::span<const uint8_t> record);

private:
    static QPointF PointL(ByteReader& r) {
        const double x = r.i32le();
        const double y = r.i32le();
        return {x, y};
    }
    static QSizeF SizeL(ByteReader& r) {
        const double w = r.i32le();
        const double h = r.i32le();
        return {w, h};
    }
    // A destination point and size, read in that order.
    static QRectF PointSize(ByteReader& r) {
        const QPointF at = PointL(r);
        return QRectF(at, SizeL(r));
    }
    static QRectF RectL(ByteReader& r) {
        const double left = r.i32le(), top = r.i32le(), right = r.i32le(), bottom = r.i32le();
        return QRectF(QPointF(left, top), QPointF(right, bottom));
    }
    static QPolygonF Points(ByteReader& r, size_t count, bool small) {
        r.require(count * (small ? 4 : 8));
        QPolygonF poly;
        poly.reserve(static_cast<qsizetype>(count));
        for (size_t i = 0; i < count; ++i) {
            if (small) {
                const double x = r.i16le();
                poly.append(QPointF(x, r.i16le()));
            } else {
                const double x = r.i32le();
                poly.append(QPointF(x, r.i32le()));
            }
        }
        return poly;
    }
    static std::optional<QTransform> Xform(ByteReader& r) {
        double m[6];
        for (double& v : m) v = r.f32le();
        for (double v : m)
            if (!std::isfinite(v)) return std::nullopt;
        return QTransform(m[0], m[1], m[2], m[3], m[4], m[5]);
    }
    // A block at an offset from the record's start.
    static std::span<const uint8_t> Block(std::span<const uint8_t> record, uint32_t offset, uint32_t size) {
        if (size == 0) return {};
        if (offset > record.size() || size > record.size() - offset) throw EReadError(kStreamReadError);
        return record.subspan(offset, size);
    }
    static std::optional<QRegion> RegionData(ByteReader& r, uint32_t size) {
        if (size < 32) return std::nullopt;
        ByteReader d = r.sub(size);
        d.skip(8);  // header size, type
        const uint32_t count = d.u32le();
        d.skip(20);  // region size, bounds
        QRegion region;
        for (uint32_t i = 0; i < count && i < 4096 && d.remaining() >= 16; ++i) {
            const int left = d.i32le(), top = d.i32le(), right = d.i32le(), bottom = d.i32le();
            if (right > left && bottom > top && std::abs(left) < (1 << 28) && std::abs(right) < (1 << 28) &&
                std::abs(top) < (1 << 28) && std::abs(bottom) < (1 << 28))
                region += QRect(left, top, right - left, bottom - top);
        }
        return region;
    }
    void Text(std::span<const uint8_t> record, ByteReader& r, bool wide);

    GdiPlayer& p_;
};

void EmfReader::Text(std::span<const uint8_t> record, ByteReader& r, bool wide) {
    r.skip(16 + 12);  // bounds, graphics mode, x and y scale
    const QPointF reference = PointL(r);
    const uint32_t chars = r.u32le();
    const uint32_t offString = r.u32le();
    const uint32_t options = r.u32le();
    std::optional<QRectF> rect;
    const QRectF box = RectL(r);
    if (!(options & 0x100)) rect = box;  // ETO_NO_RECT
    const uint32_t offDx = r.u32le();
    if (chars > record.size()) throw EReadError(kStreamReadError);
    const auto bytes = Block(record, offString, chars * (wide ? 2 : 1));
    QString text;
    if (wide) {
        text.resize(static_cast<qsizetype>(chars));
        for (uint32_t i = 0; i < chars; ++i) text[i] = QChar(char16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    } else {
        text = QString::fromLatin1(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    }
    std::vector<double> dx;
    if (offDx != 0 && chars > 0) {
        // ETO_PDY: pairs of x and y advances.
        const bool pairs = options & 0x2000;
        try {
            ByteReader d(Block(record, offDx, chars * (pairs ? 8 : 4)));
            for (uint32_t i = 0; i < chars; ++i) {
                dx.push_back(d.i32le());
                if (pairs) d.skip(4);
            }
        } catch (const EImbrixError&) {
            dx.clear();
        }
    }
    p_.TextOut(reference, text, dx, options, rect);
}

void EmfReader::Record(uint32_t type, std::span<const uint8_t> record) {
    ByteReader r(record.subspan(8));
    using Kind = GdiPlayer::ArcKind;
    switch (type) {
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 85:
        case 86:
        case 87:
        case 88:
        case 89: {  // POLYBEZIER, POLYGON, POLYLINE, POLYBEZIERTO, POLYLINETO and their 16-bit forms
            r.skip(16);
            const uint32_t count = r.u32le();
            const QPolygonF points = Points(r, count, type >= 85);
            switch (type >= 85 ? type - 83 : type) {
                case 2: p_.PolyBezier(points, false); break;
                case 3: p_.Polygon(points); break;
                case 4: p_.Polyline(points); break;
                case 5: p_.PolyBezier(points, true); break;
                case 6: p_.PolylineTo(points); break;
            }
            break;
        }
        case 7:
        case 8:
        case 90:
        case 91: {  // POLYPOLYLINE, POLYPOLYGON
            r.skip(16);
            const uint32_t n = r.u32le();
            r.skip(4);  // total points: the counts say it again
            r.require(size_t(n) * 4);
            std::vector<uint32_t> counts(n);
            for (auto& c : counts) c = r.u32le();
            std::vector<QPolygonF> polys;
            for (uint32_t c : counts) polys.push_back(Points(r, c, type >= 90));
            if (type == 7 || type == 90) p_.PolyPolyline(polys);
            else p_.PolyPolygon(polys);
            break;
        }
        case 9: p_.SetWindowExt(PointL(r)); break;
        case 10: p_.SetWindowOrg(PointL(r)); break;
        case 11: p_.SetViewportExt(PointL(r)); break;
        case 12: p_.SetViewportOrg(PointL(r)); break;
        case 15: {  // SETPIXELV
            const QPointF at = PointL(r);
            p_.SetPixel(at, r.u32le());
            break;
        }
        case 17: p_.SetMapMode(static_cast<int>(r.u32le())); break;
        case 18: p_.State().backMode = static_cast<int>(r.u32le()); break;
        case 19: p_.State().polyFillMode = static_cast<int>(r.u32le()); break;
        case 20: p_.State().rop2 = static_cast<int>(r.u32le()); break;
        case 21: p_.State().stretchMode = static_cast<int>(r.u32le()); break;
        case 22: p_.State().textAlign = r.u32le(); break;
        case 24: p_.State().textColor = r.u32le(); break;
        case 25: p_.State().backColor = r.u32le(); break;
        case 26: p_.OffsetClip(PointL(r)); break;
        case 27: p_.MoveTo(PointL(r)); break;
        case 29: p_.ExcludeClipRect(RectL(r)); break;
        case 30: p_.IntersectClipRect(RectL(r)); break;
        case 31:
        case 32: {  // SCALEVIEWPORTEXTEX, SCALEWINDOWEXTEX
            const double xNum = r.i32le(), xDenom = r.i32le(), yNum = r.i32le(), yDenom = r.i32le();
            if (type == 31) p_.ScaleViewportExt(xNum, xDenom, yNum, yDenom);
            else p_.ScaleWindowExt(xNum, xDenom, yNum, yDenom);
            break;
        }
        case 33: p_.SaveDC(); break;
        case 34: p_.RestoreDC(r.i32le()); break;
        case 35:
            if (auto x = Xform(r)) p_.State().world = *x;
            break;
        case 36: {  // MODIFYWORLDTRANSFORM
            const auto x = Xform(r);
            const uint32_t mode = r.u32le();
            if (!x) break;
            QTransform& world = p_.State().world;
            switch (mode) {
                case 1: world = QTransform(); break;
                case 2: world = *x * world; break;
                case 3: world = world * *x; break;
                case 4: world = *x; break;
                default: break;
            }
            break;
        }
        case 37: p_.SelectObject(r.u32le()); break;
        case 38: {  // CREATEPEN
            const uint32_t index = r.u32le();
            LogPen pen;
            pen.style = r.u32le();
            pen.width = std::abs(double(r.i32le()));
            r.skip(4);
            pen.color = r.u32le();
            p_.SetObject(index, pen);
            break;
        }
        case 95: {  // EXTCREATEPEN
            const uint32_t index = r.u32le();
            r.skip(16);  // the pattern bitmap of a pattern pen: drawn in its colour instead
            LogPen pen;
            pen.style = r.u32le();
            pen.width = r.u32le();
            const uint32_t brushStyle = r.u32le();
            pen.color = r.u32le();
            if (brushStyle == 1) pen.style = (pen.style & ~0xFu) | 5;
            // Cosmetic pens are one pixel wide whatever their width says.
            if (!(pen.style & 0x10000)) pen.width = 0;
            p_.SetObject(index, pen);
            break;
        }
        case 39: {  // CREATEBRUSHINDIRECT
            const uint32_t index = r.u32le();
            LogBrush brush;
            brush.style = r.u32le();
            brush.color = r.u32le();
            brush.hatch = r.u32le();
            if (brush.style != 0 && brush.style != 1 && brush.style != 2) brush.style = 0;
            p_.SetObject(index, brush);
            break;
        }
        case 93:
        case 94: {  // CREATEMONOBRUSH, CREATEDIBPATTERNBRUSHPT
            const uint32_t index = r.u32le();
            r.skip(4);  // usage
            const uint32_t offBmi = r.u32le(), cbBmi = r.u32le(), offBits = r.u32le(), cbBits = r.u32le();
            LogBrush brush;
            brush.style = 5;
            brush.pattern = p_.DecodeDib(Block(record, offBmi, cbBmi), Block(record, offBits, cbBits), false, nullptr);
            if (brush.pattern.isNull()) brush.style = 0, brush.color = 0x808080;
            p_.SetObject(index, brush);
            break;
        }
        case 40: p_.DeleteObject(r.u32le()); break;
        case 41: {  // ANGLEARC
            const QPointF c = PointL(r);
            const double radius = r.u32le();
            const double start = r.f32le(), sweep = r.f32le();
            if (!std::isfinite(start) || !std::isfinite(sweep)) break;
            const QRectF box(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
            const double a0 = start * M_PI / 180, a1 = (start + sweep) * M_PI / 180;
            // Through ArcTo: a line from the current position, then the arc, which becomes current.
            const bool clockwise = p_.State().clockwise;
            p_.State().clockwise = sweep < 0;
            p_.ArcShape(Kind::ArcTo, box, c + QPointF(radius * std::cos(a0), -radius * std::sin(a0)),
                        c + QPointF(radius * std::cos(a1), -radius * std::sin(a1)));
            p_.State().clockwise = clockwise;
            break;
        }
        case 42: p_.Ellipse(RectL(r)); break;
        case 43: p_.Rectangle(RectL(r)); break;
        case 44: {
            const QRectF box = RectL(r);
            const QPointF corner = PointL(r);
            p_.RoundRect(box, QSizeF(corner.x(), corner.y()));
            break;
        }
        case 45:
        case 46:
        case 47:
        case 55: {  // ARC, CHORD, PIE, ARCTO
            const QRectF box = RectL(r);
            const QPointF start = PointL(r), end = PointL(r);
            p_.ArcShape(type == 45 ? Kind::Arc : type == 46 ? Kind::Chord : type == 47 ? Kind::Pie : Kind::ArcTo, box,
                        start, end);
            break;
        }
        case 48: p_.SelectPalette(r.u32le()); break;
        case 49: {  // CREATEPALETTE
            const uint32_t index = r.u32le();
            r.skip(2);
            const LogPalette palette = ReadPaletteEntries(r, r.u16le());
            p_.SetObject(index, palette);
            break;
        }
        case 54: p_.LineTo(PointL(r)); break;
        case 57: p_.State().clockwise = r.u32le() == 2; break;
        case 59: p_.BeginPath(); break;
        case 60: p_.EndPath(); break;
        case 61: p_.CloseFigure(); break;
        case 62: p_.FillPath(); break;
        case 63: p_.StrokeAndFillPath(); break;
        case 64: p_.StrokePath(); break;
        case 67: p_.SelectClipPath(static_cast<int>(r.u32le())); break;
        case 68: p_.AbortPath(); break;
        case 71:
        case 74: {  // FILLRGN, PAINTRGN
            r.skip(16);
            const uint32_t size = r.u32le();
            LogBrush brush = p_.State().brush;
            if (type == 71) {
                const uint32_t index = r.u32le();
                const GdiObject object =
                    index & 0x80000000u ? StockObject(index) : p_.Object(index) ? *p_.Object(index) : GdiObject{};
                if (!std::holds_alternative<LogBrush>(object)) break;
                brush = std::get<LogBrush>(object);
            }
            if (auto region = RegionData(r, size)) p_.FillRegion(*region, false, brush);
            break;
        }
        case 75: {  // EXTSELECTCLIPRGN
            const uint32_t size = r.u32le();
            const int mode = static_cast<int>(r.u32le());
            p_.SelectClipRegion(RegionData(r, size), mode);
            break;
        }
        case 76:
        case 77:
        case 114: {  // BITBLT, STRETCHBLT, ALPHABLEND
            r.skip(16);
            const QRectF dest = PointSize(r);
            const uint32_t rop = r.u32le();
            const QPointF src = PointL(r);
            r.skip(24 + 4 + 4);  // source transform, background colour, usage
            const uint32_t offBmi = r.u32le(), cbBmi = r.u32le(), offBits = r.u32le(), cbBits = r.u32le();
            QSizeF srcSize = dest.size();
            if (type != 76) srcSize = SizeL(r);
            if (cbBmi == 0) {
                if (type != 114) p_.PatBlt(dest, rop);
                break;
            }
            DibBlend blend;
            uint32_t drawRop = rop;
            if (type == 114) {
                // BLENDFUNCTION: operation, flags, constant alpha, alpha format (1: per pixel).
                blend.opacity = ((rop >> 16) & 0xFF) / 255.0;
                blend.premultipliedAlpha = (rop >> 24) & 1;
                drawRop = 0x00CC0020;
            }
            p_.DrawDib(dest, Block(record, offBmi, cbBmi), Block(record, offBits, cbBits), QRectF(src, srcSize), false,
                       drawRop, blend);
            break;
        }
        case 78: {  // MASKBLT: the source without its mask
            r.skip(16);
            const QRectF dest = PointSize(r);
            r.skip(4);  // raster operation: the mask's choice between two, drawn as a copy
            const QPointF src = PointL(r);
            r.skip(32);
            const uint32_t offBmi = r.u32le(), cbBmi = r.u32le(), offBits = r.u32le(), cbBits = r.u32le();
            if (cbBmi == 0) break;
            p_.DrawDib(dest, Block(record, offBmi, cbBmi), Block(record, offBits, cbBits), QRectF(src, dest.size()), false,
                       0x00CC0020);
            break;
        }
        case 80:
        case 81: {  // SETDIBITSTODEVICE, STRETCHDIBITS
            r.skip(16);
            const QPointF at = PointL(r);
            const QPointF src = PointL(r);
            const QSizeF srcSize = SizeL(r);
            const uint32_t offBmi = r.u32le(), cbBmi = r.u32le(), offBits = r.u32le(), cbBits = r.u32le();
            const uint32_t usage = r.u32le();
            uint32_t rop = 0x00CC0020;
            QSizeF destSize = srcSize;
            if (type == 81) {
                rop = r.u32le();
                destSize = SizeL(r);
            }
            if (usage != 0) break;  // palette-index colours: not in the file
            if (cbBmi == 0) {
                p_.PatBlt(QRectF(at, destSize), rop);
                break;
            }
            p_.DrawDib(QRectF(at, destSize), Block(record, offBmi, cbBmi), Block(record, offBits, cbBits),
                       QRectF(src, srcSize), true, rop);
            break;
        }
        case 82: {  // EXTCREATEFONTINDIRECTW
            const uint32_t index = r.u32le();
            LogFont font;
            font.height = r.i32le();
            font.width = r.i32le();
            font.escapement = r.i32le();
            r.skip(4);
            font.weight = r.i32le();
            font.italic = r.u8();
            font.underline = r.u8();
            font.strikeout = r.u8();
            font.charset = r.u8();
            r.skip(3);
            font.pitchAndFamily = r.u8();
            for (int i = 0; i < 32 && r.remaining() >= 2; ++i) {
                const uint16_t c = r.u16le();
                if (c == 0) break;
                font.face.append(QChar(char16_t(c)));
            }
            p_.SetObject(index, font);
            break;
        }
        case 83: Text(record, r, false); break;
        case 84: Text(record, r, true); break;
        default: break;  // comments (EMF+ included), colour management and the rest: skipped by length
    }
}

}  // namespace

QImage PlayEmf(std::span<const uint8_t> data) {
    ByteReader r(data);
    if (data.size() < 88) throw EInvalidGraphic("Not an enhanced metafile");
    const uint32_t type = r.u32le();
    const uint32_t headerSize = r.u32le();
    const QRectF bounds = [&] {
        const double l = r.i32le(), t = r.i32le(), rr = r.i32le(), b = r.i32le();
        return QRectF(QPointF(l, t), QPointF(rr, b));
    }();
    const double fl = r.i32le(), ft = r.i32le(), fr = r.i32le(), fb = r.i32le();
    const uint32_t signature = r.u32le();
    if (type != 1 || signature != kEmfSignature || headerSize < 88 || headerSize > data.size())
        throw EInvalidGraphic("Not an enhanced metafile");
    r.skip(12);  // version, bytes, records
    const uint16_t handles = r.u16le();
    r.skip(2 + 12);  // reserved, description, palette entries
    const double devW = r.i32le(), devH = r.i32le(), mmW = r.i32le(), mmH = r.i32le();

    // Reference device pixels to picture pixels at 96 dots per inch.
    const bool deviceKnown = devW > 0 && devH > 0 && mmW > 0 && mmH > 0;
    const double kx = deviceKnown ? kPixelsPerMm * mmW / devW : 1;
    const double ky = deviceKnown ? kPixelsPerMm * mmH / devH : 1;
    double left = fl / 100 * kPixelsPerMm, top = ft / 100 * kPixelsPerMm;
    double width = (fr - fl) / 100 * kPixelsPerMm, height = (fb - ft) / 100 * kPixelsPerMm;
    if (!(width > 0 && height > 0)) {
        // No frame: the bounds, in device pixels, inclusive.
        left = bounds.left() * kx;
        top = bounds.top() * ky;
        width = (bounds.width() + 1) * kx;
        height = (bounds.height() + 1) * ky;
    }
    const int w = static_cast<int>(std::lround(std::min(width, 1e9)));
    const int h = static_cast<int>(std::lround(std::min(height, 1e9)));
    if (!(width > 0 && height > 0) || w <= 0 || h <= 0) throw EInvalidGraphic("The enhanced metafile's picture is empty");
    CheckPictureSize(w, h, 32, 4);

    GdiPlayer player(w, h);
    player.SetDevice(QTransform(kx, 0, 0, ky, -left, -top), 96 / kx, 96 / ky);
    player.ResizeObjects(handles);
    EmfReader reader(player);
    size_t pos = headerSize;
    while (data.size() - pos >= 8) {
        ByteReader head(data.subspan(pos, 8));
        const uint32_t recordType = head.u32le();
        const uint32_t size = head.u32le();
        if (recordType == 14) break;  // EOF
        // A size that cannot step forward, or one past the end of a cut file, ends the picture.
        if (size < 8 || size % 4 != 0 || size > data.size() - pos) break;
        try {
            reader.Record(recordType, data.subspan(pos, size));
        } catch (const EImbrixError&) {
            // A record shorter than its parameters is skipped like an unknown one.
        }
        pos += size;
    }
    return player.Finish();
}

}  // namespace metafile
