#include "http/cookie.h"

#include <cmath>

#include "http/cookies.h"
#include "http/http_date.h"
#include "http/http_text.h"
#include "util/date_time.h"
#include "util/text.h"

namespace quenby {
namespace {

constexpr std::string_view AttributeSeparator = "; ";

// Appends "name=value" unless the value is empty.
void AppendAttribute(std::string& text, std::string_view name, std::string_view value) {
  if (value.empty())
    return;
  if (!text.empty())
    text.append(AttributeSeparator);
  text.append(name);
  text += '=';
  text.append(value);
}

void AppendFlag(std::string& text, std::string_view flag) {
  if (!text.empty())
    text.append(AttributeSeparator);
  text.append(flag);
}

// The entries of a cookie text, trimmed where ";" separated them.
std::vector<std::string> SplitCookieText(std::string_view text) {
  std::string rest(text);
  if (Pos(";", rest) == 0)
    return TextToLines(rest);
  std::vector<std::string> entries;
  while (Pos(";", rest) != 0)
    entries.push_back(Trim(SplitOff(rest, ";")));
  if (!rest.empty())
    entries.push_back(Trim(rest));
  return entries;
}

// "NAME=value" for an entry with "=", the whole entry upper-cased otherwise.
std::string AttributeEntry(std::string entry) {
  if (Pos("=", entry) == 0)
    return UpperCase(entry);
  std::string name = SplitOff(entry, "=");
  return UpperCase(name) + "=" + entry;
}

std::string WithoutQuotes(std::string text) {
  if (!text.empty() && text.front() == '"')
    text.erase(0, 1);
  if (!text.empty() && text.back() == '"')
    text.pop_back();
  return text;
}

bool LooksLikeAddress(std::string_view host) {
  if (host.find(':') != std::string_view::npos)
    return true;
  for (char c : host) {
    if (c != '.' && (c < '0' || c > '9'))
      return false;
  }
  return !host.empty();
}

std::string DomainPart(std::string_view host) {
  const std::size_t dot = host.find('.');
  return dot == std::string_view::npos ? std::string() : std::string(host.substr(dot + 1));
}

// "Tue, 8-Dec-2026 01:11:45 GMT" for a UTC value.
std::string CookieExpiresGMT(TDateTime utc) {
  const DateParts parts = DecodeDateTime(utc);
  const std::string time = Format("%.2d:%.2d:%.2d", parts.hour, parts.minute, parts.second);
  return Format("%s, %d-%s-%d %s GMT", ShortDayName(parts.day_of_week), parts.day,
                ShortMonthName(parts.month), parts.year, time.c_str());
}

}  // namespace

TNetscapeCookie::TNetscapeCookie(TCookies* collection) : collection_(collection) {}

TNetscapeCookie::~TNetscapeCookie() {
  if (collection_ != nullptr)
    collection_->RemoveFromDomainIndex(*this);
}

std::string TNetscapeCookie::ServerCookie() {
  std::string text;
  // A cookie with an empty value keeps its name ("n="): leaving the name out would make the
  // client take the next attribute ("path=/") for the cookie.
  if (!CookieValue.empty() || !CookieName.empty())
    text = CookieName + "=" + CookieValue;
  AppendAttribute(text, "path", CookiePath);
  if (!SuppressExpires)
    AppendAttribute(text, "expires", expires_text_);
  AppendAttribute(text, "domain", CookieDomain);
  if (SecureOnly)
    AppendFlag(text, "secure");
  return text;
}

void TNetscapeCookie::SetExpiresText(std::string_view text) {
  expires_text_ = std::string(text);
}

void TNetscapeCookie::SetCookieText(std::string_view text) {
  if (text == cookie_text_)
    return;
  cookie_text_ = std::string(text);
  std::vector<std::string> entries = SplitCookieText(text);
  CookieName.clear();
  CookieValue.clear();
  if (!entries.empty()) {
    std::string first = entries.front();
    CookieName = SplitOff(first, "=");
    CookieValue = first;
    entries.erase(entries.begin());
  }
  for (std::string& entry : entries)
    entry = AttributeEntry(std::move(entry));
  LoadProperties(entries);
}

std::string TNetscapeCookie::ClientCookie() const {
  return CookieName + "=" + CookieValue;
}

bool TNetscapeCookie::MatchesDomain(std::string_view host) const {
  if (LooksLikeAddress(host))
    return host == CookieDomain;
  std::string_view domain = CookieDomain;
  if (!domain.empty() && domain.front() == '.')
    domain.remove_prefix(1);
  return SameText(host, CookieDomain) || SameText(DomainPart(host), domain);
}

void TNetscapeCookie::Assign(TNetscapeCookie& source) {
  SetCookieText(source.CookieText());
  SuppressExpires = source.SuppressExpires;
}

void TNetscapeCookie::LoadProperties(const std::vector<std::string>& attributes) {
  CookiePath = WithoutQuotes(AttributeValue(attributes, "PATH"));
  SetExpiresText(AttributeValue(attributes, "EXPIRES"));
  CookieDomain = AttributeValue(attributes, "DOMAIN");
  SecureOnly = false;
  for (const std::string& entry : attributes) {
    if (entry == "SECURE")
      SecureOnly = true;
  }
}

std::string TNetscapeCookie::AttributeValue(const std::vector<std::string>& attributes,
                                            std::string_view name) {
  for (const std::string& entry : attributes) {
    if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
        entry[name.size()] == '=')
      return entry.substr(name.size() + 1);
  }
  return {};
}

TCookieRFC2109::TCookieRFC2109(TCookies* collection) : TNetscapeCookie(collection) {
  SuppressExpires = true;
}

std::string TCookieRFC2109::ServerCookie() {
  std::string text = TNetscapeCookie::ServerCookie();
  if (MaxAge >= 0 && expires_text_.empty())
    AppendAttribute(text, "max-age", std::to_string(MaxAge));
  AppendAttribute(text, "comment", CookieComment);
  AppendAttribute(text, "version", CookieVersion);
  return text;
}

void TCookieRFC2109::SetExpiresText(std::string_view text) {
  TDateTime expires = 0;
  if (!text.empty() && TryParseHttpDate(text, expires))
    MaxAge = std::llround((expires - Now()) * SecsPerDay);
  TNetscapeCookie::SetExpiresText(text);
}

void TCookieRFC2109::LoadProperties(const std::vector<std::string>& attributes) {
  TNetscapeCookie::LoadProperties(attributes);
  MaxAge = StrToInt64Def(AttributeValue(attributes, "MAX-AGE"), -1);
  CookieVersion = AttributeValue(attributes, "VERSION");
  CookieComment = AttributeValue(attributes, "COMMENT");
  if (expires_text_.empty()) {
    SuppressExpires = false;
    if (MaxAge >= 0)
      SetExpiresText(HttpDateLocal(Now() + static_cast<double>(MaxAge) / SecsPerDay));
  }
}

TServerCookie::TServerCookie(TCookies* collection) : TCookieRFC2109(collection) {
  SuppressExpires = false;
}

std::string TServerCookie::ServerCookie() {
  if (MaxAge >= 0)
    expires_text_ = CookieExpiresGMT(NowUTC() + static_cast<double>(MaxAge) / SecsPerDay);
  return TCookieRFC2109::ServerCookie();
}

}  // namespace quenby
