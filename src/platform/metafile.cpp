#include "platform/metafile.h"

#include <algorithm>
#include <cmath>

#include <QImage>
#include <QPainter>

#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/registry.h"
#include "pictures/stream.h"
#include "platform/metafile_player.h"

namespace platform {

PICTURES_DEFINE_READER_CLASS(TMetafile, pictures::Bitmap)

namespace {

using namespace metafile;
using pictures::ByteReader;
using pictures::PictureError;

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr double kScreenDpi = 96;

enum class Kind { Placeable, Plain, Enhanced };

struct Layout {
  Kind kind;
  int width = 0;
  int height = 0;
  size_t recordsStart = 0;      // of the WMF header or the first EMF record
  QRectF window;                // WMF: the logical rectangle that fills the picture
  QTransform output;            // EMF: reference device to picture pixels
  QSizeF devicePixels, deviceMillimetres;
};

bool IsPlainWmfHeader(ByteReader r) {
  const uint16_t type = r.U16LE();
  const uint16_t headerWords = r.U16LE();
  const uint16_t version = r.U16LE();
  return (type == 1 || type == 2) && headerWords == 9 && (version == 0x0100 || version == 0x0300);
}

int PixelsOf(double value) {
  if (!std::isfinite(value) || value < 0.5 || value > 1e9) return 0;
  return int(std::lround(value));
}

// The window that a plain 16-bit metafile sets for itself.
std::optional<QRectF> WindowOfRecords(std::span<const uint8_t> bytes) {
  ByteReader r(bytes);
  r.Seek(18);
  QPointF origin;
  std::optional<QSizeF> extent;
  while (r.Remaining() >= 6) {
    const size_t start = r.Position();
    const uint32_t words = r.U32LE();
    const uint16_t function = r.U16LE();
    if (function == 0 || words < 3 || uint64_t(words) * 2 > r.Remaining() + 6) break;
    if (function == 0x020B && words >= 5) {
      const double y = r.S16LE(), x = r.S16LE();
      origin = QPointF(x, y);
    } else if (function == 0x020C && words >= 5) {
      const double y = r.S16LE(), x = r.S16LE();
      if (x != 0 && y != 0) {
        extent = QSizeF(x, y);
        break;
      }
    }
    r.Seek(start + size_t(words) * 2);
  }
  if (!extent) return std::nullopt;
  return QRectF(origin, *extent);
}

Layout Examine(std::span<const uint8_t> bytes) {
  if (bytes.size() < 40) throw PictureError(kInvalidMetafile);
  ByteReader r(bytes);
  Layout layout;
  const uint32_t first = r.U32LE();
  if (first == kPlaceableKey) {
    // Placeable header: key, handle, bounding box, units per inch, reserved, checksum.
    layout.kind = Kind::Placeable;
    r.U16LE();
    const double left = r.S16LE(), top = r.S16LE(), right = r.S16LE(), bottom = r.S16LE();
    const double inch = r.U16LE();
    if (inch == 0 || right == left || bottom == top) throw PictureError(kInvalidMetafile);
    layout.width = PixelsOf(std::abs(right - left) * kScreenDpi / inch);
    layout.height = PixelsOf(std::abs(bottom - top) * kScreenDpi / inch);
    layout.window = QRectF(QPointF(left, top), QPointF(right, bottom));
    layout.recordsStart = 22;
    if (!IsPlainWmfHeader(ByteReader(bytes.subspan(22)))) throw PictureError(kInvalidMetafile);
  } else if (first == 1 && bytes.size() >= 88 &&
             pictures::LoadU32LE(bytes.data() + 40) == kEmfSignature) {
    // The enhanced header: bounds in device pixels, frame in 0.01 mm, then the reference
    // device's size in pixels and millimetres.
    layout.kind = Kind::Enhanced;
    const uint32_t headerSize = r.U32LE();
    const QRectF bounds = [&] {
      const double l = r.S32LE(), t = r.S32LE(), rr = r.S32LE(), b = r.S32LE();
      return QRectF(QPointF(l, t), QPointF(rr + 1, b + 1));
    }();
    const double fl = r.S32LE(), ft = r.S32LE(), fr = r.S32LE(), fb = r.S32LE();
    r.Seek(72);
    const double devW = r.S32LE(), devH = r.S32LE();
    const double mmW = r.S32LE(), mmH = r.S32LE();
    if (headerSize < 88 || headerSize > bytes.size()) throw PictureError(kInvalidMetafile);
    layout.devicePixels = QSizeF(devW, devH);
    layout.deviceMillimetres = QSizeF(mmW, mmH);
    // Device pixels in one 0.01 mm of the frame.
    const double perX = devW > 0 && mmW > 0 ? devW / (mmW * 100) : kScreenDpi / 2540;
    const double perY = devH > 0 && mmH > 0 ? devH / (mmH * 100) : kScreenDpi / 2540;
    QRectF frame(QPointF(fl * perX, ft * perY), QPointF(fr * perX, fb * perY));
    if (fr > fl && fb > ft) {
      layout.width = PixelsOf((fr - fl) * kScreenDpi / 2540);
      layout.height = PixelsOf((fb - ft) * kScreenDpi / 2540);
    } else {
      // Without a frame, the bounds at the reference device's resolution.
      frame = bounds.normalized();
      const double dpiX = devW > 0 && mmW > 0 ? devW * 25.4 / mmW : kScreenDpi;
      const double dpiY = devH > 0 && mmH > 0 ? devH * 25.4 / mmH : kScreenDpi;
      layout.width = PixelsOf(frame.width() * kScreenDpi / dpiX);
      layout.height = PixelsOf(frame.height() * kScreenDpi / dpiY);
    }
    if (layout.width > 0 && layout.height > 0 && frame.width() > 0 && frame.height() > 0) {
      layout.output = QTransform::fromTranslate(-frame.left(), -frame.top()) *
                      QTransform::fromScale(layout.width / frame.width(),
                                            layout.height / frame.height());
    }
    layout.recordsStart = 0;
  } else if (IsPlainWmfHeader(ByteReader(bytes))) {
    layout.kind = Kind::Plain;
    const std::optional<QRectF> window = WindowOfRecords(bytes);
    if (!window) throw PictureError(kInvalidMetafile);
    layout.window = *window;
    layout.width = PixelsOf(std::abs(window->width()));
    layout.height = PixelsOf(std::abs(window->height()));
    layout.recordsStart = 0;
  } else {
    throw PictureError(kInvalidMetafile);
  }
  if (layout.width <= 0 || layout.height <= 0) throw PictureError(kInvalidMetafile);
  return layout;
}

// Plays the records into a device context: onto `painter`, or without one only to count
// their work.
void Play(std::span<const uint8_t> bytes, const Layout& layout, QPainter* painter) {
  const QSizeF canvas(layout.width, layout.height);
  const std::span<const uint8_t> records = bytes.subspan(layout.recordsStart);
  if (layout.kind == Kind::Enhanced) {
    DeviceContext dc(painter, canvas, DeviceContext::Flavour::Emf, layout.output,
                     layout.devicePixels, layout.deviceMillimetres);
    PlayEmf(records, dc);
  } else {
    DeviceContext dc(painter, canvas, DeviceContext::Flavour::Wmf, QTransform());
    // The viewport is the picture; the window starts as the header's rectangle.
    dc.SetWindowOrg(layout.window.topLeft());
    dc.SetWindowExt(layout.window.size());
    dc.SetPlaybackViewport(canvas);
    PlayWmf(records, dc);
  }
}

}  // namespace

void TMetafile::LoadFromStream(pictures::Stream& stream) {
  const std::vector<uint8_t> bytes = stream.ReadRest();
  const Layout layout = Examine(bytes);
  pictures::CheckedBufferSize({uint64_t(layout.width), uint64_t(layout.height), 4});
  // The records are played once without painting, to count the work they ask for: a file
  // that asks for too much fails before its canvas takes any memory.
  Play(bytes, layout, nullptr);

  // The picture: white paper, as a drawing program shows it, fully opaque. The painter
  // draws straight into the Bitmap's rows.
  SetPixelFormat(pictures::PixelFormat::Bits32);
  SetSize(layout.width, layout.height);
  SetTransparent(false);
  QImage canvas(ScanLine(0), layout.width, layout.height, qsizetype(RowStride()),
                QImage::Format_RGB32);
  if (canvas.isNull()) throw pictures::BitmapTooLarge("Metafile is too large");
  canvas.fill(Qt::white);
  {
    QPainter painter(&canvas);
    Play(bytes, layout, &painter);
  }
  // Raster operations may have touched the unused fourth byte; the picture is opaque.
  for (int y = 0; y < layout.height; ++y) {
    uint8_t* row = ScanLine(y);
    for (int x = 0; x < layout.width; ++x) row[4 * x + 3] = 0xFF;
  }
}

void RegisterMetafileFormats() {
  std::vector<pictures::FormatEntry>& entries = pictures::MetafileEntries();
  for (const pictures::FormatEntry& entry : entries)
    if (entry.readerClass == &TMetafile::StaticClass()) return;
  entries.push_back({"wmf", "Metafiles", &TMetafile::StaticClass()});
  entries.push_back({"emf", "Enhanced Metafiles", &TMetafile::StaticClass()});
}

}  // namespace platform
