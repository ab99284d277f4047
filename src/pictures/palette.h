// Palettes: the logical palette record that readers fill, and the palettes the platform
// gives new Bitmaps.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace pictures {

// One palette entry in the record's order: red, green, blue, flags (always 0 here).
struct PaletteEntry {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  uint8_t flags = 0;
  friend bool operator==(const PaletteEntry&, const PaletteEntry&) = default;
};

// The logical palette record: a version word (always 0x300) and the entries; the entry
// count is entries.size().
struct LogPalette {
  uint16_t version = 0x300;
  std::vector<PaletteEntry> entries;

  LogPalette() = default;
  explicit LogPalette(size_t count) : entries(count) {}
};

// A created palette: what a Bitmap owns. Shared so that assigning Bitmaps is cheap.
using PaletteHandle = std::shared_ptr<const std::vector<PaletteEntry>>;

// Creates a palette from the record. Returns an empty handle when the record cannot make
// one: no entries, more than 256 entries, or a version other than 0x300.
PaletteHandle CreatePalette(const LogPalette& record);

// The standard 16-colour palette (black, maroon, green, olive, navy, purple, teal, grey,
// silver, red, lime, yellow, blue, fuchsia, aqua, white).
const std::array<PaletteEntry, 16>& StandardPalette16();
// The 256-colour halftone palette that new 8-bit Bitmaps start with.
const std::array<PaletteEntry, 256>& HalftonePalette256();
// 256 entries, entry i = (i, i, i).
LogPalette GreyPaletteRecord();
// `count` grey entries, entry i = (i * step, i * step, i * step), cut at 255.
LogPalette GreyRampRecord(size_t count, unsigned step);
// Two entries, black and white, in the order the format gives its bit values.
enum class ZeroBit { Black, White };
LogPalette BlackWhitePaletteRecord(ZeroBit zero);

}  // namespace pictures
