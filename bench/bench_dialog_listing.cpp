// Listing a folder of 100,000 files in the dialog: enumeration, filter, shell
// information, texts, sort, and the list shown, in each of the three view styles; and
// a column-click sort of the same folder. Runs the real TForm1 on the offscreen platform.
// Qt's file-system model (the model of Qt's own file dialog) is the peer.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileSystemModel>
#include <QListView>
#include <QTemporaryDir>
#include <QTimer>

#include "dialog/form.h"
#include "platform/drives.h"

namespace {

constexpr int kFiles = 100000;
constexpr int kFolders = 200;

// Drive C: is a temporary folder holding BIG\ with 100,000 files of types the filter
// lists, in a scrambled order, and 200 folders.
const QTemporaryDir& World() {
  static QTemporaryDir dir;
  static const bool made = [] {
    const char* types[] = {".pcx", ".BMP", ".tif", ".gif", ".jpg", ".Wmf", ".dxf", ".ai"};
    const std::string root = dir.path().toStdString() + "/BIG";
    QDir().mkpath(QString::fromStdString(root));
    QDir().mkpath(dir.path() + "/sys");
    QDir().mkpath(dir.path() + "/PROG");
    std::string name;
    for (int i = 0; i < kFiles; ++i) {
      const unsigned key = unsigned(i) * 2654435761u;
      name = root + "/Picture " + std::to_string(key % 1000003) + "_" + std::to_string(i) + types[i % 8];
      const int fd = open(name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
      if (fd < 0) std::abort();
      if (i % 16 == 0 && write(fd, "data", 4) != 4) std::abort();
      close(fd);
    }
    for (int i = 0; i < kFolders; ++i) QDir().mkdir(QString::fromStdString(root) + "/Folder " + QString::number(i));
    setenv("IMPORTDLG_DRIVES", ("C=" + dir.path().toStdString()).c_str(), 1);
    setenv("IMPORTDLG_SYSTEM_DIR", (dir.path().toStdString() + "/sys").c_str(), 1);
    platform::ReloadDriveMap();
    return true;
  }();
  (void)made;
  return dir;
}

// One dialog for the whole run, shown, with its start folder empty.
TForm1& Dialog() {
  World();
  static std::unique_ptr<TForm1> form = [] {
    auto made = std::make_unique<TForm1>(QStringList{}, QStringLiteral("C:\\PROG\\importdlg"));
    made->show();
    QApplication::processEvents();
    return made;
  }();
  return *form;
}

// Lets the list lay itself out and paints it, as the event loop does after a listing.
void Show(TForm1& form) {
  QApplication::processEvents();
  form.files->currentview()->viewport()->repaint();
}

void ReportPeakMemory(benchmark::State& state, int entries) {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MiB"] = double(usage.ru_maxrss) / 1024.0;
  state.counters["entries"] = entries;
}

void BM_ListFolder(benchmark::State& state) {
  TForm1& form = Dialog();
  const dialog::ViewStyle style = dialog::ViewStyle(state.range(0));
  form.files->setviewstyle(style);
  for (auto _ : state) {
    form.currentpath = QStringLiteral("C:\\BIG\\");
    form.setfiles();
    Show(form);
  }
  if (form.files->count() != kFiles + kFolders) state.SkipWithError("wrong number of entries");
  ReportPeakMemory(state, form.files->count());
  // The next benchmark starts from a small listing again.
  form.currentpath = QStringLiteral("C:\\PROG\\");
  form.setfiles();
  Show(form);
}
BENCHMARK(BM_ListFolder)
    ->ArgName("style")
    ->Arg(int(dialog::ViewStyle::List))
    ->Arg(int(dialog::ViewStyle::Report))
    ->Arg(int(dialog::ViewStyle::Icon))
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(5);

void BM_SortByColumn(benchmark::State& state) {
  TForm1& form = Dialog();
  form.files->setviewstyle(dialog::ViewStyle::Report);
  form.currentpath = QStringLiteral("C:\\BIG\\");
  form.setfiles();
  Show(form);
  int column = 0;
  for (auto _ : state) {
    form.filesColumnClick(column);
    Show(form);
    column = (column + 1) % 4;
  }
  ReportPeakMemory(state, form.files->count());
}
BENCHMARK(BM_SortByColumn)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(8);

// Peer: Qt's own file-system model in a list view, as Qt's file dialog shows a folder.
// The model reads the folder on a thread; the time runs until every entry is in the
// model, sorted by name, and the view has painted.
void BM_QtFileSystemModelPeer(benchmark::State& state) {
  const QString folder = World().path() + QStringLiteral("/BIG");
  QListView view;
  view.setUniformItemSizes(true);
  view.resize(361, 377);
  view.show();
  int rows = 0;
  for (auto _ : state) {
    QFileSystemModel model;
    QEventLoop loop;
    QObject::connect(&model, &QFileSystemModel::directoryLoaded, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    const QModelIndex root = model.setRootPath(folder);
    loop.exec();
    while (model.canFetchMore(root)) model.fetchMore(root);
    model.sort(0);
    view.setModel(&model);
    view.setRootIndex(root);
    QApplication::processEvents();
    view.viewport()->repaint();
    rows = model.rowCount(root);
    view.setModel(nullptr);
  }
  if (rows != kFiles + kFolders) state.SkipWithError("the model did not load the whole folder");
  ReportPeakMemory(state, rows);
}
BENCHMARK(BM_QtFileSystemModelPeer)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
