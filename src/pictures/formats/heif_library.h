// libheif, loaded when the first HEIF or AVIF picture is read rather than when the program
// starts: the decoders it brings along build their tables as they are loaded (libde265's
// take a millisecond or two), which every conversion of every other format would pay.
#pragma once

#include <libheif/heif.h>

#include <string>

#include "pictures/shared_library.h"

namespace pictures {

// The libheif functions the HEIF reader calls, by their own names.
#define PICTURES_HEIF_FUNCTIONS(X)                                                         \
  X(heif_init)                                                                             \
  X(heif_context_alloc)                                                                    \
  X(heif_context_free)                                                                     \
  X(heif_context_set_maximum_image_size_limit)                                             \
  X(heif_context_read_from_memory_without_copy)                                            \
  X(heif_context_get_primary_image_handle)                                                 \
  X(heif_image_handle_release)                                                             \
  X(heif_image_handle_get_width)                                                           \
  X(heif_image_handle_get_height)                                                          \
  X(heif_image_handle_has_alpha_channel)                                                   \
  X(heif_decoding_options_alloc)                                                           \
  X(heif_decoding_options_free)                                                            \
  X(heif_decode_image)                                                                     \
  X(heif_image_release)                                                                    \
  X(heif_image_get_width)                                                                  \
  X(heif_image_get_height)                                                                 \
  X(heif_image_get_bits_per_pixel)                                                         \
  X(heif_image_get_plane_readonly)

struct HeifLibrary {
  PICTURES_HEIF_FUNCTIONS(PICTURES_LIBRARY_POINTER)
};

// Loads libheif and initialises it, once for the process (safe from several threads). Null
// when the library cannot be loaded or initialised; `why` then says what went wrong.
const HeifLibrary* LoadHeifLibrary(std::string& why);

}  // namespace pictures
