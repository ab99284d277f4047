#include "pictures/formats/sgi.h"

#include <gtest/gtest.h>

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
using test_support::FromBitmap;
using test_support::Load;
using test_support::PutBE16;
using test_support::PutBE32;

// Samples of a picture: planes[channel][row][x], row 0 at the bottom as SGI stores it.
using Planes = std::vector<std::vector<std::vector<uint16_t>>>;

// The 512-byte header.
Bytes Header(int storage, int bytesPerChannel, int width, int height, int channels) {
  Bytes h(512, 0);
  PutBE16(h, 0, 474);              // magic
  h[2] = uint8_t(storage);       // 1: run-length packed
  h[3] = uint8_t(bytesPerChannel);
  PutBE16(h, 4, channels > 1 ? 3 : 2);  // dimension (not used)
  PutBE16(h, 6, width);
  PutBE16(h, 8, height);
  PutBE16(h, 10, channels);
  PutBE32(h, 16, bytesPerChannel == 1 ? 255 : 65535);  // maximum pixel value (not used)
  return h;
}

// A verbatim file: the planes one after another, each bottom row first.
Bytes Verbatim(const Planes& planes, int bytesPerChannel, int channelsField = -1) {
  const int height = int(planes[0].size()), width = int(planes[0][0].size());
  Bytes b = Header(0, bytesPerChannel, width, height,
                   channelsField < 0 ? int(planes.size()) : channelsField);
  for (const auto& plane : planes)
    for (const auto& row : plane)
      for (uint16_t v : row) {
        if (bytesPerChannel == 2) b.push_back(uint8_t(v >> 8));
        b.push_back(uint8_t(v));
      }
  return b;
}

// A run-length file: the offset and length tables, then each row as literal packets
// (count | 0x80, then the samples) and a closing zero count; 16-bit files use words.
// Row lengths count bytes, or samples where `lengthUnit` is 2 (as some writers have it).
Bytes Packed(const Planes& planes, int bytesPerChannel, int lengthUnit = 1) {
  const int channels = int(planes.size());
  const int height = int(planes[0].size()), width = int(planes[0][0].size());
  Bytes b = Header(1, bytesPerChannel, width, height, channels);
  const size_t table = 512;
  b.resize(table + size_t(height) * channels * 8, 0);
  auto put = [&](uint32_t v) {
    if (bytesPerChannel == 2) b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
  };
  for (int c = 0; c < channels; ++c)
    for (int r = 0; r < height; ++r) {
      const size_t start = b.size();
      for (int x = 0; x < width; x += 127) {
        const int n = std::min(127, width - x);
        put(0x80 | uint32_t(n));
        for (int i = 0; i < n; ++i) put(planes[c][r][x + i]);
      }
      put(0);
      const size_t index = size_t(r + c * height);
      PutBE32(b, table + index * 4, uint32_t(start));
      PutBE32(b, table + size_t(height) * channels * 4 + index * 4,
              uint32_t(b.size() - start) / uint32_t(lengthUnit));
    }
  return b;
}

// A 3 x 2 picture. Red plane: bottom row 10 20 30, top row 40 50 60; green adds 1, blue
// adds 2, alpha adds 3. 16-bit samples carry the 8-bit value in their high byte.
Planes Picture(int channels, bool wide) {
  Planes planes(channels);
  for (int c = 0; c < channels; ++c)
    for (int r = 0; r < 2; ++r) {
      std::vector<uint16_t> row;
      for (int x = 0; x < 3; ++x) {
        const uint16_t v = uint16_t(10 * (r * 3 + x + 1) + c);
        row.push_back(wide ? uint16_t(v << 8 | 0xAB) : v);
      }
      planes[c].push_back(row);
    }
  return planes;
}

// The picture's top row first, as red, green, blue.
Bytes ExpectedRgb(int channels) {
  Bytes rgb;
  for (int r : {1, 0})
    for (int x = 0; x < 3; ++x)
      for (int c = 0; c < 3; ++c)
        rgb.push_back(uint8_t(10 * (r * 3 + x + 1) + (channels >= 3 ? c : 0)));
  return rgb;
}

TEST(SGI, ReadsEveryStorageAndSampleSize) {
  struct Case {
    const char* name;
    int channels;
    bool packed;
    int bytesPerChannel;
    PixelFormat format;
    int lengthUnit = 1;
  };
  const Case cases[] = {
      {"verbatim grey", 1, false, 1, PixelFormat::Bits8},
      {"verbatim RGB", 3, false, 1, PixelFormat::Bits24},
      {"verbatim RGBA", 4, false, 1, PixelFormat::Bits32},
      {"verbatim 16-bit RGB", 3, false, 2, PixelFormat::Bits24},
      {"packed grey", 1, true, 1, PixelFormat::Bits8},
      {"packed RGB", 3, true, 1, PixelFormat::Bits24},
      {"packed RGBA", 4, true, 1, PixelFormat::Bits32},
      {"packed 16-bit RGB", 3, true, 2, PixelFormat::Bits24},
      {"packed 16-bit RGBA", 4, true, 2, PixelFormat::Bits32},
      {"packed 16-bit RGB whose row lengths count samples", 3, true, 2, PixelFormat::Bits24, 2},
      {"verbatim grey with alpha shows its grey", 2, false, 1, PixelFormat::Bits8},
      {"packed grey with alpha shows its grey", 2, true, 1, PixelFormat::Bits8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Planes planes = Picture(c.channels, c.bytesPerChannel == 2);
    TSGIGraphic g;
    ASSERT_NO_THROW(Load(g, c.packed ? Packed(planes, c.bytesPerChannel, c.lengthUnit)
                                     : Verbatim(planes, c.bytesPerChannel)));
    EXPECT_EQ(g.GetPixelFormat(), c.format);
    ASSERT_EQ(g.Width(), 3);
    ASSERT_EQ(g.Height(), 2);
    EXPECT_EQ(FromBitmap(g).rgb, ExpectedRgb(c.channels));
    if (c.channels == 4) {
      EXPECT_EQ(FromBitmap(g).alpha, (Bytes{43, 53, 63, 13, 23, 33}));
    }
    if (c.format == PixelFormat::Bits8) {
      // The grey palette: the indices are the grey levels themselves.
      ASSERT_EQ(g.Palette().size(), 256u);
      EXPECT_EQ(g.Palette()[200], (PaletteEntry{200, 200, 200, 0}));
      EXPECT_EQ(g.ScanLine(0)[0], 40);
    }
  }
}

TEST(SGI, RunPacketsRepeatTheirSample) {
  // One 8-bit grey row of 5: a run of four 7s, a literal 9, the closing zero count.
  Bytes file = Header(1, 1, 5, 1, 1);
  file.resize(520);
  PutBE32(file, 512, 520);  // row start
  PutBE32(file, 516, 5);    // row length
  file.insert(file.end(), {0x04, 7, 0x81, 9, 0x00});
  TSGIGraphic g;
  Load(g, file);
  EXPECT_EQ(Bytes(g.ScanLine(0), g.ScanLine(0) + 5), (Bytes{7, 7, 7, 7, 9}));
}

TEST(SGI, RowsTheFileDoesNotHoldReadAsBlack) {
  const Planes planes = Picture(3, false);
  // Table entry of row r, channel c: r + c * 2. Row starts at 512, row lengths at 536.
  Bytes outside = Packed(planes, 1);
  PutBE32(outside, 512 + 2 * 4, 0x7FFFFFF0);  // green, bottom row: an offset past the end
  Bytes huge = Packed(planes, 1);
  PutBE32(huge, 536 + 0 * 4, 0xFFFFFFFF);     // red, bottom row: a length far past any buffer

  TSGIGraphic g;
  Load(g, outside);
  Bytes rgb = ExpectedRgb(3);
  rgb[3 * 3 + 1] = rgb[4 * 3 + 1] = rgb[5 * 3 + 1] = 0;  // the bottom row has no green
  EXPECT_EQ(FromBitmap(g).rgb, rgb);

  Load(g, huge);
  EXPECT_EQ(FromBitmap(g).rgb, ExpectedRgb(3));
}

TEST(SGI, DataThatCannotFillThePictureFailsBeforeItsMemoryIsTaken) {
  Bytes cut = Verbatim(Picture(3, false), 1);
  cut.resize(cut.size() - 4);
  Bytes shortVerbatim = Header(0, 1, 20000, 20000, 1);  // three samples of 4 * 10^8
  shortVerbatim.insert(shortVerbatim.end(), {7, 8, 9});
  // Packed: complete tables whose rows all start at a different place, and little data.
  Bytes fewRuns = Header(1, 1, 20000, 2000, 1);
  fewRuns.resize(512 + 2000 * 8 + 4000, 0);
  fewRuns.resize(fewRuns.size() + 100, 0x7F);
  for (uint32_t r = 0; r < 2000; ++r) PutBE32(fewRuns, 512 + r * 4, 16512 + r);
  Bytes noTables = Header(1, 2, 20000, 20000, 3);
  const Bytes files[] = {cut, shortVerbatim, fewRuns, noTables, Header(1, 2, 65535, 65535, 65535),
                         Header(0, 1, 65535, 65535, 4)};
  for (const Bytes& file : files) {
    TSGIGraphic g;
    EXPECT_THROW(Load(g, file), StreamReadError) << file.size();
  }
  // Rows that share their packed data through the tables need no more of it.
  Bytes shared = Header(1, 1, 300, 1000, 1);
  shared.resize(512 + 1000 * 8, 0);
  for (uint32_t r = 0; r < 1000; ++r) {
    PutBE32(shared, 512 + r * 4, 8512);
    PutBE32(shared, 4512 + r * 4, 6);
  }
  shared.insert(shared.end(), {0x7F, 5, 0x7F, 5, 0x2E, 5, 0});
  TSGIGraphic g;
  Load(g, shared);
  EXPECT_EQ(g.ScanLine(999)[299], 5);
  EXPECT_EQ(g.ScanLine(0)[0], 5);
}

TEST(SGI, RefusesFilesThatAreNotSGI) {
  const Bytes good = Verbatim(Picture(1, false), 1);
  Bytes wrongMagic = good;
  wrongMagic[0] = 0xDA;
  wrongMagic[1] = 0x01;
  Bytes sampleSize3 = good;
  sampleSize3[3] = 3;
  Bytes sampleSize0 = good;
  sampleSize0[3] = 0;
  for (const Bytes& file : {wrongMagic, sampleSize3, sampleSize0, Bytes{0x01}, Bytes{}}) {
    TSGIGraphic g;
    try {
      Load(g, file);
      ADD_FAILURE() << "no error";
    } catch (const PictureError& e) {
      EXPECT_STREQ(e.what(), "Not a valid sgi, bw or rgb(a) image.");
    }
  }
}

TEST(SGI, MatchesFilesWrittenByOtherTools) {
  using namespace test_support;
  if (!ToolAvailable(kConvert) || !ToolAvailable(kPython) || !ToolAvailable("/usr/bin/pnmtosgi"))
    GTEST_SKIP() << "tools missing";
  TempDir dir;
  WriteFileBytes(dir.File("src.ppm"), EncodePnm(TestPattern(300, 7)));
  WriteFileBytes(dir.File("src.pam"), EncodePnm(TestPattern(300, 7, true)));
  const std::string src = ShellQuote(dir.File("src.ppm")), pam = ShellQuote(dir.File("src.pam"));
  const std::string convert = kConvert;
  auto out = [&](const std::string& f) { return ShellQuote(dir.File(f)); };
  auto im = [&](const std::string& f) { return convert + " " + out(f) + " pam:-"; };
  auto pil = [&](const std::string& f) {
    return std::string(kPython) + " -c " +
           ShellQuote("import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                      "im.convert('RGB').save(sys.stdout.buffer, 'PPM')") +
           " " + out(f);
  };
  auto pilSave = [&](const std::string& convertTo, const std::string& f,
                     const std::string& options = "") {
    return std::string(kPython) + " -c " +
           ShellQuote("import sys; from PIL import Image; Image.open(sys.argv[1])" + convertTo +
                      ".save(sys.argv[2], 'SGI'" + options + ")") +
           " " + src + " " + out(f);
  };
  struct Case {
    const char* file;
    std::string write;
    std::string reference;
  };
  const Case cases[] = {
      {"im.sgi", convert + " " + src + " -compress None " + out("im.sgi"), im("im.sgi")},
      {"im_rle.rgb", convert + " " + src + " -compress RLE sgi:" + out("im_rle.rgb"), im("im_rle.rgb")},
      {"im_alpha_rle.rgba", convert + " " + pam + " -compress RLE sgi:" + out("im_alpha_rle.rgba"), im("im_alpha_rle.rgba")},
      {"im_16.sgi", convert + " " + src + " -depth 16 -compress None " + out("im_16.sgi"), im("im_16.sgi")},
      {"im_16_rle.sgi", convert + " " + src + " -depth 16 -compress RLE " + out("im_16_rle.sgi"), im("im_16_rle.sgi")},
      {"im_grey.bw", convert + " " + src + " -colorspace Gray -compress RLE sgi:" + out("im_grey.bw"), im("im_grey.bw")},
      {"pil.sgi", pilSave(".convert('RGB')", "pil.sgi"), pil("pil.sgi")},
      {"pil_alpha.sgi", pilSave(".convert('RGBA')", "pil_alpha.sgi"), pil("pil_alpha.sgi")},
      {"pil_grey.bw", pilSave(".convert('L')", "pil_grey.bw"), pil("pil_grey.bw")},
      {"pil_16.sgi", pilSave(".convert('RGB')", "pil_16.sgi", ", bpc=2"), pil("pil_16.sgi")},
      {"pil_grey_16.bw", pilSave(".convert('L')", "pil_grey_16.bw", ", bpc=2"), pil("pil_grey_16.bw")},
      {"netpbm_rle.sgi", "/usr/bin/pnmtosgi " + src + " > " + out("netpbm_rle.sgi"),
       "/usr/bin/sgitopnm " + out("netpbm_rle.sgi")},
      {"netpbm.sgi", "/usr/bin/pnmtosgi -verbatim " + src + " > " + out("netpbm.sgi"),
       "/usr/bin/sgitopnm " + out("netpbm.sgi")},
      {"netpbm_grey.sgi", "/usr/bin/ppmtopgm " + src + " | /usr/bin/pnmtosgi > " + out("netpbm_grey.sgi"),
       "/usr/bin/sgitopnm " + out("netpbm_grey.sgi")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    // Grouped, so that the helper's own 2>&1 does not send messages into a redirected file.
    const CommandResult written = RunCommand("{ " + c.write + "; }");
    ASSERT_EQ(written.status, 0) << written.output;
    const RgbImage expected = DecodeWith(c.reference);
    TSGIGraphic g;
    ASSERT_NO_THROW(g.LoadFile(dir.File(c.file)));
    EXPECT_TRUE(BitmapMatches(g, expected));
    if (!expected.alpha.empty() && g.GetPixelFormat() == PixelFormat::Bits32) {
      EXPECT_TRUE(AlphaMatches(g, expected));
    }
  }
}

TEST(SGI, TheRegistryChoosesThisReaderForItsExtensions) {
  RegisterReaders();
  for (const char* extension : {"sgi", "rgb", "rgba", "bw", "RGB"})
    EXPECT_EQ(FindReaderClass(extension), &TSGIGraphic::StaticClass()) << extension;
}

}  // namespace
}  // namespace pictures
