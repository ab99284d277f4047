// Helpers for the platform tests: environment variables set for one scope, and a
// temporary tree of drive folders.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Lets GoogleTest print texts readably.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace platform_test {

// Sets (or, with nullopt, removes) an environment variable and restores it on exit.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<QString>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// A temporary folder with helpers to make files in it; paths are relative to its root.
class TempTree {
 public:
  TempTree();
  QString root() const { return dir_.path(); }
  QString Path(const QString& relative) const { return dir_.path() + '/' + relative; }
  void MakeDir(const QString& relative) const;
  void WriteFile(const QString& relative, const QByteArray& bytes) const;
  QByteArray ReadFile(const QString& relative) const;

 private:
  QTemporaryDir dir_;
};

// Maps drive letters for one scope ("A=/x;C=/y") and reloads the drive map; the previous
// map is restored on exit.
class ScopedDrives {
 public:
  explicit ScopedDrives(const QString& mapping);

  // Destroyed after the variables, so that the map is read again from the restored
  // environment.
  struct Reloader {
    ~Reloader();
  };

 private:
  Reloader reloader_;
  ScopedEnv env_;
};

// Names a Wine prefix for one scope (IMPORTDLG_WINEPREFIX, with IMPORTDLG_DRIVES and
// WINEPREFIX unset) and reloads the drive map; all is restored on exit.
class ScopedWinePrefix {
 public:
  explicit ScopedWinePrefix(const QString& prefix);

 private:
  ScopedDrives::Reloader reloader_;
  ScopedEnv drives_, wine_, prefix_;
};

}  // namespace platform_test
