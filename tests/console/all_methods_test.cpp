#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/server_console.h"
#include "support/console_on_loopback.h"

namespace quenby {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// A running console on loopback with a file, the test modules under /bin/ and the log on.
class AllMethodsTest : public ::testing::Test, protected test::TConsoleOnLoopback {
 protected:
  AllMethodsTest() {
    Console.Settings.AliasLines = {std::string("/bin=") + QUENBY_TEST_MODULE_DIR};
    Dir.Write("a.txt", "file a");
  }

  void Start(bool all_methods) {
    Console.Features.AllMethods = all_methods;
    Console.btnStartClick();
    ASSERT_TRUE(Console.HTTPServer.Active());
  }
  void Stop() { Console.btnStopClick(); }
};

// The session cookie differs from one reply to the next; the rest must not.
std::string WithoutCookie(const std::string& reply) {
  const std::size_t at = reply.find("Set-Cookie: ");
  if (at == std::string::npos)
    return reply;
  return reply.substr(0, at) + reply.substr(reply.find("\r\n", at) + 2);
}

TEST_F(AllMethodsTest, ModulesSeeEveryMethodAndItsBody) {
  Start(true);
  for (const std::string method : {"PUT", "DELETE", "PATCH", "OPTIONS", "MKCOL", "X-TRY_IT.1"}) {
    const std::string body = "body of " + method;
    const std::string reply =
        Exchange(method + " /bin/probe.dll?ecb HTTP/1.0\r\nContent-Type: text/plain\r\n" +
                 "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_THAT(reply, HasSubstr("\nlpszMethod=" + method + "\n")) << method;
    EXPECT_THAT(reply, HasSubstr("\ncbTotalBytes=" + std::to_string(body.size()) + "\n"));
    EXPECT_THAT(reply, HasSubstr("\nlpbData=" + body + "\n")) << method;
    EXPECT_THAT(reply, HasSubstr("\nlpszContentType=text/plain\n")) << method;
    EXPECT_THAT(Exchange(method + " /bin/probe.dll?var=REQUEST_METHOD HTTP/1.0\r\n\r\n"),
                HasSubstr("\nvalue=" + method + "\n"))
        << "a method without a body is answered at once";
  }
  // The method is upper-cased as GET's always was.
  EXPECT_THAT(Exchange("delete /bin/probe.dll?var=REQUEST_METHOD HTTP/1.0\r\n\r\n"),
              HasSubstr("\nvalue=DELETE\n"));
  Stop();
  EXPECT_THAT(Log(), HasSubstr("Command PUT /bin/probe.dll received from 127.0.0.1:"));
}

TEST_F(AllMethodsTest, FilesAndMissingFilesAnswer405WithAllow) {
  Start(true);
  const std::string page =
      "<html><head><title>Error</title></head><body><h1>Method not allowed"
      "</h1></body></html>";
  const std::vector<std::string> requests = {
      "DELETE /a.txt HTTP/1.1\r\nHost: x\r\nConnection: keep-alive\r\n\r\n",
      "PUT /a.txt HTTP/1.0\r\nContent-Length: 5\r\n\r\nnew a",
      "OPTIONS * HTTP/1.1\r\n\r\n",
      "PATCH /missing.htm HTTP/1.0\r\n\r\n",
  };
  for (const std::string& request : requests) {
    const std::string reply = Exchange(request);
    EXPECT_THAT(reply, StartsWith("HTTP/1.1 405 Method not allowed\r\n")) << request;
    EXPECT_THAT(reply, HasSubstr("\r\nAllow: GET, HEAD, POST\r\n"));
    EXPECT_THAT(reply, HasSubstr("\r\nConnection: close\r\n"));
    EXPECT_THAT(reply, HasSubstr("\r\nContent-Length: " + std::to_string(page.size()) + "\r\n"));
    EXPECT_THAT(reply, EndsWith("\r\n\r\n" + page));
  }
  EXPECT_EQ(Dir.Read("a.txt"), "file a") << "no method changes a file";
  // A missing module is still a missing script, whatever the method.
  EXPECT_THAT(Exchange("PUT /bin/none.dll HTTP/1.0\r\n\r\n"),
              HasSubstr("\r\n\r\n<H1><center>Script not found</center></H1>"));
}

TEST_F(AllMethodsTest, GetHeadAndPostRepliesAndLogLinesAreTheSameWithAndWithoutTheOption) {
  const std::vector<std::string> requests = {
      "GET /a.txt HTTP/1.0\r\n\r\n",
      "HEAD /a.txt HTTP/1.0\r\n\r\n",
      "POST /a.txt HTTP/1.0\r\nContent-Length: 3\r\n\r\nx=1",
      "GET /missing.htm HTTP/1.0\r\n\r\n",
      "POST /bin/probe.dll?ecb HTTP/1.0\r\nContent-Length: 3\r\n\r\nx=1",
      "GET /bin/probe.dll?ecb HTTP/1.0\r\n\r\n",
  };
  std::vector<std::string> replies[2];
  std::string logs[2];
  for (const bool all_methods : {false, true}) {
    Start(all_methods);
    for (const std::string& request : requests)
      replies[all_methods].push_back(WithoutCookie(Exchange(request)));
    Stop();
    logs[all_methods] = Log();
    Dir.Write("quenby.log", "");
  }
  EXPECT_EQ(replies[0], replies[1]);
  // The log lines differ only in their time-stamps and client ports.
  const auto request_lines = [](const std::string& log) {
    std::vector<std::string> lines;
    for (std::size_t at = log.find("Command "); at != std::string::npos;
         at = log.find("Command ", at + 1))
      lines.push_back(log.substr(at, log.find(" received", at) - at));
    return lines;
  };
  EXPECT_EQ(request_lines(logs[0]), request_lines(logs[1]));
  EXPECT_EQ(request_lines(logs[1]).size(), requests.size());
}

TEST_F(AllMethodsTest, WithoutTheOptionOtherMethodsAreClosedUnanswered) {
  Start(false);
  EXPECT_EQ(Exchange("PUT /a.txt HTTP/1.0\r\nContent-Length: 5\r\n\r\nnew a"), "");
  EXPECT_EQ(Exchange("PUT /bin/probe.dll?ecb HTTP/1.0\r\nContent-Length: 1\r\n\r\nx"), "");
  EXPECT_EQ(Exchange("OPTIONS * HTTP/1.1\r\n\r\n"), "");
  Stop();
  EXPECT_THAT(Log(), Not(HasSubstr("Command ")));
}

TEST_F(AllMethodsTest, MalformedMethodsAreClosedUnansweredEvenWithTheOption) {
  Start(true);
  for (const std::string& method :
       {std::string("G\x01T"), std::string("GE\tT"), std::string("G\"T"), std::string("(GET)"),
        std::string("G\xC3\x89T"), std::string("")}) {
    EXPECT_EQ(Exchange(method + " /bin/probe.dll?ecb HTTP/1.0\r\n\r\n"), "") << method;
    EXPECT_EQ(Exchange(method + " /a.txt HTTP/1.0\r\n\r\n"), "") << method;
  }
  Stop();
  EXPECT_THAT(Log(), Not(HasSubstr("Command ")));
}

}  // namespace
}  // namespace quenby
