#include "platform/paths.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/drives.h"
#include "platform/wine_prefix.h"

namespace platform {

namespace {

bool IsSeparator(QChar c) { return c == QLatin1Char('\\') || c == QLatin1Char('/'); }

// A component as Windows normalises it: one trailing period is dropped from a folder's
// name ("dir.\x" is "dir\x"), and every trailing period and space from the last name of a
// path that does not end in a separator ("file.txt. ." is "file.txt"). A name of periods
// only, three or more, is a name of its own and kept in the middle of a path.
QString NormalisedComponent(QString name, bool last) {
  if (last) {
    while (!name.isEmpty() && (name.back() == QLatin1Char('.') || name.back() == QLatin1Char(' ')))
      name.chop(1);
  } else if (name.endsWith(QLatin1Char('.')) &&
             name.count(QLatin1Char('.')) != name.size()) {
    name.chop(1);
  }
  return name;
}

bool IsAscii(const QByteArray& bytes) {
  for (char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// The host name in `directory` that matches `name` without regard to case: the first in
// byte order when several do. Empty when none does or the directory cannot be read.
QByteArray CaseInsensitiveMatch(const QByteArray& directory, const QString& name) {
  DIR* dir = opendir(directory.isEmpty() ? "/" : directory.constData());
  if (!dir) return QByteArray();
  const QByteArray nameBytes = QFile::encodeName(name);
  const bool ascii = IsAscii(nameBytes);
  QByteArray best;
  while (dirent* entry = readdir(dir)) {
    const char* candidate = entry->d_name;
    bool match;
    if (ascii) {
      match = strcasecmp(candidate, nameBytes.constData()) == 0;
    } else {
      match = QString::compare(QFile::decodeName(candidate), name, Qt::CaseInsensitive) == 0;
    }
    if (!match) continue;
    if (best.isEmpty() || qstrcmp(candidate, best.constData()) < 0) best = candidate;
  }
  closedir(dir);
  return best;
}

bool Exists(const QByteArray& hostPath) {
  struct stat st;
  return lstat(hostPath.constData(), &st) == 0;
}

QString RealPath(const QString& path) {
  char buffer[PATH_MAX];
  if (realpath(QFile::encodeName(path).constData(), buffer)) return QFile::decodeName(buffer);
  return QString();
}

bool IsUnder(const QString& path, const QString& root) {
  if (root == QLatin1String("/")) return path.startsWith(QLatin1Char('/'));
  return path == root ||
         (path.startsWith(root) && path.at(root.size()) == QLatin1Char('/'));
}

}  // namespace

QString DosDeviceName(const QString& windowsPath) {
  // The last component, less any colons at its end, up to its first period or colon, less
  // the spaces before that.
  qsizetype end = windowsPath.size();
  while (end > 0 && windowsPath.at(end - 1) == QLatin1Char(':')) --end;
  qsizetype start = end;
  while (start > 0 && !IsSeparator(windowsPath.at(start - 1)) &&
         !(start == 2 && windowsPath.at(1) == QLatin1Char(':')))
    --start;
  qsizetype stop = start;
  while (stop < end && windowsPath.at(stop) != QLatin1Char('.') &&
         windowsPath.at(stop) != QLatin1Char(':'))
    ++stop;
  while (stop > start && windowsPath.at(stop - 1) == QLatin1Char(' ')) --stop;
  const QString name = windowsPath.mid(start, stop - start).toUpper();
  static const QStringList kDevices = {QStringLiteral("AUX"), QStringLiteral("CON"),
                                       QStringLiteral("NUL"), QStringLiteral("PRN")};
  if (kDevices.contains(name)) return name;
  const bool port = name.size() == 4 && (name.startsWith(QLatin1String("COM")) ||
                                         name.startsWith(QLatin1String("LPT")));
  if (port && name.at(3) >= QLatin1Char('1') && name.at(3) <= QLatin1Char('9')) return name;
  return QString();
}

QString HostPath(const QString& windowsPath) {
  if (!DosDeviceName(windowsPath).isEmpty()) return QString();
  QString base;
  qsizetype pos = 0;
  if (windowsPath.size() >= 2 && windowsPath.at(1) == QLatin1Char(':')) {
    base = DriveHostRoot(windowsPath.at(0));
    if (base.isEmpty()) return QString();
    pos = 2;
  } else if (!windowsPath.isEmpty() && IsSeparator(windowsPath.at(0)) &&
             !(windowsPath.size() >= 2 && IsSeparator(windowsPath.at(1)))) {
    // Rooted without a drive: the host's own tree (network paths "\\server" are not).
    base = QStringLiteral("/");
  } else {
    return QString();
  }

  // Components, with "." dropped and ".." taking the previous one away.
  QStringList components;
  qsizetype start = pos;
  for (qsizetype i = pos; i <= windowsPath.size(); ++i) {
    if (i < windowsPath.size() && !IsSeparator(windowsPath.at(i))) continue;
    const QString part = windowsPath.mid(start, i - start);
    start = i + 1;
    if (part.isEmpty() || part == QLatin1String(".")) continue;
    if (part == QLatin1String("..")) {
      if (!components.isEmpty()) components.removeLast();
      continue;
    }
    const QString name = NormalisedComponent(part, i == windowsPath.size());
    if (!name.isEmpty()) components << name;
  }

  QByteArray host = QFile::encodeName(base);
  if (host.endsWith('/')) host.chop(1);
  bool resolving = true;
  for (const QString& component : components) {
    const QByteArray exact = QFile::encodeName(component);
    if (resolving) {
      const QByteArray candidate = host + '/' + exact;
      if (Exists(candidate)) {
        host = candidate;
        continue;
      }
      const QByteArray match = CaseInsensitiveMatch(host, component);
      if (!match.isEmpty()) {
        host += '/' + match;
        continue;
      }
      // Nothing further down can exist; the rest is taken as written.
      resolving = false;
    }
    host += '/' + exact;
  }
  if (host.isEmpty()) host = "/";
  return QFile::decodeName(host);
}

std::string HostPathBytes(const QString& windowsPath) {
  return QFile::encodeName(HostPath(windowsPath)).toStdString();
}

QString WindowsPath(const QString& hostPath) {
  if (hostPath.isEmpty()) return QString();
  const QString path = QDir::cleanPath(QFileInfo(hostPath).absoluteFilePath());
  int bestDrive = -1;
  qsizetype bestLength = -1;
  QString bestRoot;
  const uint32_t mask = GetLogicalDrives();
  for (int n = 0; n < 26; ++n) {
    if (!(mask & (uint32_t(1) << n))) continue;
    const QString root = DriveHostRoot(QChar(u'A' + n));
    // The root as written and, when it is reached through a symbolic link, its real path.
    const QString real = RealPath(root);
    for (const QString& candidate : {root, real}) {
      if (candidate.isEmpty() || !IsUnder(path, candidate)) continue;
      if (candidate.size() > bestLength) {
        bestDrive = n;
        bestLength = candidate.size();
        bestRoot = candidate;
      }
    }
  }
  QString rest;
  if (bestDrive < 0) {
    rest = path;
  } else {
    rest = bestRoot == QLatin1String("/") ? path.mid(1) : path.mid(bestRoot.size() + 1);
  }
  rest.replace(QLatin1Char('/'), QLatin1Char('\\'));
  if (bestDrive < 0) return rest;  // already begins with "\"
  return QString(QChar(u'A' + bestDrive)) + QStringLiteral(":\\") + rest;
}

bool DirectoryExists(const QString& windowsPath) {
  const QString host = HostPath(windowsPath);
  if (host.isEmpty()) return false;
  struct stat st;
  return stat(QFile::encodeName(host).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const QString& windowsPath) {
  const QString host = HostPath(windowsPath);
  if (host.isEmpty()) return false;
  struct stat st;
  return stat(QFile::encodeName(host).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool GetShortPathName(const QString&, QString&) { return false; }

QString GetSystemDirectory() {
  QString folder = qEnvironmentVariable("IMPORTDLG_SYSTEM_DIR");
  if (folder.isEmpty() && !WinePrefix().isEmpty()) {
    // Wine sends a 32-bit program's system32 to syswow64 in a 64-bit prefix, and the hosts
    // are 32-bit programs.
    const QString wow64 = QStringLiteral("C:\\windows\\syswow64");
    return DirectoryExists(wow64) ? wow64 : QStringLiteral("C:\\windows\\system32");
  }
  if (folder.isEmpty()) {
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The base directory rules ignore a relative value.
    folder = config.startsWith(QLatin1Char('/')) ? config
                                                 : QDir::homePath() + QStringLiteral("/.config");
  }
  const bool windowsForm = folder.size() >= 2 && folder.at(1) == QLatin1Char(':') &&
                           folder.at(0).isLetter() && folder.at(0).unicode() < 128;
  if (!windowsForm) folder = WindowsPath(folder);
  while (folder.size() > 2 && folder.endsWith(QLatin1Char('\\'))) folder.chop(1);
  if (folder.size() == 3 && folder.endsWith(QLatin1String(":\\"))) folder.chop(1);
  return folder;
}

QString ProgramFilePath() {
  QString host;
  if (QCoreApplication::instance()) host = QCoreApplication::applicationFilePath();
  if (host.isEmpty()) host = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
  return WindowsPath(host);
}

}  // namespace platform
