#include "http/status_text.h"

#include <algorithm>
#include <iterator>

namespace quenby {
namespace {

struct StatusEntry {
  int code;
  const char* text;
};

// Sorted by code.
constexpr StatusEntry StatusTable[] = {
    {100, "Continue"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {301, "Moved Permanently"},
    {302, "Moved Temporarily"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method not allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity To Long"},
    {414, "Request-URI Too Long. 256 Chars max"},
    {415, "Unsupported Media Type"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway timeout"},
    {505, "HTTP version not supported"},
};

constexpr const char* UnknownStatusText = "Unknown Response Code";

}  // namespace

const char* StatusTextOf(int status_code) {
  const auto* found =
      std::lower_bound(std::begin(StatusTable), std::end(StatusTable), status_code,
                       [](const StatusEntry& entry, int code) { return entry.code < code; });
  if (found == std::end(StatusTable) || found->code != status_code)
    return UnknownStatusText;
  return found->text;
}

}  // namespace quenby
