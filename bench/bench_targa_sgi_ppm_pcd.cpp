// Decoding speed of the Targa, SGI, portable bitmap and Photo-CD readers on 4000 x 3000
// pictures built in memory (the Photo-CD base image is always 768 x 512), beside the peers
// that read the same files: stb_image (Targa, raw PGM and PPM) and netpbm's library (every
// portable bitmap). Every reader decodes from memory; the peers' own output layouts are
// kept (stb: RGB bytes; netpbm: one xel of three unsigned ints a pixel).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pictures/formats/pcd.h"
#include "pictures/formats/ppm.h"
#include "pictures/formats/sgi.h"
#include "pictures/formats/targa.h"
#include "support/bench_support.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_TGA
#define STBI_ONLY_PNM
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

extern "C" {
#include <netpbm/pnm.h>
}

namespace {

using bench::Bytes;
using bench::kHeight;
using bench::kWidth;
using bench::PhotoSample;

void Append(Bytes& b, std::initializer_list<uint8_t> bytes) {
  for (uint8_t v : bytes) b.push_back(v);
}
void AppendText(Bytes& b, const char* text) {
  while (*text) b.push_back(uint8_t(*text++));
}
void AppendNumber(Bytes& b, unsigned v) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%u", v);
  AppendText(b, digits);
}
void AppendBytes(Bytes& b, const uint8_t* bytes, size_t count) {
  const size_t at = b.size();
  b.resize(at + count);
  std::memcpy(b.data() + at, bytes, count);
}

Bytes TargaFile(bool packed) {
  Bytes b = {0, 0, uint8_t(packed ? 10 : 2), 0, 0, 0, 0, 0, 0, 0, 0, 0};
  bench::AppendLE16(b, kWidth);
  bench::AppendLE16(b, kHeight);
  Append(b, {24, 0});  // 24 bits, bottom row first
  std::vector<uint32_t> row(kWidth);
  for (int y = kHeight - 1; y >= 0; --y) {
    for (int x = 0; x < kWidth; ++x)
      row[x] = uint32_t(PhotoSample(x, y, 2)) | uint32_t(PhotoSample(x, y, 1)) << 8 |
               uint32_t(PhotoSample(x, y, 0)) << 16;
    auto put = [&](uint32_t p) { Append(b, {uint8_t(p), uint8_t(p >> 8), uint8_t(p >> 16)}); };
    if (!packed) {
      for (uint32_t p : row) put(p);
      continue;
    }
    // Runs of two or more equal pixels become run packets, the rest raw packets.
    for (int x = 0; x < kWidth;) {
      int run = 1;
      while (x + run < kWidth && run < 128 && row[x + run] == row[x]) ++run;
      if (run >= 2) {
        b.push_back(uint8_t(0x80 | (run - 1)));
        put(row[x]);
        x += run;
        continue;
      }
      int end = x + 1;
      while (end < kWidth && end - x < 128 && row[end] != row[end - 1] &&
             !(end + 1 < kWidth && row[end] == row[end + 1]))
        ++end;
      b.push_back(uint8_t(end - x - 1));
      for (int i = x; i < end; ++i) put(row[i]);
      x = end;
    }
  }
  return b;
}

Bytes SgiFile(bool packed) {
  const size_t rows = size_t(kHeight) * 3;
  // The header, then for packed files the row start and length tables.
  Bytes b(packed ? 512 + rows * 8 : 512, 0);
  b[0] = 0x01, b[1] = 0xDA, b[2] = packed ? 1 : 0, b[3] = 1;
  b[5] = 3;
  b[6] = uint8_t(kWidth >> 8), b[7] = uint8_t(kWidth);
  b[8] = uint8_t(kHeight >> 8), b[9] = uint8_t(kHeight);
  b[11] = 3;
  Bytes values(kWidth);
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < kHeight; ++r) {
      for (int x = 0; x < kWidth; ++x) values[x] = PhotoSample(x, kHeight - 1 - r, c);
      if (!packed) {
        AppendBytes(b, values.data(), values.size());
        continue;
      }
      const size_t start = b.size();
      bench::PackRuns(values.data(), values.size(), 127, [](size_t n) { return uint8_t(n); },
                      [](size_t n) { return uint8_t(0x80 | n); }, b);
      b.push_back(0);
      const size_t index = size_t(r) + size_t(c) * kHeight;
      bench::PutBE32(b, 512 + index * 4, uint32_t(start));
      bench::PutBE32(b, 512 + rows * 4 + index * 4, uint32_t(b.size() - start));
    }
  return b;
}

// Portable bitmaps: 1 (P1), 2, 3 (text) and 4, 5, 6 (raw).
Bytes NetpbmFile(int magic) {
  Bytes b;
  AppendText(b, "P");
  AppendNumber(b, unsigned(magic));
  AppendText(b, "\n");
  AppendNumber(b, kWidth);
  AppendText(b, " ");
  AppendNumber(b, kHeight);
  AppendText(b, magic == 1 || magic == 4 ? "\n" : "\n255\n");
  for (int y = 0; y < kHeight; ++y) {
    uint8_t bits = 0;
    for (int x = 0; x < kWidth; ++x) {
      const uint8_t r = PhotoSample(x, y, 0), g = PhotoSample(x, y, 1), bl = PhotoSample(x, y, 2);
      switch (magic) {
        case 1: b.push_back(r & 0x20 ? '1' : '0'); break;
        case 2:
          AppendNumber(b, g);
          b.push_back(' ');
          break;
        case 3:
          for (uint8_t v : {r, g, bl}) {
            AppendNumber(b, v);
            b.push_back(' ');
          }
          break;
        case 4:
          bits = uint8_t(bits << 1 | (r & 0x20 ? 1 : 0));
          if (x % 8 == 7) b.push_back(bits);
          break;
        case 5: b.push_back(g); break;
        case 6: Append(b, {r, g, bl}); break;
      }
    }
    if (magic <= 3) b.push_back('\n');
  }
  return b;
}

Bytes PcdFile() {
  Bytes b(0x30000 + 768 * 512 * 3 / 2, 0);
  std::memcpy(&b[2048], "PCD_IPI", 7);
  for (int k = 0; k < 256; ++k) {
    uint8_t* block = &b[0x30000 + size_t(k) * 768 * 3];
    for (int i = 0; i < 768 * 2; ++i) block[i] = PhotoSample(i % 768, 2 * k + i / 768, 0);
    for (int i = 0; i < 768; ++i) block[1536 + i] = uint8_t(110 + PhotoSample(i, k, 1, false) / 4);
  }
  return b;
}

const Bytes& File(const std::string& name) {
  static const Bytes targa = TargaFile(false), targaPacked = TargaFile(true);
  static const Bytes sgi = SgiFile(false), sgiPacked = SgiFile(true);
  static const Bytes p1 = NetpbmFile(1), p2 = NetpbmFile(2), p3 = NetpbmFile(3),
                     p4 = NetpbmFile(4), p5 = NetpbmFile(5), p6 = NetpbmFile(6);
  static const Bytes pcd = PcdFile();
  if (name == "tga") return targa;
  if (name == "tga-rle") return targaPacked;
  if (name == "sgi") return sgi;
  if (name == "sgi-rle") return sgiPacked;
  if (name == "P1") return p1;
  if (name == "P2") return p2;
  if (name == "P3") return p3;
  if (name == "P4") return p4;
  if (name == "P5") return p5;
  if (name == "P6") return p6;
  return pcd;
}

// Photo YCC to RGB as the standard gives it, with each pair of rows taking its own chroma
// unblended: within a few levels of the reader's, which blends neighbouring chroma (the
// chroma is a smooth gradient, so the blend moves it little).
bench::Rgb PcdColour(int x, int y) {
  const double luma = 1.3584 * PhotoSample(x, y, 0);
  const double c1 = 110 + PhotoSample(x / 2, y / 2, 1, false) / 4 - 156;
  const double c2 = 110 + PhotoSample(384 + x / 2, y / 2, 1, false) / 4 - 137;
  auto byte = [](double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); };
  return {byte(luma + 1.8215 * c2), byte(luma - 0.9271435 * c2 - 0.4302726 * c1),
          byte(luma + 2.2179 * c1)};
}

// What each file holds (see the writers above).
bench::Expected Colours(const std::string& name) {
  bench::Expected expected = bench::PhotoColours();
  if (name == "P1" || name == "P4") {
    expected.colour = [](int x, int y) {
      const uint8_t v = PhotoSample(x, y, 0) & 0x20 ? 0 : 255;
      return bench::Rgb{v, v, v};
    };
  } else if (name == "P2" || name == "P5") {
    expected.colour = [](int x, int y) {
      const uint8_t v = PhotoSample(x, y, 1);
      return bench::Rgb{v, v, v};
    };
  } else if (name == "pcd") {
    expected = {768, 512, PcdColour, 8};
  }
  return expected;
}

template <typename Reader>
void Ours(benchmark::State& state, const std::string& name) {
  const Bytes& file = File(name);
  bench::DecodeEachIteration<Reader>(state, file, Colours(name));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}

void Stb(benchmark::State& state, const std::string& name) {
  const Bytes& file = File(name);
  bench::StbEachIteration(state, file, 0, stbi_load_from_memory, stbi_image_free);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}

void Netpbm(benchmark::State& state, const std::string& name) {
  static const bool initialised = [] {
    int argc = 1;
    char program[] = "bench";
    char* argv[] = {program, nullptr};
    pnm_init(&argc, argv);
    return true;
  }();
  (void)initialised;
  const Bytes& file = File(name);
  for (auto _ : state) {
    FILE* in = fmemopen(const_cast<uint8_t*>(file.data()), file.size(), "rb");
    int cols, rows, format;
    xelval maxval;
    xel** pixels = pnm_readpnm(in, &cols, &rows, &maxval, &format);
    if (!pixels || cols != kWidth || rows != kHeight) state.SkipWithError("netpbm misread the file");
    benchmark::DoNotOptimize(pixels);
    pnm_freearray(pixels, rows);
    std::fclose(in);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}

void OursTarga(benchmark::State& s, const std::string& file) {
  Ours<pictures::TTargaGraphic>(s, file);
}
void OursSgi(benchmark::State& s, const std::string& file) { Ours<pictures::TSGIGraphic>(s, file); }
void OursPpm(benchmark::State& s, const std::string& file) { Ours<pictures::TPPMGraphic>(s, file); }
void OursPcd(benchmark::State& s, const std::string& file) { Ours<pictures::TPCDGraphic>(s, file); }

BENCHMARK_CAPTURE(OursTarga, tga_24_plain, std::string("tga"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Stb, tga_24_plain, std::string("tga"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OursTarga, tga_24_rle, std::string("tga-rle"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Stb, tga_24_rle, std::string("tga-rle"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OursSgi, sgi_rgb_verbatim, std::string("sgi"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OursSgi, sgi_rgb_rle, std::string("sgi-rle"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OursPpm, P6, std::string("P6"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Stb, P6, std::string("P6"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Netpbm, P6, std::string("P6"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OursPpm, P5, std::string("P5"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Stb, P5, std::string("P5"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Netpbm, P5, std::string("P5"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OursPpm, P4, std::string("P4"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Netpbm, P4, std::string("P4"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OursPpm, P3, std::string("P3"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Netpbm, P3, std::string("P3"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OursPpm, P2, std::string("P2"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Netpbm, P2, std::string("P2"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OursPpm, P1, std::string("P1"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Netpbm, P1, std::string("P1"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OursPcd, pcd_768x512, std::string("pcd"))->Unit(benchmark::kMillisecond);

}  // namespace
