#include "http/cookies.h"

#include <gtest/gtest.h>

#include "http/http_date.h"
#include "http/http_text.h"
#include "util/date_time.h"

namespace quenby {
namespace {

std::vector<std::pair<std::string, std::string>> NamesAndValues(const TCookies& cookies) {
  std::vector<std::pair<std::string, std::string>> result;
  for (int i = 0; i < cookies.Count(); ++i)
    result.emplace_back(cookies[i].CookieName, cookies[i].CookieValue);
  return result;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(CookieLineTest, EntriesOfSeveralLinesInOrder) {
  TServerCookies cookies;
  cookies.AddCookieLine("a=1; b=2");
  cookies.AddCookieLine("c=3");
  EXPECT_EQ(NamesAndValues(cookies), (Pairs{{"a", "1"}, {"b", "2"}, {"c", "3"}}));
  // Received cookies are RFC 2109 items whatever the collection's kind.
  EXPECT_EQ(dynamic_cast<TServerCookie*>(&cookies[0]), nullptr);
}

TEST(CookieLineTest, EmptyEntryAndValueWithEquals) {
  TServerCookies cookies;
  cookies.AddCookieLine("a=1;;b=2");
  EXPECT_EQ(NamesAndValues(cookies), (Pairs{{"a", "1"}, {"", ""}, {"b", "2"}}));
  TCookies other;
  other.AddCookieLine("k=v=w");
  EXPECT_EQ(NamesAndValues(other), (Pairs{{"k", "v=w"}}));
}

TEST(CookieLineTest, LookupIgnoresCaseFromStartIndex) {
  TCookies cookies;
  cookies.AddCookieLine("lang=en; x=1; Lang=fr");
  EXPECT_EQ(cookies.GetCookieIndex(0, "LANG"), 0);
  EXPECT_EQ(cookies.GetCookieIndex(1, "LANG"), 2);
  EXPECT_EQ(cookies.GetCookieIndex(3, "lang"), -1);
  EXPECT_EQ(cookies.GetCookieIndex(0, "none"), -1);
  EXPECT_THROW((void)cookies[3], std::out_of_range);
}

TEST(CookieTextTest, AttributesAreParsed) {
  TCookieRFC2109 cookie;
  cookie.SetCookieText(
      "id=42; Path=\"/app\"; domain=example.org; secure; Version=1; comment=hi; max-age=60");
  EXPECT_EQ(cookie.CookieName, "id");
  EXPECT_EQ(cookie.CookieValue, "42");
  EXPECT_EQ(cookie.CookiePath, "/app");
  EXPECT_EQ(cookie.CookieDomain, "example.org");
  EXPECT_TRUE(cookie.SecureOnly);
  EXPECT_EQ(cookie.CookieVersion, "1");
  EXPECT_EQ(cookie.CookieComment, "hi");
  // A max-age without expires becomes an expires text about a minute ahead.
  EXPECT_FALSE(cookie.ExpiresText().empty());
  EXPECT_NEAR(static_cast<double>(cookie.MaxAge), 60, 2);
  TDateTime expires = 0;
  ASSERT_TRUE(TryParseHttpDate(cookie.ExpiresText(), expires));
  EXPECT_NEAR(expires, Now() + 60.0 / SecsPerDay, 3.0 / SecsPerDay);
}

TEST(CookieTextTest, ExpiresTextSetsMaxAgeAndUnreadableLeavesIt) {
  TCookieRFC2109 cookie;
  cookie.MaxAge = 7;
  cookie.SetExpiresText("not a date");
  EXPECT_EQ(cookie.MaxAge, 7);
  cookie.SetExpiresText(HttpDateLocal(Now() + 120.0 / SecsPerDay));
  EXPECT_NEAR(static_cast<double>(cookie.MaxAge), 120, 2);
}

TEST(ServerCookieTest, SecureCookieWithoutMaxAge) {
  TServerCookies cookies;
  TCookieRFC2109& cookie = cookies.Add();
  ASSERT_NE(dynamic_cast<TServerCookie*>(&cookie), nullptr);
  cookie.CookieName = "n";
  cookie.CookieValue = "v";
  cookie.CookiePath = "/";
  cookie.SecureOnly = true;
  EXPECT_EQ(cookie.ServerCookie(), "n=v; path=/; secure");
}

TEST(ServerCookieTest, MaxAgeIsWrittenAsGmtExpiresNeverMaxAge) {
  TServerCookie cookie;
  cookie.CookieName = "n";
  cookie.CookieValue = "v";
  cookie.MaxAge = 3600;
  cookie.CookieComment = "c";
  const TDateTime expected = NowUTC() + 3600 / SecsPerDay;
  const std::string text = cookie.ServerCookie();
  EXPECT_EQ(text.find("max-age"), std::string::npos) << text;
  std::string rest = text;
  EXPECT_EQ(SplitOff(rest, "; "), "n=v");
  std::string expires = SplitOff(rest, "; ");
  EXPECT_EQ(rest, "comment=c");
  ASSERT_EQ(SplitOff(expires, "="), "expires");
  // "Tue, 8-Dec-2026 01:11:45 GMT": no leading zero on the day, dashes, GMT.
  ASSERT_GE(expires.size(), 4u);
  EXPECT_EQ(expires.substr(expires.size() - 4), " GMT");
  const DateParts parts = DecodeDateTime(expected);
  EXPECT_EQ(expires.substr(5, expires.find(' ', 5) - 5), std::to_string(parts.day) + "-" +
                                                             ShortMonthName(parts.month) + "-" +
                                                             std::to_string(parts.year))
      << expires;
  TDateTime written = 0;
  ASSERT_TRUE(TryParseHttpDate(expires, written));
  EXPECT_NEAR(written - LocalOffsetFromUTC(), expected, 2.0 / SecsPerDay);
}

TEST(ServerCookieTest, SessionCookieForm) {
  TServerCookie cookie;
  cookie.CookieName = "HTTPSESSIONID";
  cookie.CookieValue = "abc";
  cookie.CookiePath = "/";
  EXPECT_EQ(cookie.ServerCookie(), "HTTPSESSIONID=abc; path=/");
}

TEST(ServerCookieTest, EmptyValueKeepsTheName) {
  TServerCookie cookie;
  cookie.CookieName = "n";
  cookie.CookiePath = "/";
  EXPECT_EQ(cookie.ServerCookie(), "n=; path=/");
  TServerCookie nameless;
  nameless.CookiePath = "/";
  EXPECT_EQ(nameless.ServerCookie(), "path=/");
}

TEST(ServerCookieTest, RFC2109CookieWritesMaxAgeWhenNoExpires) {
  TCookieRFC2109 cookie;
  cookie.CookieName = "a";
  cookie.CookieValue = "b";
  cookie.MaxAge = 10;
  cookie.CookieVersion = "1";
  EXPECT_EQ(cookie.ServerCookie(), "a=b; max-age=10; version=1");
  EXPECT_EQ(cookie.ClientCookie(), "a=b");
}

TEST(ServerCookieTest, SetCookieTextFromAHeaderLineAndAssign) {
  TServerCookies cookies;
  TCookieRFC2109& cookie = cookies.Add();
  cookie.SetCookieText("theme=dark; path=/; domain=example.org");
  EXPECT_EQ(cookie.CookieText(), "theme=dark; path=/; domain=example.org");
  TServerCookie copy;
  copy.Assign(cookie);
  EXPECT_EQ(copy.CookieName, "theme");
  EXPECT_EQ(copy.CookieDomain, "example.org");
}

TEST(CookieDomainTest, AddressesExactNamesByDomainPart) {
  TNetscapeCookie cookie;
  cookie.CookieDomain = "example.org";
  EXPECT_TRUE(cookie.MatchesDomain("www.example.org"));
  EXPECT_TRUE(cookie.MatchesDomain("WWW.Example.ORG"));
  EXPECT_TRUE(cookie.MatchesDomain("example.org"));
  EXPECT_FALSE(cookie.MatchesDomain("a.b.example.org"));
  EXPECT_FALSE(cookie.MatchesDomain("example.com"));
  cookie.CookieDomain = "10.0.0.1";
  EXPECT_TRUE(cookie.MatchesDomain("10.0.0.1"));
  EXPECT_FALSE(cookie.MatchesDomain("0.0.1"));
}

TEST(CookieDomainTest, DestroyedItemLeavesDomainIndex) {
  TCookies cookies;
  TCookieRFC2109& cookie = cookies.AddCookie("a=1; domain=d.org");
  cookies.AddCookie("b=2; domain=d.org");
  cookies.LockCookieListByDomain(TCookieAccess::Write);
  cookies.CookieListByDomain().Add("d.org", cookie.CookieName);
  cookies.CookieListByDomain().Add("D.ORG", "b");
  cookies.UnlockCookieListByDomain(TCookieAccess::Write);
  cookies.Delete(0);
  cookies.LockCookieListByDomain(TCookieAccess::Read);
  EXPECT_EQ(cookies.CookieListByDomain().NamesOf("d.org"), (std::vector<std::string>{"b"}));
  cookies.UnlockCookieListByDomain(TCookieAccess::Read);
}

}  // namespace
}  // namespace quenby
