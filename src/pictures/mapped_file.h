// A read-only mapping of a whole file that survives the file shrinking under it.
//
// When another program truncates a mapped file (an editor saving over it, a sync client),
// a read of a page past the new end raises SIGBUS, which would end the process. A handler
// installed with the first mapping catches such a fault in any of our mappings, on any
// thread: it puts zero pages in place of the part of the mapping from the faulting page on,
// marks the mapping truncated and lets the read go on, so that the reader decodes zeros
// (which every reader must take safely anyway) and the load then fails with the read
// error. A fault anywhere else goes to the handler that was there before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace pictures {

class MappedFile {
 public:
  // Maps `size` bytes of the open file `fd`. Empty when it cannot be mapped (the caller
  // then reads the file instead).
  MappedFile(int fd, size_t size);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::span<const uint8_t> Bytes() const { return bytes_; }
  bool Empty() const { return bytes_.empty(); }
  // True once a read found part of the file gone; what it read there were zeros.
  bool Truncated() const;
  // Brings the pages of `count` bytes from `offset` into memory in one go, which costs
  // far fewer page faults than touching them one by one.
  void Populate(size_t offset, size_t count) const;
  // Gives the pages back; they are read from the file again when they are next touched.
  void Release() const;

 private:
  std::span<const uint8_t> bytes_;
  int slot_ = -1;  // this mapping's entry in the table the SIGBUS handler looks in
};

}  // namespace pictures
