#pragma once

#include <memory>
#include <string>

#include "http/authentication.h"
#include "http/entity_header_info.h"

namespace quenby {

/// Request header properties. ParseHeaders reads the request level first, then the entity
/// level; BuildHeaders (the client direction, which the server never uses) writes the entity
/// level first.
class TRequestHeaderInfo : public TEntityHeaderInfo {
 public:
  static constexpr const char* DefaultAccept = "text/html, */*";
  static constexpr const char* DefaultUserAgent = "Mozilla/3.0 (compatible; QuenbyHTTP)";

  TRequestHeaderInfo();

  void ParseHeaders() override;
  void BuildHeaders() override;
  void ClearHeaders() override;

  std::string Accept;
  std::string AcceptCharSet;
  std::string AcceptEncoding;
  std::string AcceptLanguage;
  std::string From;
  std::string Password;
  std::string Referer;
  std::string UserAgent;
  std::string Username;
  std::string Host;
  /// BuildHeaders sends Basic credentials from Username and Password.
  bool BasicAuthentication = false;
  std::string ProxyConnection;
  /// The scheme object BuildHeaders takes the "Authorization" value from; created on demand
  /// when BasicAuthentication is set.
  std::unique_ptr<TAuthentication> Authentication;

 protected:
  void ParseRequestHeaders();
  void BuildRequestHeaders();
  void ClearRequestHeaders();
};

}  // namespace quenby
