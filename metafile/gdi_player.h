#pragma once
// The drawing state of a Windows device context and the objects it selects, played onto a
// QImage with QPainter. The WMF and EMF record readers both drive this one player, so the
// two formats draw alike: they differ in how records are laid out, hardly in what they mean.
#include <QBrush>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QRegion>
#include <QString>
#include <QTransform>

#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

class ByteReader;

namespace metafile {

// Mapping modes.
enum : int {
    kMapText = 1,
    kMapLoMetric = 2,
    kMapHiMetric = 3,
    kMapLoEnglish = 4,
    kMapHiEnglish = 5,
    kMapTwips = 6,
    kMapIsotropic = 7,
    kMapAnisotropic = 8
};

// Text alignment flags.
enum : uint32_t {
    kAlignUpdateCp = 1,
    kAlignRight = 2,
    kAlignCenter = 6,
    kAlignBottom = 8,
    kAlignBaseline = 24,
};

// Text output options.
enum : uint32_t { kTextOpaque = 2, kTextClipped = 4 };

struct LogPen {
    uint32_t style = 0;  // PS_*: dash style in the low nibble, caps and joins above
    double width = 0;    // logical units; 0 is one pixel whatever the mapping
    uint32_t color = 0;
};

struct LogBrush {
    uint32_t style = 0;  // BS_SOLID 0, BS_NULL 1, BS_HATCHED 2, pattern 3, DIB pattern 5 and 6
    uint32_t color = 0xFFFFFF;
    uint32_t hatch = 0;
    QImage pattern;
};

struct LogFont {
    double height = 0;  // negative: character height; positive: cell height; 0: default
    double width = 0;
    int escapement = 0;  // tenths of a degree, counterclockwise
    int weight = 400;
    bool italic = false, underline = false, strikeout = false;
    uint8_t charset = 0;
    uint8_t pitchAndFamily = 0;
    QString face;
};

struct LogPalette {
    std::vector<QRgb> entries;
};

// A region object of a Windows metafile, in logical units.
struct LogRegion {
    QRegion region;
};

using GdiObject = std::variant<std::monostate, LogPen, LogBrush, LogFont, LogPalette, LogRegion>;

struct DcState {
    int mapMode = kMapText;
    QPointF windowOrg{0, 0}, windowExt{1, 1}, viewportOrg{0, 0}, viewportExt{1, 1};
    QTransform world;
    LogPen pen;
    LogBrush brush;
    LogFont font;
    std::vector<QRgb> palette;
    uint32_t textColor = 0, backColor = 0xFFFFFF;
    int backMode = 2;      // OPAQUE
    int polyFillMode = 1;  // ALTERNATE
    int rop2 = 13;         // R2_COPYPEN
    int stretchMode = 3;   // COLORONCOLOR: nearest pixel; HALFTONE (4) smooths
    uint32_t textAlign = 0;
    bool clockwise = false;  // arc direction
    QPointF current{0, 0};
    std::optional<QRegion> clip;  // picture pixels; none: the whole picture
};

// Stock objects of enhanced metafiles (index with the top bit set).
GdiObject StockObject(uint32_t index);

// How a bitmap is laid over the picture: per-pixel alpha (premultiplied, as AlphaBlend has
// it) and a constant opacity.
struct DibBlend {
    bool premultipliedAlpha = false;
    double opacity = 1;
};

// count palette entries as both formats store them (red, green, blue, flags), read from r.
LogPalette ReadPaletteEntries(ByteReader& r, uint16_t count);

class GdiPlayer {
public:
    // A white picture of width x height pixels; deviceTransform maps device units to it.
    GdiPlayer(int width, int height);
    ~GdiPlayer();
    GdiPlayer(const GdiPlayer&) = delete;
    GdiPlayer& operator=(const GdiPlayer&) = delete;

    QImage Finish();

    DcState& State() { return state_; }
    // Device units to picture pixels, and the device's resolution for the metric mappings.
    void SetDevice(const QTransform& deviceToPicture, double dpiX, double dpiY);
    // Windows metafiles treat MM_TEXT like the anisotropic mapping: their picture is the viewport.
    void SetTextModeScales(bool scales) { textModeScales_ = scales; }

    // The object table. Indices outside it are ignored, as is selecting an empty slot.
    void ResizeObjects(size_t count) { objects_.resize(count); }
    size_t ObjectCount() const { return objects_.size(); }
    // The lowest free slot (Windows metafiles); false when the table is full.
    bool AddObject(GdiObject object);
    void SetObject(uint32_t index, GdiObject object);
    void SelectObject(uint32_t index);
    void SelectGdiObject(const GdiObject& object);
    void DeleteObject(uint32_t index);
    void SelectPalette(uint32_t index);
    const GdiObject* Object(uint32_t index) const;

    void SaveDC();
    void RestoreDC(int which);

    // Coordinate mapping.
    void SetMapMode(int mode);
    void SetWindowOrg(QPointF p) { state_.windowOrg = p; }
    void SetWindowExt(QPointF e);
    void SetViewportOrg(QPointF p) { state_.viewportOrg = p; }
    void SetViewportExt(QPointF e);
    void ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom);
    void ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom);
    QTransform Transform() const;  // logical units to picture pixels

    // Clipping, in logical units; regions in device units.
    void IntersectClipRect(const QRectF& r);
    void ExcludeClipRect(const QRectF& r);
    void OffsetClip(QPointF d);
    // mode: RGN_AND 1, RGN_OR 2, RGN_XOR 3, RGN_DIFF 4, RGN_COPY 5; no region resets with COPY.
    void SelectClipRegion(const std::optional<QRegion>& deviceRegion, int mode);
    void SelectClipLogicalRegion(const QRegion& logical);

    // Drawing, in logical units. Inside a path bracket the figures go to the path instead.
    void MoveTo(QPointF p);
    void LineTo(QPointF p);
    void Polyline(const QPolygonF& points);
    void PolylineTo(const QPolygonF& points);
    void PolyBezier(const QPolygonF& points, bool fromCurrent);
    void Polygon(const QPolygonF& points);
    void PolyPolygon(const std::vector<QPolygonF>& polygons);
    void PolyPolyline(const std::vector<QPolygonF>& polylines);
    void Rectangle(const QRectF& r);
    void RoundRect(const QRectF& r, QSizeF corner);
    void Ellipse(const QRectF& r);
    enum class ArcKind { Arc, Chord, Pie, ArcTo };
    void ArcShape(ArcKind kind, const QRectF& box, QPointF start, QPointF end);
    void SetPixel(QPointF p, uint32_t color);
    void FillRegion(const QRegion& deviceOrLogical, bool logical, const LogBrush& brush);

    // Paths (enhanced metafiles).
    void BeginPath();
    void EndPath() { inPath_ = false; }
    void AbortPath();
    void CloseFigure();
    void FillPath();
    void StrokePath();
    void StrokeAndFillPath();
    void SelectClipPath(int mode);

    // Text at a logical reference point; dx are the logical advances of each character.
    void TextOut(QPointF reference, const QString& text, const std::vector<double>& dx, uint32_t options,
                 const std::optional<QRectF>& rect);

    // A DIB (header with palette, and its pixel bits; bits empty: they follow the palette in
    // info) into a logical rectangle. src is in the DIB's pixels, from the top left, or with
    // srcFromBottom from the lower left for bottom-up pictures as the DIB calls count; empty: all.
    void DrawDib(const QRectF& dest, std::span<const uint8_t> info, std::span<const uint8_t> bits,
                 std::optional<QRectF> src, bool srcFromBottom, uint32_t rop, DibBlend blend = {});
    // A raster operation without a source bitmap (PatBlt).
    void PatBlt(const QRectF& dest, uint32_t rop);

    QColor Color(uint32_t colorRef) const;
    // The picture pattern of a DIB pattern brush; empty when it cannot be read.
    QImage DecodeDib(std::span<const uint8_t> info, std::span<const uint8_t> bits, bool premultipliedAlpha,
                     bool* bottomUp);

private:
    bool PrepareDraw();
    void ApplyClip();
    QPen MakePen() const;
    QBrush MakeBrush(const LogBrush& b) const;
    void FillShape(const QPainterPath& path, bool fill, bool stroke);
    void AddToPathOrDraw(const QPainterPath& figure, bool closed);
    QPainterPath ArcPath(ArcKind kind, const QRectF& box, QPointF start, QPointF end, QPointF* endPoint) const;

    QImage image_;
    QPainter painter_;
    DcState state_;
    std::vector<DcState> saved_;
    size_t lostSaves_ = 0;  // saves beyond the depth limit, so their restores stay paired
    std::vector<GdiObject> objects_;
    size_t firstFree_ = 0;  // no free slot below this one
    QTransform device_;
    double dpiX_ = 96, dpiY_ = 96;
    bool textModeScales_ = false;
    bool inPath_ = false;
    QPainterPath path_;
    bool canDrawText_ = false;
    uint64_t bitmapPixelsLeft_;
};

// Reads a Windows metafile (placeable or not) or an enhanced metafile and plays it.
QImage PlayWmf(std::span<const uint8_t> data);
QImage PlayEmf(std::span<const uint8_t> data);

}  // namespace metafile
