// Every named server variable, asked of a real server by the probe module, against what one
// request that carries every header they read should give. Each source has its own value,
// so a variable that answers from the wrong source fails.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "http/http_session.h"
#include "isapi/server_variables.h"
#include "support/isapi_server.h"

namespace quenby::test {
namespace {

struct TExpected {
  const char* Name;
  std::string Value;
};

// The probe's GetServerVariable answer. Its lines come in a fixed order; the value is all
// between "value=" and the last "terminated=" line, as a session value holds line ends.
struct TVariableAnswer {
  std::string Result;
  std::string Size;
  std::string Value;
};

TVariableAnswer ParseVariableAnswer(const std::string& body) {
  std::size_t at = 0;
  auto line = [&](const std::string& key) {
    const std::string prefix = key + "=";
    if (body.compare(at, prefix.size(), prefix) != 0)
      return std::string("(missing " + key + ")");
    const std::size_t end = body.find('\n', at);
    std::string value = body.substr(at + prefix.size(), end - at - prefix.size());
    at = end == std::string::npos ? body.size() : end + 1;
    return value;
  };
  TVariableAnswer answer;
  answer.Result = line("result");
  answer.Size = line("size");
  line("error");
  const std::string value_prefix = "value=";
  const std::size_t end = body.rfind("\nterminated=");
  if (body.compare(at, value_prefix.size(), value_prefix) != 0 || end == std::string::npos ||
      end < at + value_prefix.size())
    answer.Value = "(missing value)";
  else
    answer.Value = body.substr(at + value_prefix.size(), end - at - value_prefix.size());
  return answer;
}

// The name the resolver gives 127.0.0.1, or the address when it has none.
std::string LoopbackHostName() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  char host[NI_MAXHOST] = {};
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof(address), host, sizeof(host),
                  nullptr, 0, NI_NAMEREQD) != 0)
    return "127.0.0.1";
  return host;
}

constexpr const char* RequestHeaders =
    "Host: example.test\r\n"
    "Content-Type: text/plain\r\n"
    "Content-Length: 6\r\n"
    "Cookie: flavour=oat\r\n"
    "User-Agent: agent-7\r\n"
    "Cache-Control: no-store\r\n"
    "Date: Mon, 01 Jan 2024 10:00:00 GMT\r\n"
    "Accept: text/x-accept\r\n"
    "From: from@example.test\r\n"
    "If-Modified-Since: Tue, 02 Jan 2024 10:00:00 GMT\r\n"
    "Referer: http://referer.test/\r\n"
    "Content-Encoding: identity\r\n"
    "Content-Version: version-3\r\n"
    "Derived-From: derived-4\r\n"
    "Expires: Wed, 03 Jan 2024 10:00:00 GMT\r\n"
    "Title: title-5\r\n"
    "Connection: close\r\n"
    "Authorization: Basic YW5uOnNlY3JldA==\r\n"  // ann:secret
    "Accept-Language: en-GB\r\n"
    "Accept-Encoding: gzip\r\n";

TEST(ServerVariables, EveryNamedVariableGivesWhatTheRequestCarries) {
  TISAPITestServer server(QUENBY_TEST_MODULE_DIR);
  server.Server().ServerSoftware = "QuenbyTest/1.0";
  server.Server().SetSessionState(true);
  server.Server().SessionTimeOut = 60000;  // without a time-out the server keeps no sessions
  server.Server().AutoStartSession = true;
  server.Server().OnSessionStart = [](THTTPSession& session) {
    session.SessionValues = {"colour=blue", "size=9"};
  };
  server.Start();
  const std::string root = server.Root();
  const std::string address = "127.0.0.1";
  const std::vector<TExpected> expected = {
      {"AUTH_TYPE", "Basic"},
      {"AUTH_NAME", "ann"},
      {"AUTH_PASS", "secret"},
      {"CONTENT_LENGTH", "6"},
      {"CONTENT_TYPE", "text/plain"},
      {"GATEWAY_INTERFACE", "ISAPI"},
      {"PATH_INFO", root + "/probe.dll/extra"},  // the expanded file path
      {"PATH_TRANSLATED", "/probe.dll/extra"},   // the request path
      {"QUERY_STRING", "body=1&var=QUERY_STRING"},
      {"REMOTE_ADDR", address},
      {"REMOTE_HOST", LoopbackHostName()},
      {"REMOTE_USER", "ann"},
      {"REQUEST_METHOD", "POST"},
      {"SCRIPT_NAME", "/probe.dll"},
      {"SERVER_NAME", "example.test"},
      {"SERVER_PORT", std::to_string(server.Port())},
      {"SERVER_PROTOCOL", "HTTP/1.1"},
      {"SERVER_SOFTWARE", "QuenbyTest/1.0"},
      {"HTTP_COOKIE", "flavour=oat"},
      {"HTTP_USER_AGENT", "agent-7"},
      {"URL", "/probe.dll"},
      {"HTTP_CACHE_CONTROL", "no-store"},
      {"HTTP_DATE", "Mon, 01 Jan 2024 10:00:00 GMT"},
      {"HTTP_ACCEPT", "text/x-accept"},
      {"HTTP_FROM", "from@example.test"},
      {"HTTP_HOST", "example.test"},
      {"HTTP_IF_MODIFIED_SINCE", "Tue, 02 Jan 2024 10:00:00 GMT"},
      {"HTTP_REFERER", "http://referer.test/"},
      {"HTTP_CONTENT_ENCODING", "identity"},
      {"HTTP_CONTENT_VERSION", "version-3"},
      {"HTTP_DERIVED_FROM", "derived-4"},
      {"HTTP_EXPIRES", "Wed, 03 Jan 2024 10:00:00 GMT"},
      {"HTTP_TITLE", "title-5"},
      {"HTTP_CONNECTION", "close"},
      {"HTTP_AUTHORIZATION", "Basic YW5uOnNlY3JldA=="},
      {"DOCUMENT_ROOT", root + "/"},
      {"SERVER_ADMIN", "webmaster@localhost"},
      {"SERVER_ADDR", address},  // the client's address
      {"HTTP_ACCEPT_LANGUAGE", "en-GB"},
      {"HTTP_ACCEPT_ENCODING", "gzip"},
      {"HTTP_CLIENT_IP", address},
      {"REDIRECT_STATUS", "200"},
      {"HTTP_REDIRECT_STATUS", "200"},
      {"REDIRECT_URL", "/probe.dll/extra"},
      {"HTTP_SESSION", "colour=blue\r\nsize=9\r\n"},
  };

  // A variable added to the server needs its line here.
  std::vector<std::string> table_names;
  for (const TServerVariable& variable : ServerVariables())
    table_names.emplace_back(variable.Name);
  std::vector<std::string> expected_names;
  for (const TExpected& variable : expected)
    expected_names.emplace_back(variable.Name);
  EXPECT_EQ(expected_names, table_names);

  for (const TExpected& variable : expected) {
    const std::string reply =
        server.Fetch(std::string("POST /probe.dll/extra?var=") + variable.Name + " HTTP/1.1\r\n" +
                     RequestHeaders + "\r\nbody=1");
    const TVariableAnswer answer = ParseVariableAnswer(BodyOf(reply));
    EXPECT_EQ(answer.Result, "1") << variable.Name;
    EXPECT_EQ(answer.Value, variable.Value) << variable.Name;
    EXPECT_EQ(answer.Size, std::to_string(variable.Value.size() + 1)) << variable.Name;
  }
}

}  // namespace
}  // namespace quenby::test
