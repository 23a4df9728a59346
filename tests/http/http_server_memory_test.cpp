// The request loop and the reply writer over an in-memory connection: each request delivered
// split at every byte, failures injected on chosen receive and send calls.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "http/http_server.h"
#include "net/socket_stack.h"
#include "support/memory_io_handler.h"
#include "util/exception.h"

namespace quenby {
namespace {

using test::Deliveries;
using test::TDelivery;
using test::TMemoryIOHandler;

// The non-empty fields of a request the handler received.
std::string Describe(const THTTPRequestInfo& request) {
  std::string text = request.Method + " " + request.Path + " " + request.HTTPVersion;
  auto add = [&text](const char* name, const std::string& value) {
    if (!value.empty())
      text += std::string(" ") + name + "=" + value;
  };
  add("query", request.QueryText);
  add("params", request.ParamText);
  add("posted", request.PostedText);
  add("host", request.Host);
  add("user", request.AuthorizationUser);
  add("password", request.AuthorizationPassword);
  std::string list;
  for (const std::string& item : request.ParamList)
    list += "[" + item + "]";
  add("list", list);
  std::string cookies;
  for (int i = 0; i < request.ServerCookies.Count(); ++i)
    cookies += "[" + request.ServerCookies[i].CookieName + "=" +
               request.ServerCookies[i].CookieValue + "]";
  add("cookies", cookies);
  std::string headers;
  for (const std::string& line : request.Headers.Lines())
    headers += "[" + line + "]";
  add("headers", headers);
  return text;
}

// What one connection produced.
struct Outcome {
  std::vector<std::string> seen;  // requests the handlers received
  std::string wire;               // every byte sent
  std::string error;              // "Class: message" of what left the request loop
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
  out << "seen:";
  for (const std::string& item : outcome.seen)
    out << " {" << item << "}";
  return out << " wire: {" << outcome.wire << "} error: {" << outcome.error << "}";
}

class HTTPServerMemoryTest : public ::testing::Test {
 protected:
  HTTPServerMemoryTest() {
    server_.OnCommandGet = [this](TPeerThread&, THTTPRequestInfo& request,
                                  THTTPResponseInfo& response) {
      outcome_.seen.push_back(Describe(request));
      response.BodyText = request.Path;
    };
    server_.OnCommandOther = [this](TPeerThread&, const std::string& command,
                                    const std::string& data, const std::string& version) {
      outcome_.seen.push_back("other " + command + "|" + data + "|" + version);
    };
  }

  // Runs the server's request loop for one connection over `handler`, on this thread.
  Outcome Serve(TMemoryIOHandler& handler) {
    outcome_ = {};
    TPeerThread thread;  // never started
    auto connection = std::make_unique<TTCPServerConnection>(&server_);
    connection->SetIOHandler(&handler);
    thread.SetConnection(std::move(connection));
    try {
      server_.ExecuteHook(thread);
    } catch (const std::exception& e) {
      outcome_.error = ExceptionClassName(e) + ": " + e.what();
    }
    outcome_.wire = handler.Output();
    return outcome_;
  }

  THTTPServer server_;
  Outcome outcome_;
};

struct RequestCase {
  std::string raw;
  bool keep_alive;
  std::vector<std::string> seen;
  std::string error;
};

// Each raw request, delivered whole, cut in two at every byte and one byte per receive, is
// read the same way and gets the same bytes back.
TEST_F(HTTPServerMemoryTest, EveryDeliveryOfARequestIsReadTheSame) {
  const RequestCase cases[] = {
      {"get /a.htm HTTP/1.0\r\n\r\n", false, {"GET /a.htm HTTP/1.0"}, ""},
      {"GET /a b.htm HTTP/1.1\r\nHost: x\r\n\r\n",
       false,
       {"GET /a b.htm HTTP/1.1 host=x headers=[Host: x]"},
       ""},
      {"GET /dir%20one/a%2Eb?a=1&b=%41 HTTP/1.1\n\n",
       false,
       {"GET /dir one/a.b HTTP/1.1 query=a=1&b=%41 params=a=1&b=%41 list=[a=1][b=A]"},
       ""},
      {"POST /f?y=2 HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
       "Content-Length: 3\r\n\r\nx=1",
       false,
       {"POST /f HTTP/1.1 query=y=2 params=x=1&y=2 posted=x=1 list=[x=1][y=2] "
        "headers=[Content-Type: application/x-www-form-urlencoded][Content-Length: 3]"},
       ""},
      {"POST /g HTTP/1.1\r\n\r\nwhole body\r\nuntil close",
       false,
       {"POST /g HTTP/1.1 params=whole body\r\nuntil close posted=whole body\r\nuntil close"},
       ""},
      {"GET http://example.org/p HTTP/1.1\r\nAuthorization: Basic dXNlcjpwYTpzcw==\r\n"
       "Cookie: a=1; b=2\r\n..X: dot\r\n\r\n",
       false,
       {"GET /p HTTP/1.1 host=example.org user=user password=pa:ss cookies=[a=1][b=2] "
        "headers=[Authorization: Basic dXNlcjpwYTpzcw==][Cookie: a=1; b=2][.X: dot]"},
       ""},
      {"OPTIONS * HTTP/1.1\r\n\r\n", false, {"other OPTIONS|*|HTTP/1.1"}, ""},
      {"no-space-here\r\n", false, {}, ""},
      {"GET / HTTP/1.1\r\nAuthorization: Bearer abc\r\n\r\n",
       false,
       {},
       "EHTTPUnsupportedAuthorisationScheme: Unsupported authorization scheme."},
      {"GET / HTTP/1.1\r\nHost: a",
       false,
       {},
       "EConnClosedGracefully: Connection Closed Gracefully."},
      {"GET /1 HTTP/1.1\r\nConnection: keep-alive\r\n\r\n"
       "POST /2 HTTP/1.1\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\nab"
       "GET /3 HTTP/1.1\r\n\r\nGET /4 HTTP/1.1\r\n\r\n",
       true,
       {"GET /1 HTTP/1.1 headers=[Connection: keep-alive]",
        "POST /2 HTTP/1.1 params=ab posted=ab "
        "headers=[Connection: keep-alive][Content-Length: 2]",
        "GET /3 HTTP/1.1"},
       ""},
  };
  for (const RequestCase& c : cases) {
    server_.KeepAlive = c.keep_alive;
    Outcome reference;
    for (const TDelivery& delivery : Deliveries(c.raw)) {
      SCOPED_TRACE(c.raw + " / " + delivery.Name);
      TMemoryIOHandler handler(delivery.Chunks);
      const Outcome outcome = Serve(handler);
      if (delivery.Name == "whole") {
        EXPECT_EQ(outcome.seen, c.seen);
        EXPECT_EQ(outcome.error, c.error);
        EXPECT_EQ(outcome.wire.empty(), c.seen.empty() || c.seen[0].starts_with("other"));
        reference = outcome;
      } else {
        EXPECT_EQ(outcome, reference);
      }
    }
  }
}

// The whole reply leaves in one send, byte for byte.
TEST_F(HTTPServerMemoryTest, TheReplyLeavesInOneSend) {
  server_.ServerSoftware = "QuenbyTest/1.0";
  TMemoryIOHandler handler({"GET /hi HTTP/1.1\r\n\r\n"});
  EXPECT_EQ(Serve(handler).error, "");
  EXPECT_EQ(handler.Sends(),
            (std::vector<std::string>{
                "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\n"
                "Content-Length: 3\r\nServer: QuenbyTest/1.0\r\n\r\n/hi"}));
}

const std::string KeepAliveRequests =
    "GET /1 HTTP/1.1\r\nConnection: keep-alive\r\n\r\nGET /2 HTTP/1.1\r\n\r\n";

// A receive that fails on any call: the requests that arrived in full before it are answered
// in full, nothing else is. A reset ends the connection quietly; other codes leave the loop
// for the peer thread to report.
TEST_F(HTTPServerMemoryTest, AFailedReceiveLosesNoRequestThatArrived) {
  server_.KeepAlive = true;
  TMemoryIOHandler whole({KeepAliveRequests});
  const Outcome complete = Serve(whole);
  ASSERT_EQ(complete.seen.size(), 2u);
  const std::size_t first_end = KeepAliveRequests.find("GET /2");
  const std::size_t first_reply = complete.wire.find("HTTP/1.1", 1);
  const auto bytes = Deliveries(KeepAliveRequests).back().Chunks;
  for (int code : {SockErrConnReset, SockErrNotSocket}) {
    for (std::size_t call = 1; call <= bytes.size(); ++call) {
      SCOPED_TRACE("code " + std::to_string(code) + ", call " + std::to_string(call));
      TMemoryIOHandler handler(bytes);
      handler.FailReceive(static_cast<int>(call), code);
      const Outcome outcome = Serve(handler);
      const bool first_arrived = call > first_end;
      EXPECT_EQ(outcome.seen.size(), first_arrived ? 1u : 0u);
      EXPECT_EQ(outcome.wire, first_arrived ? complete.wire.substr(0, first_reply) : "");
      EXPECT_EQ(outcome.error, code == SockErrConnReset
                                   ? ""
                                   : "ESocketError: " + TSocketStack::SocketErrorText(code));
    }
  }
}

// A send that fails on any call: the bytes sent before it are exactly the start of the
// replies, and the loop ends there.
TEST_F(HTTPServerMemoryTest, AFailedSendEndsTheConnectionAfterAnExactPrefix) {
  server_.KeepAlive = true;
  constexpr std::size_t SendSize = 16;  // the two replies take many sends
  TMemoryIOHandler whole({KeepAliveRequests});
  whole.MaxSendCount = SendSize;
  ASSERT_EQ(Serve(whole).seen.size(), 2u);
  const std::vector<std::string>& sends = whole.Sends();
  for (int code : {SockErrConnReset, SockErrConnAborted}) {
    std::string sent_before;
    for (std::size_t call = 1; call <= sends.size(); ++call) {
      SCOPED_TRACE("code " + std::to_string(code) + ", call " + std::to_string(call));
      TMemoryIOHandler handler({KeepAliveRequests});
      handler.MaxSendCount = SendSize;
      handler.FailSend(static_cast<int>(call), code);
      const Outcome outcome = Serve(handler);
      EXPECT_EQ(outcome.wire, sent_before);
      EXPECT_EQ(outcome.error, code == SockErrConnReset
                                   ? ""
                                   : "ESocketError: " + TSocketStack::SocketErrorText(code));
      sent_before += sends[call - 1];
    }
  }
}

}  // namespace
}  // namespace quenby
