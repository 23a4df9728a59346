#pragma once

#include <string>

#include "http/entity_header_info.h"

namespace quenby {

/// Reply header properties. ParseHeaders (the client direction) reads the reply level
/// first, then the entity level; ClearHeaders resets the entity level first.
class TResponseHeaderInfo : public TEntityHeaderInfo {
 public:
  static constexpr const char* DefaultContentType = "text/html";

  TResponseHeaderInfo();

  /// Raises EConvertError when a "Content-Range" bound is not a number.
  void ParseHeaders() override;
  void ClearHeaders() override;

  /// The lines of the challenges received; setting copies the lines.
  THeaderList& ProxyAuthenticate() { return proxy_authenticate_; }
  const THeaderList& ProxyAuthenticate() const { return proxy_authenticate_; }
  void SetProxyAuthenticate(const THeaderList& lines) { proxy_authenticate_.Assign(lines); }
  THeaderList& WWWAuthenticate() { return www_authenticate_; }
  const THeaderList& WWWAuthenticate() const { return www_authenticate_; }
  void SetWWWAuthenticate(const THeaderList& lines) { www_authenticate_.Assign(lines); }

  std::string Location;
  std::string Server;
  std::string ProxyConnection;

 protected:
  void ParseResponseHeaders();
  void ClearResponseHeaders();

 private:
  THeaderList proxy_authenticate_;
  THeaderList www_authenticate_;
};

}  // namespace quenby
