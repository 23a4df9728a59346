#include "http/response_header_info.h"

#include <cstdint>
#include <limits>

#include "http/http_text.h"
#include "util/exception.h"
#include "util/text.h"

namespace quenby {
namespace {

// A "Content-Range" bound; anything but a number that fits raises EConvertError.
std::uint32_t ContentRangeBound(const std::string& text) {
  std::int64_t value = 0;
  if (!TryStrToInt64(text, value) || value < 0 || value > std::numeric_limits<std::uint32_t>::max())
    throw EConvertError("'" + text + "' is not a valid integer value");
  return static_cast<std::uint32_t>(value);
}

void CopyValues(const THeaderList& headers, std::string_view name, THeaderList& target) {
  target.Clear();
  for (std::string& value : headers.ValuesByName(name))
    target.Add(std::move(value));
}

}  // namespace

TResponseHeaderInfo::TResponseHeaderInfo() {
  ClearResponseHeaders();
}

void TResponseHeaderInfo::ParseHeaders() {
  ParseResponseHeaders();
  ParseEntityHeaders();
}

void TResponseHeaderInfo::ClearHeaders() {
  ClearEntityHeaders();
  ClearResponseHeaders();
}

void TResponseHeaderInfo::ParseResponseHeaders() {
  Location = Headers.ValueByName("Location");
  Server = Headers.ValueByName("Server");
  ProxyConnection = Headers.ValueByName("Proxy-Connection");
  std::string range = Headers.ValueByName("Content-Range");
  if (range.empty()) {
    ContentRangeStart = 0;
    ContentRangeEnd = 0;
  } else {
    SplitOff(range, " ");
    ContentRangeStart = ContentRangeBound(SplitOff(range, "-"));
    ContentRangeEnd = ContentRangeBound(SplitOff(range, "/"));
  }
  CopyValues(Headers, "WWW-Authenticate", www_authenticate_);
  CopyValues(Headers, "Proxy-Authenticate", proxy_authenticate_);
}

void TResponseHeaderInfo::ClearResponseHeaders() {
  ContentType = DefaultContentType;
  Location.clear();
  Server.clear();
  proxy_authenticate_.Clear();
  www_authenticate_.Clear();
}

}  // namespace quenby
