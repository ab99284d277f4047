// Decoding speed of the TIFF and Photoshop readers on 4000 x 3000 RGB pictures held in
// memory, beside the peers that read the same files: libtiff (TIFF, through its RGBA
// image reader and through plain scanline reads) and stb_image (Photoshop). Our readers
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
#include <span>
#include <string>
#include <vector>

#include "pictures/formats/psd.h"
#include "pictures/formats/tiff.h"
#include "pictures/stream.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PSD
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// A read-only stream over bytes that stay where they are, so that no reader pays for a copy.
class SpanStream : public pictures::Stream {
 public:
  explicit SpanStream(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override { position_ = position < 0 ? 0 : position; }
  int64_t Size() const override { return int64_t(bytes_.size()); }
  size_t Read(void* buffer, size_t count) override {
    if (position_ >= Size()) return 0;
    const size_t n = std::min<size_t>(count, size_t(Size() - position_));
    std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += int64_t(n);
    return n;
  }

 private:
  std::span<const uint8_t> bytes_;
  int64_t position_ = 0;
};

// A photograph-like channel: gradients with a little noise, and flat bands where runs pay
// off, so that packed data mixes runs and literals.
uint8_t Sample(int x, int y, int channel) {
  uint32_t noise = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u ^ uint32_t(channel) * 977u;
  noise = (noise >> 13) & 7;
  if ((y / 40) % 4 == 0 && (x / 300) % 2 == 0) return uint8_t(channel * 60 + y / 40);
  return uint8_t((x / 16 + y / 12 + channel * 50) + noise);
}

// A TIFF written by libtiff itself, with its default strip size (about 8 KiB a strip).
Bytes WriteTiff(uint16_t compression, uint16_t predictor) {
  char path[] = "/tmp/bench-tiff-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return {};
  close(fd);
  TIFF* tif = TIFFOpen(path, "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  if (predictor != 1) TIFFSetField(tif, TIFFTAG_PREDICTOR, predictor);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  Bytes row(size_t(kWidth) * 3);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c) row[size_t(x) * 3 + size_t(c)] = Sample(x, y, c);
    TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
  }
  TIFFClose(tif);
  std::ifstream in(path, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(path);
  return bytes;
}

void Append16(Bytes& out, uint32_t v) {
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}
void Append32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

// PackBits as Photoshop writes it: runs of three or more bytes, literals elsewhere.
void PackBits(const uint8_t* data, size_t size, Bytes& out) {
  size_t i = 0;
  while (i < size) {
    size_t run = 1;
    while (i + run < size && run < 128 && data[i + run] == data[i]) ++run;
    if (run >= 3) {
      out.push_back(uint8_t(1 - int(run)));
      out.push_back(data[i]);
      i += run;
      continue;
    }
    size_t end = i;
    while (end < size && end - i < 128 &&
           !(end + 2 < size && data[end] == data[end + 1] && data[end] == data[end + 2]))
      ++end;
    out.push_back(uint8_t(end - i - 1));
    out.insert(out.end(), data + i, data + end);
    i = end;
  }
}

// An RGB Photoshop file of three 8-bit planes, raw or packed row by row.
Bytes WritePsd(bool packed) {
  Bytes out = {'8', 'B', 'P', 'S'};
  Append16(out, 1);
  out.insert(out.end(), 6, 0);
  Append16(out, 3);
  Append32(out, kHeight);
  Append32(out, kWidth);
  Append16(out, 8);
  Append16(out, 3);
  Append32(out, 0);  // colour mode data
  Append32(out, 0);  // image resources
  Append32(out, 0);  // layers
  Append16(out, packed ? 1 : 0);
  Bytes row(kWidth);
  if (!packed) {
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) out.push_back(Sample(x, y, c));
    return out;
  }
  Bytes counts, body;
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) row[size_t(x)] = Sample(x, y, c);
      const size_t before = body.size();
      PackBits(row.data(), row.size(), body);
      Append16(counts, uint32_t(body.size() - before));
    }
  out.insert(out.end(), counts.begin(), counts.end());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

const Bytes& TiffFile(int kind) {
  static const Bytes files[] = {WriteTiff(COMPRESSION_NONE, 1), WriteTiff(COMPRESSION_LZW, 1),
                                WriteTiff(COMPRESSION_LZW, 2), WriteTiff(COMPRESSION_PACKBITS, 1)};
  return files[kind];
}

const Bytes& PsdFile(bool packed) {
  static const Bytes files[] = {WritePsd(false), WritePsd(true)};
  return files[packed ? 1 : 0];
}

const char* TiffName(int kind) {
  static const char* names[] = {"uncompressed", "LZW", "LZW+predictor", "PackBits"};
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

void BM_TIFF_Ours(benchmark::State& state) {
  const Bytes& file = TiffFile(int(state.range(0)));
  state.SetLabel(TiffName(int(state.range(0))));
  for (auto _ : state) {
    SpanStream stream(file);
    pictures::TTIFFGraphic picture;
    picture.LoadFromStream(stream);
    benchmark::DoNotOptimize(picture.ScanLine(kHeight - 1));
  }
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
    TIFFReadRGBAImageOriented(tif, kWidth, kHeight, raster.get(), ORIENTATION_TOPLEFT, 0);
    TIFFClose(tif);
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
    for (uint32_t y = 0; y < uint32_t(kHeight); ++y)
      TIFFReadScanline(tif, picture.get() + size_t(y) * kWidth * 3, y, 0);
    TIFFClose(tif);
    benchmark::DoNotOptimize(picture.get());
  }
  SetCounters(state, file.size());
}

void BM_PSD_Ours(benchmark::State& state) {
  const Bytes& file = PsdFile(state.range(0) != 0);
  state.SetLabel(state.range(0) ? "PackBits" : "raw");
  for (auto _ : state) {
    SpanStream stream(file);
    pictures::TPSDGraphic picture;
    picture.LoadFromStream(stream);
    benchmark::DoNotOptimize(picture.ScanLine(kHeight - 1));
  }
  SetCounters(state, file.size());
}

void BM_PSD_Stb(benchmark::State& state) {
  const Bytes& file = PsdFile(state.range(0) != 0);
  state.SetLabel(state.range(0) ? "PackBits" : "raw");
  for (auto _ : state) {
    int width, height, channels;
    stbi_uc* pixels =
        stbi_load_from_memory(file.data(), int(file.size()), &width, &height, &channels, 3);
    benchmark::DoNotOptimize(pixels);
    stbi_image_free(pixels);
  }
  SetCounters(state, file.size());
}

}  // namespace

BENCHMARK(BM_TIFF_Ours)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TIFF_LibtiffRGBA)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TIFF_LibtiffScanlines)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PSD_Ours)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PSD_Stb)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
