#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "http/http_server.h"
#include "http/request_reader.h"
#include "support/http_test_server.h"
#include "support/net_loopback.h"

namespace quenby {
namespace {

using test::THTTPTestServer;

// Every request the handler and OnCommandOther saw, in arrival order.
class AllMethodsServerTest : public ::testing::Test {
 protected:
  AllMethodsServerTest() {
    server_.Server().AllMethodsToCommandGet = true;
    server_.Server().OnCommandGet = [this](TPeerThread&, THTTPRequestInfo& request,
                                           THTTPResponseInfo& response) {
      Add(request.Method + " " + request.Path + " [" + request.PostedText + "]");
      response.BodyText = "ok";
    };
    server_.Server().OnCommandOther = [this](TPeerThread&, const std::string& command,
                                             const std::string&,
                                             const std::string&) { Add("other " + command); };
  }
  void Add(std::string item) {
    std::lock_guard<std::mutex> guard(lock_);
    seen_.push_back(std::move(item));
  }
  std::vector<std::string> Seen() {
    std::lock_guard<std::mutex> guard(lock_);
    return seen_;
  }

  std::mutex lock_;
  std::vector<std::string> seen_;
  THTTPTestServer server_;
};

TEST_F(AllMethodsServerTest, EveryTokenMethodReachesTheHandlerWithItsBodyByLength) {
  server_.Start();
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  EXPECT_TRUE(
      server_.Exchange("PUT /p HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello").starts_with(ok));
  EXPECT_TRUE(
      server_.Exchange("patch /q HTTP/1.1\r\nContent-Length: 3\r\n\r\na=b").starts_with(ok));
  EXPECT_TRUE(
      server_.Exchange("DELETE /r HTTP/1.1\r\nContent-Length: 2\r\n\r\nid").starts_with(ok));
  // Without a length only a POST reads to the close: these are answered at once.
  for (const std::string request : {"DELETE /s HTTP/1.1\r\n\r\n", "OPTIONS * HTTP/1.1\r\n\r\n",
                                    "PUT /t HTTP/1.1\r\n\r\n", "M-SEARCH* /u HTTP/1.1\r\n\r\n"}) {
    test::TLoopbackClient client(server_.Port());
    client.Send(request);
    EXPECT_EQ(client.ReceiveLine(), "HTTP/1.1 200 OK\r\n") << request;
  }
  EXPECT_EQ(Seen(), (std::vector<std::string>{"PUT /p [hello]", "PATCH /q [a=b]", "DELETE /r [id]",
                                              "DELETE /s []", "OPTIONS * []", "PUT /t []",
                                              "M-SEARCH* /u []"}));
}

TEST_F(AllMethodsServerTest, MethodsThatAreNoTokenStillGoToOnCommandOther) {
  server_.Start();
  for (const std::string& method :
       {std::string("G\x01T"), std::string("G\x7FT"), std::string("A,B"), std::string("GE\tT"),
        std::string("{GET}"), std::string("G\xC3\x89T"), std::string()})
    EXPECT_EQ(server_.Exchange(method + " /x HTTP/1.0\r\n\r\n"), "") << method;
  EXPECT_EQ(Seen().size(), 7U);
  for (const std::string& item : Seen())
    EXPECT_TRUE(item.starts_with("other ")) << item;
}

TEST(MethodToken, TakesTheTokenCharactersOnly) {
  EXPECT_TRUE(IsMethodToken("GET"));
  EXPECT_TRUE(IsMethodToken("x-Any_1.0!#$%&'*+^`|~"));
  for (const char* bad : {"", "G T", "G:T", "G/T", "G?T", "G=T", "G@T", "G(T)", "G[T]", "G\\T"})
    EXPECT_FALSE(IsMethodToken(bad)) << bad;
  EXPECT_FALSE(IsMethodToken(std::string("G\0T", 3)));
}

}  // namespace
}  // namespace quenby
