// Request targets: percent-decoding, the URI splitter, and the whole split of a target into
// a request record (path, query, parameters).
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "http/http_request_info.h"
#include "http/http_text.h"
#include "http/request_reader.h"
#include "http/uri.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string decoded = quenby::PercentDecode(text);
  FUZZ_CHECK(decoded.size() <= text.size());
  if (text.find('%') == std::string::npos)
    FUZZ_CHECK(decoded == text);

  const quenby::TURI uri(text);
  FUZZ_CHECK(uri.Directory.empty() || uri.Directory.back() == '/');
  FUZZ_CHECK(uri.Password.empty() || !uri.Username.empty());

  quenby::THTTPRequestInfo request;
  try {
    quenby::SplitRequestTarget(request, text, true);
  } catch (const std::exception&) {
    FUZZ_CHECK(false);  // without an "Authorization" header nothing may raise
  }
  return 0;
}
