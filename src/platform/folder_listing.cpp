#include "platform/folder_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include <QFile>

#include "platform/paths.h"

namespace platform {

namespace {

// Folders with fewer entries are read on one thread.
constexpr size_t kParallelThreshold = 4096;

// The attributes of a status, or 0 for a kind of file that is not listed.
uint32_t AttributesOf(const struct stat& st, const char* name) {
  uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) {
    attributes |= FileAttributeDirectory;
  } else if (S_ISREG(st.st_mode)) {
    attributes |= FileAttributeArchive;
  } else {
    return 0;
  }
  if (name[0] == '.') attributes |= FileAttributeHidden;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attributes |= FileAttributeReadOnly;
  return attributes;
}

FileTime LastWriteTime(const struct stat& st) {
  return FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

// Status of an entry, following symbolic links; a link that leads nowhere counts as an
// empty regular file, as a Windows listing shows a dangling shortcut.
bool StatusOf(int dirFd, const char* name, struct stat* st) {
  if (fstatat(dirFd, name, st, 0) == 0) return true;
  if (fstatat(dirFd, name, st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st->st_mode))
    return false;
  st->st_mode = S_IFREG | (st->st_mode & 07777);
  st->st_size = 0;
  return true;
}

}  // namespace

void FolderListing::Clear() {
  entries_.clear();
  names_.clear();
}

bool FolderListing::Read(const QString& windowsFolder, uint32_t attributeMask) {
  const QString host = HostPath(windowsFolder);
  if (host.isEmpty()) {
    Clear();
    return false;
  }
  return ReadHost(QFile::encodeName(host).toStdString(), attributeMask);
}

bool FolderListing::ReadHost(const std::string& hostFolder, uint32_t attributeMask) {
  Clear();
  const int fd = open(hostFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return false;
  }
  // First the names (each stored with its terminating zero, for the status calls), then
  // the status of every entry.
  while (dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    const size_t length = strlen(name);
    const std::string_view view(name, length);
    if (NameHostsCannotHold(view) || NameWindowsReadsAsAnother(view)) continue;
    FolderEntry& added = entries_.emplace_back();
    added.nameOffset = static_cast<uint32_t>(names_.size());
    added.nameLength = static_cast<uint32_t>(length);
    names_.append(name, length + 1);
  }

  const uint32_t excluded =
      ~attributeMask & (FileAttributeHidden | FileAttributeSystem | FileAttributeDirectory);
  const auto statRange = [&](size_t begin, size_t end) {
    struct stat st;
    for (size_t i = begin; i < end; ++i) {
      FolderEntry& entry = entries_[i];
      const char* name = names_.data() + entry.nameOffset;
      entry.attributes = 0;
      if (!StatusOf(fd, name, &st)) continue;
      const uint32_t attributes = AttributesOf(st, name);
      if (attributes == 0 || (attributes & excluded)) continue;
      entry.attributes = attributes;
      entry.size = S_ISDIR(st.st_mode) ? 0 : int64_t(st.st_size);
      entry.lastWriteTime = LastWriteTime(st);
    }
  };
  // The status calls dominate a large folder; a second thread halves their time on a
  // machine with two or more cores.
  const size_t count = entries_.size();
  if (count >= kParallelThreshold && std::thread::hardware_concurrency() > 1) {
    const size_t half = count / 2;
    std::thread helper(statRange, half, count);
    statRange(0, half);
    helper.join();
  } else {
    statRange(0, count);
  }
  closedir(dir);

  // Drop what is not listed, keeping the order.
  size_t kept = 0;
  for (size_t i = 0; i < count; ++i)
    if (entries_[i].attributes != 0) entries_[kept++] = entries_[i];
  entries_.resize(kept);
  return true;
}

QString FolderListing::Name(const FolderEntry& entry) const {
  return QString::fromUtf8(names_.data() + entry.nameOffset, entry.nameLength);
}

bool FindFile(const QString& windowsPath, FoundFile* found) {
  const QString host = HostPath(windowsPath);
  if (host.isEmpty()) return false;
  const QByteArray bytes = QFile::encodeName(host);
  struct stat st;
  if (stat(bytes.constData(), &st) != 0) {
    if (lstat(bytes.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    st.st_mode = S_IFREG | (st.st_mode & 07777);
    st.st_size = 0;
  }
  const qsizetype slash = bytes.lastIndexOf('/');
  const QByteArray name = bytes.mid(slash + 1);
  const uint32_t attributes = AttributesOf(st, name.isEmpty() ? "" : name.constData());
  if (attributes == 0) return false;
  found->name = QFile::decodeName(name);
  found->attributes = attributes;
  found->size = S_ISDIR(st.st_mode) ? 0 : int64_t(st.st_size);
  found->lastWriteTime = LastWriteTime(st);
  return true;
}

bool NameHostsCannotHold(std::string_view name) {
  // The characters that a Windows path gives a meaning of its own: a name holding one
  // would be read as path syntax ("D:\COLON:NAME?.BMP" is cut at its second colon).
  constexpr std::string_view kPathSyntax = "\\:*?\"<>|";
  for (size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (kPathSyntax.find(char(byte)) != std::string_view::npos || byte < 0x20 || byte == 0x7F) return true;
    // The C1 controls, U+0080 to U+009F, are 0xC2 0x80 to 0xC2 0x9F in UTF-8.
    if (byte == 0xC2 && i + 1 < name.size()) {
      const auto next = static_cast<unsigned char>(name[i + 1]);
      if (next >= 0x80 && next <= 0x9F) return true;
    }
  }
  return false;
}

bool NameWindowsReadsAsAnother(std::string_view name) {
  if (name.empty()) return false;
  if (name.back() == ' ') return true;
  if (name.back() == '.') return name.find_first_not_of('.') != std::string_view::npos;
  // A device name is three or four letters before any extension and the spaces before it;
  // only such names are looked at more closely.
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  if (stem.size() != 3 && stem.size() != 4) return false;
  return !DosDeviceName(QString::fromUtf8(name.data(), qsizetype(name.size()))).isEmpty();
}

std::string_view NameExtension(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return std::string_view();
  return name.substr(dot);
}

}  // namespace platform
