#include "support/dialog_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>

#include <QAbstractItemView>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListView>
#include <QTest>
#include <QTimeZone>

#include "platform/date_time.h"
#include "platform/drives.h"

namespace dialog_test {

ScopedEnv::ScopedEnv(const char* name, const std::optional<QString>& value) : name_(name) {
  if (const char* old = std::getenv(name)) previous_ = old;
  if (value) {
    setenv(name, value->toLocal8Bit().constData(), 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (previous_) {
    setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

TempTree::TempTree() {
  if (!dir_.isValid()) throw std::runtime_error("cannot make a temporary folder");
}

void TempTree::MakeDir(const QString& relative) const {
  if (!QDir().mkpath(Path(relative))) throw std::runtime_error("cannot make a folder");
}

void TempTree::WriteFile(const QString& relative, const QByteArray& bytes) const {
  QDir().mkpath(QFileInfo(Path(relative)).path());
  QFile file(Path(relative));
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
    throw std::runtime_error("cannot write a test file");
  }
}

void TempTree::SetTime(const QString& relative, int year, int month, int day, int hour, int minute,
                       int second) const {
  const QDateTime when(QDate(year, month, day), QTime(hour, minute, second), QTimeZone::utc());
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = when.toSecsSinceEpoch();
  times[0].tv_nsec = times[1].tv_nsec = 0;
  if (utimensat(AT_FDCWD, QFile::encodeName(Path(relative)).constData(), times, 0) != 0) {
    throw std::runtime_error("cannot set a time");
  }
}

DialogWorld::DialogWorld(const QString& drives)
    : drives_("IMPORTDLG_DRIVES", drives.isEmpty() ? QStringLiteral("A=%1/a;C=%1/c;D=%1/d").arg(tree.root())
                                                   : drives.arg(tree.root())),
      system_("IMPORTDLG_SYSTEM_DIR", tree.root() + QStringLiteral("/sys")),
      tz_("TZ", QStringLiteral("UTC")),
      scopedprompts_(&prompts) {
  tzset();
  for (const char* folder : {"a", "c", "d", "sys", "c/PROG"}) tree.MakeDir(QLatin1String(folder));
  platform::ReloadDriveMap();
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  QLocale::setDefault(english);
  platform::SetUserLocale(english);
}

DialogWorld::~DialogWorld() {
  form_.reset();
  platform::ResetUserLocale();
  QLocale::setDefault(QLocale::system());
  unsetenv("IMPORTDLG_DRIVES");
  platform::ReloadDriveMap();
}

void DialogWorld::WriteSettings(const QByteArray& text) const {
  tree.WriteFile(QStringLiteral("sys/tolva.ini"), text);
}

TForm1* DialogWorld::Open(const QStringList& params, const QString& programfile) {
  form_ = std::make_unique<TForm1>(params, programfile);
  form_->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  return form_.get();
}

QStringList Captions(const TForm1& form) {
  QStringList captions;
  for (const ListEntry& entry : form.files->items()) captions << entry.caption;
  return captions;
}

QStringList EntryPaths(const TForm1& form) {
  QStringList paths;
  for (const ListEntry& entry : form.files->items()) paths << entry.subitems[4];
  return paths;
}

int IndexOf(const TForm1& form, const QString& caption) {
  return int(Captions(form).indexOf(caption));
}

void ClickEntry(TForm1& form, const QString& caption) {
  const int row = IndexOf(form, caption);
  ASSERT_GE(row, 0) << caption.toStdString();
  QAbstractItemView* view = form.files->currentview();
  const QModelIndex index = view->model()->index(row, 0);
  view->scrollTo(index);
  QCoreApplication::processEvents();
  const QRect rect = view->visualRect(index);
  ASSERT_TRUE(rect.isValid());
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.topLeft() + QPoint(4, rect.height() / 2));
}

void ClickEmpty(TForm1& form) {
  QAbstractItemView* view = form.files->currentview();
  const QPoint corner(view->viewport()->width() - 3, view->viewport()->height() - 3);
  ASSERT_FALSE(view->indexAt(corner).isValid());
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, corner);
}

void Choose(QComboBox* combo, int index) {
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

}  // namespace dialog_test
