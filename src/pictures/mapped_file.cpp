#include "pictures/mapped_file.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>

#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22  // Linux 5.14
#endif

namespace pictures {

namespace {

// One live mapping as the SIGBUS handler sees it. The handler may run on any thread at any
// moment, so it reads only atomics: `start` is set last when a mapping is entered and
// cleared first when it leaves.
struct GuardedRange {
  std::atomic<bool> taken{false};
  std::atomic<uintptr_t> start{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> truncated{false};
};

// More mappings at once than this (a batch conversion has one a thread) are not made:
// those files are read instead.
constexpr int kRanges = 256;
GuardedRange ranges[kRanges];
struct sigaction previousAction;
uintptr_t pageSize = 4096;

// Hands a signal that is not a fault in one of our mappings to the handler that was there
// before ours, or to the default action, which ends the process as it would have.
void PassOn(int signal, siginfo_t* info, void* context) {
  if (previousAction.sa_flags & SA_SIGINFO) {
    previousAction.sa_sigaction(signal, info, context);
  } else if (previousAction.sa_handler != SIG_DFL && previousAction.sa_handler != SIG_IGN) {
    previousAction.sa_handler(signal);
  } else {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(SIGBUS, &fallback, nullptr);
    raise(SIGBUS);  // held until the handler returns, then the default action
  }
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (GuardedRange& range : ranges) {
    const uintptr_t start = range.start.load(std::memory_order_acquire);
    const uintptr_t end = range.end.load(std::memory_order_acquire);
    if (start == 0 || address < start || address >= end) continue;
    // The file ends before this page: from here on the mapping reads as zeros.
    const uintptr_t page = address & ~(pageSize - 1);
    void* zeros = mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zeros == MAP_FAILED) break;
    range.truncated.store(true, std::memory_order_release);
    errno = savedErrno;
    return;
  }
  errno = savedErrno;
  PassOn(signal, info, context);
}

void InstallHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &previousAction);
  });
}

int EnterRange(const uint8_t* start, size_t size) {
  for (int i = 0; i < kRanges; ++i) {
    bool expected = false;
    if (!ranges[i].taken.compare_exchange_strong(expected, true)) continue;
    ranges[i].truncated.store(false, std::memory_order_relaxed);
    ranges[i].end.store(reinterpret_cast<uintptr_t>(start) + size, std::memory_order_release);
    ranges[i].start.store(reinterpret_cast<uintptr_t>(start), std::memory_order_release);
    return i;
  }
  return -1;
}

void LeaveRange(int i) {
  ranges[i].start.store(0, std::memory_order_release);
  ranges[i].end.store(0, std::memory_order_release);
  ranges[i].taken.store(false, std::memory_order_release);
}

}  // namespace

MappedFile::MappedFile(int fd, size_t size) {
  if (size == 0) return;
  InstallHandler();
  // Pages are brought in when they are read (or by Populate), not here: a file whose
  // header is wrong is refused without reading the rest of it.
  void* address = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (address == MAP_FAILED) return;
  const auto* start = static_cast<const uint8_t*>(address);
  slot_ = EnterRange(start, size);
  if (slot_ < 0) {
    munmap(address, size);
    return;
  }
  madvise(address, size, MADV_SEQUENTIAL);
  bytes_ = {start, size};
}

MappedFile::~MappedFile() {
  if (bytes_.empty()) return;
  LeaveRange(slot_);
  munmap(const_cast<uint8_t*>(bytes_.data()), bytes_.size());
}

bool MappedFile::Truncated() const {
  return slot_ >= 0 && ranges[slot_].truncated.load(std::memory_order_acquire);
}

void MappedFile::Populate(size_t offset, size_t count) const {
  if (offset >= bytes_.size()) return;
  const uintptr_t first = reinterpret_cast<uintptr_t>(bytes_.data() + offset) & ~(pageSize - 1);
  const uintptr_t end = reinterpret_cast<uintptr_t>(bytes_.data()) + offset +
                        std::min(count, bytes_.size() - offset);
  // Pages past the end of a file that has shrunk are not brought in; the reads that reach
  // them find the zeros.
  madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_READ);
}

void MappedFile::Release() const {
  if (!bytes_.empty()) madvise(const_cast<uint8_t*>(bytes_.data()), bytes_.size(), MADV_DONTNEED);
}

}  // namespace pictures
