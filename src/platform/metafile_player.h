// Drawing of Windows metafile records with QPainter: the device context that both the
// 16-bit (WMF) and the enhanced (EMF) record decoders drive. Internal to the platform
// layer.
//
// Coordinates pass three stages, as in the Windows graphics device interface: the world
// transform (enhanced metafiles only) takes logical coordinates to page coordinates, the
// window and viewport mapping takes page coordinates to device coordinates, and a fixed
// output transform takes device coordinates to the pixels of the picture.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QString>
#include <QTransform>

namespace platform::metafile {

// Raised for a metafile that cannot be drawn at all.
inline constexpr const char* kInvalidMetafile = "Metafile is not valid";
// Raised for a metafile that asks for more drawing work than the budget allows.
inline constexpr const char* kTooComplex = "Metafile is too complex to draw";

// Region records keep this many rectangles at most: region arithmetic grows with the
// square of the pieces, and the rest are left out rather than making the picture take
// minutes.
inline constexpr size_t kMaxRegionRectangles = 4096;

// What the painter's work costs, in nanoseconds at the worst, measured on a canvas of
// 4096 x 4096 pixels (larger than the processor's caches, as large pictures are).
namespace cost {
// A pixel filled with a colour or by a raster operation; of a hatch, pattern or gradient.
inline constexpr double kFillPixel = 1;
inline constexpr double kTexturePixel = 3;
// A pixel of a picture stretched onto the canvas; of a picture decoded from a record.
inline constexpr double kImagePixel = 12;
inline constexpr double kDecodePixel = 4;
// The rasterizer keeps the edges that cross a row in order: per edge and row, and per
// pair of such edges and row.
inline constexpr double kEdgeRow = 2;
inline constexpr double kEdgePair = 1;
// A pixel of a one-pixel line (a steep line misses the cache at every pixel).
inline constexpr double kLinePixel = 50;
// A point of a path; a pair of points that path arithmetic (clips, regions) meets, where
// crossings of overlapping pieces add points of their own.
inline constexpr double kPathElement = 20;
inline constexpr double kClipPair = 24;
// A clip path that the painter turns into spans: per point and per row of the canvas.
inline constexpr double kClipPoint = 32;
inline constexpr double kClipRow = 16;
// Text: a font looked up and measured, a character shaped and placed, a pixel of its em
// square filled.
inline constexpr double kTextRecord = 20000;
inline constexpr double kGlyph = 500;
inline constexpr double kGlyphPixel = 0.5;
// A state saved or restored; a rectangle of a region read from a record.
inline constexpr double kSavedState = 100;
inline constexpr double kRegionRectangle = 100;
}  // namespace cost

// The work a metafile may ask of the player, counted as it plays. A record costs what the
// painter will do for it, estimated in nanoseconds of this machine's time at the worst
// (pixels filled, edges scanned, pictures decoded and stretched, region and clip
// arithmetic); a file whose records add up to more than the limit fails with kTooComplex.
// The limit is about a second of drawing at the worst, many times what the drawings of
// office and drawing programs ask for.
class WorkBudget {
 public:
  static constexpr double kLimit = 1e9;

  explicit WorkBudget(double limit = kLimit) : limit_(limit) {}
  void Spend(double cost);
  double Used() const { return used_; }

 private:
  double used_ = 0;
  double limit_;
};

// A logical font as the records describe it.
struct LogFont {
  int height = 0;        // < 0: character height, > 0: cell height, 0: default
  int width = 0;
  int escapement = 0;    // tenths of a degree, counter-clockwise
  int weight = 400;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  uint8_t charSet = 0;
  QString faceName;
};

struct GdiObject {
  enum class Kind { None, Pen, Brush, Font, Palette, Region };
  Kind kind = Kind::None;
  // Pen.
  int penStyle = 0;       // PS_* bits
  double penWidth = 0;    // logical units; 0: one device pixel
  bool cosmeticPen = true;
  std::vector<double> dashes;  // user styles, logical units
  // Brush (and the colour of a pen).
  int brushStyle = 0;  // BS_*
  int hatch = 0;
  QColor color = Qt::black;
  QImage pattern;  // BS_PATTERN and DIB pattern brushes
  // Font.
  LogFont font;
  // Palette.
  std::vector<QColor> palette;
  // Region, in device coordinates.
  QPainterPath region;
};

// Objects are shared by the table, the selected state and every saved state: a saved
// state costs a few pointers whatever the objects it holds.
using ObjectRef = std::shared_ptr<const GdiObject>;

enum class ArcKind { Arc, Chord, Pie, ArcTo };

class DeviceContext {
 public:
  enum class Flavour { Wmf, Emf };

  // `output` maps device coordinates to the pixels of a canvas of `canvas` pixels; for
  // enhanced metafiles the reference device's size in pixels and millimetres give the
  // fixed map modes. Without a painter the records are played only to count their work
  // (every decision is taken as when painting, nothing is drawn).
  DeviceContext(QPainter* painter, QSizeF canvas, Flavour flavour, const QTransform& output,
                QSizeF devicePixels = QSizeF(), QSizeF deviceMillimetres = QSizeF());

  // Mapping.
  void SetMapMode(int mode);
  void SetWindowOrg(QPointF origin);
  void SetWindowExt(QSizeF extent);
  void SetViewportOrg(QPointF origin);
  void SetViewportExt(QSizeF extent);
  void OffsetWindowOrg(QPointF offset);
  void OffsetViewportOrg(QPointF offset);
  void ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom);
  void ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom);
  // The rectangle a 16-bit metafile is played into, in output pixels.
  void SetPlaybackViewport(QSizeF extent) { state_.viewportExt = extent; }
  void SetWorldTransform(const QTransform& transform);
  void ModifyWorldTransform(const QTransform& transform, int mode);

  void SaveDC();
  void RestoreDC(int relative);

  // Attributes.
  void SetTextColor(QColor color) { state_.textColor = color; }
  void SetBkColor(QColor color) { state_.bkColor = color; }
  void SetBkMode(int mode) { state_.bkMode = mode; }
  void SetTextAlign(uint32_t align) { state_.textAlign = align; }
  void SetPolyFillMode(int mode) { state_.polyFillMode = mode; }
  void SetRop2(int rop) { state_.rop2 = rop; }
  void SetArcDirection(int direction) { state_.arcClockwise = direction == 2; }
  void SetTextCharExtra(double extra) { state_.charExtra = extra; }
  void SetMiterLimit(double limit) { state_.miterLimit = limit; }

  // Objects. WMF objects take the lowest free slot; EMF records name their slot.
  void CreateObject(GdiObject object);  // WMF
  void CreateObjectAt(uint32_t index, GdiObject object);  // EMF
  void SelectObject(uint32_t index);
  void DeleteObject(uint32_t index);
  // The colour of a palette index in the selected palette (black when there is none).
  QColor PaletteColor(uint32_t index) const;
  const GdiObject* Object(uint32_t index) const;

  // The work done so far; decoders charge the pictures and regions they build.
  WorkBudget& Budget() { return budget_; }

  // Drawing, in logical coordinates.
  void MoveTo(QPointF point);
  void LineTo(QPointF point);
  void Polyline(const QPolygonF& points);
  void PolylineTo(const QPolygonF& points);
  void Polygon(const QPolygonF& points);
  void PolyPolygon(const std::vector<QPolygonF>& polygons);
  void PolyPolyline(const std::vector<QPolygonF>& polylines);
  void PolyBezier(const QPolygonF& points);
  void PolyBezierTo(const QPolygonF& points);
  void Rectangle(const QRectF& box);
  void RoundRect(const QRectF& box, QSizeF corner);
  void Ellipse(const QRectF& box);
  void Arc(const QRectF& box, QPointF start, QPointF end, ArcKind kind);
  void AngleArc(QPointF center, double radius, double startDegrees, double sweepDegrees);
  void SetPixel(QPointF point, QColor color);
  // A rectangle filled by a raster operation with the brush (PATCOPY, BLACKNESS ...).
  void PatBlt(const QRectF& box, uint32_t rop);
  // A picture stretched from `source` (picture pixels) onto `box` (logical).
  void DrawImage(const QRectF& box, const QImage& image, const QRectF& source, uint32_t rop);
  // Text at a reference point; `dx` holds the advance of each character in logical units
  // (empty: the font's own advances).
  void TextOut(QPointF reference, const QString& text, uint32_t options,
               std::optional<QRectF> rect, std::span<const double> dx);
  // A region (device coordinates) filled with a brush object or the selected brush.
  void FillRegion(const QPainterPath& region, std::optional<uint32_t> brush);
  void FrameRegion(const QPainterPath& region, std::optional<uint32_t> brush, QSizeF size);
  void InvertRegion(const QPainterPath& region);
  // A shape (logical coordinates) filled with a brush of its own (gradients).
  void FillGradient(const QPainterPath& shape, const QBrush& brush);

  // Path brackets.
  void BeginPath();
  void EndPath() { state_.pathOpen = false; }
  void AbortPath();
  void CloseFigure();
  void FillPath();
  void StrokePath();
  void StrokeAndFillPath();
  void SelectClipPath(int mode);

  // Clipping.
  void IntersectClipRect(const QRectF& box);
  void ExcludeClipRect(const QRectF& box);
  void SelectClipRegion(std::optional<QPainterPath> region, int mode);  // device coords
  void OffsetClipRegion(QPointF offset);

  // The transform from logical coordinates to output pixels, and to device coordinates.
  QTransform Total() const;
  QTransform LogicalToDevice() const;
  // The painted area in output pixels.
  QRectF OutputBounds() const;

 private:
  struct State {
    int mapMode = 1;
    QPointF windowOrg, viewportOrg;
    QSizeF windowExt{1, 1}, viewportExt{1, 1};
    QTransform world;
    QPointF current;
    // The selected objects; deleting an object from the table leaves these in use.
    ObjectRef pen, brush, font, palette;
    QColor textColor = Qt::black, bkColor = Qt::white;
    int bkMode = 2;  // OPAQUE
    uint32_t textAlign = 0;
    int polyFillMode = 1;  // ALTERNATE
    int rop2 = 13;         // R2_COPYPEN
    bool arcClockwise = false;
    double charExtra = 0;
    double miterLimit = 10;
    std::optional<QPainterPath> clip;  // output pixels
    int64_t clipId = 0;  // a number for each clip the state has had
    bool pathOpen = false;
  };

  static constexpr uint32_t kStock = 0x80000000u;

  QPen CurrentPen() const;
  QBrush CurrentBrush() const;
  QBrush BrushOf(const GdiObject& object) const;
  bool PenVisible() const;
  bool BrushVisible() const;
  // Prepares the painter for drawing with the raster operation; false when nothing is to
  // be drawn (R2_NOP).
  bool Begin(bool forText = false);
  // The painter's clip set to the state's, when it is not already.
  void ApplyPainterClip();
  // Charges for filling or stroking a path in output pixels.
  void ChargeFill(const QPainterPath& path, const QBrush& brush);
  void ChargeStroke(const QPainterPath& path, const QPen& pen);
  // Charges for combining the clip with another area.
  void ChargeClipOperation(const QPainterPath& area, int mode);
  void SetClip(std::optional<QPainterPath> clip);
  QPolygonF ClosedPolygon(const QPolygonF& points) const;
  void PathMoveTo(QPointF logical);
  void PathLineTo(QPointF logical);
  void PathCubicTo(QPointF c1, QPointF c2, QPointF end);
  void DrawShape(const QPainterPath& path, bool fill, bool stroke);
  void FillOutputPath(const QPainterPath& path, const QBrush& brush);
  void StrokeOutputPath(const QPainterPath& path);
  void ApplyClip(const QPainterPath& area, int mode);
  QPainterPath OutputPath(const QPainterPath& logical) const;
  QRectF NormalizedBox(const QRectF& box) const;
  QPainterPath ArcPath(const QRectF& box, QPointF start, QPointF end, ArcKind kind,
                       QPointF* endPoint) const;

  QPainter* painter_;
  QSizeF canvas_;
  Flavour flavour_;
  QTransform output_;
  QSizeF devicePixels_, deviceMillimetres_;
  State state_;
  std::vector<State> saved_;
  std::vector<ObjectRef> objects_;
  std::set<uint32_t> freeSlots_;  // WMF: empty slots below objects_.size()
  std::vector<ObjectRef> stock_;
  WorkBudget budget_;
  // The painter's clip is set again only when the state's clip is another one than the
  // painter holds (-1: the painter's clip is none of the state's).
  int64_t lastClipId_ = 0;
  int64_t painterClipId_ = -1;
  QPainterPath path_;  // output pixels
  bool pathHasFigure_ = false;
  // A colour that the raster operation forces on pens and brushes (R2_BLACK, R2_WHITE).
  std::optional<QColor> ropColor_;
};

// Colours in the records: red, green, blue and a flag byte (1: a palette index).
QColor ColorRef(uint32_t value, const DeviceContext& dc);

// A packed device-independent bitmap (header, colour table and pixels) as a picture;
// a null image when it cannot be decoded. `bits` may lie apart from the header (enhanced
// metafiles); an empty span means the pixels follow the colour table. The decoding is
// charged to `budget` before it is done.
QImage DecodeDib(std::span<const uint8_t> info, std::span<const uint8_t> bits,
                 WorkBudget& budget);

// Text of an 8-bit string in a font's character set.
QString DecodeText(std::span<const uint8_t> bytes, uint8_t charSet);

// Plays the records of a 16-bit metafile (starting at its header) into `dc`.
void PlayWmf(std::span<const uint8_t> records, DeviceContext& dc);
// Plays the records of an enhanced metafile (starting at its header record).
void PlayEmf(std::span<const uint8_t> records, DeviceContext& dc);

}  // namespace platform::metafile
