// OpenJPEG, loaded when the first JPEG 2000 picture is read rather than when the program
// starts, like every decoding library that only some pictures need.
#pragma once

#include <openjpeg.h>

#include <string>

#include "pictures/shared_library.h"

namespace pictures {

// The OpenJPEG functions the JPEG 2000 reader calls, by their own names.
#define PICTURES_OPENJPEG_FUNCTIONS(X)  \
  X(opj_create_decompress)              \
  X(opj_destroy_codec)                  \
  X(opj_set_info_handler)               \
  X(opj_set_warning_handler)            \
  X(opj_set_error_handler)              \
  X(opj_set_default_decoder_parameters) \
  X(opj_setup_decoder)                  \
  X(opj_decoder_set_strict_mode)        \
  X(opj_codec_set_threads)              \
  X(opj_stream_create)                  \
  X(opj_stream_destroy)                 \
  X(opj_stream_set_read_function)       \
  X(opj_stream_set_skip_function)       \
  X(opj_stream_set_seek_function)       \
  X(opj_stream_set_user_data)           \
  X(opj_stream_set_user_data_length)    \
  X(opj_read_header)                    \
  X(opj_decode)                         \
  X(opj_image_destroy)

struct OpenJpegLibrary {
  PICTURES_OPENJPEG_FUNCTIONS(PICTURES_LIBRARY_POINTER)
};

// Loads OpenJPEG once for the process (safe from several threads). Null when it cannot be
// loaded; `why` then says why.
const OpenJpegLibrary* LoadOpenJpegLibrary(std::string& why);

}  // namespace pictures
