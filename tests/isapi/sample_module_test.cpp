// The sample modules and the simple test modules, run against a fake host.
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "isapi/fake_host.h"

namespace quenby::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(HelloModule, SendsHeaderThenPage) {
  TestModule module("hello");
  FakeHost host("GET", "");
  EXPECT_EQ(module.Run(host), static_cast<DWORD>(HSE_STATUS_SUCCESS));
  ASSERT_EQ(host.events.size(), 2u);
  EXPECT_EQ(host.events[0], "header 1016 200 OK|Content-Type: text/html\r\n\r\n");
  EXPECT_THAT(host.body, HasSubstr("<h1>Hello from an extension module</h1>"));
  EXPECT_THAT(host.body, HasSubstr("</html>\n"));
}

TEST(EchoModule, ShowsLongVariablesWhole) {
  TestModule module("echo");
  FakeHost host("GET", "a=1");
  const std::string long_agent(1000, 'u');
  host.variables["HTTP_USER_AGENT"] = long_agent;
  host.variables["REQUEST_METHOD"] = "GET";
  module.Run(host);
  EXPECT_THAT(host.body, HasSubstr("<th>HTTP_USER_AGENT</th><td>" + long_agent + "</td>"));
  EXPECT_THAT(host.body, HasSubstr("<th>REQUEST_METHOD</th><td>GET</td>"));
  EXPECT_THAT(host.body, HasSubstr("<th>HTTP_COOKIE</th><td><i>none</i></td>"));
  EXPECT_THAT(host.body, HasSubstr("<th>lpszQueryString</th><td>a=1</td>"));
}

TEST(EchoModule, EscapesPostedBodyAndKeepsBytesAfterZero) {
  TestModule module("echo");
  FakeHost host("POST", "q=<x>", std::string("<b>&\"'\0tail", 11));
  module.Run(host);
  EXPECT_THAT(host.body, HasSubstr("<h2>Body (11 bytes)</h2>\n<pre>&lt;b&gt;&amp;&quot;&#39;"
                                   "&middot;tail</pre>"));
  EXPECT_THAT(host.body, HasSubstr("<td>q=&lt;x&gt;</td>"));
  EXPECT_THAT(host.body, Not(HasSubstr("<x>")));
}

TEST(RawReplyModule, WritesWholeReplyThroughWriteClientOnly) {
  TestModule module("rawreply");
  FakeHost host("GET", "");
  module.Run(host);
  EXPECT_EQ(host.body,
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 17\r\n"
            "Connection: close\r\n\r\nraw reply module\n");
  EXPECT_EQ(host.events.size(), 1u);
}

TEST(RedirectModule, RedirectsToTheRawQueryOrRoot) {
  TestModule module("redirect");
  FakeHost to_page("GET", "/index.html?x=%41");
  module.Run(to_page);
  EXPECT_THAT(to_page.events, ElementsAre("redirect /index.html?x=%41"));
  FakeHost to_root("GET", "");
  module.Run(to_root);
  EXPECT_THAT(to_root.events, ElementsAre("redirect /"));
}

TEST(HeadersModule, CannedBlocksGoThroughThePlainHeaderRequest) {
  TestModule module("headers");
  FakeHost cookies("GET", "case=cookies");
  module.Run(cookies);
  EXPECT_THAT(cookies.events, ElementsAre("header 3 |Set-Cookie: a=1\r\nSet-Cookie: b=2\r\n\r\n",
                                          "write headers: result=1\n"));
  FakeHost unknown("GET", "case=nosuch");
  module.Run(unknown);
  EXPECT_EQ(unknown.events.front(), "header 3 |");
}

TEST(HeadersModule, DecodedBlockStatusAndExtendedRequest) {
  TestModule module("headers");
  FakeHost host("GET",
                "ex&twice&status=201&statustext=404+Not%20Found&header=X-A:%201%0D%0A%0D%0A");
  module.Run(host);
  EXPECT_EQ(host.Block()->dwHttpStatusCode, 201u);
  EXPECT_THAT(host.events, ElementsAre("header 1016 404 Not Found|X-A: 1\r\n\r\n",
                                       "header 1016 404 Not Found|X-A: 1\r\n\r\n",
                                       "write headers: result=1,1\n"));
}

}  // namespace
}  // namespace quenby::test
