#include <benchmark/benchmark.h>

#include <string>

#include "http/header_list.h"

namespace quenby {
namespace {

constexpr int HeaderLines = 20;

// A typical browser request's header block, 20 lines.
THeaderList TwentyLineHeaders() {
  THeaderList list;
  list.FoldWidth = 1024;
  const char* lines[HeaderLines] = {
      "Host: localhost:8080",
      "Connection: keep-alive",
      "Cache-Control: max-age=0",
      "Upgrade-Insecure-Requests: 1",
      "User-Agent: Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36",
      "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8",
      "Sec-Fetch-Site: none",
      "Sec-Fetch-Mode: navigate",
      "Sec-Fetch-User: ?1",
      "Sec-Fetch-Dest: document",
      "Accept-Encoding: gzip, deflate, br",
      "Accept-Language: en-GB,en;q=0.9",
      "Cookie: lang=en; theme=dark; HTTPSESSIONID=abcdefghijklmno",
      "DNT: 1",
      "Pragma: no-cache",
      "Referer: http://localhost:8080/index.htm",
      "If-None-Match: \"abc123\"",
      "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT",
      "X-Requested-With: XMLHttpRequest",
      "Content-Length: 0",
  };
  for (const char* line : lines)
    list.Add(line);
  return list;
}

void BM_ValueByNameHitNearStart(benchmark::State& state) {
  const THeaderList list = TwentyLineHeaders();
  for (auto _ : state)
    benchmark::DoNotOptimize(list.ValueByName("connection"));
}
BENCHMARK(BM_ValueByNameHitNearStart);

void BM_ValueByNameHitAtEnd(benchmark::State& state) {
  const THeaderList list = TwentyLineHeaders();
  for (auto _ : state)
    benchmark::DoNotOptimize(list.ValueByName("content-length"));
}
BENCHMARK(BM_ValueByNameHitAtEnd);

void BM_ValueByNameMiss(benchmark::State& state) {
  const THeaderList list = TwentyLineHeaders();
  for (auto _ : state)
    benchmark::DoNotOptimize(list.ValueByName("authorization"));
}
BENCHMARK(BM_ValueByNameMiss);

}  // namespace
}  // namespace quenby

BENCHMARK_MAIN();
