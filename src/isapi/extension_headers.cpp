#include "isapi/extension_headers.h"

#include <charconv>
#include <exception>

#include "http/header_list.h"
#include "http/http_date.h"
#include "http/http_response_info.h"
#include "http/request_framing.h"
#include "http/status_text.h"
#include "isapi/ecb.h"
#include "net/tcp_connection.h"

namespace quenby {
namespace {

constexpr std::string_view CookiePrefix = "Set-Cookie: ";

bool ReadNumber(std::string_view text, std::size_t at, std::size_t digits, int& value) {
  if (at + digits > text.size())
    return false;
  const char* first = text.data() + at;
  const auto [end, error] = std::from_chars(first, first + digits, value);
  return error == std::errc() && end == first + digits;
}

bool ReadTime(std::string_view text, TDateTime& time) {
  int hour = 0, minute = 0, second = 0;
  if (!ReadNumber(text, 0, 2, hour) || text.size() < 5 || text[2] != ':' ||
      !ReadNumber(text, 3, 2, minute))
    return false;
  if (text.size() == 8) {
    if (text[5] != ':' || !ReadNumber(text, 6, 2, second))
      return false;
  } else if (text.size() != 5) {
    return false;
  }
  return TryEncodeTime(hour, minute, second, 0, time);
}

}  // namespace

bool TryTextToDateTime(std::string_view text, TDateTime& value) {
  constexpr std::size_t DateLength = 10;  // YYYY-MM-DD
  int year = 0, month = 0, day = 0;
  if (text.size() < DateLength || text[4] != '-' || text[7] != '-' ||
      !ReadNumber(text, 0, 4, year) || !ReadNumber(text, 5, 2, month) ||
      !ReadNumber(text, 8, 2, day))
    return false;
  TDateTime date = 0;
  if (!TryEncodeDate(year, month, day, date))
    return false;
  TDateTime time = 0;
  if (text.size() > DateLength &&
      (text[DateLength] != ' ' || !ReadTime(text.substr(DateLength + 1), time)))
    return false;
  value = date + time;
  return true;
}

bool ApplyExtensionHeaders(TECB& block, std::string_view H) {
  THTTPResponseInfo& reply = *block.ResponseInfo;
  THeaderList lines;
  lines.SetText(H);
  for (const std::string& line : lines.Lines())
    if (line.compare(0, CookiePrefix.size(), CookiePrefix) == 0)
      reply.ServerCookies.Add().SetCookieText(line.substr(CookiePrefix.size()));

  const std::string content_type = lines.ValueByName("Content-type");
  if (!content_type.empty())
    reply.ContentType = content_type;
  reply.Location = lines.ValueByName("Location");
  if (!reply.Location.empty())
    reply.SetStatusCode(StatusMovedTemporarily);
  reply.Pragma = lines.ValueByName("Pragma");
  // On a kept connection a module that gives its body's length keeps the connection.
  std::int32_t length = -1;
  if (reply.FramedReply && !block.HeaderWritten() && lines.IndexOfHeader("Content-Length") >= 0 &&
      ParseContentLength(lines.ValueByName("Content-Length"), length))
    reply.SetContentLength(length);

  if (lines.IndexOfHeader("Date") >= 0 && !TryTextToDateTime(lines.ValueByName("Date"), reply.Date))
    return false;
  if (lines.IndexOfHeader("Expires") >= 0)
    reply.Expires = ParseHttpDate(lines.ValueByName("Expires"));
  if (lines.IndexOfHeader("LastModified") >= 0 &&
      !TryTextToDateTime(lines.ValueByName("LastModified"), reply.LastModified))
    return false;
  return true;
}

bool SendExtensionHeader(TECB& block, std::string_view module_status) {
  THTTPResponseInfo& reply = *block.ResponseInfo;
  block.MarkHeaderWritten();  // one attempt per run, whatever its outcome
  // The body is still growing and is not framed by a length: the close ends it. Output
  // written before the header stays collected and follows it.
  std::string collected = std::move(reply.BodyText);
  reply.BodyText.clear();
  if (!reply.FramedReply || reply.ContentLength() < 0)
    reply.SetCloseAfterReply(true);
  bool sent = true;
  // The body follows when the module returns: the head waits for it, so that both leave in
  // one segment instead of two (a module that holds its request pending delays its head by
  // at most the transport's 200 ms).
  TTCPConnection* connection = reply.ClientConnection;
  if (connection != nullptr)
    connection->SetMoreFollows(true);
  try {
    reply.SendHeader(module_status);
  } catch (...) {
    sent = false;
  }
  if (connection != nullptr)
    connection->SetMoreFollows(false);
  reply.BodyText = std::move(collected) + reply.BodyText;
  return sent;
}

}  // namespace quenby
