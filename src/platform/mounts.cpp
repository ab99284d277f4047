#include "platform/mounts.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
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

// The sysfs directory of a block device's whole disk, or empty.
std::string DiskSysfsDirectory(const std::string& device) {
  if (!StartsWith(device, "/dev/")) return std::string();
  const std::string real = RealPath(device);
  const std::string name = real.substr(real.rfind('/') + 1);
  std::string dir = RealPath("/sys/class/block/" + name);
  if (!StartsWith(dir, "/sys/")) return std::string();
  // A partition's directory lies inside its disk's directory.
  if (access((dir + "/partition").c_str(), F_OK) == 0) dir = dir.substr(0, dir.rfind('/'));
  return dir;
}

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
  const std::string sysfs = DiskSysfsDirectory(device);
  if (!sysfs.empty()) {
    if (ReadSmallFile(sysfs + "/removable").substr(0, 1) == "1") return MountKind::Removable;
    if (Contains(RealPath(sysfs + "/device"), "/usb")) return MountKind::Removable;
  }
  return MountKind::Fixed;
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
