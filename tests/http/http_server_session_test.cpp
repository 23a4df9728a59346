#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "http/http_exceptions.h"
#include "http/http_server.h"
#include "support/http_test_server.h"

namespace quenby {
namespace {

using test::SplitReply;
using test::THTTPTestServer;

constexpr std::int32_t TwentyMinutes = 1200000;
constexpr std::string_view CookiePrefix = "Set-Cookie: HTTPSESSIONID=";
constexpr std::string_view CookieSuffix = "; path=/";

// The session key of the reply's session cookie; empty when there is none.
std::string SessionKeyOf(const std::string& raw) {
  for (const std::string& line : SplitReply(raw).Headers) {
    if (line.starts_with(CookiePrefix) && line.ends_with(CookieSuffix))
      return line.substr(CookiePrefix.size(),
                         line.size() - CookiePrefix.size() - CookieSuffix.size());
  }
  return "";
}

std::string RequestWithCookies(const std::string& cookies) {
  return "GET / HTTP/1.1\r\nCookie: " + cookies + "\r\n\r\n";
}

class HTTPServerSessionTest : public ::testing::Test {
 protected:
  HTTPServerSessionTest() {
    THTTPServer& server = server_.Server();
    server.SetSessionState(true);
    server.AutoStartSession = true;
    server.SessionTimeOut = TwentyMinutes;
    server.OnCommandGet = [this](TPeerThread&, THTTPRequestInfo& request,
                                 THTTPResponseInfo& response) {
      std::lock_guard<std::mutex> guard(lock_);
      ++handled_;
      response.BodyText = request.CurrentSession ? request.CurrentSession->SessionKey : "none";
    };
    server.OnInvalidSession = [this](TPeerThread&, THTTPRequestInfo&, THTTPResponseInfo&,
                                     bool& continue_processing, const std::string& key) {
      std::lock_guard<std::mutex> guard(lock_);
      invalid_.push_back(key);
      continue_processing = key != "stop";
    };
    server.OnSessionEnd = [this](THTTPSession& session) {
      std::lock_guard<std::mutex> guard(lock_);
      ended_.push_back(session.SessionKey);
    };
  }
  std::mutex lock_;
  int handled_ = 0;
  std::vector<std::string> invalid_;
  std::vector<std::string> ended_;
  THTTPTestServer server_;  // last: stopped before the records above go
};

TEST_F(HTTPServerSessionTest, FirstRequestGetsACookieAndTheNextReusesIt) {
  server_.Start();
  const std::string first = server_.Exchange("GET / HTTP/1.1\r\n\r\n");
  const std::string key = SessionKeyOf(first);
  ASSERT_EQ(key.size(), 15u) << first;
  EXPECT_TRUE(std::all_of(key.begin(), key.end(), [](char c) {
    return SessionIDAlphabet.find(c) != std::string_view::npos;
  }));
  EXPECT_EQ(SplitReply(first).Body, key);
  // An unknown key first, then the live one: one invalid report, then the live session.
  const std::string second =
      server_.Exchange(RequestWithCookies("HTTPSESSIONID=nosuchkey; "
                                          "httpsessionid=" +
                                          key));
  EXPECT_EQ(SplitReply(second).Body, key);
  EXPECT_EQ(SessionKeyOf(second), "");
  EXPECT_EQ(server_.Server().SessionList().Count(), 1);
  server_.Server().SetActive(false);
  std::lock_guard<std::mutex> guard(lock_);
  EXPECT_EQ(invalid_, (std::vector<std::string>{"nosuchkey"}));
  EXPECT_EQ(ended_, (std::vector<std::string>{key}));
}

TEST_F(HTTPServerSessionTest, InvalidSessionHandlerCanStopTheRequest) {
  server_.Start();
  const auto reply = SplitReply(server_.Exchange(RequestWithCookies("HTTPSESSIONID=stop")));
  EXPECT_EQ(reply.StatusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(reply.Body, "");
  std::lock_guard<std::mutex> guard(lock_);
  EXPECT_EQ(handled_, 0);
}

TEST_F(HTTPServerSessionTest, SessionStateIsFixedWhileActiveAndOffWithoutTimeout) {
  server_.Server().SessionTimeOut = 0;
  server_.Start();
  EXPECT_THROW(server_.Server().SetSessionState(true), EHTTPCannotSwitchSessionStateWhenActive);
  EXPECT_FALSE(server_.Server().SessionState());
  const std::string raw = server_.Exchange(RequestWithCookies("HTTPSESSIONID=abc"));
  EXPECT_EQ(SessionKeyOf(raw), "");
  EXPECT_EQ(SplitReply(raw).Body, "none");
}

TEST_F(HTTPServerSessionTest, HandlerSuppliedSessionsAreListedAndCookied) {
  server_.Server().OnCreateSession = [](TPeerThread&, std::unique_ptr<THTTPSession>& session) {
    session = std::make_unique<THTTPSession>(nullptr, "handlermadekey1", "127.0.0.1");
  };
  server_.Start();
  EXPECT_EQ(SessionKeyOf(server_.Exchange("GET / HTTP/1.1\r\n\r\n")), "handlermadekey1");
  EXPECT_EQ(SplitReply(server_.Exchange(RequestWithCookies("HTTPSESSIONID=handlermadekey1"))).Body,
            "handlermadekey1");
}

}  // namespace
}  // namespace quenby
