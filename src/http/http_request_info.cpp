#include "http/http_request_info.h"

#include <algorithm>

#include "http/authentication.h"
#include "http/http_text.h"

namespace quenby {
namespace {

std::string DecodeParam(std::string piece) {
  std::replace(piece.begin(), piece.end(), '+', ' ');
  return PercentDecode(piece);
}

}  // namespace

void THTTPRequestInfo::DecodeParams(std::string_view text) {
  std::vector<std::string> params;
  std::size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    std::size_t end = text.find('&', start);
    if (end == std::string_view::npos)
      end = text.size();
    params.push_back(DecodeParam(std::string(text.substr(start, end - start))));
    start = end + 1;
  }
  ParamList = std::move(params);
}

void THTTPRequestInfo::DecodeAuthorization() {
  const std::string value = Headers.ValueByName("Authorization");
  AuthorizationGiven = !value.empty();
  if (!AuthorizationGiven)
    return;
  TBasicCredentials credentials = DecodeBasicCredentials(value);
  AuthorizationUser = std::move(credentials.User);
  AuthorizationPassword = std::move(credentials.Password);
}

}  // namespace quenby
