#include "http/entity_header_info.h"

#include <string>

#include "http/http_date.h"
#include "util/text.h"

namespace quenby {
namespace {

constexpr int SecondsPerHour = 3600;
constexpr int SecondsPerMinute = 60;
// An "Expires" value of -1 is a date text, not a count of seconds.
constexpr int ExpiresNotCount = -1;

// "Expires" is either a count of seconds from now or a date text.
TDateTime ExpiresFromText(const std::string& text) {
  int seconds = 0;
  if (!TryStrToInt(text, seconds) || seconds == ExpiresNotCount)
    return ParseHttpDate(text);
  return Now() + EncodeTime(seconds / SecondsPerHour, seconds % SecondsPerHour / SecondsPerMinute,
                            seconds % SecondsPerMinute);
}

}  // namespace

TEntityHeaderInfo::TEntityHeaderInfo() {
  Headers.FoldWidth = HeadersFoldWidth;
  ClearEntityHeaders();
}

void TEntityHeaderInfo::ParseHeaders() {
  ParseEntityHeaders();
}

void TEntityHeaderInfo::BuildHeaders() {
  BuildEntityHeaders();
}

void TEntityHeaderInfo::ClearHeaders() {
  ClearEntityHeaders();
}

void TEntityHeaderInfo::SetIfNotEmpty(std::string_view name, const std::string& value) {
  if (!value.empty())
    Headers.SetValue(name, value);
}

void TEntityHeaderInfo::SetContentLength(std::int32_t value) {
  content_length_ = value;
  ContentLengthKnown = value >= 0;
}

void TEntityHeaderInfo::ParseEntityHeaders() {
  Connection = Headers.ValueByName("Connection");
  ContentVersion = Headers.ValueByName("Content-Version");
  ContentEncoding = Headers.ValueByName("Content-Encoding");
  ContentLanguage = Headers.ValueByName("Content-Language");
  ContentType = Headers.ValueByName("Content-Type");
  const int length = StrToIntDef(Trim(Headers.ValueByName("Content-Length")), -1);
  SetContentLength(length < 0 ? -1 : length);
  // What an absent date reads as depends on the local time zone: looked up once for the three.
  const TDateTime absent = ParseHttpDate("");
  const std::string date = Headers.ValueByName("Date");
  const std::string last_modified = Headers.ValueByName("Last-Modified");
  const std::string expires = Headers.ValueByName("Expires");
  Date = date.empty() ? absent : ParseHttpDate(date);
  LastModified = last_modified.empty() ? absent : ParseHttpDate(last_modified);
  Expires = expires.empty() ? absent : ExpiresFromText(expires);
  Pragma = Headers.ValueByName("Pragma");
}

void TEntityHeaderInfo::BuildEntityHeaders() {
  Headers.Clear();
  SetIfNotEmpty("Connection", Connection);
  SetIfNotEmpty("Content-Version", ContentVersion);
  SetIfNotEmpty("Content-Encoding", ContentEncoding);
  SetIfNotEmpty("Content-Language", ContentLanguage);
  SetIfNotEmpty("Content-Type", ContentType);
  if (content_length_ >= 0)
    Headers.SetValue("Content-Length", std::to_string(content_length_));
  SetIfNotEmpty("Cache-control", CacheControl);
  if (Date > 0)
    Headers.SetValue("Date", HttpDateLocal(Date));
  if (Expires > 0)
    Headers.SetValue("Expires", HttpDateLocal(Expires));
  if (LastModified > 0)
    Headers.SetValue("Last-Modified", HttpDateGMT(LastModified));
  SetIfNotEmpty("Pragma", Pragma);
  for (const std::string& line : custom_headers_.Lines())
    Headers.Add(line);
}

void TEntityHeaderInfo::ClearEntityHeaders() {
  Connection.clear();
  ContentVersion.clear();
  ContentEncoding.clear();
  ContentLanguage.clear();
  ContentType.clear();
  content_length_ = -1;
  ContentRangeStart = 0;
  ContentRangeEnd = 0;
  Date = 0;
  Expires = 0;
  LastModified = 0;
  Headers.Clear();
}

}  // namespace quenby
