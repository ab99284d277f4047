// Loading the files that reader tests build in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pictures/bitmap.h"
#include "base/error.h"

namespace test_support {

// Loads `file` from memory into `picture` through the picture's own reader.
void Load(pictures::Bitmap& picture, const std::vector<uint8_t>& file);

// The message of the error that a new `Reader` raises on `file`, or "no error".
template <typename Reader>
std::string LoadError(const std::vector<uint8_t>& file) {
  Reader picture;
  try {
    Load(picture, file);
  } catch (const pictures::PictureError& error) {
    return error.what();
  }
  return "no error";
}

}  // namespace test_support
