#include "platform/host_names.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <QFile>

#include "platform/drives.h"
#include "platform/paths.h"

namespace platform {

namespace {

bool HasDriveLetter(const QString& windowsPath) {
  return windowsPath.size() >= 2 && windowsPath.at(1) == QLatin1Char(':');
}

// The host directory that the path's drive (or, for a rooted path, the host's "/") stands
// for, as HostPath begins its result: without a trailing "/".
QByteArray HostRootBytes(const QString& windowsPath) {
  QByteArray root = HasDriveLetter(windowsPath) ? QFile::encodeName(DriveHostRoot(windowsPath.at(0))) : QByteArray();
  if (root.endsWith('/')) root.chop(1);
  return root;
}

bool EqualIgnoringCase(const char* hostName, const QByteArray& name) {
  if (strcasecmp(hostName, name.constData()) == 0) return true;
  // strcasecmp folds ASCII letters only; other letters are compared as Windows does.
  return QString::compare(QFile::decodeName(hostName), QFile::decodeName(name), Qt::CaseInsensitive) == 0;
}

// True when `directory` holds a name other than `name` that equals it ignoring case.
bool FolderHoldsCaseTwin(const QByteArray& directory, const QByteArray& name) {
  DIR* dir = opendir(directory.isEmpty() ? "/" : directory.constData());
  if (!dir) return false;
  bool twin = false;
  while (dirent* entry = readdir(dir)) {
    if (name != entry->d_name && EqualIgnoringCase(entry->d_name, name)) {
      twin = true;
      break;
    }
  }
  closedir(dir);
  return twin;
}

}  // namespace

bool HasCaseTwin(const QString& windowsPath) {
  const QByteArray host = QFile::encodeName(HostPath(windowsPath));
  struct stat st;
  if (host.isEmpty() || lstat(host.constData(), &st) != 0) return false;
  // Each component below the root, with the folder it lies in.
  qsizetype slash = HostRootBytes(windowsPath).size();
  while (slash >= 0 && slash < host.size()) {
    const qsizetype next = host.indexOf('/', slash + 1);
    const qsizetype end = next < 0 ? host.size() : next;
    if (FolderHoldsCaseTwin(host.left(slash), host.mid(slash + 1, end - slash - 1))) return true;
    slash = next;
  }
  return false;
}

QString ExactCasePath(const QString& windowsPath) {
  const QString host = HostPath(windowsPath);
  if (host.isEmpty()) return windowsPath;
  QString below = QFile::decodeName(QFile::encodeName(host).mid(HostRootBytes(windowsPath).size()));
  below.replace(QLatin1Char('/'), QLatin1Char('\\'));
  if (below.isEmpty()) below = QStringLiteral("\\");
  return (HasDriveLetter(windowsPath) ? windowsPath.left(2) : QString()) + below;
}

bool SameFile(const QString& windowsPathA, const QString& windowsPathB) {
  const QByteArray a = QFile::encodeName(HostPath(windowsPathA));
  const QByteArray b = QFile::encodeName(HostPath(windowsPathB));
  struct stat sa, sb;
  if (a.isEmpty() || b.isEmpty() || stat(a.constData(), &sa) != 0 || stat(b.constData(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace platform
