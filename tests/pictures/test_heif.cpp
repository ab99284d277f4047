#include "pictures/formats/heif.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "base/error.h"
#include "pictures/formats/heif_boxes.h"
#include "pictures/registry.h"
#include "support/case_names.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using test_support::Bytes;
using test_support::PrintTo;
using test_support::ShellQuote;

struct ToolCase {
  const char* name;
  const char* make;  // SRC: a picture with an alpha ramp; OPAQUE: the same without alpha
  const char* file;  // the name of the file made, which tells the reader class
  PixelFormat format;
  int width;
  int height;
  int tolerance;  // for 10-bit pictures, rounded to 8 bits by both sides
};

class HeifToolTest : public ::testing::TestWithParam<ToolCase> {
 protected:
  void SetUp() override {
    REQUIRE_TOOL(test_support::kConvert);
    REQUIRE_TOOL("/usr/bin/heif-enc");
    REQUIRE_TOOL("/usr/bin/avifenc");
    REQUIRE_TOOL("/usr/bin/heif-convert");
    const auto made = test_support::MakeAlphaRampSources(src_, opaque_);
    ASSERT_EQ(made.status, 0) << made.output;
  }
  test_support::TempDir dir_;
  std::string src_ = dir_.File("src.png");
  std::string opaque_ = dir_.File("opaque.png");
};

// heif-convert is libheif's own converter: the same decoders and the same colour
// conversion, so the pictures agree (the 10-bit one within rounding).
TEST_P(HeifToolTest, MatchesHeifConvert) {
  const ToolCase& c = GetParam();
  const std::string out = dir_.File(c.file), reference = dir_.File("reference.png");
  const auto made = test_support::RunCommand(
      test_support::FillPaths(c.make, {{"SRC", src_}, {"OPAQUE", opaque_}, {"OUT", out}}) +
      " && /usr/bin/heif-convert " + ShellQuote(out) + " " + ShellQuote(reference));
  ASSERT_EQ(made.status, 0) << made.output;

  Picture holder;
  RegisterReaders();
  holder.LoadFile(out);
  const Bitmap& picture = *holder.Graphic();
  EXPECT_EQ(picture.GetPixelFormat(), c.format);
  EXPECT_EQ(picture.Transparent(), c.format == PixelFormat::Bits32);
  EXPECT_EQ(picture.Width(), c.width);
  EXPECT_EQ(picture.Height(), c.height);
  const auto expected = test_support::DecodeWithPillow(reference);
  EXPECT_TRUE(test_support::DecodedMatches(picture, expected, c.tolerance));

  // The same file cut short fails with a message of its format.
  Bytes cut = test_support::ReadFileBytes(out);
  cut.resize(cut.size() * 2 / 3);
  const bool avif = holder.Graphic()->Class().InheritsFrom(TAVIFGraphic::StaticClass());
  EXPECT_THAT(avif ? test_support::LoadError<TAVIFGraphic>(cut)
                   : test_support::LoadError<THEIFGraphic>(cut),
              ::testing::StartsWith(avif ? "AVIF: " : "HEIF: "));
}

INSTANTIATE_TEST_SUITE_P(
    Heif, HeifToolTest,
    ::testing::Values(
        ToolCase{"Heic", "/usr/bin/heif-enc -q 90 OPAQUE -o OUT", "a.heic", PixelFormat::Bits24,
                 29, 17, 0},
        ToolCase{"HeicAlpha", "/usr/bin/heif-enc -q 90 SRC -o OUT", "a.HEIF",
                 PixelFormat::Bits32, 29, 17, 0},
        ToolCase{"Avif", "/usr/bin/avifenc -s 10 OPAQUE OUT", "a.avif", PixelFormat::Bits24, 29,
                 17, 0},
        ToolCase{"AvifAlpha10Bit", "/usr/bin/avifenc -s 10 -d 10 SRC OUT", "a.avif",
                 PixelFormat::Bits32, 29, 17, 1},
        // Turned a quarter anticlockwise and mirrored: the picture comes out upright.
        ToolCase{"AvifRotatedAndMirrored", "/usr/bin/avifenc -s 10 --irot 1 --imir 0 OPAQUE OUT",
                 "a.avif", PixelFormat::Bits24, 17, 29, 0}),
    [](const auto& info) { return std::string(info.param.name); });

Bytes WideGridBomb() {
  Bytes file =
      test_support::ReadFileBytes(std::string(IMPORTDLG_TESTDATA) + "/heif/grid-bomb.heic");
  // The grid's width and height, 16 bits each, in its description in `idat`.
  const Bytes size = {0x21, 0x86, 0x22, 0x00};
  const auto at = std::search(file.begin(), file.end(), size.begin(), size.end());
  if (at != file.end()) std::copy_n(Bytes{0x4E, 0x20, 0x07, 0xD0}.begin(), 4, at);
  return file;
}

TEST(Heif, DamagedFilesFailWithAMessage) {
  struct Case {
    const char* name;
    Bytes file;
    const char* message;
  } cases[] = {
      {"Empty", {}, "HEIF: Invalid input: No 'ftyp' box"},
      {"NotHeif", Bytes(40, 'x'), "HEIF: Invalid input: No 'ftyp' box"},
      // Found by fuzzing: a 12 x 9 grid item whose grid asks libheif for a canvas of
      // 8582 x 8704 (444 MB with the decoder's planes) from one 64 x 64 tile.
      {"GridLargerThanItsTiles",
       test_support::ReadFileBytes(std::string(IMPORTDLG_TESTDATA) + "/heif/grid-bomb.heic"),
       "HEIF: the image grid of 8582 x 8704 is larger than its 1 x 1 tiles of at most 64 x 64 "
       "can fill"},
      // The same grid 20000 pixels wide: held to its tiles here too, whatever the side
      // limit of the libheif at hand.
      {"WideGridLargerThanItsTiles", WideGridBomb(),
       "HEIF: the image grid of 20000 x 2000 is larger than its 1 x 1 tiles of at most 64 x 64 "
       "can fill"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(test_support::LoadError<THEIFGraphic>(c.file), c.message) << c.name;
  EXPECT_EQ(test_support::LoadError<TAVIFGraphic>({}), "AVIF: Invalid input: No 'ftyp' box");
}

// heif-enc stores a 64 x 48 picture as a 64 x 48 grid over one tile whose coded picture
// is 64 x 64; avifenc as one item coded at 64 x 48. With every `ispe` made 32 x 24, only
// the coded size tells what the decoder will allocate: it is held to the pixel limit, and
// a file within it still decodes.
TEST(Heif, CodedPictureSizeBeyondTheItemsCountsAgainstTheLimit) {
  REQUIRE_TOOL(test_support::kConvert);
  REQUIRE_TOOL("/usr/bin/heif-enc");
  REQUIRE_TOOL("/usr/bin/avifenc");
  test_support::TempDir dir;
  const std::string png = dir.File("src.png");
  struct Case {
    const char* make;
    const char* file;
    bool avif;
    const char* limitedMessage;  // under a pixel limit of 32 x 24 x 4 bytes
  } cases[] = {
      {"/usr/bin/heif-enc -q 90 SRC -o OUT", "a.heic", false,
       "HEIF: the HEVC stream declares a picture of 64 x 64, too large to decode"},
      {"/usr/bin/avifenc -s 10 SRC OUT", "a.avif", true,
       "AVIF: the AV1 stream declares a picture of 64 x 48, too large to decode"},
  };
  for (const Case& c : cases) {
    const std::string out = dir.File(c.file);
    const auto made = test_support::RunCommand(
        std::string(test_support::kConvert) + " -size 64x48 plasma:fractal PNG24:" +
        ShellQuote(png) + " && " + test_support::FillPaths(c.make, {{"SRC", png}, {"OUT", out}}));
    ASSERT_EQ(made.status, 0) << made.output;
    Bytes file = test_support::ReadFileBytes(out);
    const Bytes ispe = {'i', 's', 'p', 'e'}, small = {0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0, 24};
    for (auto at = file.begin();
         (at = std::search(at, file.end(), ispe.begin(), ispe.end())) != file.end();)
      at = std::copy(small.begin(), small.end(), at + 4);

    const auto loadError = [&] {
      return c.avif ? test_support::LoadError<TAVIFGraphic>(file)
                    : test_support::LoadError<THEIFGraphic>(file);
    };
    EXPECT_EQ(loadError(), "no error") << c.file;
    Bitmap::SetPixelMemoryLimit(32 * 24 * 4);
    EXPECT_EQ(loadError(), c.limitedMessage);
    Bitmap::SetPixelMemoryLimit(kDefaultPixelMemoryLimit);
  }
}

Bytes Box(const char* type, const Bytes& body) {
  const size_t size = 8 + body.size();
  Bytes out = {uint8_t(size >> 24),     uint8_t(size >> 16),     uint8_t(size >> 8),
               uint8_t(size),           uint8_t(type[0]),        uint8_t(type[1]),
               uint8_t(type[2]),        uint8_t(type[3])};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// A meta box with item 1 of `type` whose `length`-byte description lies in `idat`.
Bytes MetaWithItem(const char* type, const Bytes& description, uint8_t length) {
  const Bytes infe = Box("infe", {2, 0, 0, 0, 0, 1, 0, 0, uint8_t(type[0]), uint8_t(type[1]),
                                  uint8_t(type[2]), uint8_t(type[3]), 0});
  const Bytes iloc = {1, 0, 0, 0, 0x44, 0, 0, 1, 0, 1, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0,
                      length};
  return Box("meta", Join({{0, 0, 0, 0}, Box("iinf", Join({{0, 0, 0, 0, 0, 1}, infe})),
                           Box("iloc", iloc), Box("idat", description)}));
}

std::string Describe(const heif_boxes::DeclaredSizes& declared) {
  std::string out;
  for (const auto& coded : declared.coded)
    out += (coded.codec == heif_boxes::Codec::AV1 ? "AV1 " : "HEVC ") +
           std::to_string(coded.width) + "x" + std::to_string(coded.height) + ";";
  for (const auto& canvas : declared.canvases)
    out += "canvas " + std::to_string(canvas.width) + "x" + std::to_string(canvas.height) +
           " of " + std::to_string(canvas.columns) + "x" + std::to_string(canvas.rows) +
           (canvas.tileWidth ? " tiles of " + std::to_string(canvas.tileWidth) + "x" +
                                   std::to_string(canvas.tileHeight)
                             : "") +
           ";";
  return out;
}

Bytes ItemEntry(uint8_t id, const char* type) {
  return Box("infe", {2, 0, 0, 0, 0, id, 0, 0, uint8_t(type[0]), uint8_t(type[1]),
                      uint8_t(type[2]), uint8_t(type[3]), 0});
}

// A 2 x 1 grid (item 1, its description in `idat`) of 1024 x 512 whose tiles are item 2,
// of `tileType` and 512 x 512 by its `ispe`, beside item 3, an HEVC thumbnail whose
// configuration declares 64 x 64. An HEVC tile shares that configuration.
Bytes GridBesideAThumbnail(const char* tileType, const Bytes& thumbnailConfiguration) {
  const Bytes grid = {0, 0, 0, 1, 0x04, 0x00, 0x02, 0x00};
  const Bytes iloc = {1, 0, 0, 0, 0x44, 0, 0, 1, 0, 1, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 8};
  const Bytes ispe = {0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 2, 0};
  // Item 2 has property 1 (the ispe) and for HEVC 2 (the configuration), item 3 has 2.
  const Bytes ipma = std::string(tileType) == "hvc1"
                         ? Bytes{0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 2, 0x81, 0x82, 0, 3, 1, 0x82}
                         : Bytes{0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 1, 0x81, 0, 3, 1, 0x82};
  const Bytes dimg = {0, 1, 0, 2, 0, 2, 0, 2};  // item 1 takes item 2 for both tiles
  return Box("meta",
             Join({{0, 0, 0, 0},
                   Box("iinf", Join({{0, 0, 0, 0, 0, 3}, ItemEntry(1, "grid"),
                                     ItemEntry(2, tileType), ItemEntry(3, "hvc1")})),
                   Box("iloc", iloc), Box("idat", grid),
                   Box("iprp", Join({Box("ipco", Join({Box("ispe", ispe),
                                                       Box("hvcC", thumbnailConfiguration)})),
                                     Box("ipma", ipma)})),
                   Box("iref", Join({{0, 0, 0, 0}, Box("dimg", dimg)}))}));
}

TEST(HeifBoxes, FindsTheSizesBeyondTheItemProperties) {
  // avifenc leaves the sequence header out of `av1C`; this is the one it wrote into the
  // coded data of a 64 x 48 picture.
  const Bytes header = {0x0a, 0x09, 0x38, 0x15, 0x7f, 0xbd, 0x84, 0x04, 0x34, 0x1a, 0x40};
  const auto av1C = [&](size_t headerBytes) {
    const Bytes config = Join({{0x81, 0x20, 0, 0}, Bytes(header.begin(),
                                                         header.begin() + ptrdiff_t(headerBytes))});
    return Box("meta", Join({{0, 0, 0, 0}, Box("iprp", Box("ipco", Box("av1C", config)))}));
  };
  // The SPS that x265 wrote for a 64 x 64 picture, as item data after its length.
  const Bytes hevcData = {0, 0, 0, 42, 0x42, 0x01, 0x01, 0x03, 0x70, 0x00, 0x00, 0x03, 0x00,
                          0x90, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00, 0x1e, 0xa0, 0x20,
                          0x81, 0x05, 0x96, 0xea, 0xe4, 0xa6, 0xb9, 0xb8, 0x10, 0x10, 0x30,
                          0x20, 0x00, 0x00, 0x03, 0x00, 0x20, 0x00, 0x00, 0x03, 0x00, 0x21};
  // An HEVC configuration record holding that SPS.
  Bytes hevcConfiguration(22, 0);
  hevcConfiguration.insert(hevcConfiguration.end(), {1, 0x21, 0, 1});
  hevcConfiguration.insert(hevcConfiguration.end(), hevcData.begin() + 2, hevcData.end());
  const Bytes grid = {0, 0, 1, 2, 0x01, 0x00, 0x00, 0x80};
  const Bytes wideGrid = {0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 16};
  const Bytes overlay = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0};
  struct Case {
    const char* name;
    Bytes file;
    const char* found;
  } cases[] = {
      {"Av1SequenceHeader", av1C(header.size()), "AV1 64x48;"},
      {"Av1SequenceHeaderCut", av1C(header.size() - 3), ""},
      {"Grid", MetaWithItem("grid", grid, 8), "canvas 256x128 of 3x2;"},
      {"GridOf32BitFields", MetaWithItem("grid", wideGrid, 12), "canvas 65536x16 of 1x1;"},
      {"Overlay", MetaWithItem("iovl", overlay, 14), "canvas 512x256 of 0x0;"},
      {"HevcItemData", MetaWithItem("hvc1", hevcData, 46), "HEVC 64x64;"},
      {"HevcItemDataCut", MetaWithItem("hvc1", Bytes(hevcData.begin(), hevcData.end() - 1), 45),
       ""},
      {"Av1ItemData", MetaWithItem("av01", header, 11), "AV1 64x48;"},
      // libheif reads on past the end of `idat`, as far as the file goes.
      {"GridPastIdat", Join({MetaWithItem("grid", Bytes(grid.begin(), grid.begin() + 6), 8),
                             Bytes{0, 0x80}}),
       "canvas 256x128 of 3x2;"},
      {"GridPastTheFile", MetaWithItem("grid", grid, 9), ""},
      {"UnknownItemType", MetaWithItem("jpeg", grid, 8), ""},
      // A grid's tiles are its own: JPEG tiles by their `ispe`, not the thumbnail's size.
      {"GridOfJpegTiles", GridBesideAThumbnail("jpeg", hevcConfiguration),
       "HEVC 64x64;canvas 1024x512 of 2x1 tiles of 512x512;"},
      {"GridOfHevcTiles", GridBesideAThumbnail("hvc1", hevcConfiguration),
       "HEVC 64x64;canvas 1024x512 of 2x1 tiles of 64x64;"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Describe(heif_boxes::FindDeclaredSizes(c.file)), c.found) << c.name;
}

}  // namespace
}  // namespace pictures
