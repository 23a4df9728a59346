#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

// Big enough to leave through the kernel's file send, which a range must start mid-file.
std::string BigContent() {
  std::string text;
  for (int i = 0; text.size() < 200000; ++i)
    text += std::to_string(i) + ",";
  return text;
}

struct TReply {
  std::string Head;
  std::string Body;

  // The value of the header `name`, or "(none)".
  std::string Header(const std::string& name) const {
    const std::size_t at = Head.find("\r\n" + name + ": ");
    if (at == std::string::npos)
      return "(none)";
    const std::size_t start = at + name.size() + 4;
    return Head.substr(start, Head.find("\r\n", start) - start);
  }
};

// A running console on loopback serving a small and a big file, the log on.
class HTTPCacheTest : public ::testing::Test, protected test::TConsoleOnLoopback {
 protected:
  HTTPCacheTest() {
    Dir.Write("a.txt", "0123456789");
    Dir.Write("big.txt", big_);
  }

  void Start(bool http_cache) {
    Console.Features.HTTPCache = http_cache;
    Console.btnStartClick();
    ASSERT_TRUE(Console.HTTPServer.Active());
  }

  std::string Exchange(const std::string& method, const std::string& path,
                       const std::string& headers = "") {
    test::TLoopbackClient client(Console.ListeningPort());
    client.Send(method + " " + path + " HTTP/1.0\r\n" + headers + "\r\n");
    return client.ReceiveUntilClose();
  }
  TReply Get(const std::string& path, const std::string& headers = "",
             const std::string& method = "GET") {
    const std::string reply = Exchange(method, path, headers);
    const std::size_t end = reply.find("\r\n\r\n");
    if (end == std::string::npos)
      return {reply, ""};
    return {reply.substr(0, end + 2), reply.substr(end + 4)};
  }

  std::string Log() const { return Dir.Exists("quenby.log") ? Dir.Read("quenby.log") : ""; }

  const std::string big_ = BigContent();
};

TEST_F(HTTPCacheTest, WithoutTheOptionRepliesStayAsTheyWere) {
  Start(false);
  const std::string plain = Exchange("GET", "/a.txt");
  EXPECT_EQ(Exchange("GET", "/a.txt", "Range: bytes=0-1\r\nIf-None-Match: *\r\n"), plain);
  EXPECT_THAT(plain, StartsWith("HTTP/1.1 200 OK\r\n"));
  for (const char* name : {"Accept-Ranges", "ETag", "Last-Modified", "Content-Range"})
    EXPECT_THAT(plain, Not(HasSubstr(name))) << name;
  const TReply head = Get("/a.txt", "Range: bytes=0-1\r\n", "HEAD");
  EXPECT_THAT(head.Head, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(head.Header("ETag"), "(none)");
}

TEST_F(HTTPCacheTest, FilesCarryValidatorsAndRevalidate) {
  Start(true);
  const TReply whole = Get("/a.txt");
  EXPECT_THAT(whole.Head, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(whole.Header("Accept-Ranges"), "bytes");
  EXPECT_EQ(whole.Header("Content-Length"), "10");
  EXPECT_EQ(whole.Header("Content-Type"), "text/plain");
  EXPECT_THAT(whole.Header("ETag"), ::testing::MatchesRegex("\"a-[0-9a-f]+\""));
  EXPECT_THAT(whole.Header("Last-Modified"), HasSubstr(" GMT"));
  EXPECT_EQ(whole.Body, "0123456789");

  for (const std::string& condition : std::vector<std::string>{
           "If-None-Match: \"other\", " + whole.Header("ETag") + "\r\n", "If-None-Match: *\r\n",
           "If-Modified-Since: " + whole.Header("Last-Modified") + "\r\n"}) {
    const TReply fresh = Get("/a.txt", condition);
    EXPECT_THAT(fresh.Head, StartsWith("HTTP/1.1 304 Not Modified\r\n")) << condition;
    EXPECT_EQ(fresh.Body, "") << condition;
    EXPECT_EQ(fresh.Header("ETag"), whole.Header("ETag"));
    EXPECT_EQ(fresh.Header("Last-Modified"), whole.Header("Last-Modified"));
  }
  EXPECT_THAT(Get("/a.txt", "If-None-Match: \"other\"\r\n").Head, StartsWith("HTTP/1.1 200 OK"));
  EXPECT_THAT(Log(), HasSubstr("a.txt (10 bytes / 10 bytes sent) to 127.0.0.1:"));
  EXPECT_THAT(Log(), HasSubstr("a.txt (0 bytes / 10 bytes sent) to 127.0.0.1:"));
}

TEST_F(HTTPCacheTest, SingleRangesGetExactlyTheirBytes) {
  Start(true);
  const TReply small = Get("/a.txt", "Range: bytes=2-4\r\n");
  EXPECT_THAT(small.Head, StartsWith("HTTP/1.1 206 Partial Content\r\n"));
  EXPECT_EQ(small.Header("Content-Range"), "bytes 2-4/10");
  EXPECT_EQ(small.Header("Content-Length"), "3");
  EXPECT_EQ(small.Body, "234");

  const std::string size = std::to_string(big_.size());
  const TReply middle = Get("/big.txt", "Range: bytes=70000-169999\r\n");
  EXPECT_EQ(middle.Header("Content-Range"), "bytes 70000-169999/" + size);
  EXPECT_EQ(middle.Body, big_.substr(70000, 100000));
  const TReply tail = Get("/big.txt", "Range: bytes=-100\r\n");
  EXPECT_EQ(tail.Body, big_.substr(big_.size() - 100));
  const TReply open = Get("/big.txt", "Range: bytes=1000-\r\n");
  EXPECT_EQ(open.Body, big_.substr(1000));
  EXPECT_THAT(Log(), HasSubstr("big.txt (100000 bytes / " + size + " bytes sent)"));
  EXPECT_THAT(Log(), HasSubstr("a.txt (3 bytes / 10 bytes sent)"));

  const TReply head = Get("/big.txt", "Range: bytes=0-99\r\n", "HEAD");
  EXPECT_THAT(head.Head, StartsWith("HTTP/1.1 206 Partial Content\r\n"));
  EXPECT_EQ(head.Header("Content-Length"), "100");
  EXPECT_EQ(head.Body, "");
}

TEST_F(HTTPCacheTest, OtherRangesAnswerWholeOrUnsatisfiable) {
  Start(true);
  const TReply beyond = Get("/a.txt", "Range: bytes=10-\r\n");
  EXPECT_THAT(beyond.Head, StartsWith("HTTP/1.1 416 Range Not Satisfiable\r\n"));
  EXPECT_EQ(beyond.Header("Content-Range"), "bytes */10");
  EXPECT_EQ(beyond.Body, "");
  for (const char* range : {"bytes=0-1,4-5", "bytes=5-2", "lines=1-2"}) {
    const TReply whole = Get("/a.txt", std::string("Range: ") + range + "\r\n");
    EXPECT_THAT(whole.Head, StartsWith("HTTP/1.1 200 OK\r\n")) << range;
    EXPECT_EQ(whole.Body, "0123456789") << range;
  }
}

TEST_F(HTTPCacheTest, IfRangeSendsTheRangeOnlyOfTheSameVersion) {
  Start(true);
  const TReply whole = Get("/a.txt");
  for (const std::string& validator : {whole.Header("ETag"), whole.Header("Last-Modified")}) {
    const TReply part = Get("/a.txt", "Range: bytes=0-0\r\nIf-Range: " + validator + "\r\n");
    EXPECT_THAT(part.Head, StartsWith("HTTP/1.1 206 ")) << validator;
    EXPECT_EQ(part.Body, "0");
  }
  const TReply changed = Get("/a.txt", "Range: bytes=0-0\r\nIf-Range: \"other\"\r\n");
  EXPECT_THAT(changed.Head, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(changed.Body, "0123456789");
}

TEST_F(HTTPCacheTest, HeadGetsTheHeadAndPostStaysAsItWas) {
  Start(true);
  const TReply head = Get("/a.txt", "", "HEAD");
  EXPECT_THAT(head.Head, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(head.Header("Content-Length"), "10");
  EXPECT_EQ(head.Header("Accept-Ranges"), "bytes");
  EXPECT_NE(head.Header("ETag"), "(none)");
  EXPECT_EQ(head.Body, "");
  const TReply post = Get("/a.txt", "Range: bytes=0-1\r\nContent-Length: 0\r\n", "POST");
  EXPECT_THAT(post.Head, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(post.Header("ETag"), "(none)");
  EXPECT_EQ(post.Body, "0123456789");
}

}  // namespace
}  // namespace quenby
