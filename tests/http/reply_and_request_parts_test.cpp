#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "http/http_exceptions.h"
#include "http/http_response_info.h"
#include "http/request_reader.h"
#include "http/uri.h"
#include "support/memory_io_handler.h"

namespace quenby {
namespace {

using ::testing::ThrowsMessage;

struct URICase {
  const char* text;
  std::vector<std::string>
      parts;  // protocol, user, password, host, port, dir, file, params, fragment
};

TEST(URITest, SplitsAbsoluteAndRelativeForms) {
  const URICase cases[] = {
      {"", {"", "", "", "", "", "", "", "", ""}},
      {"/cgi/run.dll/go=1%20a", {"", "", "", "", "", "/cgi/run.dll/", "go", "=1%20a", ""}},
      {"/a=b/c.htm", {"", "", "", "", "", "/", "a", "=b/c.htm", ""}},
      {"a.htm", {"", "", "", "", "", "", "a.htm", "", ""}},
      {"\\dir\\f.htm", {"", "", "", "", "", "/dir/", "f.htm", "", ""}},
      {"/f.htm#top", {"", "", "", "", "", "/", "f.htm#top", "", ""}},
      {"/f=1#top", {"", "", "", "", "", "/", "f", "=1", "top"}},
      {"http://u:p@host:8080/d/f.htm?x=1#frag",
       {"http", "u", "p", "host", "8080", "/d/", "f.htm", "?x=1", "frag"}},
      {"http://host/f.htm#top", {"http", "", "", "host", "", "/", "f.htm", "", "top"}},
      {"http://:secret@host", {"http", "", "", "host", "", "/", "", "", ""}},
  };
  for (const URICase& c : cases) {
    SCOPED_TRACE(c.text);
    const TURI uri(c.text);
    EXPECT_EQ(
        (std::vector<std::string>{uri.Protocol, uri.Username, uri.Password, uri.Host, uri.Port,
                                  uri.Directory, uri.FileName, uri.Params, uri.Fragment}),
        c.parts);
  }
}

TEST(RequestPartsTest, RequestLineSplitsAtTheLastSpace) {
  TRequestLine parts;
  EXPECT_FALSE(SplitRequestLine("", parts));
  EXPECT_FALSE(SplitRequestLine("GET", parts));
  ASSERT_TRUE(SplitRequestLine("get /a b.htm HTTP/1.1", parts));
  EXPECT_EQ(parts.Method + "|" + parts.Target + "|" + parts.Version, "GET|/a b.htm|HTTP/1.1");
  ASSERT_TRUE(SplitRequestLine("GET HTTP/1.1", parts));
  EXPECT_EQ(parts.Method + "|" + parts.Target + "|" + parts.Version, "GET||HTTP/1.1");
}

TEST(RequestPartsTest, TargetGivesQueryParamsCookiesPathAndHost) {
  THTTPRequestInfo request;
  request.Headers.Add("Cookie: a=1; b=2");
  request.Headers.Add("cookie: c=3");
  request.ParseHeaders();
  SplitRequestTarget(request, "http://example.org/x%2Fy/z.htm?q=1&r=a+b", true);
  EXPECT_EQ(request.QueryText, "q=1&r=a+b");
  EXPECT_EQ(request.ParamText, "q=1&r=a+b");
  EXPECT_EQ(request.ParamList, (std::vector<std::string>{"q=1", "r=a b"}));
  EXPECT_EQ(request.Path, "/x/y/z.htm");
  EXPECT_EQ(request.Host, "example.org");
  ASSERT_EQ(request.ServerCookies.Count(), 3);
  EXPECT_EQ(request.ServerCookies[2].CookieName, "c");

  THTTPRequestInfo form;
  form.Headers.Add("Content-Type: application/x-www-form-urlencoded; charset=utf-8");
  form.ParseHeaders();
  form.ParamText = "x=1";
  SplitRequestTarget(form, "/f?y=2", true);
  EXPECT_EQ(form.ParamText, "x=1&y=2");
  EXPECT_EQ(form.ParamList, (std::vector<std::string>{"y=2"}));  // a charset is not a form

  THTTPRequestInfo unparsed;
  SplitRequestTarget(unparsed, "/f?y=2", false);
  EXPECT_TRUE(unparsed.ParamList.empty());
}

class ReplyWriterTest : public ::testing::Test {
 protected:
  const std::string& Written() const { return memory_.handler.Output(); }
  test::TMemoryConnection memory_;
  THTTPResponseInfo reply_{&memory_.connection};
};

// Replies written by the handler's calls, compared byte for byte; the header block always
// leaves in a send of its own.
TEST_F(ReplyWriterTest, RepliesAreExactBytes) {
  struct Case {
    const char* name;
    std::function<void(THTTPResponseInfo&)> write;
    std::vector<std::string> sends;
  };
  const Case cases[] = {
      {"text body",
       [](THTTPResponseInfo& reply) {
         reply.SetCloseAfterReply(true);
         reply.BodyText = "hi";
         reply.SendBody();
       },
       {"HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\n"
        "Content-Length: 2\r\nServer: QuenbyHTTP/1.0\r\n\r\n",
        "hi"}},
      {"challenge page",
       [](THTTPResponseInfo& reply) {
         reply.BasicRealm = "Private";
         reply.ContentType.clear();
         reply.SendHeader();
         reply.SendBody();
       },
       {"HTTP/1.1 401 Unauthorized\r\nServer: QuenbyHTTP/1.0\r\n"
        "WWW-Authenticate: Basic realm=\"Private\"\r\n\r\n",
        "<HTML><BODY><B>401 Unauthorized</B></BODY></HTML>"}},
      {"cookies after the headers",
       [](THTTPResponseInfo& reply) {
         reply.SetStatusCode(404);
         reply.ServerCookies.AddCookie("a=1");
         reply.ServerCookies.AddCookie("b=2");
         reply.SendHeader();
       },
       {"HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Type: text/html\r\n"
        "Server: QuenbyHTTP/1.0\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\n\r\n"}},
      {"stream body and status page",
       [](THTTPResponseInfo& reply) {
         reply.SetStatusCode(413);
         reply.SetBodyStream(std::make_unique<TMemoryStream>("abc"));
         reply.SendBody();
         reply.SendBody();
       },
       {"HTTP/1.1 413 Request Entity To Long\r\nContent-Type: text/html\r\n"
        "Content-Length: 3\r\nServer: QuenbyHTTP/1.0\r\n\r\n",
        "abc", "<HTML><BODY><B>413 Request Entity To Long</B></BODY></HTML>\r\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TMemoryConnection memory;
    THTTPResponseInfo reply(&memory.connection);
    c.write(reply);
    EXPECT_EQ(memory.handler.Sends(), c.sends);
  }
}

TEST_F(ReplyWriterTest, BuildHeadersOrderAndCustomLinesReplacedInPlace) {
  reply_.SetCloseAfterReply(true);
  reply_.CustomHeaders().Add("X-First: 1");
  reply_.CustomHeaders().Add("Server: custom");
  reply_.CustomHeaders().Add("X-Last: 2");
  reply_.Location = "/elsewhere";
  reply_.SetContentLength(5);
  reply_.BuildHeaders();
  EXPECT_EQ(reply_.Headers.Lines(),
            (std::vector<std::string>{"Connection: close", "Content-Type: text/html",
                                      "Content-Length: 5", "X-First: 1", "Server: QuenbyHTTP/1.0",
                                      "X-Last: 2", "Location: /elsewhere"}));
}

TEST_F(ReplyWriterTest, LongValuesAreNotFolded) {
  reply_.Location = "/" + std::string(300, 'a') + " b " + std::string(300, 'c');
  reply_.BuildHeaders();
  EXPECT_EQ(reply_.Headers.ValueByName("Location"), reply_.Location);
  EXPECT_EQ(reply_.Headers.Count(), 3);  // Content-Type, Server, Location: no continuations
}

TEST_F(ReplyWriterTest, SecondSendHeaderRaisesAndWritesNothing) {
  reply_.SendHeader();
  EXPECT_TRUE(reply_.HeaderSent);
  reply_.StatusText = "Changed";
  EXPECT_THAT([&] { reply_.SendHeader(); },
              ThrowsMessage<EHTTPHeaderAlreadyWritten>("Header has already been written."));
  const std::string written = Written();
  EXPECT_EQ(written.find("Changed"), std::string::npos);
  EXPECT_TRUE(written.ends_with("\r\n\r\n"));
}

TEST_F(ReplyWriterTest, SendBodyWritesStreamTextOrStatusPageThenClears) {
  reply_.SetBodyStream(std::make_unique<TMemoryStream>("stream"));
  reply_.SendBody();  // writes the header first
  EXPECT_EQ(reply_.BodyStream(), nullptr);
  reply_.BodyText = "text";
  reply_.SendBody();
  EXPECT_TRUE(reply_.BodyText.empty());
  reply_.SetStatusCode(402);
  reply_.SendBody();
  const std::string written = Written();
  EXPECT_NE(written.find("Content-Length: 6\r\n"), std::string::npos);
  EXPECT_TRUE(written.ends_with(
      "\r\n\r\nstreamtext<HTML><BODY><B>402 Unknown Response Code</B></BODY></HTML>\r\n"))
      << written;
}

// A stream that only reports a size, as a file of that size would.
class SizedStream : public TMemoryStream {
 public:
  explicit SizedStream(std::int64_t size) : size_(size) {}
  std::int64_t Size() const override { return size_; }

 private:
  std::int64_t size_;
};

TEST_F(ReplyWriterTest, BodyStreamOf2GiBOrMoreIsNotAnnounced) {
  THTTPResponseInfo largest(&memory_.connection);
  largest.SetBodyStream(std::make_unique<SizedStream>(INT32_MAX));
  largest.SendHeader();
  EXPECT_FALSE(largest.CloseAfterReply());
  reply_.SetBodyStream(std::make_unique<SizedStream>(std::int64_t{INT32_MAX} + 1));
  reply_.SendHeader();
  EXPECT_TRUE(reply_.CloseAfterReply());
  EXPECT_EQ(reply_.ContentLength(), -1);
  const std::string written = Written();
  const std::size_t second = written.find("\r\n\r\n") + 4;
  EXPECT_NE(written.substr(0, second).find("Content-Length: 2147483647\r\n"), std::string::npos);
  EXPECT_EQ(written.find("Content-Length", second), std::string::npos) << written;
  EXPECT_NE(written.find("Connection: close", second), std::string::npos) << written;
}

TEST_F(ReplyWriterTest, LineBreaksInValuesCannotStartHeaderLines) {
  reply_.RedirectTo("/a\r\nSet-Cookie: evil=1");
  reply_.CustomHeaders().Add("X-A: 1\nX-Injected: 2");
  reply_.CustomHeaders().Add("");
  reply_.ServerCookies.AddCookie("c=1\r\nX-Cookie: 3");
  reply_.SendHeader("200 OK\r\nX-Status: 4");
  const std::string written = Written();
  for (const char* injected :
       {"\r\nSet-Cookie: evil", "\nX-Injected", "\r\nX-Cookie", "\r\nX-Status"}) {
    EXPECT_EQ(written.find(injected), std::string::npos) << injected;
  }
  EXPECT_EQ(written.find("\r\n\r\n"), written.size() - 4);
}

}  // namespace
}  // namespace quenby
