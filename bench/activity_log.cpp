// Cost of one activity log entry, which every logged request pays while holding LogLock:
// alone, and with several peer threads logging into the same file at once.
#include <stdlib.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "util/activity_log.h"

namespace {

// A log file in a folder of its own, removed when the benchmark ends.
class BenchLog {
 public:
  BenchLog() {
    std::string folder = std::filesystem::temp_directory_path().string() + "/quenby-bench-XXXXXX";
    if (::mkdtemp(folder.data()) != nullptr) {
      folder_ = folder;
      file_ = folder + "/activity.log";
    }  // else an empty name: the benchmark then measures only the lock
  }
  ~BenchLog() {
    std::error_code ignored;
    if (!folder_.empty())
      std::filesystem::remove_all(folder_, ignored);
  }
  const std::string& File() const { return file_; }

 private:
  std::string folder_;
  std::string file_;
};

const std::string& LogFile() {
  static const BenchLog log;
  return log.File();
}

void AppendLogEntryToOneFile(benchmark::State& state) {
  const std::string text = "Command GET /index.htm received from 127.0.0.1:50000";
  for (auto _ : state)
    quenby::AppendLogEntry(text, LogFile());
  if (state.thread_index() == 0) {
    std::error_code ignored;
    std::filesystem::resize_file(LogFile(), 0, ignored);
  }
}
BENCHMARK(AppendLogEntryToOneFile)->Threads(1)->Threads(4)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
