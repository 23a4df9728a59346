#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "console/server_console.h"
#include "support/console_on_loopback.h"
#include "support/net_loopback.h"
#include "support/temp_dir.h"

namespace quenby {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr const char* NotFoundPage =
    "<html><head><title>Error</title></head><body><h1>Not Found"
    "</h1></body></html>";
// headers.dll's body after a header request that succeeded.
constexpr const char* HeadersBody = "headers: result=1\n";

// One reply read off a kept connection by its own framing.
struct TReply {
  std::string Head;  // status line and header lines, up to the blank line
  std::string Body;
  bool Framed = false;  // it announced a length
};

std::string HeaderValue(const std::string& head, const std::string& name) {
  const std::size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos)
    return "";
  const std::size_t from = at + name.size() + 4;
  return head.substr(from, head.find("\r\n", from) - from);
}

// Reads exactly one reply: the head, then as many body bytes as it announces (none for
// `head_request`, as HEAD replies carry none).
TReply ReadReply(test::TLoopbackClient& client, bool head_request = false) {
  TReply reply;
  while (reply.Head.size() < 4 || reply.Head.compare(reply.Head.size() - 4, 4, "\r\n\r\n") != 0) {
    const std::string line = client.ReceiveLine();
    if (line.empty())
      return reply;
    reply.Head += line;
  }
  const std::string length = HeaderValue(reply.Head, "Content-Length");
  reply.Framed = !length.empty();
  if (reply.Framed && !head_request)
    reply.Body = client.Receive(std::stoul(length));
  return reply;
}

class KeepAliveTest : public ::testing::Test, protected test::TConsoleOnLoopback {
 protected:
  KeepAliveTest() {
    Console.Settings.EnableLog = false;
    Console.Settings.AliasLines = {std::string("/bin=") + QUENBY_TEST_MODULE_DIR};
    Dir.Write("a.txt", "file a");
  }

  void Start(bool keep_alive = true) {
    Console.Features.KeepAlive = keep_alive;
    Console.btnStartClick();
    ASSERT_TRUE(Console.HTTPServer.Active());
  }
  std::unique_ptr<test::TLoopbackClient> Connect() {
    return std::make_unique<test::TLoopbackClient>(Console.ListeningPort());
  }
};

TEST_F(KeepAliveTest, RequestsShareOneConnectionWhileEveryReplyIsFramed) {
  Start();
  for (const std::string request : {"GET /a.txt HTTP/1.1\r\nHost: x\r\n\r\n",
                                    "GET /a.txt HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"}) {
    auto client = Connect();
    for (int round = 0; round < 3; ++round) {
      client->Send(request);
      const TReply reply = ReadReply(*client);
      EXPECT_THAT(reply.Head, StartsWith("HTTP/1.1 200 OK\r\n")) << request;
      EXPECT_EQ(HeaderValue(reply.Head, "Connection"), "keep-alive");
      EXPECT_EQ(HeaderValue(reply.Head, "Content-Type"), "text/plain");
      EXPECT_EQ(reply.Body, "file a");
    }
    EXPECT_FALSE(client->WaitForClose(std::chrono::milliseconds(200))) << request;
  }
}

TEST_F(KeepAliveTest, PipelinedRequestsAreAnsweredInOrderAndHeadRepliesHaveNoBody) {
  Start();
  auto client = Connect();
  // A 404 ends the connection; as a HEAD reply it does not send its page.
  client->Send(
      "GET /a.txt HTTP/1.1\r\n\r\nHEAD /a.txt HTTP/1.1\r\n\r\nGET /a.txt HTTP/1.1\r\n\r\n"
      "HEAD /missing HTTP/1.1\r\n\r\nGET /a.txt HTTP/1.1\r\n\r\n");
  std::string rest = client->ReceiveUntilClose();
  std::string head;
  const auto next = [&rest, &head](bool head_request) {
    const std::size_t end = rest.find("\r\n\r\n");
    if (end == std::string::npos)
      return std::make_pair(std::size_t{0}, std::string("no reply"));
    head = rest.substr(0, end + 4);
    rest.erase(0, end + 4);
    const std::size_t length = std::stoul(HeaderValue(head, "Content-Length"));
    std::string body = head_request ? "" : rest.substr(0, length);
    rest.erase(0, body.size());
    return std::make_pair(length, body);
  };
  EXPECT_EQ(next(false), std::make_pair(std::size_t{6}, std::string("file a")));
  EXPECT_EQ(next(true), std::make_pair(std::size_t{6}, std::string()));
  EXPECT_EQ(next(false), std::make_pair(std::size_t{6}, std::string("file a")));
  EXPECT_EQ(next(true).first, std::string(NotFoundPage).size());
  EXPECT_THAT(head, StartsWith("HTTP/1.1 404 Not Found\r\n"));
  EXPECT_EQ(HeaderValue(head, "Connection"), "close");
  EXPECT_EQ(rest, "") << "no page after the HEAD reply, and no reply after the close";

  auto missing = Connect();
  missing->Send("GET /missing HTTP/1.1\r\n\r\n");
  EXPECT_EQ(ReadReply(*missing).Body, NotFoundPage);
}

TEST_F(KeepAliveTest, RequestsThatDoNotAskToStayAreClosedAfterTheirReply) {
  Start();
  for (const std::string request :
       {"GET /a.txt HTTP/1.0\r\n\r\n", "GET /a.txt HTTP/1.1\r\nConnection: close\r\n\r\n"}) {
    auto client = Connect();
    client->Send(request);
    const std::string reply = client->ReceiveUntilClose();
    EXPECT_THAT(reply, HasSubstr("\r\nConnection: close\r\n")) << request;
    EXPECT_THAT(reply, HasSubstr("\r\n\r\nfile a")) << request;
  }
}

TEST_F(KeepAliveTest, AModuleKeepsTheConnectionOnlyWithALengthOfItsOwn) {
  Start();
  const std::string with_length =
      "/bin/headers.dll?header=Content-Length%3A%2018%0D%0AContent-type%3A%20text/plain%0D%0A";
  auto client = Connect();
  client->Send("GET " + with_length + " HTTP/1.1\r\n\r\n");
  TReply reply = ReadReply(*client);
  EXPECT_EQ(HeaderValue(reply.Head, "Connection"), "keep-alive") << reply.Head;
  EXPECT_EQ(reply.Body, HeadersBody);
  client->Send("HEAD " + with_length + " HTTP/1.1\r\n\r\nGET /a.txt HTTP/1.1\r\n\r\n");
  reply = ReadReply(*client, true);
  EXPECT_EQ(HeaderValue(reply.Head, "Content-Length"), "18");
  EXPECT_EQ(ReadReply(*client).Body, "file a") << "the HEAD reply left its body out";

  // A length that is not the body's own, or no length at all: the close ends the reply.
  for (const std::string& target :
       {std::string("/bin/headers.dll?header=Content-Length%3A%205"),
        std::string("/bin/headers.dll?case=contenttype"), std::string("/bin/probe.dll?keepconn"),
        std::string("/bin/rawreply.dll")}) {
    auto other = Connect();
    other->Send("GET " + target + " HTTP/1.1\r\n\r\n");
    const std::string whole = other->ReceiveUntilClose();
    EXPECT_FALSE(whole.empty()) << target;
    EXPECT_TRUE(other->WaitForClose(std::chrono::seconds(2))) << target;
  }
  auto no_length = Connect();
  no_length->Send("GET /bin/headers.dll?case=contenttype HTTP/1.1\r\n\r\n");
  const std::string whole = no_length->ReceiveUntilClose();
  EXPECT_THAT(whole, HasSubstr("\r\nConnection: close\r\n"));
  EXPECT_THAT(whole, Not(HasSubstr("Content-Length")));
  EXPECT_THAT(whole, HasSubstr(HeadersBody));
}

TEST_F(KeepAliveTest, RequestsWithoutAClearBodyLengthAreRefusedAndClosed) {
  Start();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Content-Length: 3\r\nContent-Length: 4\r\n", "HTTP/1.1 400 Bad Request\r\n"},
      {"Content-Length: 3, 4\r\n", "HTTP/1.1 400 Bad Request\r\n"},
      {"Content-Length: 3x\r\n", "HTTP/1.1 400 Bad Request\r\n"},
      {"Content-Length: -3\r\n", "HTTP/1.1 400 Bad Request\r\n"},
      {"Transfer-Encoding: chunked\r\n", "HTTP/1.1 411 Length Required\r\n"},
  };
  for (const auto& [header, status] : cases) {
    auto client = Connect();
    client->Send("POST /a.txt HTTP/1.1\r\n" + header + "\r\nabc\r\nGET /a.txt HTTP/1.1\r\n\r\n");
    const std::string reply = client->ReceiveUntilClose();
    EXPECT_THAT(reply, StartsWith(status)) << header;
    EXPECT_THAT(reply, HasSubstr("\r\nConnection: close\r\n")) << header;
    EXPECT_THAT(reply, Not(HasSubstr("file a"))) << "nothing after the refusal: " << header;
  }
  // The same value twice is one length.
  auto client = Connect();
  client->Send("POST /a.txt HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 3\r\n\r\nabc");
  EXPECT_EQ(ReadReply(*client).Body, "file a");
}

TEST_F(KeepAliveTest, AnIdleConnectionIsClosedAfterItsTime) {
  Console.HTTPServer.KeepAliveIdleTime = 300;
  Start();
  auto client = Connect();
  client->Send("GET /a.txt HTTP/1.1\r\n\r\n");
  EXPECT_EQ(ReadReply(*client).Body, "file a");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(client->WaitForClose(std::chrono::seconds(5)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_EQ(Console.HTTPServer.KeepAliveIdleTime, 300) << "the start keeps a time set before";
}

TEST_F(KeepAliveTest, StopDoesNotWaitForIdleConnections) {
  Start();
  std::vector<std::unique_ptr<test::TLoopbackClient>> clients;
  for (int i = 0; i < 4; ++i) {
    clients.push_back(Connect());
    clients.back()->Send("GET /a.txt HTTP/1.1\r\n\r\n");
    EXPECT_EQ(ReadReply(*clients.back()).Body, "file a");
  }
  const auto start = std::chrono::steady_clock::now();
  Console.btnStopClick();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  for (auto& client : clients)
    EXPECT_TRUE(client->WaitForClose(std::chrono::seconds(2)));
}

TEST_F(KeepAliveTest, WithoutTheOptionEveryConnectionEndsAfterOneReply) {
  Start(false);
  auto client = Connect();
  client->Send("GET /a.txt HTTP/1.1\r\n\r\nGET /a.txt HTTP/1.1\r\n\r\n");
  const std::string all = client->ReceiveUntilClose();
  EXPECT_THAT(all, HasSubstr("\r\nConnection: close\r\n"));
  EXPECT_EQ(all.find("HTTP/1.1", 1), std::string::npos) << all;
  // A HEAD for a missing file still gets the page after its header, as always.
  auto head = Connect();
  head->Send("HEAD /missing HTTP/1.1\r\n\r\n");
  EXPECT_THAT(head->ReceiveUntilClose(), HasSubstr(NotFoundPage));
}

}  // namespace
}  // namespace quenby
