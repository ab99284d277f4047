#include "pictures/formats/ppm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/error.h"
#include "pictures/registry.h"
#include "pictures/stream.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::FromBitmap;
using test_support::Load;

// A file from its text, with raw bytes appended.
Bytes File(const std::string& text, const Bytes& raw = {}) {
  Bytes b(text.begin(), text.end());
  b.insert(b.end(), raw.begin(), raw.end());
  return b;
}

Bytes Grey(std::initializer_list<int> levels) {
  Bytes rgb;
  for (int v : levels) rgb.insert(rgb.end(), {uint8_t(v), uint8_t(v), uint8_t(v)});
  return rgb;
}

TEST(PPM, ReadsEveryVariant) {
  struct Case {
    const char* name;
    Bytes file;
    PixelFormat format;
    int width, height;
    Bytes rgb;
  };
  const Bytes bw = Grey({0, 255, 0, 0});  // 1 0 1 1: black, white, black, black
  const Case cases[] = {
      {"P1 with blanks between the pixels", File("P1\n4 1\n1 0 1 1\n"), PixelFormat::Bits1, 4, 1, bw},
      {"P1 with no blanks between the pixels", File("P1\n4 1\n1011\n"), PixelFormat::Bits1, 4, 1, bw},
      {"P1 with rows on lines and a comment", File("P1\n2 2\n10\n# a comment 0101\n11\n"),
       PixelFormat::Bits1, 2, 2, Grey({0, 255, 0, 0})},
      {"P2", File("P2\n3 1\n255\n0 128 255\n"), PixelFormat::Bits8, 3, 1, Grey({0, 128, 255})},
      {"P2 keeps the lowest 8 bits of a sample over 255", File("P2\n2 1\n255\n300 7\n"),
       PixelFormat::Bits8, 2, 1, Grey({44, 7})},
      {"P2 scales by its maximum", File("P2\n3 1\n15\n15 0 7\n"), PixelFormat::Bits8, 3, 1,
       Grey({255, 0, 119})},
      {"P2 of 16 bits", File("P2\n2 1\n65535\n65535 4660\n"), PixelFormat::Bits8, 2, 1,
       Grey({255, 18})},
      {"P3", File("P3\n2 1\n255\n255 0 0  0 0 255\n"), PixelFormat::Bits24, 2, 1,
       {255, 0, 0, 0, 0, 255}},
      {"P4", File("P4\n4 1\n", {0xB0}), PixelFormat::Bits1, 4, 1, bw},
      {"P5", File("P5\n2 1\n255\n", {0x10, 0x20}), PixelFormat::Bits8, 2, 1, Grey({16, 32})},
      {"P5 of 16 bits, big-endian", File("P5\n2 1\n65535\n", {0x12, 0x34, 0xFF, 0xFF}),
       PixelFormat::Bits8, 2, 1, Grey({18, 255})},
      {"P5 scales by its maximum", File("P5\n2 1\n1\n", {1, 0}), PixelFormat::Bits8, 2, 1,
       Grey({255, 0})},
      {"P6", File("P6\n2 1\n255\n", {1, 2, 3, 4, 5, 6}), PixelFormat::Bits24, 2, 1,
       {1, 2, 3, 4, 5, 6}},
      {"P6 of 16 bits", File("P6\n1 1\n65535\n", {0xFF, 0xFF, 0x80, 0x00, 0x00, 0x10}),
       PixelFormat::Bits24, 1, 1, {255, 128, 0}},
      {"P6 with two comment lines, the second holding digits",
       File("P6\n# made by hand\n# 300 dpi\n2 1\n255\n", {1, 2, 3, 4, 5, 6}),
       PixelFormat::Bits24, 2, 1, {1, 2, 3, 4, 5, 6}},
      {"P6 whose first line holds the whole header: the size comes from the next lines",
       File("P6 9 9 255\n1 1\n255\n", {7, 8, 9}), PixelFormat::Bits24, 1, 1, {7, 8, 9}},
      {"CR LF after the magic", File("P5\r\n2 1\n255\n", {0x10, 0x20}), PixelFormat::Bits8, 2,
       1, Grey({16, 32})},
      {"a comment after the magic on its line", File("P5 # grey\n2 1 255\n", {0x10, 0x20}),
       PixelFormat::Bits8, 2, 1, Grey({16, 32})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPPMGraphic g;
    ASSERT_NO_THROW(Load(g, c.file));
    EXPECT_EQ(g.GetPixelFormat(), c.format);
    ASSERT_EQ(g.Width(), c.width);
    ASSERT_EQ(g.Height(), c.height);
    EXPECT_EQ(FromBitmap(g).rgb, c.rgb);
  }
}

TEST(PPM, RawPixelMapsOfEveryWidthKeepTheirColours) {
  // Pixels are turned from red, green, blue to the Bitmap's order several at a time; every
  // width checks the turn and the pixels left over after it.
  for (int width = 1; width <= 13; ++width) {
    SCOPED_TRACE(width);
    Bytes raw(size_t(width) * 2 * 3);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = uint8_t(i * 37 + 1);
    TPPMGraphic g;
    Load(g, File("P6\n" + std::to_string(width) + " 2\n255\n", raw));
    EXPECT_EQ(FromBitmap(g).rgb, raw);
  }
}

TEST(PPM, BitmapsUseAMonoPaletteAndGreyMapsAGreyOne) {
  TPPMGraphic g;
  Load(g, File("P1\n10 1\n1111111111\n"));
  // Ten pixels pack into two bytes, the second holding the last two in its top bits.
  EXPECT_EQ(g.ScanLine(0)[0], 0xFF);
  EXPECT_EQ(g.ScanLine(0)[1], 0xC0);
  ASSERT_EQ(g.Palette().size(), 2u);
  EXPECT_EQ(g.Palette()[0], (PaletteEntry{255, 255, 255, 0}));
  EXPECT_EQ(g.Palette()[1], (PaletteEntry{0, 0, 0, 0}));
  Load(g, File("P5\n1 1\n255\n", {77}));
  ASSERT_EQ(g.Palette().size(), 256u);
  EXPECT_EQ(g.Palette()[77], (PaletteEntry{77, 77, 77, 0}));
  EXPECT_EQ(g.ScanLine(0)[0], 77);
}

TEST(PPM, ASizeOfZeroGivesAnEmptyPicture) {
  for (const char* text : {"P5\n0 5\n255\n", "P2\n5 0\n255\n", "P1\n0 0\n"}) {
    SCOPED_TRACE(text);
    TPPMGraphic g;
    ASSERT_NO_THROW(Load(g, File(text)));
    EXPECT_TRUE(g.Empty());
  }
}

TEST(PPM, RefusesBadFilesWithTheirMessages) {
  struct Case {
    const char* name;
    Bytes file;
    const char* message;
  };
  const char* const notPpm = "Not a valid ppm file.";
  const char* const readError = "PPM: Stream read error.";
  const Case cases[] = {
      {"a comment before the magic", File("# made by hand\nP6\n1 1\n255\n", {1, 2, 3}), notPpm},
      {"an empty first line", File("\nP6\n1 1\n255\n", {1, 2, 3}), notPpm},
      {"not a P", File("Q6\n"), notPpm},
      {"P7 (arbitrary maps)", File("P7\nWIDTH 1\n"), notPpm},
      {"P0", File("P0\n"), notPpm},
      {"a raw maximum above 65535", File("P5\n1 1\n70000\n", {0, 0, 0, 0}), notPpm},
      {"PX", File("PX\n"), "'X' is not a valid integer value"},
      {"a lone P", File("P\n"), "'' is not a valid integer value"},
      {"an empty file", File(""), readError},
      {"a magic without a line end", File("P6"), readError},
      {"the header cut short", File("P6\n2 "), readError},
      {"P5 one byte short", File("P5\n2 2\n255\n", {1, 2, 3}), readError},
      {"P6 one byte short", File("P6\n2 1\n255\n", {1, 2, 3, 4, 5}), readError},
      {"P6 of 16 bits one byte short", File("P6\n1 1\n65535\n", {1, 2, 3, 4, 5}), readError},
      {"P4 one row short", File("P4\n8 2\n", {1}), readError},
      {"P3 cut short", File("P3\n1 1\n255\n1 2 3"), readError},
      {"P1 cut short", File("P1\n3 1\n10"), readError},
      {"a size far beyond the file", File("P6\n4000000000 4000000000\n255\n", {1, 2, 3}), readError},
      {"numbers beyond 32 bits", File("P2\n99999999999999999999 99999999999999999999\n255\n1\n"), readError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPPMGraphic g;
    try {
      Load(g, c.file);
      ADD_FAILURE() << "no error";
    } catch (const PictureError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(PPM, ReadsAcrossBufferRefills) {
  // Over 4096 bytes of comment, then a picture larger than the buffer: both the text and the
  // raw paths must carry on across refills.
  std::string header = "P6\n#" + std::string(5000, 'x') + "\n100 50\n255\n";
  Bytes raw(100 * 50 * 3);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = uint8_t(i * 7);
  TPPMGraphic g;
  Load(g, File(header, raw));
  const Bytes rgb = FromBitmap(g).rgb;
  EXPECT_EQ(rgb, raw);

  std::string text = "P2\n3000 2\n255\n";
  for (int i = 0; i < 6000; ++i) text += std::to_string(i % 256) + (i % 17 ? " " : "\n");
  Load(g, File(text));
  for (int i = 0; i < 6000; ++i) ASSERT_EQ(g.ScanLine(i / 3000)[i % 3000], i % 256);
}

TEST(PPM, MatchesFilesWrittenByOtherTools) {
  using namespace test_support;
  if (!ToolAvailable(kConvert) || !ToolAvailable(kPython) || !ToolAvailable("/usr/bin/pnmtoplainpnm"))
    GTEST_SKIP() << "tools missing";
  TempDir dir;
  WriteFileBytes(dir.File("src.ppm"), EncodePnm(TestPattern(37, 23)));
  const std::string src = ShellQuote(dir.File("src.ppm")), convert = kConvert;
  auto out = [&](const std::string& f) { return ShellQuote(dir.File(f)); };
  auto im = [&](const std::string& f) { return convert + " " + out(f) + " pam:-"; };
  auto netpbm = [&](const std::string& f) { return "/usr/bin/pnmtopnm " + out(f); };
  auto pil = [&](const std::string& f) {
    return std::string(kPython) + " -c " +
           ShellQuote("import sys; from PIL import Image; "
                      "Image.open(sys.argv[1]).convert('RGB').save(sys.stdout.buffer, 'PPM')") +
           " " + out(f);
  };
  auto pilSave = [&](const std::string& mode, const std::string& f) {
    return std::string(kPython) + " -c " +
           ShellQuote("import sys; from PIL import Image; "
                      "Image.open(sys.argv[1]).convert('" + mode + "').save(sys.argv[2])") +
           " " + src + " " + out(f);
  };
  struct Case {
    const char* file;
    std::string write;
    std::string reference;
    int tolerance = 0;
  };
  const Case cases[] = {
      {"im_raw.ppm", convert + " " + src + " " + out("im_raw.ppm"), im("im_raw.ppm")},
      {"im_plain.ppm", convert + " " + src + " -compress none " + out("im_plain.ppm"), im("im_plain.ppm")},
      {"im_raw.pgm", convert + " " + src + " -colorspace Gray " + out("im_raw.pgm"), im("im_raw.pgm")},
      {"im_plain.pgm", convert + " " + src + " -colorspace Gray -compress none " + out("im_plain.pgm"), im("im_plain.pgm")},
      {"im_raw.pbm", convert + " " + src + " -monochrome " + out("im_raw.pbm"), im("im_raw.pbm")},
      {"im_plain.pbm", convert + " " + src + " -monochrome -compress none " + out("im_plain.pbm"), im("im_plain.pbm")},
      {"im_16.ppm", convert + " " + src + " -depth 16 " + out("im_16.ppm"), im("im_16.ppm"), 1},
      {"im_16_plain.pgm", convert + " " + src + " -colorspace Gray -depth 16 -compress none " + out("im_16_plain.pgm"), im("im_16_plain.pgm"), 1},
      // netpbm's plain bitmaps have no blanks between their pixels.
      {"netpbm_plain.pbm", convert + " " + src + " -monochrome pbm:- | /usr/bin/pnmtoplainpnm > " + out("netpbm_plain.pbm"), netpbm("netpbm_plain.pbm")},
      {"netpbm_plain.ppm", "/usr/bin/pnmtoplainpnm " + src + " > " + out("netpbm_plain.ppm"), netpbm("netpbm_plain.ppm")},
      {"netpbm_plain.pgm", "/usr/bin/ppmtopgm " + src + " | /usr/bin/pnmtoplainpnm > " + out("netpbm_plain.pgm"), netpbm("netpbm_plain.pgm")},
      {"netpbm_16.ppm", "/usr/bin/pnmdepth 65535 " + src + " > " + out("netpbm_16.ppm"), netpbm("netpbm_16.ppm")},
      {"netpbm_maxval_100.pgm", "/usr/bin/ppmtopgm " + src + " | /usr/bin/pnmdepth 100 > " + out("netpbm_maxval_100.pgm"),
       "/usr/bin/pamdepth 255 " + out("netpbm_maxval_100.pgm")},
      {"pil.ppm", pilSave("RGB", "pil.ppm"), pil("pil.ppm")},
      {"pil.pgm", pilSave("L", "pil.pgm"), pil("pil.pgm")},
      {"pil.pbm", pilSave("1", "pil.pbm"), pil("pil.pbm")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    // Grouped, so that the helper's own 2>&1 does not send messages into a redirected file.
    const CommandResult written = RunCommand("{ " + c.write + "; }");
    ASSERT_EQ(written.status, 0) << written.output;
    const RgbImage expected = DecodeWith(c.reference);
    TPPMGraphic g;
    ASSERT_NO_THROW(g.LoadFile(dir.File(c.file)));
    EXPECT_TRUE(BitmapMatches(g, expected, c.tolerance));
  }
}

// Raw rows go into memory that is not cleared first: the padding after each row must still
// be zero, also where the memory held other bytes before. A block of the picture's size is
// filled and freed just before each load, so that the picture is likely to get it back.
void DirtyHeap(size_t bytes) {
  void* block = std::malloc(bytes);
  ASSERT_NE(block, nullptr);
  std::memset(block, 0xAB, bytes);
  std::free(block);
}

TEST(PPM, RawRowsLeaveTheirPaddingZero) {
  struct Case {
    const char* name;
    std::string header;
    size_t rowData;  // bytes of file data a row
  };
  const Case cases[] = {{"P4", "P4\n13 40\n", 2},
                        {"P5", "P5\n13 40\n255\n", 13},
                        {"P6", "P6\n13 40\n255\n", 39},
                        {"P6 of 16 bits", "P6\n13 40\n999\n", 78}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes data(c.rowData * 40);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    const Bytes file = File(c.header, data);
    TPPMGraphic g;
    {
      TPPMGraphic probe;
      Load(probe, file);
      DirtyHeap(probe.RowStride() * 40);
    }
    Load(g, file);
    ASSERT_GT(g.RowStride(), g.RowBytes());
    for (int y = 0; y < g.Height(); ++y) {
      const uint8_t* row = g.ScanLine(y);
      EXPECT_EQ(Bytes(row + g.RowBytes(), row + g.RowStride()),
                Bytes(g.RowStride() - g.RowBytes(), 0))
          << "row " << y;
    }
  }
}

// A stream that promises more bytes than it gives, as a file cut short while it is read.
class ShrinkingStream : public Stream {
 public:
  ShrinkingStream(const Bytes& bytes, int64_t promised) : bytes_(bytes), promised_(promised) {}
  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override { position_ = position; }
  int64_t Size() const override { return promised_; }
  size_t Read(void* buffer, size_t count) override {
    const size_t left = position_ < int64_t(bytes_.size()) ? bytes_.size() - size_t(position_) : 0;
    const size_t n = std::min(count, left);
    if (n) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += int64_t(n);
    return n;
  }

 private:
  Bytes bytes_;
  int64_t promised_;
  int64_t position_ = 0;
};

TEST(PPM, ARawPictureThatFailsHalfWayHoldsOnlyZeros) {
  for (const char* header : {"P5\n64 64\n255\n", "P6\n63 64\n255\n", "P4\n640 64\n"}) {
    SCOPED_TRACE(header);
    const Bytes file = File(header, Bytes(3000, 0x77));
    TPPMGraphic g;
    {
      TPPMGraphic probe;
      ShrinkingStream stream(file, 1 << 20);
      EXPECT_THROW(probe.LoadFromStream(stream), PictureError);
      DirtyHeap(probe.RowStride() * size_t(probe.Height()));
    }
    ShrinkingStream stream(file, 1 << 20);
    try {
      g.LoadFromStream(stream);
      FAIL() << "no error";
    } catch (const PictureError& e) {
      EXPECT_STREQ(e.what(), "PPM: Stream read error.");
    }
    ASSERT_EQ(g.Height(), 64);
    for (int y = 0; y < g.Height(); ++y) {
      const uint8_t* row = g.ScanLine(y);
      ASSERT_TRUE(std::all_of(row, row + g.RowStride(), [](uint8_t b) { return b == 0; }))
          << "row " << y;
    }
  }
}

TEST(PPM, TheRegistryChoosesThisReaderForItsExtensions) {
  RegisterReaders();
  for (const char* extension : {"ppm", "pgm", "pbm", "PBM"})
    EXPECT_EQ(FindReaderClass(extension), &TPPMGraphic::StaticClass()) << extension;
}

}  // namespace
}  // namespace pictures
