#include "platform/shell_info.h"

#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QHash>
#include <QMimeDatabase>
#include <QPainter>
#include <QStyle>

#include "platform/drives.h"
#include "platform/folder_listing.h"
#include "platform/mounts.h"
#include "platform/paths.h"

namespace platform {

// Assigns the indexes of both image lists and knows where each icon comes from.
class ShellIconStore {
 public:
  static ShellIconStore& Instance() {
    static ShellIconStore store;
    return store;
  }

  SystemImageList small{QSize(16, 16)};
  SystemImageList large{QSize(32, 32)};

  int Count() const { return int(sources_.size()); }

  QPixmap Render(int index, QSize size) const {
    if (index < 0 || index >= Count()) return QPixmap();
    const Source& source = sources_[size_t(index)];
    QIcon icon;
    for (const QString& name : source.themeNames) {
      icon = QIcon::fromTheme(name);
      if (!icon.isNull()) break;
    }
    if (icon.isNull() && qobject_cast<QApplication*>(QCoreApplication::instance()))
      icon = QApplication::style()->standardIcon(source.standard);
    QPixmap pixmap = icon.isNull() ? QPixmap() : icon.pixmap(size);
    if (pixmap.isNull() || pixmap.size() != size) {
      // Always hand out a picture of the list's size, transparent where the icon is not.
      QPixmap exact(size);
      exact.fill(Qt::transparent);
      if (!pixmap.isNull()) {
        QPainter painter(&exact);
        const QSize scaled = pixmap.size().scaled(size, Qt::KeepAspectRatio);
        painter.drawPixmap(QRect(QPoint((size.width() - scaled.width()) / 2,
                                        (size.height() - scaled.height()) / 2),
                                 scaled),
                           pixmap);
      }
      pixmap = exact;
    }
    return pixmap;
  }

  // The type name and icon index of a file name's extension, cached by extension.
  struct FileType {
    QString typeName;
    int iconIndex;
  };

  const FileType& TypeOfExtension(QStringView extension) {
    // The cache key keeps the spelling, so repeated names need no case conversion.
    const QString key = extension.toString();
    auto it = byExtension_.constFind(key);
    if (it != byExtension_.constEnd()) return it.value();
    FileType type;
    type.typeName = extension.isEmpty()
                        ? QStringLiteral("File")
                        : UpperAscii(extension.toString()) + QStringLiteral(" File");
    type.iconIndex = IconForExtension(extension.toString().toLower());
    return byExtension_.insert(key, type).value();
  }

 private:
  struct Source {
    QStringList themeNames;
    QStyle::StandardPixmap standard;
  };

  ShellIconStore() {
    EnsureIconTheme();
    const auto add = [this](QStringList names, QStyle::StandardPixmap standard) {
      sources_.push_back({std::move(names), standard});
    };
    add({"application-x-generic", "unknown"}, QStyle::SP_FileIcon);        // 0
    add({"text-x-generic", "x-office-document"}, QStyle::SP_FileIcon);    // 1
    add({"application-x-executable"}, QStyle::SP_FileIcon);              // 2
    add({"folder"}, QStyle::SP_DirClosedIcon);                            // 3
    add({"folder-open"}, QStyle::SP_DirOpenIcon);                         // 4
    add({"media-floppy"}, QStyle::SP_DriveFDIcon);                        // 5
    add({"media-floppy"}, QStyle::SP_DriveFDIcon);                        // 6
    add({"drive-removable-media", "media-removable"}, QStyle::SP_DriveFDIcon);  // 7
    add({"drive-harddisk"}, QStyle::SP_DriveHDIcon);                      // 8
    add({"folder-remote", "network-server"}, QStyle::SP_DriveNetIcon);    // 9
    add({"network-offline"}, QStyle::SP_DriveNetIcon);                    // 10
    add({"drive-optical", "media-optical"}, QStyle::SP_DriveCDIcon);      // 11
    add({"media-flash", "drive-harddisk"}, QStyle::SP_DriveHDIcon);       // 12
    add({"network-workgroup"}, QStyle::SP_DriveNetIcon);                  // 13
    add({"network-wired"}, QStyle::SP_DriveNetIcon);                      // 14
    add({"computer"}, QStyle::SP_ComputerIcon);                           // 15
    add({"printer"}, QStyle::SP_FileIcon);                                // 16
  }

  // Without a desktop theme (offscreen, bare X11 sessions) Qt names none; the
  // freedesktop default theme of the system is then used when it is installed.
  static void EnsureIconTheme() {
    // Some platform plugins (offscreen, minimal) search only the resources; add the
    // freedesktop locations of icon themes.
    QStringList searchPaths = QIcon::themeSearchPaths();
    QStringList candidates{QDir::homePath() + QStringLiteral("/.icons")};
    for (const QString& data :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
      candidates << data + QStringLiteral("/icons");
    bool added = false;
    for (const QString& candidate : candidates) {
      if (!searchPaths.contains(candidate) && QFileInfo(candidate).isDir()) {
        searchPaths << candidate;
        added = true;
      }
    }
    if (added) QIcon::setThemeSearchPaths(searchPaths);
    const QString current = QIcon::themeName();
    if (!current.isEmpty() && current != QLatin1String("hicolor")) return;
    for (const QString& path : QIcon::themeSearchPaths()) {
      if (QFile::exists(path + QStringLiteral("/Adwaita/index.theme"))) {
        QIcon::setThemeName(QStringLiteral("Adwaita"));
        return;
      }
    }
  }

  static QString UpperAscii(QString text) {
    for (QChar& c : text)
      if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 32);
    return text;
  }

  int IconForExtension(const QString& lowerExtension) {
    if (lowerExtension.isEmpty()) return IconUnknownFile;
    static QMimeDatabase database;
    const QList<QMimeType> types =
        database.mimeTypesForFileName(QStringLiteral("x.") + lowerExtension);
    if (types.isEmpty()) return IconUnknownFile;
    const QMimeType& type = types.first();
    // The specific icon when the theme has it, else the family's generic one.
    QString name;
    if (QIcon::hasThemeIcon(type.iconName())) {
      name = type.iconName();
    } else if (QIcon::hasThemeIcon(type.genericIconName())) {
      name = type.genericIconName();
    } else {
      return type.genericIconName().startsWith(QLatin1String("text")) ? IconDocument
                                                                        : IconUnknownFile;
    }
    auto it = byIconName_.constFind(name);
    if (it != byIconName_.constEnd()) return it.value();
    const int index = Count();
    sources_.push_back({QStringList{name}, QStyle::SP_FileIcon});
    byIconName_.insert(name, index);
    return index;
  }

  std::vector<Source> sources_;
  QHash<QString, FileType> byExtension_;
  QHash<QString, int> byIconName_;
};

int SystemImageList::Count() const { return ShellIconStore::Instance().Count(); }

QPixmap SystemImageList::Pixmap(int index) const {
  if (index < 0 || index >= Count()) return QPixmap();
  if (cache_.size() <= size_t(index)) cache_.resize(size_t(index) + 1);
  QPixmap& cached = cache_[size_t(index)];
  if (cached.isNull()) cached = ShellIconStore::Instance().Render(index, size_);
  return cached;
}

void SystemImageList::Draw(QPainter& painter, int x, int y, int index) const {
  const QPixmap pixmap = Pixmap(index);
  if (!pixmap.isNull()) painter.drawPixmap(x, y, pixmap);
}

SystemImageList* GetSystemImageList(bool large) {
  ShellIconStore& store = ShellIconStore::Instance();
  return large ? &store.large : &store.small;
}

QIcon SystemIconOf(int index) {
  QIcon icon;
  if (index < 0 || index >= ShellIconStore::Instance().Count()) return icon;
  icon.addPixmap(GetSystemImageList(false)->Pixmap(index));
  icon.addPixmap(GetSystemImageList(true)->Pixmap(index));
  return icon;
}

namespace {

QString Limit(QString text, qsizetype length) {
  if (text.size() > length) text.truncate(length);
  return text;
}

bool IsDriveRoot(const QString& path) {
  if (path.size() < 2 || path.size() > 3 || path.at(1) != QLatin1Char(':')) return false;
  const char16_t c = path.at(0).toUpper().unicode();
  if (c < u'A' || c > u'Z') return false;
  return path.size() == 2 || path.at(2) == QLatin1Char('\\') || path.at(2) == QLatin1Char('/');
}

struct DriveDescription {
  QString kind;  // type name and default label
  int icon;
};

DriveDescription DescribeDrive(unsigned type, const std::optional<MountEntry>& mount) {
  switch (type) {
    case DriveRemovable:
      if (mount && mount->device.rfind("/dev/fd", 0) == 0)
        return {QStringLiteral("Floppy Disk"), IconFloppy};
      return {QStringLiteral("Removable Disk"), IconRemovableDrive};
    case DriveRemote: return {QStringLiteral("Network Drive"), IconNetworkDrive};
    case DriveCdrom: return {QStringLiteral("CD Drive"), IconCdDrive};
    case DriveRamdisk: return {QStringLiteral("RAM Disk"), IconRamDrive};
    case DriveFixed: return {QStringLiteral("Local Disk"), IconHardDrive};
    default: return {QStringLiteral("Drive"), IconHardDrive};
  }
}

// "share on 'server'" for "//server/share" and "server:/export/share", else empty.
QString NetworkLabel(const std::string& device) {
  const QString text = QString::fromStdString(device);
  QString server, share;
  if (text.startsWith(QLatin1String("//"))) {
    const qsizetype slash = text.indexOf(QLatin1Char('/'), 2);
    if (slash < 0) return QString();
    server = text.mid(2, slash - 2);
    share = text.mid(slash + 1);
  } else {
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon <= 0) return QString();
    server = text.left(colon);
    share = text.mid(colon + 1);
  }
  while (share.endsWith(QLatin1Char('/'))) share.chop(1);
  share = share.mid(share.lastIndexOf(QLatin1Char('/')) + 1);
  if (server.isEmpty() || share.isEmpty()) return QString();
  return share + QStringLiteral(" on '") + server + QLatin1Char('\'');
}

void DriveInfo(QChar letter, ShellFileInfo* info, unsigned flags) {
  const QString root = QString(letter.toUpper()) + QStringLiteral(":\\");
  const unsigned type = GetDriveType(root);
  std::optional<MountEntry> mount;
  if (type != DriveNoRootDir)
    mount = MountOf(QFile::encodeName(DriveHostRoot(letter)).toStdString());
  const DriveDescription description = DescribeDrive(type, mount);
  if (flags & ShgfiDisplayName) {
    QString label;
    if (mount && type == DriveRemote) label = NetworkLabel(mount->device);
    if (mount && label.isEmpty()) label = QString::fromStdString(VolumeLabel(mount->device));
    if (label.isEmpty()) label = description.kind;
    info->displayName =
        Limit(label + QStringLiteral(" (") + letter.toUpper() + QStringLiteral(":)"), 259);
  }
  if (flags & ShgfiTypeName) info->typeName = description.kind;
  if (flags & ShgfiSysIconIndex) info->iconIndex = description.icon;
}

void NameInfo(const QString& name, bool isDirectory, ShellFileInfo* info, unsigned flags) {
  if (flags & ShgfiDisplayName) info->displayName = Limit(name, 259);
  if (isDirectory) {
    if (flags & ShgfiTypeName) info->typeName = QStringLiteral("File Folder");
    if (flags & ShgfiSysIconIndex)
      info->iconIndex = (flags & ShgfiOpenIcon) ? IconFolderOpen : IconFolder;
    return;
  }
  if (!(flags & (ShgfiTypeName | ShgfiSysIconIndex))) return;
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  const QStringView extension =
      dot < 0 ? QStringView() : QStringView(name).mid(dot + 1);
  const ShellIconStore::FileType& type = ShellIconStore::Instance().TypeOfExtension(extension);
  if (flags & ShgfiTypeName) info->typeName = Limit(type.typeName, 79);
  if (flags & ShgfiSysIconIndex) info->iconIndex = type.iconIndex;
}

}  // namespace

bool SHGetFileInfo(const QString& windowsPath, uint32_t attributes, ShellFileInfo* info,
                   unsigned flags) {
  *info = ShellFileInfo();
  if (IsDriveRoot(windowsPath)) {
    DriveInfo(windowsPath.at(0), info, flags);
    return (flags & ShgfiUseFileAttributes) || GetDriveType(windowsPath) != DriveNoRootDir;
  }
  QString text = windowsPath;
  const bool trailing = text.endsWith(QLatin1Char('\\')) || text.endsWith(QLatin1Char('/'));
  while (text.size() > 1 && (text.endsWith(QLatin1Char('\\')) || text.endsWith(QLatin1Char('/'))))
    text.chop(1);
  qsizetype cut = std::max(text.lastIndexOf(QLatin1Char('\\')), text.lastIndexOf(QLatin1Char('/')));
  if (cut < 0) cut = text.lastIndexOf(QLatin1Char(':'));
  QString name = text.mid(cut + 1);

  if (flags & ShgfiUseFileAttributes) {
    NameInfo(name, attributes & FileAttributeDirectory, info, flags);
    return true;
  }
  FoundFile found;
  if (FindFile(windowsPath, &found)) {
    NameInfo(found.name, found.attributes & FileAttributeDirectory, info, flags);
    return true;
  }
  // Not there: describe it as well as the text allows, and say that it is missing.
  NameInfo(name, trailing, info, flags);
  return false;
}

void ShellInfoForEntry(const QString& name, bool isDirectory, ShellFileInfo* info) {
  NameInfo(name, isDirectory, info, ShgfiDisplayName | ShgfiTypeName | ShgfiSysIconIndex);
}

}  // namespace platform
