#include "pictures/formats/gif.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "compression/lzw.h"
#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/palette.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TGIFGraphic, Bitmap)

namespace {

constexpr uint8_t kExtensionIntroducer = 0x21;  // "!"
constexpr uint8_t kImageSeparator = 0x2C;       // ","
constexpr uint8_t kTrailer = 0x3B;              // ";"
constexpr uint8_t kColourTableFlag = 0x80;
constexpr uint8_t kInterlacedFlag = 0x40;
const char* const kNotGif = "Not a valid GIF file.";

// Reads a stream through a buffer of its own, so that walking the blocks of a file byte by
// byte costs no call into the stream per byte.
class BufferedReader {
 public:
  explicit BufferedReader(Stream& stream) : stream_(stream) {}

  // The next byte, or false at the end of the stream.
  bool TryByte(uint8_t& b) {
    if (pos_ == end_ && !Fill()) return false;
    b = buffer_[pos_++];
    return true;
  }
  uint8_t Byte() {
    uint8_t b;
    if (!TryByte(b)) throw StreamReadError();
    return b;
  }
  // Up to `count` bytes; returns how many there were.
  size_t Some(uint8_t* out, size_t count) {
    size_t done = 0;
    while (done < count) {
      if (pos_ == end_ && !Fill()) break;
      const size_t n = std::min(count - done, end_ - pos_);
      std::memcpy(out + done, buffer_ + pos_, n);
      pos_ += n;
      done += n;
    }
    return done;
  }
  void Exact(uint8_t* out, size_t count) {
    if (Some(out, count) != count) throw StreamReadError();
  }
  void SkipExact(size_t count) {
    while (count > 0) {
      if (pos_ == end_ && !Fill()) throw StreamReadError();
      const size_t n = std::min(count, end_ - pos_);
      pos_ += n;
      count -= n;
    }
  }
  // Bytes left in the buffer and the stream.
  uint64_t Remaining() const { return (end_ - pos_) + static_cast<uint64_t>(stream_.Remaining()); }

 private:
  bool Fill() {
    pos_ = 0;
    end_ = stream_.Read(buffer_, sizeof buffer_);
    return end_ > 0;
  }

  Stream& stream_;
  uint8_t buffer_[32768];
  size_t pos_ = 0;
  size_t end_ = 0;
};

// A colour table of 2 << n entries, n from the low three bits of `flags`.
PaletteHandle ReadColourTable(BufferedReader& in, uint8_t flags) {
  const size_t count = size_t(2) << (flags & 7);
  uint8_t rgb[3 * 256];
  in.Exact(rgb, 3 * count);
  LogPalette record(count);
  for (size_t i = 0; i < count; ++i)
    record.entries[i] = {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 0};
  return CreatePalette(record);
}

// Skips the sub-blocks of an extension by their lengths, up to the empty block that ends
// them. Its data may hold any byte, including the values of the block introducers.
void SkipSubBlocks(BufferedReader& in) {
  for (uint8_t length; (length = in.Byte()) != 0;) in.SkipExact(length);
}

// Joins the data sub-blocks of an image. A block cut off by the end of the stream
// contributes the bytes that are there, and the data ends with it.
std::vector<uint8_t> ReadImageData(BufferedReader& in, uint64_t expectedPixels) {
  std::vector<uint8_t> packed;
  // Codes are at most 12 bits a pixel; the stream bounds a lying size.
  packed.reserve(static_cast<size_t>(std::min(in.Remaining(), expectedPixels * 3 / 2 + 4096)));
  for (uint8_t length; in.TryByte(length) && length != 0;) {
    const size_t at = packed.size();
    packed.resize(at + length);
    const size_t got = in.Some(packed.data() + at, length);
    if (got < length) {
      packed.resize(at + got);
      break;
    }
  }
  return packed;
}

// Screens up to this many pixels are laid out whatever the image's data.
constexpr uint64_t kAlwaysLaidOutScreen = uint64_t(1) << 20;

struct ImageRect {
  int left, top, width, height;
};

// The picture is the logical screen, enlarged where the image reaches past it, in the
// background colour; the image goes at its position.
void PlaceOnScreen(Bitmap& picture, int screenWidth, int screenHeight, uint8_t background,
                   const ImageRect& image) {
  const int width = std::max(screenWidth, image.left + image.width);
  const int height = std::max(screenHeight, image.top + image.height);
  picture.SetSize(width, height);
  if (background == 0 || width == 0 || (width == image.width && height == image.height)) return;
  for (int y = 0; y < height; ++y) std::memset(picture.ScanLine(y), background, size_t(width));
}

struct FreeBuffer {
  void operator()(uint8_t* p) const { std::free(p); }
};

}  // namespace

void TGIFGraphic::LoadFromStream(Stream& stream) {
  Clear();
  SetPixelFormat(PixelFormat::Bits8);
  BufferedReader in(stream);

  uint8_t header[6];
  in.Exact(header, sizeof header);
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(header[i]) != "GIF"[i]) throw PictureError(kNotGif);
  }

  uint8_t screenBytes[7];
  in.Exact(screenBytes, sizeof screenBytes);
  ByteReader screen(screenBytes);
  const uint16_t screenWidth = screen.U16LE();
  const uint16_t screenHeight = screen.U16LE();
  const uint8_t screenFlags = screen.U8();
  const uint8_t background = screen.U8();
  // Without any colour table the picture keeps the halftone palette of an 8-bit Bitmap.
  if (screenFlags & kColourTableFlag) SetPalette(ReadColourTable(in, screenFlags));

  // Only the first image is read; extensions before it are skipped, and a trailer before
  // it leaves an empty picture. Bytes that start no block are passed over.
  for (;;) {
    const uint8_t b = in.Byte();
    if (b == kImageSeparator) break;
    if (b == kTrailer) return;
    if (b == kExtensionIntroducer) {
      in.Byte();  // the extension's label
      SkipSubBlocks(in);
    }
  }

  uint8_t descriptorBytes[9];
  in.Exact(descriptorBytes, sizeof descriptorBytes);
  ByteReader descriptor(descriptorBytes);
  const uint16_t left = descriptor.U16LE();
  const uint16_t top = descriptor.U16LE();
  uint16_t width = descriptor.U16LE();
  uint16_t height = descriptor.U16LE();
  const uint8_t imageFlags = descriptor.U8();
  if (width == 0) width = screenWidth;
  if (height == 0) height = screenHeight;
  if (imageFlags & kColourTableFlag) SetPalette(ReadColourTable(in, imageFlags));

  const uint8_t minimumCodeSize = in.Byte();
  const uint64_t pixelCount = uint64_t(width) * height;
  const std::vector<uint8_t> packed = ReadImageData(in, pixelCount);
  // The image's data must be able to fill it before the picture takes its memory.
  const uint64_t fillable = LZWMaxUnpacked(packed.size(), minimumCodeSize);
  RequireFill(fillable, 1, pixelCount);
  // The screen is laid out where it is of an everyday size or the data could fill it too:
  // otherwise a few bytes naming a huge screen, or an image far out on it, would take
  // hundreds of megabytes for background. Such a picture is the image alone.
  const uint64_t screenArea = uint64_t(std::max<int>(screenWidth, left + width)) *
                              uint64_t(std::max<int>(screenHeight, top + height));
  const bool onScreen = screenArea <= kAlwaysLaidOutScreen || CanFill(fillable, 1, screenArea);
  const ImageRect image = onScreen ? ImageRect{left, top, width, height}
                                   : ImageRect{0, 0, width, height};
  PlaceOnScreen(*this, onScreen ? screenWidth : 0, onScreen ? screenHeight : 0, background,
                image);
  if (pixelCount == 0) return;

  TGIFLZW decoder;
  decoder.InitialCodeSize = minimumCodeSize;
  const uint8_t* source = packed.data();
  const bool interlaced = (imageFlags & kInterlacedFlag) != 0;
  const auto packedSize = static_cast<int32_t>(std::min<size_t>(packed.size(), INT32_MAX));
  // An image that is the whole picture, in rows without padding, follows the Bitmap's
  // memory just as the decoded pixels do: it is decoded straight into the Bitmap.
  if (!interlaced && Width() == width && Height() == height && RowStride() == width) {
    decoder.Decode(source, ScanLine(0), packedSize, static_cast<int32_t>(pixelCount));
    return;
  }
  std::unique_ptr<uint8_t, FreeBuffer> pixels(
      static_cast<uint8_t*>(std::calloc(CheckedBufferSize({pixelCount}), 1)));
  if (!pixels) throw BitmapTooLarge("Out of memory for a picture of " + std::to_string(width) +
                                    " x " + std::to_string(height));
  decoder.Decode(source, pixels.get(), packedSize, static_cast<int32_t>(pixelCount));

  const uint8_t* row = pixels.get();
  auto place = [&](int y) {
    std::memcpy(ScanLine(image.top + y) + image.left, row, width);
    row += width;
  };
  if (!interlaced) {
    for (int y = 0; y < height; ++y) place(y);
    return;
  }
  // Interlaced rows come in four passes: every 8th row from 0, every 8th from 4, every
  // 4th from 2, every 2nd from 1.
  static const int kStart[4] = {0, 4, 2, 1};
  static const int kStep[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    for (int y = kStart[pass]; y < height; y += kStep[pass]) place(y);
  }
}

}  // namespace pictures
