#include "pictures/stream.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <climits>
#include <cstring>

#include "base/byte_reader.h"
#include "base/error.h"

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

}  // namespace

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
  if (S_ISREG(info.st_mode) && size_ >= kMapThreshold) Map();
}

// The whole file is mapped with its pages populated in one go, which costs far fewer page
// faults than touching them one by one. Where the file cannot be mapped, it is read with
// plain reads instead.
void FileStream::Map() {
  if (static_cast<uint64_t>(size_) > SIZE_MAX) return;
  const auto bytes = static_cast<size_t>(size_);
  void* address = ::mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd_, 0);
  if (address == MAP_FAILED) return;
  ::madvise(address, bytes, MADV_SEQUENTIAL);
  mapped_ = {static_cast<const uint8_t*>(address), bytes};
}

void FileStream::ReleaseMemory() {
  if (!mapped_.empty())
    ::madvise(const_cast<uint8_t*>(mapped_.data()), mapped_.size(), MADV_DONTNEED);
}

FileStream::~FileStream() {
  if (!mapped_.empty()) ::munmap(const_cast<uint8_t*>(mapped_.data()), mapped_.size());
  if (fd_ >= 0) ::close(fd_);
}

void FileStream::Seek(int64_t position) { position_ = std::max<int64_t>(0, position); }

size_t FileStream::Read(void* buffer, size_t count) {
  if (!mapped_.empty()) return ReadFromMemory(mapped_, position_, buffer, count);
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
