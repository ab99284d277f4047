// A camera raw file written by hand: a little-endian DNG whose first directory holds one
// uncompressed strip of 16-bit colour filter array samples with the tags a raw developer
// needs (the filter pattern, black and white levels, a colour matrix and the white
// balance the camera saw). Tests and benchmarks need no camera's file.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace test_support {

struct DngPicture {
  int width = 40;
  int height = 30;
  // The filter colour (0 red, 1 green, 2 blue) of the top-left 2 x 2 pixels, row by row.
  std::array<uint8_t, 4> pattern = {0, 1, 1, 2};
  int orientation = 1;  // as the TIFF tag: 1 upright, 3 half turn, 6 and 8 quarter turns
  uint16_t black = 256;
  uint16_t white = 65535;
};

// The sample of a smooth, colourful scene that the sensor pixel (x, y) of `colour` sees,
// between the picture's black and white levels.
uint16_t DngSample(const DngPicture& picture, int x, int y, int colour);

std::vector<uint8_t> MakeDng(const DngPicture& picture);

}  // namespace test_support
