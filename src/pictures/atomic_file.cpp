#include "pictures/atomic_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/error.h"

namespace pictures {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPartSuffix = ".part-";
constexpr int kRandomCharacters = 6;

// The file that a path names once the symbolic links of its last part are followed, for a
// path that names no file yet: a link to nowhere names the file it would create.
std::string FollowLinks(const std::string& path) {
  fs::path current = path;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(current, error))) return current.string();
    const fs::path target = fs::read_symlink(current, error);
    if (error) return current.string();
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  errno = ELOOP;
  return {};
}

// The longest start of `name` that is at most `bytes` long and does not end inside a
// UTF-8 character.
std::string_view StartOf(std::string_view name, size_t bytes) {
  if (name.size() <= bytes) return name;
  size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

// The temporary name in the target's folder, without its random characters: the target's
// name, shortened so that the whole fits the folder's limit on names.
std::string TemporaryStem(const std::string& target) {
  const fs::path path(target);
  const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
  long nameMax = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  if (nameMax <= 0) nameMax = NAME_MAX;
  const size_t room = size_t(nameMax) - std::min<size_t>(size_t(nameMax), kPartSuffix.size() + kRandomCharacters);
  const std::string name = path.filename().string();
  return (path.parent_path() / StartOf(name, room)).string() + std::string(kPartSuffix);
}

std::string RandomCharacters() {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[kRandomCharacters] = {};
  if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    // Without the kernel's random bytes, the clock and the address of a local still make
    // names that rarely collide; a collision only means another try.
    uintptr_t seed = uintptr_t(&random) ^ uintptr_t(::clock());
    for (unsigned char& byte : random) byte = static_cast<unsigned char>(seed >>= 3);
  }
  std::string text;
  for (unsigned char byte : random) text += kAlphabet[byte % (sizeof kAlphabet - 1)];
  return text;
}

}  // namespace

AtomicFile::AtomicFile(const std::string& path) : path_(path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) Fail(EISDIR);
    if (!S_ISREG(info.st_mode)) {
      target_ = path;
      OpenInPlace();
      return;
    }
    existing_ = info;
    char* real = ::realpath(path.c_str(), nullptr);
    target_ = real ? real : path;
    std::free(real);
  } else if (errno == ENOENT) {
    target_ = FollowLinks(path);
    if (target_.empty()) Fail(errno);
  } else {
    Fail(errno);
  }
  CreateTemporary();
}

// A new file is created with 0666, less the umask; the temporary file of an existing one
// stays private to the user until Commit gives it the old file's permissions.
void AtomicFile::CreateTemporary() {
  const std::string stem = TemporaryStem(target_);
  const mode_t mode = existing_ ? 0600 : 0666;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary_ = stem + RandomCharacters();
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd_ >= 0) return;
    if (errno != EEXIST) break;
  }
  const int error = errno;
  temporary_.clear();
  Fail(error);
}

// A FIFO is opened only when something reads it: waiting for a reader would hang.
void AtomicFile::OpenInPlace() {
  fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd_ < 0) Fail(errno);
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
}

AtomicFile::~AtomicFile() { Discard(); }

void AtomicFile::Discard() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

void AtomicFile::Fail(int error) {
  Discard();
  throw FileCreateError("Cannot create file \"" + path_ + "\". " + std::strerror(error));
}

void AtomicFile::Write(std::span<const iovec> pieces) {
  // writev takes at most IOV_MAX pieces a call and may write less than it was given; the
  // pieces are copied so that a partial write can be resumed inside one.
  std::vector<iovec> left(pieces.begin(), pieces.end());
  size_t first = 0;
  while (first < left.size()) {
    if (left[first].iov_len == 0) {
      ++first;
      continue;
    }
    const int count = static_cast<int>(std::min<size_t>(left.size() - first, IOV_MAX));
    const ssize_t put = ::writev(fd_, left.data() + first, count);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) Fail(errno);
    if (put == 0) Fail(EIO);
    auto done = static_cast<size_t>(put);
    while (first < left.size() && done >= left[first].iov_len) done -= left[first++].iov_len;
    if (done) {
      left[first].iov_base = static_cast<uint8_t*>(left[first].iov_base) + done;
      left[first].iov_len -= done;
    }
  }
}

void AtomicFile::Write(std::span<const uint8_t> bytes) {
  const iovec piece{const_cast<uint8_t*>(bytes.data()), bytes.size()};
  Write(std::span<const iovec>(&piece, 1));
}

// The owner is kept only by a user allowed to give files away (root); the group by one
// who belongs to it. The permission bits of the group are meant for the old group: where
// the file cannot keep it, they give no more than the bits of others. Set-user and
// set-group bits are not carried over.
void AtomicFile::KeepOwnerAndMode() {
  mode_t mode = existing_->st_mode & 0777;
  if (::fchown(fd_, existing_->st_uid, existing_->st_gid) != 0 &&
      ::fchown(fd_, uid_t(-1), existing_->st_gid) != 0) {
    mode &= ~S_IRWXG | ((mode & S_IRWXO) << 3);
  }
  if (::fchmod(fd_, mode) != 0) Fail(errno);
}

void AtomicFile::Commit() {
  if (existing_) KeepOwnerAndMode();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 || (!temporary_.empty() && ::rename(temporary_.c_str(), target_.c_str()) != 0)) {
    const int error = errno;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    throw FileCreateError("Cannot create file \"" + path_ + "\". " + std::strerror(error));
  }
}

void WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes) {
  AtomicFile file(path);
  file.Write(bytes);
  file.Commit();
}

}  // namespace pictures
