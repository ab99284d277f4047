#include "support/tool_files.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace test_support {

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen(("(" + command + ") 2>&1").c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run: " + command);
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

CommandResult MakeAlphaRampSources(const std::string& withAlpha, const std::string& opaque) {
  const std::string convert = std::string(kConvert) + " -size 29x17 -seed 4 plasma:fractal ";
  std::string command =
      convert + "-alpha set -channel A -fx 'i/w' +channel " + ShellQuote(withAlpha);
  if (!opaque.empty()) command += " && " + convert + "PNG24:" + ShellQuote(opaque);
  return RunCommand(command);
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

std::string FillPaths(std::string command,
                      std::initializer_list<std::pair<std::string, std::string>> paths) {
  for (const auto& [key, path] : paths) {
    const std::string quoted = ShellQuote(path);
    for (size_t at = 0; (at = command.find(key, at)) != std::string::npos; at += quoted.size())
      command.replace(at, key.size(), quoted);
  }
  return command;
}

bool ToolAvailable(const std::string& path) {
  if (::access(path.c_str(), X_OK) == 0) return true;
  // Continuous integration installs every tool (scripts/install-deps.sh), so there a
  // missing one fails the test instead of letting it skip unnoticed.
  const char* ci = std::getenv("CI");
  if (ci && std::string(ci) == "true")
    ADD_FAILURE() << path << " is not installed, and CI=true: scripts/install-deps.sh installs it";
  return false;
}

bool UnderCI() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/picture-test-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

namespace {

// Reads the next header token of a PNM file, skipping white space and comments.
std::string NextToken(std::span<const uint8_t> bytes, size_t& pos) {
  while (pos < bytes.size()) {
    if (bytes[pos] == '#') {
      while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
    } else if (std::isspace(bytes[pos])) {
      ++pos;
    } else {
      break;
    }
  }
  std::string token;
  while (pos < bytes.size() && !std::isspace(bytes[pos]) && bytes[pos] != '#')
    token += static_cast<char>(bytes[pos++]);
  if (token.empty()) throw std::runtime_error("PNM header ends early");
  return token;
}

int NumberToken(std::span<const uint8_t> bytes, size_t& pos) {
  const std::string token = NextToken(bytes, pos);
  size_t used = 0;
  const int value = std::stoi(token, &used);
  if (used != token.size() || value < 0) throw std::runtime_error("bad PNM number " + token);
  return value;
}

}  // namespace

RgbImage ReadPnm(std::span<const uint8_t> bytes) {
  if (bytes.size() < 3 || bytes[0] != 'P') throw std::runtime_error("not a binary PNM file");
  const char kind = static_cast<char>(bytes[1]);
  size_t pos = 2;
  RgbImage image;
  int maxval = 1;
  int depth = 0;
  bool hasAlpha = false;
  bool bitmap = false;
  switch (kind) {
    case '4':
      image.width = NumberToken(bytes, pos);
      image.height = NumberToken(bytes, pos);
      bitmap = true;
      depth = 1;
      break;
    case '5':
    case '6':
      image.width = NumberToken(bytes, pos);
      image.height = NumberToken(bytes, pos);
      maxval = NumberToken(bytes, pos);
      depth = kind == '5' ? 1 : 3;
      break;
    case '7': {
      std::string tupleType;
      for (;;) {
        const std::string key = NextToken(bytes, pos);
        if (key == "ENDHDR") break;
        if (key == "WIDTH") {
          image.width = NumberToken(bytes, pos);
        } else if (key == "HEIGHT") {
          image.height = NumberToken(bytes, pos);
        } else if (key == "DEPTH") {
          depth = NumberToken(bytes, pos);
        } else if (key == "MAXVAL") {
          maxval = NumberToken(bytes, pos);
        } else if (key == "TUPLTYPE") {
          tupleType = NextToken(bytes, pos);
        } else {
          throw std::runtime_error("unknown PAM header field " + key);
        }
      }
      hasAlpha = depth == 2 || depth == 4;
      if (depth < 1 || depth > 4) throw std::runtime_error("unsupported PAM depth");
      (void)tupleType;
      break;
    }
    default:
      throw std::runtime_error("unsupported PNM kind P" + std::string(1, kind));
  }
  ++pos;  // the single white-space character that ends the header
  if (maxval < 1 || maxval > 65535) throw std::runtime_error("bad PNM maxval");
  const size_t pixels = size_t(image.width) * image.height;
  image.rgb.resize(pixels * 3);
  if (hasAlpha) image.alpha.resize(pixels);
  const int sampleBytes = maxval > 255 ? 2 : 1;
  auto scale = [maxval](unsigned v) {
    return static_cast<uint8_t>(maxval == 255 ? v : (v * 255u + maxval / 2) / unsigned(maxval));
  };
  if (bitmap) {
    const size_t rowBytes = (size_t(image.width) + 7) / 8;
    if (bytes.size() < pos + rowBytes * image.height) throw std::runtime_error("PBM data short");
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x) {
        const bool black = bytes[pos + y * rowBytes + x / 8] >> (7 - x % 8) & 1;
        uint8_t* out = &image.rgb[(size_t(y) * image.width + x) * 3];
        out[0] = out[1] = out[2] = black ? 0 : 255;
      }
    return image;
  }
  const size_t needed = pixels * depth * sampleBytes;
  if (bytes.size() < pos + needed) throw std::runtime_error("PNM data short");
  const uint8_t* p = bytes.data() + pos;
  auto sample = [&]() -> unsigned {
    unsigned v = sampleBytes == 2 ? (unsigned(p[0]) << 8 | p[1]) : p[0];
    p += sampleBytes;
    return v;
  };
  for (size_t i = 0; i < pixels; ++i) {
    uint8_t* out = &image.rgb[i * 3];
    if (depth <= 2) {
      out[0] = out[1] = out[2] = scale(sample());
    } else {
      out[0] = scale(sample());
      out[1] = scale(sample());
      out[2] = scale(sample());
    }
    if (hasAlpha) image.alpha[i] = scale(sample());
  }
  // Black-and-white PAM stores 0 for black and 1 for white: the scaling covers it.
  return image;
}

RgbImage ReadPnmFile(const std::string& path) { return ReadPnm(ReadFileBytes(path)); }

RgbImage DecodeWith(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run: " + command);
  Bytes output;
  uint8_t buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    output.insert(output.end(), buffer, buffer + got);
  const int status = ::pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("reference decode failed: " + command);
  return ReadPnm(output);
}

RgbImage DecodeWithPillow(const std::string& path) {
  static const char* const kScript =
      "import sys\n"
      "from PIL import Image\n"
      "im = Image.open(sys.argv[1])\n"
      "if im.mode.startswith('I'): im = im.convert('I').point(lambda v: v / 257 + 0.5).convert('L')\n"
      "im = im.convert('RGBA')\n"
      "sys.stdout.buffer.write(b'P7\\nWIDTH %d\\nHEIGHT %d\\nDEPTH 4\\nMAXVAL 255\\n'\n"
      "    b'TUPLTYPE RGB_ALPHA\\nENDHDR\\n' % im.size + im.tobytes())\n";
  return DecodeWith(std::string(kPython) + " -c " + ShellQuote(kScript) + " " + ShellQuote(path));
}

RgbImage FromBitmap(const pictures::Bitmap& bitmap) {
  RgbImage image;
  image.width = bitmap.Width();
  image.height = bitmap.Height();
  image.rgb.resize(size_t(image.width) * image.height * 3);
  const bool hasAlpha = bitmap.GetPixelFormat() == pictures::PixelFormat::Bits32;
  if (hasAlpha) image.alpha.resize(size_t(image.width) * image.height);
  Bytes bgr(size_t(image.width) * 3);
  for (int y = 0; y < image.height; ++y) {
    pictures::RowToBGR(bitmap, y, bgr.data());
    for (int x = 0; x < image.width; ++x) {
      uint8_t* out = &image.rgb[(size_t(y) * image.width + x) * 3];
      out[0] = bgr[x * 3 + 2];
      out[1] = bgr[x * 3 + 1];
      out[2] = bgr[x * 3];
      if (hasAlpha) image.alpha[size_t(y) * image.width + x] = bitmap.ScanLine(y)[x * 4 + 3];
    }
  }
  return image;
}

RgbImage OverWhite(const RgbImage& image) {
  RgbImage overWhite = image;
  for (size_t i = 0; i < overWhite.rgb.size() && !image.alpha.empty(); ++i) {
    const unsigned alpha = image.alpha[i / 3];
    overWhite.rgb[i] = uint8_t((image.rgb[i] * alpha + 255 * (255 - alpha) + 127) / 255);
  }
  return overWhite;
}

::testing::AssertionResult DecodedMatches(const pictures::Bitmap& bitmap,
                                          const RgbImage& reference, int tolerance) {
  if (!bitmap.Transparent()) return BitmapMatches(bitmap, reference, tolerance);
  const auto colours = BitmapMatches(bitmap, OverWhite(reference), 2 * tolerance);
  if (!colours) return colours;
  return AlphaMatches(bitmap, reference, tolerance);
}

::testing::AssertionResult ImagesMatch(const RgbImage& actual, const RgbImage& expected,
                                       int tolerance) {
  if (actual.width != expected.width || actual.height != expected.height)
    return ::testing::AssertionFailure()
           << "size " << actual.width << " x " << actual.height << ", expected "
           << expected.width << " x " << expected.height;
  const bool alpha = !actual.alpha.empty() && !expected.alpha.empty();
  size_t differing = 0;
  std::ostringstream first;
  for (int y = 0; y < expected.height; ++y)
    for (int x = 0; x < expected.width; ++x) {
      const size_t i = size_t(y) * expected.width + x;
      const uint8_t* a = actual.Pixel(x, y);
      const uint8_t* e = expected.Pixel(x, y);
      bool same = true;
      for (int c = 0; c < 3; ++c)
        if (std::abs(int(a[c]) - int(e[c])) > tolerance) same = false;
      if (alpha && std::abs(int(actual.alpha[i]) - int(expected.alpha[i])) > tolerance)
        same = false;
      if (same) continue;
      if (differing++ == 0) {
        first << "pixel (" << x << ", " << y << ") is rgb(" << int(a[0]) << ", " << int(a[1])
              << ", " << int(a[2]) << "), expected rgb(" << int(e[0]) << ", " << int(e[1])
              << ", " << int(e[2]) << ")";
        if (alpha)
          first << "; alpha " << int(actual.alpha[i]) << ", expected " << int(expected.alpha[i]);
      }
    }
  if (differing == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << differing << " pixels differ by more than "
                                       << tolerance << "; first: " << first.str();
}

RgbImage TopBits(RgbImage image, int bits, int alphaBits) {
  for (uint8_t& v : image.rgb) v = static_cast<uint8_t>(v >> (8 - bits));
  for (uint8_t& v : image.alpha) v = static_cast<uint8_t>(v >> (8 - alphaBits));
  return image;
}

::testing::AssertionResult BitmapMatches(const pictures::Bitmap& bitmap,
                                         const RgbImage& expected, int tolerance) {
  RgbImage actual = FromBitmap(bitmap);
  actual.alpha.clear();
  return ImagesMatch(actual, expected, tolerance);
}

::testing::AssertionResult AlphaMatches(const pictures::Bitmap& bitmap,
                                        const RgbImage& expected, int tolerance) {
  if (bitmap.GetPixelFormat() != pictures::PixelFormat::Bits32)
    return ::testing::AssertionFailure() << "the Bitmap is not 32-bit";
  if (expected.alpha.empty())
    return ::testing::AssertionFailure() << "the reference has no alpha";
  if (bitmap.Width() != expected.width || bitmap.Height() != expected.height)
    return ::testing::AssertionFailure() << "sizes differ";
  size_t differing = 0;
  std::ostringstream first;
  for (int y = 0; y < expected.height; ++y)
    for (int x = 0; x < expected.width; ++x) {
      const int a = bitmap.ScanLine(y)[x * 4 + 3];
      const int e = expected.alpha[size_t(y) * expected.width + x];
      if (std::abs(a - e) <= tolerance) continue;
      if (differing++ == 0)
        first << "pixel (" << x << ", " << y << ") has alpha " << a << ", expected " << e;
    }
  if (differing == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << differing << " alpha values differ; first: "
                                       << first.str();
}

RgbImage TestPattern(int width, int height, bool withAlpha) {
  RgbImage image;
  image.width = width;
  image.height = height;
  image.rgb.resize(size_t(width) * height * 3);
  if (withAlpha) image.alpha.resize(size_t(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &image.rgb[(size_t(y) * width + x) * 3];
      p[0] = uint8_t(x * 255 / std::max(1, width - 1));
      p[1] = uint8_t(y * 255 / std::max(1, height - 1));
      p[2] = uint8_t((x * 7 + y * 13) * 5);
      if (withAlpha) image.alpha[size_t(y) * width + x] = uint8_t(255 - (x + y) * 9);
    }
  return image;
}

Bytes EncodePnm(const RgbImage& image) {
  const bool alpha = !image.alpha.empty();
  std::string header =
      alpha ? "P7\nWIDTH " + std::to_string(image.width) + "\nHEIGHT " +
                  std::to_string(image.height) + "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
            : "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
  Bytes bytes(header.begin(), header.end());
  const size_t pixels = size_t(image.width) * image.height;
  for (size_t i = 0; i < pixels; ++i) {
    bytes.insert(bytes.end(), &image.rgb[i * 3], &image.rgb[i * 3] + 3);
    if (alpha) bytes.push_back(image.alpha[i]);
  }
  return bytes;
}

}  // namespace test_support
