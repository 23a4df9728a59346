#include "http/request_header_info.h"

#include <cstdint>
#include <limits>

#include "http/http_date.h"
#include "http/http_text.h"
#include "util/text.h"

namespace quenby {
namespace {

// A range bound: 0 when the text is not a number that fits.
std::uint32_t RangeBound(const std::string& text) {
  std::int64_t value = 0;
  if (!TryStrToInt64(text, value) || value < 0 || value > std::numeric_limits<std::uint32_t>::max())
    return 0;
  return static_cast<std::uint32_t>(value);
}

}  // namespace

TRequestHeaderInfo::TRequestHeaderInfo() {
  ClearRequestHeaders();
}

void TRequestHeaderInfo::ParseHeaders() {
  ParseRequestHeaders();
  ParseEntityHeaders();
}

void TRequestHeaderInfo::BuildHeaders() {
  BuildEntityHeaders();
  BuildRequestHeaders();
}

void TRequestHeaderInfo::ClearHeaders() {
  ClearRequestHeaders();
  ClearEntityHeaders();
}

void TRequestHeaderInfo::ParseRequestHeaders() {
  Accept = Headers.ValueByName("Accept");
  AcceptCharSet = Headers.ValueByName("Accept-Charset");
  AcceptEncoding = Headers.ValueByName("Accept-Encoding");
  AcceptLanguage = Headers.ValueByName("Accept-Language");
  Host = Headers.ValueByName("Host");
  From = Headers.ValueByName("From");
  Referer = Headers.ValueByName("Referer");
  UserAgent = Headers.ValueByName("User-Agent");
  std::string range = Headers.ValueByName("Range");
  if (!range.empty()) {
    SplitOff(range, "=");
    ContentRangeStart = RangeBound(SplitOff(range, "-"));
    ContentRangeEnd = RangeBound(SplitOff(range, " "));
  }
}

void TRequestHeaderInfo::BuildRequestHeaders() {
  SetIfNotEmpty("Proxy-Connection", ProxyConnection);
  SetIfNotEmpty("Host", Host);
  SetIfNotEmpty("Accept", Accept);
  SetIfNotEmpty("Accept-Charset", AcceptCharSet);
  SetIfNotEmpty("Accept-Encoding", AcceptEncoding);
  SetIfNotEmpty("Accept-Language", AcceptLanguage);
  SetIfNotEmpty("From", From);
  SetIfNotEmpty("Referer", Referer);
  SetIfNotEmpty("User-Agent", UserAgent);
  if (LastModified > 0)
    Headers.SetValue("If-Modified-Since", HttpDateLocal(LastModified));
  if (ContentRangeStart != 0 || ContentRangeEnd != 0) {
    std::string range = "bytes=" + std::to_string(ContentRangeStart) + "-";
    if (ContentRangeEnd != 0)
      range += std::to_string(ContentRangeEnd);
    Headers.SetValue("Range", range);
  }
  if (!Authentication && BasicAuthentication) {
    auto basic = std::make_unique<TBasicAuthentication>();
    basic->SetUsername(Username);
    basic->SetPassword(Password);
    Authentication = std::move(basic);
  }
  if (Authentication)
    SetIfNotEmpty("Authorization", Authentication->Authentication());
}

void TRequestHeaderInfo::ClearRequestHeaders() {
  Accept = DefaultAccept;
  AcceptCharSet.clear();
  UserAgent = DefaultUserAgent;
  BasicAuthentication = false;
}

}  // namespace quenby
