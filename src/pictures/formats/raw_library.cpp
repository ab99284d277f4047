#include "pictures/formats/raw_library.h"

namespace pictures {

namespace {

struct LoadedRaw {
  RawLibrary functions;
  std::string error;  // empty when the library is ready
};

LoadedRaw Load() {
  LoadedRaw loaded;
  // LibRaw 0.20 as packaged: the thread-safe build first (conversions run on several
  // threads), the plain one where only it is installed.
  void* handle = OpenSharedLibrary({"libraw_r.so.20", "libraw.so.20"}, "LibRaw", loaded.error);
  if (!handle) return loaded;
  RawLibrary& f = loaded.functions;
#define PICTURES_RAW_RESOLVE(name) \
  if (!ResolveFunction(handle, #name, "LibRaw", f.name, loaded.error)) return loaded;
  PICTURES_RAW_FUNCTIONS(PICTURES_RAW_RESOLVE)
#undef PICTURES_RAW_RESOLVE
  return loaded;
}

}  // namespace

const RawLibrary* LoadRawLibrary(std::string& why) {
  static const LoadedRaw loaded = Load();
  why = loaded.error;
  return loaded.error.empty() ? &loaded.functions : nullptr;
}

}  // namespace pictures
