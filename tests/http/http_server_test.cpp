#include "http/http_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "http/http_exceptions.h"
#include "support/http_test_server.h"
#include "support/net_loopback.h"
#include "support/temp_dir.h"
#include "util/exception.h"

namespace quenby {
namespace {

using test::SplitReply;
using test::THTTPTestServer;
using test::TLoopbackClient;

constexpr const char* Software = "QuenbyTest/1.0";

// What a handler saw of one request, copied out under a lock for the test thread.
struct Seen {
  std::mutex lock;
  std::vector<std::string> items;
  void Add(std::string item) {
    std::lock_guard<std::mutex> guard(lock);
    items.push_back(std::move(item));
  }
  std::vector<std::string> Items() {
    std::lock_guard<std::mutex> guard(lock);
    return items;
  }
};

int Occurrences(const std::string& text, const std::string& what) {
  int count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

class HTTPServerTest : public ::testing::Test {
 protected:
  HTTPServerTest() { Server().ServerSoftware = Software; }
  THTTPServer& Server() { return server_.Server(); }
  void Answer(const std::function<void(THTTPRequestInfo&, THTTPResponseInfo&)>& answer) {
    Server().OnCommandGet = [answer](TPeerThread&, THTTPRequestInfo& request,
                                     THTTPResponseInfo& response) { answer(request, response); };
  }
  THTTPTestServer server_;
};

TEST_F(HTTPServerTest, HiReplyIsExactAndTheConnectionCloses) {
  Answer([](THTTPRequestInfo&, THTTPResponseInfo& response) { response.BodyText = "hi"; });
  server_.Start();
  EXPECT_EQ(server_.Exchange("GET / HTTP/1.1\r\nHost: x\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\n"
            "Content-Length: 2\r\nServer: QuenbyTest/1.0\r\n\r\nhi");
}

TEST_F(HTTPServerTest, HandlerThatSetsNothingGetsAnEmpty200) {
  Answer([](THTTPRequestInfo&, THTTPResponseInfo&) {});
  server_.Start();
  const auto reply = SplitReply(server_.Exchange("GET / HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(reply.StatusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(reply.Headers, (std::vector<std::string>{"Connection: close", "Content-Type: text/html",
                                                     "Server: QuenbyTest/1.0"}));
  EXPECT_EQ(reply.Body, "");
}

TEST_F(HTTPServerTest, HandlerErrorsBecome500WithTheMessageAsWholeBody) {
  Answer([](THTTPRequestInfo& request, THTTPResponseInfo& response) {
    if (request.Path == "/std")
      throw std::runtime_error("std boom");
    if (request.Path == "/half") {
      // A length and a stream set before the failure must not survive into the 500.
      response.SetContentLength(100);
      response.SetBodyStream(std::make_unique<TMemoryStream>(std::string(100, 'x')));
    }
    throw Exception("boom");
  });
  server_.Start();
  for (const char* path : {"/plain", "/half"}) {
    SCOPED_TRACE(path);
    const auto reply =
        SplitReply(server_.Exchange(std::string("GET ") + path + " HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(reply.StatusLine, "HTTP/1.1 500 Internal Server Error");
    EXPECT_NE(std::find(reply.Headers.begin(), reply.Headers.end(), "Content-Length: 4"),
              reply.Headers.end());
    EXPECT_EQ(reply.Body, "boom");
  }
  EXPECT_EQ(SplitReply(server_.Exchange("GET /std HTTP/1.1\r\n\r\n")).Body, "std boom");
  EXPECT_TRUE(server_.Exceptions().empty());
}

TEST_F(HTTPServerTest, KeepAliveServesRequestsUntilOneDoesNotAskForIt) {
  Server().KeepAlive = true;
  Answer([](THTTPRequestInfo& request, THTTPResponseInfo& response) {
    response.BodyText = request.Path;
  });
  server_.Start();
  const std::string keep = "Connection: keep-alive\r\n\r\n";
  const std::string raw = server_.Exchange("GET /1 HTTP/1.1\r\n" + keep + "GET /2 HTTP/1.1\r\n" +
                                           keep + "GET /3 HTTP/1.1\r\n\r\nGET /4 HTTP/1.1\r\n\r\n");
  EXPECT_EQ(Occurrences(raw, "HTTP/1.1 200 OK"), 3);
  EXPECT_EQ(Occurrences(raw, "Connection: keep-alive\r\n"), 2);
  EXPECT_NE(raw.find("\r\n\r\n/3"), std::string::npos);
  EXPECT_EQ(raw.find("/4"), std::string::npos);
}

TEST_F(HTTPServerTest, KeepAliveOffAnswersOneRequestPerConnection) {
  Answer([](THTTPRequestInfo&, THTTPResponseInfo& response) { response.BodyText = "x"; });
  server_.Start();
  const std::string raw =
      server_.Exchange("GET / HTTP/1.1\r\nConnection: keep-alive\r\n\r\nGET / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(Occurrences(raw, "HTTP/1.1 200 OK"), 1);
  EXPECT_NE(raw.find("Connection: close"), std::string::npos);
}

TEST_F(HTTPServerTest, NotFoundClosesEvenWithKeepAlive) {
  Server().KeepAlive = true;
  Answer([](THTTPRequestInfo&, THTTPResponseInfo& response) { response.SetStatusCode(404); });
  server_.Start();
  const std::string raw =
      server_.Exchange("GET /a HTTP/1.1\r\nConnection: keep-alive\r\n\r\nGET /b HTTP/1.1\r\n\r\n");
  EXPECT_EQ(Occurrences(raw, "HTTP/1.1 404 Not Found"), 1);
  EXPECT_NE(raw.find("Connection: close"), std::string::npos);
}

TEST_F(HTTPServerTest, MethodIsUpperCasedAndHeadIsNotSpecial) {
  Seen seen;
  Answer([&seen](THTTPRequestInfo& request, THTTPResponseInfo& response) {
    seen.Add(request.Method + " " + request.Path + " " + request.HTTPVersion);
    response.BodyText = "body";
  });
  server_.Start();
  server_.Exchange("get /a%20b.htm HTTP/1.0\r\n\r\n");
  const auto head = SplitReply(server_.Exchange("HEAD /dir%20one/a%2Eb HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(head.Body, "body");
  EXPECT_EQ(seen.Items(),
            (std::vector<std::string>{"GET /a b.htm HTTP/1.0", "HEAD /dir one/a.b HTTP/1.1"}));
}

TEST_F(HTTPServerTest, PostBodiesByLengthAndUntilHalfClose) {
  Seen seen;
  Answer([&seen](THTTPRequestInfo& request, THTTPResponseInfo&) {
    std::string params;
    for (const std::string& item : request.ParamList)
      params += "[" + item + "]";
    seen.Add(request.PostedText + "|" + request.ParamText + "|" + params);
  });
  server_.Start();
  server_.Exchange(
      "POST /f?y=2 HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Content-Length: 3\r\n\r\nx=1");
  {
    // The handler gets the body, and the reply reaches the half-closed client.
    TLoopbackClient client(server_.Port());
    client.Send("POST /g HTTP/1.1\r\n\r\nwhole body\r\nuntil close");
    client.ShutdownSend();
    EXPECT_TRUE(client.ReceiveUntilClose().starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(test::WaitUntil([&seen] { return seen.Items().size() == 2; }));
  }
  // A GET without a length reads no body: the next bytes would be the next request.
  server_.Exchange("GET /h?q=1 HTTP/1.1\r\n\r\n");
  EXPECT_EQ(seen.Items(),
            (std::vector<std::string>{"x=1|x=1&y=2|[x=1][y=2]",
                                      "whole body\r\nuntil close|whole body\r\nuntil close|",
                                      "|q=1|[q=1]"}));
}

TEST_F(HTTPServerTest, OtherMethodsGoToOnCommandOtherAndGetNoReply) {
  Seen seen;
  Answer([](THTTPRequestInfo&, THTTPResponseInfo& response) { response.BodyText = "no"; });
  Server().OnCommandOther = [&seen](TPeerThread&, const std::string& command,
                                    const std::string& data, const std::string& version) {
    seen.Add(command + "|" + data + "|" + version);
  };
  server_.Start();
  EXPECT_EQ(server_.Exchange("OPTIONS * HTTP/1.1\r\n\r\n"), "");
  EXPECT_EQ(server_.Exchange("DELETE /a b HTTP/1.1\r\n"), "");
  EXPECT_EQ(seen.Items(), (std::vector<std::string>{"OPTIONS|*|HTTP/1.1", "DELETE|/a b|HTTP/1.1"}));
}

TEST_F(HTTPServerTest, BasicCredentialsAndUnsupportedSchemes) {
  Seen seen;
  Answer([&seen](THTTPRequestInfo& request, THTTPResponseInfo&) {
    seen.Add(request.AuthorizationUser + "|" + request.AuthorizationPassword);
  });
  server_.Start();
  // "user:pa:ss": the password keeps the second colon.
  server_.Exchange("GET / HTTP/1.1\r\nAuthorization: Basic dXNlcjpwYTpzcw==\r\n\r\n");
  EXPECT_EQ(server_.Exchange("GET / HTTP/1.1\r\nAuthorization: Bearer abc\r\n\r\n"), "");
  EXPECT_EQ(seen.Items(), (std::vector<std::string>{"user|pa:ss"}));
  // The report follows the close, on the peer thread.
  ASSERT_TRUE(test::WaitUntil([this] { return server_.Exceptions().size() == 1; }));
  const auto errors = server_.Exceptions();
  EXPECT_EQ(errors[0], "EHTTPUnsupportedAuthorisationScheme: Unsupported authorization scheme.");
}

TEST_F(HTTPServerTest, ChallengeCookiesAndRedirectsReachTheWireWellFormed) {
  Answer([](THTTPRequestInfo& request, THTTPResponseInfo& response) {
    if (request.Path == "/private") {
      response.BasicRealm = "Private";
    } else if (request.Path == "/cookies") {
      response.ServerCookies.AddCookie("a=1");
      response.ServerCookies.AddCookie("b=2");
    } else {
      response.RedirectTo("http://x/\r\nSet-Cookie: evil=1");
    }
  });
  server_.Start();
  EXPECT_EQ(server_.Exchange("GET /private HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 401 Unauthorized\r\nConnection: close\r\nContent-Type: text/html\r\n"
            "Server: QuenbyTest/1.0\r\nWWW-Authenticate: Basic realm=\"Private\"\r\n\r\n"
            "<HTML><BODY><B>401 Unauthorized</B></BODY></HTML>");
  const auto cookies = SplitReply(server_.Exchange("GET /cookies HTTP/1.1\r\n\r\n"));
  ASSERT_GE(cookies.Headers.size(), 2u);
  EXPECT_EQ(cookies.Headers[cookies.Headers.size() - 2], "Set-Cookie: a=1");
  EXPECT_EQ(cookies.Headers.back(), "Set-Cookie: b=2");
  const auto redirect = SplitReply(server_.Exchange("GET /go HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(redirect.StatusLine, "HTTP/1.1 302 Moved Temporarily");
  for (const std::string& line : redirect.Headers)
    EXPECT_FALSE(line.starts_with("Set-Cookie")) << line;
}

TEST_F(HTTPServerTest, HandlerWrittenHeaderAndFileReplies) {
  test::TempDir dir;
  const std::string file = dir.Write("ten.txt", "0123456789");
  Seen seen;
  Server().OnCommandGet = [&](TPeerThread& thread, THTTPRequestInfo& request,
                              THTTPResponseInfo& response) {
    if (request.Path == "/module") {
      response.SendHeader("404 Not Found");
      response.BodyText = "after";
      return;
    }
    if (request.Path == "/typed")
      response.ContentType.clear();
    seen.Add(std::to_string(Server().SendFileReply(thread, response, file)));
  };
  server_.Start();
  const auto module = SplitReply(server_.Exchange("GET /module HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(module.StatusLine, "HTTP/1.1 404 Not Found");
  EXPECT_EQ(module.Body, "after");
  const auto typed = SplitReply(server_.Exchange("GET /typed HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(typed.Body, "0123456789");
  EXPECT_NE(std::find(typed.Headers.begin(), typed.Headers.end(), "Content-Type: text/plain"),
            typed.Headers.end());
  EXPECT_NE(std::find(typed.Headers.begin(), typed.Headers.end(), "Content-Length: 10"),
            typed.Headers.end());
  const auto plain = SplitReply(server_.Exchange("GET /plain HTTP/1.1\r\n\r\n"));
  EXPECT_NE(std::find(plain.Headers.begin(), plain.Headers.end(), "Content-Type: text/html"),
            plain.Headers.end());
  EXPECT_EQ(seen.Items(), (std::vector<std::string>{"10", "10"}));
}

// Files from NativeFileSendMinimum bytes on go out through the kernel's file send, smaller
// ones are copied behind the header: both must arrive whole, byte for byte, after their header.
TEST_F(HTTPServerTest, FilesOnBothSidesOfTheKernelSendLimitArriveExactly) {
  test::TempDir dir;
  std::string content;
  for (std::int64_t i = 0; i < 3 * NativeFileSendMinimum + 7; ++i)
    content += static_cast<char>((i * 131 + i / 251) % 256);
  const std::vector<std::size_t> sizes = {0, 1, NativeFileSendMinimum - 1, NativeFileSendMinimum,
                                          content.size()};
  for (std::size_t size : sizes)
    dir.Write("f" + std::to_string(size), std::string_view(content).substr(0, size));
  Server().OnCommandGet = [&](TPeerThread& thread, THTTPRequestInfo& request,
                              THTTPResponseInfo& response) {
    Server().SendFileReply(thread, response, dir.Path() + request.Path);
  };
  server_.Start();
  for (std::size_t size : sizes) {
    const auto reply =
        SplitReply(server_.Exchange("GET /f" + std::to_string(size) + " HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(reply.StatusLine, "HTTP/1.1 200 OK");
    EXPECT_NE(std::find(reply.Headers.begin(), reply.Headers.end(),
                        "Content-Length: " + std::to_string(size)),
              reply.Headers.end());
    EXPECT_TRUE(reply.Body == content.substr(0, size)) << "file of " << size << " bytes";
  }
}

// A client that leaves in the middle of a large file ends its connection only, at once.
TEST_F(HTTPServerTest, AClientLeavingDuringALargeFileLeavesTheServerServing) {
  test::TempDir dir;
  const std::string big = dir.Write("big.bin", "");
  std::filesystem::resize_file(big, std::uintmax_t{256} << 20);  // sparse: no disk, no memory
  const std::string small = dir.Write("small.txt", "small");
  Server().OnCommandGet = [&](TPeerThread& thread, THTTPRequestInfo& request,
                              THTTPResponseInfo& response) {
    Server().SendFileReply(thread, response, request.Path == "/big" ? big : small);
  };
  server_.Start();
  {
    TLoopbackClient client(server_.Port());
    client.Send("GET /big HTTP/1.0\r\n\r\n");
    EXPECT_EQ(client.ReceiveLine(), "HTTP/1.1 200 OK\r\n");
    client.Reset();
  }
  // A reset ends the connection quietly; a send that went on to the end would take far longer.
  EXPECT_TRUE(test::WaitUntil([this] { return Server().PeerThreadCount() == 0; }));
  EXPECT_EQ(server_.Exceptions().size(), 0u);
  EXPECT_EQ(SplitReply(server_.Exchange("GET /small HTTP/1.0\r\n\r\n")).Body, "small");
}

// A head that trickles in without ever ending, and a body that stalls, each lose their
// connection at their limit; a normal client is served meanwhile.
TEST_F(HTTPServerTest, SlowHeadsAndStalledBodiesEndTheirConnections) {
  Server().HeadTimeOut = 400;
  Server().StallTimeOut = 400;
  Server().OnCommandGet = [](TPeerThread&, THTTPRequestInfo& request, THTTPResponseInfo& response) {
    response.BodyText = "got " + request.PostedText;
  };
  server_.Start();
  TLoopbackClient slow_head(server_.Port());
  TLoopbackClient stalled_body(server_.Port());
  slow_head.Send("GET / HTTP/1.1\r\n");
  stalled_body.Send("POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc");
  const auto started = std::chrono::steady_clock::now();
  bool head_closed = false;
  // Every header line arrives well within the stall limit; only the head's deadline can end it.
  while (!head_closed && std::chrono::steady_clock::now() - started < std::chrono::seconds(10)) {
    slow_head.Send("X-Slow: 1\r\n");
    head_closed = slow_head.WaitForClose(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(head_closed);
  EXPECT_TRUE(stalled_body.WaitForClose());
  EXPECT_EQ(SplitReply(server_.Exchange("POST / HTTP/1.0\r\nContent-Length: 2\r\n\r\nok")).Body,
            "got ok");
  EXPECT_TRUE(test::WaitUntil([this] { return server_.Exceptions().size() == 2; }));
  for (const std::string& report : server_.Exceptions())
    EXPECT_NE(report.find("EReadTimeout"), std::string::npos) << report;
}

TEST_F(HTTPServerTest, MissingFileRaisesBeforeAnythingIsWritten) {
  Server().OnCommandGet = [this](TPeerThread& thread, THTTPRequestInfo&,
                                 THTTPResponseInfo& response) {
    Server().SendFileReply(thread, response, "/nonexistent/quenby/file.txt");
  };
  server_.Start();
  const auto reply = SplitReply(server_.Exchange("GET / HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(reply.StatusLine, "HTTP/1.1 500 Internal Server Error");
  EXPECT_FALSE(reply.Body.empty());
}

// A failure after the reply went out must not append an error text to it: the client keeps
// exactly the reply, the connection ends, and OnException hears of the failure. Kept-alive
// connections end too, so no later request reads the leftovers.
TEST_F(HTTPServerTest, FailureAfterTheReplyWentOutEndsTheConnectionOnly) {
  test::TempDir dir;
  const std::string file = dir.Write("ten.txt", "0123456789");
  Server().KeepAlive = true;
  Server().OnCommandGet = [&](TPeerThread& thread, THTTPRequestInfo& request,
                              THTTPResponseInfo& response) {
    if (request.Path == "/head") {
      response.SendHeader("200 OK");
      throw std::runtime_error("late failure");
    }
    Server().SendFileReply(thread, response, file);
    throw Exception("log write failed");
  };
  server_.Start();
  const std::string raw = server_.Exchange(
      "GET /file HTTP/1.1\r\nConnection: keep-alive\r\n\r\nGET /file HTTP/1.1\r\n\r\n");
  const auto reply = SplitReply(raw);
  EXPECT_EQ(reply.StatusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(reply.Body, "0123456789");
  EXPECT_EQ(Occurrences(raw, "HTTP/1.1"), 1) << raw;
  EXPECT_EQ(raw.find("log write failed"), std::string::npos);
  const auto head = SplitReply(server_.Exchange("GET /head HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(head.StatusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(head.Body, "");
  EXPECT_TRUE(test::WaitUntil([this] { return server_.Exceptions().size() == 2; }));
  // The two connections' peer threads report in whichever order they end.
  auto reported = server_.Exceptions();
  ASSERT_EQ(reported.size(), 2u);
  std::sort(reported.begin(), reported.end());
  EXPECT_NE(reported[0].find("late failure"), std::string::npos) << reported[0];
  EXPECT_NE(reported[1].find("log write failed"), std::string::npos) << reported[1];
}

}  // namespace
}  // namespace quenby
