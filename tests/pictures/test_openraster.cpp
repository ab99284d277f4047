#include "pictures/formats/openraster.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "pictures/registry.h"
#include "support/byte_builders.h"
#include "support/case_names.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using test_support::AppendLE16;
using test_support::AppendLE32;
using test_support::Bytes;
using test_support::FillPaths;
using test_support::PrintTo;
using test_support::ShellQuote;

// Archives written by Python's zipfile around PNG files written by ImageMagick, as Krita
// and OpenRaster programs lay them out, compared whole with ImageMagick's decode of the PNG.
struct ToolCase {
  const char* name;
  const char* png;  // ImageMagick options that make mergedimage.png from a 40 x 30 picture
  const char* prefix;  // ImageMagick's name for the PNG variant
  const char* extension;
  const char* compression;  // zipfile's name for the entry's compression
  PixelFormat format;
  int tolerance = 0;
};

class OpenRasterToolTest : public ::testing::TestWithParam<ToolCase> {};

TEST_P(OpenRasterToolTest, ShowsTheMergedPicture) {
  const ToolCase& c = GetParam();
  REQUIRE_TOOL(test_support::kConvert);
  REQUIRE_TOOL(test_support::kPython);
  test_support::TempDir dir;
  const std::string png = dir.File("merged.png"), out = dir.File(std::string("out.") + c.extension);
  auto made = test_support::RunCommand(std::string(test_support::kConvert) +
                                       " -size 40x30 -seed 3 plasma:fractal " + c.png + " " +
                                       ShellQuote(c.prefix + png));
  ASSERT_EQ(made.status, 0) << made.output;
  // The mimetype comes first and stored, as both formats ask; layers and a preview beside.
  const char* script =
      "import sys, zipfile\n"
      "png, out, ext, method = sys.argv[1:]\n"
      "with zipfile.ZipFile(out, 'w') as z:\n"
      "    mime = 'application/x-krita' if ext == 'kra' else 'image/openraster'\n"
      "    z.writestr(zipfile.ZipInfo('mimetype'), mime)\n"
      "    z.writestr('stack.xml' if ext == 'ora' else 'maindoc.xml', '<image/>', zipfile.ZIP_DEFLATED)\n"
      "    z.write(png, 'data/layer1.png', zipfile.ZIP_DEFLATED)\n"
      "    z.write(png, 'mergedimage.png', getattr(zipfile, method))\n"
      "    z.write(png, 'Thumbnails/thumbnail.png', zipfile.ZIP_STORED)\n";
  made = test_support::RunCommand(std::string(test_support::kPython) + " -c " + ShellQuote(script) + " " +
                                  ShellQuote(png) + " " + ShellQuote(out) + " " + c.extension + " " + c.compression);
  ASSERT_EQ(made.status, 0) << made.output;
  RegisterReaders();
  Picture picture;
  picture.LoadFile(out);
  EXPECT_EQ(picture.Graphic()->GetPixelFormat(), c.format);
  EXPECT_TRUE(test_support::DecodedMatches(
      *picture.Graphic(), test_support::DecodeWith(std::string(test_support::kConvert) + " " + ShellQuote(png) +
                                                   " -depth 8 pam:-"),
      c.tolerance));
}

INSTANTIATE_TEST_SUITE_P(
    OpenRaster, OpenRasterToolTest,
    ::testing::Values(
        ToolCase{"OraRgbaDeflated", "-alpha set -channel A -fx i/w +channel", "PNG32:", "ora", "ZIP_DEFLATED",
                 PixelFormat::Bits32},
        ToolCase{"KraRgbStored", "", "PNG24:", "kra", "ZIP_STORED", PixelFormat::Bits24},
        // 16-bit samples are rounded to 8 bits by either side, at times apart by one.
        ToolCase{"KraSixteenBitRgba", "-alpha set -channel A -fx j/h +channel", "PNG64:", "kra",
                 "ZIP_DEFLATED", PixelFormat::Bits32, 1},
        ToolCase{"OraPalette", "-colors 20", "PNG8:", "ora", "ZIP_DEFLATED", PixelFormat::Bits8}),
    [](const auto& info) { return std::string(info.param.name); });

// A zip entry as the test lays it down; the sizes and flags it declares may lie.
struct ZipEntry {
  std::string name;
  Bytes data;
  bool deflate = false;
  uint32_t flags = 0;
  int64_t declaredSize = -1;  // the uncompressed size it claims, -1: its real one
  uint16_t method = 0xFFFF;   // the method it claims, 0xFFFF: its real one
  uint32_t crcFlip = 0;       // bits of the check sum turned round
};

Bytes Deflated(const Bytes& data) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, uLong(data.size())));
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = uInt(data.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Bytes Zip(const std::vector<ZipEntry>& entries) {
  Bytes file, directory;
  for (const ZipEntry& e : entries) {
    const Bytes stored = e.deflate ? Deflated(e.data) : e.data;
    const uint32_t crc = uint32_t(crc32(0, e.data.data(), uInt(e.data.size()))) ^ e.crcFlip;
    const uint32_t size = e.declaredSize < 0 ? uint32_t(e.data.size()) : uint32_t(e.declaredSize);
    const uint16_t method = e.method != 0xFFFF ? e.method : e.deflate ? 8 : 0;
    auto fields = [&](Bytes& out) {
      AppendLE16(out, 20), AppendLE16(out, e.flags), AppendLE16(out, method);
      AppendLE32(out, 0);  // time and date
      AppendLE32(out, crc), AppendLE32(out, uint32_t(stored.size())), AppendLE32(out, size);
      AppendLE16(out, uint32_t(e.name.size())), AppendLE16(out, 0);
    };
    const uint32_t offset = uint32_t(file.size());
    AppendLE32(file, 0x04034B50);
    fields(file);
    file.insert(file.end(), e.name.begin(), e.name.end());
    file.insert(file.end(), stored.begin(), stored.end());
    AppendLE32(directory, 0x02014B50);
    AppendLE16(directory, 20);  // made by
    fields(directory);
    AppendLE16(directory, 0), AppendLE16(directory, 0), AppendLE16(directory, 0);  // comment, disk, attributes
    AppendLE32(directory, 0), AppendLE32(directory, offset);
    directory.insert(directory.end(), e.name.begin(), e.name.end());
  }
  const uint32_t directoryStart = uint32_t(file.size());
  file.insert(file.end(), directory.begin(), directory.end());
  AppendLE32(file, 0x06054B50);
  AppendLE16(file, 0), AppendLE16(file, 0);
  AppendLE16(file, uint32_t(entries.size())), AppendLE16(file, uint32_t(entries.size()));
  AppendLE32(file, uint32_t(directory.size())), AppendLE32(file, directoryStart);
  AppendLE16(file, 0);
  return file;
}

// A 1 x 1 grey PNG.
const Bytes kPng = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 1, 0, 0, 0, 1,
                    8, 0, 0, 0, 0, 0x3A, 0x7E, 0x9B, 0x55, 0, 0, 0, 10, 'I', 'D', 'A', 'T', 0x78, 0x9C, 0x63,
                    0x60, 0, 0, 0, 2, 0, 1, 0x48, 0xAF, 0xA4, 0x71, 0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE,
                    0x42, 0x60, 0x82};

TEST(OpenRasterReader, DamagedArchivesFailWithClearMessages) {
  const ZipEntry mime{"mimetype", {'i', 'm', 'a', 'g', 'e'}};
  struct Case {
    const char* what;
    Bytes file;
    const char* message;
  };
  const Case cases[] = {
      {"empty", {}, "ORA: the file is not a zip archive"},
      {"not a zip", kPng, "ORA: the file is not a zip archive"},
      {"no merged picture", Zip({mime, {"Thumbnails/thumbnail.png", kPng}}),
       "ORA: the archive holds no merged picture (mergedimage.png)"},
      {"encrypted", Zip({mime, {"mergedimage.png", kPng, false, 1}}), "ORA: the merged picture is encrypted"},
      {"bzip2", Zip({mime, {"mergedimage.png", kPng, false, 0, -1, 12}}),
       "ORA: the merged picture is compressed by a method this reader does not know (12)"},
      {"stored, but claims more", Zip({mime, {"mergedimage.png", kPng, false, 0, 70}}),
       "ORA: the merged picture's size does not match its compressed data"},
      // 1 GB cannot come from a few dozen bytes of Deflate data: refused before inflating.
      {"deflate bomb", Zip({mime, {"mergedimage.png", kPng, true, 0, 1000000000}}),
       "ORA: the merged picture's size does not match its compressed data"},
      {"beyond any picture", Zip({mime, {"mergedimage.png", kPng, true, 0, 0xFFFFFFFF}}),
       "ORA: the merged picture is larger than a picture may be"},
      {"inflates short", Zip({mime, {"mergedimage.png", kPng, true, 0, 80}}),
       "ORA: the merged picture is damaged (its data does not inflate to its size)"},
      {"wrong check sum", Zip({mime, {"mergedimage.png", kPng, true, 0, -1, 0xFFFF, 1}}), "ORA: the merged picture is damaged (its data does not inflate to its size)"},
      {"not a PNG", Zip({mime, {"mergedimage.png", Bytes(40, 7), true}}),
       "ORA: the merged picture is damaged (PNG: Not a PNG file)"},
  };
  for (const Case& c : cases) EXPECT_EQ(test_support::LoadError<TORAGraphic>(c.file), c.message) << c.what;
  EXPECT_EQ(test_support::LoadError<TORAGraphic>(Zip({mime, {"mergedimage.png", kPng, true}})), "no error");
  EXPECT_EQ(test_support::LoadError<TKRAGraphic>(Zip({mime})),
            "KRA: the archive holds no merged picture (mergedimage.png)");
}

}  // namespace
}  // namespace pictures
