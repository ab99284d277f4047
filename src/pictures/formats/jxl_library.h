// libjxl, loaded when the first JPEG XL picture is read rather than when the program
// starts, with the two libraries the JPEG XL reader uses beside it: libjxl's thread pool
// and the colour management library (Little CMS) that libjxl itself is built on, which
// turns pictures kept in colour spaces other than sRGB into sRGB.
#pragma once

#include <jxl/decode.h>
#include <jxl/resizable_parallel_runner.h>
#include <lcms2.h>

#include <string>

#include "pictures/shared_library.h"

namespace pictures {

// The functions the JPEG XL reader calls, by their own names, library by library.
#define PICTURES_JXL_FUNCTIONS(X)        \
  X(JxlSignatureCheck)                   \
  X(JxlDecoderCreate)                    \
  X(JxlDecoderDestroy)                   \
  X(JxlDecoderSubscribeEvents)           \
  X(JxlDecoderSetUnpremultiplyAlpha)     \
  X(JxlDecoderSetParallelRunner)         \
  X(JxlDecoderSetInput)                  \
  X(JxlDecoderCloseInput)                \
  X(JxlDecoderProcessInput)              \
  X(JxlDecoderGetBasicInfo)              \
  X(JxlDecoderGetColorAsEncodedProfile)  \
  X(JxlDecoderSetPreferredColorProfile)  \
  X(JxlDecoderGetICCProfileSize)         \
  X(JxlDecoderGetColorAsICCProfile)      \
  X(JxlDecoderSetImageOutCallback)

#define PICTURES_JXL_THREADS_FUNCTIONS(X)  \
  X(JxlResizableParallelRunnerCreate)      \
  X(JxlResizableParallelRunnerSetThreads)  \
  X(JxlResizableParallelRunnerDestroy)     \
  X(JxlResizableParallelRunner)

#define PICTURES_LCMS_FUNCTIONS(X) \
  X(cmsCreateContext)              \
  X(cmsSetLogErrorHandlerTHR)      \
  X(cmsOpenProfileFromMemTHR)      \
  X(cmsCreate_sRGBProfileTHR)      \
  X(cmsCloseProfile)               \
  X(cmsCreateTransformTHR)         \
  X(cmsDeleteTransform)            \
  X(cmsDoTransform)

struct JxlLibrary {
  PICTURES_JXL_FUNCTIONS(PICTURES_LIBRARY_POINTER)
  PICTURES_JXL_THREADS_FUNCTIONS(PICTURES_LIBRARY_POINTER)
  PICTURES_LCMS_FUNCTIONS(PICTURES_LIBRARY_POINTER)
  // The reader's own Little CMS context, whose error handler says nothing: a damaged
  // profile is reported by the reader, not printed.
  cmsContext colourContext = nullptr;
};

// Loads the three libraries once for the process (safe from several threads). Null when
// one of them cannot be loaded; `why` then says which and why.
const JxlLibrary* LoadJxlLibrary(std::string& why);

}  // namespace pictures
