#include "pictures/shared_library.h"

#include <dlfcn.h>

namespace pictures {

void* OpenSharedLibrary(std::initializer_list<const char*> names, const char* what,
                        std::string& error) {
  std::string reasons;
  for (const char* name : names) {
    // RTLD_LOCAL: the library's symbols serve only the table that looks them up.
    if (void* handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL)) return handle;
    const char* why = ::dlerror();
    if (!reasons.empty()) reasons += "; ";
    reasons += why ? why : name;
  }
  error = std::string("the ") + what + " library cannot be loaded (" + reasons + ")";
  return nullptr;
}

void* FindLibrarySymbol(void* handle, const char* symbol, const char* what, std::string& error) {
  void* address = ::dlsym(handle, symbol);
  if (!address) error = std::string("the ") + what + " library lacks " + symbol;
  return address;
}

}  // namespace pictures
