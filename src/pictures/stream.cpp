#include "pictures/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <climits>
#include <cstring>

#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/mapped_file.h"

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

std::span<const uint8_t> Stream::ReadView(size_t count, std::vector<uint8_t>& storage) {
  const std::span<const uint8_t> contents = Contents();
  if (contents.empty()) {
    storage = ReadBytes(count);
    return storage;
  }
  if (static_cast<uint64_t>(Remaining()) < count) throw StreamReadError();
  WillRead(count);
  const auto start = static_cast<size_t>(Position());
  Seek(Position() + static_cast<int64_t>(count));
  return contents.subspan(start, count);
}

std::span<const uint8_t> Stream::ReadRestView(std::vector<uint8_t>& storage) {
  if (Contents().empty()) {
    storage = ReadRest();
    return storage;
  }
  return ReadView(static_cast<size_t>(Remaining()), storage);
}

namespace {

// Files smaller than this are read with plain reads: mapping them costs more than it saves.
constexpr int64_t kMapThreshold = 64 * 1024;
// Reads within this many bytes from the start of a file are taken for its header.
constexpr int64_t kHeaderBytes = 64 * 1024;

// The plain read of a stream whose bytes are in memory: up to `count` bytes from `position`,
// which moves past them.
size_t ReadFromMemory(std::span<const uint8_t> bytes, int64_t& position, void* buffer,
                      size_t count) {
  const auto size = static_cast<int64_t>(bytes.size());
  if (position >= size) return 0;
  const size_t n = std::min<size_t>(count, static_cast<size_t>(size - position));
  if (n) std::memcpy(buffer, bytes.data() + position, n);
  position += static_cast<int64_t>(n);
  return n;
}

// Why a file of this type is not opened as a picture.
std::string NotARegularFile(mode_t mode) {
  if (S_ISDIR(mode)) return std::strerror(EISDIR);
  if (S_ISFIFO(mode)) return "Is a named pipe (FIFO), not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "Is a device, not a regular file";
  if (S_ISSOCK(mode)) return "Is a socket, not a regular file";
  return "Not a regular file";
}

[[noreturn]] void FailToOpen(const std::string& path, const std::string& reason) {
  throw FileOpenError("Cannot open file \"" + path + "\". " + reason);
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

FileStream::FileStream(const std::string& path) {
  // The type is checked before the file is opened, so that a FIFO or a device is not
  // opened at all, and again on what was opened, in case the name has changed in between
  // (a FIFO opened without waiting, then refused).
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) FailToOpen(path, std::strerror(errno));
  if (!S_ISREG(info.st_mode)) FailToOpen(path, NotARegularFile(info.st_mode));
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd_ < 0) FailToOpen(path, std::strerror(errno));
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    const std::string reason = S_ISREG(info.st_mode) ? std::strerror(errno) : NotARegularFile(info.st_mode);
    ::close(fd_);
    FailToOpen(path, reason);
  }
  size_ = info.st_size;
  modified_ = info.st_mtim;
  if (size_ >= kMapThreshold && static_cast<uint64_t>(size_) <= SIZE_MAX) {
    mapped_ = std::make_unique<MappedFile>(fd_, static_cast<size_t>(size_));
    if (mapped_->Empty()) mapped_.reset();  // read with plain reads instead
  }
}

FileStream::~FileStream() {
  mapped_.reset();
  if (fd_ >= 0) ::close(fd_);
}

std::span<const uint8_t> FileStream::Contents() const {
  return mapped_ ? mapped_->Bytes() : std::span<const uint8_t>();
}

// A read that starts after the file's first byte and goes past the header is of the
// picture's data, whose header the reader has accepted: the rest of the file is brought in
// at once then, rather than a page at a time. A view from the very start is a whole file
// handed to a library that checks the header itself; its pages come in as it reads them.
void FileStream::WillRead(size_t count) {
  if (!mapped_ || broughtIn_ || position_ <= 0 || position_ >= size_) return;
  if (position_ < kHeaderBytes && count <= uint64_t(kHeaderBytes - position_)) return;
  broughtIn_ = true;
  mapped_->Populate(static_cast<size_t>(position_), static_cast<size_t>(size_ - position_));
}

void FileStream::ReleaseMemory() {
  if (mapped_) mapped_->Release();
}

void FileStream::Verify() const {
  if (mapped_ && mapped_->Truncated()) throw StreamReadError();
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || info.st_size != size_ || !SameTime(info.st_mtim, modified_))
    throw StreamReadError();
}

void FileStream::Seek(int64_t position) { position_ = std::max<int64_t>(0, position); }

size_t FileStream::Read(void* buffer, size_t count) {
  if (mapped_) {
    WillRead(count);
    return ReadFromMemory(mapped_->Bytes(), position_, buffer, count);
  }
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
  return ReadFromMemory(bytes_, position_, buffer, count);
}

size_t ViewStream::Read(void* buffer, size_t count) {
  return ReadFromMemory(bytes_, position_, buffer, count);
}

void MemoryStream::Write(const void* buffer, size_t count) {
  size_t end = static_cast<size_t>(position_) + count;
  if (end > bytes_.size()) bytes_.resize(end);
  if (count) std::memcpy(bytes_.data() + position_, buffer, count);
  position_ = static_cast<int64_t>(end);
}

}  // namespace pictures
