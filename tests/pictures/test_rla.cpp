#include "pictures/formats/rla.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/error.h"
#include "pictures/registry.h"
#include "pictures/stream.h"
#include "support/byte_builders.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::AppendBE16;
using test_support::AppendBE32;
using test_support::Load;
using test_support::PutBE16;

struct Window {
  int left, right, bottom, top;
};

// The 740-byte header; the fields the reader does not use keep plausible values or zero.
Bytes Header(Window active, int colourChannels, int matteChannels, int channelBits = 8) {
  Bytes h(740, 0);
  // 0: the full window (left, right, bottom, top), not used.
  PutBE16(h, 0, active.left);
  PutBE16(h, 2, active.right);
  PutBE16(h, 4, active.bottom);
  PutBE16(h, 6, active.top);
  // 8: the active window: the picture's size and row order.
  PutBE16(h, 8, active.left);
  PutBE16(h, 10, active.right);
  PutBE16(h, 12, active.bottom);
  PutBE16(h, 14, active.top);
  // 16: frame number; 18: storage type (not used).
  PutBE16(h, 16, 1);
  // 20: colour channels; 22: matte channels; 24: auxiliary channels; 26: revision.
  PutBE16(h, 20, colourChannels);
  PutBE16(h, 22, matteChannels);
  PutBE16(h, 26, 0xFFFE);
  // 658: channel bits, matte type, matte bits (not used).
  PutBE16(h, 658, channelBits);
  PutBE16(h, 662, channelBits);
  return h;
}

// A channel packet: the big-endian count of run-length bytes, then the bytes.
Bytes Packet(const Bytes& runLengthData) {
  Bytes packet;
  AppendBE16(packet, int(runLengthData.size()));
  packet.insert(packet.end(), runLengthData.begin(), runLengthData.end());
  return packet;
}

// Run-length data for a channel that holds `value` in `count` pixels (count <= 128): a
// count byte n >= 0 repeats the next byte n + 1 times.
Bytes RunOf(int count, uint8_t value) { return {uint8_t(count - 1), value}; }

// Run-length data that copies `values` (at most 128): a count byte -n copies n bytes.
Bytes Literal(const Bytes& values) {
  Bytes data{uint8_t(-int(values.size()))};
  data.insert(data.end(), values.begin(), values.end());
  return data;
}

// Packs a channel as literals of at most 128 values.
Bytes Encode(const Bytes& values) {
  Bytes data;
  for (size_t i = 0; i < values.size(); i += 128) {
    const Bytes part = Literal(Bytes(values.begin() + long(i),
                                     values.begin() + long(std::min(values.size(), i + 128))));
    data.insert(data.end(), part.begin(), part.end());
  }
  return data;
}

// A whole file: header, the table of row offsets (counted from the file's start), then
// each file row's packets. With `reversed` the rows' data is laid out last row first, so
// that the offsets decrease.
Bytes File(const Bytes& header, const std::vector<std::vector<Bytes>>& rows,
           bool reversed = false) {
  std::vector<Bytes> rowData;
  for (const auto& packets : rows) {
    Bytes data;
    for (const Bytes& packet : packets) data.insert(data.end(), packet.begin(), packet.end());
    rowData.push_back(data);
  }
  const size_t dataStart = header.size() + 4 * rows.size();
  std::vector<uint32_t> offsets(rows.size());
  Bytes body;
  for (size_t k = 0; k < rows.size(); ++k) {
    const size_t y = reversed ? rows.size() - 1 - k : k;
    offsets[y] = uint32_t(dataStart + body.size());
    body.insert(body.end(), rowData[y].begin(), rowData[y].end());
  }
  Bytes file = header;
  for (uint32_t offset : offsets) AppendBE32(file, offset);
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

// A picture whose every channel value tells its file row, channel and column.
uint8_t Sample(int fileRow, int channel, int x) { return uint8_t(fileRow * 40 + channel * 9 + x); }

std::vector<std::vector<Bytes>> PatternRows(int width, int height, int channels) {
  std::vector<std::vector<Bytes>> rows(static_cast<size_t>(height));
  for (int y = 0; y < height; ++y)
    for (int c = 0; c < channels; ++c) {
      Bytes values;
      for (int x = 0; x < width; ++x) values.push_back(Sample(y, c, x));
      rows[size_t(y)].push_back(Packet(Encode(values)));
    }
  return rows;
}

std::string LoadError(const Bytes& file) { return test_support::LoadError<TRLAGraphic>(file); }

// The pixel at (x, y) as blue, green, red (and alpha).
Bytes PixelAt(const Bitmap& bitmap, int x, int y) {
  const size_t size = bitmap.GetPixelFormat() == PixelFormat::Bits32 ? 4 : 3;
  const uint8_t* p = bitmap.ScanLine(y) + size * size_t(x);
  return Bytes(p, p + size);
}

TEST(RLAReader, SizeAndRowOrderComeFromTheActiveWindow) {
  struct Case {
    Window window;
    int width, height;
    bool upwards;  // the file's first row is the picture's bottom row
  };
  const Case cases[] = {
      {{0, 3, 0, 2}, 4, 3, true},
      {{0, 3, 2, 0}, 4, 3, false},
      {{10, 13, -5, -3}, 4, 3, true},
      {{-2, -2, 7, 7}, 1, 1, false},
      {{0, 639, 0, 479}, 640, 480, true},
      {{0, 639, 479, 0}, 640, 480, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.window.left << "," << c.window.right << ","
                                    << c.window.bottom << "," << c.window.top);
    TRLAGraphic picture;
    Load(picture, File(Header(c.window, 3, 0), PatternRows(c.width, c.height, 3)));
    ASSERT_EQ(picture.Width(), c.width);
    ASSERT_EQ(picture.Height(), c.height);
    EXPECT_EQ(picture.GetPixelFormat(), PixelFormat::Bits24);
    for (int fileRow : {0, c.height - 1}) {
      const int y = c.upwards ? c.height - 1 - fileRow : fileRow;
      for (int x : {0, c.width - 1})
        EXPECT_EQ(PixelAt(picture, x, y),
                  (Bytes{Sample(fileRow, 2, x), Sample(fileRow, 1, x), Sample(fileRow, 0, x)}))
            << "file row " << fileRow << ", x " << x;
    }
  }
}

TEST(RLAReader, MatteChannelsGiveAlphaAndExtraColourChannelsAreNotShown) {
  struct Case {
    int colour, matte;
    int packetsPerRow;   // what the file holds for each row
    PixelFormat format;
    int alphaPacket;     // which packet the alpha comes from (-1: none)
  };
  const Case cases[] = {
      {3, 0, 3, PixelFormat::Bits24, -1},
      {4, 0, 4, PixelFormat::Bits24, -1},  // the fourth colour channel is not read
      {3, 1, 4, PixelFormat::Bits32, 3},
      {4, 1, 5, PixelFormat::Bits32, 4},   // the matte follows all colour channels
      {3, 2, 5, PixelFormat::Bits32, 3},   // only the first matte is shown
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.colour << " colour, " << c.matte << " matte");
    TRLAGraphic picture;
    Load(picture, File(Header({0, 4, 0, 1}, c.colour, c.matte), PatternRows(5, 2, c.packetsPerRow)));
    ASSERT_EQ(picture.GetPixelFormat(), c.format);
    ASSERT_EQ(picture.Width(), 5);
    for (int x = 0; x < 5; ++x) {
      Bytes expected{Sample(0, 2, x), Sample(0, 1, x), Sample(0, 0, x)};
      if (c.alphaPacket >= 0) expected.push_back(Sample(0, c.alphaPacket, x));
      EXPECT_EQ(PixelAt(picture, x, 1), expected) << "x " << x;
    }
  }
}

TEST(RLAReader, PicturesThatAreNotRGBAreRejectedAndLeftWithoutSize) {
  for (int colour : {0, 1, 2, 5, -3}) {
    SCOPED_TRACE(colour);
    TRLAGraphic picture;
    Load(picture, File(Header({0, 1, 0, 0}, 3, 0), PatternRows(2, 1, 3)));
    ASSERT_EQ(picture.Width(), 2);
    try {
      Load(picture, File(Header({0, 1, 0, 0}, colour, 0), PatternRows(2, 1, 3)));
      ADD_FAILURE() << "loaded";
    } catch (const PictureError& error) {
      EXPECT_STREQ(error.what(), "RLA: image must be RGB(A).");
    }
    EXPECT_EQ(picture.Width(), 0);
    EXPECT_EQ(picture.Height(), 0);
  }
}

TEST(RLAReader, DamagedFilesFailWithClearMessages) {
  const Bytes good = File(Header({0, 2, 0, 1}, 3, 1), PatternRows(3, 2, 4));
  const size_t table = 740;  // the offset table follows the header
  auto cut = [&](size_t size) { return Bytes(good.begin(), good.begin() + long(size)); };
  auto withOffset = [&](uint32_t offset) {
    Bytes file = good;
    for (int i = 0; i < 4; ++i) file[table + 4 + size_t(i)] = uint8_t(offset >> (24 - 8 * i));
    return file;
  };
  struct Case {
    const char* what;
    Bytes file;
    const char* message;
  };
  const Case cases[] = {
      {"empty file", {}, "Stream read error"},
      {"header cut short", cut(739), "Stream read error"},
      {"offset table cut short", cut(table + 6), "Stream read error"},
      {"file ends inside the last packet", cut(good.size() - 1), "Stream read error"},
      {"file ends before the matte packet", cut(good.size() - 6), "Stream read error"},
      {"row offset past the end", withOffset(uint32_t(good.size()) + 100), "Stream read error"},
      {"row offset far past the end", withOffset(0xFFFFFFF0u), "Stream read error"},
      {"row offset at the last bytes", withOffset(uint32_t(good.size()) - 2), "Stream read error"},
      {"right edge left of the left edge", File(Header({5, 3, 0, 0}, 3, 0), {}),
       "RLA: invalid image size."},
      {"rows of 32001 pixels from one run a channel",
       File(Header({0, 32000, 0, 1}, 3, 0),
            std::vector<std::vector<Bytes>>(2, std::vector<Bytes>(3, Packet(RunOf(128, 1))))),
       "Stream read error"},
  };
  for (const Case& c : cases) EXPECT_EQ(LoadError(c.file), c.message) << c.what;
  EXPECT_EQ(LoadError(good), "no error");
}

TEST(RLAReader, PacketsThatDoNotFitTheRowAreCutAtItsEnd) {
  // Width 2, one row per case; only the red channel varies, green and blue are runs of 0.
  const Bytes zero = Packet(RunOf(2, 0));
  struct Case {
    const char* what;
    Bytes red;
    Bytes expected;  // red of pixels 0 and 1
  };
  const Case cases[] = {
      {"literal longer than the row", Packet(Literal({1, 2, 3, 4, 5})), {1, 2}},
      {"run longer than the row", Packet(RunOf(128, 9)), {9, 9}},
      {"packet longer than twice the width", Packet({0xFD, 7, 8, 9, 0x7F, 1, 0x7F, 2}), {7, 8}},
      {"packet that fills one pixel", Packet(Literal({6})), {6, 0}},
      {"empty packet", Packet({}), {0, 0}},
      {"run without its value", Packet({0x05}), {0, 0}},
      {"literal cut short", Packet({0xFC, 4}), {4, 0}},
  };
  for (const Case& c : cases) {
    // The first row is full of 0x55, so a short second row must not show it again.
    const std::vector<std::vector<Bytes>> rows{{Packet(RunOf(2, 0x55)), zero, zero},
                                               {c.red, zero, zero}};
    TRLAGraphic picture;
    Load(picture, File(Header({0, 1, 1, 0}, 3, 0), rows));
    EXPECT_EQ(PixelAt(picture, 0, 1)[2], c.expected[0]) << c.what;
    EXPECT_EQ(PixelAt(picture, 1, 1)[2], c.expected[1]) << c.what;
    EXPECT_EQ(PixelAt(picture, 1, 0)[2], 0x55) << c.what;
  }
}

TEST(RLAReader, EachRowIsReadFromItsOwnOffset) {
  const auto rows = PatternRows(6, 5, 4);
  TRLAGraphic inOrder, reversed;
  Load(inOrder, File(Header({0, 5, 0, 4}, 3, 1), rows));
  Load(reversed, File(Header({0, 5, 0, 4}, 3, 1), rows, true));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) {
      EXPECT_EQ(PixelAt(reversed, x, y), PixelAt(inOrder, x, y));
      EXPECT_EQ(PixelAt(reversed, x, y)[3], Sample(4 - y, 3, x));
    }
}

TEST(RLAReader, OffsetsCountFromWhereThePictureStarts) {
  Bytes embedded(100, 0xEE);
  const Bytes file = File(Header({0, 2, 1, 0}, 3, 0), PatternRows(3, 2, 3));
  embedded.insert(embedded.end(), file.begin(), file.end());
  MemoryStream stream(embedded);
  stream.Seek(100);
  TRLAGraphic picture;
  picture.LoadFromStream(stream);
  EXPECT_EQ(PixelAt(picture, 2, 1), (Bytes{Sample(1, 2, 2), Sample(1, 1, 2), Sample(1, 0, 2)}));
}

TEST(RLAReader, WideChannelsShowTheirMostSignificantBytes) {
  // With 16 bits a channel, each channel packet expands to the row's most significant
  // bytes followed by its least significant bytes.
  std::vector<std::vector<Bytes>> rows(1);
  for (int c = 0; c < 3; ++c) {
    Bytes planes;
    for (int x = 0; x < 4; ++x) planes.push_back(uint8_t(0x10 * (c + 1) + x));  // high
    for (int x = 0; x < 4; ++x) planes.push_back(uint8_t(0xF0 + x));             // low
    rows[0].push_back(Packet(Literal(planes)));
  }
  TRLAGraphic picture;
  Load(picture, File(Header({0, 3, 0, 0}, 3, 0, 16), rows));
  for (int x = 0; x < 4; ++x)
    EXPECT_EQ(PixelAt(picture, x, 0), (Bytes{uint8_t(0x30 + x), uint8_t(0x20 + x), uint8_t(0x10 + x)}));
}

TEST(RLAReader, PicturesLoadByNameThroughTheRegistry) {
  RegisterReaders();
  test_support::TempDir dir;
  const Bytes file = File(Header({0, 2, 0, 1}, 3, 1), PatternRows(3, 2, 4));
  for (const char* name : {"frame.rla", "FRAME.RPF", "frame.Rla"}) {
    test_support::WriteFileBytes(dir.File(name), file);
    Picture holder;
    holder.LoadFile(dir.File(name));
    ASSERT_NE(holder.Graphic(), nullptr) << name;
    EXPECT_EQ(&holder.Graphic()->Class(), &TRLAGraphic::StaticClass()) << name;
    EXPECT_EQ(PixelAt(*holder.Graphic(), 1, 0),
              (Bytes{Sample(1, 2, 1), Sample(1, 1, 1), Sample(1, 0, 1), Sample(1, 3, 1)}));
  }
}

}  // namespace
}  // namespace pictures
