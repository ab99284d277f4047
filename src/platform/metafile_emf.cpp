// The records of enhanced metafiles.
#include <algorithm>
#include <cstring>
#include <vector>

#include "base/byte_reader.h"
#include "platform/metafile_player.h"

namespace platform::metafile {

namespace {

using pictures::ByteReader;

float F32(ByteReader& r) {
  const uint32_t bits = r.U32LE();
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}

QPointF PointL(ByteReader& r) {
  const double x = r.S32LE();
  const double y = r.S32LE();
  return QPointF(x, y);
}

QRectF RectL(ByteReader& r) {
  const double left = r.S32LE(), top = r.S32LE(), right = r.S32LE(), bottom = r.S32LE();
  return QRectF(QPointF(left, top), QPointF(right, bottom));
}

QTransform XForm(ByteReader& r) {
  const double m11 = F32(r), m12 = F32(r), m21 = F32(r), m22 = F32(r), dx = F32(r), dy = F32(r);
  return QTransform(m11, m12, m21, m22, dx, dy);
}

QPolygonF Points(ByteReader& r, size_t count, bool sixteen) {
  if (count > r.Remaining() / (sixteen ? 4 : 8)) throw pictures::StreamReadError();
  QPolygonF points;
  points.reserve(qsizetype(count));
  for (size_t i = 0; i < count; ++i) {
    if (sixteen) {
      const double x = r.S16LE();
      const double y = r.S16LE();
      points << QPointF(x, y);
    } else {
      points << PointL(r);
    }
  }
  return points;
}

std::vector<QPolygonF> PolyPoints(ByteReader& r, bool sixteen) {
  const size_t polygons = r.U32LE();
  const size_t total = r.U32LE();
  if (polygons > r.Remaining() / 4) throw pictures::StreamReadError();
  std::vector<size_t> counts(polygons);
  size_t sum = 0;
  for (size_t& count : counts) {
    count = r.U32LE();
    sum += count;
    if (sum > total) throw pictures::StreamReadError();
  }
  std::vector<QPolygonF> all;
  for (size_t count : counts) all.push_back(Points(r, count, sixteen));
  return all;
}

// A region's rectangles (RGNDATA), in device coordinates.
QPainterPath RegionData(ByteReader& r, size_t bytes, WorkBudget& budget) {
  if (bytes < 32) return QPainterPath();
  const size_t start = r.Position();
  const uint32_t headerSize = r.U32LE();
  r.U32LE();  // type
  const size_t count = r.U32LE();
  r.U32LE();  // size of the rectangles
  r.Skip(16);  // bounds
  if (headerSize > 32) r.Seek(start + headerSize);
  if (count > r.Remaining() / 16) throw pictures::StreamReadError();
  QPainterPath path;
  const size_t kept = std::min(count, kMaxRegionRectangles);
  budget.Spend(double(kept) * cost::kRegionRectangle);
  for (size_t i = 0; i < kept; ++i) path.addRect(RectL(r).normalized());
  path.setFillRule(Qt::WindingFill);
  return path;
}

// A picture that a record carries: its header at one offset, its pixels at another.
QImage RecordPicture(std::span<const uint8_t> record, uint32_t offBmi, uint32_t cbBmi,
                     uint32_t offBits, uint32_t cbBits, WorkBudget& budget) {
  if (cbBmi == 0 || offBmi >= record.size() || cbBmi > record.size() - offBmi) return QImage();
  if (offBits > record.size() || cbBits > record.size() - offBits) return QImage();
  const auto info = record.subspan(offBmi, cbBmi);
  const auto bits = record.subspan(offBits, cbBits);
  if (bits.empty()) return QImage();
  return DecodeDib(info, bits, budget);
}

GdiObject LogFontW(ByteReader& r) {
  GdiObject font;
  font.kind = GdiObject::Kind::Font;
  LogFont& f = font.font;
  f.height = r.S32LE();
  f.width = r.S32LE();
  f.escapement = r.S32LE();
  r.S32LE();  // orientation
  f.weight = r.S32LE();
  const auto flags = r.Bytes(8);
  f.italic = flags[0] != 0;
  f.underline = flags[1] != 0;
  f.strikeOut = flags[2] != 0;
  f.charSet = flags[3];
  const size_t chars = std::min<size_t>(32, r.Remaining() / 2);
  QString name;
  for (size_t i = 0; i < chars; ++i) {
    const char16_t c = r.U16LE();
    if (c == 0) break;
    name += QChar(c);
  }
  f.faceName = name;
  return font;
}

// EMR_EXTTEXTOUTA / EMR_EXTTEXTOUTW.
void ExtTextOut(ByteReader& r, std::span<const uint8_t> record, DeviceContext& dc, bool wide,
                uint8_t charSet) {
  r.Skip(16);  // bounds
  r.U32LE();   // graphics mode
  F32(r);      // x scale
  F32(r);      // y scale
  const QPointF reference = PointL(r);
  const size_t count = r.U32LE();
  const size_t offString = r.U32LE();
  const uint32_t options = r.U32LE();
  const QRectF rect = RectL(r);
  const size_t offDx = r.U32LE();
  const size_t unit = wide ? 2 : 1;
  if (offString > record.size() || count > (record.size() - offString) / unit) return;
  QString text;
  if (wide) {
    text.reserve(qsizetype(count));
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* p = record.data() + offString + 2 * i;
      text += QChar(char16_t(p[0] | p[1] << 8));
    }
  } else {
    text = DecodeText(record.subspan(offString, count), charSet);
  }
  std::vector<double> dx;
  // ETO_PDY (0x2000) stores an x and a y advance for each character.
  const size_t stride = (options & 0x2000) ? 8 : 4;
  if (offDx > 0 && offDx <= record.size() && count <= (record.size() - offDx) / stride &&
      size_t(text.size()) == count) {
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* p = record.data() + offDx + stride * i;
      dx.push_back(double(int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 |
                                  uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24)));
    }
  }
  const bool hasRect = rect.width() != 0 || rect.height() != 0;
  dc.TextOut(reference, text, options,
             hasRect ? std::optional<QRectF>(rect) : std::nullopt, dx);
}

void Blit(ByteReader& r, std::span<const uint8_t> record, DeviceContext& dc, uint32_t type) {
  r.Skip(16);  // bounds
  const double xDest = r.S32LE(), yDest = r.S32LE();
  const double cxDest = r.S32LE(), cyDest = r.S32LE();
  uint32_t rop = r.U32LE();
  const double xSrc = r.S32LE(), ySrc = r.S32LE();
  XForm(r);   // source transform
  r.U32LE();  // background colour of the source
  r.U32LE();  // colour usage
  const uint32_t offBmi = r.U32LE(), cbBmi = r.U32LE();
  const uint32_t offBits = r.U32LE(), cbBits = r.U32LE();
  double cxSrc = cxDest, cySrc = cyDest;
  if (type != 76) {  // STRETCHBLT, ALPHABLEND, TRANSPARENTBLT carry the source size
    cxSrc = r.S32LE();
    cySrc = r.S32LE();
  }
  const QRectF target(xDest, yDest, cxDest, cyDest);
  QImage image = RecordPicture(record, offBmi, cbBmi, offBits, cbBits, dc.Budget());
  if (type == 114) {
    // AlphaBlend: the fourth byte says whether the picture has alpha; the third is a
    // constant opacity.
    const uint8_t constant = uint8_t(rop >> 16);
    const bool perPixel = (rop >> 24) & 1;
    if (image.isNull()) return;
    if (!perPixel || !image.hasAlphaChannel())
      image = image.convertToFormat(QImage::Format_ARGB32);
    else
      image.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
    if (constant != 255) {
      QImage faded(image.size(), QImage::Format_ARGB32_Premultiplied);
      faded.fill(Qt::transparent);
      QPainter painter(&faded);
      painter.setOpacity(constant / 255.0);
      painter.drawImage(0, 0, image);
      painter.end();
      image = faded;
    }
    rop = 0x00CC0020;
  } else if (type == 116) {
    // TransparentBlt: the colour in the raster operation's place is left out.
    if (image.isNull()) return;
    const QRgb key = qRgb(int(rop & 0xFF), int((rop >> 8) & 0xFF), int((rop >> 16) & 0xFF));
    image = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
      QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < image.width(); ++x)
        if ((line[x] & 0xFFFFFF) == (key & 0xFFFFFF)) line[x] = 0;
    }
    rop = 0x00CC0020;
  }
  if (image.isNull() && cbBmi == 0) {
    dc.PatBlt(target, rop);
    return;
  }
  dc.DrawImage(target, image, QRectF(xSrc, ySrc, cxSrc, cySrc), rop);
}

// EMR_STRETCHDIBITS and EMR_SETDIBITSTODEVICE: source rows count from the picture's
// bottom.
void DibBits(ByteReader& r, std::span<const uint8_t> record, DeviceContext& dc, bool stretch) {
  r.Skip(16);
  const double xDest = r.S32LE(), yDest = r.S32LE();
  const double xSrc = r.S32LE(), ySrc = r.S32LE();
  const double cxSrc = r.S32LE(), cySrc = r.S32LE();
  const uint32_t offBmi = r.U32LE(), cbBmi = r.U32LE();
  const uint32_t offBits = r.U32LE(), cbBits = r.U32LE();
  r.U32LE();  // colour usage
  uint32_t rop = 0x00CC0020;
  double cxDest = cxSrc, cyDest = cySrc;
  if (stretch) {
    rop = r.U32LE();
    cxDest = r.S32LE();
    cyDest = r.S32LE();
  }
  const QRectF target(xDest, yDest, cxDest, cyDest);
  const QImage image = RecordPicture(record, offBmi, cbBmi, offBits, cbBits, dc.Budget());
  if (image.isNull()) {
    if (stretch && cbBmi == 0) dc.PatBlt(target, rop);
    return;
  }
  QRectF source(xSrc, ySrc, cxSrc, cySrc);
  if (!stretch) source = QRectF(xSrc, ySrc, cxSrc, cySrc);
  if (cySrc > 0 && ySrc + cySrc <= image.height()) source.moveTop(image.height() - ySrc - cySrc);
  dc.DrawImage(target, image, source, rop);
}

void GradientFill(ByteReader& r, DeviceContext& dc) {
  r.Skip(16);
  const size_t vertices = r.U32LE();
  const size_t shapes = r.U32LE();
  const uint32_t mode = r.U32LE();
  if (vertices > r.Remaining() / 16) return;
  struct Vertex {
    QPointF point;
    QColor color;
  };
  std::vector<Vertex> v(vertices);
  for (Vertex& vertex : v) {
    vertex.point = PointL(r);
    const int red = r.U16LE() >> 8, green = r.U16LE() >> 8, blue = r.U16LE() >> 8;
    r.U16LE();  // alpha
    vertex.color = QColor(red, green, blue);
  }
  for (size_t i = 0; i < shapes; ++i) {
    if (mode == 2) {  // triangles: filled with the mean of their corners
      const uint32_t a = r.U32LE(), b = r.U32LE(), c = r.U32LE();
      if (a >= vertices || b >= vertices || c >= vertices) continue;
      const QColor mean((v[a].color.red() + v[b].color.red() + v[c].color.red()) / 3,
                        (v[a].color.green() + v[b].color.green() + v[c].color.green()) / 3,
                        (v[a].color.blue() + v[b].color.blue() + v[c].color.blue()) / 3);
      QPainterPath path;
      path.addPolygon(QPolygonF{v[a].point, v[b].point, v[c].point});
      path.closeSubpath();
      dc.FillGradient(path, QBrush(mean));
    } else {
      const uint32_t a = r.U32LE(), b = r.U32LE();
      if (a >= vertices || b >= vertices) continue;
      const QRectF box = QRectF(v[a].point, v[b].point).normalized();
      QLinearGradient gradient(v[a].point, mode == 1 ? QPointF(v[a].point.x(), v[b].point.y())
                                                     : QPointF(v[b].point.x(), v[a].point.y()));
      gradient.setColorAt(0, v[a].color);
      gradient.setColorAt(1, v[b].color);
      QPainterPath path;
      path.addRect(box);
      dc.FillGradient(path, QBrush(gradient));
    }
  }
}

}  // namespace

void PlayEmf(std::span<const uint8_t> records, DeviceContext& dc) {
  ByteReader file(records);
  uint8_t charSet = 0;
  bool first = true;
  while (file.Remaining() >= 8) {
    const size_t start = file.Position();
    const uint32_t type = file.U32LE();
    const uint32_t size = file.U32LE();
    if (size < 8 || size - 8 > file.Remaining()) break;
    if (first && type != 1) throw pictures::PictureError(kInvalidMetafile);
    first = false;
    const std::span<const uint8_t> record = records.subspan(start, size);
    ByteReader r(record);
    r.Skip(8);
    if (type == 14) break;  // EMR_EOF
    try {
      switch (type) {
        case 2: case 85: r.Skip(16); dc.PolyBezier(Points(r, r.U32LE(), type == 85)); break;
        case 3: case 86: r.Skip(16); dc.Polygon(Points(r, r.U32LE(), type == 86)); break;
        case 4: case 87: r.Skip(16); dc.Polyline(Points(r, r.U32LE(), type == 87)); break;
        case 5: case 88: r.Skip(16); dc.PolyBezierTo(Points(r, r.U32LE(), type == 88)); break;
        case 6: case 89: r.Skip(16); dc.PolylineTo(Points(r, r.U32LE(), type == 89)); break;
        case 7: case 90: r.Skip(16); dc.PolyPolyline(PolyPoints(r, type == 90)); break;
        case 8: case 91: r.Skip(16); dc.PolyPolygon(PolyPoints(r, type == 91)); break;
        case 9: {
          const double cx = r.S32LE(), cy = r.S32LE();
          dc.SetWindowExt(QSizeF(cx, cy));
          break;
        }
        case 10: dc.SetWindowOrg(PointL(r)); break;
        case 11: {
          const double cx = r.S32LE(), cy = r.S32LE();
          dc.SetViewportExt(QSizeF(cx, cy));
          break;
        }
        case 12: dc.SetViewportOrg(PointL(r)); break;
        case 15: {
          const QPointF at = PointL(r);
          dc.SetPixel(at, ColorRef(r.U32LE(), dc));
          break;
        }
        case 17: dc.SetMapMode(int(r.U32LE())); break;
        case 18: dc.SetBkMode(int(r.U32LE())); break;
        case 19: dc.SetPolyFillMode(int(r.U32LE())); break;
        case 20: dc.SetRop2(int(r.U32LE())); break;
        case 22: dc.SetTextAlign(r.U32LE()); break;
        case 24: dc.SetTextColor(ColorRef(r.U32LE(), dc)); break;
        case 25: dc.SetBkColor(ColorRef(r.U32LE(), dc)); break;
        case 26: dc.OffsetClipRegion(PointL(r)); break;
        case 27: dc.MoveTo(PointL(r)); break;
        case 29: dc.ExcludeClipRect(RectL(r)); break;
        case 30: dc.IntersectClipRect(RectL(r)); break;
        case 31:
        case 32: {
          const double xNum = r.S32LE(), xDenom = r.S32LE(), yNum = r.S32LE(),
                       yDenom = r.S32LE();
          if (type == 31)
            dc.ScaleViewportExt(xNum, xDenom, yNum, yDenom);
          else
            dc.ScaleWindowExt(xNum, xDenom, yNum, yDenom);
          break;
        }
        case 33: dc.SaveDC(); break;
        case 34: dc.RestoreDC(r.S32LE()); break;
        case 35: dc.SetWorldTransform(XForm(r)); break;
        case 36: {
          const QTransform t = XForm(r);
          dc.ModifyWorldTransform(t, int(r.U32LE()));
          break;
        }
        case 37: {
          const uint32_t index = r.U32LE();
          dc.SelectObject(index);
          if (const GdiObject* o = dc.Object(index); o && o->kind == GdiObject::Kind::Font)
            charSet = o->font.charSet;
          break;
        }
        case 38: {  // EMR_CREATEPEN
          const uint32_t index = r.U32LE();
          GdiObject pen;
          pen.kind = GdiObject::Kind::Pen;
          pen.penStyle = int(r.U32LE());
          pen.penWidth = std::abs(double(r.S32LE()));
          r.S32LE();
          pen.color = ColorRef(r.U32LE(), dc);
          pen.cosmeticPen = true;
          dc.CreateObjectAt(index, pen);
          break;
        }
        case 95: {  // EMR_EXTCREATEPEN
          const uint32_t index = r.U32LE();
          r.Skip(16);  // the pattern picture's offsets and sizes
          GdiObject pen;
          pen.kind = GdiObject::Kind::Pen;
          pen.penStyle = int(r.U32LE());
          pen.penWidth = double(r.U32LE());
          const uint32_t brushStyle = r.U32LE();
          pen.color = ColorRef(r.U32LE(), dc);
          r.U32LE();  // hatch
          const size_t entries = r.U32LE();
          for (size_t i = 0; i < entries && i < 64 && r.Remaining() >= 4; ++i)
            pen.dashes.push_back(double(r.U32LE()));
          pen.cosmeticPen = (pen.penStyle & 0x10000) == 0;
          if (brushStyle == 1) pen.penStyle = (pen.penStyle & ~0xF) | 5;  // hollow: no pen
          dc.CreateObjectAt(index, pen);
          break;
        }
        case 39: {  // EMR_CREATEBRUSHINDIRECT
          const uint32_t index = r.U32LE();
          GdiObject brush;
          brush.kind = GdiObject::Kind::Brush;
          brush.brushStyle = int(r.U32LE());
          brush.color = ColorRef(r.U32LE(), dc);
          brush.hatch = int(r.U32LE());
          if (brush.brushStyle > 2) brush.brushStyle = 0;
          dc.CreateObjectAt(index, brush);
          break;
        }
        case 93:    // EMR_CREATEMONOBRUSH
        case 94: {  // EMR_CREATEDIBPATTERNBRUSHPT
          const uint32_t index = r.U32LE();
          r.U32LE();  // colour usage
          const uint32_t offBmi = r.U32LE(), cbBmi = r.U32LE();
          const uint32_t offBits = r.U32LE(), cbBits = r.U32LE();
          GdiObject brush;
          brush.kind = GdiObject::Kind::Brush;
          brush.brushStyle = 3;
          brush.pattern = RecordPicture(record, offBmi, cbBmi, offBits, cbBits, dc.Budget());
          if (brush.pattern.isNull()) {
            brush.brushStyle = 0;
            brush.color = QColor(0x80, 0x80, 0x80);
          }
          dc.CreateObjectAt(index, brush);
          break;
        }
        case 82: {  // EMR_EXTCREATEFONTINDIRECTW
          const uint32_t index = r.U32LE();
          dc.CreateObjectAt(index, LogFontW(r));
          break;
        }
        case 49: {  // EMR_CREATEPALETTE
          const uint32_t index = r.U32LE();
          GdiObject palette;
          palette.kind = GdiObject::Kind::Palette;
          r.U16LE();  // version
          const size_t count = r.U16LE();
          for (size_t i = 0; i < count && r.Remaining() >= 4; ++i) {
            const auto e = r.Bytes(4);
            palette.palette.emplace_back(e[0], e[1], e[2]);
          }
          dc.CreateObjectAt(index, palette);
          break;
        }
        case 48: dc.SelectObject(r.U32LE()); break;  // EMR_SELECTPALETTE
        case 40: dc.DeleteObject(r.U32LE()); break;
        case 41: {
          const QPointF center = PointL(r);
          const double radius = r.U32LE();
          const double startAngle = F32(r);
          const double sweep = F32(r);
          dc.AngleArc(center, radius, startAngle, sweep);
          break;
        }
        case 42: dc.Ellipse(RectL(r)); break;
        case 43: dc.Rectangle(RectL(r)); break;
        case 44: {
          const QRectF box = RectL(r);
          const double cx = r.S32LE(), cy = r.S32LE();
          dc.RoundRect(box, QSizeF(cx, cy));
          break;
        }
        case 45: case 46: case 47: case 55: {
          const QRectF box = RectL(r);
          const QPointF start = PointL(r);
          const QPointF end = PointL(r);
          const ArcKind kind = type == 45   ? ArcKind::Arc
                               : type == 46 ? ArcKind::Chord
                               : type == 47 ? ArcKind::Pie
                                            : ArcKind::ArcTo;
          dc.Arc(box, start, end, kind);
          break;
        }
        case 54: dc.LineTo(PointL(r)); break;
        case 57: dc.SetArcDirection(int(r.U32LE())); break;
        case 58: dc.SetMiterLimit(F32(r)); break;
        case 59: dc.BeginPath(); break;
        case 60: dc.EndPath(); break;
        case 61: dc.CloseFigure(); break;
        case 62: dc.FillPath(); break;
        case 63: dc.StrokeAndFillPath(); break;
        case 64: dc.StrokePath(); break;
        case 67: dc.SelectClipPath(int(r.U32LE())); break;
        case 68: dc.AbortPath(); break;
        case 71: {  // EMR_FILLRGN
          r.Skip(16);
          const size_t bytes = r.U32LE();
          const uint32_t brush = r.U32LE();
          dc.FillRegion(RegionData(r, bytes, dc.Budget()), brush);
          break;
        }
        case 72: {  // EMR_FRAMERGN
          r.Skip(16);
          const size_t bytes = r.U32LE();
          const uint32_t brush = r.U32LE();
          const double w = r.S32LE(), h = r.S32LE();
          dc.FrameRegion(RegionData(r, bytes, dc.Budget()), brush, QSizeF(w, h));
          break;
        }
        case 73:
        case 74: {  // EMR_INVERTRGN, EMR_PAINTRGN
          r.Skip(16);
          const size_t bytes = r.U32LE();
          const QPainterPath region = RegionData(r, bytes, dc.Budget());
          if (type == 73)
            dc.InvertRegion(region);
          else
            dc.FillRegion(region, std::nullopt);
          break;
        }
        case 75: {  // EMR_EXTSELECTCLIPRGN
          const size_t bytes = r.U32LE();
          const int mode = int(r.U32LE());
          if (bytes == 0)
            dc.SelectClipRegion(std::nullopt, mode);
          else
            dc.SelectClipRegion(RegionData(r, bytes, dc.Budget()), mode);
          break;
        }
        case 76: case 77: case 114: case 116: Blit(r, record, dc, type); break;
        case 80: DibBits(r, record, dc, false); break;
        case 81: DibBits(r, record, dc, true); break;
        case 83: ExtTextOut(r, record, dc, false, charSet); break;
        case 84: ExtTextOut(r, record, dc, true, charSet); break;
        case 118: GradientFill(r, dc); break;
        default: break;  // comments, colour management, unsupported records
      }
    } catch (const pictures::StreamReadError&) {
      // A record shorter than its kind needs is passed over.
    }
    file.Seek(start + size);
  }
}

}  // namespace platform::metafile
