#include "pictures/formats/exr_library.h"

namespace pictures {

namespace {

struct LoadedExr {
  ExrLibrary functions;
  std::string error;  // empty when the library is ready
};

LoadedExr Load() {
  LoadedExr loaded;
  // The core library of OpenEXR 3.1, as packaged; its interface is C only.
  void* handle = OpenSharedLibrary({"libOpenEXRCore-3_1.so.30"}, "OpenEXR", loaded.error);
  if (!handle) return loaded;
  ExrLibrary& f = loaded.functions;
#define PICTURES_EXR_RESOLVE(name) \
  if (!ResolveFunction(handle, #name, "OpenEXR", f.name, loaded.error)) return loaded;
  PICTURES_EXR_FUNCTIONS(PICTURES_EXR_RESOLVE)
#undef PICTURES_EXR_RESOLVE
  return loaded;
}

}  // namespace

const ExrLibrary* LoadExrLibrary(std::string& why) {
  static const LoadedExr loaded = Load();
  why = loaded.error;
  return loaded.error.empty() ? &loaded.functions : nullptr;
}

}  // namespace pictures
