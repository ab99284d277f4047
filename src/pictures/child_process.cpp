#include "pictures/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/error.h"

namespace pictures {

namespace {

// The child's side: the signals a crash raises take their default action again (ending the
// child, not a handler of the parent's), and no core file is written.
void PrepareChild() {
  for (const int crash : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) ::signal(crash, SIG_DFL);
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
}

}  // namespace

ChildProcess::ChildProcess(const std::function<void(int out)>& work,
                           const std::string& failurePrefix) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    throw PictureError(failurePrefix + "cannot start a process (" + std::strerror(errno) + ")");
  pid_ = ::fork();
  if (pid_ == 0) {
    ::close(fds[0]);
    PrepareChild();
    int status = 0;
    try {
      work(fds[1]);
    } catch (...) {
      status = 1;
    }
    ::_exit(status);
  }
  const int forkError = errno;
  ::close(fds[1]);
  if (pid_ < 0) {
    ::close(fds[0]);
    throw PictureError(failurePrefix + "cannot start a process (" + std::strerror(forkError) + ")");
  }
  in_ = fds[0];
}

ChildProcess::~ChildProcess() {
  if (in_ >= 0) ::close(in_);
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

bool ChildProcess::Read(std::span<uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t got = ::read(in_, bytes.data(), bytes.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes = bytes.subspan(size_t(got));
  }
  return true;
}

std::string ChildProcess::Finish() {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
  if (pid_ <= 0) return ended_;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) {
      pid_ = -1;
      return ended_ = std::strerror(errno);
    }
  }
  pid_ = -1;
  if (WIFSIGNALED(status)) {
    signal_ = WTERMSIG(status);
    const char* name = ::sigdescr_np(signal_);
    ended_ = name ? name : "signal " + std::to_string(signal_);
  } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    ended_ = "exit status " + std::to_string(WEXITSTATUS(status));
  }
  return ended_;
}

void WriteToParent(int out, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(out, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) ::_exit(1);
    bytes = bytes.subspan(size_t(put));
  }
}

}  // namespace pictures
