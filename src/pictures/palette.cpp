#include "pictures/palette.h"

#include <algorithm>

namespace pictures {

PaletteHandle CreatePalette(const LogPalette& record) {
  if (record.version != 0x300 || record.entries.empty() || record.entries.size() > 256)
    return nullptr;
  return std::make_shared<const std::vector<PaletteEntry>>(record.entries);
}

const std::array<PaletteEntry, 16>& StandardPalette16() {
  static const std::array<PaletteEntry, 16> palette{{
      {0, 0, 0, 0},       {128, 0, 0, 0},   {0, 128, 0, 0},   {128, 128, 0, 0},
      {0, 0, 128, 0},     {128, 0, 128, 0}, {0, 128, 128, 0}, {128, 128, 128, 0},
      {192, 192, 192, 0}, {255, 0, 0, 0},   {0, 255, 0, 0},   {255, 255, 0, 0},
      {0, 0, 255, 0},     {255, 0, 255, 0}, {0, 255, 255, 0}, {255, 255, 255, 0},
  }};
  return palette;
}

namespace {

// The halftone palette: the first ten and last ten static colours of the system palette
// around a 6 x 6 x 6 colour cube, with the remaining entries spent on a grey ramp.
std::array<PaletteEntry, 256> MakeHalftonePalette() {
  std::array<PaletteEntry, 256> palette{};
  static const PaletteEntry kFirstStatic[10] = {
      {0, 0, 0, 0},     {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},
      {0, 0, 128, 0},   {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0},
      {192, 220, 192, 0}, {166, 202, 240, 0}};
  static const PaletteEntry kLastStatic[10] = {
      {255, 251, 240, 0}, {160, 160, 164, 0}, {128, 128, 128, 0}, {255, 0, 0, 0},
      {0, 255, 0, 0},     {255, 255, 0, 0},   {0, 0, 255, 0},     {255, 0, 255, 0},
      {0, 255, 255, 0},   {255, 255, 255, 0}};
  for (int i = 0; i < 10; ++i) {
    palette[i] = kFirstStatic[i];
    palette[246 + i] = kLastStatic[i];
  }
  int next = 10;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        palette[next++] = {uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51), 0};
  // 20 entries are left (226..245): greys between the cube's own grey steps.
  for (int i = 0; next < 246; ++i, ++next) {
    auto level = uint8_t(8 + i * 12);
    palette[next] = {level, level, level, 0};
  }
  return palette;
}

}  // namespace

const std::array<PaletteEntry, 256>& HalftonePalette256() {
  static const std::array<PaletteEntry, 256> palette = MakeHalftonePalette();
  return palette;
}

LogPalette GreyPaletteRecord() { return GreyRampRecord(256, 1); }

LogPalette GreyRampRecord(size_t count, unsigned step) {
  LogPalette record(count);
  for (size_t i = 0; i < count; ++i) {
    const auto v = static_cast<uint8_t>(std::min<size_t>(i * step, 255));
    record.entries[i] = {v, v, v, 0};
  }
  return record;
}

LogPalette BlackWhitePaletteRecord(ZeroBit zero) {
  LogPalette record(2);
  const PaletteEntry black{0, 0, 0, 0};
  const PaletteEntry white{255, 255, 255, 0};
  record.entries[0] = zero == ZeroBit::Black ? black : white;
  record.entries[1] = zero == ZeroBit::Black ? white : black;
  return record;
}

}  // namespace pictures
