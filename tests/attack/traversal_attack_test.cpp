// Requests that try to leave the document root or an alias folder, sent to the real server.
// Nothing outside the root or an alias folder may be read or run: no reply may carry the
// secret beside the root, /etc/passwd or the output of the module kept outside, and the
// activity log may name no file sent from outside.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "attack/attack_site.h"

namespace quenby {
namespace {

using test::TAttackSite;

struct TRefusedCase {
  const char* name;
  std::string target;
  const char* method = "GET";
};

// Every way of spelling ".." and friends, through the root, through an alias and at a module.
std::vector<TRefusedCase> RefusedCases() {
  std::string climb;
  for (int i = 0; i < 5000; ++i)
    climb += "../";
  return {
      // Through the root.
      {"dot dot slash", "/../secret.txt"},
      {"dot dot backslash", "/..\\secret.txt"},
      {"escaped dots", "/%2e%2e/secret.txt"},
      {"escaped dots and slash", "/%2e%2e%2fsecret.txt"},
      {"escaped slash", "/..%2fsecret.txt"},
      {"escaped backslash", "/..%5csecret.txt"},
      {"upper-case escapes", "/%2E%2E%2Fsecret.txt"},
      {"double-escaped dots stay literal", "/%252e%252e/secret.txt"},
      {"double-escaped slash stays literal", "/..%252fsecret.txt"},
      {"half-escaped dots", "/.%2e/secret.txt"},
      {"half-escaped dots, other half", "/%2e./secret.txt"},
      {"doubled slash to /etc/passwd", "//etc/passwd"},
      {"climb to /etc/passwd", "/%2e%2e/%2e%2e/%2e%2e/%2e%2e/%2e%2e/%2e%2e/%2e%2e/etc/passwd"},
      {"dot then dot dot", "/./../secret.txt"},
      {"dots between", "/.././././secret.txt"},
      {"climb out of a sub-folder", "/sub/../../secret.txt"},
      {"climb out of a sub-folder, dotted", "/sub/./../.././secret.txt"},
      {"mixed case folder", "/SUB/../../secret.txt"},
      {"mixed case escapes", "/%2E%2e/secret.txt"},
      {"the secret named in the root", "/secret.txt"},
      {"trailing dot", "/../secret.txt."},
      {"trailing space", "/../secret.txt%20"},
      {"trailing dots and spaces", "/../secret.txt.%20.%20"},
      {"dot dot with trailing space", "/..%20/secret.txt"},
      {"dot dot with trailing dot", "/.../secret.txt"},
      {"raw space after dot dot", "/.. /secret.txt"},
      {"NUL after dot dot", "/..%00/secret.txt"},
      {"NUL after the name", "/../secret.txt%00"},
      {"NUL cutting an extension", "/a.txt%00.html"},
      {"tab after dot dot", "/..%09/secret.txt"},
      {"line break after dot dot", "/..%0d%0a/secret.txt"},
      {"high byte after dot dot", "/..%ff/secret.txt"},
      {"no leading slash", "../secret.txt"},
      {"absolute form", "http://127.0.0.1/../secret.txt"},
      {"absolute form, escaped", "http://127.0.0.1/%2e%2e/secret.txt"},
      {"parameter part kept as sent", "/x=/../../secret.txt"},
      {"query after the climb", "/../secret.txt?a=1"},
      {"HEAD", "/../secret.txt", "HEAD"},
      {"POST", "/%2e%2e/secret.txt", "POST"},
      {"15 KiB climb", "/" + climb + "secret.txt"},
      {"64 KiB path", "/" + std::string(64 * 1024, 'a') + "/../../secret.txt"},
      // A link in the root is followed, but ".." is taken from the path's text, not from
      // where the link points: "linked/.." is the root again.
      {"dot dot after a linked folder", "/linked/../secret.txt"},
      {"climb out through a linked folder", "/linked/../../secret.txt"},
      // Through an alias: only the file name is taken from the request.
      {"alias dot dot", "/docs/../../secret.txt"},
      {"alias dot dot into the root", "/docs/../secret.txt"},
      {"alias backslashes", "/docs/..\\..\\secret.txt"},
      {"alias escaped dots", "/docs/%2e%2e/%2e%2e/secret.txt"},
      {"alias escaped slashes", "/docs/%2e%2e%2f%2e%2e%2fsecret.txt"},
      {"alias double escapes", "/docs/%252e%252e/%252e%252e/secret.txt"},
      {"alias half-escaped dots", "/docs/.%2e/.%2e/secret.txt"},
      {"alias mixed case", "/DOCS/../../secret.txt"},
      {"alias deeper in the path", "/sub/docs/../../../secret.txt"},
      {"alias with the secret's name", "/docs/secret.txt"},
      {"alias NUL", "/docs/x/..%00/secret.txt"},
      {"alias trailing dot and space", "/docs/../../secret.txt.%20"},
      {"alias over 16 KiB", "/docs/" + std::string(17 * 1024, 'a') + "/../../../secret.txt"},
      // At a module outside the alias folder.
      {"module dot dot", "/bin/../../evil.dll"},
      {"module dot dot into the root", "/bin/../evil.dll"},
      {"module backslashes", "/bin/..\\..\\evil.dll"},
      {"module escaped dots", "/bin/%2e%2e/%2e%2e/evil.dll"},
      {"module escaped slashes", "/bin/%2e%2e%2f%2e%2e%2fevil.dll"},
      {"module double escapes", "/bin/%252e%252e/%252e%252e/evil.dll"},
      {"module after a module", "/bin/hello.dll/../../../evil.dll"},
      {"module NUL", "/bin/hello.dll%00/../../evil.dll"},
      {"module mixed case", "/BIN/../../evil.dll"},
      {"module name in the alias", "/bin/evil.dll"},
      {"module name in the root", "/evil.dll"},
      {"module with a query", "/bin/x/../../../evil.dll?q=1"},
      {"module as path information", "/bin/hello.dll/..%2f..%2f..%2fevil.dll"},
  };
}

struct TServedCase {
  const char* name;
  const char* target;
  const char* body;  // a fragment of the reply's body
};

// Requests that stay inside: they must still be served, or the refusals above prove nothing.
const TServedCase ServedCases[] = {
    {"a file", "/a.txt", "hello"},
    {"dot dot that stays inside", "/sub/../a.txt", "hello"},
    {"escaped dots that stay inside", "/sub/%2e%2e/a.txt", "hello"},
    {"a folder named with escapes", "/%252e%252e/literal.txt", "literal"},
    {"an alias file", "/docs/guide.txt", "guide"},
    {"an alias file through dot dot", "/docs/x/../guide.txt", "guide"},
    {"a module in the alias folder", "/bin/hello.dll", "Hello from an extension module"},
    // Links inside the root are followed: a user may link a folder into the site on purpose.
    {"a linked file", "/linked.txt", "linked file"},
    {"a file in a linked folder", "/linked/inside.txt", "linked folder"},
};

// A POST says its body is empty: without a length its body would run to the client's close.
std::string Request(const std::string& method, const std::string& target) {
  const std::string length = method == "POST" ? "Content-Length: 0\r\n" : "";
  return method + " " + target + " HTTP/1.0\r\n" + length + "\r\n";
}

void ExpectNothingFromOutside(const std::string& reply, const std::string& name) {
  EXPECT_THAT(reply, testing::Not(testing::HasSubstr(test::SecretText))) << name;
  EXPECT_THAT(reply, testing::Not(testing::HasSubstr(test::PasswdMark))) << name;
  EXPECT_THAT(reply, testing::Not(testing::HasSubstr(test::OutsideModuleMark))) << name;
}

TEST(TraversalAttack, NothingOutsideTheRootOrAnAliasIsReadOrRun) {
  TAttackSite site;
  ASSERT_GT(site.Port(), 0);

  const std::vector<TRefusedCase> refused = RefusedCases();
  int refused_as_they_should = 0;
  for (const TRefusedCase& c : refused) {
    const test::TRawReply reply = test::SendRaw(site.Port(), Request(c.method, c.target));
    ExpectNothingFromOutside(reply.Bytes, c.name);
    // Refused: a 404 like any missing file, or, for a request line over the limit, a close
    // without a reply.
    const std::string status = test::StatusLine(reply.Bytes);
    const bool as_missing = status == "HTTP/1.1 404 Not Found";
    const bool closed_unanswered = reply.Bytes.empty() && reply.Closed;
    EXPECT_TRUE(as_missing || closed_unanswered)
        << c.name << ": " << (reply.Bytes.empty() ? "no reply, not closed" : status);
    if (as_missing || closed_unanswered)
      ++refused_as_they_should;
  }
  for (const TServedCase& c : ServedCases) {
    const test::TRawReply reply = test::SendRaw(site.Port(), Request("GET", c.target));
    EXPECT_EQ(test::StatusLine(reply.Bytes), "HTTP/1.1 200 OK") << c.name;
    EXPECT_THAT(test::ReplyBodyOf(reply.Bytes), testing::HasSubstr(c.body)) << c.name;
    ExpectNothingFromOutside(reply.Bytes, c.name);
  }
  site.ExpectServesNormalPage("the traversal corpus");

  // The log names every file sent: each lies inside the root or the alias folder.
  const std::string root = site.Root() + "/";
  const std::string docs = site.Dir().FilePath("docs") + "/";
  for (const std::string& file : site.ServedFiles()) {
    EXPECT_TRUE(file.rfind(root, 0) == 0 || file.rfind(docs, 0) == 0) << "sent " << file;
  }
  // Every served case but the module's, and the normal page.
  EXPECT_EQ(site.ServedFiles().size(), std::size(ServedCases));
  site.ExpectCleanStop();
  RecordProperty("cases_tried", static_cast<int>(refused.size()));
  RecordProperty("cases_refused", refused_as_they_should);
}

}  // namespace
}  // namespace quenby
