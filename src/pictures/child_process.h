// Work done in a child process that streams its result back through a pipe: for a library
// that may crash on a crafted file, so that the crash ends the child and the program goes
// on with an error instead of ending with it.
//
// The child is a fork of the calling thread: it sees the caller's memory (a mapped file, a
// loaded library) without a copy, runs `work` and ends with _exit, so that nothing of the
// parent's (buffered output, exit handlers) runs twice. A library that crashes there ends
// the child by its signal (the child restores the default action of the signals a crash
// raises and writes no core file).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace pictures {

class ChildProcess {
 public:
  // Starts the child, which calls `work` with the write end of the pipe and then ends
  // (status 0, or 1 when `work` throws). Raises PictureError(failurePrefix + reason) when
  // the child cannot be started.
  ChildProcess(const std::function<void(int out)>& work, const std::string& failurePrefix);
  // Kills the child if it still runs, and waits for its end.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads exactly `bytes.size()` bytes that the child wrote; false when it ended before
  // writing them all.
  bool Read(std::span<uint8_t> bytes);
  template <typename T>
  bool ReadValue(T& value) {
    return Read({reinterpret_cast<uint8_t*>(&value), sizeof value});
  }

  // Waits for the child's end (once; later calls give the same). Empty when it ended
  // normally with status 0; otherwise how it ended ("exit status 1", or the signal's name
  // such as "Segmentation fault").
  std::string Finish();
  // The number of the signal that ended the child (0 when it exited); after Finish.
  int Signal() const { return signal_; }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int signal_ = 0;
  std::string ended_;
};

// In the child: writes all of `bytes` to the parent. A parent that has stopped reading
// ends the child.
void WriteToParent(int out, std::span<const uint8_t> bytes);
template <typename T>
void WriteValueToParent(int out, const T& value) {
  WriteToParent(out, {reinterpret_cast<const uint8_t*>(&value), sizeof value});
}

}  // namespace pictures
