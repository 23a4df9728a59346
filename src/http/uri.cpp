#include "http/uri.h"

#include <algorithm>

namespace quenby {
namespace {

constexpr std::string_view SchemeEnd = "://";

}  // namespace

void TURI::SetURI(std::string_view text) {
  *this = TURI();
  std::string uri(text);
  std::replace(uri.begin(), uri.end(), '\\', '/');
  std::string_view rest = uri;
  const std::size_t scheme_end = rest.find(SchemeEnd);
  const bool absolute = scheme_end != std::string_view::npos;
  if (absolute) {
    Protocol = std::string(rest.substr(0, scheme_end));
    rest.remove_prefix(scheme_end + SchemeEnd.size());
    const std::size_t slash = rest.find('/');
    SplitAuthority(rest.substr(0, slash));
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
  }
  if (!SplitPathAndParams(rest, absolute)) {
    const std::size_t hash = Params.find('#');
    if (hash != std::string::npos) {
      Fragment = Params.substr(hash + 1);
      Params.erase(hash);
    }
  }
}

void TURI::SplitAuthority(std::string_view authority) {
  const std::size_t at = authority.find('@');
  if (at != std::string_view::npos) {
    const std::string_view user_info = authority.substr(0, at);
    const std::size_t colon = user_info.find(':');
    Username = std::string(user_info.substr(0, colon));
    if (colon != std::string_view::npos && !Username.empty())
      Password = std::string(user_info.substr(colon + 1));
    authority.remove_prefix(at + 1);
  }
  const std::size_t colon = authority.find(':');
  Host = std::string(authority.substr(0, colon));
  if (colon != std::string_view::npos)
    Port = std::string(authority.substr(colon + 1));
}

bool TURI::SplitPathAndParams(std::string_view rest, bool absolute) {
  std::size_t param_start = rest.find('?');
  if (param_start == std::string_view::npos)
    param_start = rest.find('=');
  const std::string_view before_params = rest.substr(0, param_start);
  const std::size_t last_slash = before_params.rfind('/');
  const std::size_t file_start = last_slash == std::string_view::npos ? 0 : last_slash + 1;
  Directory = (absolute ? "/" : "") + std::string(before_params.substr(0, file_start));
  FileName = std::string(before_params.substr(file_start));
  if (param_start != std::string_view::npos)
    Params = std::string(rest.substr(param_start));
  if (absolute) {
    const std::size_t hash = FileName.find('#');
    if (hash != std::string::npos) {
      Fragment = FileName.substr(hash + 1);
      FileName.erase(hash);
      return true;
    }
  }
  return false;
}

}  // namespace quenby
