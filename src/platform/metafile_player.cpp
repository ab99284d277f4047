#include "platform/metafile_player.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QStringDecoder>

#include "pictures/bitmap.h"
#include "base/error.h"
#include "pictures/formats/windows_bitmap.h"
#include "pictures/stream.h"

namespace platform::metafile {

namespace {

// Pen styles.
constexpr int kPsStyleMask = 0x0F;
constexpr int kPsDash = 1, kPsDot = 2, kPsDashDot = 3, kPsDashDotDot = 4, kPsNull = 5,
              kPsUserStyle = 7, kPsAlternate = 8;
constexpr int kPsEndCapMask = 0x0F00, kPsEndCapSquare = 0x0100, kPsEndCapFlat = 0x0200;
constexpr int kPsJoinMask = 0xF000, kPsJoinBevel = 0x1000, kPsJoinMiter = 0x2000;
constexpr int kPsGeometric = 0x10000;

// Brush styles.
constexpr int kBsSolid = 0, kBsNull = 1, kBsHatched = 2;

// Text alignment and options.
constexpr uint32_t kTaUpdateCp = 1, kTaRight = 2, kTaCenter = 6, kTaBottom = 8,
                   kTaBaseline = 24;
constexpr uint32_t kEtoOpaque = 2, kEtoClipped = 4;

// Sizes beyond which a record is ignored rather than drawn: a lying file must not make
// the painter work for minutes.
constexpr double kMaxCoordinate = 1 << 24;
constexpr double kMaxFontPixels = 2048;

bool Finite(QPointF p) {
  return std::isfinite(p.x()) && std::isfinite(p.y()) && std::abs(p.x()) < kMaxCoordinate &&
         std::abs(p.y()) < kMaxCoordinate;
}

bool Reasonable(const QPainterPath& path) {
  const QRectF r = path.controlPointRect();
  return Finite(r.topLeft()) && Finite(r.bottomRight());
}

double ScaleX(const QTransform& t) { return std::hypot(t.m11(), t.m12()); }
double ScaleY(const QTransform& t) { return std::hypot(t.m21(), t.m22()); }

QTransform PageTransform(QPointF windowOrg, QSizeF windowExt, QPointF viewportOrg,
                         QSizeF viewportExt) {
  const double sx = viewportExt.width() / windowExt.width();
  const double sy = viewportExt.height() / windowExt.height();
  return QTransform(sx, 0, 0, sy, viewportOrg.x() - windowOrg.x() * sx,
                    viewportOrg.y() - windowOrg.y() * sy);
}

QPainter::CompositionMode Rop2Mode(int rop2) {
  switch (rop2) {
    case 4: return QPainter::RasterOp_NotSource;                      // R2_NOTCOPYPEN
    case 6: return QPainter::RasterOp_NotDestination;                 // R2_NOT
    case 7: return QPainter::RasterOp_SourceXorDestination;           // R2_XORPEN
    case 9: return QPainter::RasterOp_SourceAndDestination;           // R2_MASKPEN
    case 10: return QPainter::RasterOp_NotSourceXorDestination;       // R2_NOTXORPEN
    case 15: return QPainter::RasterOp_SourceOrDestination;           // R2_MERGEPEN
    default: return QPainter::CompositionMode_SourceOver;
  }
}

QPainter::CompositionMode Rop3Mode(uint32_t rop) {
  switch (rop) {
    case 0x008800C6: return QPainter::RasterOp_SourceAndDestination;     // SRCAND
    case 0x00EE0086: return QPainter::RasterOp_SourceOrDestination;      // SRCPAINT
    case 0x00660046: return QPainter::RasterOp_SourceXorDestination;     // SRCINVERT
    case 0x00330008: return QPainter::RasterOp_NotSource;                // NOTSRCCOPY
    case 0x00440328: return QPainter::RasterOp_SourceAndNotDestination;  // SRCERASE
    case 0x001100A6: return QPainter::RasterOp_NotSourceAndNotDestination;  // NOTSRCERASE
    case 0x00BB0226: return QPainter::RasterOp_NotSourceOrDestination;   // MERGEPAINT
    default: return QPainter::CompositionMode_SourceOver;
  }
}

// Raster operations that do not use a source picture.
bool UsesSource(uint32_t rop) {
  const uint32_t code = (rop >> 16) & 0xFF;
  // A ternary operation uses the source when its result differs between S = 0 and S = 1.
  return ((code >> 2) & 0x33) != (code & 0x33);
}

Qt::BrushStyle HatchStyle(int hatch) {
  switch (hatch) {
    case 0: return Qt::HorPattern;
    case 1: return Qt::VerPattern;
    case 2: return Qt::FDiagPattern;
    case 3: return Qt::BDiagPattern;
    case 4: return Qt::CrossPattern;
    case 5: return Qt::DiagCrossPattern;
    default: return Qt::SolidPattern;
  }
}

GdiObject StockObject(int index) {
  GdiObject o;
  const auto brush = [&](QColor c) {
    o.kind = GdiObject::Kind::Brush;
    o.color = c;
  };
  const auto pen = [&](QColor c, int style) {
    o.kind = GdiObject::Kind::Pen;
    o.color = c;
    o.penStyle = style;
  };
  switch (index) {
    case 0: brush(Qt::white); break;
    case 1: brush(QColor(0xC0, 0xC0, 0xC0)); break;
    case 2: brush(QColor(0x80, 0x80, 0x80)); break;
    case 3: brush(QColor(0x40, 0x40, 0x40)); break;
    case 4: brush(Qt::black); break;
    case 5: brush(Qt::black); o.brushStyle = kBsNull; break;
    case 6: pen(Qt::white, 0); break;
    case 7: pen(Qt::black, 0); break;
    case 8: pen(Qt::black, kPsNull); break;
    case 10: case 11: case 16:
      o.kind = GdiObject::Kind::Font;
      o.font.faceName = QStringLiteral("Courier New");
      o.font.height = 16;
      break;
    case 12: case 13: case 14: case 17:
      o.kind = GdiObject::Kind::Font;
      o.font.faceName = QStringLiteral("Arial");
      o.font.height = 16;
      break;
    case 15: o.kind = GdiObject::Kind::Palette; break;
    case 18: brush(Qt::white); break;
    case 19: pen(Qt::black, 0); break;
    default: break;
  }
  return o;
}

// The edges of a path, one call of `edge` for each with its two ends; curves are taken
// by their control points, which lie around the curve. With `closed`, the edge that
// closes each figure as a fill does.
template <typename Edge>
void ForEachEdge(const QPainterPath& path, bool closed, Edge edge) {
  QPointF figureStart;
  for (int i = 0; i < path.elementCount(); ++i) {
    const QPainterPath::Element e = path.elementAt(i);
    if (e.isMoveTo()) {
      if (closed && i > 0) edge(QPointF(path.elementAt(i - 1)), figureStart);
      figureStart = e;
      continue;
    }
    edge(QPointF(path.elementAt(i - 1)), QPointF(e));
  }
  if (closed && path.elementCount() > 1)
    edge(QPointF(path.elementAt(path.elementCount() - 1)), figureStart);
}

// What the rasterizer does for the edges of a shape: on each row it keeps the edges that
// cross the row in order, which grows with the square of their number (a region of a few
// hundred stripes takes seconds). Edges are added with their top, bottom and weight (how
// many edges of the drawn shape each stands for) and counted on the rows from `top` to
// `bottom` of the canvas that the shape covers.
class ScanWork {
 public:
  ScanWork(double top, double bottom, double canvasRows)
      : first_(std::clamp(std::floor(top), 0.0, canvasRows)),
        last_(std::clamp(std::ceil(bottom), first_, canvasRows)),
        changes_(size_t(last_ - first_) + 1, 0.0) {}
  void Add(double top, double bottom, double weight) {
    if (top > bottom) std::swap(top, bottom);
    top = std::max(std::floor(top), first_);
    bottom = std::min(std::ceil(bottom), last_);
    if (top >= bottom) return;
    changes_[size_t(top - first_)] += weight;
    changes_[size_t(bottom - first_)] -= weight;
  }
  double Cost() const {
    double cost = 0, crossing = 0;
    for (double change : changes_) {
      crossing += change;
      cost += crossing * cost::kEdgeRow + crossing * crossing * cost::kEdgePair;
    }
    return cost;
  }

 private:
  double first_, last_;
  std::vector<double> changes_;
};

// A pen wider than this paints the same as this: every point of the canvas lies within
// half of it from each edge's line, and a round end or join covers every point within
// half of it from the corner.
double WidestUsefulPen(const QPainterPath& path, const QRectF& canvas) {
  double farthest = 0;
  const QPointF centre = canvas.center();
  for (int i = 0; i < path.elementCount(); ++i) {
    const QPainterPath::Element e = path.elementAt(i);
    farthest = std::max(farthest, std::hypot(e.x - centre.x(), e.y - centre.y()));
  }
  return std::hypot(canvas.width(), canvas.height()) + 2 * farthest + 2;
}

// A path that is one rectangle with sides along the axes, as the painter's path
// arithmetic recognises it.
bool IsUprightRectangle(const QPainterPath& path) {
  if (path.elementCount() != 5) return false;
  const QRectF box = path.boundingRect();
  for (int i = 0; i < 5; ++i) {
    const QPainterPath::Element e = path.elementAt(i);
    if ((e.x != box.left() && e.x != box.right()) || (e.y != box.top() && e.y != box.bottom()))
      return false;
  }
  return true;
}

}  // namespace

void WorkBudget::Spend(double cost) {
  used_ += cost;
  if (!(used_ <= limit_)) throw pictures::PictureError(kTooComplex);
}

DeviceContext::DeviceContext(QPainter* painter, QSizeF canvas, Flavour flavour,
                             const QTransform& output, QSizeF devicePixels,
                             QSizeF deviceMillimetres)
    : painter_(painter),
      canvas_(canvas),
      flavour_(flavour),
      output_(output),
      devicePixels_(devicePixels),
      deviceMillimetres_(deviceMillimetres) {
  for (int i = 0; i < 20; ++i) stock_.push_back(std::make_shared<const GdiObject>(StockObject(i)));
  state_.pen = stock_[7];
  state_.brush = stock_[0];
  state_.font = stock_[13];
  if (flavour_ == Flavour::Wmf) state_.mapMode = 8;  // played into a rectangle
  if (painter_) {
    painter_->setRenderHint(QPainter::Antialiasing, false);
    painter_->setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter_->setRenderHint(QPainter::TextAntialiasing, true);
  }
}

// ---- Mapping ----

void DeviceContext::SetMapMode(int mode) {
  if (flavour_ == Flavour::Wmf || mode < 1 || mode > 8) return;
  state_.mapMode = mode;
  // The fixed modes take their scale from the reference device.
  const double mmX = deviceMillimetres_.width() > 0 ? deviceMillimetres_.width() : 1;
  const double mmY = deviceMillimetres_.height() > 0 ? deviceMillimetres_.height() : 1;
  const double pxX = devicePixels_.width() > 0 ? devicePixels_.width() : mmX * 96 / 25.4;
  const double pxY = devicePixels_.height() > 0 ? devicePixels_.height() : mmY * 96 / 25.4;
  double unitsPerMm = 0;
  switch (mode) {
    case 1: state_.windowExt = QSizeF(1, 1); state_.viewportExt = QSizeF(1, 1); return;
    case 2: unitsPerMm = 10; break;            // MM_LOMETRIC
    case 3: unitsPerMm = 100; break;           // MM_HIMETRIC
    case 4: unitsPerMm = 100 / 25.4; break;    // MM_LOENGLISH
    case 5: unitsPerMm = 1000 / 25.4; break;   // MM_HIENGLISH
    case 6: unitsPerMm = 1440 / 25.4; break;   // MM_TWIPS
    default: return;                           // isotropic, anisotropic: extents kept
  }
  state_.windowExt = QSizeF(mmX * unitsPerMm, mmY * unitsPerMm);
  state_.viewportExt = QSizeF(pxX, -pxY);
}

void DeviceContext::SetWindowOrg(QPointF origin) {
  if (Finite(origin)) state_.windowOrg = origin;
}

void DeviceContext::SetWindowExt(QSizeF extent) {
  if (extent.width() == 0 || extent.height() == 0) return;
  if (!Finite(QPointF(extent.width(), extent.height()))) return;
  if (flavour_ == Flavour::Emf && state_.mapMode < 7) return;
  state_.windowExt = extent;
  if (state_.mapMode == 7) SetViewportExt(state_.viewportExt);
}

void DeviceContext::SetViewportOrg(QPointF origin) {
  if (flavour_ == Flavour::Wmf) return;  // the player owns the viewport
  if (Finite(origin)) state_.viewportOrg = origin;
}

void DeviceContext::SetViewportExt(QSizeF extent) {
  if (flavour_ == Flavour::Wmf) return;
  if (extent.width() == 0 || extent.height() == 0) return;
  if (!Finite(QPointF(extent.width(), extent.height()))) return;
  if (state_.mapMode < 7) return;
  if (state_.mapMode == 7) {
    // Isotropic: one scale for both axes, the smaller one, keeping the signs.
    const double sx = extent.width() / state_.windowExt.width();
    const double sy = extent.height() / state_.windowExt.height();
    const double s = std::min(std::abs(sx), std::abs(sy));
    extent = QSizeF(std::copysign(s, sx) * state_.windowExt.width(),
                    std::copysign(s, sy) * state_.windowExt.height());
  }
  state_.viewportExt = extent;
}

void DeviceContext::OffsetWindowOrg(QPointF offset) { SetWindowOrg(state_.windowOrg + offset); }

void DeviceContext::OffsetViewportOrg(QPointF offset) {
  SetViewportOrg(state_.viewportOrg + offset);
}

void DeviceContext::ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom) {
  if (xDenom == 0 || yDenom == 0) return;
  SetWindowExt(QSizeF(state_.windowExt.width() * xNum / xDenom,
                      state_.windowExt.height() * yNum / yDenom));
}

void DeviceContext::ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom) {
  if (xDenom == 0 || yDenom == 0) return;
  SetViewportExt(QSizeF(state_.viewportExt.width() * xNum / xDenom,
                        state_.viewportExt.height() * yNum / yDenom));
}

void DeviceContext::SetWorldTransform(const QTransform& transform) {
  if (transform.isInvertible() && Finite(QPointF(transform.dx(), transform.dy())))
    state_.world = transform;
}

void DeviceContext::ModifyWorldTransform(const QTransform& transform, int mode) {
  switch (mode) {
    case 1: state_.world = QTransform(); break;  // MWT_IDENTITY
    case 2: SetWorldTransform(transform * state_.world); break;  // MWT_LEFTMULTIPLY
    case 3: SetWorldTransform(state_.world * transform); break;  // MWT_RIGHTMULTIPLY
    case 4: SetWorldTransform(transform); break;                 // MWT_SET
    default: break;
  }
}

QTransform DeviceContext::LogicalToDevice() const {
  return state_.world * PageTransform(state_.windowOrg, state_.windowExt, state_.viewportOrg,
                                      state_.viewportExt);
}

QTransform DeviceContext::Total() const { return LogicalToDevice() * output_; }

QRectF DeviceContext::OutputBounds() const { return QRectF(QPointF(0, 0), canvas_); }

void DeviceContext::SaveDC() {
  // A file that saves without end cannot grow the stack without end.
  budget_.Spend(cost::kSavedState);
  if (saved_.size() < 4096) saved_.push_back(state_);
}

void DeviceContext::RestoreDC(int relative) {
  budget_.Spend(cost::kSavedState);
  const int64_t count = int64_t(saved_.size());
  const int64_t target = relative < 0 ? count + relative : int64_t(relative) - 1;
  if (target < 0 || target >= count) return;
  state_ = saved_[size_t(target)];
  saved_.resize(size_t(target));
}

// ---- Objects ----

void DeviceContext::CreateObject(GdiObject object) {
  // The lowest free slot, as the system's player takes.
  auto shared = std::make_shared<const GdiObject>(std::move(object));
  if (!freeSlots_.empty()) {
    objects_[*freeSlots_.begin()] = std::move(shared);
    freeSlots_.erase(freeSlots_.begin());
  } else if (objects_.size() < 65535) {
    objects_.push_back(std::move(shared));
  }
}

void DeviceContext::CreateObjectAt(uint32_t index, GdiObject object) {
  if (index == 0 || index >= 65536) return;  // index 0 is the metafile itself
  if (objects_.size() <= index) objects_.resize(size_t(index) + 1);
  objects_[index] = std::make_shared<const GdiObject>(std::move(object));
}

const GdiObject* DeviceContext::Object(uint32_t index) const {
  if (index & kStock) {
    const uint32_t stock = index & ~kStock;
    return stock < stock_.size() ? stock_[stock].get() : nullptr;
  }
  if (index >= objects_.size() || !objects_[index]) return nullptr;
  return objects_[index].get();
}

void DeviceContext::SelectObject(uint32_t index) {
  const GdiObject* object = Object(index);
  if (!object) return;
  const ObjectRef& shared = index & kStock ? stock_[index & ~kStock] : objects_[index];
  switch (object->kind) {
    case GdiObject::Kind::Pen: state_.pen = shared; break;
    case GdiObject::Kind::Brush: state_.brush = shared; break;
    case GdiObject::Kind::Font: state_.font = shared; break;
    case GdiObject::Kind::Palette: state_.palette = shared; break;
    case GdiObject::Kind::Region:
      SelectClipRegion(object->region, 5);
      break;
    case GdiObject::Kind::None: break;
  }
}

void DeviceContext::DeleteObject(uint32_t index) {
  if (index & kStock || index >= objects_.size() || !objects_[index]) return;
  objects_[index].reset();
  if (flavour_ == Flavour::Wmf) freeSlots_.insert(index);
}

QColor DeviceContext::PaletteColor(uint32_t index) const {
  if (state_.palette && index < state_.palette->palette.size())
    return state_.palette->palette[index];
  return Qt::black;
}

// ---- Pens and brushes ----

QPen DeviceContext::CurrentPen() const {
  const GdiObject& p = *state_.pen;
  const int style = p.penStyle & kPsStyleMask;
  if (style == kPsNull) return Qt::NoPen;
  QPen pen(ropColor_ ? *ropColor_ : p.color);
  const double scale = std::sqrt(std::abs(Total().determinant()));
  const double width = p.penWidth;
  // Thin pens draw one pixel, whatever their logical width.
  const bool onePixel = width <= 0 || width * scale < 1.5;
  // Shapes are stroked in output pixels, so the width is given in them; the painter takes
  // no pen wider than 32767 pixels, which covers any picture anyway.
  if (onePixel) {
    pen.setWidth(0);
    pen.setCosmetic(true);
  } else {
    pen.setWidthF(std::min(width * scale, 32767.0));
  }
  const bool geometric = (p.penStyle & kPsGeometric) != 0;
  // Dashes show on thin pens and on geometric pens; a wide plain pen is drawn solid.
  if (onePixel || geometric) {
    switch (style) {
      case kPsDash: pen.setStyle(Qt::DashLine); break;
      case kPsDot:
      case kPsAlternate: pen.setStyle(Qt::DotLine); break;
      case kPsDashDot: pen.setStyle(Qt::DashDotLine); break;
      case kPsDashDotDot: pen.setStyle(Qt::DashDotDotLine); break;
      case kPsUserStyle: {
        QList<qreal> pattern;
        const double unit = onePixel ? 1.0 / std::max(scale, 1e-9) : width;
        for (double d : p.dashes) pattern << std::max(d / unit, 0.1);
        if (pattern.size() % 2) pattern << pattern.back();
        if (!pattern.isEmpty()) pen.setDashPattern(pattern);
        break;
      }
      default: break;
    }
  }
  if (p.cosmeticPen && !geometric) {
    // Pens made by the plain pen records have round ends and joins.
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
  } else {
    switch (p.penStyle & kPsEndCapMask) {
      case kPsEndCapSquare: pen.setCapStyle(Qt::SquareCap); break;
      case kPsEndCapFlat: pen.setCapStyle(Qt::FlatCap); break;
      default: pen.setCapStyle(Qt::RoundCap); break;
    }
    switch (p.penStyle & kPsJoinMask) {
      case kPsJoinBevel: pen.setJoinStyle(Qt::BevelJoin); break;
      case kPsJoinMiter:
        pen.setJoinStyle(Qt::MiterJoin);
        pen.setMiterLimit(state_.miterLimit);
        break;
      default: pen.setJoinStyle(Qt::RoundJoin); break;
    }
  }
  return pen;
}

QBrush DeviceContext::BrushOf(const GdiObject& b) const {
  if (b.brushStyle == kBsNull) return Qt::NoBrush;
  if (ropColor_) return QBrush(*ropColor_);
  if (b.brushStyle == kBsHatched) return QBrush(b.color, HatchStyle(b.hatch));
  if (b.brushStyle != kBsSolid && !b.pattern.isNull()) return QBrush(b.pattern);
  return QBrush(b.color);
}

QBrush DeviceContext::CurrentBrush() const { return BrushOf(*state_.brush); }

bool DeviceContext::PenVisible() const {
  return (state_.pen->penStyle & kPsStyleMask) != kPsNull;
}
bool DeviceContext::BrushVisible() const { return state_.brush->brushStyle != kBsNull; }

bool DeviceContext::Begin(bool forText) {
  ropColor_.reset();
  if (!forText) {
    if (state_.rop2 == 11) return false;  // R2_NOP
    if (state_.rop2 == 1) ropColor_ = QColor(Qt::black);
    if (state_.rop2 == 16) ropColor_ = QColor(Qt::white);
  }
  ApplyPainterClip();
  if (!painter_) return true;
  painter_->setCompositionMode(forText ? QPainter::CompositionMode_SourceOver
                                       : Rop2Mode(state_.rop2));
  painter_->setTransform(Total());
  return true;
}

void DeviceContext::ApplyPainterClip() {
  if (painterClipId_ == state_.clipId) return;
  painterClipId_ = state_.clipId;
  if (!state_.clip) {
    if (painter_) painter_->setClipping(false);
    return;
  }
  // The painter turns a clip path into spans of every row it covers.
  budget_.Spend(cost::kClipPoint * state_.clip->elementCount() + cost::kClipRow * canvas_.height());
  if (!painter_) return;
  painter_->resetTransform();
  painter_->setClipPath(*state_.clip);
}

void DeviceContext::SetClip(std::optional<QPainterPath> clip) {
  state_.clip = std::move(clip);
  state_.clipId = ++lastClipId_;
}

void DeviceContext::ChargeFill(const QPainterPath& path, const QBrush& brush) {
  if (brush.style() == Qt::NoBrush) return;
  const QRectF painted = path.controlPointRect() & OutputBounds();
  const double area = painted.isValid() ? painted.width() * painted.height() : 0;
  const QRectF bounds = path.controlPointRect();
  ScanWork scan(bounds.top(), bounds.bottom(), canvas_.height());
  ForEachEdge(path, true, [&](QPointF a, QPointF b) { scan.Add(a.y(), b.y(), 1); });
  const bool plain = brush.style() == Qt::SolidPattern;
  budget_.Spend(area * (plain ? cost::kFillPixel : cost::kTexturePixel) + scan.Cost() +
                path.elementCount() * cost::kPathElement);
}

void DeviceContext::ChargeStroke(const QPainterPath& path, const QPen& pen) {
  if (pen.style() == Qt::NoPen) return;
  const double diagonal = std::hypot(canvas_.width(), canvas_.height());
  double work = path.elementCount() * cost::kPathElement;
  if (pen.isCosmetic() || pen.widthF() <= 1) {
    // One-pixel lines are drawn pixel by pixel, and only within the canvas.
    ForEachEdge(path, false, [&](QPointF a, QPointF b) {
      work += std::min(std::hypot(b.x() - a.x(), b.y() - a.y()), 2 * diagonal) * cost::kLinePixel;
    });
  } else {
    // Each edge becomes a band as wide as the pen, with a join or an end at each corner
    // (three edges to scan on its rows); a dashed pen makes a band of four edges for each
    // dash, as many on a row as the dashes that cross it. The bands' area is filled once.
    const double width = pen.widthF();
    double period = 0;
    if (pen.style() != Qt::SolidLine)
      for (qreal dash : pen.dashPattern()) period += dash * width;
    const QRectF bounds = path.controlPointRect();
    ScanWork scan(bounds.top() - width / 2, bounds.bottom() + width / 2, canvas_.height());
    ForEachEdge(path, false, [&](QPointF a, QPointF b) {
      const double length = std::hypot(b.x() - a.x(), b.y() - a.y());
      const double dashes =
          period > 0 ? std::min(length, 2 * diagonal) / std::max(period, 0.1) : 0;
      const double rows = std::abs(b.y() - a.y());
      const double crossing = period > 0 ? 4 * (rows + dashes * width) / (rows + width) : 3;
      scan.Add(std::min(a.y(), b.y()) - width / 2, std::max(a.y(), b.y()) + width / 2,
               crossing);
      work += dashes * 4 * cost::kPathElement;
    });
    work += scan.Cost();
    const QRectF painted =
        path.controlPointRect().adjusted(-width, -width, width, width) & OutputBounds();
    if (painted.isValid()) work += painted.width() * painted.height() * cost::kFillPixel;
  }
  budget_.Spend(work);
}

void DeviceContext::ChargeClipOperation(const QPainterPath& area, int mode) {
  const double points = (state_.clip ? state_.clip->elementCount() : 5) + area.elementCount();
  // Path arithmetic meets every edge of one path with every edge of the other, and every
  // crossing it finds is a new point; the intersection with an upright rectangle is cut
  // along the rectangle's sides instead.
  const bool cut = mode == 1 && (IsUprightRectangle(area) || !state_.clip ||
                                 IsUprightRectangle(*state_.clip));
  budget_.Spend(cut ? points * cost::kPathElement
                    : points * points * cost::kClipPair + points * cost::kPathElement);
}

// ---- Shapes ----

QPainterPath DeviceContext::OutputPath(const QPainterPath& logical) const {
  return Total().map(logical);
}

void DeviceContext::FillOutputPath(const QPainterPath& path, const QBrush& brush) {
  if (brush.style() == Qt::NoBrush) return;
  // Hatches leave gaps that an opaque background fills.
  const bool background = brush.style() >= Qt::HorPattern &&
                          brush.style() <= Qt::DiagCrossPattern && state_.bkMode == 2;
  if (background) ChargeFill(path, QBrush(state_.bkColor));
  ChargeFill(path, brush);
  if (!painter_) return;
  painter_->save();
  painter_->resetTransform();
  if (background) painter_->fillPath(path, state_.bkColor);
  painter_->fillPath(path, brush);
  painter_->restore();
}

void DeviceContext::StrokeOutputPath(const QPainterPath& path) {
  QPen pen = CurrentPen();
  if (pen.style() == Qt::NoPen) return;
  if (!pen.isCosmetic()) {
    const double widest = WidestUsefulPen(path, OutputBounds());
    if (pen.widthF() > widest) {
      // Dashes are given in pen widths: they keep their length on the narrower pen.
      if (pen.style() != Qt::SolidLine) {
        const double stretch = pen.widthF() / widest;
        QList<qreal> pattern = pen.dashPattern();
        for (qreal& dash : pattern) dash *= stretch;
        const double offset = pen.dashOffset() * stretch;
        pen.setDashPattern(pattern);
        pen.setDashOffset(offset);
      }
      pen.setWidthF(widest);
    }
  }
  ChargeStroke(path, pen);
  if (!painter_) return;
  painter_->save();
  painter_->resetTransform();
  painter_->strokePath(path, pen);
  painter_->restore();
}

void DeviceContext::DrawShape(const QPainterPath& shape, bool fill, bool stroke) {
  QPainterPath path = shape;
  path.setFillRule(state_.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
  if (!Reasonable(OutputPath(path))) return;
  if (state_.pathOpen) {
    path_.addPath(OutputPath(path));
    pathHasFigure_ = false;
    return;
  }
  if (!Begin()) return;
  const QPainterPath out = OutputPath(path);
  if (fill && BrushVisible()) FillOutputPath(out, CurrentBrush());
  if (stroke && PenVisible()) StrokeOutputPath(out);
}

QRectF DeviceContext::NormalizedBox(const QRectF& box) const { return box.normalized(); }

void DeviceContext::PathMoveTo(QPointF logical) {
  path_.moveTo(Total().map(logical));
  pathHasFigure_ = true;
}

void DeviceContext::PathLineTo(QPointF logical) {
  if (!pathHasFigure_) PathMoveTo(state_.current);
  path_.lineTo(Total().map(logical));
}

void DeviceContext::PathCubicTo(QPointF c1, QPointF c2, QPointF end) {
  if (!pathHasFigure_) PathMoveTo(state_.current);
  const QTransform t = Total();
  path_.cubicTo(t.map(c1), t.map(c2), t.map(end));
}

void DeviceContext::MoveTo(QPointF point) {
  if (!Finite(point)) return;
  state_.current = point;
  if (state_.pathOpen) PathMoveTo(point);
}

void DeviceContext::LineTo(QPointF point) {
  if (!Finite(point)) return;
  if (state_.pathOpen) {
    PathLineTo(point);
  } else if (PenVisible() && Begin()) {
    QPainterPath line(state_.current);
    line.lineTo(point);
    if (Reasonable(OutputPath(line))) StrokeOutputPath(OutputPath(line));
  }
  state_.current = point;
}

void DeviceContext::Polyline(const QPolygonF& points) {
  if (points.size() < 2) return;
  QPainterPath path;
  path.addPolygon(points);
  DrawShape(path, false, true);
}

void DeviceContext::PolylineTo(const QPolygonF& points) {
  if (points.isEmpty()) return;
  if (state_.pathOpen) {
    for (const QPointF& p : points) PathLineTo(p);
  } else {
    QPolygonF all;
    all << state_.current << points;
    Polyline(all);
  }
  state_.current = points.back();
}

QPolygonF DeviceContext::ClosedPolygon(const QPolygonF& points) const {
  QPolygonF closed = points;
  if (!closed.isEmpty() && closed.front() != closed.back()) closed << closed.front();
  return closed;
}

void DeviceContext::Polygon(const QPolygonF& points) {
  if (points.size() < 2) return;
  QPainterPath path;
  path.addPolygon(ClosedPolygon(points));
  path.closeSubpath();
  DrawShape(path, true, true);
}

void DeviceContext::PolyPolygon(const std::vector<QPolygonF>& polygons) {
  QPainterPath path;
  for (const QPolygonF& polygon : polygons) {
    if (polygon.size() < 2) continue;
    path.addPolygon(ClosedPolygon(polygon));
    path.closeSubpath();
  }
  if (!path.isEmpty()) DrawShape(path, true, true);
}

void DeviceContext::PolyPolyline(const std::vector<QPolygonF>& polylines) {
  QPainterPath path;
  for (const QPolygonF& line : polylines)
    if (line.size() >= 2) path.addPolygon(line);
  if (!path.isEmpty()) DrawShape(path, false, true);
}

void DeviceContext::PolyBezier(const QPolygonF& points) {
  if (points.size() < 4) return;
  QPainterPath path(points[0]);
  for (qsizetype i = 1; i + 2 < points.size(); i += 3)
    path.cubicTo(points[i], points[i + 1], points[i + 2]);
  DrawShape(path, false, true);
}

void DeviceContext::PolyBezierTo(const QPolygonF& points) {
  if (points.size() < 3) return;
  if (state_.pathOpen) {
    for (qsizetype i = 0; i + 2 < points.size(); i += 3)
      PathCubicTo(points[i], points[i + 1], points[i + 2]);
  } else {
    QPainterPath path(state_.current);
    for (qsizetype i = 0; i + 2 < points.size(); i += 3)
      path.cubicTo(points[i], points[i + 1], points[i + 2]);
    DrawShape(path, false, true);
  }
  state_.current = points[(points.size() / 3) * 3 - 1];
}

void DeviceContext::Rectangle(const QRectF& box) {
  QPainterPath path;
  path.addRect(NormalizedBox(box));
  DrawShape(path, true, true);
}

void DeviceContext::RoundRect(const QRectF& box, QSizeF corner) {
  QPainterPath path;
  path.addRoundedRect(NormalizedBox(box), std::abs(corner.width()) / 2,
                      std::abs(corner.height()) / 2);
  DrawShape(path, true, true);
}

void DeviceContext::Ellipse(const QRectF& box) {
  QPainterPath path;
  path.addEllipse(NormalizedBox(box));
  DrawShape(path, true, true);
}

QPainterPath DeviceContext::ArcPath(const QRectF& rawBox, QPointF start, QPointF end,
                                    ArcKind kind, QPointF* endPoint) const {
  const QRectF box = NormalizedBox(rawBox);
  const QPointF c = box.center();
  const double rx = std::max(box.width() / 2, 1e-9), ry = std::max(box.height() / 2, 1e-9);
  // Angles as the painter counts them: counter-clockwise on the screen, from 3 o'clock.
  const auto angleOf = [&](QPointF p) {
    return std::atan2(-(p.y() - c.y()) / ry, (p.x() - c.x()) / rx) * 180 / std::numbers::pi;
  };
  const double a0 = angleOf(start);
  const double a1 = angleOf(end);
  // Arcs run counter-clockwise as seen on the device; a mapping that mirrors the picture
  // turns the logical direction round.
  bool counterClockwise = !state_.arcClockwise;
  if (Total().determinant() < 0) counterClockwise = !counterClockwise;
  double sweep = a1 - a0;
  if (counterClockwise) {
    while (sweep <= 0) sweep += 360;
  } else {
    while (sweep >= 0) sweep -= 360;
  }
  if (std::abs(sweep) > 360) sweep = std::copysign(360.0, sweep);
  QPainterPath path;
  const double startRad = a0 * std::numbers::pi / 180;
  const QPointF arcStart(c.x() + rx * std::cos(startRad), c.y() - ry * std::sin(startRad));
  if (kind == ArcKind::Pie) {
    path.moveTo(c);
    path.lineTo(arcStart);
  } else {
    path.moveTo(arcStart);
  }
  path.arcTo(box, a0, sweep);
  if (endPoint) *endPoint = path.currentPosition();
  if (kind == ArcKind::Pie || kind == ArcKind::Chord) path.closeSubpath();
  return path;
}

void DeviceContext::Arc(const QRectF& box, QPointF start, QPointF end, ArcKind kind) {
  QPointF arcEnd;
  const QPainterPath path = ArcPath(box, start, end, kind, &arcEnd);
  if (kind == ArcKind::ArcTo) {
    // A line from the current position to the arc's start, then the arc.
    QPainterPath joined(state_.current);
    joined.lineTo(path.elementAt(0));
    joined.connectPath(path);
    if (state_.pathOpen) {
      if (!pathHasFigure_) PathMoveTo(state_.current);
      path_.connectPath(OutputPath(joined));
    } else {
      DrawShape(joined, false, true);
    }
    state_.current = arcEnd;
    return;
  }
  const bool closed = kind != ArcKind::Arc;
  DrawShape(path, closed, true);
}

void DeviceContext::AngleArc(QPointF center, double radius, double startDegrees,
                             double sweepDegrees) {
  if (!Finite(center) || !std::isfinite(radius) || !std::isfinite(startDegrees) ||
      !std::isfinite(sweepDegrees))
    return;
  const QRectF box(center.x() - radius, center.y() - radius, 2 * radius, 2 * radius);
  const double startRad = startDegrees * std::numbers::pi / 180;
  const QPointF arcStart(center.x() + radius * std::cos(startRad),
                         center.y() - radius * std::sin(startRad));
  QPainterPath path(state_.current);
  path.lineTo(arcStart);
  path.arcTo(box, startDegrees, std::clamp(sweepDegrees, -3600.0, 3600.0));
  const QPointF end = path.currentPosition();
  if (state_.pathOpen) {
    if (!pathHasFigure_) PathMoveTo(state_.current);
    path_.connectPath(OutputPath(path));
  } else {
    DrawShape(path, false, true);
  }
  state_.current = end;
}

void DeviceContext::SetPixel(QPointF point, QColor color) {
  if (!Finite(point) || !Begin()) return;
  budget_.Spend(cost::kPathElement);
  if (!painter_) return;
  const QPointF p = Total().map(point);
  painter_->resetTransform();
  painter_->fillRect(QRectF(std::floor(p.x()), std::floor(p.y()), 1, 1), color);
}

void DeviceContext::PatBlt(const QRectF& box, uint32_t rop) {
  QPainterPath logical;
  logical.addRect(NormalizedBox(box));
  const QPainterPath out = OutputPath(logical);
  if (!Reasonable(out) || !Begin()) return;
  if (rop == 0x00AA0029) return;  // the destination as is
  // BLACKNESS, WHITENESS, DSTINVERT and PATINVERT fill by themselves; PATCOPY and the
  // rest fill with the brush.
  const bool own = rop == 0x00000042 || rop == 0x00FF0062 || rop == 0x00550009 ||
                   rop == 0x005A0049;
  if (!own) {
    FillOutputPath(out, CurrentBrush());
    return;
  }
  ChargeFill(out, rop == 0x005A0049 ? CurrentBrush() : QBrush(Qt::white));
  if (!painter_) return;
  painter_->resetTransform();
  switch (rop) {
    case 0x00000042: painter_->fillPath(out, Qt::black); break;  // BLACKNESS
    case 0x00FF0062: painter_->fillPath(out, Qt::white); break;  // WHITENESS
    case 0x00550009:                                             // DSTINVERT
      painter_->setCompositionMode(QPainter::RasterOp_NotDestination);
      painter_->fillPath(out, Qt::white);
      break;
    default:                                                     // PATINVERT
      painter_->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
      painter_->fillPath(out, CurrentBrush());
      break;
  }
  painter_->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void DeviceContext::DrawImage(const QRectF& box, const QImage& image, const QRectF& source,
                              uint32_t rop) {
  if (!UsesSource(rop) || image.isNull()) {
    if (!UsesSource(rop)) PatBlt(box, rop);
    return;
  }
  QRectF target = box;
  QRectF from = source;
  QImage picture = image;
  // Negative sizes mirror the picture.
  const bool mirrorX = (target.width() < 0) != (from.width() < 0);
  const bool mirrorY = (target.height() < 0) != (from.height() < 0);
  target = target.normalized();
  from = from.normalized();
  const double pictureArea = double(picture.width()) * picture.height();
  if (mirrorX || mirrorY) {
    budget_.Spend(pictureArea * cost::kDecodePixel);
    picture = picture.mirrored(mirrorX, mirrorY);
    if (mirrorX) from.moveLeft(picture.width() - from.right());
    if (mirrorY) from.moveTop(picture.height() - from.bottom());
  }
  QPainterPath logical;
  logical.addRect(target);
  if (!Reasonable(OutputPath(logical)) || target.isEmpty() || from.isEmpty()) return;
  if (state_.pathOpen || !Begin()) return;
  // Shrunk pictures are smoothed; enlarged ones keep their pixels sharp, as the system
  // stretches them.
  const QRectF shown = Total().mapRect(target);
  const QRectF painted = shown & OutputBounds();
  budget_.Spend(pictureArea * cost::kFillPixel +
                (painted.isValid() ? painted.width() * painted.height() * cost::kImagePixel : 0));
  if (!painter_) return;
  painter_->setRenderHint(QPainter::SmoothPixmapTransform,
                          shown.width() < from.width() || shown.height() < from.height());
  painter_->setCompositionMode(Rop3Mode(rop));
  painter_->drawImage(target, picture, from);
  painter_->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

// ---- Text ----

void DeviceContext::TextOut(QPointF reference, const QString& text, uint32_t options,
                            std::optional<QRectF> rect, std::span<const double> dx) {
  // Fonts need the GUI application; without one the text is left out.
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
  if (state_.pathOpen) return;
  const bool updateCp = state_.textAlign & kTaUpdateCp;
  if (updateCp) reference = state_.current;
  if (!Finite(reference)) return;
  const QTransform t = Total();
  const double xScale = ScaleX(t), yScale = ScaleY(t);

  if (rect && (options & kEtoOpaque) && Begin(true)) {
    QPainterPath box;
    box.addRect(NormalizedBox(*rect));
    const QPainterPath out = OutputPath(box);
    if (Reasonable(out)) {
      ChargeFill(out, QBrush(state_.bkColor));
      if (painter_) {
        painter_->resetTransform();
        painter_->fillPath(out, state_.bkColor);
      }
    }
  }
  if (text.isEmpty() || !Begin(true)) return;

  const LogFont& lf = state_.font->font;
  double pixels = lf.height == 0 ? 12.0 : std::abs(lf.height) * yScale;
  if (!std::isfinite(pixels) || pixels < 0.5) return;
  pixels = std::min(pixels, kMaxFontPixels);
  // Large characters are filled as paths, each over its em square.
  const double canvasArea = canvas_.width() * canvas_.height();
  budget_.Spend(cost::kTextRecord +
                double(text.size()) * (cost::kGlyph + std::min(pixels * pixels, canvasArea) * cost::kGlyphPixel));
  QFont font(lf.faceName.isEmpty() ? QStringLiteral("Arial") : lf.faceName);
  font.setPixelSize(std::max(1, int(std::lround(pixels))));
  font.setWeight(QFont::Weight(std::clamp(lf.weight == 0 ? 400 : lf.weight, 100, 900)));
  font.setItalic(lf.italic);
  font.setUnderline(lf.underline);
  font.setStrikeOut(lf.strikeOut);
  if (lf.height > 0) {
    // A positive height is the cell height: ascent and descent together.
    const double cell = QFontMetricsF(font).height();
    if (cell > 0) font.setPixelSize(std::max(1, int(std::lround(pixels * pixels / cell))));
  }
  if (lf.width != 0) {
    const double average = QFontMetricsF(font).averageCharWidth();
    const double wanted = std::abs(lf.width) * xScale;
    if (average > 0 && std::isfinite(wanted))
      font.setStretch(std::clamp(int(std::lround(100 * wanted / average)), 1, 4000));
  }
  const QFontMetricsF metrics(font);

  // The advance of each character in output pixels.
  std::vector<double> advances(size_t(text.size()), 0.0);
  const bool ownSpacing = dx.size() >= size_t(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (ownSpacing) {
      advances[size_t(i)] = dx[size_t(i)] * xScale;
    } else if (text.at(i).isLowSurrogate()) {
      advances[size_t(i)] = 0;
    } else {
      const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
      advances[size_t(i)] = metrics.horizontalAdvance(text.mid(i, n)) + state_.charExtra * xScale;
    }
  }
  double width = 0;
  for (double a : advances) width += a;
  if (!std::isfinite(width)) return;

  const double angle = lf.escapement / 10.0;
  const double rad = angle * std::numbers::pi / 180;
  const QPointF along(std::cos(rad), -std::sin(rad));
  const QPointF down(std::sin(rad), std::cos(rad));
  const QPointF origin = t.map(reference);

  double offsetX = 0;
  if ((state_.textAlign & kTaCenter) == kTaCenter)
    offsetX = -width / 2;
  else if (state_.textAlign & kTaRight)
    offsetX = -width;
  double offsetY = metrics.ascent();  // TA_TOP
  if ((state_.textAlign & kTaBaseline) == kTaBaseline)
    offsetY = 0;
  else if (state_.textAlign & kTaBottom)
    offsetY = -metrics.descent();
  const QPointF baseline = origin + along * offsetX + down * offsetY;
  if (updateCp) {
    bool invertible = false;
    const QTransform inverse = t.inverted(&invertible);
    if (invertible) state_.current = inverse.map(origin + along * width);
  }
  const bool background = state_.bkMode == 2 && !(rect && (options & kEtoOpaque));
  if (background) budget_.Spend(std::min(width * (metrics.ascent() + metrics.descent()), canvasArea) * cost::kFillPixel);
  if (!painter_) return;

  painter_->resetTransform();
  if (rect && (options & kEtoClipped)) {
    QPainterPath box;
    box.addRect(NormalizedBox(*rect));
    painter_->setClipPath(OutputPath(box), state_.clip ? Qt::IntersectClip : Qt::ReplaceClip);
    painterClipId_ = -1;  // the painter's clip is no longer the state's
  }
  painter_->translate(baseline);
  painter_->rotate(-angle);
  if (background)
    painter_->fillRect(QRectF(0, -metrics.ascent(), width, metrics.ascent() + metrics.descent()),
                      state_.bkColor);
  painter_->setFont(font);
  painter_->setPen(state_.textColor);
  if (!ownSpacing && state_.charExtra == 0) {
    painter_->drawText(QPointF(0, 0), text);
  } else {
    // Characters placed one by one; those that fall outside the picture are not drawn.
    const QRectF visible = OutputBounds().adjusted(-2 * pixels, -2 * pixels, 2 * pixels,
                                                   2 * pixels);
    double x = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
      if (text.at(i).isLowSurrogate()) {
        x += advances[size_t(i)];
        continue;
      }
      const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
      if (visible.contains(baseline + along * x)) painter_->drawText(QPointF(x, 0), text.mid(i, n));
      x += advances[size_t(i)];
    }
  }
}

// ---- Regions and paths ----

void DeviceContext::FillRegion(const QPainterPath& region, std::optional<uint32_t> brush) {
  const QPainterPath out = output_.map(region);
  if (!Reasonable(out) || !Begin()) return;
  QBrush fill = CurrentBrush();
  if (brush) {
    const GdiObject* object = Object(*brush);
    if (!object || object->kind != GdiObject::Kind::Brush) return;
    fill = BrushOf(*object);
  }
  FillOutputPath(out, fill);
}

void DeviceContext::FrameRegion(const QPainterPath& region, std::optional<uint32_t> brush,
                                QSizeF size) {
  // The frame is the region less the region shrunk by the frame's width and height.
  const QPainterPath out = output_.map(region);
  if (!Reasonable(out)) return;
  const double w = std::abs(size.width() * ScaleX(output_));
  const double h = std::abs(size.height() * ScaleY(output_));
  budget_.Spend(out.elementCount() * cost::kPathElement);
  QPainterPath inner;
  for (const QPolygonF& polygon : out.toFillPolygons()) {
    const QRectF r = polygon.boundingRect().adjusted(w, h, -w, -h);
    if (r.isValid()) inner.addRect(r);
  }
  const double points = out.elementCount() + inner.elementCount();
  budget_.Spend(points * points * cost::kClipPair);
  QPainterPath frame = out.subtracted(inner);
  FillRegion(output_.inverted().map(frame), brush);
}

void DeviceContext::InvertRegion(const QPainterPath& region) {
  const QPainterPath out = output_.map(region);
  if (!Reasonable(out) || !Begin()) return;
  ChargeFill(out, QBrush(Qt::white));
  if (!painter_) return;
  painter_->resetTransform();
  painter_->setCompositionMode(QPainter::RasterOp_NotDestination);
  painter_->fillPath(out, Qt::white);
  painter_->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void DeviceContext::FillGradient(const QPainterPath& shape, const QBrush& brush) {
  const QPainterPath out = OutputPath(shape);
  if (!Reasonable(out) || state_.pathOpen || !Begin()) return;
  ChargeFill(out, brush);
  if (painter_) painter_->fillPath(shape, brush);
}

void DeviceContext::BeginPath() {
  path_ = QPainterPath();
  pathHasFigure_ = false;
  state_.pathOpen = true;
}

void DeviceContext::AbortPath() {
  path_ = QPainterPath();
  pathHasFigure_ = false;
  state_.pathOpen = false;
}

void DeviceContext::CloseFigure() {
  if (state_.pathOpen) {
    path_.closeSubpath();
    pathHasFigure_ = false;
  }
}

void DeviceContext::FillPath() {
  state_.pathOpen = false;
  path_.setFillRule(state_.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
  if (Reasonable(path_) && Begin()) FillOutputPath(path_, CurrentBrush());
  path_ = QPainterPath();
}

void DeviceContext::StrokePath() {
  state_.pathOpen = false;
  if (Reasonable(path_) && Begin()) StrokeOutputPath(path_);
  path_ = QPainterPath();
}

void DeviceContext::StrokeAndFillPath() {
  state_.pathOpen = false;
  path_.setFillRule(state_.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
  if (Reasonable(path_) && Begin()) {
    FillOutputPath(path_, CurrentBrush());
    StrokeOutputPath(path_);
  }
  path_ = QPainterPath();
}

void DeviceContext::SelectClipPath(int mode) {
  state_.pathOpen = false;
  path_.setFillRule(state_.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
  if (Reasonable(path_)) ApplyClip(path_, mode);
  path_ = QPainterPath();
}

void DeviceContext::ApplyClip(const QPainterPath& area, int mode) {
  QPainterPath everything;
  everything.addRect(OutputBounds());
  const QPainterPath current = state_.clip ? *state_.clip : everything;
  if (mode >= 1 && mode <= 4) ChargeClipOperation(area, mode);
  switch (mode) {
    case 1: SetClip(current.intersected(area)); break;              // RGN_AND
    case 2: if (state_.clip) SetClip(current.united(area)); break;  // RGN_OR
    case 3:                                                         // RGN_XOR
      ChargeClipOperation(area, mode);
      ChargeClipOperation(area, mode);
      SetClip(current.united(area).subtracted(current.intersected(area)));
      break;
    case 4: SetClip(current.subtracted(area)); break;               // RGN_DIFF
    case 5:                                                         // RGN_COPY
      budget_.Spend(area.elementCount() * cost::kPathElement);
      SetClip(area);
      break;
    default: break;
  }
}

void DeviceContext::IntersectClipRect(const QRectF& box) {
  QPainterPath path;
  path.addRect(NormalizedBox(box));
  const QPainterPath out = OutputPath(path);
  if (Reasonable(out)) ApplyClip(out, 1);
}

void DeviceContext::ExcludeClipRect(const QRectF& box) {
  QPainterPath path;
  path.addRect(NormalizedBox(box));
  const QPainterPath out = OutputPath(path);
  if (Reasonable(out)) ApplyClip(out, 4);
}

void DeviceContext::SelectClipRegion(std::optional<QPainterPath> region, int mode) {
  if (!region) {
    // No region with RGN_COPY: the clipping is removed.
    if (mode == 5) SetClip(std::nullopt);
    return;
  }
  const QPainterPath out = output_.map(*region);
  if (Reasonable(out)) ApplyClip(out, mode);
}

void DeviceContext::OffsetClipRegion(QPointF offset) {
  if (!state_.clip || !Finite(offset)) return;
  const QTransform t = LogicalToDevice() * output_;
  // The offset is in logical units; move by its length on the device.
  const QPointF moved = t.map(offset) - t.map(QPointF(0, 0));
  budget_.Spend(state_.clip->elementCount() * cost::kPathElement);
  SetClip(state_.clip->translated(moved));
}

// ---- Helpers for the decoders ----

QColor ColorRef(uint32_t value, const DeviceContext& dc) {
  const uint8_t flag = uint8_t(value >> 24);
  if (flag == 1) return dc.PaletteColor(value & 0xFFFF);  // PALETTEINDEX
  return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

QImage DecodeDib(std::span<const uint8_t> info, std::span<const uint8_t> bits,
                 WorkBudget& budget) {
  try {
    pictures::MemoryStream headerStream(info);
    const pictures::DibHeader header = pictures::ReadDibHeader(headerStream);
    headerStream.Seek(header.bytesBeforePalette);
    uint64_t entries = header.paletteEntries;
    if (entries == 0 && header.bitCount <= 8) entries = uint64_t(1) << header.bitCount;
    const std::vector<pictures::PaletteEntry> palette =
        pictures::ReadDibPalette(headerStream, header, entries);
    pictures::Bitmap bitmap;
    if (bits.empty()) {
      pictures::DecodeDibPixels(headerStream, header, palette, bitmap);
    } else {
      pictures::MemoryStream bitsStream(bits);
      pictures::DecodeDibPixels(bitsStream, header, palette, bitmap);
    }
    const int w = bitmap.Width(), h = bitmap.Height();
    if (w <= 0 || h <= 0) return QImage();
    // A record's pixels cannot expand beyond what its data allows, so one picture is
    // decoded whatever the budget; its conversion and the next pictures are charged.
    budget.Spend(double(w) * h * cost::kDecodePixel);
    if (bitmap.GetPixelFormat() == pictures::PixelFormat::Bits32 && bitmap.Transparent()) {
      QImage image(w, h, QImage::Format_ARGB32);
      if (image.isNull()) return QImage();
      for (int y = 0; y < h; ++y)
        std::memcpy(image.scanLine(y), bitmap.ScanLine(y), size_t(w) * 4);
      return image;
    }
    QImage image(w, h, QImage::Format_RGB888);
    if (image.isNull()) return QImage();
    std::vector<uint8_t> row(size_t(w) * 3);
    for (int y = 0; y < h; ++y) {
      pictures::RowToBGR(bitmap, y, row.data());
      uint8_t* out = image.scanLine(y);
      for (int x = 0; x < w; ++x) {
        out[3 * x] = row[3 * size_t(x) + 2];
        out[3 * x + 1] = row[3 * size_t(x) + 1];
        out[3 * x + 2] = row[3 * size_t(x)];
      }
    }
    return image;
  } catch (const pictures::BitmapTooLarge&) {
    throw;  // the picture as a whole is too large to draw
  } catch (const pictures::PictureError&) {
    return QImage();
  }
}

QString DecodeText(std::span<const uint8_t> bytes, uint8_t charSet) {
  const char* codec = nullptr;
  switch (charSet) {
    case 128: codec = "Shift_JIS"; break;
    case 129: codec = "EUC-KR"; break;
    case 134: codec = "GBK"; break;
    case 136: codec = "Big5"; break;
    case 161: codec = "windows-1253"; break;
    case 162: codec = "windows-1254"; break;
    case 177: codec = "windows-1255"; break;
    case 178: codec = "windows-1256"; break;
    case 186: codec = "windows-1257"; break;
    case 204: codec = "windows-1251"; break;
    case 238: codec = "windows-1250"; break;
    case 222: codec = "windows-874"; break;
    default: break;
  }
  const QByteArrayView view(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
  if (codec) {
    QStringDecoder decoder(codec);
    if (decoder.isValid()) return decoder.decode(view);
  }
  if (charSet == 2) {
    // Symbol fonts: their glyphs sit in the private use area of Unicode fonts.
    QString text;
    for (uint8_t b : bytes) text += QChar(char16_t(0xF000 + b));
    return text;
  }
  // Western text (the ANSI code page): Latin-1 with the printable characters of 80 to 9F.
  static const char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  QString text;
  text.reserve(qsizetype(bytes.size()));
  for (uint8_t b : bytes) text += QChar(b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : char16_t(b));
  return text;
}

}  // namespace platform::metafile
