#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "http/http_server.h"
#include "support/http_test_server.h"
#include "support/net_loopback.h"

namespace quenby {
namespace {

using test::THTTPTestServer;
using test::TLoopbackClient;

constexpr const char* OkRequest = "GET / HTTP/1.1\r\n\r\n";

class HTTPServerRobustnessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Server().OnCommandGet = [this](TPeerThread&, THTTPRequestInfo& request,
                                           THTTPResponseInfo& response) {
      ++calls_;
      // Larger than the socket buffers, so the writer meets a client that has gone.
      response.BodyText = request.Path == "/big" ? std::string(BigBody, 'z') : "hi";
    };
    server_.Start();
  }
  static constexpr std::size_t BigBody = 1 << 20;
  std::atomic<int> calls_{0};
  bool ServesOthers() { return server_.Exchange(OkRequest).ends_with("\r\n\r\nhi"); }
  THTTPTestServer server_;
};

struct MalformedCase {
  const char* name;
  std::string bytes;
  bool half_close;  // the client stops sending after the bytes
};

// Each input ends its connection without a reply; the server goes on serving.
TEST_F(HTTPServerRobustnessTest, MalformedInputEndsOnlyItsConnection) {
  const MalformedCase cases[] = {
      {"empty line", "\r\n", false},
      {"no space", "GARBAGE\r\n", false},
      {"request line over 16 KiB", "GET /" + std::string(17 * 1024, 'a') + " HTTP/1.1\r\n", false},
      {"length larger than body", "POST / HTTP/1.1\r\nContent-Length: 50\r\n\r\nshort", true},
      {"huge length, little body", "POST / HTTP/1.1\r\nContent-Length: 2000000000\r\n\r\nab", true},
      {"headers without end", "GET / HTTP/1.1\r\nHost: x\r\n", true},
      {"endless header block",
       "GET / HTTP/1.1\r\n" +
           [] {
             std::string lines;
             for (int i = 0; i < 1100; ++i)
               lines += "X-" + std::to_string(i) + ": v\r\n";
             return lines;
           }(),
       false},
      {"header block over 64 KiB",
       "GET / HTTP/1.1\r\n" +
           [] {
             std::string lines;
             for (int i = 0; i < 4; ++i)
               lines += "X-" + std::to_string(i) + ": " + std::string(16000, 'a') + "\r\n";
             return lines + "Cookie: " + std::string(2000, ';') + "\r\n\r\n";
           }(),
       false},
      {"expires out of range", "GET / HTTP/1.1\r\nExpires: 99999999\r\n\r\n", false},
      {"bad base64 credentials", "GET / HTTP/1.1\r\nAuthorization: Basic abc\r\n\r\n", false},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.name);
    TLoopbackClient client(server_.Port());
    client.Send(c.bytes);
    if (c.half_close)
      client.ShutdownSend();
    EXPECT_EQ(client.ReceiveUntilClose(), "");
    EXPECT_TRUE(client.WaitForClose());
    EXPECT_TRUE(ServesOthers());
  }
}

TEST_F(HTTPServerRobustnessTest, GarbageHeaderLinesAreStillServed) {
  const std::string raw = server_.Exchange(
      "GET / HTTP/1.1\r\n\x01\x02: \xff\r\nno colon here\r\n: empty name\r\n"
      "Content-Length: x\r\nCookie: ;;=;a\r\n\r\n");
  EXPECT_TRUE(raw.ends_with("\r\n\r\nhi"));
}

TEST_F(HTTPServerRobustnessTest, LongHeaderBlockUnderTheBoundIsServed) {
  std::string lines;
  for (int i = 0; i < 3; ++i)
    lines += "X-" + std::to_string(i) + ": " + std::string(16000, 'a') + "\r\n";
  const std::string raw = server_.Exchange("GET / HTTP/1.1\r\n" + lines +
                                           "Cookie: " + std::string(8000, ';') + "\r\n\r\n");
  EXPECT_TRUE(raw.ends_with("\r\n\r\nhi"));
}

TEST_F(HTTPServerRobustnessTest, VanishingAndStalledClientsDoNotStopOthers) {
  {
    TLoopbackClient vanishing(server_.Port());
    vanishing.Send("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\nhalf");
    vanishing.Reset();
  }
  TLoopbackClient stalled(server_.Port());
  stalled.Send("GET /slow");
  EXPECT_TRUE(ServesOthers());
  EXPECT_TRUE(ServesOthers());
}

TEST_F(HTTPServerRobustnessTest, ClientThatLeavesBeforeTheReplyIsHarmless) {
  for (int i = 0; i < 3; ++i) {
    TLoopbackClient client(server_.Port());
    client.Send("GET /big HTTP/1.1\r\n\r\n");
    client.Reset();
  }
  EXPECT_TRUE(test::WaitUntil([this] { return calls_.load() == 3; }));
  EXPECT_GT(server_.Exchange("GET /big HTTP/1.1\r\n\r\n").size(), BigBody);
}

// A real client against the server: curl's view of the reply must match ours.
TEST_F(HTTPServerRobustnessTest, CurlGetsTheReplyWithAndWithoutKeepAlive) {
  if (std::system("command -v curl >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "curl is not installed";
  auto run = [](const std::string& command) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    char buffer[4096];
    for (std::size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
      output.append(buffer, n);
    return output;
  };
  const std::string url = "http://127.0.0.1:" + std::to_string(server_.Port()) + "/";
  EXPECT_EQ(run("curl -s --noproxy '*' -m 10 " + url + "a " + url + "b"), "hihi");
  THTTPTestServer keeping;
  keeping.Server().KeepAlive = true;
  keeping.Server().OnCommandGet = server_.Server().OnCommandGet;
  keeping.Start();
  const std::string again = "http://127.0.0.1:" + std::to_string(keeping.Port()) + "/";
  const std::string verbose = run("curl -s -v --noproxy '*' -m 10 -H \"Connection: keep-alive\" " +
                                  again + "a " + again + "b 2>&1");
  EXPECT_NE(verbose.find("Re-using existing connection"), std::string::npos) << verbose;
  EXPECT_EQ(verbose.find("< Connection: close"), std::string::npos);
}

}  // namespace
}  // namespace quenby
