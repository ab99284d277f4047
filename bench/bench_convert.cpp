// Whole conversions, file to file, as picconv and the dialog make them: the picture is
// loaded through the registry and saved as a 24-bit bitmap file (SaveAs24BitBitmap). One
// benchmark per format; ImageMagick (netpbm for Targa) writes the input files from one
// photo-like picture. After timing, each benchmark checks its output: the checksum of the
// written pixels must equal that of the reference: the source picture itself for lossless
// formats, else the decode of the written file by ImageMagick (djpeg for JPEG). So a
// reader that returned a black picture could not benchmark well.
#include <benchmark/benchmark.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "pictures/bitmap.h"
#include "pictures/registry.h"
#include "support/bench_support.h"

namespace {

namespace fs = std::filesystem;

struct Format {
  const char* name;
  const char* extension;
  const char* options;  // ImageMagick options that write the input
  bool lossless = true;
  // A netpbm program that writes the input from the source instead (ImageMagick 6 writes
  // Targa rows top first under a header that says bottom first).
  const char* netpbm = nullptr;
};

constexpr Format kFormats[] = {
    {"bmp24", "bmp", "-type TrueColor"},
    {"jpg", "jpg", "-quality 90", false},
    {"tif-none", "tif", "-compress none"},
    {"tif-lzw", "tif", "-compress lzw"},
    {"tif-lzw-pred", "tif", "-compress lzw -define tiff:predictor=2"},
    {"tif-packbits", "tif", "-compress rle"},
    {"gif", "gif", "-colors 256", false},
    {"pcx24", "pcx", ""},
    {"pcx8", "pcx", "-colors 256 -type palette", false},
    {"psd-rle", "psd", "-compress rle"},
    {"psd-raw", "psd", "-compress none"},
    {"tga-raw", "tga", "", true, "pamtotga -rgb -norle"},
    {"tga-rle", "tga", "", true, "pamtotga -rgb"},
    {"sgi-rle", "sgi", "-compress rle"},
    {"ppm", "ppm", ""},
    {"png", "png", ""},
};

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

const fs::path& Folder() {
  static const fs::path folder = [] {
    std::string pattern = (fs::temp_directory_path() / "bench-convert-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no temporary folder");
    // The source picture, written as a plain PPM.
    std::ofstream source(fs::path(pattern) / "source.ppm", std::ios::binary);
    source << "P6\n" << bench::kWidth << " " << bench::kHeight << "\n255\n";
    std::vector<char> row(size_t(bench::kWidth) * 3);
    for (int y = 0; y < bench::kHeight; ++y) {
      for (int x = 0; x < bench::kWidth; ++x)
        for (int c = 0; c < 3; ++c) row[size_t(x) * 3 + c] = char(bench::PhotoSample(x, y, c));
      source.write(row.data(), std::streamsize(row.size()));
    }
    return fs::path(pattern);
  }();
  return folder;
}

// A checksum of the pixel rows of a 24-bit bitmap file (FNV-1a over the bytes from the
// file header's pixel offset on).
uint64_t PixelChecksum(const fs::path& bitmapFile) {
  std::ifstream in(bitmapFile, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M' || bytes[28] != 24)
    throw std::runtime_error("not a 24-bit bitmap file: " + bitmapFile.string());
  const size_t offset = bytes[10] | bytes[11] << 8 | bytes[12] << 16 | size_t(bytes[13]) << 24;
  uint64_t hash = 14695981039346656037ull;
  for (size_t i = offset; i < bytes.size(); ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  return hash;
}

void BM_Convert(benchmark::State& state, const Format& format) {
  pictures::RegisterReaders();
  const fs::path input = Folder() / (std::string(format.name) + "." + format.extension);
  const fs::path output = Folder() / "ours.bmp";
  const fs::path reference = Folder() / "reference.bmp";
  const std::string source = (Folder() / "source.ppm").string();
  if (!fs::exists(input) && format.netpbm)
    Run(std::string(format.netpbm) + " " + source + " > " + input.string());
  else if (!fs::exists(input))
    Run("convert " + source + " " + format.options + " " +
        (std::string(format.extension) == "bmp" ? "BMP3:" : "") + input.string());
  for (auto _ : state) {
    pictures::Picture picture;
    picture.LoadFile(input.string());
    pictures::SaveAs24BitBitmap(*picture.Graphic(), output.string());
  }
  if (format.lossless)
    Run("convert " + source + " -type TrueColor BMP3:" + reference.string());
  else if (std::string(format.extension) == "jpg")
    Run("djpeg -bmp -outfile " + reference.string() + " " + input.string());
  else
    Run("convert " + input.string() + "[0] -type TrueColor BMP3:" + reference.string());
  if (PixelChecksum(output) != PixelChecksum(reference))
    state.SkipWithError("the written pixels differ from the reference decode");
  state.SetBytesProcessed(int64_t(state.iterations()) * bench::kWidth * bench::kHeight * 3);
}

const bool registered = [] {
  for (const Format& format : kFormats)
    benchmark::RegisterBenchmark((std::string("BM_Convert/") + format.name).c_str(), BM_Convert,
                                 format)
        ->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
