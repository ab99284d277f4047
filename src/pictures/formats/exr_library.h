// OpenEXR's core library (its C interface), loaded when the first OpenEXR picture is read
// rather than when the program starts, so that no other conversion pays for loading it and
// a machine without it still reads every other format.
#pragma once

#include <OpenEXR/openexr.h>

#include <string>

#include "pictures/shared_library.h"

namespace pictures {

// The OpenEXR functions the EXR reader calls, by their own names.
#define PICTURES_EXR_FUNCTIONS(X)           \
  X(exr_get_default_error_message)          \
  X(exr_start_read)                         \
  X(exr_finish)                             \
  X(exr_get_count)                          \
  X(exr_get_storage)                        \
  X(exr_get_data_window)                    \
  X(exr_get_channels)                       \
  X(exr_get_compression)                    \
  X(exr_get_chunk_count)                    \
  X(exr_get_scanlines_per_chunk)            \
  X(exr_get_tile_descriptor)                \
  X(exr_attr_get_chromaticities)            \
  X(exr_read_scanline_chunk_info)           \
  X(exr_read_tile_chunk_info)               \
  X(exr_decoding_initialize)                \
  X(exr_decoding_update)                    \
  X(exr_decoding_choose_default_routines)   \
  X(exr_decoding_run)                       \
  X(exr_decoding_destroy)

struct ExrLibrary {
  PICTURES_EXR_FUNCTIONS(PICTURES_LIBRARY_POINTER)
};

// Loads the library once for the process (safe from several threads). Null when it cannot
// be loaded; `why` then says what went wrong.
const ExrLibrary* LoadExrLibrary(std::string& why);

}  // namespace pictures
