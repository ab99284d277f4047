// Listing a folder of 100,000 files: the platform layer's enumeration alone, with the
// sort the dialog applies after a listing, and with the per-entry texts the dialog asks
// for (shell information, the Modified text). QDir with QFileInfo is the peer.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>

#include "platform/date_time.h"
#include "platform/folder_listing.h"
#include "platform/shell_info.h"

namespace {

constexpr int kFiles = 100000;
constexpr int kFolders = 200;

// The test folder, made once per run: files of several types and sizes, some folders.
const std::string& TestFolder() {
  static QTemporaryDir dir;
  static std::string path = [] {
    const char* types[] = {".pcx", ".BMP", ".tif", ".gif", ".jpg", ".txt", ".Wmf", ""};
    const std::string root = dir.path().toStdString();
    std::string name;
    for (int i = 0; i < kFiles; ++i) {
      // A scrambled order, so that the sort has work to do.
      const unsigned key = unsigned(i) * 2654435761u;
      name = root + "/Picture " + std::to_string(key % 1000003) + "_" + std::to_string(i) +
             types[i % 8];
      const int fd = open(name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
      if (fd < 0) std::abort();
      if (i % 16 == 0 && write(fd, "data", 4) != 4) std::abort();
      close(fd);
    }
    for (int i = 0; i < kFolders; ++i) QDir().mkdir(dir.path() + "/Folder " + QString::number(i));
    return root;
  }();
  return path;
}

void EnsureApplication() {
  static int argc = 1;
  static char name[] = "bench_listing";
  static char* argv[] = {name, nullptr};
  if (!QGuiApplication::instance()) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    new QGuiApplication(argc, argv);
  }
}

void ReportPeakMemory(benchmark::State& state) {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MiB"] = double(usage.ru_maxrss) / 1024.0;
  state.counters["entries"] = kFiles + kFolders;
}

// The dialog's order after a listing: folders first, then by upper-cased name.
struct SortKey {
  bool file;
  QString upper;
  uint32_t index;
};

std::vector<SortKey> SortedKeys(const platform::FolderListing& listing) {
  std::vector<SortKey> keys;
  keys.reserve(listing.size());
  uint32_t i = 0;
  for (const platform::FolderEntry& entry : listing) {
    keys.push_back({!(entry.attributes & platform::FileAttributeDirectory),
                    listing.Name(entry).toUpper(), i++});
  }
  std::sort(keys.begin(), keys.end(), [](const SortKey& a, const SortKey& b) {
    if (a.file != b.file) return !a.file;
    return a.upper < b.upper;
  });
  return keys;
}

void BM_ReadFolder(benchmark::State& state) {
  const std::string& folder = TestFolder();
  platform::FolderListing listing;
  for (auto _ : state) {
    listing.ReadHost(folder);
    benchmark::DoNotOptimize(listing.size());
  }
  if (listing.size() != size_t(kFiles + kFolders)) state.SkipWithError("wrong count");
  ReportPeakMemory(state);
}
BENCHMARK(BM_ReadFolder)->Unit(benchmark::kMillisecond);

void BM_ReadAndSort(benchmark::State& state) {
  const std::string& folder = TestFolder();
  platform::FolderListing listing;
  for (auto _ : state) {
    listing.ReadHost(folder);
    auto keys = SortedKeys(listing);
    benchmark::DoNotOptimize(keys.data());
  }
  ReportPeakMemory(state);
}
BENCHMARK(BM_ReadAndSort)->Unit(benchmark::kMillisecond);

// Everything the dialog takes from this layer for a listing: the entries, each entry's
// name, type name, icon index and Modified text, and the sort.
void BM_ReadDescribeAndSort(benchmark::State& state) {
  EnsureApplication();
  const std::string& folder = TestFolder();
  platform::FolderListing listing;
  std::vector<platform::ShellFileInfo> infos;
  std::vector<QString> modified;
  for (auto _ : state) {
    listing.ReadHost(folder);
    infos.resize(listing.size());
    modified.resize(listing.size());
    for (size_t i = 0; i < listing.size(); ++i) {
      const platform::FolderEntry& entry = listing[i];
      platform::ShellInfoForEntry(listing.Name(entry),
                                  entry.attributes & platform::FileAttributeDirectory,
                                  &infos[i]);
      modified[i] = platform::FileTimeText(entry.lastWriteTime);
    }
    auto keys = SortedKeys(listing);
    benchmark::DoNotOptimize(keys.data());
  }
  ReportPeakMemory(state);
}
BENCHMARK(BM_ReadDescribeAndSort)->Unit(benchmark::kMillisecond);

// Peer: Qt's own directory listing with a QFileInfo per entry, sorted by Qt.
void BM_Peer_QDirEntryInfoList(benchmark::State& state) {
  const QString folder = QString::fromStdString(TestFolder());
  for (auto _ : state) {
    QDir dir(folder);
    const QFileInfoList list =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                          QDir::DirsFirst | QDir::Name | QDir::IgnoreCase);
    int64_t total = 0;
    for (const QFileInfo& info : list) total += info.size() + info.lastModified().toSecsSinceEpoch();
    benchmark::DoNotOptimize(total);
  }
  ReportPeakMemory(state);
}
BENCHMARK(BM_Peer_QDirEntryInfoList)->Unit(benchmark::kMillisecond);

// Peer: QDirIterator with QFileInfo, sorted with the same keys as above.
void BM_Peer_QDirIteratorAndSort(benchmark::State& state) {
  const QString folder = QString::fromStdString(TestFolder());
  for (auto _ : state) {
    std::vector<SortKey> keys;
    std::vector<std::pair<int64_t, QDateTime>> data;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    uint32_t i = 0;
    while (it.hasNext()) {
      it.next();
      const QFileInfo info = it.fileInfo();
      data.emplace_back(info.size(), info.lastModified());
      keys.push_back({!info.isDir(), info.fileName().toUpper(), i++});
    }
    std::sort(keys.begin(), keys.end(), [](const SortKey& a, const SortKey& b) {
      if (a.file != b.file) return !a.file;
      return a.upper < b.upper;
    });
    benchmark::DoNotOptimize(keys.data());
  }
  ReportPeakMemory(state);
}
BENCHMARK(BM_Peer_QDirIteratorAndSort)->Unit(benchmark::kMillisecond);

}  // namespace
