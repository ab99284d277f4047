// The picture sizes that a HEIF or AVIF file declares besides its items' `ispe`
// properties. libheif checks an image's size against its limits from `ispe`, but it
// allocates a grid's or an overlay's canvas from its own description, and the HEVC and AV1
// decoders allocate their frames from the sequence parameters inside `hvcC` and `av1C`.
// This bounded parser reads those, so that the reader can refuse a file whose decoding
// would take far more memory than the picture it shows.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace pictures::heif_boxes {

enum class Codec { HEVC, AV1 };

// The picture size of one HEVC sequence parameter set or AV1 sequence header.
struct CodedSize {
  Codec codec;
  uint64_t width;
  uint64_t height;
};

// The output canvas of a `grid` item and its tiles, or of an `iovl` (overlay) item, which
// has no tiles (rows and columns 0).
struct Canvas {
  uint64_t width;
  uint64_t height;
  uint32_t rows;
  uint32_t columns;
  // The largest picture any of the grid's own tiles decodes to: the coded size of an HEVC
  // or AV1 tile, the `ispe` size of a tile of another kind; 0 where a tile tells neither.
  uint64_t tileWidth = 0;
  uint64_t tileHeight = 0;
};

struct DeclaredSizes {
  std::vector<Canvas> canvases;
  std::vector<CodedSize> coded;
};

// Every `grid` and `iovl` item's canvas (a grid's with the size of its tiles, found
// through its `dimg` references and their items' properties), and every coded picture size
// in the `hvcC` and `av1C` properties and in the first extent of `hvc1` and `av01` items.
// What cannot be parsed is left out: the decoder library judges it.
DeclaredSizes FindDeclaredSizes(std::span<const uint8_t> file);

}  // namespace pictures::heif_boxes
