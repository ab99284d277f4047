#include "pictures/formats/ppm.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "base/error.h"
#include "pictures/palette.h"
#include "base/pixel_helpers.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TPPMGraphic, Bitmap)

namespace {

const char* const kReadError = "PPM: Stream read error.";
const char* const kNotPPM = "Not a valid ppm file.";

[[noreturn]] void FailRead() { throw PictureError(kReadError); }

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// Samples are scaled from 0..maxValue to 0..255. A maximum of 255 (or the invalid 0)
// leaves text samples as they are, keeping their lowest 8 bits; larger samples than the
// maximum count as the maximum.
uint8_t ScaleSample(uint32_t value, uint32_t maxValue) {
  if (maxValue == 255 || maxValue == 0) return uint8_t(value);
  const uint64_t v = std::min(value, maxValue);
  return uint8_t((v * 255 + maxValue / 2) / maxValue);
}

// True when the product of the factors is no more than `limit`, without overflowing.
bool ProductAtMost(uint64_t limit, std::initializer_list<uint64_t> factors) {
  for (uint64_t factor : factors)
    if (factor == 0) return true;
  uint64_t product = 1;
  for (uint64_t factor : factors) {
    if (product > limit / factor) return false;
    product *= factor;
  }
  return product <= limit;
}

}  // namespace

uint8_t TPPMGraphic::ReadByte() {
  if (index_ == kBufferSize) {
    if (stream_->Position() >= stream_->Size()) FailRead();
    filled_ = stream_->Read(buffer_.data(), kBufferSize);
    index_ = 0;
  }
  if (index_ >= filled_) FailRead();
  return buffer_[index_++];
}

uint8_t TPPMGraphic::PeekByte() const {
  if (index_ >= kBufferSize || index_ >= filled_) return 0;
  return buffer_[index_];
}

std::string TPPMGraphic::ReadLine() {
  std::string line;
  uint8_t c;
  while ((c = ReadByte()) != 10 && c != 13) line.push_back(char(c));
  if (c == 13 && PeekByte() == 10) ReadByte();
  const size_t comment = line.find('#');
  if (comment != std::string::npos) line.erase(comment);
  return line;
}

uint32_t TPPMGraphic::ReadNumber() {
  uint8_t c = ReadByte();
  while (!IsDigit(c)) {
    if (c == '#') ReadLine();
    c = ReadByte();
  }
  uint64_t value = 0;
  do {
    value = std::min<uint64_t>(value * 10 + (c - '0'), std::numeric_limits<uint32_t>::max());
    c = ReadByte();
  } while (IsDigit(c));
  return uint32_t(value);
}

uint8_t TPPMGraphic::ReadBit() {
  // A plain bitmap's pixels are single digits and need nothing between them ("0110"),
  // though writers may put blanks or line ends there.
  uint8_t c = ReadByte();
  while (!IsDigit(c)) {
    if (c == '#') ReadLine();
    c = ReadByte();
  }
  return uint8_t((c - '0') & 1);
}

void TPPMGraphic::ReadBytes(uint8_t* dest, size_t count) {
  while (count > 0) {
    if (index_ < filled_ && index_ < kBufferSize) {
      const size_t n = std::min(count, filled_ - index_);
      std::memcpy(dest, &buffer_[index_], n);
      index_ += n;
      dest += n;
      count -= n;
      continue;
    }
    // The buffer is used up. A refill that came up short has met the end of the stream.
    if (index_ != kBufferSize) FailRead();
    if (count >= kBufferSize) {
      // Large blocks go straight from the stream to their place.
      if (stream_->Read(dest, count) < count) FailRead();
      return;
    }
    if (stream_->Position() >= stream_->Size()) FailRead();
    filled_ = stream_->Read(buffer_.data(), kBufferSize);
    index_ = 0;
    if (filled_ == 0) FailRead();
  }
}

uint64_t TPPMGraphic::BytesLeft() const {
  const uint64_t buffered = index_ < filled_ && index_ < kBufferSize ? filled_ - index_ : 0;
  return buffered + uint64_t(stream_->Remaining());
}

void TPPMGraphic::LoadFromStream(Stream& stream) {
  Clear();
  stream_ = &stream;
  index_ = kBufferSize;
  filled_ = 0;

  // The first byte is checked before the rest of its line is read, which in a file that
  // is no picture of this kind may run to the end of the file.
  if (ReadByte() != 'P') throw PictureError(kNotPPM);
  const std::string line = "P" + ReadLine();
  // The digit after the P is converted as a number; a missing or non-digit character
  // fails the way the conversion does.
  const std::string digit = line.substr(1, 1);
  if (digit.empty() || !IsDigit(uint8_t(digit[0])))
    throw PictureError("'" + digit + "' is not a valid integer value");
  const int magic = digit[0] - '0';
  // P7 (arbitrary maps) and the unassigned numbers are not pictures this reader can show.
  if (magic < 1 || magic > 6) throw PictureError(kNotPPM);

  const bool bitmap = magic == 1 || magic == 4;
  const bool colour = magic == 3 || magic == 6;
  SetPixelFormat(bitmap ? PixelFormat::Bits1 : colour ? PixelFormat::Bits24 : PixelFormat::Bits8);
  // Sizes beyond what an int holds cannot be a picture; they are kept at the largest int,
  // where the Bitmap's own memory limit refuses them (unless the other size is 0).
  const int width = int(std::min<uint32_t>(ReadNumber(), std::numeric_limits<int>::max()));
  const int height = int(std::min<uint32_t>(ReadNumber(), std::numeric_limits<int>::max()));
  const uint32_t maxValue = bitmap ? 1 : ReadNumber();
  if (magic >= 4 && maxValue > 65535) throw PictureError(kNotPPM);

  // Before the picture takes its memory, make sure the file can hold its pixels: every
  // text sample needs at least one byte, every raw sample its full size.
  const uint64_t samples = colour ? 3 : 1;
  const uint64_t sampleBytes = maxValue > 255 ? 2 : 1;
  const uint64_t left = BytesLeft();
  const bool fits =
      magic == 4   ? ProductAtMost(left, {(uint64_t(width) + 7) / 8, uint64_t(height)})
      : magic >= 5 ? ProductAtMost(left, {uint64_t(width), uint64_t(height), samples, sampleBytes})
                   : ProductAtMost(left, {uint64_t(width), uint64_t(height), samples});
  if (!fits) FailRead();

  // Raw pictures, which the file has been found to hold in full, write every byte of every
  // row, so their memory need not be cleared first.
  std::optional<RowFill> fill;
  if (magic >= 4)
    fill.emplace(*this, width, height);
  else
    SetSize(width, height);
  if (bitmap) {
    LogPalette mono(2);
    mono.entries[0] = {255, 255, 255, 0};
    mono.entries[1] = {0, 0, 0, 0};
    SetPalette(CreatePalette(mono));
  } else if (!colour) {
    SetPalette(CreatePalette(GreyPaletteRecord()));
  }
  if (width > 0 && height > 0) ReadPixelRows(magic, width, height, maxValue);
  if (fill) fill->Done();
}

void TPPMGraphic::ReadPixelRows(int magic, int width, int height, uint32_t maxValue) {
  const size_t w = size_t(width);
  // Raw samples of one byte go through a table when they need scaling; samples of two
  // bytes (a maximum above 255) are big-endian words.
  std::array<uint8_t, 256> scale{};
  for (uint32_t v = 0; v < 256; ++v) scale[v] = ScaleSample(v, maxValue);
  const bool identity = maxValue == 255 || maxValue == 0;
  std::vector<uint8_t> wide;
  if (magic >= 5 && maxValue > 255) wide.resize(w * (magic == 6 ? 6 : 2));

  // Raw bitmaps and grey maps whose rows need no padding lie in the file exactly as in the
  // Bitmap's memory, and are read in one piece.
  const size_t rawRowBytes = magic == 4 ? (w + 7) / 8 : w;
  if ((magic == 4 || (magic == 5 && wide.empty() && identity)) && RowStride() == rawRowBytes &&
      ScanLine(height - 1) == ScanLine(0) + RowStride() * size_t(height - 1)) {
    ReadBytes(ScanLine(0), rawRowBytes * size_t(height));
    return;
  }
  std::vector<uint8_t> rgb;
  if (magic == 6 && wide.empty()) rgb.resize(w * 3);

  for (int y = 0; y < height; ++y) {
    uint8_t* row = ScanLine(y);
    switch (magic) {
      case 1: {
        uint8_t bits = 0;
        for (size_t x = 0; x < w; ++x) {
          bits = uint8_t(bits << 1 | ReadBit());
          if (x % 8 == 7) {
            row[x / 8] = bits;
            bits = 0;
          }
        }
        if (w % 8) row[w / 8] = uint8_t(bits << (8 - w % 8));
        break;
      }
      case 2:
        for (size_t x = 0; x < w; ++x) row[x] = ScaleSample(ReadNumber(), maxValue);
        break;
      case 3:
        for (size_t x = 0; x < w; ++x, row += 3) {
          const uint32_t red = ReadNumber(), green = ReadNumber(), blue = ReadNumber();
          row[0] = ScaleSample(blue, maxValue);
          row[1] = ScaleSample(green, maxValue);
          row[2] = ScaleSample(red, maxValue);
        }
        break;
      case 4:
        ReadBytes(row, (w + 7) / 8);
        break;
      case 5:
      case 6: {
        const size_t count = magic == 6 ? w * 3 : w;
        if (!wide.empty()) {
          ReadBytes(wide.data(), wide.size());
          for (size_t i = 0; i < count; ++i)
            row[i] = ScaleSample(uint32_t(wide[i * 2] << 8 | wide[i * 2 + 1]), maxValue);
          if (magic == 6) RGBToBGR(row, row, 8, uint32_t(count));
        } else if (magic == 6) {
          ReadBytes(rgb.data(), count);
          if (!identity)
            for (uint8_t& v : rgb) v = scale[v];
          RGBToBGR(rgb.data(), row, 8, uint32_t(count));
        } else {
          ReadBytes(row, count);
          if (!identity)
            for (size_t i = 0; i < count; ++i) row[i] = scale[row[i]];
        }
        break;
      }
    }
  }
}

}  // namespace pictures
