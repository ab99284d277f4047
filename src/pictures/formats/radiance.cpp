// A Radiance picture starts with text: a first line "#?" and the writing program's name
// ("#?RADIANCE", "#?RGBE"), lines of "NAME=value" or comments, an empty line, then the
// resolution line, such as "-Y 480 +X 640": the scanlines run along the first axis (here
// down the picture, as Y grows upwards) and their pixels along the second. The pixels
// follow, four bytes each: red, green and blue mantissas and an exponent, the value being
// mantissa * 2^(exponent - 136). A scanline is stored in one of three ways:
// - flat: its pixels one after another;
// - old run-length: a pixel (1, 1, 1, n) repeats the pixel before it n times, and each
//   such pixel straight after another counts n times 256 times as many as that one;
// - new run-length (widths of 8 to 32767): the bytes 2, 2 and the width as a big-endian
//   number, then each of the four components of the whole scanline in turn, in packets:
//   a count above 128 repeats the next byte count - 128 times, a count of 1 to 128 copies
//   that many bytes.
// The EXPOSURE line says what the pixel values were multiplied by when they were written;
// the values are shown as they are, which is what that exposure was chosen for.
#include "pictures/formats/radiance.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_reader.h"
#include "base/colour_space.h"
#include "base/error.h"
#include "base/pixel_helpers.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TRadianceGraphic, Bitmap)

namespace {

// Old run-length pixels: the longest run two markers in a row can give, and the bytes of
// those two markers. Runs that would need a third marker (rows of more than 65536 pixels)
// are not read.
constexpr uint32_t kLongestOldRun = 255 + (255 << 8);
constexpr uint64_t kOldRunBytes = 8;
constexpr int kMinimumPackedWidth = 8;
constexpr int kMaximumPackedWidth = 0x7FFF;

[[noreturn]] void Fail(const std::string& what) { throw PictureError("Radiance: " + what); }

std::string_view ReadLine(ByteReader& in) {
  const std::span<const uint8_t> rest = in.Rest();
  const auto end = std::find(rest.begin(), rest.end(), uint8_t('\n'));
  if (end == rest.end()) Fail("the header has no end");
  const auto length = size_t(end - rest.begin());
  in.Skip(length + 1);
  std::string_view line(reinterpret_cast<const char*>(rest.data()), length);
  if (line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

// One axis of the resolution line: the scan goes down (Y, "-") or up ("+") the picture,
// or right (X, "+") or left ("-") along it, for `size` pixels.
struct Axis {
  bool isY = false;
  bool forwards = true;  // top to bottom, or left to right
  int size = 0;
  // The picture row or column of the `i`th pixel along the axis.
  int At(int i) const { return forwards ? i : size - 1 - i; }
};

bool ParseAxis(std::string_view& text, Axis& axis) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (text.size() < 3 || (text[0] != '+' && text[0] != '-') || (text[1] != 'X' && text[1] != 'Y') ||
      text[2] != ' ')
    return false;
  axis.isY = text[1] == 'Y';
  axis.forwards = axis.isY ? text[0] == '-' : text[0] == '+';
  text.remove_prefix(3);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), axis.size);
  if (error != std::errc() || axis.size < 1) return false;
  text.remove_prefix(size_t(end - text.data()));
  return true;
}

struct RadianceHeader {
  Axis scanlines;  // the axis the scanlines follow one another along
  Axis pixels;     // the axis along a scanline
};

RadianceHeader ReadHeader(ByteReader& in) {
  if (in.Size() < 2 || in.Peek(2)[0] != '#' || in.Peek(2)[1] != '?') Fail("not a Radiance picture");
  for (std::string_view line = ReadLine(in); !line.empty(); line = ReadLine(in)) {
    if (line.starts_with("FORMAT=") && line.substr(7) != "32-bit_rle_rgbe")
      Fail("pictures of FORMAT=" + std::string(line.substr(7)) + " are not supported");
  }
  std::string_view resolution = ReadLine(in);
  RadianceHeader header;
  if (!ParseAxis(resolution, header.scanlines) || !ParseAxis(resolution, header.pixels) ||
      header.scanlines.isY == header.pixels.isY ||
      resolution.find_first_not_of(' ') != std::string_view::npos)
    Fail("invalid resolution line");
  return header;
}

// Reads a new run-length scanline's four components into `rgbe`; false when its packets
// do not fit the scanline.
bool ReadPackedScanline(ByteReader& in, std::span<uint8_t> rgbe) {
  const size_t width = rgbe.size() / 4;
  for (size_t c = 0; c < 4; ++c) {
    for (size_t x = 0; x < width;) {
      const uint8_t count = in.U8();
      const bool run = count > 128;
      const size_t n = run ? count - 128u : count;
      if (n == 0 || x + n > width) return false;
      const uint8_t value = run ? in.U8() : 0;
      for (size_t end = x + n; x < end; ++x) rgbe[4 * x + c] = run ? value : in.U8();
    }
  }
  return true;
}

// Reads a flat or old run-length scanline; `previous` is the pixel a run at its start
// repeats (the last pixel of the scanline before, black at first).
bool ReadOldScanline(ByteReader& in, std::span<uint8_t> rgbe, std::span<uint8_t, 4> previous) {
  const size_t width = rgbe.size() / 4;
  int shift = 0;
  for (size_t x = 0; x < width;) {
    const std::span<const uint8_t> pixel = in.Bytes(4);
    if (pixel[0] == 1 && pixel[1] == 1 && pixel[2] == 1) {
      if (shift > 8) return false;
      const size_t count = std::min<size_t>(size_t(pixel[3]) << shift, width - x);
      for (size_t end = x + count; x < end; ++x) std::copy(previous.begin(), previous.end(), rgbe.begin() + ptrdiff_t(4 * x));
      shift += 8;
    } else {
      std::copy(pixel.begin(), pixel.end(), previous.begin());
      std::copy(pixel.begin(), pixel.end(), rgbe.begin() + ptrdiff_t(4 * x));
      ++x;
      shift = 0;
    }
  }
  return true;
}

bool ReadScanline(ByteReader& in, std::span<uint8_t> rgbe, std::span<uint8_t, 4> previous) {
  const size_t width = rgbe.size() / 4;
  const bool packable = width >= kMinimumPackedWidth && width <= kMaximumPackedWidth;
  if (packable && in.Remaining() >= 4) {
    const std::span<const uint8_t> start = in.Peek(4);
    if (start[0] == 2 && start[1] == 2 && !(start[2] & 0x80)) {
      in.Skip(4);
      if ((size_t(start[2]) << 8 | start[3]) != width) return false;
      if (!ReadPackedScanline(in, rgbe)) return false;
      std::copy(rgbe.end() - 4, rgbe.end(), previous.begin());
      return true;
    }
  }
  return ReadOldScanline(in, rgbe, previous);
}

// An RGBE pixel's component as 8-bit sRGB.
uint8_t Component(uint8_t mantissa, float scale) { return LinearToSRGB8(float(mantissa) * scale); }

// 2^(exponent - 136); exponents below 10 give values too small to show (and 0 means black).
float ScaleOf(uint8_t exponent) {
  return exponent < 10 ? 0.0f : std::bit_cast<float>(uint32_t(exponent - 9) << 23);
}

// Writes scanline `s` where the scan order puts it: a row (scanlines along Y) or a column.
void PlaceScanline(Bitmap& picture, const RadianceHeader& header, int s, std::span<const uint8_t> rgbe) {
  const Axis& scanlines = header.scanlines;
  const Axis& along = header.pixels;
  uint8_t* row = scanlines.isY ? picture.ScanLine(scanlines.At(s)) : nullptr;
  for (int i = 0; i < along.size; ++i) {
    const std::span<const uint8_t> p = rgbe.subspan(size_t(i) * 4, 4);
    const int x = scanlines.isY ? along.At(i) : scanlines.At(s);
    uint8_t* bgr = (scanlines.isY ? row : picture.ScanLine(along.At(i))) + size_t(x) * 3;
    const float scale = ScaleOf(p[3]);
    bgr[0] = Component(p[2], scale);
    bgr[1] = Component(p[1], scale);
    bgr[2] = Component(p[0], scale);
  }
}

}  // namespace

void TRadianceGraphic::LoadFromStream(Stream& stream) {
  Clear();
  std::vector<uint8_t> storage;
  ByteReader in(stream.ReadRestView(storage));
  const RadianceHeader header = ReadHeader(in);
  const Axis& scanlines = header.scanlines;
  const Axis& along = header.pixels;
  const int width = scanlines.isY ? along.size : scanlines.size;
  const int height = scanlines.isY ? scanlines.size : along.size;
  // Every scanline takes four bytes at least, and no eight bytes give more than 65536
  // pixels (two run markers in a row repeat a pixel at most 65535 times).
  const uint64_t pixels = uint64_t(width) * uint64_t(height);
  if (!CanFill(in.Remaining(), 1, uint64_t(scanlines.size) * 4) ||
      !CanFill(in.Remaining(), kLongestOldRun + 1, pixels * kOldRunBytes))
    Fail("the file is shorter than its picture");

  SetPixelFormat(PixelFormat::Bits24);
  SetSize(width, height);
  std::vector<uint8_t> rgbe(CheckedBufferSize({uint64_t(along.size), 4}));
  std::array<uint8_t, 4> previous{};
  for (int s = 0; s < scanlines.size; ++s) {
    try {
      if (!ReadScanline(in, rgbe, previous)) Fail("damaged run-length data");
    } catch (const StreamReadError&) {
      break;  // a file cut short leaves the rest of the picture black
    }
    PlaceScanline(*this, header, s, rgbe);
  }
}

}  // namespace pictures
