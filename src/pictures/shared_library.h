// Shared libraries loaded when the first picture that needs them is read rather than when
// the program starts: a decoder linked into every program costs every conversion its
// start-up (tables built as it loads), and a missing library then fails only the pictures
// that need it, with a clear message, instead of the program's start.
//
// A reader lists the functions it calls in an X-macro table and resolves them by their own
// names, so that its code calls them as it would call the linked library:
//
//   #define PICTURES_FOO_FUNCTIONS(X) X(foo_open) X(foo_close)
//   struct FooLibrary { PICTURES_FOO_FUNCTIONS(PICTURES_LIBRARY_POINTER) };
//   ... if (!ResolveFunction(handle, "foo_open", "FOO", f.foo_open, error)) ...
#pragma once

#include <initializer_list>
#include <string>

namespace pictures {

// Declares one member of a function table: a pointer of the function's own type.
#define PICTURES_LIBRARY_POINTER(name) decltype(&::name) name = nullptr;

// Opens the first of `names` that loads (sonames differ between releases) for the life of
// the process. Null when none loads; `error` then reads "the <what> library cannot be
// loaded (<the loader's reason>)".
void* OpenSharedLibrary(std::initializer_list<const char*> names, const char* what,
                        std::string& error);

// The address of `symbol` in `handle`; null when the library lacks it, and `error` then
// reads "the <what> library lacks <symbol>".
void* FindLibrarySymbol(void* handle, const char* symbol, const char* what, std::string& error);

// Stops the library in `handle` from writing to the terminal: its calls of the C library's
// printing functions on standard output or standard error (through its procedure linkage
// table, the way a shared library calls them) go to functions that write nothing, while
// its writes to other files go on as before. For libraries that print their complaints
// about damaged data and have no handler to take them. True when every such call was
// redirected.
bool SilenceTerminalOutput(void* handle);

template <typename Function>
bool ResolveFunction(void* handle, const char* symbol, const char* what, Function*& function,
                     std::string& error) {
  function = reinterpret_cast<Function*>(FindLibrarySymbol(handle, symbol, what, error));
  return function != nullptr;
}

}  // namespace pictures
