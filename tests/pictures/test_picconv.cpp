// Runs the real picconv program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "pictures/bitmap.h"
#include "pictures/registry.h"
#include "support/case_names.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using test_support::PrintTo;
using test_support::RunCommand;
using test_support::ShellQuote;

class PicconvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_support::ToolAvailable(test_support::kConvert)) GTEST_SKIP() << "no ImageMagick";
    const auto made = RunCommand(std::string(test_support::kConvert) +
                                 " -size 29x17 -seed 4 plasma:fractal " + ShellQuote(src_));
    ASSERT_EQ(made.status, 0) << made.output;
  }

  // Makes `name` from the source picture; `options` may end in a format prefix ("BMP3:").
  std::string Make(const std::string& name, std::string options) {
    const std::string path = dir_.File(name);
    std::string prefix;
    if (!options.empty() && options.back() == ':') {
      const size_t space = options.rfind(' ');
      prefix = options.substr(space == std::string::npos ? 0 : space + 1);
      options.resize(options.size() - prefix.size());
    }
    const auto made = RunCommand(std::string(test_support::kConvert) + " " + ShellQuote(src_) +
                                 " " + options + " " + ShellQuote(prefix + path));
    EXPECT_EQ(made.status, 0) << made.output;
    return path;
  }

  // Runs picconv with `arguments`; standard output and error are kept apart.
  test_support::CommandResult Picconv(const std::string& arguments, std::string* errors) {
    const std::string errorFile = dir_.File("stderr.txt");
    auto result = RunCommand(ShellQuote(IMPORTDLG_PICCONV) + " " + arguments + " 2>" +
                             ShellQuote(errorFile));
    const auto bytes = test_support::ReadFileBytes(errorFile);
    *errors = std::string(bytes.begin(), bytes.end());
    return result;
  }

  test_support::TempDir dir_;
  std::string src_ = dir_.File("src.png");
};

struct Conversion {
  const char* name;
  const char* file;
  const char* options;  // ImageMagick options that make the input
  const char* info;     // what --info prints
  int tolerance;
};

class PicconvConversionTest : public PicconvTest,
                              public ::testing::WithParamInterface<Conversion> {};

TEST_P(PicconvConversionTest, WritesA24BitBitmapOfThePicture) {
  const Conversion& c = GetParam();
  const std::string input = Make(c.file, c.options);
  const std::string output = dir_.File("out.bmp");
  std::string errors;
  auto result = Picconv("--info " + ShellQuote(input), &errors);
  EXPECT_EQ(result.status, 0) << errors;
  EXPECT_EQ(result.output, std::string(c.info) + "\n");

  result = Picconv(ShellQuote(input) + " " + ShellQuote(output), &errors);
  ASSERT_EQ(result.status, 0) << errors;
  EXPECT_EQ(result.output, "");
  Bitmap written;
  written.LoadFile(output);
  EXPECT_EQ(written.GetPixelFormat(), PixelFormat::Bits24);
  // ImageMagick's own decode of the input, drawn over white as the conversion draws it.
  const auto reference = test_support::DecodeWith(
      std::string(test_support::kConvert) + " " + ShellQuote(input) +
      " -background white -alpha remove -depth 8 ppm:-");
  EXPECT_TRUE(test_support::BitmapMatches(written, reference, c.tolerance));
}

INSTANTIATE_TEST_SUITE_P(
    Picconv, PicconvConversionTest,
    ::testing::Values(Conversion{"Bitmap24", "in.bmp", "BMP3:", "29 17 24", 0},
                      Conversion{"Bitmap8Rle", "in.rle", "-colors 50 -type Palette BMP3:", "29 17 8", 0},
                      Conversion{"DibOs2", "in.dib", "BMP2:", "29 17 24", 0},
                      // Both decoders are libjpeg; 2 leaves room for other IDCT choices.
                      Conversion{"Jpeg", "in.jpg", "-quality 80", "29 17 24", 2},
                      Conversion{"JpegLongExtension", "IN.JPEG", "-interlace JPEG", "29 17 24", 2},
                      Conversion{"Icon", "in.ico", "-resize 32x32! -alpha set -channel A -fx i/w +channel",
                                 "32 32 32", 1},
                      // Block colours are interpolated; ImageMagick rounds them otherwise.
                      Conversion{"DdsDxt5", "in.dds", "-define dds:compression=dxt5", "29 17 32", 1},
                      Conversion{"SunRaster", "in.ras", "", "29 17 24", 0},
                      // ImageMagick reads its own 16-bit colours back one lower at times.
                      Conversion{"XPixmap", "in.xpm", "-colors 50", "29 17 8", 1},
                      Conversion{"XBitmap", "IN.XBM", "", "29 17 1", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// The registry's rows in registration order; the metafile rows lead where the program is
// built with its drawing layer.
constexpr const char* kRegistryRows =
    "ico\tIcons\tTIcon\n"
    "bmp\tBitmaps\tBitmap\n"
    "jpeg\tJPEG Image File\tTJPEGImage\n"
    "jpg\tJPEG Image File\tTJPEGImage\n"
    "win\tTruevision images\tTTargaGraphic\n"
    "vst\tTruevision images\tTTargaGraphic\n"
    "vda\tTruevision images\tTTargaGraphic\n"
    "tiff\tTIFF images\tTTIFFGraphic\n"
    "tif\tTIFF images\tTTIFFGraphic\n"
    "tga\tTruevision images\tTTargaGraphic\n"
    "sgi\tSGI true color images\tTSGIGraphic\n"
    "scr\tWord 5.x screen capture images\tTPCXGraphic\n"
    "rpf\tSGI Wavefront images\tTRLAGraphic\n"
    "rle\tWindows bitmap\tBitmap\n"
    "rla\tSGI Wavefront images\tTRLAGraphic\n"
    "rgba\tSGI true color images\tTSGIGraphic\n"
    "rgb\tSGI true color images\tTSGIGraphic\n"
    "psd\tPhotoshop images\tTPSDGraphic\n"
    "ppm\tPortable pixel map images\tTPPMGraphic\n"
    "pgm\tPortable grayscale images\tTPPMGraphic\n"
    "pbm\tPortable b&w images\tTPPMGraphic\n"
    "pic\tAutodesk images\tTAutodeskGraphic\n"
    "pcx\tZSoft PCX images\tTPCXGraphic\n"
    "pdd\tPhotoshop images\tTPSDGraphic\n"
    "pcd\tKodak Photo-CD images\tTPCDGraphic\n"
    "pcc\tZSoft PCC images\tTPCXGraphic\n"
    "icb\tTruevision images\tTTargaGraphic\n"
    "gif\tCompuServe images\tTGIFGraphic\n"
    "dib\tWindows bitmap\tBitmap\n"
    "cut\tDr. Halo images\tTCUTGraphic\n"
    "cel\tAutodesk images\tTAutodeskGraphic\n"
    "bw\tSGI black/white images\tTSGIGraphic\n"
    "psb\tPhotoshop images\tTPSDGraphic\n"
    "png\tPNG images\tTPNGGraphic\n"
    "webp\tWebP images\tTWebPGraphic\n"
    "heic\tHEIF images\tTHEIFGraphic\n"
    "heif\tHEIF images\tTHEIFGraphic\n"
    "avif\tAVIF images\tTAVIFGraphic\n"
    "jpe\tJPEG Image File\tTJPEGImage\n"
    "jfif\tJPEG Image File\tTJPEGImage\n"
    "jxl\tJPEG XL images\tTJXLGraphic\n"
    "jp2\tJPEG 2000 images\tTJPEG2000Graphic\n"
    "j2k\tJPEG 2000 images\tTJPEG2000Graphic\n"
    "j2c\tJPEG 2000 images\tTJPEG2000Graphic\n"
    "jpf\tJPEG 2000 images\tTJPEG2000Graphic\n"
    "jpx\tJPEG 2000 images\tTJPEG2000Graphic\n"
    "svg\tSVG drawings\tTSVGGraphic\n"
    "svgz\tSVG drawings\tTSVGGraphic\n"
    "mpo\tMPO images\tTMPOGraphic\n"
    "dng\tCamera raw images\tTRAWGraphic\n"
    "cr2\tCamera raw images\tTRAWGraphic\n"
    "cr3\tCamera raw images\tTRAWGraphic\n"
    "crw\tCamera raw images\tTRAWGraphic\n"
    "nef\tCamera raw images\tTRAWGraphic\n"
    "nrw\tCamera raw images\tTRAWGraphic\n"
    "arw\tCamera raw images\tTRAWGraphic\n"
    "srf\tCamera raw images\tTRAWGraphic\n"
    "sr2\tCamera raw images\tTRAWGraphic\n"
    "raf\tCamera raw images\tTRAWGraphic\n"
    "orf\tCamera raw images\tTRAWGraphic\n"
    "rw2\tCamera raw images\tTRAWGraphic\n"
    "pef\tCamera raw images\tTRAWGraphic\n"
    "srw\tCamera raw images\tTRAWGraphic\n"
    "x3f\tCamera raw images\tTRAWGraphic\n"
    "3fr\tCamera raw images\tTRAWGraphic\n"
    "erf\tCamera raw images\tTRAWGraphic\n"
    "kdc\tCamera raw images\tTRAWGraphic\n"
    "mrw\tCamera raw images\tTRAWGraphic\n"
    "mos\tCamera raw images\tTRAWGraphic\n"
    "exr\tOpenEXR images\tTEXRGraphic\n"
    "xcf\tGIMP images\tTXCFGraphic\n"
    "iff\tAmiga IFF images\tTILBMGraphic\n"
    "ilbm\tAmiga IFF images\tTILBMGraphic\n"
    "lbm\tAmiga IFF images\tTILBMGraphic\n"
    "dds\tDirectDraw Surface textures\tTDDSGraphic\n"
    "hdr\tRadiance HDR images\tTRadianceGraphic\n"
    "pfm\tPortable float maps\tTPFMGraphic\n"
    "phm\tPortable float maps\tTPFMGraphic\n"
    "kra\tKrita images\tTKRAGraphic\n"
    "ora\tOpenRaster images\tTORAGraphic\n"
    "qoi\tQOI images\tTQOIGraphic\n"
    "ras\tSun raster images\tTSunRasterGraphic\n"
    "sun\tSun raster images\tTSunRasterGraphic\n"
    "xpm\tX pixmap images\tTXPMGraphic\n"
    "xbm\tX bitmap images\tTXBMGraphic\n"
    "icns\tApple icons\tTICNSGraphic\n"
    "cur\tWindows cursors\tTCURGraphic\n";

TEST_F(PicconvTest, FormatsListsTheRegistryInOrder) {
  std::string expected = kRegistryRows;
#ifdef IMPORTDLG_PICCONV_METAFILES
  expected = "wmf\tMetafiles\tTMetafile\nemf\tEnhanced Metafiles\tTMetafile\n" + expected;
#endif
  std::string errors;
  const auto result = Picconv("--formats", &errors);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, expected);
}

TEST(Registry, ReadersLeaveTheRegistryInOrderAtTheEndOfARun) {
  UnregisterReaders();
  const size_t before = RegisteredFormats().size();
  RegisterReaders();
  EXPECT_EQ(RegisteredFormats().size(), before + 85);
  UnregisterReaders();
  ASSERT_EQ(RegisteredFormats().size(), before + 2);
  // Only the library's own rows and the two Windows bitmap rows stay.
  const auto& rows = RegisteredFormats();
  EXPECT_EQ(rows[rows.size() - 2].extension, "rle");
  EXPECT_EQ(rows[rows.size() - 1].extension, "dib");
  for (const char* gone : {"jpg", "tif", "pcx", "gif", "psd", "psb", "tga", "cut", "bw", "png",
                           "webp", "heic", "avif", "jfif", "jxl", "jp2", "jpx", "svgz", "mpo",
                           "dng", "mos", "exr", "xcf", "lbm", "dds", "hdr", "phm", "kra", "ora", "qoi",
                           "ras", "sun", "xpm", "xbm", "icns", "cur"})
    EXPECT_EQ(FindReaderClass(gone), nullptr) << gone;
  RegisterReaders();  // and a run can register them again
  EXPECT_NE(FindReaderClass("gif"), nullptr);
  UnregisterReaders();
}

// A library that cannot be loaded fails the pictures that need it, with its reason, and
// the others are converted: here the loader finds files of the libraries' names that are
// not libraries at all.
TEST_F(PicconvTest, MissingLibraryFailsOnlyItsOwnPictures) {
  const std::string libraries = dir_.File("libs");
  ASSERT_EQ(RunCommand("mkdir " + ShellQuote(libraries)).status, 0);
  for (const char* name : {"libjxl.so.0.7", "librsvg-2.so.2"})
    test_support::WriteFileBytes(libraries + "/" + name, test_support::Bytes{'n', 'o'});
  test_support::WriteFileBytes(dir_.File("a.jxl"), test_support::Bytes{0xFF, 0x0A, 0, 0});
  test_support::WriteFileBytes(dir_.File("b.svg"), test_support::Bytes{'<', 's', 'v', 'g'});
  const auto result = RunCommand("LD_LIBRARY_PATH=" + ShellQuote(libraries) + " " +
                                 ShellQuote(IMPORTDLG_PICCONV) + " --to " + ShellQuote(dir_.File("out")) +
                                 " " + ShellQuote(dir_.File("a.jxl")) + " " + ShellQuote(dir_.File("b.svg")) +
                                 " " + ShellQuote(src_));
  EXPECT_EQ(result.status, 1);
  const std::string& errors = result.output;
  EXPECT_NE(errors.find("a.jxl: JXL: the JPEG XL library cannot be loaded (" + libraries +
                        "/libjxl.so.0.7: "),
            std::string::npos)
      << errors;
  EXPECT_NE(errors.find("b.svg: SVG: the librsvg library cannot be loaded (" + libraries +
                        "/librsvg-2.so.2: "),
            std::string::npos)
      << errors;
  EXPECT_TRUE(std::filesystem::exists(dir_.File("out/src.png")));
}

struct Failure {
  const char* name;
  const char* input;     // file name in the temporary folder
  const char* contents;  // written to it, or nullptr for a missing file
  const char* message;   // the start of what picconv prints on standard error
};

class PicconvFailureTest : public PicconvTest, public ::testing::WithParamInterface<Failure> {};

TEST_P(PicconvFailureTest, ReportsTheErrorAndLeavesTheOutputAlone) {
  const Failure& c = GetParam();
  const std::string input = dir_.File(c.input);
  if (c.contents) {
    const std::string text = c.contents;
    test_support::WriteFileBytes(input, test_support::Bytes(text.begin(), text.end()));
  }
  // An existing output file must survive a failed conversion unchanged.
  const std::string output = dir_.File("out.bmp");
  test_support::WriteFileBytes(output, test_support::Bytes{'o', 'l', 'd'});
  std::string errors;
  const auto result = Picconv(ShellQuote(input) + " " + ShellQuote(output), &errors);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(errors.rfind(c.message, 0), 0u) << errors;
  EXPECT_EQ(test_support::ReadFileBytes(output), (test_support::Bytes{'o', 'l', 'd'}));
  // Nothing else was left in the folder (src.png, the input, out.bmp, stderr.txt).
  const auto files = std::distance(std::filesystem::directory_iterator(dir_.Path()),
                                   std::filesystem::directory_iterator());
  EXPECT_EQ(files, c.contents ? 4 : 3);
}

INSTANTIATE_TEST_SUITE_P(
    Picconv, PicconvFailureTest,
    ::testing::Values(
        Failure{"UnknownExtension", "picture.XYZ", "data", "Unknown picture file extension (.XYZ)\n"},
        Failure{"NoExtension", "picture", "data", "Unknown picture file extension (.)\n"},
        Failure{"BrokenBitmap", "broken.bmp", "BM not really", "Bitmap image is not valid\n"},
        Failure{"BrokenJpeg", "broken.jpg", "GIF89a", "Not a JPEG file: starts with 0x47 0x49\n"},
        Failure{"MissingFile", "missing.bmp", nullptr, "Cannot open file"}),
    [](const auto& info) { return std::string(info.param.name); });

#ifdef IMPORTDLG_PICCONV_METAFILES
// A placeable metafile of 100 x 50 pixels at 96 dots an inch that paints one red
// rectangle from (20, 10) to (80, 40) on the white page.
std::string RedRectangleMetafile() {
  std::string bytes;
  auto u16 = [&](int v) { bytes += char(v & 0xFF); bytes += char((v >> 8) & 0xFF); };
  auto u32 = [&](uint32_t v) { u16(int(v & 0xFFFF)); u16(int(v >> 16)); };
  const uint16_t placeable[10] = {0xCDD7, 0x9AC6, 0, 0, 0, 100, 50, 96, 0, 0};
  uint16_t checksum = 0;
  for (uint16_t word : placeable) checksum ^= word;
  for (uint16_t word : placeable) u16(word);
  u16(checksum);
  const int recordWords = 5 + 5 + 7 + 4 + 7 + 3;
  u16(1); u16(9); u16(0x300); u32(9 + recordWords); u16(1); u32(7); u16(0);  // header
  u32(5); u16(0x020B); u16(0); u16(0);                  // window origin 0, 0
  u32(5); u16(0x020C); u16(50); u16(100);               // window extent 100 x 50
  u32(7); u16(0x02FC); u16(0); u32(0x0000FF); u16(0);   // solid red brush
  u32(4); u16(0x012D); u16(0);                          // select it
  u32(7); u16(0x041B); u16(40); u16(80); u16(10); u16(20);  // rectangle
  u32(3); u16(0);                                       // end of file
  return bytes;
}

TEST_F(PicconvTest, MetafilesAreDrawnAsTheDialogDrawsThem) {
  const std::string input = dir_.File("drawing.WMF");
  std::ofstream(input, std::ios::binary) << RedRectangleMetafile();
  const std::string output = dir_.File("drawing.bmp");
  std::string errors;
  ASSERT_EQ(Picconv(ShellQuote(input) + " " + ShellQuote(output), &errors).status, 0) << errors;
  Bitmap written;
  written.LoadFile(output);
  ASSERT_EQ(written.Width(), 100);
  ASSERT_EQ(written.Height(), 50);
  auto pixel = [&](int x, int y) {
    const uint8_t* p = written.ScanLine(y) + 3 * x;
    return std::array<int, 3>{p[2], p[1], p[0]};
  };
  EXPECT_EQ(pixel(50, 25), (std::array<int, 3>{255, 0, 0}));
  EXPECT_EQ(pixel(5, 5), (std::array<int, 3>{255, 255, 255}));
  EXPECT_EQ(pixel(95, 45), (std::array<int, 3>{255, 255, 255}));
}
#endif

// A .png output keeps what the picture holds: its palette, its alpha, or 24-bit colour.
TEST_F(PicconvTest, PngOutputKeepsPaletteAndAlpha) {
  REQUIRE_TOOL(test_support::kPython);
  const struct {
    const char* name;
    const char* file;
    const char* options;
    const char* info;  // what --info prints for the PNG written
  } cases[] = {
      {"Paletted", "in.gif", "-colors 20", "29 17 8"},
      {"Alpha", "in.png", "-alpha set -channel A -fx i/w +channel PNG32:", "29 17 32"},
      {"Colour", "in.tga", "", "29 17 24"},
  };
  for (const auto& c : cases) {
    const std::string input = Make(c.file, c.options), output = dir_.File("out.PNG");
    std::string errors;
    ASSERT_EQ(Picconv(ShellQuote(input) + " " + ShellQuote(output), &errors).status, 0) << errors;
    EXPECT_EQ(Picconv("--info " + ShellQuote(output), &errors).output, std::string(c.info) + "\n")
        << c.name;
    EXPECT_TRUE(test_support::ImagesMatch(test_support::DecodeWithPillow(output),
                                          test_support::DecodeWithPillow(input)))
        << c.name;
  }
}

// A folder of good and broken files: the good ones are converted, each broken one is
// reported, and the summary lists the failures.
TEST_F(PicconvTest, BatchConvertsWhatItCanAndSummarisesTheFailures) {
  const std::string pcx = Make("photo.pcx", ""), tga = Make("photo.tga", "");
  const std::string gif = Make("clip.gif", "-colors 16");
  const std::string broken = dir_.File("broken.psd");
  test_support::WriteFileBytes(broken, test_support::Bytes{'8', 'B', 'P', 'S'});
  const std::string out = dir_.File("new/folder");
  std::string errors;
  const auto result = Picconv("--to " + ShellQuote(out) + " " + ShellQuote(pcx) + " " +
                                  ShellQuote(broken) + " " + ShellQuote(tga) + " " +
                                  ShellQuote(gif) + " " + ShellQuote(dir_.File("gone.bmp")),
                              &errors);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output, "");
  // Output is not a terminal: no progress line, only the failures and the summary.
  EXPECT_THAT(errors, ::testing::HasSubstr("picconv: " + broken + ": "));
  EXPECT_THAT(errors, ::testing::HasSubstr("2 of 5 files failed:\n  "));
  EXPECT_EQ(errors.find('\r'), std::string::npos);
  std::vector<std::string> written;
  for (const auto& entry : std::filesystem::directory_iterator(out))
    written.push_back(entry.path().filename().string());
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (std::vector<std::string>{"clip.png", "photo-2.png", "photo.png"}));
  EXPECT_TRUE(test_support::ImagesMatch(test_support::DecodeWithPillow(out + "/photo-2.png"),
                                        test_support::DecodeWithPillow(tga)));

  // Bitmaps on request; an output that would replace an input gets a name of its own.
  ASSERT_EQ(Picconv("--to " + ShellQuote(dir_.Path()) + " --format bmp " + ShellQuote(gif) +
                        " " + ShellQuote(Make("clip.bmp", "BMP3:")),
                    &errors).status, 0) << errors;
  EXPECT_TRUE(std::filesystem::exists(dir_.File("clip-2.bmp")));
  EXPECT_TRUE(test_support::ImagesMatch(test_support::DecodeWithPillow(dir_.File("clip-3.bmp")),
                                        test_support::DecodeWithPillow(dir_.File("clip.bmp"))));
}

TEST_F(PicconvTest, UnwritableOutputFailsWithoutLeavingAFile) {
  const std::string input = Make("in.bmp", "BMP3:");
  std::string errors;
  const auto result =
      Picconv(ShellQuote(input) + " " + ShellQuote(dir_.File("no/such/folder/out.bmp")), &errors);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(errors.rfind("Cannot create file", 0), 0u) << errors;
}

TEST_F(PicconvTest, UsageOnBadArgumentsAndHelp) {
  std::string errors;
  for (const char* arguments : {"", "only-one", "a b c", "--info", "--bogus x", "--to dir",
                                "--to dir --format gif a.pcx", "--to dir --format", "--version x"}) {
    const auto result = Picconv(arguments, &errors);
    EXPECT_EQ(result.status, 2) << arguments;
    EXPECT_EQ(result.output, "") << arguments;
    EXPECT_EQ(errors.rfind("Usage: picconv", 0), 0u) << arguments;
  }
  const auto help = Picconv("--help", &errors);
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.output.rfind("Usage: picconv", 0), 0u);
  EXPECT_EQ(errors, "");
}

}  // namespace
}  // namespace pictures
