// Decoding speed of the TIFF and Photoshop readers on 4000 x 3000 RGB pictures held in
// memory, beside the peers that read the same files: libtiff (TIFF, through its RGBA
// image reader and through plain scanline reads) and stb_image (Photoshop). The TIFF files
// cover both of our paths: uncompressed, LZW and PackBits strips go through our own reader,
// Deflate, JPEG and tiles through libtiff's decoders and our row routines. Our readers
// produce a 24-bit Bitmap; libtiff's RGBA reader produces 32-bit pixels; its scanline reads
// leave the samples as stored; stb_image produces RGB bytes. Every load allocates a new
// picture, as a program that opens a file does.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "pictures/formats/psd.h"
#include "pictures/formats/tiff.h"
#include "support/bench_support.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PSD
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace {

using bench::Bytes;
using bench::kHeight;
using bench::kWidth;
using bench::PhotoSample;

// A TIFF written by libtiff itself, with its default strip size (about 8 KiB a strip), or
// in tiles of 256 x 256. JPEG files hold YCbCr, subsampled 2 x 2, as cameras and
// scanners write them.
Bytes WriteTiff(uint16_t compression, uint16_t predictor, bool tiled = false) {
  char path[] = "/tmp/bench-tiff-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return {};
  close(fd);
  TIFF* tif = TIFFOpen(path, "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  if (compression == COMPRESSION_JPEG) {
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 90);
  } else {
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  }
  if (predictor != 1) TIFFSetField(tif, TIFFTAG_PREDICTOR, predictor);
  const uint32_t tile = 256;
  if (tiled) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, tile);
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  }
  auto sample = [](uint32_t x, uint32_t y, int c) {
    return x < uint32_t(kWidth) && y < uint32_t(kHeight) ? PhotoSample(int(x), int(y), c) : 0;
  };
  if (tiled) {
    Bytes block(size_t(tile) * tile * 3);
    for (uint32_t ty = 0; ty < uint32_t(kHeight); ty += tile)
      for (uint32_t tx = 0; tx < uint32_t(kWidth); tx += tile) {
        for (uint32_t y = 0; y < tile; ++y)
          for (uint32_t x = 0; x < tile; ++x)
            for (int c = 0; c < 3; ++c)
              block[(size_t(y) * tile + x) * 3 + size_t(c)] = sample(tx + x, ty + y, c);
        TIFFWriteTile(tif, block.data(), tx, ty, 0, 0);
      }
  } else {
    Bytes row(size_t(kWidth) * 3);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x)
        for (int c = 0; c < 3; ++c) row[size_t(x) * 3 + size_t(c)] = PhotoSample(x, y, c);
      TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
    }
  }
  TIFFClose(tif);
  std::ifstream in(path, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(path);
  return bytes;
}

// PackBits as Photoshop writes it: runs of three or more bytes, literals elsewhere.
void PackBits(const uint8_t* data, size_t size, Bytes& out) {
  bench::PackRuns(data, size, 128, [](size_t n) { return uint8_t(1 - int(n)); },
                  [](size_t n) { return uint8_t(n - 1); }, out);
}

// An RGB Photoshop file of three 8-bit planes, raw or packed row by row.
Bytes WritePsd(bool packed) {
  Bytes out = {'8', 'B', 'P', 'S'};
  bench::AppendBE16(out, 1);
  out.insert(out.end(), 6, 0);
  bench::AppendBE16(out, 3);
  bench::AppendBE32(out, kHeight);
  bench::AppendBE32(out, kWidth);
  bench::AppendBE16(out, 8);
  bench::AppendBE16(out, 3);
  bench::AppendBE32(out, 0);  // colour mode data
  bench::AppendBE32(out, 0);  // image resources
  bench::AppendBE32(out, 0);  // layers
  bench::AppendBE16(out, packed ? 1 : 0);
  Bytes row(kWidth);
  if (!packed) {
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) out.push_back(PhotoSample(x, y, c));
    return out;
  }
  Bytes counts, body;
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) row[size_t(x)] = PhotoSample(x, y, c);
      const size_t before = body.size();
      PackBits(row.data(), row.size(), body);
      bench::AppendBE16(counts, uint32_t(body.size() - before));
    }
  out.insert(out.end(), counts.begin(), counts.end());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

const Bytes& TiffFile(int kind) {
  static const Bytes files[] = {
      WriteTiff(COMPRESSION_NONE, 1),          WriteTiff(COMPRESSION_LZW, 1),
      WriteTiff(COMPRESSION_LZW, 2),           WriteTiff(COMPRESSION_PACKBITS, 1),
      WriteTiff(COMPRESSION_ADOBE_DEFLATE, 1), WriteTiff(COMPRESSION_ADOBE_DEFLATE, 2),
      WriteTiff(COMPRESSION_JPEG, 1),          WriteTiff(COMPRESSION_LZW, 2, true)};
  return files[kind];
}

const Bytes& PsdFile(bool packed) {
  static const Bytes files[] = {WritePsd(false), WritePsd(true)};
  return files[packed ? 1 : 0];
}

constexpr int kJpegKind = 6;

const char* TiffName(int kind) {
  static const char* names[] = {"uncompressed",     "LZW",  "LZW+predictor",
                                "PackBits",         "Deflate", "Deflate+predictor",
                                "JPEG YCbCr",       "LZW+predictor tiles"};
  return names[kind];
}

// libtiff reading from memory, with the file mapped so that it can skip copies.
struct MemoryFile {
  const Bytes* bytes;
  toff_t position = 0;
};

tsize_t MemoryRead(thandle_t handle, tdata_t buffer, tsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  const toff_t left =
      file->position < file->bytes->size() ? file->bytes->size() - file->position : 0;
  const tsize_t n = tsize_t(std::min<toff_t>(left, toff_t(size)));
  std::memcpy(buffer, file->bytes->data() + file->position, size_t(n));
  file->position += toff_t(n);
  return n;
}
tsize_t MemoryWrite(thandle_t, tdata_t, tsize_t) { return 0; }
toff_t MemorySeek(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (whence == SEEK_SET) file->position = offset;
  if (whence == SEEK_CUR) file->position += offset;
  if (whence == SEEK_END) file->position = file->bytes->size() + offset;
  return file->position;
}
int MemoryClose(thandle_t) { return 0; }
toff_t MemorySize(thandle_t handle) { return static_cast<MemoryFile*>(handle)->bytes->size(); }
int MemoryMap(thandle_t handle, tdata_t* base, toff_t* size) {
  auto* file = static_cast<MemoryFile*>(handle);
  *base = const_cast<uint8_t*>(file->bytes->data());
  *size = file->bytes->size();
  return 1;
}
void MemoryUnmap(thandle_t, tdata_t, toff_t) {}

TIFF* OpenTiff(MemoryFile& file) {
  return TIFFClientOpen("memory", "rm", &file, MemoryRead, MemoryWrite, MemorySeek, MemoryClose,
                        MemorySize, MemoryMap, MemoryUnmap);
}

void SetCounters(benchmark::State& state, size_t fileSize) {
  state.counters["MPixel/s"] = benchmark::Counter(double(kWidth) * kHeight / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
  state.counters["file MB"] = double(fileSize) / 1e6;
}

// The lossless files hold the samples; the JPEG file must decode as libtiff's own reader
// decodes it, within a level (its RGBA path rounds the colour conversion its own way).
bench::Expected TiffColours(int kind) {
  if (kind != kJpegKind) return bench::PhotoColours();
  static const std::vector<uint32_t> reference = [kind] {
    std::vector<uint32_t> raster(size_t(kWidth) * kHeight);
    MemoryFile memory{&TiffFile(kind)};
    TIFF* tif = OpenTiff(memory);
    const bool read = tif && TIFFReadRGBAImageOriented(tif, kWidth, kHeight, raster.data(),
                                                       ORIENTATION_TOPLEFT, 0) == 1;
    if (tif) TIFFClose(tif);
    if (!read) raster.clear();
    return raster;
  }();
  bench::Expected expected;
  if (reference.empty()) expected.width = 0;
  expected.colour = [](int x, int y) {
    const uint32_t p = reference[size_t(y) * kWidth + size_t(x)];
    return bench::Rgb{uint8_t(TIFFGetR(p)), uint8_t(TIFFGetG(p)), uint8_t(TIFFGetB(p))};
  };
  expected.tolerance = 1;
  return expected;
}

void BM_TIFF_Ours(benchmark::State& state) {
  const Bytes& file = TiffFile(int(state.range(0)));
  state.SetLabel(TiffName(int(state.range(0))));
  bench::DecodeEachIteration<pictures::TTIFFGraphic>(state, file, TiffColours(int(state.range(0))));
  SetCounters(state, file.size());
}

void BM_TIFF_LibtiffRGBA(benchmark::State& state) {
  const Bytes& file = TiffFile(int(state.range(0)));
  state.SetLabel(TiffName(int(state.range(0))));
  for (auto _ : state) {
    // Every load makes a new picture, as ours does.
    std::unique_ptr<uint32_t[]> raster(new uint32_t[size_t(kWidth) * kHeight]);
    MemoryFile memory{&file};
    TIFF* tif = OpenTiff(memory);
    const int read =
        TIFFReadRGBAImageOriented(tif, kWidth, kHeight, raster.get(), ORIENTATION_TOPLEFT, 0);
    TIFFClose(tif);
    if (read != 1) state.SkipWithError("libtiff could not read the file");
    benchmark::DoNotOptimize(raster.get());
  }
  SetCounters(state, file.size());
}

void BM_TIFF_LibtiffScanlines(benchmark::State& state) {
  const Bytes& file = TiffFile(int(state.range(0)));
  state.SetLabel(TiffName(int(state.range(0))));
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> picture(new uint8_t[size_t(kWidth) * kHeight * 3]);
    MemoryFile memory{&file};
    TIFF* tif = OpenTiff(memory);
    // JPEG strips hold YCbCr; libtiff's JPEG codec turns it to RGB only when asked.
    if (tif && state.range(0) == kJpegKind) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    bool read = tif != nullptr;
    for (uint32_t y = 0; read && y < uint32_t(kHeight); ++y)
      read = TIFFReadScanline(tif, picture.get() + size_t(y) * kWidth * 3, y, 0) == 1;
    if (tif) TIFFClose(tif);
    if (!read) state.SkipWithError("libtiff could not read the file");
    benchmark::DoNotOptimize(picture.get());
  }
  SetCounters(state, file.size());
}

void BM_PSD_Ours(benchmark::State& state) {
  const Bytes& file = PsdFile(state.range(0) != 0);
  state.SetLabel(state.range(0) ? "PackBits" : "raw");
  bench::DecodeEachIteration<pictures::TPSDGraphic>(state, file, bench::PhotoColours());
  SetCounters(state, file.size());
}

void BM_PSD_Stb(benchmark::State& state) {
  const Bytes& file = PsdFile(state.range(0) != 0);
  state.SetLabel(state.range(0) ? "PackBits" : "raw");
  bench::StbEachIteration(state, file, 3, stbi_load_from_memory, stbi_image_free);
  SetCounters(state, file.size());
}

}  // namespace

BENCHMARK(BM_TIFF_Ours)->DenseRange(0, 7)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TIFF_LibtiffRGBA)->DenseRange(0, 7)->Unit(benchmark::kMillisecond);
// Scanline reads cannot read tiles.
BENCHMARK(BM_TIFF_LibtiffScanlines)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PSD_Ours)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PSD_Stb)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
