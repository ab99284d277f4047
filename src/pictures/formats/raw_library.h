// LibRaw, the camera raw decoder, loaded when the first raw picture is read rather than
// when the program starts: with its colour management and OpenMP runtime it would cost
// every other conversion its loading, and a machine without it still reads the rest.
#pragma once

#include <libraw/libraw.h>

#include <string>

#include "pictures/shared_library.h"

namespace pictures {

// The LibRaw functions the raw reader calls, by their own names (its C interface).
#define PICTURES_RAW_FUNCTIONS(X)   \
  X(libraw_init)                    \
  X(libraw_close)                   \
  X(libraw_strerror)                \
  X(libraw_set_dataerror_handler)   \
  X(libraw_open_buffer)             \
  X(libraw_unpack)                  \
  X(libraw_dcraw_process)           \
  X(libraw_dcraw_make_mem_image)    \
  X(libraw_dcraw_clear_mem)         \
  X(libraw_recycle)

struct RawLibrary {
  PICTURES_RAW_FUNCTIONS(PICTURES_LIBRARY_POINTER)
};

// Loads the library once for the process (safe from several threads). Null when it cannot
// be loaded; `why` then says what went wrong.
const RawLibrary* LoadRawLibrary(std::string& why);

}  // namespace pictures
