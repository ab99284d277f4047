// Byte streams that readers decode from: a read-only file stream and a memory stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pictures {

class Stream {
 public:
  virtual ~Stream() = default;

  virtual int64_t Position() const = 0;
  // Moves to an absolute position; positions past the end are allowed and read nothing.
  virtual void Seek(int64_t position) = 0;
  virtual int64_t Size() const = 0;
  // The plain read: reads up to `count` bytes and returns how many it read.
  virtual size_t Read(void* buffer, size_t count) = 0;
  virtual void Write(const void* buffer, size_t count);

  // The exact read: reads `count` bytes or raises StreamReadError.
  void ReadBuffer(void* buffer, size_t count);
  void WriteBuffer(const void* buffer, size_t count) { Write(buffer, count); }

  // Bytes left between the position and the end (0 when the position is past the end).
  int64_t Remaining() const;
  // Reads `count` bytes exactly into a new buffer. The count is checked against the bytes
  // that are left first, so a lying length in a file cannot allocate more than the file has.
  std::vector<uint8_t> ReadBytes(size_t count);
  // Reads everything from the position to the end.
  std::vector<uint8_t> ReadRest();
};

// Numbers stored in a file, read with the exact read (a short file raises StreamReadError).
uint16_t ReadU16BE(Stream& stream);
uint32_t ReadU32BE(Stream& stream);
uint64_t ReadU64BE(Stream& stream);
uint16_t ReadU16LE(Stream& stream);
uint32_t ReadU32LE(Stream& stream);
// Moves `count` bytes on. Moving past the end is not itself an error: the next read fails.
void Skip(Stream& stream, uint64_t count);

// A stream over a file opened read-only; other writers are not expected while it is open.
class FileStream : public Stream {
 public:
  // Raises FileOpenError ("Cannot open file \"NAME\". REASON") when the file cannot be opened.
  explicit FileStream(const std::string& path);
  ~FileStream() override;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override;
  int64_t Size() const override { return size_; }
  size_t Read(void* buffer, size_t count) override;

 private:
  int fd_ = -1;
  int64_t size_ = 0;
  int64_t position_ = 0;
};

// A stream over bytes held in memory; writable, growing as it is written.
class MemoryStream : public Stream {
 public:
  MemoryStream() = default;
  explicit MemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  explicit MemoryStream(std::span<const uint8_t> bytes) : bytes_(bytes.begin(), bytes.end()) {}

  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override;
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;

  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int64_t position_ = 0;
};

// Writes a whole file: the bytes go to a temporary name beside the target, which is then
// renamed over it, so a failure never leaves a half-written file. Raises FileCreateError.
void WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace pictures
