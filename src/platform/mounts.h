// The mount table, read to tell what kind of medium holds a directory. Internal to the
// platform layer.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct MountEntry {
  std::string device;      // "/dev/sda1", "server:/export", "tmpfs"
  std::string mountPoint;  // "/", "/media/usb"
  std::string type;        // "ext4", "nfs4", "tmpfs"
};

// The entries of a mount table text (the format of /proc/self/mounts, with its octal
// escapes undone).
std::vector<MountEntry> ParseMountTable(std::string_view text);

// The mount that holds a host directory: the entry with the longest mount point that
// contains the directory's real path (the later entry when one mount covers another).
// Nothing when the mount table cannot be read.
std::optional<MountEntry> MountOf(const std::string& hostDirectory);
// The same against a given table (tests).
std::optional<MountEntry> MountOf(const std::string& realPath,
                                  const std::vector<MountEntry>& table);

enum class MountKind { Fixed, Removable, Network, Optical, Ram };

// The kind of medium: by the file system type (network file systems, ISO 9660 and UDF,
// tmpfs and ramfs), else by the device (floppy and optical devices, disks that the
// kernel marks removable or that hang on USB), else a fixed disk.
MountKind ClassifyMount(const MountEntry& mount);

// The kind of medium asked of the file system itself, for a directory that the mount table
// does not show (a chroot or container sees only part of the table, or none): network,
// optical and RAM file systems by their statfs type, else by the block device that holds
// the directory (floppy and optical drives, removable or USB disks), else a fixed disk.
// Nothing when the directory cannot be asked.
std::optional<MountKind> FileSystemKind(const std::string& hostDirectory);
// The kind that a statfs file system type names by itself; nothing for disk file systems
// and types not known here.
std::optional<MountKind> KindOfFileSystemType(unsigned long type);

// The volume label of a block device from /dev/disk/by-label, or empty.
std::string VolumeLabel(const std::string& device);

}  // namespace platform
