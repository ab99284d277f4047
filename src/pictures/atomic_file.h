// Output files written so that a failure never leaves a half-written file behind.
#pragma once

#include <sys/stat.h>
#include <sys/uio.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace pictures {

// A file written under a temporary name beside its target and renamed over the target by
// Commit: the destructor removes the temporary file unless Commit succeeded. Failures raise
// FileCreateError ("Cannot create file \"NAME\". REASON").
//
// - A new file gets the permissions 0666 less the process umask, which the system applies
//   as it creates the file (the umask is never changed: other threads may be writing).
// - An existing file keeps its permissions, and its owner and group where the system
//   allows; where the group cannot be kept, the group gets no more than others have.
// - A target that is a symbolic link is written through: the file it points to is
//   replaced (or created), beside which the temporary file goes, and the link stays.
// - Other hard links of a replaced file keep the old contents: the file is replaced,
//   not rewritten, so that no name ever shows a half-written file.
// - A target that is not a regular file (a device such as /dev/null, a FIFO with a
//   reader) is written to in place; a directory fails.
// - The temporary name is the target's, shortened where needed so that it fits the file
//   system's limit on names, with ".part-" and six random characters after it.
class AtomicFile {
 public:
  explicit AtomicFile(const std::string& path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Writes the pieces in order, in as few system calls as the system allows.
  void Write(std::span<const iovec> pieces);
  void Write(std::span<const uint8_t> bytes);
  // Gives the file its permissions, closes it and renames it over the target.
  void Commit();

 private:
  void CreateTemporary();
  void OpenInPlace();
  void KeepOwnerAndMode();
  void Discard();
  [[noreturn]] void Fail(int error);

  std::string path_;       // as given, for messages
  std::string target_;     // the file replaced: the path with its symbolic links followed
  std::string temporary_;  // empty when the target is written in place
  std::optional<struct stat> existing_;  // the regular file that is replaced, if any
  int fd_ = -1;
};

// Writes a whole file through an AtomicFile. Raises FileCreateError.
void WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace pictures
