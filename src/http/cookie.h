#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenby {

class TCookies;

/// One cookie in the original (Netscape) form. An item may belong to a collection
/// (TCookies), which owns it; destroying such an item removes its name from the
/// collection's domain index. Used by one thread at a time, like its collection.
class TNetscapeCookie {
 public:
  explicit TNetscapeCookie(TCookies* collection = nullptr);
  virtual ~TNetscapeCookie();
  TNetscapeCookie(const TNetscapeCookie&) = delete;
  TNetscapeCookie& operator=(const TNetscapeCookie&) = delete;

  /// The attribute form written after "Set-Cookie: ": name=value, path, expires (unless
  /// suppressed), domain, secure; attributes with an empty value are left out.
  virtual std::string ServerCookie();
  /// Stores the "expires" attribute text as it is to be written.
  virtual void SetExpiresText(std::string_view text);
  const std::string& ExpiresText() const { return expires_text_; }
  /// The server text (ServerCookie).
  std::string CookieText() { return ServerCookie(); }
  /// Parses a cookie text ("name=value; attr=value; flag"); a text equal to the one parsed
  /// last is ignored.
  void SetCookieText(std::string_view text);
  /// "name=value", as a client sends it back.
  virtual std::string ClientCookie() const;
  /// Whether a host name or address falls under CookieDomain: an address must equal it;
  /// a name must equal it or have it as its domain part (after the first "."), ignoring case.
  virtual bool MatchesDomain(std::string_view host) const;
  /// Takes the text (parsing it again) and the expires suppression of `source`.
  void Assign(TNetscapeCookie& source);

  TCookies* Collection() const { return collection_; }

  std::string CookieDomain;
  std::string CookieName;
  std::string CookiePath;
  bool SecureOnly = false;
  std::string CookieValue;
  /// Leaves "expires" out of the server text.
  bool SuppressExpires = false;

 protected:
  /// Sets the attributes from upper-cased entries ("PATH=/", "SECURE").
  virtual void LoadProperties(const std::vector<std::string>& attributes);
  /// The value of attribute `name` among upper-cased entries; empty when absent.
  static std::string AttributeValue(const std::vector<std::string>& attributes,
                                    std::string_view name);

  std::string expires_text_;

 private:
  std::string cookie_text_;
  TCookies* collection_;
};

/// A cookie with the RFC 2109 attributes. Items of a collection are of this class.
class TCookieRFC2109 : public TNetscapeCookie {
 public:
  explicit TCookieRFC2109(TCookies* collection = nullptr);

  /// The Netscape form, then "max-age" (when MaxAge >= 0 and there is no expires text),
  /// "comment" and "version".
  std::string ServerCookie() override;
  /// A non-empty readable date also sets MaxAge to the seconds from now until it.
  void SetExpiresText(std::string_view text) override;

  /// Seconds the cookie lives; -1 = no limit given.
  std::int64_t MaxAge = -1;
  std::string CookieVersion;
  std::string CookieComment;

 protected:
  void LoadProperties(const std::vector<std::string>& attributes) override;
};

/// A cookie the server sends. A MaxAge of 0 or more is written as an "expires" date in
/// GMT ("Tue, 8-Dec-2026 01:11:45 GMT"), never as "max-age".
class TServerCookie : public TCookieRFC2109 {
 public:
  explicit TServerCookie(TCookies* collection = nullptr);
  std::string ServerCookie() override;
};

}  // namespace quenby
