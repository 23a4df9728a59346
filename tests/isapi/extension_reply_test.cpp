// What a client receives from modules that answer through header requests, redirects,
// WriteClient alone, file sends and pending completion: always a well-formed reply.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <utility>

#include "support/isapi_server.h"
#include "support/net_loopback.h"
#include "support/temp_dir.h"

namespace quenby::test {
namespace {

class ExtensionReplyTest : public ::testing::Test {
 protected:
  ExtensionReplyTest() : server_(QUENBY_TEST_MODULE_DIR) {
    server_.Runner().AfterExecute = [this](TISAPIRunner&) { ++after_; };
    server_.Start();
  }

  TISAPITestServer server_;
  std::atomic<int> after_{0};
};

TEST_F(ExtensionReplyTest, HeaderExThenWriteClientGivesStatusLineHeadersThenBody) {
  const std::string reply = server_.Get("/hello.dll");
  EXPECT_EQ(StatusLineOf(reply), "HTTP/1.1 200 OK");
  EXPECT_EQ(HeaderOf(reply, "Content-Type"), "text/html");
  EXPECT_EQ(HeaderOf(reply, "Connection"), "close");
  EXPECT_EQ(HeaderOf(reply, "Content-Length"), "");  // the close ends the body
  EXPECT_NE(BodyOf(reply).find("<h1>Hello from an extension module</h1>"), std::string::npos);
  EXPECT_EQ(reply.find("HTTP/1.1", 1), std::string::npos);  // one status line only
}

TEST_F(ExtensionReplyTest, ModuleWritingItsWholeReplyGetsExactlyItsBytes) {
  EXPECT_EQ(server_.Get("/rawreply.dll"),
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 17\r\n"
            "Connection: close\r\n\r\nraw reply module\n");
}

TEST_F(ExtensionReplyTest, RedirectGivesA302WithLocation) {
  const std::string reply = server_.Get("/redirect.dll?/index.html");
  EXPECT_EQ(StatusLineOf(reply), "HTTP/1.1 302 Moved Temporarily");
  EXPECT_EQ(HeaderOf(reply, "Location"), "/index.html");
  EXPECT_EQ(BodyOf(reply), "");
}

TEST_F(ExtensionReplyTest, HeaderRequestsCarryCookiesAndContentType) {
  const std::string cookies = server_.Get("/headers.dll?case=cookies&ex&statustext=201%20Made");
  EXPECT_EQ(StatusLineOf(cookies), "HTTP/1.1 201 Made");
  EXPECT_NE(cookies.find("\r\nSet-Cookie: a=1"), std::string::npos);
  EXPECT_NE(cookies.find("\r\nSet-Cookie: b=2"), std::string::npos);
  EXPECT_EQ(BodyOf(cookies), "headers: result=1\n");

  const std::string lower = server_.Get("/headers.dll?case=lowercookie");
  EXPECT_EQ(lower.find("Set-Cookie"), std::string::npos);

  const std::string typed = server_.Get("/headers.dll?case=contenttype");
  EXPECT_EQ(StatusLineOf(typed), "HTTP/1.1 200 OK");
  EXPECT_EQ(HeaderOf(typed, "Content-Type"), "text/plain");
}

TEST_F(ExtensionReplyTest, LocationWinsOverTheDeclaredStatusAndAnEmptyOneKeepsIt) {
  const std::string moved = server_.Get("/headers.dll?case=location&status=200");
  EXPECT_EQ(StatusLineOf(moved), "HTTP/1.1 302 Moved Temporarily");
  EXPECT_EQ(HeaderOf(moved, "Location"), "/x");

  const std::string kept = server_.Get("/headers.dll?case=emptylocation&status=404");
  EXPECT_EQ(StatusLineOf(kept), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(HeaderOf(kept, "Location"), "");
  EXPECT_EQ(BodyOf(kept), "headers: result=1\n");
}

TEST_F(ExtensionReplyTest, OnlyTheFirstHeaderRequestReachesTheClient) {
  const std::string twice = server_.Get("/headers.dll?case=contenttype&ex&twice");
  EXPECT_EQ(StatusLineOf(twice), "HTTP/1.1 200 OK");
  EXPECT_EQ(twice.find("HTTP/1.1", 1), std::string::npos);
  EXPECT_EQ(BodyOf(twice), "headers: result=1,1\n");
}

TEST_F(ExtensionReplyTest, UnreadableDateFailsTheHeaderRequestButTheReplyStaysWellFormed) {
  const std::string reply =
      server_.Get("/headers.dll?header=Date:%20someday%0D%0APragma:%20p%0D%0A%0D%0A");
  EXPECT_EQ(StatusLineOf(reply), "HTTP/1.1 200 OK");
  EXPECT_EQ(BodyOf(reply), "headers: result=0\n");
}

TEST_F(ExtensionReplyTest, ClientLeavingDuringAFileSendDoesNotKillTheServer) {
  TempDir dir;
  const std::string file = dir.Write("big.bin", "");
  ASSERT_EQ(truncate(file.c_str(), 64 << 20), 0);  // far more than the socket buffers hold
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(client, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(server_.Port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string request = "GET /transmit.dll?noheader&file=" + file + " HTTP/1.0\r\n\r\n";
  ASSERT_EQ(send(client, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  char first[16];
  ASSERT_GT(recv(client, first, sizeof first, 0), 0);  // the send has begun
  const linger reset{1, 0};
  setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(client);

  EXPECT_TRUE(test::WaitUntil([this] { return after_ != 0; }, std::chrono::seconds(10)));
  EXPECT_EQ(after_, 1);
  EXPECT_EQ(StatusLineOf(server_.Get("/hello.dll")), "HTTP/1.1 200 OK");
}

TEST_F(ExtensionReplyTest, TransmittedFileArrivesAfterTheHeaderAndBeforeTheWrittenBody) {
  TempDir dir;
  const std::string file = dir.Write("data.bin", std::string("0123456789\0abc", 14));
  const std::string reply = server_.Get("/transmit.dll?file=" + file + "&lead&offset=2&bytes=5");
  EXPECT_EQ(StatusLineOf(reply), "HTTP/1.1 200 OK");
  EXPECT_EQ(HeaderOf(reply, "Content-Type"), "application/octet-stream");
  EXPECT_EQ(BodyOf(reply), "23456transmit: lead\n\n-- trailer --\n");

  const std::string rest = server_.Get("/transmit.dll?file=" + file + "&noheader&offset=8");
  EXPECT_EQ(rest, std::string("89\0abc\n-- trailer --\n", 21));

  // A descriptor that cannot be sent from is a failure, not a success.
  EXPECT_EQ(server_.Get("/transmit.dll?noheader&file=" + dir.Path()), "\n-- transmit failed --\n");
}

TEST_F(ExtensionReplyTest, PendingModuleFinishesFromItsOwnThread) {
  EXPECT_EQ(server_.Get("/pending.dll"), "pending: finished by the worker\n");
  const std::string headed = server_.Get("/pending.dll?header");
  EXPECT_EQ(StatusLineOf(headed), "HTTP/1.1 200 OK");
  EXPECT_EQ(HeaderOf(headed, "Content-Type"), "text/plain");
  EXPECT_EQ(BodyOf(headed), "pending: finished by the worker\n");
  // Done before PENDING was returned: the wait ends at once.
  EXPECT_EQ(server_.Get("/pending.dll?early"), "pending: finished before PENDING\n");
  EXPECT_EQ(after_, 3);
}

TEST_F(ExtensionReplyTest, ManySmallWritesArriveWholeAndInOrder) {
  constexpr std::size_t Total = 4 << 20;  // 41,944 writes of 100 bytes and one of 4
  const std::string reply = server_.Get("/hostile.dll?flood=" + std::to_string(Total));
  EXPECT_EQ(StatusLineOf(reply), "HTTP/1.1 200 OK");
  const std::string body = BodyOf(reply);
  EXPECT_EQ(body.size(), Total);
  EXPECT_EQ(body.find_first_not_of('x'), std::string::npos);
}

// Callbacks with a ConnID the module was never given, or one from a request that has ended,
// are refused and reach no request; the module's own ConnID still works afterwards.
TEST_F(ExtensionReplyTest, ForgedAndStaleConnIDsAreRefused) {
  const auto refused_of_tried = [this] {
    const std::string body = BodyOf(server_.Get("/hostile.dll?forged"));
    EXPECT_EQ(body.find("leak"), std::string::npos) << body;
    int refused = -1;
    int tried = 0;
    EXPECT_EQ(std::sscanf(body.c_str(), "refused %d of %d", &refused, &tried), 2) << body;
    return std::make_pair(refused, tried);
  };
  const auto first = refused_of_tried();
  EXPECT_EQ(first.first, first.second);
  EXPECT_EQ(refused_of_tried(), std::make_pair(4, 4)) << "the stale ID of the first run too";
  EXPECT_EQ(StatusLineOf(server_.Get("/hello.dll")), "HTTP/1.1 200 OK");
}

}  // namespace
}  // namespace quenby::test
