// Feeds arbitrary bytes to the metafile reader, which plays 16-bit and enhanced metafile
// records with QPainter; errors are the expected outcome of bad input. Qt is set up once,
// on the offscreen platform, so no display is needed.
//
// A metafile is drawn at the size its header declares whatever its length (one rectangle
// may fill a large picture), so its budget is the pixel memory limit the harness sets plus
// room for the painter's own work. Its work is held to the player's budget, about a second
// of drawing: an input that takes more than a second of processor time is a finding.
#include <QGuiApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_support.h"
#include "platform/metafile.h"

namespace {

constexpr fuzz_support::AllocationBudget kMetafileBudget{256, (64u << 20) + (16u << 20)};

}  // namespace

// Fontconfig, which Qt loads for text records, keeps allocations of its own to the end of
// the process; they are not the player's.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The application lives for the whole run, as the dialog's does.
  static QGuiApplication* application = new QGuiApplication(*argc, *argv);
  (void)application;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz_support::CpuTimeLimit limit(1.0);
  return fuzz_support::LoadFromMemory<platform::TMetafile>(data, size, fuzz_support::DrawIfSmall,
                                                          kMetafileBudget);
}
