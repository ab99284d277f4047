#include "support/platform_env.h"

#include <cstdlib>
#include <stdexcept>

#include <QDir>
#include <QFile>

#include "platform/drives.h"

namespace platform_test {

ScopedEnv::ScopedEnv(const char* name, const std::optional<QString>& value) : name_(name) {
  if (const char* old = std::getenv(name)) previous_ = old;
  if (value)
    setenv(name, value->toLocal8Bit().constData(), 1);
  else
    unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (previous_)
    setenv(name_.c_str(), previous_->c_str(), 1);
  else
    unsetenv(name_.c_str());
}

TempTree::TempTree() {
  if (!dir_.isValid()) throw std::runtime_error("cannot make a temporary folder");
}

void TempTree::MakeDir(const QString& relative) const {
  if (!QDir().mkpath(Path(relative))) throw std::runtime_error("cannot make a folder");
}

void TempTree::WriteFile(const QString& relative, const QByteArray& bytes) const {
  QFile file(Path(relative));
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
    throw std::runtime_error("cannot write a test file");
}

QByteArray TempTree::ReadFile(const QString& relative) const {
  QFile file(Path(relative));
  if (!file.open(QIODevice::ReadOnly)) return QByteArray();
  return file.readAll();
}

ScopedDrives::ScopedDrives(const QString& mapping) : env_("IMPORTDLG_DRIVES", mapping) {
  platform::ReloadDriveMap();
}

ScopedDrives::Reloader::~Reloader() { platform::ReloadDriveMap(); }

ScopedWinePrefix::ScopedWinePrefix(const QString& prefix)
    : drives_("IMPORTDLG_DRIVES", std::nullopt),
      wine_("WINEPREFIX", std::nullopt),
      prefix_("IMPORTDLG_WINEPREFIX", prefix) {
  platform::ReloadDriveMap();
}

}  // namespace platform_test
