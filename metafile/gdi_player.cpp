#include "metafile/gdi_player.h"

#include <QFontMetricsF>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "graphics/bitmap.h"
#include "graphics/byte_reader.h"
#include "graphics/dib.h"
#include "graphics/errors.h"
#include "graphics/size_check.h"

namespace metafile {

LogPalette ReadPaletteEntries(ByteReader& r, uint16_t count) {
    r.require(size_t(count) * 4);
    LogPalette palette;
    palette.entries.reserve(count);
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t red = r.u8(), green = r.u8(), blue = r.u8();
        r.skip(1);
        palette.entries.push_back(qRgb(red, green, blue));
    }
    return palette;
}

namespace {

// Deeper save stacks than this are real files' business only in theory; a hostile file of
// nothing but saves would otherwise keep a copy of the state per record.
constexpr size_t kMaxSaveDepth = 1024;
// Bitmaps decoded for one metafile, in pixels: small run-length bitmaps can claim large
// sizes, and a file of many such records must not keep us busy for minutes.
constexpr uint64_t kBitmapPixelBudget = uint64_t(1) << 28;

bool Finite(const QTransform& t) {
    for (double v : {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()})
        if (!std::isfinite(v)) return false;
    return true;
}

// Length in picture pixels of one logical unit along x and y.
double ScaleX(const QTransform& t) { return std::hypot(t.m11(), t.m12()); }
double ScaleY(const QTransform& t) { return std::hypot(t.m21(), t.m22()); }

Qt::BrushStyle HatchStyle(uint32_t hatch) {
    switch (hatch) {
        case 0: return Qt::HorPattern;
        case 1: return Qt::VerPattern;
        case 2: return Qt::FDiagPattern;
        case 3: return Qt::BDiagPattern;
        case 4: return Qt::CrossPattern;
        default: return Qt::DiagCrossPattern;
    }
}

// Raster operations of the bitmap calls, as far as QPainter's composition modes go.
std::optional<QPainter::CompositionMode> SourceRop(uint32_t rop) {
    switch (rop >> 16) {
        case 0xCC: return QPainter::CompositionMode_SourceOver;           // SRCCOPY
        case 0x88: return QPainter::RasterOp_SourceAndDestination;        // SRCAND
        case 0xEE: return QPainter::RasterOp_SourceOrDestination;         // SRCPAINT
        case 0x66: return QPainter::RasterOp_SourceXorDestination;        // SRCINVERT
        case 0x33: return QPainter::RasterOp_NotSource;                   // NOTSRCCOPY
        case 0x44: return QPainter::RasterOp_SourceAndNotDestination;     // SRCERASE
        case 0x11: return QPainter::RasterOp_NotSourceAndNotDestination;  // NOTSRCERASE
        case 0xC0: return QPainter::RasterOp_SourceAndDestination;        // MERGECOPY, near enough
        case 0xBB: return QPainter::RasterOp_NotSourceOrDestination;      // MERGEPAINT
        default: return std::nullopt;
    }
}

bool UsesSource(uint32_t rop) {
    const uint32_t code = (rop >> 16) & 0xFF;
    // A ROP3 code uses the source when it differs between source 0 and 1.
    return ((code >> 2) & 0x33) != (code & 0x33);
}

}  // namespace

GdiObject StockObject(uint32_t index) {
    switch (index & 0x7FFFFFFF) {
        case 0: return LogBrush{0, 0xFFFFFF, 0, {}};
        case 1: return LogBrush{0, 0xC0C0C0, 0, {}};
        case 2: return LogBrush{0, 0x808080, 0, {}};
        case 3: return LogBrush{0, 0x404040, 0, {}};
        case 4: return LogBrush{0, 0x000000, 0, {}};
        case 5: return LogBrush{1, 0, 0, {}};
        case 6: return LogPen{0, 0, 0xFFFFFF};
        case 7: return LogPen{0, 0, 0};
        case 8: return LogPen{5, 0, 0};
        case 10:
        case 11:
        case 16: {
            LogFont f;
            f.face = QStringLiteral("Monospace");
            f.pitchAndFamily = 0x31;
            return f;
        }
        case 12:
        case 13:
        case 14:
        case 17: return LogFont{};
        case 15: return LogPalette{};
        case 18: return LogBrush{0, 0xFFFFFF, 0, {}};
        case 19: return LogPen{0, 0, 0};
        default: return std::monostate{};
    }
}

GdiPlayer::GdiPlayer(int width, int height) : bitmapPixelsLeft_(kBitmapPixelBudget) {
    image_ = QImage(width, height, QImage::Format_RGB32);
    if (image_.isNull()) throw EOutOfResources("Out of memory for the metafile's picture");
    image_.fill(Qt::white);
    painter_.begin(&image_);
    painter_.setRenderHint(QPainter::Antialiasing, true);
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
    // Fonts need a QGuiApplication; without one the text is left out rather than crash.
    canDrawText_ = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    state_.palette = {};
}

GdiPlayer::~GdiPlayer() {
    if (painter_.isActive()) painter_.end();
}

QImage GdiPlayer::Finish() {
    if (painter_.isActive()) painter_.end();
    return std::move(image_);
}

void GdiPlayer::SetDevice(const QTransform& deviceToPicture, double dpiX, double dpiY) {
    device_ = deviceToPicture;
    dpiX_ = dpiX > 0 && std::isfinite(dpiX) ? dpiX : 96;
    dpiY_ = dpiY > 0 && std::isfinite(dpiY) ? dpiY : 96;
}

bool GdiPlayer::AddObject(GdiObject object) {
    for (; firstFree_ < objects_.size(); ++firstFree_) {
        if (std::holds_alternative<std::monostate>(objects_[firstFree_])) {
            objects_[firstFree_++] = std::move(object);
            return true;
        }
    }
    return false;
}

void GdiPlayer::SetObject(uint32_t index, GdiObject object) {
    if (index < objects_.size()) objects_[index] = std::move(object);
}

const GdiObject* GdiPlayer::Object(uint32_t index) const {
    return index < objects_.size() ? &objects_[index] : nullptr;
}

void GdiPlayer::SelectGdiObject(const GdiObject& object) {
    if (auto* pen = std::get_if<LogPen>(&object)) state_.pen = *pen;
    else if (auto* brush = std::get_if<LogBrush>(&object)) state_.brush = *brush;
    else if (auto* font = std::get_if<LogFont>(&object)) state_.font = *font;
    else if (auto* palette = std::get_if<LogPalette>(&object)) state_.palette = palette->entries;
    else if (auto* region = std::get_if<LogRegion>(&object)) SelectClipLogicalRegion(region->region);
}

void GdiPlayer::SelectObject(uint32_t index) {
    if (index & 0x80000000u) {
        SelectGdiObject(StockObject(index));
        return;
    }
    if (const GdiObject* object = Object(index)) SelectGdiObject(*object);
}

void GdiPlayer::SelectPalette(uint32_t index) {
    if (index & 0x80000000u) {
        state_.palette.clear();
        return;
    }
    if (const GdiObject* object = Object(index))
        if (auto* palette = std::get_if<LogPalette>(object)) state_.palette = palette->entries;
}

void GdiPlayer::DeleteObject(uint32_t index) {
    if (index >= objects_.size()) return;
    objects_[index] = std::monostate{};
    firstFree_ = std::min(firstFree_, size_t(index));
}

void GdiPlayer::SaveDC() {
    if (saved_.size() >= kMaxSaveDepth) {
        ++lostSaves_;
        return;
    }
    saved_.push_back(state_);
}

void GdiPlayer::RestoreDC(int which) {
    // Negative: relative to the newest save (-1 the last one); positive: the n-th save.
    size_t depth = saved_.size() + lostSaves_;
    size_t target;
    if (which < 0) {
        const size_t back = static_cast<size_t>(-static_cast<int64_t>(which));
        if (back > depth) return;
        target = depth - back;
    } else {
        if (which == 0 || static_cast<size_t>(which) > depth) return;
        target = static_cast<size_t>(which) - 1;
    }
    while (depth > target + 1 && lostSaves_ > 0) {
        --lostSaves_;
        --depth;
    }
    if (lostSaves_ > 0 && depth == target + 1) {
        --lostSaves_;  // that state was never kept: the current one stands in for it
        return;
    }
    if (target >= saved_.size()) return;
    state_ = saved_[target];
    saved_.resize(target);
}

void GdiPlayer::SetMapMode(int mode) {
    if (mode < kMapText || mode > kMapAnisotropic) return;
    state_.mapMode = mode;
}

void GdiPlayer::SetWindowExt(QPointF e) {
    if (e.x() == 0 || e.y() == 0) return;  // a zero extent would divide by zero; Windows refuses it too
    state_.windowExt = e;
}

void GdiPlayer::SetViewportExt(QPointF e) {
    if (e.x() == 0 || e.y() == 0) return;
    state_.viewportExt = e;
}

void GdiPlayer::ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom) {
    if (xDenom == 0 || yDenom == 0) return;
    SetWindowExt(QPointF(state_.windowExt.x() * xNum / xDenom, state_.windowExt.y() * yNum / yDenom));
}

void GdiPlayer::ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom) {
    if (xDenom == 0 || yDenom == 0) return;
    SetViewportExt(QPointF(state_.viewportExt.x() * xNum / xDenom, state_.viewportExt.y() * yNum / yDenom));
}

QTransform GdiPlayer::Transform() const {
    const DcState& s = state_;
    double sx = 1, sy = 1;
    int mode = s.mapMode;
    if (mode == kMapText && textModeScales_) mode = kMapAnisotropic;
    auto metric = [&](double unitsPerInch) {
        sx = dpiX_ / unitsPerInch;
        sy = -dpiY_ / unitsPerInch;  // the metric mappings count y upwards
    };
    switch (mode) {
        case kMapLoMetric: metric(254); break;
        case kMapHiMetric: metric(2540); break;
        case kMapLoEnglish: metric(100); break;
        case kMapHiEnglish: metric(1000); break;
        case kMapTwips: metric(1440); break;
        case kMapIsotropic:
        case kMapAnisotropic:
            sx = s.viewportExt.x() / s.windowExt.x();
            sy = s.viewportExt.y() / s.windowExt.y();
            if (mode == kMapIsotropic) {
                const double m = std::min(std::fabs(sx), std::fabs(sy));
                sx = std::copysign(m, sx);
                sy = std::copysign(m, sy);
            }
            break;
        default: break;
    }
    const QTransform page(sx, 0, 0, sy, s.viewportOrg.x() - s.windowOrg.x() * sx,
                          s.viewportOrg.y() - s.windowOrg.y() * sy);
    return s.world * page * device_;
}

// ---- clipping ---------------------------------------------------------------------------

namespace {
QRegion DeviceRect(const QTransform& t, const QRectF& logical) {
    const QRectF r = t.mapRect(logical.normalized());
    // Pixels whose centres lie inside, as the fills cover them.
    const int left = static_cast<int>(std::clamp(std::round(r.left()), -1e8, 1e8));
    const int top = static_cast<int>(std::clamp(std::round(r.top()), -1e8, 1e8));
    const int right = static_cast<int>(std::clamp(std::round(r.right()), -1e8, 1e8));
    const int bottom = static_cast<int>(std::clamp(std::round(r.bottom()), -1e8, 1e8));
    if (right <= left || bottom <= top) return {};
    return QRegion(left, top, right - left, bottom - top);
}
}  // namespace

void GdiPlayer::IntersectClipRect(const QRectF& r) {
    const QTransform t = Transform();
    if (!Finite(t)) return;
    const QRegion rect = DeviceRect(t, r);
    state_.clip = state_.clip ? state_.clip->intersected(rect) : rect.intersected(QRegion(image_.rect()));
}

void GdiPlayer::ExcludeClipRect(const QRectF& r) {
    const QTransform t = Transform();
    if (!Finite(t)) return;
    const QRegion base = state_.clip ? *state_.clip : QRegion(image_.rect());
    state_.clip = base.subtracted(DeviceRect(t, r));
}

void GdiPlayer::OffsetClip(QPointF d) {
    if (!state_.clip) return;
    const QTransform t = Transform();
    const QPointF dd = t.map(d) - t.map(QPointF(0, 0));
    if (!std::isfinite(dd.x()) || !std::isfinite(dd.y()) || std::fabs(dd.x()) > 1e8 || std::fabs(dd.y()) > 1e8) return;
    state_.clip->translate(static_cast<int>(std::lround(dd.x())), static_cast<int>(std::lround(dd.y())));
}

void GdiPlayer::SelectClipRegion(const std::optional<QRegion>& deviceRegion, int mode) {
    if (!deviceRegion) {
        if (mode == 5) state_.clip.reset();
        return;
    }
    // Device units of enhanced metafiles are the reference device's pixels.
    QRegion mapped;
    for (const QRect& r : *deviceRegion) mapped += DeviceRect(device_, QRectF(r));
    const QRegion current = state_.clip ? *state_.clip : QRegion(image_.rect());
    switch (mode) {
        case 1: state_.clip = current.intersected(mapped); break;
        case 2: state_.clip = current.united(mapped); break;
        case 3: state_.clip = current.xored(mapped); break;
        case 4: state_.clip = current.subtracted(mapped); break;
        case 5: state_.clip = mapped; break;
        default: break;
    }
}

void GdiPlayer::SelectClipLogicalRegion(const QRegion& logical) {
    const QTransform t = Transform();
    if (!Finite(t)) return;
    QRegion mapped;
    int n = 0;
    for (const QRect& r : logical) {
        if (++n > 4096) break;  // a region of thousands of bands: its outline is enough
        mapped += DeviceRect(t, QRectF(r));
    }
    state_.clip = mapped;
}

void GdiPlayer::ApplyClip() {
    painter_.resetTransform();
    if (state_.clip) painter_.setClipRegion(*state_.clip);
    else painter_.setClipping(false);
}

// ---- pens, brushes, colours -------------------------------------------------------------

QColor GdiPlayer::Color(uint32_t colorRef) const {
    if ((colorRef >> 24) == 1) {  // PALETTEINDEX
        const size_t i = colorRef & 0xFFFF;
        if (i < state_.palette.size()) return QColor(state_.palette[i]);
        return QColor(0, 0, 0);
    }
    return QColor(colorRef & 0xFF, (colorRef >> 8) & 0xFF, (colorRef >> 16) & 0xFF);
}

QPen GdiPlayer::MakePen() const {
    const LogPen& p = state_.pen;
    const uint32_t dash = p.style & 0xF;
    if (dash == 5) return Qt::NoPen;
    QPen pen(Color(p.color));
    switch (dash) {
        case 1: pen.setStyle(Qt::DashLine); break;
        case 2: pen.setStyle(Qt::DotLine); break;
        case 3: pen.setStyle(Qt::DashDotLine); break;
        case 4: pen.setStyle(Qt::DashDotDotLine); break;
        default: pen.setStyle(Qt::SolidLine); break;
    }
    const bool geometric = p.style & 0x10000;
    switch (p.style & 0xF00) {
        case 0x100: pen.setCapStyle(Qt::SquareCap); break;
        case 0x200: pen.setCapStyle(Qt::FlatCap); break;
        default: pen.setCapStyle(Qt::RoundCap); break;
    }
    switch (p.style & 0xF000) {
        case 0x1000: pen.setJoinStyle(Qt::BevelJoin); break;
        case 0x2000: pen.setJoinStyle(Qt::MiterJoin); break;
        default: pen.setJoinStyle(Qt::RoundJoin); break;
    }
    (void)geometric;
    // The width is in logical units; a line never gets thinner than one pixel.
    const QTransform t = Transform();
    const double pixels = std::fabs(p.width) * std::max(ScaleX(t), ScaleY(t));
    if (!(pixels > 1)) {
        pen.setWidthF(0);
        pen.setCosmetic(true);
    } else {
        pen.setWidthF(std::min(std::fabs(p.width), 65536.0));
    }
    return pen;
}

QBrush GdiPlayer::MakeBrush(const LogBrush& b) const {
    QBrush brush;
    switch (b.style) {
        case 1: return Qt::NoBrush;
        case 2: brush = QBrush(Color(b.color), HatchStyle(b.hatch)); break;
        case 3:
        case 5:
        case 6:
            if (b.pattern.isNull()) return QBrush(Color(b.color));
            brush = QBrush(b.pattern);
            break;
        default: return QBrush(Color(b.color));
    }
    // Hatches and patterns are laid out in picture pixels, not in logical units.
    bool invertible = false;
    const QTransform inverse = Transform().inverted(&invertible);
    if (invertible && Finite(inverse)) brush.setTransform(inverse);
    return brush;
}

bool GdiPlayer::PrepareDraw() {
    const QTransform t = Transform();
    if (!Finite(t) || !t.isInvertible()) return false;
    if (state_.rop2 == 11) return false;  // R2_NOP
    ApplyClip();
    switch (state_.rop2) {
        case 7: painter_.setCompositionMode(QPainter::RasterOp_SourceXorDestination); break;
        case 6: painter_.setCompositionMode(QPainter::RasterOp_NotDestination); break;
        case 9: painter_.setCompositionMode(QPainter::RasterOp_SourceAndDestination); break;
        case 15: painter_.setCompositionMode(QPainter::RasterOp_SourceOrDestination); break;
        default: painter_.setCompositionMode(QPainter::CompositionMode_SourceOver); break;
    }
    painter_.setTransform(t);
    return true;
}

void GdiPlayer::FillShape(const QPainterPath& path, bool fill, bool stroke) {
    if (!PrepareDraw()) return;
    if (fill && state_.brush.style != 1) {
        if (state_.brush.style == 2 && state_.backMode == 2) painter_.fillPath(path, Color(state_.backColor));
        painter_.fillPath(path, MakeBrush(state_.brush));
    }
    if (stroke) {
        const QPen pen = MakePen();
        if (pen.style() != Qt::NoPen) painter_.strokePath(path, pen);
    }
}

void GdiPlayer::AddToPathOrDraw(const QPainterPath& figure, bool closed) {
    if (inPath_) {
        path_.addPath(figure);
        return;
    }
    QPainterPath p = figure;
    p.setFillRule(state_.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    FillShape(p, closed, true);
}

// ---- figures ----------------------------------------------------------------------------

void GdiPlayer::MoveTo(QPointF p) {
    state_.current = p;
    if (inPath_) path_.moveTo(p);
}

void GdiPlayer::LineTo(QPointF p) {
    if (inPath_) {
        if (path_.elementCount() == 0) path_.moveTo(state_.current);
        path_.lineTo(p);
    } else {
        QPainterPath line(state_.current);
        line.lineTo(p);
        FillShape(line, false, true);
    }
    state_.current = p;
}

void GdiPlayer::Polyline(const QPolygonF& points) {
    if (points.size() < 2) return;
    QPainterPath p;
    p.addPolygon(points);
    AddToPathOrDraw(p, false);
}

void GdiPlayer::PolylineTo(const QPolygonF& points) {
    if (points.isEmpty()) return;
    if (inPath_) {
        if (path_.elementCount() == 0) path_.moveTo(state_.current);
        for (const QPointF& q : points) path_.lineTo(q);
    } else {
        QPainterPath p(state_.current);
        for (const QPointF& q : points) p.lineTo(q);
        FillShape(p, false, true);
    }
    state_.current = points.back();
}

void GdiPlayer::PolyBezier(const QPolygonF& points, bool fromCurrent) {
    QPainterPath p;
    qsizetype i = 0;
    if (fromCurrent) {
        p.moveTo(state_.current);
    } else {
        if (points.isEmpty()) return;
        p.moveTo(points[0]);
        i = 1;
    }
    for (; i + 2 < points.size(); i += 3) p.cubicTo(points[i], points[i + 1], points[i + 2]);
    if (p.elementCount() < 2) return;
    if (fromCurrent) state_.current = p.currentPosition();
    if (inPath_) {
        if (fromCurrent) {
            if (path_.elementCount() == 0) path_.moveTo(p.elementAt(0));
            for (qsizetype k = 0; k + 2 < points.size(); k += 3) path_.cubicTo(points[k], points[k + 1], points[k + 2]);
        } else {
            path_.addPath(p);
        }
        return;
    }
    FillShape(p, false, true);
}

void GdiPlayer::Polygon(const QPolygonF& points) {
    if (points.size() < 2) return;
    QPainterPath p;
    p.addPolygon(points);
    p.closeSubpath();
    AddToPathOrDraw(p, true);
}

void GdiPlayer::PolyPolygon(const std::vector<QPolygonF>& polygons) {
    QPainterPath p;
    for (const QPolygonF& poly : polygons) {
        if (poly.size() < 2) continue;
        p.addPolygon(poly);
        p.closeSubpath();
    }
    if (p.isEmpty()) return;
    AddToPathOrDraw(p, true);
}

void GdiPlayer::PolyPolyline(const std::vector<QPolygonF>& polylines) {
    QPainterPath p;
    for (const QPolygonF& line : polylines)
        if (line.size() >= 2) p.addPolygon(line);
    if (p.isEmpty()) return;
    AddToPathOrDraw(p, false);
}

void GdiPlayer::Rectangle(const QRectF& r) {
    QPainterPath p;
    p.addRect(r.normalized());
    AddToPathOrDraw(p, true);
}

void GdiPlayer::RoundRect(const QRectF& r, QSizeF corner) {
    QPainterPath p;
    const QRectF n = r.normalized();
    const double rx = std::min(std::fabs(corner.width()) / 2, n.width() / 2);
    const double ry = std::min(std::fabs(corner.height()) / 2, n.height() / 2);
    p.addRoundedRect(n, rx, ry);
    AddToPathOrDraw(p, true);
}

void GdiPlayer::Ellipse(const QRectF& r) {
    QPainterPath p;
    p.addEllipse(r.normalized());
    AddToPathOrDraw(p, true);
}

QPainterPath GdiPlayer::ArcPath(ArcKind kind, const QRectF& box, QPointF start, QPointF end,
                                QPointF* endPoint) const {
    const QRectF r = box.normalized();
    const QPointF c = r.center();
    const double rx = r.width() / 2, ry = r.height() / 2;
    QPainterPath p;
    if (rx <= 0 || ry <= 0) return p;
    // Angles in QPainter's sense (counterclockwise on a y-down page), from the radials.
    auto angle = [&](QPointF q) {
        return std::atan2(-(q.y() - c.y()) / ry, (q.x() - c.x()) / rx) * 180 / std::numbers::pi;
    };
    const double a0 = angle(start);
    double sweep = angle(end) - a0;
    if (state_.clockwise) {
        while (sweep >= 0) sweep -= 360;
    } else {
        while (sweep <= 0) sweep += 360;
    }
    QPainterPath arc;
    arc.arcMoveTo(r, a0);
    const QPointF arcStart = arc.currentPosition();
    switch (kind) {
        case ArcKind::Pie:
            p.moveTo(c);
            p.arcTo(r, a0, sweep);
            p.closeSubpath();
            break;
        case ArcKind::Chord:
            p.moveTo(arcStart);
            p.arcTo(r, a0, sweep);
            p.closeSubpath();
            break;
        case ArcKind::ArcTo:
            p.moveTo(state_.current);
            p.lineTo(arcStart);
            p.arcTo(r, a0, sweep);
            break;
        case ArcKind::Arc:
            p.moveTo(arcStart);
            p.arcTo(r, a0, sweep);
            break;
    }
    if (endPoint) *endPoint = p.currentPosition();
    return p;
}

void GdiPlayer::ArcShape(ArcKind kind, const QRectF& box, QPointF start, QPointF end) {
    QPointF last;
    QPainterPath p = ArcPath(kind, box, start, end, &last);
    if (p.isEmpty()) return;
    if (kind == ArcKind::ArcTo) state_.current = last;
    AddToPathOrDraw(p, kind == ArcKind::Chord || kind == ArcKind::Pie);
}

void GdiPlayer::SetPixel(QPointF p, uint32_t color) {
    if (!PrepareDraw()) return;
    const QPointF d = Transform().map(p);
    painter_.resetTransform();
    if (std::fabs(d.x()) < 1e8 && std::fabs(d.y()) < 1e8)
        painter_.fillRect(QRectF(std::floor(d.x()), std::floor(d.y()), 1, 1), Color(color));
}

void GdiPlayer::FillRegion(const QRegion& region, bool logical, const LogBrush& brush) {
    if (!PrepareDraw()) return;
    QPainterPath p;
    int n = 0;
    for (const QRect& r : region) {
        if (++n > 4096) break;
        p.addRect(logical ? QRectF(r) : device_.mapRect(QRectF(r)));
    }
    if (!logical) painter_.resetTransform();
    painter_.fillPath(p, MakeBrush(brush));
}

// ---- paths ------------------------------------------------------------------------------

void GdiPlayer::BeginPath() {
    inPath_ = true;
    path_ = QPainterPath();
}

void GdiPlayer::AbortPath() {
    inPath_ = false;
    path_ = QPainterPath();
}

void GdiPlayer::CloseFigure() {
    if (inPath_) path_.closeSubpath();
}

void GdiPlayer::FillPath() {
    QPainterPath p = path_;
    p.setFillRule(state_.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    FillShape(p, true, false);
    path_ = QPainterPath();
}

void GdiPlayer::StrokePath() {
    FillShape(path_, false, true);
    path_ = QPainterPath();
}

void GdiPlayer::StrokeAndFillPath() {
    QPainterPath p = path_;
    p.setFillRule(state_.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    FillShape(p, true, true);
    path_ = QPainterPath();
}

void GdiPlayer::SelectClipPath(int mode) {
    const QTransform t = Transform();
    if (!Finite(t)) return;
    QPainterPath p = t.map(path_);
    p.setFillRule(state_.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    path_ = QPainterPath();
    // QRegion of a path is the pixel cover; bound it by the picture first.
    QPainterPath frame;
    frame.addRect(QRectF(image_.rect()));
    const QRegion region(p.intersected(frame).toFillPolygon().toPolygon(), p.fillRule());
    const QRegion current = state_.clip ? *state_.clip : QRegion(image_.rect());
    switch (mode) {
        case 1: state_.clip = current.intersected(region); break;
        case 2: state_.clip = current.united(region); break;
        case 3: state_.clip = current.xored(region); break;
        case 4: state_.clip = current.subtracted(region); break;
        default: state_.clip = region; break;
    }
}

// ---- text -------------------------------------------------------------------------------

void GdiPlayer::TextOut(QPointF reference, const QString& text, const std::vector<double>& dx, uint32_t options,
                        const std::optional<QRectF>& rect) {
    const QTransform t = Transform();
    if (!Finite(t) || !t.isInvertible() || state_.rop2 == 11) return;
    ApplyClip();
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (rect && (options & kTextOpaque)) {
        painter_.setTransform(t);
        painter_.fillRect(rect->normalized(), Color(state_.backColor));
        painter_.resetTransform();
    }
    if (rect && (options & kTextClipped)) {
        const QRegion r = DeviceRect(t, *rect);
        painter_.setClipRegion(state_.clip ? state_.clip->intersected(r) : r);
    }
    if (text.isEmpty() || !canDrawText_) return;

    const LogFont& lf = state_.font;
    const double sx = ScaleX(t), sy = ScaleY(t);
    const double limit = 4.0 * (image_.width() + image_.height()) + 16;
    QFont font(lf.face.isEmpty() ? QStringLiteral("Sans Serif") : lf.face);
    switch (lf.pitchAndFamily & 0xF0) {
        case 0x10: font.setStyleHint(QFont::Serif); break;
        case 0x20: font.setStyleHint(QFont::SansSerif); break;
        case 0x30: font.setStyleHint(QFont::TypeWriter); break;
        case 0x40: font.setStyleHint(QFont::Cursive); break;
        case 0x50: font.setStyleHint(QFont::Decorative); break;
        default: break;
    }
    double em = lf.height == 0 ? 16.0 : std::fabs(lf.height) * sy;
    if (!std::isfinite(em)) return;
    em = std::clamp(em, 1.0, limit);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(em))));
    if (lf.height > 0) {
        // A positive height is the cell height, leading included.
        const QFontMetricsF m(font);
        const double cell = m.ascent() + m.descent();
        if (cell > 0) font.setPixelSize(std::max(1, static_cast<int>(std::lround(std::clamp(em * em / cell, 1.0, limit)))));
    }
    font.setWeight(static_cast<QFont::Weight>(lf.weight <= 0 ? 400 : std::clamp(lf.weight, 100, 900)));
    font.setItalic(lf.italic);
    font.setUnderline(lf.underline);
    font.setStrikeOut(lf.strikeout);
    if (lf.width != 0) {
        const QFontMetricsF m(font);
        const double average = m.averageCharWidth();
        const double wanted = std::fabs(lf.width) * sx;
        if (average > 0 && std::isfinite(wanted))
            font.setStretch(std::clamp(static_cast<int>(std::lround(100 * wanted / average)), 1, 4000));
    }
    const QFontMetricsF metrics(font);

    const bool updateCp = state_.textAlign & kAlignUpdateCp;
    const QPointF origin = t.map(updateCp ? state_.current : reference);
    if (!std::isfinite(origin.x()) || !std::isfinite(origin.y())) return;
    if (std::fabs(origin.x()) > 1e7 || std::fabs(origin.y()) > 1e7) return;

    // Advances in pixels: the file's own when it gives them, else the font's.
    std::vector<double> advances;
    double total = 0;
    const bool useDx = dx.size() >= static_cast<size_t>(text.size());
    if (useDx) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            const double a = std::isfinite(dx[size_t(i)]) ? std::clamp(dx[size_t(i)] * sx, -limit, limit) : 0;
            advances.push_back(a);
            total += a;
        }
    } else {
        total = metrics.horizontalAdvance(text);
    }
    double x = 0, y = 0;
    const uint32_t horizontal = state_.textAlign & 6;
    if (horizontal == kAlignCenter) x = -total / 2;
    else if (horizontal == kAlignRight) x = -total;
    const uint32_t vertical = state_.textAlign & 24;
    if (vertical == kAlignBaseline) y = 0;
    else if (vertical == kAlignBottom) y = -metrics.descent();
    else y = metrics.ascent();

    painter_.setTransform(QTransform::fromTranslate(origin.x(), origin.y()));
    const double degrees = lf.escapement / 10.0;
    if (degrees != 0) painter_.rotate(-degrees);
    painter_.setFont(font);
    if (state_.backMode == 2 && !(rect && (options & kTextOpaque)))
        painter_.fillRect(QRectF(x, y - metrics.ascent(), total, metrics.ascent() + metrics.descent()),
                          Color(state_.backColor));
    painter_.setPen(Color(state_.textColor));
    if (useDx) {
        double pos = x;
        for (qsizetype i = 0; i < text.size(); ++i) {
            qsizetype n = 1;
            if (text[i].isHighSurrogate() && i + 1 < text.size()) n = 2;
            painter_.drawText(QPointF(pos, y), text.mid(i, n));
            for (qsizetype k = 0; k < n; ++k) pos += advances[size_t(i + k)];
            i += n - 1;
        }
    } else {
        painter_.drawText(QPointF(x, y), text);
    }
    if (updateCp) {
        const double rad = degrees * std::numbers::pi / 180;
        const QPointF endDevice = origin + QPointF(total * std::cos(rad), -total * std::sin(rad));
        state_.current = t.inverted().map(endDevice);
    }
}

// ---- bitmaps ----------------------------------------------------------------------------

QImage GdiPlayer::DecodeDib(std::span<const uint8_t> info, std::span<const uint8_t> bits, bool premultipliedAlpha,
                            bool* bottomUp) {
    try {
        ByteReader header(info);
        const DibHeader h = ReadDibHeader(header);
        const uint64_t pixels = uint64_t(h.width) * uint64_t(h.height);
        if (pixels > bitmapPixelsLeft_) return {};
        bitmapPixelsLeft_ -= pixels;
        const std::vector<TRGBQuad> palette = ReadDibPalette(header, h, static_cast<size_t>(-1));
        // Some writers put the pixels right after the palette inside the info block.
        ByteReader pixelsReader(bits.empty() ? info.subspan(header.pos()) : bits);
        TBitmap bitmap = DecodeDibPixels(pixelsReader, h, palette);
        const QImage::Format format = premultipliedAlpha && h.bitCount == 32 ? QImage::Format_ARGB32_Premultiplied
                                      : bitmap.AlphaMeaningful                ? QImage::Format_ARGB32
                                                                              : QImage::Format_RGB32;
        bitmap.SetPixelFormat(TPixelFormat::pf32bit);
        QImage image(bitmap.Width(), bitmap.Height(), format);
        if (image.isNull()) return {};
        for (int y = 0; y < bitmap.Height(); ++y)
            std::memcpy(image.scanLine(y), bitmap.ScanLine(y), size_t(bitmap.Width()) * 4);
        if (bottomUp) *bottomUp = !h.topDown;
        return image;
    } catch (const EImbrixError&) {
        return {};  // a damaged bitmap is left out; the rest of the drawing stands
    }
}

void GdiPlayer::PatBlt(const QRectF& dest, uint32_t rop) {
    if (!PrepareDraw()) return;
    const QRectF r = dest.normalized();
    switch (rop >> 16) {
        case 0x00: painter_.fillRect(r, Qt::black); break;
        case 0xFF: painter_.fillRect(r, Qt::white); break;
        case 0x55:
            painter_.setCompositionMode(QPainter::RasterOp_NotDestination);
            painter_.fillRect(r, Qt::white);
            break;
        case 0x5A:
            painter_.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            painter_.fillRect(r, MakeBrush(state_.brush));
            break;
        case 0xAA: break;  // the destination as it is
        default:
            if (state_.brush.style != 1) painter_.fillRect(r, MakeBrush(state_.brush));
            break;
    }
}

void GdiPlayer::DrawDib(const QRectF& dest, std::span<const uint8_t> info, std::span<const uint8_t> bits,
                        std::optional<QRectF> src, bool srcFromBottom, uint32_t rop, DibBlend blend) {
    if (!UsesSource(rop)) {
        PatBlt(dest, rop);
        return;
    }
    const QTransform t = Transform();
    if (!Finite(t) || state_.rop2 == 11) return;
    const QPointF p0 = t.map(dest.topLeft()), p1 = t.map(dest.bottomRight());
    QRectF target = QRectF(p0, p1).normalized();
    if (!(target.width() > 0 && target.height() > 0)) return;
    // Nothing to decode when the picture would land outside the visible part.
    const QRectF visible = state_.clip ? QRectF(state_.clip->boundingRect()) : QRectF(image_.rect());
    if (!target.intersects(visible)) return;
    bool bottomUp = true;
    QImage image = DecodeDib(info, bits, blend.premultipliedAlpha, &bottomUp);
    if (image.isNull()) return;
    QRectF from(0, 0, image.width(), image.height());
    if (src) {
        QRectF s = src->normalized();
        if (bottomUp && srcFromBottom) s.moveTop(image.height() - s.top() - s.height());
        from = s.intersected(from);
        if (from.isEmpty()) return;
    }
    const bool mirrorX = p1.x() < p0.x(), mirrorY = p1.y() < p0.y();
    if (mirrorX || mirrorY) {
        const QRect whole = from.toAlignedRect();
        image = image.copy(whole).mirrored(mirrorX, mirrorY);
        from = QRectF(0, 0, image.width(), image.height());
    }
    ApplyClip();
    painter_.setCompositionMode(SourceRop(rop).value_or(QPainter::CompositionMode_SourceOver));
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, state_.stretchMode == 4);
    painter_.setOpacity(std::clamp(blend.opacity, 0.0, 1.0));
    painter_.drawImage(target, image, from);
    painter_.setOpacity(1);
}

}  // namespace metafile
