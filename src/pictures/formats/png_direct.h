// The quick way through the most common PNG files: 8-bit RGB or RGBA, not interlaced, with
// nothing before the image data that libpng would act on. Their image data is inflated in
// one call (libdeflate) straight into the Bitmap's memory and unfiltered there, row by row,
// into blue, green, red (and alpha) pixels. Any file this path does not take exactly as
// libpng would (a damaged chunk, a bad checksum, an unusual stream) is left to libpng, so
// pictures and messages are the same either way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pictures {

struct PngDirectPlan {
  uint32_t width = 0;
  uint32_t height = 0;
  bool alpha = false;  // RGBA; RGB otherwise
  // The data of the image data chunks, in order.
  std::vector<std::span<const uint8_t>> imageData;
  uint64_t imageDataBytes = 0;

  size_t PixelBytes() const { return alpha ? 4 : 3; }
  size_t RowBytes() const { return size_t(width) * PixelBytes(); }
};

// The plan for a file the quick path can take, or nothing.
std::optional<PngDirectPlan> PlanDirectPng(std::span<const uint8_t> file);

// The pixel memory the quick path needs for rows `stride` bytes apart: the filtered rows
// are inflated into it, placed so that each row can be unfiltered into its own place.
size_t DirectPngMemoryBytes(const PngDirectPlan& plan, size_t stride);

// The image data chunks' data as one zlib stream: a view of the file when there is one
// chunk, else joined in `storage`.
std::span<const uint8_t> JoinImageData(const PngDirectPlan& plan, std::vector<uint8_t>& storage);

// Inflates `imageData` (JoinImageData) and fills the rows of `memory` (DirectPngMemoryBytes
// long, rows `stride` bytes apart, their padding cleared). False when the data is not
// exactly what the plan promises; the memory then holds no picture.
bool DecodeDirectPng(const PngDirectPlan& plan, std::span<const uint8_t> imageData,
                     std::span<uint8_t> memory, size_t stride);

}  // namespace pictures
