// Feeds arbitrary bytes to the CUT reader together with a palette file. The input is
// split: byte 0 chooses how the palette file is named beside the picture (exactly, in
// other letter case, or not at all), bytes 1-2 give the palette's length (little-endian,
// taken modulo what is left), then come the palette and the picture. Both are written to
// files in a private folder and loaded by name, as the dialog does.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "fuzz_support.h"
#include "pictures/formats/cut.h"

namespace {

const std::string& Folder();

void RemoveFolder() {
  for (const char* name : {"/picture.cut", "/picture.pal", "/Picture.PAL"})
    ::unlink((Folder() + name).c_str());
  ::rmdir(Folder().c_str());
}

const std::string& Folder() {
  static const std::string folder = [] {
    // On a memory file system where there is one: on a disk, writing two files an input
    // leaves the fuzzer waiting most of its time.
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    std::string name = std::string(base && *base ? base : "/tmp") + "/fuzz_cut_XXXXXX";
    if (!::mkdtemp(name.data())) std::abort();
    return name;
  }();
  static const bool cleanup = (std::atexit(RemoveFolder), true);
  (void)cleanup;
  return folder;
}

void Write(const std::string& path, std::span<const uint8_t> bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) std::abort();
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) std::abort();
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::LimitPixelMemory();
  if (size < 3) return 0;
  const int naming = data[0] % 3;
  const size_t rest = size - 3;
  const size_t paletteSize = (size_t(data[1]) | size_t(data[2]) << 8) % (rest + 1);
  const std::span<const uint8_t> palette(data + 3, paletteSize);
  const std::span<const uint8_t> picture(data + 3 + paletteSize, rest - paletteSize);

  const std::string pictureName = Folder() + "/picture.cut";
  const std::string paletteNames[] = {Folder() + "/picture.pal", Folder() + "/Picture.PAL"};
  for (const std::string& name : paletteNames) ::unlink(name.c_str());
  Write(pictureName, picture);
  if (naming < 2) Write(paletteNames[naming], palette);

  pictures::TCUTGraphic reader;
  try {
    fuzz_support::AllocationWatch watch(size, fuzz_support::kDefaultBudget);
    reader.LoadFile(pictureName);
  } catch (const pictures::PictureError&) {
  }
  return 0;
}
