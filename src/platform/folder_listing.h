// Folder enumeration with Windows-style attributes.
//
// One listing reads a whole folder with readdir and one status call per entry. Names are
// kept together in one byte buffer, as the file system spells them, so that a folder of
// many thousand files costs few allocations.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <QString>

#include "platform/date_time.h"

namespace platform {

// Attribute bits, as Windows numbers them.
enum FileAttribute : uint32_t {
  FileAttributeReadOnly = 0x01,   // no write permission for anyone
  FileAttributeHidden = 0x02,     // the name begins with "."
  FileAttributeSystem = 0x04,     // never set on POSIX
  FileAttributeDirectory = 0x10,  // a directory, or a symbolic link to one
  FileAttributeArchive = 0x20,    // every regular file
  FileAttributeNormal = 0x80,     // none of the others
};

// Every attribute that a listing asks for: read-only, hidden, system, directory, archive.
inline constexpr uint32_t kAnyFileAttributes =
    FileAttributeReadOnly | FileAttributeHidden | FileAttributeSystem |
    FileAttributeDirectory | FileAttributeArchive;

struct FolderEntry {
  uint32_t nameOffset = 0;   // into the listing's name buffer
  uint32_t nameLength = 0;   // in bytes
  uint32_t attributes = 0;   // FileAttribute bits
  int64_t size = 0;          // bytes; 0 for a directory, as on Windows
  FileTime lastWriteTime;    // universal time
};

class FolderListing {
 public:
  // Reads the folder that a Windows path names ("C:\A\B\" or "C:\A\B"). The entries
  // come in the order the file system delivers them. "." and ".." are never listed; nor
  // are names that the hosts' namespace cannot hold (NameHostsCannotHold), nor sockets,
  // pipes and device files (opening one could block the dialog). A symbolic link is
  // listed as what it points to; a broken one as an empty file.
  //
  // `attributeMask` selects as Windows find functions do: hidden, system and directory
  // entries are listed only when their bit is in the mask; other entries always.
  // Returns false, with no entries, when the folder cannot be read.
  bool Read(const QString& windowsFolder, uint32_t attributeMask = kAnyFileAttributes);
  // The same for a host directory.
  bool ReadHost(const std::string& hostFolder, uint32_t attributeMask = kAnyFileAttributes);

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const FolderEntry& operator[](size_t i) const { return entries_[i]; }
  const std::vector<FolderEntry>& entries() const { return entries_; }
  std::vector<FolderEntry>::const_iterator begin() const { return entries_.begin(); }
  std::vector<FolderEntry>::const_iterator end() const { return entries_.end(); }

  // The entry's name: raw bytes, or decoded as the host's file names are.
  std::string_view NameBytes(const FolderEntry& entry) const {
    return std::string_view(names_.data() + entry.nameOffset, entry.nameLength);
  }
  QString Name(const FolderEntry& entry) const;

  void Clear();

 private:
  std::vector<FolderEntry> entries_;
  std::string names_;
};

// One directory entry, found by its Windows path (the find functions on one name): true
// and the fields filled when it exists. The name is the last component as the file
// system spells it.
struct FoundFile {
  QString name;
  uint32_t attributes = 0;
  int64_t size = 0;
  FileTime lastWriteTime;
};
bool FindFile(const QString& windowsPath, FoundFile* found);

// True for a name (UTF-8 bytes) that a Windows host cannot hold or hand on: one with a
// character of a Windows path's syntax ("\ : * ? \" < > |") or a control character (C0,
// DEL or C1). A line break in a name would split the one-line clipboard hand-off and the
// settings value.
bool NameHostsCannotHold(std::string_view name);

// True for a name (UTF-8 bytes) that Windows resolves to something else: one that ends in a
// period or a space, which Windows drops ("file." opens "file"; names of periods only stay
// names), or a DOS device name, also with an extension ("con.bmp" opens the console).
bool NameWindowsReadsAsAnother(std::string_view name);

// The Windows extension rule on a name: the bytes from the last "." to the end, dot
// included, or empty when there is no dot.
std::string_view NameExtension(std::string_view name);

}  // namespace platform
