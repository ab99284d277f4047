#include "pictures/formats/qoi.h"

#include <array>
#include <cstring>
#include <vector>

#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TQOIGraphic, Bitmap)

namespace {

constexpr size_t kHeaderSize = 14;
constexpr std::array<uint8_t, 8> kEndMarker = {0, 0, 0, 0, 0, 0, 0, 1};
// One run operation repeats the previous pixel up to 62 times: the most pixels a byte of
// the stream can give.
constexpr uint64_t kLongestRun = 62;

constexpr uint8_t kOpRgb = 0xFE;
constexpr uint8_t kOpRgba = 0xFF;
// The other operations are told apart by their top two bits.
constexpr uint8_t kOpIndex = 0;
constexpr uint8_t kOpDiff = 1;
constexpr uint8_t kOpLuma = 2;

struct QOIHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t channels = 0;
};

QOIHeader ParseHeader(ByteReader& in) {
  if (in.Size() < kHeaderSize || std::memcmp(in.Bytes(4).data(), "qoif", 4) != 0)
    throw PictureError("QOI: not a QOI file");
  QOIHeader header;
  header.width = in.U32BE();
  header.height = in.U32BE();
  header.channels = in.U8();
  in.U8();  // colour space: sRGB or linear, shown alike
  if (header.channels != 3 && header.channels != 4)
    throw PictureError("QOI: a picture has 3 or 4 channels");
  if (header.width == 0 || header.height == 0 || header.width > INT32_MAX ||
      header.height > INT32_MAX)
    throw PictureError("QOI: invalid image size");
  return header;
}

struct Rgba {
  uint8_t r = 0, g = 0, b = 0, a = 0;
};

// Expands the operations into pixels, one at a time.
class QOIDecoder {
 public:
  explicit QOIDecoder(std::span<const uint8_t> operations) : ops_(operations) {}

  Rgba Next() {
    if (run_ > 0) {
      --run_;
      return pixel_;
    }
    const uint8_t op = ops_.U8();
    if (op == kOpRgb) {
      pixel_.r = ops_.U8();
      pixel_.g = ops_.U8();
      pixel_.b = ops_.U8();
    } else if (op == kOpRgba) {
      pixel_.r = ops_.U8();
      pixel_.g = ops_.U8();
      pixel_.b = ops_.U8();
      pixel_.a = ops_.U8();
    } else if (op >> 6 == kOpIndex) {
      pixel_ = seen_[op];
    } else if (op >> 6 == kOpDiff) {
      // Three differences of -2..1 to the previous pixel, each stored plus 2.
      pixel_.r = uint8_t(pixel_.r + (op >> 4 & 3) - 2);
      pixel_.g = uint8_t(pixel_.g + (op >> 2 & 3) - 2);
      pixel_.b = uint8_t(pixel_.b + (op & 3) - 2);
    } else if (op >> 6 == kOpLuma) {
      // The green difference (-32..31, plus 32), then red and blue as differences to it
      // (-8..7, plus 8).
      const int green = (op & 0x3F) - 32;
      const uint8_t redBlue = ops_.U8();
      pixel_.r = uint8_t(pixel_.r + green + (redBlue >> 4) - 8);
      pixel_.g = uint8_t(pixel_.g + green);
      pixel_.b = uint8_t(pixel_.b + green + (redBlue & 15) - 8);
    } else {
      // A run of 1..62 pixels, stored minus 1; this one is the first of them.
      run_ = op & 0x3F;
    }
    seen_[Hash(pixel_)] = pixel_;
    return pixel_;
  }

  // After the last pixel: the end marker must follow.
  bool AtEndMarker() const {
    return ops_.Remaining() >= kEndMarker.size() &&
           std::memcmp(ops_.Peek(kEndMarker.size()).data(), kEndMarker.data(),
                       kEndMarker.size()) == 0;
  }

 private:
  static size_t Hash(const Rgba& p) { return (p.r * 3 + p.g * 5 + p.b * 7 + p.a * 11) % 64; }

  ByteReader ops_;
  std::array<Rgba, 64> seen_{};
  Rgba pixel_{0, 0, 0, 255};
  int run_ = 0;
};

}  // namespace

void TQOIGraphic::LoadFromStream(Stream& stream) {
  Clear();
  std::vector<uint8_t> storage;
  ByteReader file(stream.ReadRestView(storage));
  const QOIHeader header = ParseHeader(file);
  const uint64_t operationBytes =
      file.Remaining() > kEndMarker.size() ? file.Remaining() - kEndMarker.size() : 0;
  if (!CanFill(operationBytes, kLongestRun, uint64_t(header.width) * header.height))
    throw PictureError("QOI: the file ends before its last pixel");

  const bool alpha = header.channels == 4;
  SetPixelFormat(alpha ? PixelFormat::Bits32 : PixelFormat::Bits24);
  RowFill fill(*this, int(header.width), int(header.height));
  QOIDecoder decoder(file.Rest());
  const size_t pixelBytes = alpha ? 4 : 3;
  try {
    for (int y = 0; y < Height(); ++y) {
      uint8_t* row = ScanLine(y);
      for (uint32_t x = 0; x < header.width; ++x, row += pixelBytes) {
        const Rgba p = decoder.Next();
        row[0] = p.b;
        row[1] = p.g;
        row[2] = p.r;
        if (alpha) row[3] = p.a;
      }
    }
  } catch (const StreamReadError&) {
    throw PictureError("QOI: the file ends before its last pixel");
  }
  if (!decoder.AtEndMarker()) throw PictureError("QOI: the end marker does not follow the last pixel");
  fill.Done();
  SetTransparent(alpha);
}

}  // namespace pictures
