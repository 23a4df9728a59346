// Cookies: a "Cookie" header line a client sends, and a cookie text with attributes as a
// reply carries it, written back out.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/cookie.h"
#include "http/cookies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  quenby::TServerCookies cookies;
  cookies.AddCookieLine(text);
  for (int i = 0; i < cookies.Count(); ++i) {
    quenby::TCookieRFC2109& cookie = cookies[i];
    cookie.ClientCookie();
    cookie.ServerCookie();
    cookie.MatchesDomain(cookie.CookieValue);
    cookies.GetCookieIndex(i, cookie.CookieName);
  }
  if (cookies.Count() > 0)
    cookies.Delete(0);

  quenby::TServerCookie server_cookie;
  server_cookie.SetCookieText(text);
  server_cookie.ServerCookie();
  quenby::TCookieRFC2109 copy;
  copy.Assign(server_cookie);
  copy.ServerCookie();
  return 0;
}
