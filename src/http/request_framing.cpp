#include "http/request_framing.h"

#include <charconv>
#include <string>
#include <vector>

#include "http/status_text.h"
#include "util/text.h"

namespace quenby {
namespace {

constexpr std::string_view HTTP11 = "HTTP/1.1";
constexpr std::string_view HTTP10 = "HTTP/1.0";

bool HasToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    if (SameText(Trim(list.substr(0, comma)), token))
      return true;
    if (comma == std::string_view::npos)
      break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

bool KeepsConnection(std::string_view version, std::string_view connection) {
  if (SameText(version, HTTP11))
    return !HasToken(connection, "close");
  return SameText(version, HTTP10) && HasToken(connection, "keep-alive");
}

bool ParseContentLength(std::string_view text, std::int32_t& value) {
  const std::string digits = Trim(text);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const char* end = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(digits.data(), end, value);
  return error == std::errc() && stop == end;
}

int RequestFramingFault(const THeaderList& headers) {
  if (headers.IndexOfHeader("Transfer-Encoding") >= 0)
    return StatusLengthRequired;
  std::vector<std::string> values = headers.ValuesByName("Content-Length");
  std::int32_t first = -1;
  for (const std::string& value : values) {
    // One line may list the value again ("5, 5"): every item must be the same number.
    std::string_view items = value;
    for (;;) {
      const std::size_t comma = items.find(',');
      std::int32_t length = 0;
      if (!ParseContentLength(items.substr(0, comma), length) || (first >= 0 && length != first))
        return StatusBadRequest;
      first = length;
      if (comma == std::string_view::npos)
        break;
      items.remove_prefix(comma + 1);
    }
  }
  return 0;
}

}  // namespace quenby
