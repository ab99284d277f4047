#include "platform/drives.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QDir>
#include <QFile>

#include "platform/mounts.h"
#include "platform/wine_prefix.h"

namespace platform {

namespace {

struct DriveMap {
  std::array<QString, 26> roots;
  // The type a Wine prefix gives a drive, which the host sees whatever holds the folder.
  std::array<std::optional<unsigned>, 26> types;
  uint32_t mask = 0;
};

void SetMask(DriveMap& map) {
  for (int n = 0; n < 26; ++n)
    if (!map.roots[n].isEmpty()) map.mask |= uint32_t(1) << n;
}

DriveMap LoadDriveMap() {
  DriveMap map;
  const QString prefix = WinePrefix();
  // A prefix without drive links (not made yet, or misspelt) leaves the default map, so
  // that the dialog can still be used.
  const std::vector<WineDrive> wineDrives =
      prefix.isEmpty() || qEnvironmentVariableIsSet("IMPORTDLG_DRIVES") ? std::vector<WineDrive>()
                                                                        : WineDrives(prefix);
  if (!wineDrives.empty()) {
    for (const WineDrive& drive : wineDrives) {
      map.roots[size_t(drive.index)] = drive.hostRoot;
      map.types[size_t(drive.index)] = drive.type;
    }
    SetMask(map);
    return map;
  }
  map.roots[2] = QStringLiteral("/");
  const QString mapping = qEnvironmentVariable("IMPORTDLG_DRIVES");
  for (const QString& rawItem : mapping.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const QString item = rawItem.trimmed();
    const qsizetype eq = item.indexOf(QLatin1Char('='));
    if (eq < 0) continue;
    const QString letter = item.left(eq).trimmed();
    // "D:=/srv" is accepted as well as "D=/srv".
    const QString name = letter.endsWith(QLatin1Char(':')) ? letter.chopped(1) : letter;
    if (name.size() != 1) continue;
    const char16_t c = name.at(0).toUpper().unicode();
    if (c < u'A' || c > u'Z') continue;
    const QString dir = item.mid(eq + 1).trimmed();
    if (dir.isEmpty() || !dir.startsWith(QLatin1Char('/'))) continue;
    map.roots[c - u'A'] = QDir::cleanPath(dir);
  }
  SetMask(map);
  return map;
}

DriveMap& Map() {
  static DriveMap map = LoadDriveMap();
  return map;
}

int DriveIndexOfPath(const QString& path) {
  if (path.size() < 2 || path.at(1) != QLatin1Char(':')) return -1;
  const char16_t c = path.at(0).toUpper().unicode();
  if (c < u'A' || c > u'Z') return -1;
  return c - u'A';
}

bool IsDirectory(const QString& hostPath) {
  struct stat st;
  return stat(QFile::encodeName(hostPath).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool StatDrive(int drive, struct statvfs* out) {
  if (drive < 1 || drive > 26) return false;
  const QString& root = Map().roots[drive - 1];
  if (root.isEmpty()) return false;
  return statvfs(QFile::encodeName(root).constData(), out) == 0;
}

}  // namespace

QString DriveTypeText(unsigned code) {
  static const char* const kTexts[] = {"Unknown",  "=======",       "Floppy Disk",
                                       "Local Drive", "Network Drive", "CD-Rom Drive",
                                       "RAM-Disk"};
  return QString::fromLatin1(code < 7 ? kTexts[code] : kTexts[0]);
}

uint32_t GetLogicalDrives() { return Map().mask; }

QString DriveHostRoot(QChar letter) {
  const char16_t c = letter.toUpper().unicode();
  if (c < u'A' || c > u'Z') return QString();
  return Map().roots[c - u'A'];
}

void ReloadDriveMap() { Map() = LoadDriveMap(); }

unsigned GetDriveType(const QString& rootPath) {
  const int index = DriveIndexOfPath(rootPath);
  if (index < 0) return DriveNoRootDir;
  const QString& root = Map().roots[index];
  if (root.isEmpty() || !IsDirectory(root)) return DriveNoRootDir;
  if (const auto type = Map().types[size_t(index)]) return *type;
  const std::string hostRoot = QFile::encodeName(root).toStdString();
  const std::optional<MountEntry> mount = MountOf(hostRoot);
  const std::optional<MountKind> kind = mount ? ClassifyMount(*mount) : FileSystemKind(hostRoot);
  if (!kind) return DriveUnknown;
  switch (*kind) {
    case MountKind::Removable: return DriveRemovable;
    case MountKind::Network: return DriveRemote;
    case MountKind::Optical: return DriveCdrom;
    case MountKind::Ram: return DriveRamdisk;
    case MountKind::Fixed: break;
  }
  return DriveFixed;
}

int64_t DiskSize(int drive) {
  struct statvfs st;
  if (!StatDrive(drive, &st)) return -1;
  return int64_t(st.f_blocks) * int64_t(st.f_frsize);
}

int64_t DiskFree(int drive) {
  struct statvfs st;
  if (!StatDrive(drive, &st)) return -1;
  return int64_t(st.f_bavail) * int64_t(st.f_frsize);
}

}  // namespace platform
