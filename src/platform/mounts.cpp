#include "platform/mounts.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <array>
#include <fstream>
#include <sstream>

namespace platform {

namespace {

// The mount table writes blanks, tabs, newlines and backslashes in names as "\ooo".
std::string Unescape(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
        field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
        field[i + 3] >= '0' && field[i + 3] <= '7') {
      out += char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

std::string RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  if (realpath(path.c_str(), buffer)) return buffer;
  return path;
}

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string();
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Contains(std::string_view haystack, std::string_view needle) {
  return haystack.find(needle) != std::string_view::npos;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The sysfs directory of a block device's whole disk, given the device's own sysfs
// link, or empty.
std::string DiskOfSysfsLink(const std::string& link) {
  std::string dir = RealPath(link);
  if (!StartsWith(dir, "/sys/")) return std::string();
  // A partition's directory lies inside its disk's directory.
  if (access((dir + "/partition").c_str(), F_OK) == 0) dir = dir.substr(0, dir.rfind('/'));
  return dir;
}

// The sysfs directory of a block device's whole disk, or empty.
std::string DiskSysfsDirectory(const std::string& device) {
  if (!StartsWith(device, "/dev/")) return std::string();
  const std::string real = RealPath(device);
  return DiskOfSysfsLink("/sys/class/block/" + real.substr(real.rfind('/') + 1));
}

// Removable when the kernel marks the disk so or it hangs on USB; nothing otherwise.
std::optional<MountKind> KindOfDisk(const std::string& sysfsDirectory) {
  if (sysfsDirectory.empty()) return std::nullopt;
  if (ReadSmallFile(sysfsDirectory + "/removable").substr(0, 1) == "1")
    return MountKind::Removable;
  if (Contains(RealPath(sysfsDirectory + "/device"), "/usb")) return MountKind::Removable;
  return std::nullopt;
}

// Block device majors of the floppy and SCSI optical drivers.
constexpr unsigned kFloppyMajor = 2;
constexpr unsigned kOpticalMajor = 11;

}  // namespace

std::vector<MountEntry> ParseMountTable(std::string_view text) {
  std::vector<MountEntry> entries;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    std::array<std::string_view, 3> fields;
    size_t count = 0;
    size_t pos = 0;
    while (count < fields.size() && pos < line.size()) {
      while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
      const size_t fieldStart = pos;
      while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') ++pos;
      if (pos > fieldStart) fields[count++] = line.substr(fieldStart, pos - fieldStart);
    }
    if (count < 3) continue;
    entries.push_back({Unescape(fields[0]), Unescape(fields[1]), Unescape(fields[2])});
  }
  return entries;
}

std::optional<MountEntry> MountOf(const std::string& realPath,
                                  const std::vector<MountEntry>& table) {
  const MountEntry* best = nullptr;
  for (const MountEntry& entry : table) {
    const std::string& point = entry.mountPoint;
    const bool contains =
        point == "/" || realPath == point ||
        (StartsWith(realPath, point) && realPath.size() > point.size() &&
         realPath[point.size()] == '/');
    if (!contains) continue;
    // A later entry on the same or a deeper mount point hides the earlier one.
    if (!best || point.size() >= best->mountPoint.size()) best = &entry;
  }
  if (!best) return std::nullopt;
  return *best;
}

std::optional<MountEntry> MountOf(const std::string& hostDirectory) {
  const std::string text = ReadSmallFile("/proc/self/mounts");
  if (text.empty()) return std::nullopt;
  return MountOf(RealPath(hostDirectory), ParseMountTable(text));
}

MountKind ClassifyMount(const MountEntry& mount) {
  static const char* const kNetwork[] = {
      "nfs",   "nfs4",  "cifs",    "smb3",  "smbfs",  "ncpfs", "afs",  "9p",
      "ceph",  "glusterfs", "lustre", "davfs", "coda", "fuse.sshfs", "fuse.rclone",
      "fuse.s3fs", "fuse.davfs2", "fuse.glusterfs", "fuse.cephfs"};
  const std::string& type = mount.type;
  for (const char* t : kNetwork)
    if (type == t) return MountKind::Network;
  if (type == "iso9660" || type == "udf") return MountKind::Optical;
  if (type == "tmpfs" || type == "ramfs") return MountKind::Ram;

  const std::string& device = mount.device;
  if (StartsWith(device, "/dev/fd")) return MountKind::Removable;
  if (StartsWith(device, "/dev/sr") || StartsWith(device, "/dev/scd") ||
      StartsWith(device, "/dev/cdrom"))
    return MountKind::Optical;
  return KindOfDisk(DiskSysfsDirectory(device)).value_or(MountKind::Fixed);
}

std::optional<MountKind> KindOfFileSystemType(unsigned long type) {
  // Magic numbers as <linux/magic.h> and the file systems themselves define them.
  static const struct {
    unsigned long type;
    MountKind kind;
  } kTypes[] = {
      {0x6969, MountKind::Network},      // NFS
      {0x517B, MountKind::Network},      // SMB
      {0xFF534D42, MountKind::Network},  // CIFS
      {0xFE534D42, MountKind::Network},  // SMB2
      {0x564C, MountKind::Network},      // NCP
      {0x5346414F, MountKind::Network},  // OpenAFS
      {0x6B414653, MountKind::Network},  // kAFS
      {0x73757245, MountKind::Network},  // Coda
      {0x01021997, MountKind::Network},  // 9P
      {0x00C36400, MountKind::Network},  // Ceph
      {0x0BD00BD0, MountKind::Network},  // Lustre
      {0x9660, MountKind::Optical},      // ISO 9660
      {0x15013346, MountKind::Optical},  // UDF
      {0x01021994, MountKind::Ram},      // tmpfs
      {0x858458F6, MountKind::Ram},      // ramfs
  };
  for (const auto& entry : kTypes)
    if (entry.type == type) return entry.kind;
  return std::nullopt;
}

std::optional<MountKind> FileSystemKind(const std::string& hostDirectory) {
  struct statfs fs;
  if (statfs(hostDirectory.c_str(), &fs) != 0) return std::nullopt;
  // f_type is signed on some architectures; the magic numbers are 32-bit patterns.
  if (const auto kind = KindOfFileSystemType(static_cast<unsigned long>(fs.f_type) & 0xFFFFFFFFul))
    return kind;
  struct stat st;
  if (stat(hostDirectory.c_str(), &st) != 0) return MountKind::Fixed;
  const unsigned major = gnu_dev_major(st.st_dev);
  if (major == kFloppyMajor) return MountKind::Removable;
  if (major == kOpticalMajor) return MountKind::Optical;
  const std::string link = "/sys/dev/block/" + std::to_string(major) + ':' +
                           std::to_string(gnu_dev_minor(st.st_dev));
  return KindOfDisk(DiskOfSysfsLink(link)).value_or(MountKind::Fixed);
}

std::string VolumeLabel(const std::string& device) {
  if (!StartsWith(device, "/dev/")) return std::string();
  const std::string target = RealPath(device);
  DIR* dir = opendir("/dev/disk/by-label");
  if (!dir) return std::string();
  std::string label;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    if (RealPath(std::string("/dev/disk/by-label/") + entry->d_name) != target) continue;
    // udev writes unsafe characters of a label as "\xHH".
    const std::string name = entry->d_name;
    for (size_t i = 0; i < name.size(); ++i) {
      if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
          isxdigit(static_cast<unsigned char>(name[i + 2])) &&
          isxdigit(static_cast<unsigned char>(name[i + 3]))) {
        label += char(strtol(name.substr(i + 2, 2).c_str(), nullptr, 16));
        i += 3;
      } else {
        label += name[i];
      }
    }
    break;
  }
  closedir(dir);
  return label;
}

}  // namespace platform
