#include "pictures/formats/png_direct.h"

#include <libdeflate.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/byte_reader.h"

namespace pictures {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint8_t kColourRgb = 2;
constexpr uint8_t kColourRgba = 6;
// Chunks before the image data larger than this are left to libpng, which has limits of
// its own for them.
constexpr uint32_t kLargestLeadingChunk = 1u << 20;
constexpr uint32_t kLargestChunk = 0x7FFFFFFF;
// libpng's own limit on either side of a picture.
constexpr uint32_t kLargestSide = 1000000;
// A zlib stream with a 32 KiB window (deflate's largest): libpng lets zlib enforce a
// smaller declared window, which libdeflate does not, so only this one is taken here.
constexpr uint8_t kZlibDeflate32K = 0x78;

struct Chunk {
  char type[4];
  std::span<const uint8_t> data;
};

bool IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The chunk at `at`, whole and with a good CRC, after which `at` is the next chunk's;
// nothing for a chunk cut short, damaged, longer than `largest` or named other than in
// letters.
std::optional<Chunk> NextChunk(std::span<const uint8_t> file, size_t& at, uint32_t largest) {
  ByteReader in(file.subspan(std::min(at, file.size())));
  if (in.Remaining() < 12) return std::nullopt;
  const uint32_t length = in.U32BE();
  if (length > largest || in.Remaining() - 8 < length) return std::nullopt;
  const std::span<const uint8_t> typeAndData = in.Bytes(4 + size_t(length));
  const uint32_t crc = in.U32BE();
  if (libdeflate_crc32(0, typeAndData.data(), typeAndData.size()) != crc) return std::nullopt;
  Chunk chunk{};
  for (size_t i = 0; i < 4; ++i) {
    if (!IsLetter(typeAndData[i])) return std::nullopt;
    chunk.type[i] = char(typeAndData[i]);
  }
  chunk.data = typeAndData.subspan(4);
  at += 12 + size_t(length);
  return chunk;
}

bool Is(const Chunk& chunk, const char* type) { return std::memcmp(chunk.type, type, 4) == 0; }

// The header of a picture this path takes: 8-bit RGB or RGBA, standard compression and
// filtering, not interlaced.
std::optional<PngDirectPlan> PlanFromHeader(const Chunk& header) {
  if (!Is(header, "IHDR") || header.data.size() != 13) return std::nullopt;
  ByteReader in(header.data);
  PngDirectPlan plan;
  plan.width = in.U32BE();
  plan.height = in.U32BE();
  const uint8_t depth = in.U8(), colourType = in.U8(), compression = in.U8(), filter = in.U8(),
                interlace = in.U8();
  if (plan.width == 0 || plan.height == 0 || plan.width > kLargestSide ||
      plan.height > kLargestSide || depth != 8 ||
      (colourType != kColourRgb && colourType != kColourRgba) || compression != 0 ||
      filter != 0 || interlace != 0)
    return std::nullopt;
  plan.alpha = colourType == kColourRgba;
  return plan;
}

size_t FilteredRowBytes(const PngDirectPlan& plan) { return 1 + plan.RowBytes(); }

// Where the inflated rows start in the pixel memory. Row y, filter byte first, lands at
// start + y * (row bytes + 1) and is unfiltered to y * stride; the start is chosen so
// that no row is written ahead of its own filtered bytes, which are read as it is written.
size_t InflatedStart(const PngDirectPlan& plan, size_t stride) {
  const size_t filtered = FilteredRowBytes(plan);
  return stride > filtered ? (size_t(plan.height) - 1) * (stride - filtered) : 0;
}

uint8_t PaethPredictor(int left, int up, int upLeft) {
  const int toLeft = std::abs(up - upLeft);
  const int toUp = std::abs(left - upLeft);
  const int toUpLeft = std::abs(left + up - 2 * upLeft);
  if (toLeft <= toUp && toLeft <= toUpLeft) return uint8_t(left);
  return uint8_t(toUp <= toUpLeft ? up : upLeft);
}

enum Filter : uint8_t { kNone, kSub, kUp, kAverage, kPaeth };

// Unfilters one row of `width` pixels of N bytes from `in` (as stored: red, green, blue,
// alpha) to `out` (blue, green, red, alpha), beside the previous row as it was written to
// the Bitmap. `out` may lie before `in` in the same memory: each pixel is read whole before
// it is written. The samples stay in registers (byte arrays on the stack, read back whole,
// would stall every pixel).
template <size_t N, Filter F>
void UnfilterRow(const uint8_t* in, const uint8_t* previous, uint8_t* out, size_t width) {
  unsigned left[N] = {}, upLeft[N] = {};
  for (size_t x = 0; x < width; ++x) {
    const uint8_t* pixel = in + x * N;
    unsigned raw[N];
#pragma GCC unroll 4
    for (size_t k = 0; k < N; ++k) raw[k] = pixel[k < 3 ? 2 - k : k];  // red and blue swap
#pragma GCC unroll 4
    for (size_t k = 0; k < N; ++k) {
      const unsigned up = previous[x * N + k];
      unsigned v = raw[k];
      if constexpr (F == kSub) v += left[k];
      if constexpr (F == kUp) v += up;
      if constexpr (F == kAverage) v += (left[k] + up) >> 1;
      if constexpr (F == kPaeth) v += PaethPredictor(int(left[k]), int(up), int(upLeft[k]));
      left[k] = v & 0xFF;
      upLeft[k] = up;
    }
#pragma GCC unroll 4
    for (size_t k = 0; k < N; ++k) out[x * N + k] = uint8_t(left[k]);
  }
}

template <size_t N>
void Unfilter(Filter filter, const uint8_t* in, const uint8_t* previous, uint8_t* out,
              size_t width) {
  switch (filter) {
    case kNone: UnfilterRow<N, kNone>(in, previous, out, width); break;
    case kSub: UnfilterRow<N, kSub>(in, previous, out, width); break;
    case kUp: UnfilterRow<N, kUp>(in, previous, out, width); break;
    case kAverage: UnfilterRow<N, kAverage>(in, previous, out, width); break;
    case kPaeth: UnfilterRow<N, kPaeth>(in, previous, out, width); break;
  }
}

struct DecompressorDeleter {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// Inflates the whole zlib stream into `out`, which it must fill exactly, using up every
// byte, with its Adler checksum right.
bool InflateExactly(std::span<const uint8_t> stream, std::span<uint8_t> out) {
  if (stream.empty() || stream[0] != kZlibDeflate32K) return false;
  const std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(
      libdeflate_alloc_decompressor());
  if (!decompressor) return false;
  size_t used = 0, written = 0;
  return libdeflate_zlib_decompress_ex(decompressor.get(), stream.data(), stream.size(),
                                       out.data(), out.size(), &used, &written) ==
             LIBDEFLATE_SUCCESS &&
         used == stream.size() && written == out.size();
}

// Fresh memory costs a page fault for every 4 KiB page it is taken in; a large buffer that
// is about to be filled is taken in 2 MiB pages where the system has them.
void AdviseHugePages(uint8_t* memory, size_t size) {
  constexpr uintptr_t kHugePage = uintptr_t(2) << 20;
  const auto start = reinterpret_cast<uintptr_t>(memory);
  const uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (start + size) & ~(kHugePage - 1);
  if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

}  // namespace

std::optional<PngDirectPlan> PlanDirectPng(std::span<const uint8_t> file) {
  if (file.size() < sizeof kSignature || std::memcmp(file.data(), kSignature, 8) != 0)
    return std::nullopt;
  size_t at = sizeof kSignature;
  const std::optional<Chunk> header = NextChunk(file, at, kLargestLeadingChunk);
  if (!header) return std::nullopt;
  std::optional<PngDirectPlan> plan = PlanFromHeader(*header);
  if (!plan) return std::nullopt;
  // Before the image data only ancillary chunks that libpng reads without consequence
  // here; a transparent colour (tRNS) makes a different Bitmap.
  std::optional<Chunk> chunk;
  while ((chunk = NextChunk(file, at, kLargestLeadingChunk)) && !Is(*chunk, "IDAT")) {
    const bool ancillary = chunk->type[0] & 0x20;
    if (!ancillary || Is(*chunk, "tRNS")) return std::nullopt;
  }
  if (!chunk) return std::nullopt;
  // The image data chunks follow one another; libpng reads no further.
  const uint64_t filteredBytes = uint64_t(plan->height) * FilteredRowBytes(*plan);
  const auto largest = uint32_t(std::min<uint64_t>(kLargestChunk, filteredBytes));
  while (chunk && Is(*chunk, "IDAT")) {
    plan->imageData.push_back(chunk->data);
    plan->imageDataBytes += chunk->data.size();
    const size_t next = at;
    chunk = NextChunk(file, at, largest);
    if (!chunk && next < file.size()) {
      // A damaged or overlong chunk after the image data is no concern of the rows; one
      // that may still be image data is.
      ByteReader in(file.subspan(next));
      if (in.Remaining() < 8) return std::nullopt;
      in.U32BE();
      if (std::memcmp(in.Bytes(4).data(), "IDAT", 4) == 0) return std::nullopt;
    }
  }
  return plan;
}

size_t DirectPngMemoryBytes(const PngDirectPlan& plan, size_t stride) {
  const size_t rows = size_t(plan.height) * stride;
  const size_t inflated = InflatedStart(plan, stride) + size_t(plan.height) * FilteredRowBytes(plan);
  return std::max(rows, inflated);
}

std::span<const uint8_t> JoinImageData(const PngDirectPlan& plan, std::vector<uint8_t>& storage) {
  if (plan.imageData.size() == 1) return plan.imageData[0];
  storage.clear();
  storage.reserve(plan.imageDataBytes);
  AdviseHugePages(storage.data(), storage.capacity());
  for (const auto& piece : plan.imageData) storage.insert(storage.end(), piece.begin(), piece.end());
  return storage;
}

bool DecodeDirectPng(const PngDirectPlan& plan, std::span<const uint8_t> imageData,
                     std::span<uint8_t> memory, size_t stride) {
  const size_t filtered = FilteredRowBytes(plan);
  const size_t start = InflatedStart(plan, stride);
  const size_t height = plan.height;
  if (memory.size() < DirectPngMemoryBytes(plan, stride) || stride < plan.RowBytes() ||
      !InflateExactly(imageData, memory.subspan(start, height * filtered)))
    return false;

  const std::vector<uint8_t> blankRow(plan.RowBytes(), 0);
  for (size_t y = 0; y < height; ++y) {
    const std::span<const uint8_t> row = memory.subspan(start + y * filtered, filtered);
    if (row[0] > kPaeth) return false;  // libpng has the message for it
    const uint8_t* previous = y == 0 ? blankRow.data() : memory.subspan((y - 1) * stride).data();
    uint8_t* out = memory.subspan(y * stride).data();
    if (plan.alpha)
      Unfilter<4>(Filter(row[0]), row.subspan(1).data(), previous, out, plan.width);
    else
      Unfilter<3>(Filter(row[0]), row.subspan(1).data(), previous, out, plan.width);
  }
  for (size_t y = 0; y < height; ++y) {
    const std::span<uint8_t> padding =
        memory.subspan(y * stride + plan.RowBytes(), stride - plan.RowBytes());
    std::fill(padding.begin(), padding.end(), 0);
  }
  return true;
}

}  // namespace pictures
