#include "pictures/formats/jxl_library.h"

namespace pictures {

namespace {

void IgnoreColourError(cmsContext, cmsUInt32Number, const char*) {}

struct LoadedJxl {
  JxlLibrary functions;
  std::string error;  // empty when the libraries are ready
};

LoadedJxl Load() {
  LoadedJxl loaded;
  JxlLibrary& f = loaded.functions;
#define PICTURES_JXL_RESOLVE(name) \
  if (!ResolveFunction(handle, #name, what, f.name, loaded.error)) return loaded;
  {
    const char* what = "JPEG XL";
    void* handle = OpenSharedLibrary({"libjxl.so.0.7"}, what, loaded.error);
    if (!handle) return loaded;
    // libjxl prints what it finds wrong in a damaged file on the terminal.
    SilenceTerminalOutput(handle);
    PICTURES_JXL_FUNCTIONS(PICTURES_JXL_RESOLVE)
  }
  {
    const char* what = "JPEG XL threads";
    void* handle = OpenSharedLibrary({"libjxl_threads.so.0.7"}, what, loaded.error);
    if (!handle) return loaded;
    PICTURES_JXL_THREADS_FUNCTIONS(PICTURES_JXL_RESOLVE)
  }
  {
    const char* what = "Little CMS colour";
    void* handle = OpenSharedLibrary({"liblcms2.so.2"}, what, loaded.error);
    if (!handle) return loaded;
    PICTURES_LCMS_FUNCTIONS(PICTURES_JXL_RESOLVE)
  }
#undef PICTURES_JXL_RESOLVE
  f.colourContext = f.cmsCreateContext(nullptr, nullptr);
  if (!f.colourContext) {
    loaded.error = "the Little CMS colour library cannot start";
    return loaded;
  }
  f.cmsSetLogErrorHandlerTHR(f.colourContext, IgnoreColourError);
  return loaded;
}

}  // namespace

const JxlLibrary* LoadJxlLibrary(std::string& why) {
  static const LoadedJxl loaded = Load();
  why = loaded.error;
  return loaded.error.empty() ? &loaded.functions : nullptr;
}

}  // namespace pictures
