#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "http/header_list.h"
#include "http/http_server.h"
#include "http/request_framing.h"
#include "support/http_test_server.h"
#include "support/net_loopback.h"

namespace quenby {
namespace {

using test::THTTPTestServer;
using test::TLoopbackClient;

TEST(RequestFramingTest, ConnectionsStayByVersionAndConnectionTokens) {
  EXPECT_TRUE(KeepsConnection("HTTP/1.1", ""));
  EXPECT_TRUE(KeepsConnection("HTTP/1.1", "Upgrade"));
  EXPECT_FALSE(KeepsConnection("HTTP/1.1", "Upgrade, CLOSE"));
  EXPECT_FALSE(KeepsConnection("HTTP/1.0", ""));
  EXPECT_TRUE(KeepsConnection("HTTP/1.0", "Keep-Alive"));
  EXPECT_TRUE(KeepsConnection("HTTP/1.0", "te, keep-alive"));
  EXPECT_FALSE(KeepsConnection("HTTP/0.9", "keep-alive"));
  EXPECT_FALSE(KeepsConnection("", "keep-alive"));
}

TEST(RequestFramingTest, BodyLengthsMustBeOneNumber) {
  const auto fault = [](const std::string& lines) {
    THeaderList headers;
    headers.SetText(lines);
    return RequestFramingFault(headers);
  };
  EXPECT_EQ(fault(""), 0);
  EXPECT_EQ(fault("Content-Length: 12"), 0);
  EXPECT_EQ(fault("Content-Length: 12\r\ncontent-length:12"), 0);
  EXPECT_EQ(fault("Content-Length: 12, 12"), 0);
  EXPECT_EQ(fault("Content-Length: 12\r\nContent-Length: 13"), 400);
  EXPECT_EQ(fault("Content-Length: 12,13"), 400);
  for (const char* bad : {"", "+1", "-1", "1e3", "0x10", "99999999999", "1 2"})
    EXPECT_EQ(fault(std::string("Content-Length: ") + bad), 400) << bad;
  EXPECT_EQ(fault("Transfer-Encoding: chunked"), 411);
  EXPECT_EQ(fault("Transfer-Encoding: chunked\r\nContent-Length: 3"), 411);
}

class FramedKeepAliveTest : public ::testing::Test {
 protected:
  FramedKeepAliveTest() {
    server_.Server().KeepAlive = true;
    server_.Server().FramedKeepAlive = true;
    server_.Server().OnCommandGet = [](TPeerThread&, THTTPRequestInfo& request,
                                       THTTPResponseInfo& response) {
      if (request.Path == "/private")
        response.BasicRealm = "Private";
      else if (request.Path == "/text")
        response.BodyText = "text";
      else if (request.Path == "/unchanged")
        response.SetStatusCode(304);
      // anything else: an empty reply
    };
    server_.Start();
  }
  THTTPTestServer server_;
};

TEST_F(FramedKeepAliveTest, ChallengesAndEmptyRepliesAnnounceTheirLength) {
  TLoopbackClient client(server_.Port());
  client.Send(
      "GET /private HTTP/1.1\r\n\r\nGET /empty HTTP/1.1\r\n\r\nHEAD /text HTTP/1.1\r\n\r\n"
      "GET /text HTTP/1.1\r\n\r\n");
  const std::string page = "<HTML><BODY><B>401 Unauthorized</B></BODY></HTML>";
  const std::string ok = "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Type: text/html\r\n";
  const std::string server = "Server: QuenbyHTTP/1.0\r\n";
  const std::string expected =
      "HTTP/1.1 401 Unauthorized\r\nConnection: keep-alive\r\nContent-Type: text/html\r\n" +
      server + "WWW-Authenticate: Basic realm=\"Private\"\r\nContent-Length: " +
      std::to_string(page.size()) + "\r\n\r\n" + page +  //
      ok + "Content-Length: 0\r\n" + server + "\r\n" +   //
      ok + "Content-Length: 4\r\n" + server + "\r\n" +   // HEAD: no body
      ok + "Content-Length: 4\r\n" + server + "\r\ntext";
  EXPECT_EQ(client.Receive(expected.size(), std::chrono::seconds(5)), expected);
  EXPECT_EQ(client.Receive(1, std::chrono::milliseconds(100)), "") << "nothing after the last";
  EXPECT_FALSE(client.WaitForClose(std::chrono::milliseconds(100)));
}

TEST_F(FramedKeepAliveTest, RepliesThatNeverHaveABodyAnnounceNoLength) {
  // A length on a 304 would describe the stored copy the client already has, not this reply.
  TLoopbackClient client(server_.Port());
  client.Send("GET /unchanged HTTP/1.1\r\n\r\nGET /text HTTP/1.1\r\n\r\n");
  const std::string expected =
      "HTTP/1.1 304 Not Modified\r\nConnection: keep-alive\r\nContent-Type: text/html\r\n"
      "Server: QuenbyHTTP/1.0\r\n\r\n"
      "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Type: text/html\r\n"
      "Content-Length: 4\r\nServer: QuenbyHTTP/1.0\r\n\r\ntext";
  EXPECT_EQ(client.Receive(expected.size(), std::chrono::seconds(5)), expected);
}

TEST_F(FramedKeepAliveTest, MethodsTheEngineDoesNotAnswerEndTheConnection) {
  TLoopbackClient client(server_.Port());
  client.Send("OPTIONS / HTTP/1.1\r\nHost: x\r\n\r\nGET /text HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.ReceiveUntilClose(std::chrono::seconds(5)), "");
}

}  // namespace
}  // namespace quenby
