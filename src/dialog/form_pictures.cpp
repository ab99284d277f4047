#include "dialog/form_pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <array>

namespace dialog::art {

namespace {

// The first row of the left strip, outer edge first.
constexpr std::array<QRgb, 16> kLeftRamp = {
    0x606060, 0x606860, 0x6F706F, 0x707770, 0x7F807F, 0x808780, 0x8F8F8F, 0x909790,
    0x9F9F9F, 0xA0A7A0, 0xAFAFAF, 0xB0B7B0, 0xBFBFBF, 0xBFBFBF, 0xBFBFBF, 0xBFBFBF};

QImage makestrip(bool mirrored) {
  QImage image(16, 8, QImage::Format_RGB32);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) {
      image.setPixel(mirrored ? 15 - x : x, y, 0xFF000000u | kLeftRamp[size_t(x)]);
    }
  }
  return image;
}

const QColor kDark(0x40, 0x40, 0x40);

QPixmap canvas(int w, int h, const QColor& ground) {
  QPixmap pixmap(w, h);
  pixmap.fill(ground);
  return pixmap;
}

// A sheet of paper with a folded corner, the shape behind most file-type icons.
void drawpage(QPainter& p, const QRect& r) {
  QPolygon page;
  page << r.topLeft() << QPoint(r.right() - 3, r.top()) << QPoint(r.right(), r.top() + 3)
       << r.bottomRight() << r.bottomLeft();
  p.setPen(kDark);
  p.setBrush(Qt::white);
  p.drawPolygon(page);
  p.drawLine(r.right() - 3, r.top(), r.right() - 3, r.top() + 3);
  p.drawLine(r.right() - 3, r.top() + 3, r.right(), r.top() + 3);
}

// A small landscape: sky, a sun and a green hill, inside `r`.
void drawlandscape(QPainter& p, const QRect& r, const QColor& sky) {
  p.setPen(Qt::NoPen);
  p.setBrush(sky);
  p.drawRect(r);
  p.setBrush(QColor(0xFF, 0xD8, 0x00));
  p.drawEllipse(QRect(r.left() + 1, r.top() + 1, 3, 3));
  p.setBrush(QColor(0x00, 0x90, 0x20));
  QPolygon hill;
  hill << QPoint(r.left(), r.bottom() + 1) << QPoint(r.left() + r.width() / 3, r.top() + r.height() / 2)
       << QPoint(r.left() + 2 * r.width() / 3, r.top() + 2 * r.height() / 3)
       << QPoint(r.right() + 1, r.top() + r.height() / 3) << QPoint(r.right() + 1, r.bottom() + 1);
  p.drawPolygon(hill);
}

void drawlabel(QPainter& p, const QRect& r, const QString& text, const QColor& colour) {
  QFont font(QStringLiteral("Sans Serif"));
  font.setPixelSize(6);
  font.setBold(true);
  p.setFont(font);
  p.setPen(colour);
  p.drawText(r, Qt::AlignCenter, text);
}

QPixmap maketypeicon(TypeIcon which) {
  QPixmap pixmap = canvas(which == TypeIcon::ai ? 15 : 16, 16, Qt::white);
  QPainter p(&pixmap);
  switch (which) {
    case TypeIcon::all1: {
      // Two sheets behind each other: every type at once.
      drawpage(p, QRect(4, 0, 11, 13));
      drawpage(p, QRect(1, 2, 11, 13));
      drawlandscape(p, QRect(3, 5, 7, 5), QColor(0x40, 0x80, 0xFF));
      p.setPen(QColor(0xC0, 0x00, 0x00));
      p.drawLine(3, 12, 9, 12);
      break;
    }
    case TypeIcon::ai: {
      // A pen nib over a curve: vector drawings.
      p.setRenderHint(QPainter::Antialiasing);
      p.setPen(QPen(QColor(0x00, 0x00, 0xA0), 1.2));
      QPainterPath curve;
      curve.moveTo(1, 13);
      curve.cubicTo(4, 2, 9, 16, 14, 4);
      p.setBrush(Qt::NoBrush);
      p.drawPath(curve);
      p.setPen(QPen(kDark, 1));
      p.setBrush(QColor(0xE0, 0x80, 0x00));
      QPolygonF nib;
      nib << QPointF(9, 1) << QPointF(13, 1) << QPointF(11, 8);
      p.drawPolygon(nib);
      break;
    }
    case TypeIcon::obj: {
      // A traced outline with its nodes.
      p.setRenderHint(QPainter::Antialiasing);
      QPainterPath outline;
      outline.moveTo(2, 12);
      outline.cubicTo(2, 2, 8, 2, 8, 8);
      outline.cubicTo(8, 14, 14, 14, 14, 4);
      p.setPen(QPen(Qt::black, 1.2));
      p.drawPath(outline);
      p.setRenderHint(QPainter::Antialiasing, false);
      p.setPen(Qt::black);
      p.setBrush(QColor(0x00, 0xC0, 0x00));
      for (QPoint node : {QPoint(1, 11), QPoint(7, 7), QPoint(13, 3)}) p.drawRect(node.x(), node.y(), 2, 2);
      break;
    }
    case TypeIcon::bmp:
      drawpage(p, QRect(1, 0, 13, 15));
      drawlandscape(p, QRect(3, 3, 9, 7), QColor(0x60, 0xA0, 0xFF));
      drawlabel(p, QRect(1, 9, 14, 7), QStringLiteral("BMP"), QColor(0x00, 0x00, 0x80));
      break;
    case TypeIcon::jpg:
      drawpage(p, QRect(1, 0, 13, 15));
      drawlandscape(p, QRect(3, 3, 9, 7), QColor(0xFF, 0xA0, 0x40));
      drawlabel(p, QRect(1, 9, 14, 7), QStringLiteral("JPG"), QColor(0x80, 0x00, 0x00));
      break;
    case TypeIcon::tif:
      drawpage(p, QRect(1, 0, 13, 15));
      drawlandscape(p, QRect(3, 3, 9, 7), QColor(0x80, 0x80, 0xC0));
      drawlabel(p, QRect(1, 9, 14, 7), QStringLiteral("TIF"), QColor(0x00, 0x60, 0x00));
      break;
    case TypeIcon::gif: {
      drawpage(p, QRect(1, 0, 13, 15));
      const QColor cells[] = {QColor(0xFF, 0x00, 0x00), QColor(0x00, 0xC0, 0x00), QColor(0x00, 0x00, 0xFF),
                              QColor(0xFF, 0xFF, 0x00)};
      p.setPen(Qt::NoPen);
      for (int i = 0; i < 4; ++i) {
        p.setBrush(cells[i]);
        p.drawRect(3 + (i % 2) * 5, 3 + (i / 2) * 4, 4, 3);
      }
      drawlabel(p, QRect(1, 9, 14, 7), QStringLiteral("GIF"), QColor(0x80, 0x00, 0x80));
      break;
    }
    case TypeIcon::all:
      drawpage(p, QRect(1, 0, 13, 15));
      drawlandscape(p, QRect(3, 4, 9, 8), QColor(0x90, 0xC0, 0xE0));
      break;
  }
  return pixmap;
}

QPixmap makeglyph(Glyph which) {
  QPixmap pixmap = canvas(16, 16, Qt::transparent);
  QPainter p(&pixmap);
  const QColor folder(0xF0, 0xD0, 0x60);
  switch (which) {
    case Glyph::up: {
      // An open folder with an arrow pointing up and to the left.
      p.setPen(kDark);
      p.setBrush(folder);
      p.drawRect(1, 6, 11, 8);
      p.drawRect(1, 4, 5, 2);
      p.setPen(QPen(Qt::black, 1));
      p.drawLine(9, 1, 9, 9);
      p.drawLine(9, 1, 6, 4);
      p.drawLine(9, 1, 12, 4);
      p.drawLine(9, 9, 14, 9);
      break;
    }
    case Glyph::copy: {
      // A floppy disk.
      p.setPen(kDark);
      p.setBrush(QColor(0x20, 0x20, 0x80));
      p.drawRect(1, 1, 13, 13);
      p.setBrush(QColor(0xC0, 0xC0, 0xC0));
      p.drawRect(4, 1, 7, 5);
      p.setBrush(Qt::white);
      p.drawRect(3, 8, 9, 6);
      p.setPen(QColor(0x20, 0x20, 0x80));
      p.drawLine(8, 2, 8, 4);
      break;
    }
    case Glyph::largeicons: {
      p.setPen(kDark);
      p.setBrush(QColor(0x40, 0x80, 0xFF));
      for (int i = 0; i < 4; ++i) p.drawRect(1 + (i % 2) * 8, 1 + (i / 2) * 8, 5, 5);
      break;
    }
    case Glyph::list: {
      for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 2; ++col) {
          p.setPen(kDark);
          p.setBrush(QColor(0x40, 0x80, 0xFF));
          p.drawRect(1 + col * 8, 1 + row * 4, 2, 2);
          p.setPen(Qt::black);
          p.drawLine(5 + col * 8, 2 + row * 4, 7 + col * 8, 2 + row * 4);
        }
      }
      break;
    }
    case Glyph::report: {
      for (int row = 0; row < 4; ++row) {
        p.setPen(kDark);
        p.setBrush(QColor(0x40, 0x80, 0xFF));
        p.drawRect(1, 1 + row * 4, 2, 2);
        p.setPen(Qt::black);
        p.drawLine(5, 2 + row * 4, 14, 2 + row * 4);
      }
      break;
    }
    case Glyph::eps:
    case Glyph::dxf: {
      // A module: a box with a curve (EPS) or a drafting square (DXF).
      p.setPen(kDark);
      p.setBrush(Qt::white);
      p.drawRect(1, 2, 13, 11);
      p.setRenderHint(QPainter::Antialiasing);
      if (which == Glyph::eps) {
        QPainterPath curve;
        curve.moveTo(3, 11);
        curve.cubicTo(5, 2, 10, 12, 12, 4);
        p.setPen(QPen(QColor(0xC0, 0x00, 0x00), 1.3));
        p.setBrush(Qt::NoBrush);
        p.drawPath(curve);
      } else {
        p.setPen(QPen(QColor(0x00, 0x00, 0xA0), 1.2));
        p.setBrush(Qt::NoBrush);
        p.drawLine(3, 11, 12, 11);
        p.drawLine(3, 11, 3, 4);
        p.drawLine(3, 4, 12, 11);
        p.drawEllipse(QPointF(10, 6), 2, 2);
      }
      break;
    }
    case Glyph::help: {
      p.setRenderHint(QPainter::Antialiasing);
      p.setPen(QPen(QColor(0x00, 0x00, 0x80), 1));
      p.setBrush(QColor(0xFF, 0xFF, 0xC0));
      p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
      QFont font(QStringLiteral("Sans Serif"));
      font.setPixelSize(12);
      font.setBold(true);
      p.setFont(font);
      p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QStringLiteral("?"));
      break;
    }
  }
  return pixmap;
}

QPixmap makepreview() {
  QPixmap pixmap = canvas(160, 140, Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor casing(0xE8, 0xE0, 0xC8);
  const QColor shade(0x90, 0x88, 0x70);
  // System unit under the monitor.
  p.setPen(QPen(shade, 1));
  p.setBrush(casing);
  p.drawRect(QRectF(14.5, 84.5, 112, 18));
  p.setBrush(QColor(0x30, 0x30, 0x30));
  p.drawRect(QRectF(24.5, 90.5, 30, 4));
  p.setBrush(QColor(0x00, 0xC0, 0x00));
  p.drawEllipse(QPointF(112, 93), 2, 2);
  // Monitor with its foot.
  p.setBrush(casing);
  p.drawRect(QRectF(54.5, 76.5, 32, 8));
  p.drawRoundedRect(QRectF(22.5, 10.5, 96, 66), 4, 4);
  p.setBrush(QColor(0x10, 0x20, 0x70));
  p.drawRect(QRectF(30.5, 17.5, 80, 52));
  QLinearGradient glare(30, 17, 110, 69);
  glare.setColorAt(0, QColor(0x50, 0x70, 0xD0));
  glare.setColorAt(1, QColor(0x10, 0x20, 0x70));
  p.setBrush(glare);
  p.setPen(Qt::NoPen);
  p.drawRect(QRectF(31, 18, 79, 51));
  // Keyboard in front.
  p.setPen(QPen(shade, 1));
  p.setBrush(casing);
  QPolygonF keyboard;
  keyboard << QPointF(10, 128) << QPointF(118, 128) << QPointF(110, 110) << QPointF(18, 110);
  p.drawPolygon(keyboard);
  p.setPen(QPen(shade, 1));
  for (int row = 0; row < 3; ++row) {
    const double y = 114 + row * 5;
    const double inset = 16 - row * 2.5;
    for (double x = inset + 2; x < 116 - inset; x += 7) p.drawRect(QRectF(x, y, 5, 3));
  }
  // Mouse with its cable.
  p.setBrush(casing);
  p.drawEllipse(QRectF(130, 114, 14, 20));
  p.drawLine(QPointF(137, 114), QPointF(137, 124));
  p.setBrush(Qt::NoBrush);
  QPainterPath cable;
  cable.moveTo(137, 114);
  cable.cubicTo(137, 100, 128, 106, 124, 100);
  p.drawPath(cable);
  // The large red arrow pointing into the screen.
  p.setPen(QPen(QColor(0x80, 0x00, 0x00), 1.5));
  p.setBrush(QColor(0xE0, 0x10, 0x10));
  QPolygonF arrow;
  arrow << QPointF(82, 38) << QPointF(106, 36) << QPointF(99, 43) << QPointF(152, 4) << QPointF(158, 12)
        << QPointF(106, 51) << QPointF(114, 58);
  p.drawPolygon(arrow);
  return pixmap;
}

}  // namespace

const QImage& im_left() {
  static const QImage image = makestrip(false);
  return image;
}

const QImage& im_right() {
  static const QImage image = makestrip(true);
  return image;
}

const QPixmap& typeicon(TypeIcon which) {
  static const std::array<QPixmap, 8> icons = [] {
    std::array<QPixmap, 8> made;
    for (int i = 0; i < 8; ++i) made[size_t(i)] = maketypeicon(TypeIcon(i));
    return made;
  }();
  return icons[size_t(which)];
}

const QPixmap& glyph(Glyph which) {
  static const std::array<QPixmap, 8> glyphs = [] {
    std::array<QPixmap, 8> made;
    for (int i = 0; i < 8; ++i) made[size_t(i)] = makeglyph(Glyph(i));
    return made;
  }();
  return glyphs[size_t(which)];
}

const QPixmap& previewpicture() {
  static const QPixmap picture = makepreview();
  return picture;
}

QIcon windowicon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.drawPixmap(QRect(0, 0, 32, 32), previewpicture(), QRect(0, 0, 160, 140));
  return QIcon(pixmap);
}

}  // namespace dialog::art
