// Every fast path of the picture library, compared whole with an independent decoder.
//
// The library switches ways at sizes: files of 64 KiB or more are mapped, TIFF pictures of
// a megabyte or more in compressed strips or tiles decode on two threads, Bitmaps of 8 MiB
// or more take huge pages, the bitmap writer converts a megabyte at a time, PNG files of
// plain 8-bit RGB(A) take a direct decode, and every reader checks, before it allocates,
// that the file's data can fill the picture at its codec's best. Pictures are generated
// here at sizes on both sides of each (a small one, one past a megabyte, one past 8 MiB,
// a tall thin one and a large flat one, which packs as tightly as its codec can), written
// by independent tools in the layouts they produce, and each is loaded as the dialog
// loads a file and compared pixel by pixel with the reference decoder of its format.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "pictures/bitmap.h"
#include "pictures/registry.h"
#include "support/case_names.h"
#include "support/tool_files.h"

namespace {

using test_support::Bytes;
using test_support::PrintTo;
using test_support::RgbImage;

// The sizes a layout is tried at: every layout at the usual ones; the large and the flat
// picture, which take the tools seconds, with the layouts of distinct paths and codecs.
enum SizeSet : unsigned { kUsual = 1, kAtLarge = 2, kAtFlat = 4 };

struct Size {
  const char* name;
  int width;
  int height;
  unsigned set;
  bool flat = false;  // one colour all over, the most a codec can pack
};

// Below 64 KiB of file and a megabyte of samples.
constexpr Size kSmall{"Small", 61, 37, kUsual};
// Past 64 KiB of file, and past a megabyte of samples at three bytes a pixel. Its rows need
// no padding in the Bitmap at any depth, where some readers copy or decode whole rows in
// one piece (every other size has odd widths).
constexpr Size kMedium{"Medium", 704, 503, kUsual};
// Rows by the thousand: strips of one row, rows shorter than any buffer.
constexpr Size kTall{"Tall", 7, 15013, kUsual};
// A 24-bit Bitmap past 8 MiB.
constexpr Size kLarge{"Large", 1733, 1621, kAtLarge};
// A flat picture of 4 megapixels, packed as tightly as its codec can: the check that the
// data can fill the picture must let it through.
constexpr Size kFlat{"Flat", 2053, 2039, kAtFlat, true};

// One way a tool writes a picture, and how the reference decodes it. In `make`, {src} is
// the picture as an 8-bit PPM, {srca} with alpha as a PAM, {src16} as a 16-bit PPM; {out}
// is the file to write and {tmp} a scratch name. `reference` prints the decode of {in} as
// a PNM or PAM. {tool} is pictures.py beside this file.
struct Layout {
  std::string name;
  std::string make;
  std::string extension;
  std::string reference;
  int tolerance = 0;  // per channel
  unsigned sizes = kUsual;
  // A command that writes {base}, which `make` then uses: made once for every layout that
  // names the same command.
  std::string base = {};
};

// The layout, tried at the large or the flat size too.
Layout At(unsigned sizes, Layout layout) {
  layout.sizes |= sizes;
  return layout;
}

// ---- References.

// libtiff's RGBA interface.
const std::string kLibtiff =
    "tiff2rgba -c none -n {in} {tmp}.ref.tif && tifftopnm -quiet {tmp}.ref.tif";
// Pillow keeps alpha apart from the colours, as we do (libtiff's RGBA interface
// multiplies them).
const std::string kPillow = "{tool} pam {in}";
// At 8 bits: ImageMagick writes a picture of 16 colours with samples of 4 bits otherwise.
const std::string kMagick = "convert {in} -colorspace sRGB -depth 8 pam:-";
const std::string kMagickUpright = "convert {in} -auto-orient -depth 8 pam:-";

// ---- Layouts of each format.

// TIFF: a picture ImageMagick or Pillow writes, copied by tiffcp into each layout.
Layout Tiff(const std::string& source, const std::string& options,
            const std::string& reference = kLibtiff, int tolerance = 0) {
  static const std::map<std::string, std::string> kSources = {
      {"rgb", "convert {src} -compress none {base}"},
      {"grey", "convert {src} -colorspace Gray -depth 8 -compress none {base}"},
      {"palette", "convert {src} +dither -posterize 6 -type Palette -compress none {base}"},
      {"palette4",
       "convert {src} +dither -posterize 2 -type Palette -depth 4 -compress none {base}"},
      {"mono", "convert {src} +dither -monochrome -depth 1 -type bilevel -compress none {base}"},
      {"cmyk", "convert {src} -colorspace CMYK -compress none {base}"},
      {"rgb16", "convert {src16} -depth 16 -compress none {base}"},
      {"grey16", "convert {src16} -colorspace Gray -depth 16 -compress none {base}"},
      {"rgba", "{tool} save {srca} {base} RGBA"},
      {"greya", "{tool} save {srca} {base} LA"},
  };
  return {source + " " + options,       "tiffcp " + options + " {base} {out}", "tif", reference,
          tolerance, kUsual,            kSources.at(source)};
}

Layout OrientedTiff(int orientation, const std::string& options) {
  Layout layout = Tiff("rgb", options, kMagickUpright);
  layout.name += " orientation " + std::to_string(orientation);
  layout.make += " && tiffset -s 274 " + std::to_string(orientation) + " {out}";
  return layout;
}

std::vector<Layout> TiffLayouts() {
  std::vector<Layout> layouts = {
      // Our own reader: strips, uncompressed, LZW or PackBits, chunky or planar.
      At(kAtLarge, Tiff("rgb", "-c none")),
      At(kAtFlat, Tiff("rgb", "-c lzw -r 1")),
      At(kAtLarge | kAtFlat, Tiff("rgb", "-c lzw:2 -r 16")),
      At(kAtLarge | kAtFlat, Tiff("rgb", "-c packbits -r 7")),
      At(kAtLarge, Tiff("rgb", "-c none -p separate -r 16")),
      Tiff("rgb", "-c lzw -B"),
      Tiff("rgb", "-c lzw:2 -B -p separate"),
      Tiff("grey", "-c none"),
      At(kAtFlat, Tiff("grey", "-c lzw:2 -r 5")),
      Tiff("palette", "-c lzw"),
      Tiff("palette4", "-c packbits -B"),
      Tiff("mono", "-c none"),
      At(kAtFlat, Tiff("mono", "-c packbits")),
      Tiff("cmyk", "-c lzw", kLibtiff, 1),
      Tiff("rgb16", "-c none", kLibtiff, 1),
      At(kAtLarge, Tiff("rgb16", "-c lzw:2 -B", kLibtiff, 1)),
      Tiff("grey16", "-c lzw", kLibtiff, 1),
      At(kAtLarge, Tiff("rgba", "-c lzw", kPillow)),
      Tiff("rgba", "-c none -p separate", kPillow),
      Tiff("greya", "-c lzw", kPillow),
      // libtiff's strips and tiles, on two threads from a megabyte of samples on.
      At(kAtLarge | kAtFlat, Tiff("rgb", "-c zip -r 16")),
      At(kAtLarge, Tiff("rgb", "-c zip:2 -p separate -r 16")),
      At(kAtLarge | kAtFlat, Tiff("rgb", "-c jpeg -r 16", kLibtiff, 1)),
      At(kAtFlat, Tiff("rgb", "-c jpeg:r -r 16", kLibtiff, 1)),
      At(kAtLarge, Tiff("rgb", "-c jpeg -r 8 -t -w 64 -l 64", kLibtiff, 1)),
      Tiff("rgb", "-c jpeg -t -w 256 -l 256", kLibtiff, 1),
      At(kAtFlat, Tiff("grey", "-c jpeg -r 32", kLibtiff, 1)),
      At(kAtFlat, Tiff("rgb", "-c lzma -r 32")),
      At(kAtFlat, Tiff("rgb", "-c zstd -r 32")),
      At(kAtLarge, Tiff("rgb", "-c lzw -t -w 64 -l 32")),
      Tiff("rgb", "-c zip -t -w 16 -l 16 -p separate"),
      Tiff("rgb", "-c lzw -r 1 -f lsb2msb"),
      At(kAtLarge, Tiff("rgb", "-8 -c lzw")),
      Tiff("rgb", "-8 -B -c zip -t -w 128 -l 128"),
      Tiff("grey", "-c zip -t -w 32 -l 32"),
      Tiff("palette", "-c zip -r 16 -B"),
      At(kAtFlat, Tiff("mono", "-c g3")),
      At(kAtFlat, Tiff("mono", "-c g4 -r 16")),
      Tiff("mono", "-c g4 -t -w 64 -l 64"),
      At(kAtLarge, Tiff("cmyk", "-c zip -r 16", kLibtiff, 1)),
      At(kAtLarge, Tiff("rgb16", "-c zip -r 16", kLibtiff, 1)),
      At(kAtLarge, Tiff("rgba", "-c zip -r 16", kPillow)),
      Tiff("rgba", "-c zip -t -w 64 -l 64", kPillow),
  };
  for (int orientation = 1; orientation <= 8; ++orientation)
    layouts.push_back(OrientedTiff(orientation, "-c none"));
  // Bottom-up rows (orientation 4) are decoded on two threads too.
  layouts.push_back(At(kAtLarge, OrientedTiff(4, "-c zip -r 16")));
  layouts.push_back(At(kAtLarge, OrientedTiff(6, "-c zip -r 16")));
  return layouts;
}

// PNG through libpng (pngtopam), 16-bit samples rounded to 8 by both.
Layout Png(const std::string& name, const std::string& make, int tolerance = 0) {
  return {name, make, "png", "pngtopam -alphapam {in}", tolerance};
}

std::vector<Layout> PngLayouts() {
  return {
      // The direct path: plain 8-bit RGB and RGBA, in one or many image data chunks.
      At(kAtLarge | kAtFlat, Png("rgb", "convert {src} PNG24:{out}")),
      At(kAtLarge | kAtFlat, Png("rgba", "convert {srca} PNG32:{out}")),
      At(kAtLarge, Png("rgb in chunks of 100 bytes",
                       "convert {src} PNG24:{tmp}.png && {tool} rechunk {tmp}.png {out} 100")),
      At(kAtLarge, Png("rgba in chunks of 4000 bytes",
          "convert {srca} PNG32:{tmp}.png && {tool} rechunk {tmp}.png {out} 4000")),
      Png("rgb by Pillow", "{tool} save {src} {out} RGB"),
      Png("rgba by Pillow, packed hard", "{tool} save {srca} {out} RGBA compress_level=9"),
      Png("rgb stored", "convert {src} -define png:compression-level=0 PNG24:{out}"),
      // libpng: every other colour type and depth.
      At(kAtFlat, Png("grey 1", "{tool} save {src} {out} 1")),
      Png("grey 2", "convert {src} -colorspace Gray -depth 2 -define png:color-type=0 "
                    "-define png:bit-depth=2 {out}"),
      Png("grey 4", "convert {src} -colorspace Gray -depth 4 -define png:color-type=0 "
                    "-define png:bit-depth=4 {out}"),
      Png("grey 8", "{tool} save {src} {out} L"),
      Png("grey 16", "convert {src16} -colorspace Gray -depth 16 -define png:color-type=0 {out}",
          1),
      Png("grey and alpha", "{tool} save {srca} {out} LA"),
      Png("grey and alpha 16", "convert {srca} -colorspace Gray -depth 16 "
                               "-define png:color-type=4 {out}", 1),
      At(kAtLarge, Png("rgb 16", "convert {src16} -depth 16 PNG48:{out}", 1)),
      Png("rgba 16", "convert {srca} -depth 16 PNG64:{out}", 1),
      At(kAtFlat, Png("palette 1", "{tool} save {src} {out} Q2 bits=1")),
      Png("palette 2", "{tool} save {src} {out} Q4 bits=2"),
      Png("palette 4", "convert {src} +dither -posterize 2 -define png:color-type=3 "
                       "-define png:bit-depth=4 {out}"),
      At(kAtLarge, Png("palette 8", "convert {src} +dither -posterize 6 PNG8:{out}")),
      Png("palette with transparency", "convert {srca} -channel A -threshold 50% +channel "
                                       "+dither -posterize 4 PNG8:{out}"),
      // pngtopam does not take a transparent colour of an RGB picture: Pillow does.
      {"rgb with a transparent colour", "{tool} save {src} {out} RGB transparency=201,87,36",
       "png", kPillow},
      At(kAtLarge | kAtFlat, Png("interlaced rgb", "convert {src} -interlace PNG PNG24:{out}")),
      Png("interlaced rgba 16", "convert {srca} -depth 16 -interlace PNG PNG64:{out}", 1),
      Png("interlaced palette", "convert {src} +dither -posterize 3 -interlace PNG PNG8:{out}"),
  };
}

// GIF through netpbm's own decoder.
Layout Gif(const std::string& name, const std::string& make) {
  return {name, make, "gif", "giftopnm {in}"};
}

std::vector<Layout> GifLayouts() {
  return {
      At(kAtLarge, Gif("216 colours", "convert {src} +dither -posterize 6 {out}")),
      At(kAtLarge, Gif("interlaced", "convert {src} +dither -posterize 5 -interlace GIF {out}")),
      At(kAtFlat, Gif("2 colours", "convert {src} +dither -monochrome {out}")),
      Gif("8 colours, 87a", "pnmdepth 1 {src} | ppmtogif > {out}"),
      Gif("by Pillow", "{tool} save {src} {out} P"),
      Gif("transparent colour",
          "convert {srca} -channel A -threshold 50% +channel +dither -posterize 4 {out}"),
  };
}

// JPEG through libjpeg's own djpeg; pictures turned by EXIF are turned by the reference
// after djpeg's decode.
Layout Jpeg(const std::string& name, const std::string& options) {
  return {name, "cjpeg " + options + " {src} > {out}", "jpg", "djpeg -pnm {in}"};
}

std::vector<Layout> JpegLayouts() {
  std::vector<Layout> layouts = {
      At(kAtLarge | kAtFlat, Jpeg("baseline 4:2:0", "-quality 85")),
      Jpeg("4:2:2", "-sample 2x1"),
      At(kAtFlat, Jpeg("4:4:4", "-sample 1x1 -quality 95")),
      Jpeg("4:1:1", "-sample 4x1"),
      At(kAtLarge | kAtFlat, Jpeg("progressive", "-progressive")),
      At(kAtLarge, Jpeg("restart every row", "-restart 1")),
      Jpeg("restart every 5 blocks", "-restart 5B -optimize"),
      At(kAtFlat, Jpeg("grey", "-grayscale")),
      Jpeg("grey progressive", "-grayscale -progressive"),
      At(kAtLarge | kAtFlat, Jpeg("arithmetic", "-arithmetic")),
      At(kAtFlat, Jpeg("arithmetic progressive", "-arithmetic -progressive")),
      {"CMYK", "convert {src} -colorspace CMYK -quality 90 {out}", "jpg", kMagick, 2},
  };
  for (int orientation = 2; orientation <= 8; ++orientation)
    layouts.push_back({"orientation " + std::to_string(orientation),
                       "cjpeg {src} > {tmp}.jpg && {tool} orient {tmp}.jpg {out} " +
                           std::to_string(orientation),
                       "jpg", "djpeg -pnm {in} | {tool} turn " + std::to_string(orientation)});
  return layouts;
}

// WebP through libwebp's own dwebp.
Layout Webp(const std::string& name, const std::string& make) {
  return {name, make, "webp", "dwebp {in} -pam -o - -quiet"};
}

std::vector<Layout> WebpLayouts() {
  return {
      At(kAtLarge | kAtFlat, Webp("lossy", "cwebp -quiet -q 80 {src} -o {out}")),
      At(kAtFlat, Webp("lossless", "cwebp -quiet -lossless {src} -o {out}")),
      Webp("lossy with alpha", "cwebp -quiet -q 80 {srca} -o {out}"),
      At(kAtLarge, Webp("lossless with alpha", "cwebp -quiet -lossless -exact {srca} -o {out}")),
      {"animation, first frame",
       "convert {src} {tmp}.png && convert {src} -negate {tmp}2.png && "
       "img2webp -lossless {tmp}.png {tmp}2.png -o {out}",
       "webp", "webpmux -get frame 1 {in} -o {tmp}.webp && dwebp {tmp}.webp -pam -o - -quiet"},
  };
}

// Windows bitmaps through Pillow (ImageMagick takes the colours of 4-bit pictures wrongly).
std::vector<Layout> BmpLayouts() {
  const auto bmp = [](const std::string& name, const std::string& make, int tolerance = 0) {
    return Layout{name, make, "bmp", kPillow, tolerance};
  };
  return {
      At(kAtLarge, bmp("24-bit", "convert {src} BMP3:{out}")),
      At(kAtLarge, bmp("32-bit with alpha", "convert {srca} BMP:{out}")),
      bmp("8-bit", "convert {src} +dither -posterize 6 -type Palette BMP3:{out}"),
      At(kAtLarge | kAtFlat,
         bmp("8-bit run-length",
             "convert {src} +dither -posterize 6 -type Palette -compress RLE BMP3:{out}")),
      // Pillow's run-length 4-bit decode is wrong; ImageMagick's is right.
      {"4-bit run-length", "{tool} rle4 {src} {out}", "bmp", kMagick, 0, kUsual | kAtFlat},
      bmp("4-bit", "pnmdepth 1 {src} | ppmtobmp -bpp 4 > {out}"),
      bmp("1-bit",
          "convert {src} +dither -monochrome {tmp}.pbm && ppmtobmp -bpp 1 {tmp}.pbm > {out}"),
      // Five and six bits are widened by rounding here, by repeating their top bits there.
      bmp("16-bit 5-6-5", "convert {src} -define bmp:subtype=RGB565 {out}", 1),
      bmp("by Pillow", "{tool} save {src} {out} RGB"),
  };
}

std::vector<Layout> PsdLayouts() {
  // The merged picture is the first of ImageMagick's.
  const auto psd = [](const std::string& name, const std::string& make, int tolerance = 0) {
    return Layout{name, make, "psd", "convert {in}'[0]' -colorspace sRGB -depth 8 pam:-",
                  tolerance};
  };
  return {
      At(kAtLarge | kAtFlat, psd("rgb packed", "convert {src} -compress RLE {out}")),
      At(kAtLarge, psd("rgb raw", "convert {src} -compress none {out}")),
      psd("grey packed", "convert {src} -colorspace Gray -compress RLE {out}"),
      At(kAtLarge, psd("16-bit", "convert {src16} -depth 16 {out}", 1)),
      psd("cmyk", "convert {src} -colorspace CMYK {out}", 1),
  };
}

std::vector<Layout> PcxLayouts() {
  const auto pcx = [](const std::string& name, const std::string& make) {
    return Layout{name, make, "pcx", "pcxtoppm {in}"};
  };
  return {
      At(kAtLarge | kAtFlat, pcx("24-bit planes by Pillow", "{tool} save {src} {out} RGB")),
      pcx("256 colours by Pillow", "{tool} save {src} {out} P"),
      pcx("grey by Pillow", "{tool} save {src} {out} L"),
      At(kAtFlat, pcx("monochrome by Pillow", "{tool} save {src} {out} 1")),
      pcx("24-bit by netpbm", "ppmtopcx -24bit {src} > {out}"),
      pcx("8 colours in planes", "pnmdepth 1 {src} | ppmtopcx -planes 4 > {out}"),
      At(kAtLarge | kAtFlat,
         pcx("216 colours by netpbm", "pnmdepth 5 {src} | ppmtopcx -8bit > {out}")),
  };
}

// Targa through netpbm, and Pillow where there is alpha. (ImageMagick writes its rows top
// row first while the descriptor says bottom row first, and reads them so too: neither
// netpbm nor Pillow agrees, and its files are left out.)
std::vector<Layout> TargaLayouts() {
  const auto tga = [](const std::string& name, const std::string& make,
                      const std::string& reference = "tgatoppm {in}") {
    return Layout{name, make, "tga", reference};
  };
  return {
      tga("rgb raw", "{tool} save {src} {out} RGB"),
      At(kAtLarge | kAtFlat, tga("rgb packed", "{tool} save {src} {out} RGB compression=tga_rle")),
      At(kAtLarge, tga("rgba raw", "{tool} save {srca} {out} RGBA", kPillow)),
      tga("rgba packed", "{tool} save {srca} {out} RGBA compression=tga_rle", kPillow),
      At(kAtFlat, tga("grey packed", "{tool} save {src} {out} L compression=tga_rle")),
      At(kAtFlat, tga("colour-mapped packed", "{tool} save {src} {out} P compression=tga_rle")),
      tga("colour-mapped by netpbm", "pnmdepth 5 {src} | ppmtotga -cmap > {out}"),
      tga("rgb raw by netpbm", "ppmtotga -rgb -norle {src} > {out}"),
  };
}

std::vector<Layout> SgiLayouts() {
  const auto sgi = [](const std::string& name, const std::string& make, int tolerance = 0) {
    return Layout{name, make, "sgi", kMagick, tolerance};
  };
  return {
      sgi("rgb verbatim by Pillow", "{tool} save {src} {out} RGB"),
      At(kAtLarge, sgi("rgba verbatim by Pillow", "{tool} save {srca} {out} RGBA")),
      sgi("grey verbatim by Pillow", "{tool} save {src} {out} L"),
      At(kAtLarge | kAtFlat, sgi("rgb packed by ImageMagick", "convert {src} -compress RLE {out}")),
      sgi("rgba packed by ImageMagick", "convert {srca} -compress RLE {out}"),
      At(kAtLarge | kAtFlat,
         sgi("16-bit packed by ImageMagick", "convert {src16} -depth 16 -compress RLE {out}", 1)),
      At(kAtFlat, sgi("rgb packed by netpbm", "pnmtosgi -rle {src} > {out}")),
      sgi("grey packed by netpbm", "ppmtopgm {src} | pnmtosgi -rle > {out}"),
  };
}

std::vector<Layout> NetpbmLayouts() {
  const auto pnm = [](const std::string& name, const std::string& make,
                      const std::string& extension, int tolerance = 0) {
    return Layout{name, make, extension, kMagick, tolerance};
  };
  return {
      At(kAtLarge, pnm("raw colour", "cp {src} {out}", "ppm")),
      pnm("raw grey", "ppmtopgm {src} > {out}", "pgm"),
      pnm("raw bitmap", "ppmtopgm {src} | pgmtopbm > {out}", "pbm"),
      pnm("text colour", "pnmtoplainpnm {src} > {out}", "ppm"),
      pnm("text grey", "ppmtopgm {src} | pnmtoplainpnm > {out}", "pgm"),
      pnm("text bitmap", "ppmtopgm {src} | pgmtopbm | pnmtoplainpnm > {out}", "pbm"),
      At(kAtLarge, pnm("16-bit colour", "cp {src16} {out}", "ppm", 1)),
      pnm("16-bit grey", "ppmtopgm {src16} > {out}", "pgm", 1),
      pnm("maximum 1000", "pnmdepth 1000 {src} > {out}", "ppm", 1),
  };
}

// Amiga IFF as netpbm writes it, read back by netpbm.
std::vector<Layout> IlbmLayouts() {
  const auto iff = [](const std::string& name, const std::string& make) {
    return Layout{name, make, "iff", "ilbmtoppm {in}"};
  };
  return {
      At(kAtLarge | kAtFlat, iff("24 planes packed", "ppmtoilbm -24force {src} > {out}")),
      At(kAtLarge, iff("24 planes plain", "ppmtoilbm -24force -nocompress {src} > {out}")),
      At(kAtFlat, iff("216 colours packed", "pnmdepth 5 {src} | ppmtoilbm -maxplanes 8 > {out}")),
      iff("hold-and-modify six planes", "ppmtoilbm -hamforce {src} > {out}"),
      iff("hold-and-modify eight planes", "ppmtoilbm -ham8 {src} > {out}"),
  };
}

std::vector<Layout> SunRasterLayouts() {
  const auto ras = [](const std::string& name, const std::string& make) {
    return Layout{name, make, "ras", "rasttopnm {in}"};
  };
  return {
      At(kAtLarge, ras("24-bit", "pnmtorast {src} > {out}")),
      At(kAtFlat, ras("216 colours packed", "pnmdepth 5 {src} | pnmtorast -rle > {out}")),
      ras("grey", "ppmtopgm {src} | pnmtorast > {out}"),
      ras("monochrome", "ppmtopgm {src} | pgmtopbm | pnmtorast > {out}"),
  };
}

// X pixmaps and bitmaps: text. netpbm names colours where it can, and its own colour list
// reads "Magenta" back as another colour than X11's, so ImageMagick reads the pixmaps.
// (A picture of one colour is left out: netpbm writes it with no characters a pixel,
// which neither ImageMagick nor we read.)
std::vector<Layout> XpmLayouts() {
  return {
      Layout{"216 colours", "pnmdepth 5 {src} | ppmtoxpm > {out}", "xpm", kMagick},
      Layout{"bitmap", "ppmtopgm {src} | pgmtopbm | pbmtoxbm > {out}", "xbm", "xbmtopbm {in}"},
  };
}

// DDS as ImageMagick writes it (the first level is read), decoded by Pillow.
std::vector<Layout> DdsLayouts() {
  const auto dds = [](const std::string& name, const std::string& make, int tolerance = 0) {
    return Layout{name, make, "dds", kPillow, tolerance};
  };
  return {
      At(kAtLarge, dds("uncompressed", "convert {src} -define dds:compression=none {out}")),
      dds("uncompressed with alpha", "convert {srca} -define dds:compression=none {out}"),
      // Pillow cuts the colours BC1 to BC3 interpolate down, we round them.
      At(kAtFlat, dds("BC1", "convert {src} -define dds:compression=dxt1 -define dds:mipmaps=0 {out}", 1)),
      dds("BC3 with alpha", "convert {srca} -define dds:compression=dxt5 -define dds:mipmaps=0 {out}", 1),
  };
}

// Float maps and Radiance pictures hold linear light; ImageMagick's decode is taken to sRGB
// by ImageMagick.
const std::string kMagickFromLinear = "convert {in} -set colorspace RGB -colorspace sRGB -depth 8 ppm:-";

std::vector<Layout> PfmLayouts() {
  return {
      At(kAtLarge, Layout{"colour", "pamtopfm {src} > {out}", "pfm", kMagickFromLinear, 1}),
      Layout{"grey, little-endian", "ppmtopgm {src} | pamtopfm -endian little > {out}", "pfm", kMagickFromLinear, 1},
  };
}

// ImageMagick packs the rows of pictures 8 to 32767 pixels wide, and stores narrower ones
// flat.
std::vector<Layout> RadianceLayouts() {
  return {At(kAtLarge | kAtFlat, Layout{"by ImageMagick", "convert {src} {out}", "hdr", kMagickFromLinear, 1})};
}

// QOI, which no tool here writes: pictures.py writes it, and the picture it was made from is
// the reference (the format is lossless).
std::vector<Layout> QoiLayouts() {
  return {
      Layout{"rgb", "{tool} qoi {src} {out}", "qoi", "cat {src}"},
      Layout{"rgba", "{tool} qoi {srca} {out}", "qoi", "{tool} pam {srca}"},
  };
}

// JPEG XL and JPEG 2000 through their libraries, against the libraries' own tools.
std::vector<Layout> JxlLayouts() {
  const std::string reference = "djxl {in} {tmp}.ppm >/dev/null 2>&1 && cat {tmp}.ppm";
  return {
      Layout{"lossless", "cjxl {src} {out} -d 0", "jxl", reference},
      At(kAtLarge, Layout{"lossy", "cjxl {src} {out} -d 1", "jxl", reference}),
  };
}

std::vector<Layout> Jpeg2000Layouts() {
  const auto jp2 = [](const std::string& name, const std::string& make, const std::string& extension) {
    return Layout{name, make, extension, "opj_decompress -i {in} -o {tmp}.ppm >/dev/null && cat {tmp}.ppm"};
  };
  return {
      // Three resolution levels: the tall picture is too narrow for the six of the default.
      jp2("lossless", "opj_compress -i {src} -o {out} -n 3 >/dev/null", "jp2"),
      At(kAtLarge | kAtFlat, jp2("lossy in tiles", "opj_compress -i {src} -o {out} -r 20 -t 256,256 >/dev/null", "j2k")),
  };
}

// ---- Pictures.

// Three bands side by side (one above the other in a tall picture): a smooth gradient,
// noise, and a flat colour, which codecs treat each in their own way; the alpha ramps
// from transparent to opaque along the picture.
RgbImage Content(const Size& size, bool alpha) {
  RgbImage image;
  image.width = size.width;
  image.height = size.height;
  image.rgb.resize(size_t(size.width) * size.height * 3);
  if (alpha) image.alpha.resize(size_t(size.width) * size.height);
  const bool tall = size.height > size.width;
  uint32_t noise = 12345;
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x) {
      const size_t i = size_t(y) * size.width + x;
      uint8_t* p = &image.rgb[i * 3];
      const int along = tall ? y : x, length = tall ? size.height : size.width;
      const int band = size.flat ? 2 : along * 3 / length;
      noise = noise * 1103515245 + 12345;
      if (band == 0) {
        p[0] = uint8_t(x * 255 / std::max(1, size.width - 1));
        p[1] = uint8_t(y * 255 / std::max(1, size.height - 1));
        p[2] = uint8_t((x + y) * 255 / std::max(1, size.width + size.height - 2));
      } else if (band == 1) {
        p[0] = uint8_t(noise >> 24);
        p[1] = uint8_t(noise >> 16);
        p[2] = uint8_t(noise >> 8);
      } else {
        p[0] = 201;
        p[1] = 87;
        p[2] = 36;
      }
      if (alpha) image.alpha[i] = size.flat ? 200 : uint8_t(along * 255 / std::max(1, length - 1));
    }
  return image;
}

// The picture as a PPM of 16-bit samples whose low bytes vary too.
Bytes SixteenBitPpm(const RgbImage& image) {
  const std::string header =
      "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n65535\n";
  Bytes bytes(header.begin(), header.end());
  for (size_t i = 0; i < image.rgb.size(); ++i) {
    bytes.push_back(image.rgb[i]);
    bytes.push_back(uint8_t(i * 37 + (i >> 7)));
  }
  return bytes;
}

struct Group {
  const char* name;
  std::vector<Layout> (*layouts)();
  Size size;
};

class FastPaths : public ::testing::TestWithParam<Group> {
 protected:
  static void SetUpTestSuite() { pictures::RegisterReaders(); }

  void SetUp() override {
    for (const char* tool :
         {test_support::kConvert, test_support::kPython, "/usr/bin/tiffcp", "/usr/bin/tiffset",
          "/usr/bin/tiff2rgba", "/usr/bin/tifftopnm", "/usr/bin/pngtopam", "/usr/bin/cjpeg",
          "/usr/bin/djpeg", "/usr/bin/cwebp", "/usr/bin/dwebp", "/usr/bin/img2webp",
          "/usr/bin/webpmux", "/usr/bin/giftopnm", "/usr/bin/ppmtogif", "/usr/bin/pcxtoppm",
          "/usr/bin/ppmtopcx", "/usr/bin/ppmtobmp", "/usr/bin/tgatoppm", "/usr/bin/ppmtotga",
          "/usr/bin/pnmtosgi", "/usr/bin/pnmdepth", "/usr/bin/pnmtoplainpnm", "/usr/bin/ppmtoilbm",
          "/usr/bin/ilbmtoppm", "/usr/bin/pnmtorast", "/usr/bin/rasttopnm", "/usr/bin/ppmtoxpm",
          "/usr/bin/xpmtoppm", "/usr/bin/pbmtoxbm", "/usr/bin/xbmtopbm", "/usr/bin/pamtopfm",
          "/usr/bin/cjxl", "/usr/bin/djxl", "/usr/bin/opj_compress", "/usr/bin/opj_decompress"})
      REQUIRE_TOOL(tool);
    const Size& size = GetParam().size;
    const RgbImage content = Content(size, true);
    RgbImage opaque = content;
    opaque.alpha.clear();
    test_support::WriteFileBytes(dir_.File("src.ppm"), test_support::EncodePnm(opaque));
    test_support::WriteFileBytes(dir_.File("srca.pam"), test_support::EncodePnm(content));
    test_support::WriteFileBytes(dir_.File("src16.ppm"), SixteenBitPpm(opaque));
  }

  std::string Fill(const std::string& command, const std::string& in,
                   const std::string& base = {}) const {
    const std::string tool = std::string(test_support::kPython) + " " +
                             test_support::ShellQuote(IMPORTDLG_DIFFERENTIAL_TOOL);
    std::string filled = test_support::FillPaths(command, {{"{srca}", dir_.File("srca.pam")},
                                                           {"{src16}", dir_.File("src16.ppm")},
                                                           {"{src}", dir_.File("src.ppm")},
                                                           {"{base}", base},
                                                           {"{out}", in},
                                                           {"{in}", in},
                                                           {"{tmp}", dir_.File("scratch")}});
    for (size_t at; (at = filled.find("{tool}")) != std::string::npos;)
      filled.replace(at, 6, tool);
    return filled;
  }

  // The file the layout's base command writes, made on first use.
  std::string Base(const Layout& layout) {
    if (layout.base.empty()) return {};
    auto [known, added] = bases_.try_emplace(layout.base, "");
    if (added) {
      known->second = dir_.File("base-" + std::to_string(bases_.size()) + ".tif");
      const auto made = test_support::RunCommand(Fill(layout.base, {}, known->second));
      EXPECT_EQ(made.status, 0) << made.output;
    }
    return known->second;
  }

  void Compare(const Layout& layout) {
    const auto start = std::chrono::steady_clock::now();
    const std::string file = dir_.File("picture." + layout.extension);
    const auto made = test_support::RunCommand(Fill(layout.make, file, Base(layout)));
    ASSERT_EQ(made.status, 0) << made.output;
    const RgbImage reference = test_support::DecodeWith(Fill(layout.reference, file));

    pictures::Picture picture;
    ASSERT_NO_THROW(picture.LoadFile(file));
    const pictures::Bitmap& ours = *picture.Graphic();
    EXPECT_TRUE(test_support::DecodedMatches(ours, reference, layout.tolerance));
    if (!ours.Transparent() && ours.GetPixelFormat() == pictures::PixelFormat::Bits32 &&
        !reference.alpha.empty()) {
      EXPECT_TRUE(test_support::AlphaMatches(ours, reference, layout.tolerance));
    }
    // The bitmap file is written from a megabyte of converted rows at a time.
    if (uint64_t(ours.Width()) * ours.Height() * 3 >= (1u << 20)) {
      const std::string bmp = dir_.File("converted.bmp");
      pictures::SaveAs24BitBitmap(ours, bmp);
      pictures::Bitmap written;
      written.LoadFile(bmp);
      RgbImage drawn = ours.Transparent() ? test_support::OverWhite(reference) : reference;
      drawn.alpha.clear();
      EXPECT_TRUE(test_support::BitmapMatches(written, drawn, 2 * layout.tolerance))
          << "as written";
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%-6s %-6s %-40s %9zu bytes of file, %9zu of Bitmap, %5.2f s\n",
                GetParam().name, GetParam().size.name, layout.name.c_str(),
                test_support::ReadFileBytes(file).size(),
                size_t(ours.RowStride()) * size_t(ours.Height()), took.count());
  }

  test_support::TempDir dir_;
  std::map<std::string, std::string> bases_;  // command: file
};

TEST_P(FastPaths, MatchTheReferenceDecoder) {
  for (const Layout& layout : GetParam().layouts()) {
    if (!(layout.sizes & GetParam().size.set)) continue;
    SCOPED_TRACE(layout.name);
    Compare(layout);
  }
}

std::vector<Group> Groups() {
  const std::pair<const char*, std::vector<Layout> (*)()> formats[] = {
      {"Tiff", TiffLayouts},   {"Png", PngLayouts},     {"Gif", GifLayouts},
      {"Jpeg", JpegLayouts},   {"Webp", WebpLayouts},   {"Bmp", BmpLayouts},
      {"Psd", PsdLayouts},     {"Pcx", PcxLayouts},     {"Targa", TargaLayouts},
      {"Sgi", SgiLayouts},     {"Netpbm", NetpbmLayouts}, {"Ilbm", IlbmLayouts},
      {"SunRaster", SunRasterLayouts}, {"Xpm", XpmLayouts}, {"Dds", DdsLayouts},
      {"Pfm", PfmLayouts}, {"Radiance", RadianceLayouts}, {"Jxl", JxlLayouts},
      {"Jpeg2000", Jpeg2000Layouts}, {"Qoi", QoiLayouts},
  };
  std::vector<Group> groups;
  for (const auto& [name, layouts] : formats)
    for (const Size& size : {kSmall, kMedium, kTall, kLarge, kFlat})
      groups.push_back({name, layouts, size});
  return groups;
}

INSTANTIATE_TEST_SUITE_P(Differential, FastPaths, ::testing::ValuesIn(Groups()),
                         [](const auto& info) {
                           return std::string(info.param.name) + info.param.size.name;
                         });

}  // namespace
