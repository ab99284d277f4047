#include "tools/picconv_batch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace picconv {

namespace fs = std::filesystem;

namespace {

// A path in a form that two spellings of one file share, as far as can be told before
// the file exists.
fs::path Normal(const fs::path& path) {
  std::error_code ignored;
  const fs::path normal = fs::weakly_canonical(path, ignored);
  return normal.empty() ? fs::absolute(path, ignored).lexically_normal() : normal;
}

// Reports progress and failures on standard error; the progress line only on a terminal.
class Reporter {
 public:
  explicit Reporter(size_t total)
      : total_(total), terminal_(::isatty(STDERR_FILENO) == 1),
        start_(std::chrono::steady_clock::now()) {}

  void Done(const std::string& input, const std::optional<std::string>& error) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++done_;
    if (error) {
      ClearLine();
      std::fprintf(stderr, "picconv: %s: %s\n", input.c_str(), error->c_str());
      failures_.emplace_back(input, *error);
    }
    if (!terminal_) return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::fprintf(stderr, "\r\033[K[%zu/%zu] %s  %.1f files/s", done_, total_,
                 fs::path(input).filename().c_str(), seconds > 0 ? double(done_) / seconds : 0.0);
    std::fflush(stderr);
  }

  // Ends the progress line and prints the summary; returns the exit status.
  int Finish() {
    ClearLine();
    if (failures_.empty()) {
      if (terminal_) std::fprintf(stderr, "%zu files converted\n", total_);
      return 0;
    }
    std::fprintf(stderr, "%zu of %zu files failed:\n", failures_.size(), total_);
    for (const auto& [input, error] : failures_)
      std::fprintf(stderr, "  %s: %s\n", input.c_str(), error.c_str());
    return 1;
  }

 private:
  void ClearLine() {
    if (terminal_) std::fputs("\r\033[K", stderr);
  }

  std::mutex mutex_;
  size_t done_ = 0;
  const size_t total_;
  const bool terminal_;
  const std::chrono::steady_clock::time_point start_;
  std::vector<std::pair<std::string, std::string>> failures_;
};

}  // namespace

std::vector<std::string> PlanOutputs(const std::vector<std::string>& inputs,
                                     const std::string& folder, const std::string& extension) {
  std::set<fs::path> taken;
  for (const std::string& input : inputs) taken.insert(Normal(input));
  std::vector<std::string> outputs;
  for (const std::string& input : inputs) {
    const std::string stem = fs::path(input).stem().string();
    fs::path output = fs::path(folder) / (stem + extension);
    for (int n = 2; taken.count(Normal(output)); ++n)
      output = fs::path(folder) / (stem + "-" + std::to_string(n) + extension);
    taken.insert(Normal(output));
    outputs.push_back(output.string());
  }
  return outputs;
}

int ConvertAll(const std::vector<std::string>& inputs, const std::string& folder,
               const std::string& extension, const ConvertOne& convert) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error || !fs::is_directory(folder)) {
    std::fprintf(stderr, "picconv: cannot create the folder %s: %s\n", folder.c_str(),
                 (error ? error : std::make_error_code(std::errc::not_a_directory)).message().c_str());
    return 1;
  }
  const std::vector<std::string> outputs = PlanOutputs(inputs, folder, extension);
  Reporter reporter(inputs.size());
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < inputs.size();) {
      std::optional<std::string> failure;
      try {
        convert(inputs[i], outputs[i]);
      } catch (const std::exception& e) {
        failure = e.what();
      }
      reporter.Done(inputs[i], failure);
    }
  };
  const size_t threads =
      std::clamp<size_t>(std::thread::hardware_concurrency(), 1, std::max<size_t>(inputs.size(), 1));
  std::vector<std::thread> pool;
  for (size_t t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& thread : pool) thread.join();
  return reporter.Finish();
}

}  // namespace picconv
