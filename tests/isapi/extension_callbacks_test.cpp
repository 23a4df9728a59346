// The module callbacks as the probe module sees them through a real server: server
// variables, buffers too small (with guard bytes around them), the map-URL forms, the
// support requests and a ConnID kept after its request.
#include <gtest/gtest.h>
#include <quenby/isapi.h>

#include <map>
#include <mutex>
#include <sstream>

#include "support/isapi_server.h"
#include "support/net_loopback.h"

namespace quenby::test {
namespace {

using TAnswer = std::map<std::string, std::string>;

// The probe's "key=value" lines (the first "=" splits).
TAnswer ParseAnswer(const std::string& body) {
  TAnswer answer;
  std::istringstream lines(body);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t at = line.find('=');
    if (at != std::string::npos)
      answer[line.substr(0, at)] = line.substr(at + 1);
  }
  return answer;
}

class ExtensionCallbacksTest : public ::testing::Test {
 protected:
  ExtensionCallbacksTest() : server_(QUENBY_TEST_MODULE_DIR) {
    server_.Server().ServerSoftware = "QuenbyTest/1.0";
  }

  // Runs the probe for `query`, with `headers` (CR LF lines) added to the request.
  TAnswer Probe(const std::string& query, const std::string& headers = {},
                const std::string& path = "/probe.dll") {
    const std::string reply = server_.Fetch(
        "GET " + path + "?" + query + " HTTP/1.1\r\nHost: example.test\r\n" + headers + "\r\n");
    return ParseAnswer(reply);
  }

  TAnswer Variable(const std::string& name, const std::string& headers = {}) {
    return Probe("var=" + name, headers);
  }

  TISAPITestServer server_;
};

TEST_F(ExtensionCallbacksTest, VariablesWhoseRulesAreEasyToGetWrong) {
  server_.Start();
  const std::string root = server_.Root();
  const std::string target = "/probe.dll/extra";
  auto ask = [&](const std::string& name) { return Probe("var=" + name, "", target); };
  // PATH_INFO is the expanded file path, PATH_TRANSLATED the request path.
  EXPECT_EQ(ask("PATH_INFO")["value"], root + "/probe.dll/extra");
  EXPECT_EQ(ask("PATH_TRANSLATED")["value"], "/probe.dll/extra");
  EXPECT_EQ(ask("SCRIPT_NAME")["value"], "/probe.dll");
  EXPECT_EQ(ask("URL")["value"], "/probe.dll");
  EXPECT_EQ(Probe("var=SCRIPT_NAME", "", "/PROBE.DLL/More")["value"], "/PROBE.DLL");
  EXPECT_EQ(ask("SERVER_ADDR")["value"], "127.0.0.1");  // the client's address
  EXPECT_EQ(ask("REMOTE_ADDR")["value"], "127.0.0.1");
  EXPECT_EQ(ask("SERVER_PORT")["value"], std::to_string(server_.Port()));
  EXPECT_EQ(ask("SERVER_NAME")["value"], "example.test");
  EXPECT_EQ(ask("SERVER_SOFTWARE")["value"], "QuenbyTest/1.0");
  EXPECT_EQ(ask("SERVER_ADMIN")["value"], "webmaster@localhost");
  EXPECT_EQ(ask("DOCUMENT_ROOT")["value"], root + "/");
  EXPECT_EQ(ask("request_method")["value"], "GET");  // names ignore case
  EXPECT_EQ(ask("QUERY_STRING")["value"], "var=QUERY_STRING");

  const TAnswer auth = ask("AUTH_TYPE");
  EXPECT_EQ(auth.at("value"), "Basic");
  EXPECT_EQ(auth.at("size"), "6");               // the terminator counts
  const TAnswer length = ask("CONTENT_LENGTH");  // absent header: empty text, TRUE
  EXPECT_EQ(length.at("result"), "1");
  EXPECT_EQ(length.at("size"), "1");
  EXPECT_EQ(length.at("value"), "");
  const TAnswer session = ask("HTTP_SESSION");
  EXPECT_EQ(session.at("result"), "1");
  EXPECT_EQ(session.at("value"), "");
  const TAnswer host = ask("REMOTE_HOST");  // a name, or the address when none resolves
  EXPECT_EQ(host.at("result"), "1");
  EXPECT_FALSE(host.at("value").empty());
}

TEST_F(ExtensionCallbacksTest, HeaderVariablesAndTheirFallbacks) {
  server_.Start();
  const std::string headers =
      "X-Forwarded-For: 10.1.2.3\r\nCache-Control: no-cache\r\nIf-Modified-Since: yesterday\r\n"
      "X-Custom: custom\r\nUser-Agent: probe-test\r\n";
  EXPECT_EQ(Variable("HTTP_X_FORWARDED_FOR", headers)["value"], "10.1.2.3");
  EXPECT_EQ(Variable("HTTP_CACHE_CONTROL", headers)["value"], "no-cache");
  EXPECT_EQ(Variable("HTTP_IF_MODIFIED_SINCE", headers)["value"], "yesterday");
  EXPECT_EQ(Variable("HTTP_USER_AGENT", headers)["value"], "probe-test");
  EXPECT_EQ(Variable("X-Custom", headers)["value"], "custom");
  // The prefix is stripped only in capitals: the whole lower-case name finds nothing.
  const TAnswer lower = Variable("http_x_custom", headers);
  EXPECT_EQ(lower.at("result"), "0");
  EXPECT_EQ(lower.at("size"), "0");
  EXPECT_EQ(lower.at("error"), "0");
  const TAnswer unknown = Variable("NO_SUCH_VARIABLE");
  EXPECT_EQ(unknown.at("result"), "0");
  EXPECT_EQ(unknown.at("size"), "0");
  EXPECT_EQ(unknown.at("terminated"), "yes");
}

TEST_F(ExtensionCallbacksTest, BuffersTooSmallAreNeverWrittenBeyond) {
  server_.Start();
  const TAnswer small = Probe("var=REQUEST_METHOD&size=3");  // "GET" needs 4
  EXPECT_EQ(small.at("result"), "0");
  EXPECT_EQ(small.at("error"), "122");
  EXPECT_EQ(small.at("size"), "4");
  EXPECT_EQ(small.at("untouched"), "yes");
  EXPECT_EQ(small.at("guards"), "intact");
  const TAnswer exact = Probe("var=REQUEST_METHOD&size=4");
  EXPECT_EQ(exact.at("result"), "1");
  EXPECT_EQ(exact.at("value"), "GET");
  EXPECT_EQ(exact.at("guards"), "intact");
  const TAnswer header = Probe("var=HTTP_X_LONG&size=2", "X-Long: abcdef\r\n");
  EXPECT_EQ(header.at("result"), "0");
  EXPECT_EQ(header.at("size"), "7");
  EXPECT_EQ(header.at("guards"), "intact");

  const std::string mapped = server_.Root() + "/docs/a.txt";
  const std::string fits = std::to_string(mapped.size() + 1);
  const TAnswer too_small = Probe("map=/docs/a.txt&size=" + std::to_string(mapped.size()));
  EXPECT_EQ(too_small.at("result"), "0");
  EXPECT_EQ(too_small.at("error"), "122");
  EXPECT_EQ(too_small.at("size"), fits);
  EXPECT_EQ(too_small.at("value"), "/docs/a.txt");  // the module's text, untouched
  EXPECT_EQ(too_small.at("guards"), "intact");
  const TAnswer map = Probe("map=/docs/../docs//a.txt&size=" + fits);
  EXPECT_EQ(map.at("result"), "1");
  EXPECT_EQ(map.at("value"), mapped);
  EXPECT_EQ(map.at("size"), fits);
  EXPECT_EQ(map.at("guards"), "intact");
}

TEST_F(ExtensionCallbacksTest, MapExWritesOnlyPathsThatFit) {
  server_.Start();
  const TAnswer mapex = Probe("mapex=/a/./b");
  EXPECT_EQ(mapex.at("result"), "1");
  EXPECT_EQ(mapex.at("value"), server_.Root() + "/a/b");
  EXPECT_EQ(mapex.at("others"), "untouched");
  EXPECT_EQ(mapex.at("guards"), "intact");
  const TAnswer too_long = Probe("mapex=/" + std::string(300, 'n'));
  EXPECT_EQ(too_long.at("result"), "0");
  EXPECT_EQ(too_long.at("error"), "122");
  EXPECT_EQ(too_long.at("terminated"), "no");  // nothing written
  EXPECT_EQ(too_long.at("guards"), "intact");
}

TEST_F(ExtensionCallbacksTest, ControlBlockOfGetAndPost) {
  server_.Start();
  const TAnswer get = Probe("ecb", "", "/probe.dll/tail");
  EXPECT_EQ(get.at("cbSize"), std::to_string(sizeof(EXTENSION_CONTROL_BLOCK)));
  EXPECT_EQ(get.at("dwVersion"), "0x00020000");
  EXPECT_EQ(get.at("lpszLogData"), "DEFAULT LOG DATA");
  EXPECT_EQ(get.at("lpszMethod"), "GET");
  EXPECT_EQ(get.at("lpszQueryString"), "ecb");
  EXPECT_EQ(get.at("lpszPathInfo"), "/tail");
  EXPECT_EQ(get.at("lpszPathTranslated"), server_.Root() + "/probe.dll/tail");
  EXPECT_EQ(get.at("cbTotalBytes"), "0");
  EXPECT_EQ(get.at("lpbData"), "(null)");

  const TAnswer post = ParseAnswer(
      server_.Fetch("POST /probe.dll?ecb HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\n"
                    "Content-Length: 7\r\n\r\nbody=42"));
  EXPECT_EQ(post.at("lpszQueryString"), "ecb");  // the query alone, not the body
  EXPECT_EQ(post.at("cbTotalBytes"), "7");
  EXPECT_EQ(post.at("cbAvailable"), "7");
  EXPECT_EQ(post.at("lpbData"), "body=42");
  EXPECT_EQ(post.at("lpszContentType"), "text/plain");
}

TEST_F(ExtensionCallbacksTest, SupportRequestsWithoutSideEffectsOnTheReply) {
  std::mutex lock;
  std::vector<std::string> logged;
  server_.Runner().OnLogServerMessage = [&](TISAPIRunner&, THTTPRequestInfo&, THTTPResponseInfo&,
                                            const std::string& text) {
    std::lock_guard<std::mutex> guard(lock);
    logged.push_back(text);
  };
  server_.Start();
  EXPECT_EQ(Probe("log=module%20says%20hi").at("result"), "1");
  EXPECT_EQ(logged, std::vector<std::string>{"module says hi"});
  const TAnswer keep = Probe("keepconn");
  EXPECT_EQ(keep.at("result"), "1");
  EXPECT_EQ(keep.at("value"), "7");  // not written
  const TAnswer unknown = Probe("unknown");
  EXPECT_EQ(unknown.at("result"), "0");
  EXPECT_EQ(unknown.at("error"), "4242");           // last error left alone
  EXPECT_EQ(Probe("trigger=a").at("result"), "1");  // no session: nothing, TRUE

  const std::string zero = BodyOf(server_.Get("/probe.dll?zero"));
  EXPECT_EQ(zero, std::string("x\0y\nwrite=1,1\ncounts=0,4\n", 25));
}

TEST_F(ExtensionCallbacksTest, ReadClientReadsWhatTheClientSendsAfterTheRequest) {
  server_.Start();
  const TAnswer read =
      ParseAnswer(server_.Fetch("GET /probe.dll?read=5 HTTP/1.1\r\nHost: x\r\n\r\nHELLO"));
  EXPECT_EQ(read.at("result"), "1");
  EXPECT_EQ(read.at("size"), "5");
  EXPECT_EQ(read.at("data"), "HELLO");
  EXPECT_EQ(read.at("guards"), "intact");
}

TEST_F(ExtensionCallbacksTest, AConnIDKeptFromAnEndedRequestLeadsNowhere) {
  server_.Start();
  EXPECT_EQ(Probe("conn=stale").at("stale"), "none");
  const TAnswer stale = Probe("conn=stale");
  EXPECT_EQ(stale.at("result"), "0");
  EXPECT_EQ(stale.at("size"), "64");  // untouched
  EXPECT_EQ(stale.at("guards"), "intact");
}

TEST_F(ExtensionCallbacksTest, AbortiveCloseEndsTheConnectionAtOnce) {
  server_.Start();
  EXPECT_EQ(server_.Get("/probe.dll?abortive"), "");
}

}  // namespace
}  // namespace quenby::test
