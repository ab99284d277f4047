#include "pictures/formats/cut.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/error.h"
#include "pictures/registry.h"
#include "pictures/stream.h"
#include "support/byte_builders.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::AppendLE16;
using test_support::TempDir;
using test_support::WriteFileBytes;

// The 6-byte picture header: width, height, a reserved word (16-bit little-endian).
Bytes Header(int width, int height) {
  Bytes header;
  AppendLE16(header, width);
  AppendLE16(header, height);
  AppendLE16(header, 0);
  return header;
}

// A packet that repeats `value` `count` times (count < 128): the count with the top bit set.
Bytes RunOf(int count, uint8_t value) { return {uint8_t(0x80 | count), value}; }
// A packet that copies `values` (fewer than 128): the count, then the bytes.
Bytes Literal(const Bytes& values) {
  Bytes packet{uint8_t(values.size())};
  packet.insert(packet.end(), values.begin(), values.end());
  return packet;
}

// A packed row: the 16-bit count of the bytes that follow, the packets, the closing zero.
Bytes Row(std::initializer_list<Bytes> packets) {
  Bytes body;
  for (const Bytes& packet : packets) body.insert(body.end(), packet.begin(), packet.end());
  body.push_back(0);
  Bytes row;
  AppendLE16(row, int(body.size()));
  row.insert(row.end(), body.begin(), body.end());
  return row;
}

// Packs one row of indices with runs where values repeat and literals elsewhere.
Bytes PackRow(const Bytes& indices) {
  Bytes body;
  size_t i = 0;
  while (i < indices.size()) {
    size_t run = 1;
    while (i + run < indices.size() && run < 127 && indices[i + run] == indices[i]) ++run;
    if (run >= 3) {
      body.push_back(uint8_t(0x80 | run));
      body.push_back(indices[i]);
      i += run;
      continue;
    }
    size_t end = i;
    while (end < indices.size() && end - i < 127 &&
           !(end + 2 < indices.size() && indices[end] == indices[end + 1] &&
             indices[end] == indices[end + 2]))
      ++end;
    body.push_back(uint8_t(end - i));
    body.insert(body.end(), indices.begin() + long(i), indices.begin() + long(end));
    i = end;
  }
  body.push_back(0);
  Bytes row;
  AppendLE16(row, int(body.size()));
  row.insert(row.end(), body.begin(), body.end());
  return row;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

using Colour = std::array<uint16_t, 3>;

// A palette file: 512-byte blocks. The first block starts with the 40-byte header ("AH",
// version, size, file type, subtype, board, graphics mode, the largest colour index at
// offset 12, the red, green and blue maxima, a 20-byte name) and holds 78 entries; every
// further block holds 85. An entry is red, green, blue as 16-bit little-endian values.
// `largestIndex` < 0 announces the entries given; `size` < 0 pads the last block.
Bytes PaletteFile(const std::vector<Colour>& entries, int largestIndex = -1, long size = -1) {
  Bytes file(512, 0);
  file[0] = 'A';
  file[1] = 'H';
  file[12] = uint8_t(largestIndex < 0 ? entries.size() - 1 : size_t(largestIndex));
  file[13] = uint8_t((largestIndex < 0 ? entries.size() - 1 : size_t(largestIndex)) >> 8);
  for (size_t at : {14, 16, 18}) file[at] = 255;  // maxima of red, green and blue
  size_t offset = 40;
  size_t block = 0;
  for (const Colour& colour : entries) {
    if (offset > 506) {
      ++block;
      offset = 0;
      file.resize(file.size() + 512, 0);
    }
    for (size_t c = 0; c < 3; ++c) {
      file[block * 512 + offset + 2 * c] = uint8_t(colour[c]);
      file[block * 512 + offset + 2 * c + 1] = uint8_t(colour[c] >> 8);
    }
    offset += 6;
  }
  if (size >= 0) file.resize(size_t(size), 0);
  return file;
}

// Entry i = (i, 255 - i, 3i mod 256): every entry differs from the grey one.
std::vector<Colour> TestColours(int count) {
  std::vector<Colour> colours;
  for (int i = 0; i < count; ++i)
    colours.push_back({uint16_t(i % 256), uint16_t(255 - i % 256), uint16_t(i * 3 % 256)});
  return colours;
}

Bytes RowBytes(const Bitmap& bitmap, int y) {
  const uint8_t* row = bitmap.ScanLine(y);
  return Bytes(row, row + bitmap.Width());
}

void LoadFromBytes(TCUTGraphic& picture, const Bytes& file) {
  MemoryStream stream(file);
  picture.LoadFromStream(stream);
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const PictureError& error) {
    return error.what();
  }
  return "no error";
}

TEST(CUTReader, RowsExpandIntoPaletteIndicesShownInGreyWithoutAPaletteFile) {
  const Bytes file = Concat({Header(5, 3),
                             Row({Literal({1, 2, 3}), RunOf(2, 9)}),
                             Row({RunOf(5, 200)}),
                             Row({Literal({5, 4}), Literal({3}), RunOf(2, 0)})});
  TCUTGraphic picture;
  LoadFromBytes(picture, file);
  ASSERT_EQ(picture.GetPixelFormat(), PixelFormat::Bits8);
  ASSERT_EQ(picture.Width(), 5);
  ASSERT_EQ(picture.Height(), 3);
  EXPECT_EQ(RowBytes(picture, 0), (Bytes{1, 2, 3, 9, 9}));
  EXPECT_EQ(RowBytes(picture, 1), (Bytes{200, 200, 200, 200, 200}));
  EXPECT_EQ(RowBytes(picture, 2), (Bytes{5, 4, 3, 0, 0}));
  ASSERT_EQ(picture.Palette().size(), 256u);
  for (int i : {0, 1, 128, 255})
    EXPECT_EQ(picture.Palette()[size_t(i)], (PaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0}));
}

TEST(CUTReader, DamagedRowsStopAtTheEndOfTheDataAndOfTheRow) {
  struct Case {
    const char* what;
    Bytes data;  // everything after the header of a 3 x 2 picture
    Bytes row0, row1;
  };
  const Case cases[] = {
      {"length word, run, literal, closing zero",
       {0x05, 0x00, 0x82, 0x05, 0x01, 0x07, 0x00}, {5, 5, 7}, {0, 0, 0}},
      {"run longer than the row, then the next row",
       Concat({Row({RunOf(10, 7), Literal({1, 2})}), Row({Literal({4, 5, 6})})}), {7, 7, 7}, {4, 5, 6}},
      {"literal longer than the row, then the next row",
       Concat({Row({Literal({1, 2, 3, 4, 5})}), Row({RunOf(3, 8)})}), {1, 2, 3}, {8, 8, 8}},
      {"last row without its closing zero", Concat({Row({RunOf(3, 1)}), {2, 0, 0x82, 6}}),
       {1, 1, 1}, {6, 6, 0}},
      {"data ends inside a run", {9, 0, 0x83}, {0, 0, 0}, {0, 0, 0}},
      {"data ends inside a literal", {9, 0, 0x05, 1, 2}, {1, 2, 0}, {0, 0, 0}},
      {"data ends after the first row", Row({Literal({3, 2, 1})}), {3, 2, 1}, {0, 0, 0}},
      {"half a length word", {9}, {0, 0, 0}, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    TCUTGraphic picture;
    LoadFromBytes(picture, Concat({Header(3, 2), c.data}));
    ASSERT_EQ(picture.Height(), 2) << c.what;
    EXPECT_EQ(RowBytes(picture, 0), c.row0) << c.what;
    EXPECT_EQ(RowBytes(picture, 1), c.row1) << c.what;
  }
}

TEST(CUTReader, EmptyAndShortPictures) {
  for (auto [width, height] : {std::pair{0, 0}, {0, 3}, {4, 0}}) {
    TCUTGraphic picture;
    LoadFromBytes(picture, Concat({Header(width, height), Row({RunOf(4, 1)})}));
    EXPECT_TRUE(picture.Empty());
    EXPECT_EQ(picture.Width(), width);
    EXPECT_EQ(picture.Height(), height);
  }
  for (size_t size : {0, 1, 5}) {
    TCUTGraphic picture;
    EXPECT_EQ(ErrorOf([&] { LoadFromBytes(picture, Bytes(size, 1)); }), "Stream read error") << size;
  }
  // Data that cannot fill the picture even as runs of 127 fails before the picture's
  // memory is taken: no data for 3 x 2, and 16 bytes for 65535 x 65535.
  for (const Bytes& file : {Header(3, 2), Concat({Header(65535, 65535), Row({RunOf(127, 1)}),
                                                  Row({RunOf(127, 1)}), Bytes(6, 0)})}) {
    TCUTGraphic picture;
    EXPECT_EQ(ErrorOf([&] { LoadFromBytes(picture, file); }), "Stream read error") << file.size();
  }
}

TEST(CUTReader, PaletteFileNameReplacesTheExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\PICS\\SUNSET.CUT", "C:\\PICS\\SUNSET.pal"},
      {"/home/ana/a.b.cut", "/home/ana/a.b.pal"},
      {"/home/ana/photo", "/home/ana/photo.pal"},
      {"/home/old.pictures/sunset", "/home/old.pictures/sunset.pal"},
      {"name.", "name.pal"},
      {"sunset.cut", "sunset.pal"},
  };
  for (const auto& [picture, palette] : cases) EXPECT_EQ(CUTPaletteName(picture), palette);
}

TEST(CUTReader, PaletteFileBesideThePictureIsFoundWhateverItsCase) {
  struct Case {
    const char* picture;
    const char* palette;  // the palette file's name on disk
    bool found;
  };
  const Case cases[] = {
      {"SUNSET.CUT", "SUNSET.pal", true}, {"sunset.cut", "SUNSET.PAL", true},
      {"Sunset.Cut", "sunset.pal", true}, {"photo", "PHOTO.PAL", true},
      {"a.b.cut", "A.B.Pal", true},       {"sunset.cut", "sunset.cut.pal", false},
      {"sunset.cut", "sunsets.pal", false}, {"sunset.cut", "sunset.pa", false},
  };
  const Bytes file = Concat({Header(2, 1), Row({Literal({7, 200})})});
  for (const Case& c : cases) {
    TempDir dir;
    WriteFileBytes(dir.File(c.picture), file);
    WriteFileBytes(dir.File(c.palette), PaletteFile(TestColours(256)));
    TCUTGraphic picture;
    picture.LoadFile(dir.File(c.picture));
    ASSERT_EQ(picture.Palette().size(), 256u) << c.picture << " " << c.palette;
    const PaletteEntry expected =
        c.found ? PaletteEntry{200, 55, 88, 0} : PaletteEntry{200, 200, 200, 0};
    EXPECT_EQ(picture.Palette()[200], expected) << c.picture << " " << c.palette;
    EXPECT_EQ(RowBytes(picture, 0), (Bytes{7, 200}));
  }
}

TEST(CUTReader, AnExactPaletteNameWinsOverOthersThatDifferInCase) {
  TempDir dir;
  const Bytes file = Concat({Header(1, 1), Row({Literal({1})})});
  WriteFileBytes(dir.File("x.cut"), file);
  WriteFileBytes(dir.File("X.PAL"), PaletteFile({{0, 0, 0}, {10, 10, 10}}));
  WriteFileBytes(dir.File("x.pal"), PaletteFile({{0, 0, 0}, {20, 20, 20}}));
  WriteFileBytes(dir.File("y.cut"), file);
  WriteFileBytes(dir.File("Y.pal"), PaletteFile({{0, 0, 0}, {30, 30, 30}}));
  WriteFileBytes(dir.File("Y.PAL"), PaletteFile({{0, 0, 0}, {40, 40, 40}}));
  TCUTGraphic picture;
  picture.LoadFile(dir.File("x.cut"));
  EXPECT_EQ(picture.Palette()[1].red, 20);
  // Without an exact match, the first name in byte order is taken.
  picture.LoadFile(dir.File("y.cut"));
  EXPECT_EQ(picture.Palette()[1].red, 40);
  // A folder that has the palette's name is no palette file.
  std::filesystem::create_directory(dir.File("z.pal"));
  WriteFileBytes(dir.File("z.cut"), file);
  picture.LoadFile(dir.File("z.cut"));
  EXPECT_EQ(picture.Palette()[1], (PaletteEntry{1, 1, 1, 0}));
}

TEST(CUTReader, PaletteEntriesFollowTheBlockLayout) {
  struct Case {
    const char* what;
    Bytes palette;
    size_t size;                                    // entries in the Bitmap's palette
    std::vector<std::pair<size_t, PaletteEntry>> checks;
  };
  const Case cases[] = {
      {"largest index 15", PaletteFile(TestColours(16)), 16, {{15, {15, 240, 45, 0}}}},
      {"100 entries over two blocks", PaletteFile(TestColours(100)), 100,
       {{0, {0, 255, 0, 0}}, {77, {77, 178, 231, 0}}, {78, {78, 177, 234, 0}}, {99, {99, 156, 41, 0}}}},
      {"256 entries over four blocks", PaletteFile(TestColours(256)), 256,
       {{162, {162, 93, 230, 0}}, {163, {163, 92, 233, 0}}, {255, {255, 0, 253, 0}}}},
      {"largest index 299: only 256 fit", PaletteFile(TestColours(300)), 256,
       {{255, {255, 0, 253, 0}}}},
      {"largest index 65535", PaletteFile(TestColours(256), 65535), 256, {{1, {1, 254, 3, 0}}}},
      {"only the low bytes count", PaletteFile({{0x00FF, 0x0080, 0x0000}, {0x0100, 0x01FF, 0xFF10}}), 2,
       {{0, {255, 128, 0, 0}}, {1, {0, 255, 16, 0}}}},
      {"ends right after its last entry", PaletteFile(TestColours(16), -1, 40 + 16 * 6), 16,
       {{15, {15, 240, 45, 0}}}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteFileBytes(dir.File("p.cut"), Concat({Header(1, 1), Row({Literal({1})})}));
    WriteFileBytes(dir.File("p.pal"), c.palette);
    TCUTGraphic picture;
    picture.LoadFile(dir.File("p.cut"));
    ASSERT_EQ(picture.Palette().size(), c.size) << c.what;
    for (const auto& [index, entry] : c.checks)
      EXPECT_EQ(picture.Palette()[index], entry) << c.what << ", entry " << index;
  }
}

TEST(CUTReader, ShortOrUnreadablePaletteFilesFailTheLoad) {
  struct Case {
    const char* what;
    Bytes palette;
  };
  const Case cases[] = {
      {"empty", {}},
      {"ends before the largest index", Bytes(13, 0)},
      {"100 entries, one block", PaletteFile(TestColours(100), -1, 512)},
      {"ends inside its last entry", PaletteFile(TestColours(16), -1, 40 + 16 * 6 - 1)},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteFileBytes(dir.File("p.cut"), Concat({Header(1, 1), Row({Literal({1})})}));
    WriteFileBytes(dir.File("p.pal"), c.palette);
    TCUTGraphic picture;
    EXPECT_EQ(ErrorOf([&] { picture.LoadFile(dir.File("p.cut")); }), "Stream read error") << c.what;
  }
  if (::geteuid() != 0) {  // root reads any file
    TempDir dir;
    WriteFileBytes(dir.File("p.cut"), Concat({Header(1, 1), Row({Literal({1})})}));
    WriteFileBytes(dir.File("p.pal"), PaletteFile(TestColours(4)));
    std::filesystem::permissions(dir.File("p.pal"), std::filesystem::perms::none);
    TCUTGraphic picture;
    EXPECT_THROW(picture.LoadFile(dir.File("p.cut")), FileOpenError);
  }
}

TEST(CUTReader, LoadsFromAStreamUseThePaletteOfTheLastLoadFile) {
  TempDir dir;
  const Bytes file = Concat({Header(1, 1), Row({Literal({2})})});
  WriteFileBytes(dir.File("p.cut"), file);
  WriteFileBytes(dir.File("p.pal"), PaletteFile(TestColours(3)));
  TCUTGraphic picture;
  picture.LoadFile(dir.File("p.cut"));
  EXPECT_EQ(picture.PaletteFileName(), dir.File("p.pal"));
  LoadFromBytes(picture, file);
  EXPECT_EQ(picture.Palette().size(), 3u);
  EXPECT_EQ(picture.Palette()[2], (PaletteEntry{2, 253, 6, 0}));
  TCUTGraphic fresh;
  LoadFromBytes(fresh, file);
  EXPECT_EQ(fresh.Palette().size(), 256u);
}

// A picture whose rows mix runs and literals, with every index used somewhere.
Bytes PatternPicture(int width, int height) {
  Bytes file = Header(width, height);
  for (int y = 0; y < height; ++y) {
    Bytes indices;
    for (int x = 0; x < width; ++x)
      indices.push_back(uint8_t((x / 5) % 3 == 0 ? y * 7 : (x * 13 + y * 29) % 256));
    const Bytes row = PackRow(indices);
    file.insert(file.end(), row.begin(), row.end());
  }
  return file;
}

TEST(CUTReader, MatchesImageMagicksDecode) {
  if (!test_support::ToolAvailable(test_support::kConvert)) GTEST_SKIP() << "no ImageMagick";
  TempDir dir;
  const Bytes file = PatternPicture(61, 17);
  WriteFileBytes(dir.File("grey.cut"), file);
  WriteFileBytes(dir.File("colour.cut"), file);
  WriteFileBytes(dir.File("colour.pal"), PaletteFile(TestColours(256)));
  for (const char* name : {"grey.cut", "colour.cut"}) {
    TCUTGraphic picture;
    picture.LoadFile(dir.File(name));
    const auto reference = test_support::DecodeWith(
        std::string(test_support::kConvert) + " " + test_support::ShellQuote(dir.File(name)) + " ppm:-");
    EXPECT_TRUE(test_support::BitmapMatches(picture, reference)) << name;
  }
}

TEST(CUTReader, PicturesLoadByNameThroughTheRegistry) {
  RegisterReaders();
  TempDir dir;
  WriteFileBytes(dir.File("SCAN.CUT"), Concat({Header(2, 1), Row({Literal({1, 2})})}));
  WriteFileBytes(dir.File("scan.pal"), PaletteFile(TestColours(3)));
  Picture holder;
  holder.LoadFile(dir.File("SCAN.CUT"));
  ASSERT_NE(holder.Graphic(), nullptr);
  EXPECT_EQ(&holder.Graphic()->Class(), &TCUTGraphic::StaticClass());
  EXPECT_EQ(holder.Graphic()->Palette()[1], (PaletteEntry{1, 254, 3, 0}));
}

}  // namespace
}  // namespace pictures
