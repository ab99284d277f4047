// Helpers for tests that compare our readers with independent tools: run a command, keep
// files in a temporary folder, read the tools' binary PNM/PAM output as RGB(A) and compare
// a decoded Bitmap with it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "pictures/bitmap.h"

namespace test_support {

using Bytes = std::vector<uint8_t>;

struct CommandResult {
  int status = -1;     // the exit status, or -1 when the command did not exit normally
  std::string output;  // standard output and standard error together
};

// Runs `command` through /bin/sh and collects its output.
CommandResult RunCommand(const std::string& command);
// Quotes a text for /bin/sh.
std::string ShellQuote(const std::string& text);
// Replaces every occurrence of each key in `command` (such as "{out}" or "SRC") with its
// path, quoted for /bin/sh.
std::string FillPaths(std::string command,
                      std::initializer_list<std::pair<std::string, std::string>> paths);
// True when `path` names an executable file (use it to skip tests when a tool is missing).
// With CI=true in the environment a missing tool also records a test failure, so such a
// test fails rather than skips.
bool ToolAvailable(const std::string& path);
// True when the tests run under continuous integration (CI=true), where a missing tool is
// a fault of the machine rather than a reason to skip.
bool UnderCI();

// The independent tools the picture tests use. ImageMagick's convert is the one in
// /usr/bin; /usr/bin/python3 is the interpreter that has PIL.
inline constexpr const char* kConvert = "/usr/bin/convert";
inline constexpr const char* kPython = "/usr/bin/python3";

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // The path of `name` inside the folder.
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes);

// A picture as 8-bit red, green, blue triples (and alpha when the source had it), top row
// first.
struct RgbImage {
  int width = 0;
  int height = 0;
  Bytes rgb;    // 3 * width * height
  Bytes alpha;  // width * height, or empty when the source had no alpha

  const uint8_t* Pixel(int x, int y) const { return &rgb[(size_t(y) * width + x) * 3]; }
};

// Reads a binary PBM (P4), PGM (P5), PPM (P6) or PAM (P7: GRAYSCALE, GRAYSCALE_ALPHA, RGB,
// RGB_ALPHA, BLACKANDWHITE) file or text. Samples with a maxval other than 255 are scaled
// to 0..255 with rounding. Raises std::runtime_error on anything else.
RgbImage ReadPnm(std::span<const uint8_t> bytes);
RgbImage ReadPnmFile(const std::string& path);

// Runs a shell command whose standard output is a PNM or PAM file (a tool's own decode of
// a test file, e.g. "/usr/bin/convert 'x.bmp' pam:-") and reads that output. Raises
// std::runtime_error when the command fails.
RgbImage DecodeWith(const std::string& command);
// Pillow's own decode of a picture file as RGB with alpha (16-bit samples rounded to 8).
RgbImage DecodeWithPillow(const std::string& path);

// The Bitmap's pixels as RGB (through the library's own row conversion) and, for 32-bit
// Bitmaps, their alpha.
RgbImage FromBitmap(const pictures::Bitmap& bitmap);

// Compares the Bitmap's colours with `expected`, allowing each channel to differ by up to
// `tolerance`. On failure the message names the first differing pixel and the count of
// differing pixels.
::testing::AssertionResult BitmapMatches(const pictures::Bitmap& bitmap,
                                         const RgbImage& expected, int tolerance = 0);
// Compares two pictures channel by channel: sizes, colours and, when both have it, alpha.
::testing::AssertionResult ImagesMatch(const RgbImage& actual, const RgbImage& expected,
                                       int tolerance = 0);
// The picture drawn over white by its alpha, as the library draws transparent pictures.
RgbImage OverWhite(const RgbImage& image);
// Compares a decoded picture with a reference decode that has alpha: the colours as the
// library draws them (over white where the Bitmap is transparent, so the reference is
// blended the same way) and, for transparent Bitmaps, the alpha itself. Blending can move a
// colour that differs by `tolerance` by twice as much, which is allowed.
::testing::AssertionResult DecodedMatches(const pictures::Bitmap& bitmap,
                                          const RgbImage& reference, int tolerance = 0);
// Keeps the top `bits` bits of every colour sample and the top `alphaBits` of every alpha
// sample (for comparing pictures whose samples were widened differently from few bits).
RgbImage TopBits(RgbImage image, int bits, int alphaBits);
// Likewise for the alpha of a 32-bit Bitmap against `expected.alpha`.
::testing::AssertionResult AlphaMatches(const pictures::Bitmap& bitmap,
                                        const RgbImage& expected, int tolerance = 0);

// Writes, with ImageMagick, a 29x17 colourful PNG whose alpha ramps from left to right to
// `withAlpha` and, when `opaque` is not empty, the same picture without alpha to `opaque`:
// the sources that the tests of the modern formats give the encoders.
CommandResult MakeAlphaRampSources(const std::string& withAlpha, const std::string& opaque = {});

// A picture with every channel varying (and alpha too when `withAlpha`), for tools to
// convert into the format under test.
RgbImage TestPattern(int width, int height, bool withAlpha = false);
// The picture as a binary PPM (P6), or as a PAM (P7, RGB_ALPHA) when it has alpha.
Bytes EncodePnm(const RgbImage& image);

}  // namespace test_support

// In a test or fixture: skips when `tool` is missing, but fails under CI.
#define REQUIRE_TOOL(tool)                                                              \
  do {                                                                                  \
    if (!::test_support::ToolAvailable(tool)) {                                         \
      if (::test_support::UnderCI()) FAIL() << (tool) << " is not installed";           \
      GTEST_SKIP() << (tool) << " is not installed";                                    \
    }                                                                                   \
  } while (0)
