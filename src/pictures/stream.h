// Byte streams that readers decode from: a read-only file stream, a memory stream and a
// view of memory held elsewhere.
#pragma once

#include <time.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace pictures {

class MappedFile;

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

  // All of the stream's bytes when it holds them in memory (a mapped file, a memory
  // stream), so that readers can decode them where they are; otherwise empty.
  virtual std::span<const uint8_t> Contents() const { return {}; }
  // Reads `count` bytes exactly, as ReadBytes does, but as a view of the stream's memory
  // where it has one; otherwise the bytes are read into `storage` and the view is of it.
  // The view lives as long as the stream and `storage`.
  std::span<const uint8_t> ReadView(size_t count, std::vector<uint8_t>& storage);
  // Everything from the position to the end, likewise.
  std::span<const uint8_t> ReadRestView(std::vector<uint8_t>& storage);
  // Says that the stream's memory will not be read for a while (a reader has copied what
  // it needs): a mapped file gives its pages back, and they are read from the file again
  // if they are needed after all. Views stay valid.
  virtual void ReleaseMemory() {}

 protected:
  // Told before `count` bytes from the position are read, through a view or a plain read.
  virtual void WillRead(size_t /*count*/) {}
};

// Numbers stored in a file, read with the exact read (a short file raises StreamReadError).
uint16_t ReadU16BE(Stream& stream);
uint32_t ReadU32BE(Stream& stream);
uint64_t ReadU64BE(Stream& stream);
uint16_t ReadU16LE(Stream& stream);
uint32_t ReadU32LE(Stream& stream);
// Moves `count` bytes on. Moving past the end is not itself an error: the next read fails.
void Skip(Stream& stream, uint64_t count);

// A stream over a file opened read-only. Only a regular file is opened: a FIFO would wait
// for a writer, and a device may act on being opened. A regular file of more than a few
// pages is mapped into memory, so that readers can take its bytes without a copy; its
// pages are brought in when the reading goes past the header, so that a file refused for
// its header is not read whole. A file that changes while it is read (shrinks under the
// mapping, is written to) is found out by Verify.
class FileStream : public Stream {
 public:
  // Raises FileOpenError ("Cannot open file \"NAME\". REASON") when the file cannot be
  // opened or is not a regular file.
  explicit FileStream(const std::string& path);
  ~FileStream() override;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override;
  int64_t Size() const override { return size_; }
  size_t Read(void* buffer, size_t count) override;
  std::span<const uint8_t> Contents() const override;
  void ReleaseMemory() override;

  // Raises StreamReadError when the file has changed since it was opened: part of the
  // mapping was found gone, or its size or time of last change differ. What was read from
  // it may then be any mix of old, new and zero bytes.
  void Verify() const;

 protected:
  void WillRead(size_t count) override;

 private:
  int fd_ = -1;
  int64_t size_ = 0;
  int64_t position_ = 0;
  timespec modified_{};
  std::unique_ptr<MappedFile> mapped_;
  bool broughtIn_ = false;
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
  std::span<const uint8_t> Contents() const override { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int64_t position_ = 0;
};

// A read-only stream over bytes that someone else holds (such as another stream's
// Contents()), for a second reader of the same memory; the bytes must outlive it.
class ViewStream : public Stream {
 public:
  explicit ViewStream(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override { position_ = std::max<int64_t>(0, position); }
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  size_t Read(void* buffer, size_t count) override;
  std::span<const uint8_t> Contents() const override { return bytes_; }

 private:
  std::span<const uint8_t> bytes_;
  int64_t position_ = 0;
};

}  // namespace pictures
