// The records of 16-bit Windows metafiles. Parameters are stored in the reverse order of
// the drawing functions' arguments, so a rectangle reads bottom, right, top, left.
#include <algorithm>
#include <vector>

#include "base/byte_reader.h"
#include "platform/metafile_player.h"

namespace platform::metafile {

namespace {

using pictures::ByteReader;

// One record's parameter words, read from the front.
class Params {
 public:
  explicit Params(std::span<const uint8_t> bytes) : reader_(bytes) {}
  int16_t S16() { return reader_.S16LE(); }
  uint16_t U16() { return reader_.U16LE(); }
  uint32_t U32() { return reader_.U32LE(); }
  double D() { return double(S16()); }
  QPointF PointYX() {
    const double y = D();
    const double x = D();
    return QPointF(x, y);
  }
  // Left, top, right, bottom stored as bottom, right, top, left.
  QRectF RectReversed() {
    const double bottom = D(), right = D(), top = D(), left = D();
    return QRectF(QPointF(left, top), QPointF(right, bottom));
  }
  QPolygonF Points(size_t count) {
    if (count * 4 > reader_.Remaining()) throw pictures::StreamReadError();
    QPolygonF points;
    points.reserve(qsizetype(count));
    for (size_t i = 0; i < count; ++i) {
      const double x = D();
      const double y = D();
      points << QPointF(x, y);
    }
    return points;
  }
  std::span<const uint8_t> Bytes(size_t count) { return reader_.Bytes(count); }
  std::span<const uint8_t> Rest() const { return reader_.Rest(); }
  size_t Remaining() const { return reader_.Remaining(); }
  void Skip(size_t count) { reader_.Skip(count); }

 private:
  ByteReader reader_;
};

GdiObject PenRecord(Params& p, const DeviceContext& dc) {
  GdiObject pen;
  pen.kind = GdiObject::Kind::Pen;
  pen.penStyle = p.U16();
  pen.penWidth = std::abs(p.D());
  p.S16();  // the y part of the width is unused
  pen.color = ColorRef(p.U32(), dc);
  pen.cosmeticPen = true;
  return pen;
}

GdiObject BrushRecord(Params& p, const DeviceContext& dc) {
  GdiObject brush;
  brush.kind = GdiObject::Kind::Brush;
  brush.brushStyle = p.U16();
  brush.color = ColorRef(p.U32(), dc);
  brush.hatch = p.U16();
  if (brush.brushStyle > 2) brush.brushStyle = 0;  // patterns need a picture: solid
  return brush;
}

GdiObject FontRecord(Params& p) {
  GdiObject font;
  font.kind = GdiObject::Kind::Font;
  LogFont& f = font.font;
  f.height = p.S16();
  f.width = p.S16();
  f.escapement = p.S16();
  p.S16();  // orientation
  f.weight = p.S16();
  const auto flags = p.Bytes(8);
  f.italic = flags[0] != 0;
  f.underline = flags[1] != 0;
  f.strikeOut = flags[2] != 0;
  f.charSet = flags[3];
  const auto name = p.Rest().first(std::min<size_t>(p.Remaining(), 32));
  size_t length = 0;
  while (length < name.size() && name[length] != 0) ++length;
  f.faceName = DecodeText(name.first(length), 0);
  return font;
}

GdiObject PaletteRecord(Params& p) {
  GdiObject palette;
  palette.kind = GdiObject::Kind::Palette;
  p.U16();  // version
  const size_t count = p.U16();
  for (size_t i = 0; i < count && p.Remaining() >= 4; ++i) {
    const auto e = p.Bytes(4);
    palette.palette.emplace_back(e[0], e[1], e[2]);
  }
  return palette;
}

// A region record: a header, then scans of left and right edges between a top and a
// bottom. Coordinates are logical; the result is in device coordinates, made one outline
// of the pieces.
GdiObject RegionRecord(Params& p, DeviceContext& dc) {
  GdiObject region;
  region.kind = GdiObject::Kind::Region;
  p.Skip(2 + 2 + 4 + 2);  // next in chain, object type, object count, region size
  const size_t scans = p.U16();
  p.U16();  // the largest scan
  p.Skip(8);  // bounding rectangle
  QPainterPath path;
  size_t rectangles = 0;
  for (size_t s = 0; s < scans && p.Remaining() >= 6; ++s) {
    const size_t count = p.U16();
    const double top = p.D();
    const double bottom = p.D();
    // `count` edges, a left and a right for each piece of the scan.
    for (size_t i = 0; i < count / 2 && p.Remaining() >= 4; ++i) {
      const double left = p.D();
      const double right = p.D();
      if (rectangles++ < kMaxRegionRectangles)
        path.addRect(QRectF(QPointF(left, top), QPointF(right, bottom)).normalized());
    }
    if (p.Remaining() >= 2) p.U16();  // the count again
  }
  // Simplifying meets every edge with every other, as region arithmetic does.
  const double points = path.elementCount();
  dc.Budget().Spend(double(std::min(rectangles, kMaxRegionRectangles)) * cost::kRegionRectangle +
                    points * points * cost::kClipPair);
  path.setFillRule(Qt::WindingFill);
  region.region = dc.LogicalToDevice().map(path.simplified());
  return region;
}

// Text of a record: the bytes up to `count`, cut at a zero.
QString RecordText(std::span<const uint8_t> bytes, const DeviceContext&, uint8_t charSet) {
  return DecodeText(bytes, charSet);
}

void BlitRecord(Params& p, DeviceContext& dc, uint16_t function, size_t parameterBytes) {
  const uint32_t rop = p.U32();
  if (function == 0x0F43) p.U16();  // colour usage of META_STRETCHDIB
  double srcH = 0, srcW = 0;
  double srcY, srcX;
  const bool stretch = function != 0x0940;
  const bool withPicture = function == 0x0F43 || parameterBytes > (stretch ? 22u : 18u);
  if (stretch) {
    srcH = p.D();
    srcW = p.D();
  }
  srcY = p.D();
  srcX = p.D();
  if (!withPicture) p.U16();  // reserved word of the records without a picture
  const double destH = p.D(), destW = p.D();
  const double destY = p.D(), destX = p.D();
  if (!stretch) {
    srcW = destW;
    srcH = destH;
  }
  const QRectF target(destX, destY, destW, destH);
  if (!withPicture) {
    dc.PatBlt(target, rop);
    return;
  }
  const QImage image = DecodeDib(p.Rest(), {}, dc.Budget());
  if (image.isNull()) return;
  // Source rows count from the bottom of the stored picture for bottom-up pictures; the
  // decoded picture is top-down, so a source rectangle is taken as given from the top
  // only when it covers the whole height.
  // The device-independent record counts source rows from the picture's bottom (its
  // pictures are stored bottom-up); the blits through a memory device count from the top.
  QRectF source(srcX, srcY, srcW, srcH);
  if (function == 0x0F43 && srcH > 0 && srcY + srcH <= image.height())
    source.moveTop(image.height() - srcY - srcH);
  dc.DrawImage(target, image, source, rop);
}

void SetDibToDevice(Params& p, DeviceContext& dc) {
  p.U16();  // colour usage
  p.U16();  // scan count
  p.U16();  // start scan
  const double yDib = p.D(), xDib = p.D();
  const double height = p.D(), width = p.D();
  const double yDest = p.D(), xDest = p.D();
  const QImage image = DecodeDib(p.Rest(), {}, dc.Budget());
  if (image.isNull()) return;
  dc.DrawImage(QRectF(xDest, yDest, width, height), image,
               QRectF(xDib, image.height() - yDib - height, width, height), 0x00CC0020);
}

void ExtTextOut(Params& p, DeviceContext& dc, uint8_t charSet) {
  const QPointF reference = p.PointYX();
  const size_t count = p.U16();
  const uint16_t options = p.U16();
  std::optional<QRectF> rect;
  if ((options & 0x0006) && p.Remaining() >= 8) {
    const double left = p.D(), top = p.D(), right = p.D(), bottom = p.D();
    rect = QRectF(QPointF(left, top), QPointF(right, bottom));
  }
  const size_t length = std::min(count, p.Remaining());
  const QString text = RecordText(p.Bytes(length), dc, charSet);
  if (length % 2 && p.Remaining() > 0) p.Skip(1);
  std::vector<double> dx;
  // The advances are given per byte; they are used when each byte is one character.
  if (p.Remaining() >= 2 * length && size_t(text.size()) == length) {
    for (size_t i = 0; i < length; ++i) dx.push_back(p.D());
  }
  dc.TextOut(reference, text, options, rect, dx);
}

}  // namespace

void PlayWmf(std::span<const uint8_t> records, DeviceContext& dc) {
  ByteReader file(records);
  // The header: type, header size in words, version, file size, objects, largest record,
  // members.
  file.U16LE();
  const size_t headerWords = file.U16LE();
  if (headerWords < 9) throw pictures::PictureError(kInvalidMetafile);
  file.Seek(headerWords * 2);
  uint8_t charSet = 0;

  while (file.Remaining() >= 6) {
    const size_t start = file.Position();
    const uint32_t words = file.U32LE();
    const uint16_t function = file.U16LE();
    if (function == 0x0000) break;  // META_EOF
    if (words < 3 || uint64_t(words) * 2 > file.Remaining() + 6) break;
    const size_t parameterBytes = size_t(words) * 2 - 6;
    Params p(file.Bytes(parameterBytes));
    try {
      switch (function) {
        case 0x001E: dc.SaveDC(); break;
        case 0x0127: dc.RestoreDC(p.S16()); break;
        case 0x0102: dc.SetBkMode(p.U16()); break;
        case 0x0103: dc.SetMapMode(p.U16()); break;
        case 0x0104: dc.SetRop2(p.U16()); break;
        case 0x0106: dc.SetPolyFillMode(p.U16()); break;
        case 0x0107: break;  // stretch mode: pictures are always smoothed
        case 0x0108: dc.SetTextCharExtra(p.D()); break;
        case 0x0201: dc.SetBkColor(ColorRef(p.U32(), dc)); break;
        case 0x0209: dc.SetTextColor(ColorRef(p.U32(), dc)); break;
        case 0x012E: dc.SetTextAlign(p.U16()); break;
        case 0x020B: dc.SetWindowOrg(p.PointYX()); break;
        case 0x020C: {
          const QPointF extent = p.PointYX();
          dc.SetWindowExt(QSizeF(extent.x(), extent.y()));
          break;
        }
        case 0x020D: dc.SetViewportOrg(p.PointYX()); break;
        case 0x020E: {
          const QPointF extent = p.PointYX();
          dc.SetViewportExt(QSizeF(extent.x(), extent.y()));
          break;
        }
        case 0x020F: dc.OffsetWindowOrg(p.PointYX()); break;
        case 0x0211: dc.OffsetViewportOrg(p.PointYX()); break;
        case 0x0410: {
          const double yDenom = p.D(), yNum = p.D(), xDenom = p.D(), xNum = p.D();
          dc.ScaleWindowExt(xNum, xDenom, yNum, yDenom);
          break;
        }
        case 0x0412: {
          const double yDenom = p.D(), yNum = p.D(), xDenom = p.D(), xNum = p.D();
          dc.ScaleViewportExt(xNum, xDenom, yNum, yDenom);
          break;
        }
        case 0x0214: dc.MoveTo(p.PointYX()); break;
        case 0x0213: dc.LineTo(p.PointYX()); break;
        case 0x0325: dc.Polyline(p.Points(p.U16())); break;
        case 0x0324: dc.Polygon(p.Points(p.U16())); break;
        case 0x0538: {
          const size_t polygons = p.U16();
          if (polygons * 2 > p.Remaining()) break;
          std::vector<size_t> counts;
          for (size_t i = 0; i < polygons; ++i) counts.push_back(p.U16());
          std::vector<QPolygonF> all;
          for (size_t count : counts) all.push_back(p.Points(count));
          dc.PolyPolygon(all);
          break;
        }
        case 0x041B: dc.Rectangle(p.RectReversed()); break;
        case 0x0418: dc.Ellipse(p.RectReversed()); break;
        case 0x061C: {
          const double h = p.D(), w = p.D();
          dc.RoundRect(p.RectReversed(), QSizeF(w, h));
          break;
        }
        case 0x0817:
        case 0x081A:
        case 0x0830: {
          const QPointF end = p.PointYX();
          const QPointF start = p.PointYX();
          const QRectF box = p.RectReversed();
          dc.Arc(box, start, end,
                 function == 0x0817 ? ArcKind::Arc
                                    : function == 0x081A ? ArcKind::Pie : ArcKind::Chord);
          break;
        }
        case 0x041F: {
          const QColor color = ColorRef(p.U32(), dc);
          dc.SetPixel(p.PointYX(), color);
          break;
        }
        case 0x0416: dc.IntersectClipRect(p.RectReversed()); break;
        case 0x0415: dc.ExcludeClipRect(p.RectReversed()); break;
        case 0x0220: dc.OffsetClipRegion(p.PointYX()); break;
        case 0x012C: {  // META_SELECTCLIPREGION
          const uint16_t index = p.U16();
          const GdiObject* region = dc.Object(index);
          if (region && region->kind == GdiObject::Kind::Region)
            dc.SelectClipRegion(region->region, 5);
          else
            dc.SelectClipRegion(std::nullopt, 5);
          break;
        }
        case 0x0521: {  // META_TEXTOUT
          const size_t count = p.U16();
          const size_t length = std::min(count, p.Remaining());
          const QString text = RecordText(p.Bytes(length), dc, charSet);
          if (length % 2 && p.Remaining() > 0) p.Skip(1);
          dc.TextOut(p.PointYX(), text, 0, std::nullopt, {});
          break;
        }
        case 0x0A32: ExtTextOut(p, dc, charSet); break;
        case 0x02FA: dc.CreateObject(PenRecord(p, dc)); break;
        case 0x02FC: dc.CreateObject(BrushRecord(p, dc)); break;
        case 0x02FB: dc.CreateObject(FontRecord(p)); break;
        case 0x00F7: dc.CreateObject(PaletteRecord(p)); break;
        case 0x06FF: dc.CreateObject(RegionRecord(p, dc)); break;
        case 0x0142: {  // META_DIBCREATEPATTERNBRUSH
          GdiObject brush;
          brush.kind = GdiObject::Kind::Brush;
          brush.brushStyle = p.U16();
          p.U16();  // colour usage
          brush.pattern = DecodeDib(p.Rest(), {}, dc.Budget());
          if (brush.pattern.isNull()) brush.brushStyle = 0;
          dc.CreateObject(brush);
          break;
        }
        case 0x01F9: {  // META_CREATEPATTERNBRUSH: a device-dependent pattern, drawn grey
          GdiObject brush;
          brush.kind = GdiObject::Kind::Brush;
          brush.color = QColor(0x80, 0x80, 0x80);
          dc.CreateObject(brush);
          break;
        }
        case 0x012D: {
          const uint16_t index = p.U16();
          dc.SelectObject(index);
          if (const GdiObject* o = dc.Object(index); o && o->kind == GdiObject::Kind::Font)
            charSet = o->font.charSet;
          break;
        }
        case 0x0234: dc.SelectObject(p.U16()); break;  // META_SELECTPALETTE
        case 0x01F0: dc.DeleteObject(p.U16()); break;
        case 0x0228: {  // META_FILLREGION: region, brush
          const uint16_t region = p.U16();
          const uint16_t brush = p.U16();
          if (const GdiObject* r = dc.Object(region); r && r->kind == GdiObject::Kind::Region)
            dc.FillRegion(r->region, brush);
          break;
        }
        case 0x012B: {  // META_PAINTREGION
          if (const GdiObject* r = dc.Object(p.U16()); r && r->kind == GdiObject::Kind::Region)
            dc.FillRegion(r->region, std::nullopt);
          break;
        }
        case 0x012A: {  // META_INVERTREGION
          if (const GdiObject* r = dc.Object(p.U16()); r && r->kind == GdiObject::Kind::Region)
            dc.InvertRegion(r->region);
          break;
        }
        case 0x0429: {  // META_FRAMEREGION: region, brush, height, width
          const uint16_t region = p.U16();
          const uint16_t brush = p.U16();
          const double h = p.D(), w = p.D();
          if (const GdiObject* r = dc.Object(region); r && r->kind == GdiObject::Kind::Region)
            dc.FrameRegion(r->region, brush, QSizeF(w, h));
          break;
        }
        case 0x061D: {  // META_PATBLT
          const uint32_t rop = p.U32();
          const double h = p.D(), w = p.D();
          const QPointF at = p.PointYX();
          dc.PatBlt(QRectF(at.x(), at.y(), w, h), rop);
          break;
        }
        case 0x0940:
        case 0x0B41:
        case 0x0F43: BlitRecord(p, dc, function, parameterBytes); break;
        case 0x0D33: SetDibToDevice(p, dc); break;
        default: break;  // escapes, palettes animation, device-dependent bitmaps
      }
    } catch (const pictures::StreamReadError&) {
      // A record shorter than its kind needs is passed over, as the system's player does.
    }
    file.Seek(start + size_t(words) * 2);
  }
}

}  // namespace platform::metafile
