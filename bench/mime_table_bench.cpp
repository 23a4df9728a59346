// Content-type lookups of the MIME table, against the plain linear search over its lists
// that the hash index replaces.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <vector>

#include "http/mime_table.h"
#include "util/text.h"

namespace quenby {
namespace {

constexpr const char* EarlyHit = "index.aiff";  // first line of the table
constexpr const char* LateHit = "manual.sgml";  // last line of the table
constexpr const char* Miss = "script.js";

// Built-in lines only, so that positions do not depend on the host's registry.
TMimeTable& Table() {
  static TMimeTable table(true, "");
  return table;
}

void BM_TypeForFile(benchmark::State& state, const char* file_name) {
  TMimeTable& table = Table();
  for (auto _ : state)
    benchmark::DoNotOptimize(table.TypeForFile(file_name));
}
BENCHMARK_CAPTURE(BM_TypeForFile, early_hit, EarlyHit);
BENCHMARK_CAPTURE(BM_TypeForFile, late_hit, LateHit);
BENCHMARK_CAPTURE(BM_TypeForFile, miss, Miss);
BENCHMARK_CAPTURE(BM_TypeForFile, late_hit_threads, LateHit)->Threads(1)->Threads(2);

// The search the index replaces: extension cut the same way, lists scanned from the start.
std::string LinearTypeForFile(const std::vector<std::string>& extensions,
                              const std::vector<std::string>& types, std::string_view name) {
  const std::size_t dot = name.rfind('.');
  const std::size_t separator = name.find_last_of("/\\:");
  std::string extension;
  if (dot != std::string_view::npos && (separator == std::string_view::npos || separator < dot))
    extension = LowerCase(name.substr(dot));
  for (std::size_t i = 0; i < extensions.size(); ++i) {
    if (SameText(extensions[i], extension))
      return types[i];
  }
  return std::string(UnknownFileMimeType);
}

void BM_LinearSearch(benchmark::State& state, const char* file_name) {
  const std::vector<std::string> extensions = Table().Extensions();
  const std::vector<std::string> types = Table().Types();
  for (auto _ : state)
    benchmark::DoNotOptimize(LinearTypeForFile(extensions, types, file_name));
}
BENCHMARK_CAPTURE(BM_LinearSearch, early_hit, EarlyHit);
BENCHMARK_CAPTURE(BM_LinearSearch, late_hit, LateHit);
BENCHMARK_CAPTURE(BM_LinearSearch, miss, Miss);

void BM_FillFromHostRegistry(benchmark::State& state) {
  for (auto _ : state) {
    TMimeTable table(true, std::string(DefaultMimeTypesPath));
    benchmark::DoNotOptimize(table.TypeForFile(LateHit));
  }
}
BENCHMARK(BM_FillFromHostRegistry)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quenby

BENCHMARK_MAIN();
