// HTTP date texts in any of their three forms; a date that reads is written in the GMT form
// and must read back as the same moment.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "fuzz_check.h"
#include "http/http_date.h"
#include "util/date_time.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Local time is UTC here, so that the GMT form of a value is the same moment.
  setenv("TZ", "UTC", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  quenby::ParseHttpDate(text);
  quenby::TDateTime value = 0;
  if (!quenby::TryParseHttpDate(text, value))
    return 0;
  // Day counts below 0 hold their time of day backwards, so sums with them are not moments;
  // and a year 1900 written first reads as the asctime order, whose year comes last.
  const quenby::DateParts parts = quenby::DecodeDateTime(value);
  if (value < 0 || parts.year <= 1900 || parts.year > 9999)
    return 0;
  const std::string written = quenby::HttpDateGMT(value);
  quenby::TDateTime again = 0;
  FUZZ_CHECK(quenby::TryParseHttpDate(written, again));
  constexpr double OneSecond = 1.0 / 86400;
  FUZZ_CHECK(std::fabs(again - value) < OneSecond);
  return 0;
}
