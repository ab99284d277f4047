#include "pictures/formats/xbm.h"

#include <cctype>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "pictures/palette.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TXBMGraphic, Bitmap)

namespace {

[[noreturn]] void Fail(const std::string& what) { throw PictureError("XBM: " + what); }

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

struct XBMHeader {
  uint32_t width = 0, height = 0;
  bool words = false;       // X10: an array of 16-bit words
  size_t dataStart = 0;     // just past the array's opening brace
};

// The value of "#define <prefix>_<suffix> <value>" (or a name that is just the suffix),
// from the defines before `end`.
std::optional<uint32_t> Define(std::string_view text, std::string_view suffix, size_t end) {
  for (size_t at = text.find("#define"); at < end; at = text.find("#define", at + 1)) {
    size_t p = at + 7;
    while (p < text.size() && IsSpace(text[p])) ++p;
    const size_t nameStart = p;
    while (p < text.size() && !IsSpace(text[p])) ++p;
    const std::string_view name = text.substr(nameStart, p - nameStart);
    if (name != suffix.substr(1) && !name.ends_with(suffix)) continue;
    while (p < text.size() && IsSpace(text[p])) ++p;
    uint32_t value = 0;
    if (std::from_chars(text.data() + p, text.data() + text.size(), value).ec == std::errc())
      return value;
  }
  return std::nullopt;
}

XBMHeader ParseHeader(std::string_view text) {
  XBMHeader h;
  const size_t brace = text.find('{');
  const std::optional<uint32_t> width = Define(text, "_width", brace);
  const std::optional<uint32_t> height = Define(text, "_height", brace);
  if (!width || !height || brace == std::string_view::npos) Fail("not an X bitmap file");
  h.width = *width;
  h.height = *height;
  if (h.width == 0 || h.height == 0 || h.width > INT32_MAX || h.height > INT32_MAX)
    Fail("invalid image size");
  // The declaration between the last define and the brace says whether the array holds
  // shorts.
  const size_t declaration = text.rfind('#', brace);
  h.words = text.substr(declaration, brace - declaration).find("short") != std::string_view::npos;
  h.dataStart = brace + 1;
  return h;
}

// The numbers of the array, in C notation (0x1f, 31, 037), separated by commas and
// whitespace.
class Numbers {
 public:
  Numbers(std::string_view text, size_t start) : text_(text), p_(start) {}

  uint32_t Next() {
    while (p_ < text_.size() && (IsSpace(text_[p_]) || text_[p_] == ',')) ++p_;
    if (p_ >= text_.size() || text_[p_] == '}') Fail("the file ends before its last pixel");
    int base = 10;
    if (text_.substr(p_, 2) == "0x" || text_.substr(p_, 2) == "0X") base = 16, p_ += 2;
    else if (text_[p_] == '0' && p_ + 1 < text_.size() && std::isdigit(static_cast<unsigned char>(text_[p_ + 1]))) base = 8;
    uint32_t value = 0;
    const auto [next, error] = std::from_chars(text_.data() + p_, text_.data() + text_.size(), value, base);
    if (error != std::errc()) Fail("the pixel data holds something other than numbers");
    p_ = size_t(next - text_.data());
    return value;
  }

 private:
  std::string_view text_;
  size_t p_;
};

// The bits of a byte in the other order: XBM keeps the leftmost pixel in the lowest bit,
// a Bitmap in the highest.
uint8_t Reversed(uint32_t byte) {
  uint8_t out = 0;
  for (int bit = 0; bit < 8; ++bit) out = uint8_t(out | ((byte >> bit & 1) << (7 - bit)));
  return out;
}

}  // namespace

void TXBMGraphic::LoadFromStream(Stream& stream) {
  Clear();
  std::vector<uint8_t> storage;
  const std::span<const uint8_t> bytes = stream.ReadRestView(storage);
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const XBMHeader header = ParseHeader(text);

  const size_t unit = header.words ? 2 : 1;  // bytes a number holds
  const size_t numbersPerRow = (size_t(header.width) + 8 * unit - 1) / (8 * unit);
  // A number takes at least a digit and a separator.
  if (!CanFill((text.size() - header.dataStart + 1) / 2, 1, uint64_t(numbersPerRow) * header.height))
    Fail("the file ends before its last pixel");

  SetPixelFormat(PixelFormat::Bits1);
  SetPalette(CreatePalette(BlackWhitePaletteRecord(ZeroBit::White)));
  RowFill fill(*this, int(header.width), int(header.height));
  Numbers numbers(text, header.dataStart);
  const size_t rowBytes = RowBytes();
  std::vector<uint8_t> stored(numbersPerRow * unit);
  for (int y = 0; y < Height(); ++y) {
    for (size_t i = 0; i < numbersPerRow; ++i) {
      const uint32_t value = numbers.Next();
      // A word's low byte holds the left eight pixels.
      stored[i * unit] = Reversed(value & 0xFF);
      if (header.words) stored[i * unit + 1] = Reversed(value >> 8 & 0xFF);
    }
    std::copy_n(stored.begin(), rowBytes, ScanLine(y));
  }
  fill.Done();
}

}  // namespace pictures
