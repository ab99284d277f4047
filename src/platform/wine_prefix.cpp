#include "platform/wine_prefix.h"

#include <dirent.h>
#include <limits.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include "platform/code_page.h"
#include "platform/drives.h"

namespace platform {

namespace {

// The letter index of a dosdevices entry "c:", or -1. Wine looks a drive up by its
// lower-case link only: an "E:" link is not a drive for the programs it runs.
int DriveIndexOfLinkName(const char* name) {
  if (name[0] < 'a' || name[0] > 'z' || name[1] != ':' || name[2] != '\0') return -1;
  return name[0] - 'a';
}

std::optional<QString> LinkTarget(const QByteArray& link) {
  char buffer[PATH_MAX];
  const ssize_t length = readlink(link.constData(), buffer, sizeof buffer);
  if (length <= 0 || size_t(length) >= sizeof buffer) return std::nullopt;
  return QFile::decodeName(QByteArray(buffer, length));
}

std::optional<unsigned> DriveTypeOfName(QByteArrayView name) {
  static const struct {
    const char* name;
    unsigned type;
  } kTypes[] = {{"floppy", DriveRemovable},
                {"hd", DriveFixed},
                {"network", DriveRemote},
                {"cdrom", DriveCdrom},
                {"ramdisk", DriveRamdisk}};
  for (const auto& entry : kTypes)
    if (name.compare(entry.name, Qt::CaseInsensitive) == 0) return entry.type;
  return std::nullopt;
}

// A registry key header "[Software\\Wine\\Drives] 1700000000" names that key; the file
// doubles each backslash.
bool IsDrivesKey(QByteArrayView line) {
  if (!line.startsWith('[')) return false;
  const qsizetype close = line.indexOf(']');
  if (close < 0) return false;
  QByteArray key = line.sliced(1, close - 1).toByteArray();
  key.replace("\\\\", "\\");
  return key.compare("Software\\Wine\\Drives", Qt::CaseInsensitive) == 0;
}

}  // namespace

QString WinePrefix() {
  QString prefix = qEnvironmentVariable("IMPORTDLG_WINEPREFIX");
  if (prefix.isEmpty()) prefix = qEnvironmentVariable("WINEPREFIX");
  if (prefix.isEmpty()) return QString();
  return QDir::cleanPath(QDir::current().absoluteFilePath(prefix));
}

std::array<std::optional<unsigned>, 26> WineDriveTypes(const QByteArray& systemReg) {
  std::array<std::optional<unsigned>, 26> types;
  bool inDrives = false;
  for (const QByteArray& rawLine : systemReg.split('\n')) {
    const QByteArray line = rawLine.trimmed();
    if (line.startsWith('[')) {
      inDrives = IsDrivesKey(line);
      continue;
    }
    // "d:"="cdrom"
    if (!inDrives || line.size() < 8 || line[0] != '"' || line[2] != ':' || line[3] != '"' ||
        line[4] != '=' || line[5] != '"' || !line.endsWith('"'))
      continue;
    const int index = DriveIndexOfLinkName(QByteArray(line.constData() + 1, 2).constData());
    if (index >= 0) types[size_t(index)] = DriveTypeOfName(line.sliced(6, line.size() - 7));
  }
  return types;
}

std::vector<WineDrive> WineDrives(const QString& prefix) {
  std::vector<WineDrive> drives;
  const QString dosdevices = prefix + QStringLiteral("/dosdevices");
  DIR* dir = opendir(QFile::encodeName(dosdevices).constData());
  if (!dir) return drives;
  while (dirent* entry = readdir(dir)) {
    const int index = DriveIndexOfLinkName(entry->d_name);
    if (index < 0) continue;
    const auto target =
        LinkTarget(QFile::encodeName(dosdevices + QLatin1Char('/')) + entry->d_name);
    if (!target) continue;
    const QString root = target->startsWith(QLatin1Char('/'))
                             ? *target
                             : dosdevices + QLatin1Char('/') + *target;
    drives.push_back(WineDrive{index, QDir::cleanPath(root), std::nullopt});
  }
  closedir(dir);

  QFile registry(prefix + QStringLiteral("/system.reg"));
  if (!drives.empty() && registry.open(QIODevice::ReadOnly)) {
    const auto types = WineDriveTypes(registry.readAll());
    for (WineDrive& drive : drives) drive.type = types[size_t(drive.index)];
  }
  return drives;
}

unsigned SettingsCodePage() {
  if (WinePrefix().isEmpty()) return CodePageUtf8;
  return AnsiCodePageOfLocale(CharacterLocale());
}

}  // namespace platform
