#include "pictures/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pictures/byte_reader.h"
#include "pictures/error.h"

namespace pictures {

void Stream::Write(const void*, size_t) { throw PictureError("Stream write error"); }

void Stream::ReadBuffer(void* buffer, size_t count) {
  if (count != 0 && Read(buffer, count) != count) throw StreamReadError();
}

int64_t Stream::Remaining() const { return std::max<int64_t>(0, Size() - Position()); }

std::vector<uint8_t> Stream::ReadBytes(size_t count) {
  if (static_cast<uint64_t>(Remaining()) < count) throw StreamReadError();
  std::vector<uint8_t> bytes(count);
  ReadBuffer(bytes.data(), count);
  return bytes;
}

std::vector<uint8_t> Stream::ReadRest() {
  std::vector<uint8_t> bytes(static_cast<size_t>(Remaining()));
  bytes.resize(Read(bytes.data(), bytes.size()));
  return bytes;
}

uint16_t ReadU16BE(Stream& stream) {
  uint8_t bytes[2];
  stream.ReadBuffer(bytes, sizeof bytes);
  return LoadU16BE(bytes);
}

uint32_t ReadU32BE(Stream& stream) {
  uint8_t bytes[4];
  stream.ReadBuffer(bytes, sizeof bytes);
  return LoadU32BE(bytes);
}

uint64_t ReadU64BE(Stream& stream) {
  uint8_t bytes[8];
  stream.ReadBuffer(bytes, sizeof bytes);
  return LoadU64BE(bytes);
}

uint16_t ReadU16LE(Stream& stream) {
  uint8_t bytes[2];
  stream.ReadBuffer(bytes, sizeof bytes);
  return LoadU16LE(bytes);
}

uint32_t ReadU32LE(Stream& stream) {
  uint8_t bytes[4];
  stream.ReadBuffer(bytes, sizeof bytes);
  return LoadU32LE(bytes);
}

void Skip(Stream& stream, uint64_t count) {
  // A length from a file may be anything; the position saturates instead of overflowing.
  const int64_t position = std::max<int64_t>(stream.Position(), 0);
  const uint64_t room = uint64_t(INT64_MAX - position);
  stream.Seek(position + static_cast<int64_t>(std::min(count, room)));
}

FileStream::FileStream(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd_ >= 0 && (::fstat(fd_, &info) != 0 || S_ISDIR(info.st_mode))) {
    int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd_);
    fd_ = -1;
    errno = error;
  }
  if (fd_ < 0)
    throw FileOpenError("Cannot open file \"" + path + "\". " + std::strerror(errno));
  size_ = info.st_size;
}

FileStream::~FileStream() {
  if (fd_ >= 0) ::close(fd_);
}

void FileStream::Seek(int64_t position) { position_ = std::max<int64_t>(0, position); }

size_t FileStream::Read(void* buffer, size_t count) {
  size_t done = 0;
  auto* out = static_cast<uint8_t*>(buffer);
  while (done < count) {
    ssize_t got = ::pread(fd_, out + done, count - done, position_);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
    position_ += got;
  }
  return done;
}

void MemoryStream::Seek(int64_t position) { position_ = std::max<int64_t>(0, position); }

size_t MemoryStream::Read(void* buffer, size_t count) {
  if (position_ >= Size()) return 0;
  size_t n = std::min<size_t>(count, static_cast<size_t>(Size() - position_));
  if (n) std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += static_cast<int64_t>(n);
  return n;
}

void MemoryStream::Write(const void* buffer, size_t count) {
  size_t end = static_cast<size_t>(position_) + count;
  if (end > bytes_.size()) bytes_.resize(end);
  if (count) std::memcpy(bytes_.data() + position_, buffer, count);
  position_ = static_cast<int64_t>(end);
}

void WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes) {
  std::string temporary = path + ".part-XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) throw FileCreateError("Cannot create file \"" + path + "\". " + std::strerror(errno));
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) { ok = false; break; }
    done += static_cast<size_t>(put);
  }
  int error = errno;
  // mkstemp creates the file private to the user; give it the usual permissions.
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  if (::close(fd) != 0 && ok) { ok = false; error = errno; }
  if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) { ok = false; error = errno; }
  if (!ok) {
    ::unlink(temporary.c_str());
    throw FileCreateError("Cannot create file \"" + path + "\". " + std::strerror(error));
  }
}

}  // namespace pictures
