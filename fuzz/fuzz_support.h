// Shared by the fuzz targets of the picture readers: a lower pixel memory limit, a watch on
// the memory one input makes the reader allocate, and a load from memory in which the
// library's own errors are the expected outcome of bad input.
//
// The allocation watch. A reader must not let a small file take a large amount of memory
// (a decompression bomb): before it allocates pixel memory it checks that the file's data
// can fill the picture at the format's best expansion. The harness holds every reader to
// that: while a reader loads one input, the bytes it has allocated and not yet freed are
// counted, and an input whose peak exceeds `perInputByte` times its size plus `constant`
// is a finding. The count goes through the sanitizer allocator's malloc and free hooks
// (__sanitizer_install_malloc_and_free_hooks), which see malloc, new and the allocations
// of the C libraries (libjpeg, libpng) alike and work with AddressSanitizer, which every
// fuzz build uses; the size of a freed block comes from __sanitizer_get_allocated_size.
// Only the loading thread is counted. On a finding the harness prints the figures and the
// stack of the allocation that crossed the line and aborts, so libFuzzer keeps the input.
//
// The budget is fixed per target: the format's best expansion times how much wider a
// pixel of the Bitmap is than its stored form, rounded up (kDefaultBudget fits raw and
// run-length formats; LZW, Deflate and JPEG targets pass a larger one).
#pragma once

#include <sanitizer/allocator_interface.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "pictures/bitmap.h"
#include "base/error.h"
#include "pictures/stream.h"

namespace fuzz_support {

struct AllocationBudget {
  uint64_t perInputByte;
  uint64_t constant;
};

// Run-length formats expand a 2-byte packet to at most 255 pixels, and a 4-byte RLE24
// packet to 765 bytes; the constant covers fixed work buffers and small pictures.
inline constexpr AllocationBudget kDefaultBudget{256, 4u << 20};

// Formats decoded by a library whose codec can describe a flat picture in a few bytes
// (HEVC, AV1, VP8/VP8L) have no useful bound per input byte: their readers check the
// declared size against the pixel limit before the library decodes, and the budget is that
// limit's worth of decoded planes or canvases, converted rows and the Bitmap.
inline constexpr AllocationBudget kLibraryCodecBudget{256, 384u << 20};

namespace detail {

struct WatchState {
  bool armed;
  int64_t live;
  int64_t peak;
  int64_t limit;
  size_t inputSize;
};

inline thread_local WatchState watch{};

inline void OnMalloc(const volatile void*, size_t size) {
  WatchState& w = watch;
  if (!w.armed) return;
  w.live += int64_t(size);
  if (w.live <= w.peak) return;
  w.peak = w.live;
  if (w.peak <= w.limit) return;
  w.armed = false;
  std::fprintf(stderr,
               "==fuzz_support: peak allocation %lld bytes exceeds the budget of %lld bytes for "
               "an input of %zu bytes (a decompression bomb); this allocation crossed it:\n",
               static_cast<long long>(w.peak), static_cast<long long>(w.limit), w.inputSize);
  __sanitizer_print_stack_trace();
  std::abort();
}

inline void OnFree(const volatile void* pointer) {
  WatchState& w = watch;
  if (!w.armed || !pointer || !__sanitizer_get_ownership(pointer)) return;
  w.live -= int64_t(__sanitizer_get_allocated_size(pointer));
}

inline void InstallHooks() {
  static const bool installed = [] {
    if (!__sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree)) {
      std::fprintf(stderr, "fuzz_support: the allocator has no room for malloc hooks\n");
      std::abort();
    }
    return true;
  }();
  (void)installed;
}

}  // namespace detail

// Counts the allocations of this thread from construction to destruction against the
// budget for an input of `inputSize` bytes.
class AllocationWatch {
 public:
  AllocationWatch(size_t inputSize, AllocationBudget budget) {
    detail::InstallHooks();
    const uint64_t limit = budget.perInputByte * inputSize + budget.constant;
    detail::watch = {true, 0, 0, static_cast<int64_t>(limit), inputSize};
  }
  ~AllocationWatch() { detail::watch.armed = false; }
  AllocationWatch(const AllocationWatch&) = delete;
  AllocationWatch& operator=(const AllocationWatch&) = delete;
};

// Stops an input that keeps the reader busy for more than `seconds` of processor time:
// the harness says so and aborts, and libFuzzer keeps the input as a finding. Processor
// time, not the wall clock, so that a busy machine makes no findings of its own.
class CpuTimeLimit {
 public:
  explicit CpuTimeLimit(double seconds) {
    static const bool installed = [] {
      std::signal(SIGPROF, [](int) {
        static const char kMessage[] =
            "==fuzz_support: the input took more processor time than its budget\n";
        (void)!write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
        std::abort();
      });
      return true;
    }();
    (void)installed;
    itimerval timer{};
    timer.it_value.tv_sec = time_t(seconds);
    timer.it_value.tv_usec = suseconds_t((seconds - double(time_t(seconds))) * 1e6);
    setitimer(ITIMER_PROF, &timer, nullptr);
  }
  ~CpuTimeLimit() {
    const itimerval off{};
    setitimer(ITIMER_PROF, &off, nullptr);
  }
  CpuTimeLimit(const CpuTimeLimit&) = delete;
  CpuTimeLimit& operator=(const CpuTimeLimit&) = delete;
};

// Lowers the pixel memory limit once, so that lying sizes fail fast instead of taking
// the fuzzer's memory.
inline void LimitPixelMemory() {
  static const bool limited = (pictures::Bitmap::SetPixelMemoryLimit(64 << 20), true);
  (void)limited;
}

// Draws a loaded picture of modest size onto a 24-bit canvas, so that a reader that leaves
// its Bitmap inconsistent is caught there.
inline void DrawIfSmall(const pictures::Bitmap& picture) {
  if (picture.Width() > 1024 || picture.Height() > 1024) return;
  pictures::Bitmap canvas;
  canvas.SetPixelFormat(pictures::PixelFormat::Bits24);
  canvas.SetSize(picture.Width(), picture.Height());
  pictures::DrawOnCanvas(canvas, picture);
}

// Loads the bytes with a new `Reader` under the allocation watch and hands the picture to
// `check`. A pictures::PictureError from either is the expected outcome of bad input;
// anything else (another exception such as bad_alloc or length_error, a crash, a sanitizer
// report, a trap in `check`, an allocation beyond the budget) is a finding.
template <typename Reader, typename Check>
int LoadFromMemory(const uint8_t* data, size_t size, Check check,
                   AllocationBudget budget = kDefaultBudget) {
  LimitPixelMemory();
  pictures::MemoryStream stream(std::span<const uint8_t>(data, size));
  Reader picture;
  try {
    {
      AllocationWatch watch(size, budget);
      picture.LoadFromStream(stream);
    }
    check(picture);
  } catch (const pictures::PictureError&) {
  }
  return 0;
}

template <typename Reader>
int LoadFromMemory(const uint8_t* data, size_t size, AllocationBudget budget = kDefaultBudget) {
  return LoadFromMemory<Reader>(data, size, [](const Reader&) {}, budget);
}

}  // namespace fuzz_support
