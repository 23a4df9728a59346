#include "http/request_reader.h"

#include <algorithm>
#include <vector>

#include "http/http_exceptions.h"
#include "http/http_text.h"
#include "http/uri.h"
#include "util/text.h"

namespace quenby {
namespace {

constexpr std::string_view FormContentType = "application/x-www-form-urlencoded";
constexpr std::string_view AnyPath = "*";
constexpr std::string_view DotStuffed = "..";
constexpr std::string_view TokenPunctuation = "!#$%&'*+-.^_`|~";

bool IsTokenChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         TokenPunctuation.find(c) != std::string_view::npos;
}

}  // namespace

bool SplitRequestLine(std::string_view line, TRequestLine& parts) {
  const std::size_t last_space = line.rfind(' ');
  if (last_space == std::string_view::npos)
    return false;
  parts.Version = std::string(line.substr(last_space + 1));
  const std::string_view rest = line.substr(0, last_space);
  const std::size_t first_space = rest.find(' ');
  parts.Method = UpperCase(rest.substr(0, first_space));
  parts.Target = first_space == std::string_view::npos ? std::string()
                                                       : std::string(rest.substr(first_space + 1));
  return true;
}

bool IsMethodToken(std::string_view method) {
  return !method.empty() && std::all_of(method.begin(), method.end(), IsTokenChar);
}

void ReadHeaderLines(TTCPConnection& connection, THeaderList& headers) {
  std::vector<std::string> lines;
  std::size_t bytes = 0;
  for (;;) {
    std::string line = connection.ReadLine();
    if (line.empty())
      break;
    if (static_cast<int>(lines.size()) >= MaxRequestHeaderLines)
      throw EHTTPTooManyHeaderLines("Too many header lines.");
    bytes += line.size();
    if (bytes > MaxRequestHeaderBytes)
      throw EHTTPHeaderBlockTooLong("Header block too long.");
    if (line.starts_with(DotStuffed))
      line.erase(0, 1);
    lines.push_back(std::move(line));
  }
  headers.Assign(std::move(lines));
}

void ReadBodyBytes(TTCPConnection& connection, TStream& stream, std::int64_t length) {
  while (length > 0) {
    const std::int64_t piece = std::min(length, RequestBodyChunkSize);
    connection.ReadToStream(stream, piece);
    length -= piece;
  }
}

void SplitRequestTarget(THTTPRequestInfo& request, const std::string& target, bool parse_params) {
  request.QueryText = target;
  const std::string path_target = SplitOff(request.QueryText, "?");
  if (!request.QueryText.empty()) {
    if (request.ParamText.empty())
      request.ParamText = request.QueryText;
    else
      request.ParamText += "&" + request.QueryText;
  }
  if (parse_params) {
    // A content type with parameters (a charset) is not taken for a form.
    if (LowerCase(request.ContentType) == FormContentType)
      request.DecodeParams(request.ParamText);
    else
      request.DecodeParams(request.QueryText);
  }
  for (const std::string& line : request.Headers.ValuesByName("cookie"))
    request.ServerCookies.AddCookieLine(line);
  if (path_target == AnyPath) {
    request.Path = path_target;
  } else {
    // The parameter part (from the first "=") stays as sent; the rest is decoded.
    const TURI uri(path_target);
    request.Path = PercentDecode(uri.Directory) + PercentDecode(uri.FileName) + uri.Params;
    if (request.Host.empty())
      request.Host = uri.Host;
  }
  request.DecodeAuthorization();
}

}  // namespace quenby
