#include "pictures/formats/xpm.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/formats/x11_colours.h"
#include "pictures/palette.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TXPMGraphic, Bitmap)

namespace {

[[noreturn]] void Fail(const std::string& what) { throw PictureError("XPM: " + what); }

// The string literals of the file in order, past comments and everything between them
// (the declaration, commas, braces).
class CStrings {
 public:
  explicit CStrings(std::span<const uint8_t> text) : in_(text) {}

  std::optional<std::string> Next() {
    while (!in_.AtEnd()) {
      const char c = char(in_.U8());
      if (c == '"') return ReadString();
      if (c == '/' && !in_.AtEnd() && in_.Peek(1)[0] == '*') SkipComment();
    }
    return std::nullopt;
  }

  // The text up to the next string must open with the XPM comment.
  bool StartsWithXpmComment() {
    while (!in_.AtEnd() && std::isspace(in_.Peek(1)[0])) in_.U8();
    const std::string_view start = "/* XPM */";
    return in_.Remaining() >= start.size() &&
           std::string_view(reinterpret_cast<const char*>(in_.Peek(start.size()).data()),
                            start.size()) == start;
  }

 private:
  void SkipComment() {
    in_.U8();
    char previous = 0;
    while (!in_.AtEnd()) {
      const char c = char(in_.U8());
      if (previous == '*' && c == '/') return;
      previous = c;
    }
  }

  // A backslash keeps the character after it (\" and \\ in the pixels' characters).
  std::string ReadString() {
    std::string text;
    for (;;) {
      if (in_.AtEnd()) Fail("a string is not closed");
      char c = char(in_.U8());
      if (c == '"') return text;
      if (c == '\\' && !in_.AtEnd()) c = char(in_.U8());
      text += c;
    }
  }

  ByteReader in_;
};

struct XPMValues {
  uint32_t width = 0, height = 0, colours = 0, charsPerPixel = 0;
};

XPMValues ParseValues(const std::string& text) {
  XPMValues v;
  const char* p = text.data();
  const char* end = text.data() + text.size();
  for (uint32_t* field : {&v.width, &v.height, &v.colours, &v.charsPerPixel}) {
    while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
    const auto [next, error] = std::from_chars(p, end, *field);
    if (error != std::errc()) Fail("the first string must give width, height, colours and characters per pixel");
    p = next;
  }
  if (v.width == 0 || v.height == 0 || v.width > INT32_MAX || v.height > INT32_MAX)
    Fail("invalid image size");
  if (v.colours == 0 || v.charsPerPixel == 0) Fail("a picture needs colours and characters per pixel");
  return v;
}

struct Colour {
  uint8_t red = 0, green = 0, blue = 0;
  bool none = false;  // transparent
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// #RGB, #RRGGBB, #RRRGGGBBB or #RRRRGGGGBBBB, each channel scaled from its digits to 8 bits.
std::optional<Colour> ParseHexColour(std::string_view digits) {
  if (digits.empty() || digits.size() % 3 != 0 || digits.size() > 12) return std::nullopt;
  const size_t n = digits.size() / 3;
  const uint32_t largest = (1u << (4 * n)) - 1;
  std::array<uint8_t, 3> channels{};
  for (size_t c = 0; c < 3; ++c) {
    uint32_t value = 0;
    for (char digit : digits.substr(c * n, n)) {
      if (HexDigit(digit) < 0) return std::nullopt;
      value = value << 4 | uint32_t(HexDigit(digit));
    }
    channels[c] = uint8_t((value * 255 + largest / 2) / largest);
  }
  return Colour{channels[0], channels[1], channels[2], false};
}

Colour ParseColour(const std::string& value) {
  std::string key;
  for (char c : value)
    if (c != ' ') key += char(std::tolower(static_cast<unsigned char>(c)));
  if (key == "none") return Colour{0, 0, 0, true};
  if (key.starts_with('#')) {
    if (const auto colour = ParseHexColour(std::string_view(key).substr(1))) return *colour;
  } else if (const X11Colour* named = FindX11Colour(key)) {
    return Colour{named->red, named->green, named->blue, false};
  }
  Fail("unknown colour \"" + value + "\"");
}

// The colour of a colour string after its characters: the words after the key "c" (the
// colour visual), else after "g" or "g4" (grey) or "m" (mono); "s" names a symbol.
Colour ColourOfKeys(std::string_view keys, size_t number) {
  static constexpr std::array<std::string_view, 5> kKeys = {"c", "g", "g4", "m", "s"};
  std::unordered_map<std::string_view, std::string> values;
  std::string_view key;
  size_t start = 0;
  while (start < keys.size()) {
    const size_t end = std::min(keys.find_first_of(" \t", start), keys.size());
    const std::string_view word = keys.substr(start, end - start);
    start = end + 1;
    if (word.empty()) continue;
    if (std::find(kKeys.begin(), kKeys.end(), word) != kKeys.end()) {
      key = word;
      values[key];
    } else if (!key.empty()) {
      std::string& value = values[key];
      if (!value.empty()) value += ' ';
      value += word;
    }
  }
  for (std::string_view visual : {"c", "g", "g4", "m"})
    if (const auto found = values.find(visual); found != values.end() && !found->second.empty())
      return ParseColour(found->second);
  Fail("colour " + std::to_string(number) + " has no colour value");
}

// The colours by their characters: a table for one or two characters a pixel, a map for
// more.
class ColourTable {
 public:
  explicit ColourTable(uint32_t charsPerPixel)
      : charsPerPixel_(charsPerPixel), direct_(charsPerPixel <= 2 ? size_t(1) << (8 * charsPerPixel) : 0, -1) {}

  void Add(std::string_view chars, int index) {
    if (direct_.empty())
      named_[std::string(chars)] = index;
    else
      direct_[Code(chars)] = index;
  }

  // The colour index of the pixel whose characters start `chars`, or -1.
  int Find(std::string_view chars) const {
    if (!direct_.empty()) return direct_[Code(chars)];
    const auto found = named_.find(std::string(chars.substr(0, charsPerPixel_)));
    return found == named_.end() ? -1 : found->second;
  }

 private:
  size_t Code(std::string_view chars) const {
    size_t code = static_cast<unsigned char>(chars[0]);
    if (charsPerPixel_ == 2) code = code << 8 | static_cast<unsigned char>(chars[1]);
    return code;
  }

  uint32_t charsPerPixel_;
  std::vector<int> direct_;
  std::unordered_map<std::string, int> named_;
};

PixelFormat FormatFor(const std::vector<Colour>& colours) {
  for (const Colour& c : colours)
    if (c.none) return PixelFormat::Bits32;
  return colours.size() <= 256 ? PixelFormat::Bits8 : PixelFormat::Bits24;
}

void PutPixel(PixelFormat format, const Colour& colour, int index, uint8_t* row, size_t x) {
  switch (format) {
    case PixelFormat::Bits8: row[x] = uint8_t(index); break;
    case PixelFormat::Bits24:
      row[3 * x] = colour.blue, row[3 * x + 1] = colour.green, row[3 * x + 2] = colour.red;
      break;
    default:
      row[4 * x] = colour.blue, row[4 * x + 1] = colour.green, row[4 * x + 2] = colour.red;
      row[4 * x + 3] = colour.none ? 0 : 255;
      break;
  }
}

}  // namespace

void TXPMGraphic::LoadFromStream(Stream& stream) {
  Clear();
  std::vector<uint8_t> storage;
  const std::span<const uint8_t> text = stream.ReadRestView(storage);
  CStrings strings(text);
  if (!strings.StartsWithXpmComment()) Fail("not an XPM file");
  const std::optional<std::string> first = strings.Next();
  if (!first) Fail("not an XPM file");
  const XPMValues values = ParseValues(*first);
  // Every colour takes a string of its characters and a key and a value, every pixel its
  // characters: a file too short for that fails before the picture takes its memory.
  // (Divided rather than multiplied, so that no product can overflow.)
  const uint64_t pixels = uint64_t(values.width) * values.height;
  if (values.charsPerPixel > text.size() || pixels > text.size() / values.charsPerPixel ||
      values.colours > text.size() / (uint64_t(values.charsPerPixel) + 4))
    Fail("the file ends before its last pixel row");

  ColourTable table(values.charsPerPixel);
  std::vector<Colour> colours;
  for (uint32_t i = 0; i < values.colours; ++i) {
    const std::optional<std::string> line = strings.Next();
    if (!line) Fail("the file ends before its last colour");
    if (line->size() < values.charsPerPixel) Fail("colour " + std::to_string(i + 1) + " is cut short");
    const std::string_view chars = std::string_view(*line).substr(0, values.charsPerPixel);
    colours.push_back(ColourOfKeys(std::string_view(*line).substr(values.charsPerPixel), i + 1));
    table.Add(chars, int(i));
  }

  const PixelFormat format = FormatFor(colours);
  SetPixelFormat(format);
  if (format == PixelFormat::Bits8) {
    LogPalette palette(colours.size());
    for (size_t i = 0; i < colours.size(); ++i)
      palette.entries[i] = {colours[i].red, colours[i].green, colours[i].blue, 0};
    SetPalette(CreatePalette(palette));
  }
  RowFill fill(*this, int(values.width), int(values.height));
  for (int y = 0; y < Height(); ++y) {
    const std::optional<std::string> line = strings.Next();
    if (!line) Fail("the file ends before its last pixel row");
    if (line->size() < size_t(values.width) * values.charsPerPixel)
      Fail("pixel row " + std::to_string(y + 1) + " is cut short");
    uint8_t* row = ScanLine(y);
    const std::string_view pixels(*line);
    for (size_t x = 0; x < values.width; ++x) {
      const int index = table.Find(pixels.substr(x * values.charsPerPixel, values.charsPerPixel));
      if (index < 0) Fail("pixel row " + std::to_string(y + 1) + " uses a colour it does not define");
      PutPixel(format, colours[size_t(index)], index, row, x);
    }
  }
  fill.Done();
  SetTransparent(format == PixelFormat::Bits32);
}

}  // namespace pictures
