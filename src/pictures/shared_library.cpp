#include "pictures/shared_library.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace pictures {

namespace {

bool ToTerminal(FILE* stream) { return stream == stdout || stream == stderr; }

// The replacements of the printing functions: silent on the terminal's streams, the C
// library's own behaviour on any other.
int QuietVfprintfChk(FILE* stream, int, const char* format, va_list args) {
  return ToTerminal(stream) ? 0 : std::vfprintf(stream, format, args);
}
int QuietFprintfChk(FILE* stream, int, const char* format, ...) {
  if (ToTerminal(stream)) return 0;
  va_list args;
  va_start(args, format);
  const int written = std::vfprintf(stream, format, args);
  va_end(args);
  return written;
}
int QuietPrintfChk(int, const char*, ...) { return 0; }
int QuietVfprintf(FILE* stream, const char* format, va_list args) {
  return ToTerminal(stream) ? 0 : std::vfprintf(stream, format, args);
}
int QuietFprintf(FILE* stream, const char* format, ...) {
  if (ToTerminal(stream)) return 0;
  va_list args;
  va_start(args, format);
  const int written = std::vfprintf(stream, format, args);
  va_end(args);
  return written;
}
int QuietPrintf(const char*, ...) { return 0; }
int QuietPuts(const char*) { return 0; }
int QuietFputs(const char* text, FILE* stream) {
  return ToTerminal(stream) ? 0 : std::fputs(text, stream);
}
int QuietFputc(int c, FILE* stream) { return ToTerminal(stream) ? c : std::fputc(c, stream); }
size_t QuietFwrite(const void* data, size_t size, size_t count, FILE* stream) {
  return ToTerminal(stream) ? count : std::fwrite(data, size, count, stream);
}

struct Replacement {
  const char* symbol;
  void* function;
};

const Replacement kQuietPrinting[] = {
    {"__vfprintf_chk", reinterpret_cast<void*>(QuietVfprintfChk)},
    {"__fprintf_chk", reinterpret_cast<void*>(QuietFprintfChk)},
    {"__printf_chk", reinterpret_cast<void*>(QuietPrintfChk)},
    {"vfprintf", reinterpret_cast<void*>(QuietVfprintf)},
    {"fprintf", reinterpret_cast<void*>(QuietFprintf)},
    {"printf", reinterpret_cast<void*>(QuietPrintf)},
    {"puts", reinterpret_cast<void*>(QuietPuts)},
    {"fputs", reinterpret_cast<void*>(QuietFputs)},
    {"fputc", reinterpret_cast<void*>(QuietFputc)},
    {"putc", reinterpret_cast<void*>(QuietFputc)},
    {"fwrite", reinterpret_cast<void*>(QuietFwrite)},
};

// An address of the dynamic section: absolute once the loader has relocated it, as glibc
// does on this platform, else relative to the library's base.
uintptr_t DynamicAddress(const link_map& map, ElfW(Addr) value) {
  return value < map.l_addr ? map.l_addr + value : value;
}

// The part of a loaded library that the loader makes read-only once it has relocated it.
struct ReadOnlyAfterRelocation {
  uintptr_t base;
  uintptr_t start = 0, end = 0;
};

int FindReadOnlyAfterRelocation(dl_phdr_info* info, size_t, void* data) {
  auto* range = static_cast<ReadOnlyAfterRelocation*>(data);
  if (info->dlpi_addr != range->base) return 0;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    if (info->dlpi_phdr[i].p_type != PT_GNU_RELRO) continue;
    range->start = info->dlpi_addr + info->dlpi_phdr[i].p_vaddr;
    range->end = range->start + info->dlpi_phdr[i].p_memsz;
  }
  return 1;
}

// Writes one slot of the library's global offset table, opening its page for the write
// (and closing it again) when it lies in the part that was made read-only.
bool WriteSlot(const ReadOnlyAfterRelocation& readOnly, uintptr_t slot, void* function) {
  const bool guarded = slot >= readOnly.start && slot < readOnly.end;
  const uintptr_t pageSize = uintptr_t(::sysconf(_SC_PAGESIZE));
  void* page = reinterpret_cast<void*>(slot & ~(pageSize - 1));
  if (guarded && ::mprotect(page, pageSize, PROT_READ | PROT_WRITE) != 0) return false;
  std::memcpy(reinterpret_cast<void*>(slot), &function, sizeof function);
  if (guarded) ::mprotect(page, pageSize, PROT_READ);
  return true;
}

}  // namespace

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

bool SilenceTerminalOutput(void* handle) {
  link_map* map = nullptr;
  if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map) return false;
  uintptr_t relocations = 0, symbols = 0, names = 0;
  size_t relocationBytes = 0;
  for (const ElfW(Dyn)* entry = map->l_ld; entry->d_tag != DT_NULL; ++entry) {
    if (entry->d_tag == DT_JMPREL) relocations = DynamicAddress(*map, entry->d_un.d_ptr);
    if (entry->d_tag == DT_PLTRELSZ) relocationBytes = entry->d_un.d_val;
    if (entry->d_tag == DT_SYMTAB) symbols = DynamicAddress(*map, entry->d_un.d_ptr);
    if (entry->d_tag == DT_STRTAB) names = DynamicAddress(*map, entry->d_un.d_ptr);
    if (entry->d_tag == DT_PLTREL && entry->d_un.d_val != DT_RELA) return false;
  }
  if (!relocations || !symbols || !names) return relocationBytes == 0;
  ReadOnlyAfterRelocation readOnly{map->l_addr};
  ::dl_iterate_phdr(FindReadOnlyAfterRelocation, &readOnly);
  bool silenced = true;
  for (size_t offset = 0; offset + sizeof(ElfW(Rela)) <= relocationBytes;
       offset += sizeof(ElfW(Rela))) {
    ElfW(Rela) relocation;
    std::memcpy(&relocation, reinterpret_cast<const void*>(relocations + offset), sizeof relocation);
    ElfW(Sym) symbol;
    std::memcpy(&symbol,
                reinterpret_cast<const void*>(symbols + ELF64_R_SYM(relocation.r_info) * sizeof symbol),
                sizeof symbol);
    const char* name = reinterpret_cast<const char*>(names + symbol.st_name);
    for (const Replacement& replacement : kQuietPrinting)
      if (std::strcmp(name, replacement.symbol) == 0)
        silenced = WriteSlot(readOnly, map->l_addr + relocation.r_offset, replacement.function) &&
                   silenced;
  }
  return silenced;
}

void* FindLibrarySymbol(void* handle, const char* symbol, const char* what, std::string& error) {
  void* address = ::dlsym(handle, symbol);
  if (!address) error = std::string("the ") + what + " library lacks " + symbol;
  return address;
}

}  // namespace pictures
