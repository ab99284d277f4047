// Helpers for the dialog tests: a temporary tree of drive folders mapped as drives, a
// pinned locale and time zone, scripted prompts, and a dialog created on that tree.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "dialog/form.h"
#include "platform/prompts.h"

inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace dialog_test {

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

// A temporary folder; paths are relative to its root.
class TempTree {
 public:
  TempTree();
  QString root() const { return dir_.path(); }
  QString Path(const QString& relative) const { return dir_.path() + '/' + relative; }
  void MakeDir(const QString& relative) const;
  void WriteFile(const QString& relative, const QByteArray& bytes = QByteArray()) const;
  // Sets a file's modification time (universal time).
  void SetTime(const QString& relative, int year, int month, int day, int hour, int minute, int second) const;

 private:
  QTemporaryDir dir_;
};

// The world a dialog test runs in: drives A:, C: and D: mapped to the folders a, c and d
// of a temporary tree, the system folder (with the host settings file) in sys, English
// (United States) formats, universal time as the local time zone, and prompts that are
// answered by the test and recorded.
class DialogWorld {
 public:
  explicit DialogWorld(const QString& drives = QString());
  ~DialogWorld();

  TempTree tree;
  platform::FakePrompts prompts;

  // Writes the host settings file with the given text.
  void WriteSettings(const QByteArray& text) const;
  // Creates and shows the dialog with these arguments; the program's file is
  // C:\PROG\importdlg. Prompts shown meanwhile are recorded.
  TForm1* Open(const QStringList& params = {}, const QString& programfile = QStringLiteral("C:\\PROG\\importdlg"));
  TForm1* form() const { return form_.get(); }

 private:
  ScopedEnv drives_;
  ScopedEnv system_;
  ScopedEnv tz_;
  platform::ScopedPrompts scopedprompts_;
  std::unique_ptr<TForm1> form_;
};

// The captions of the list's entries, in order.
QStringList Captions(const TForm1& form);
// The entry paths (sub-item 4) of the list's entries, in order.
QStringList EntryPaths(const TForm1& form);
// The index of the entry with this caption, or -1.
int IndexOf(const TForm1& form, const QString& caption);
// Clicks the entry with this caption in the current view (fails the test when missing).
void ClickEntry(TForm1& form, const QString& caption);
// Clicks the empty part of the list below the entries.
void ClickEmpty(TForm1& form);
// Chooses an entry of a combo as the user does (the combo's activated signal).
void Choose(QComboBox* combo, int index);

}  // namespace dialog_test
