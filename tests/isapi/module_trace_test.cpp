// The module trace: one line per call into a module and per callback, tagged with the run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "support/isapi_server.h"

namespace quenby::test {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

class ModuleTraceTest : public ::testing::Test {
 protected:
  ModuleTraceTest() : server_(QUENBY_TEST_MODULE_DIR) {
    server_.Runner().TraceModules = true;
    server_.Runner().OnModuleTrace = [this](TISAPIRunner&, const std::string& line) {
      std::lock_guard<std::mutex> guard(lock_);
      lines_.push_back(line);
    };
  }

  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
  }

  TISAPITestServer server_;
  std::mutex lock_;
  std::vector<std::string> lines_;
};

TEST_F(ModuleTraceTest, AModuleThatReadsVariablesAndWritesAHeadAndABody) {
  server_.Start();
  const std::string reply = server_.Fetch(
      "GET /echo.dll?q=" + std::string(100, 'x') +
      " HTTP/1.1\r\nHost: h\r\nCookie: session=secret\r\nAuthorization: Basic dTpw\r\n\r\n");
  ASSERT_THAT(reply, StartsWith("HTTP/1.1 200 OK"));
  const std::vector<std::string> lines = Lines();
  ASSERT_GE(lines.size(), 6u);
  const std::string tag = lines[0].substr(0, lines[0].find(']') + 1);
  EXPECT_THAT(tag, StartsWith("[echo.dll #"));
  for (const std::string& line : lines)
    EXPECT_THAT(line, StartsWith(tag + " ")) << "every line names its run";
  EXPECT_EQ(lines[0], tag + " request \"GET /echo.dll?q=" + std::string(100, 'x') +
                          " HTTP/1.1\" from 127.0.0.1");
  EXPECT_EQ(lines[1], tag + " GetExtensionVersion -> TRUE, version 2.0 \"Quenby echo module\"");
  EXPECT_EQ(lines[2], tag + " HttpExtensionProc called");
  EXPECT_EQ(lines[3], tag + " ServerSupportFunction HSE_REQ_SEND_RESPONSE_HEADER_EX -> TRUE");
  EXPECT_EQ(lines.back(), tag + " HttpExtensionProc -> HSE_STATUS_SUCCESS");
  EXPECT_THAT(lines, Contains(tag + " GetServerVariable REQUEST_METHOD -> TRUE, 4 bytes \"GET\""));
  EXPECT_THAT(lines, Contains(tag + " GetServerVariable QUERY_STRING -> TRUE, 103 bytes \"q=" +
                              std::string(62, 'x') + "\"..."))
      << "long values are cut";
  EXPECT_THAT(lines, Contains(tag + " GetServerVariable HTTP_COOKIE -> TRUE, 15 bytes "
                                    "(value not shown)"));
  EXPECT_THAT(lines,
              Contains(AllOf(StartsWith(tag + " WriteClient "), HasSubstr(" bytes -> TRUE"))));
  for (const std::string& line : lines)
    EXPECT_THAT(line, AllOf(Not(HasSubstr("secret")), Not(HasSubstr("dTpw"))));
}

TEST_F(ModuleTraceTest, FailedCallbacksShowTheirErrorAndFaultsEndTheRun) {
  server_.Start();
  server_.Get("/probe.dll?var=REQUEST_METHOD&size=2");
  server_.Get("/probe.dll?unknown=9999");
  server_.Get("/crash.dll?segv");
  const std::vector<std::string> lines = Lines();
  EXPECT_THAT(lines, Contains(AllOf(StartsWith("[probe.dll #"),
                                    HasSubstr("] GetServerVariable REQUEST_METHOD -> FALSE, "
                                              "error 122, 4 bytes \"GET\""))));
  EXPECT_THAT(lines, Contains(AllOf(StartsWith("[probe.dll #"),
                                    HasSubstr("] ServerSupportFunction request 9999 -> FALSE"))));
  EXPECT_THAT(lines, Contains(AllOf(StartsWith("[crash.dll #"),
                                    HasSubstr("] HttpExtensionProc faulted (signal)"))));
  // The probe sees the error code it set before the unknown request, as without a trace.
  EXPECT_THAT(BodyOf(server_.Get("/probe.dll?unknown=9999")), HasSubstr("error=4242"));
}

TEST_F(ModuleTraceTest, ModulesThatCannotRunSayWhy) {
  server_.Start();
  server_.Get("/missing.dll");
  server_.Get("/noproc.dll");
  server_.Get("/refuse.dll");
  const std::vector<std::string> lines = Lines();
  EXPECT_THAT(lines,
              Contains(AllOf(StartsWith("[missing.dll #"), HasSubstr("] cannot be loaded: 404"))));
  EXPECT_THAT(lines, Contains(AllOf(StartsWith("[noproc.dll #"),
                                    HasSubstr("HttpExtensionProc procedure not assigned"))));
  EXPECT_THAT(lines, Contains(AllOf(StartsWith("[refuse.dll #"),
                                    HasSubstr("] GetExtensionVersion -> FALSE"))));
}

TEST_F(ModuleTraceTest, NothingIsTracedWithoutTheOption) {
  server_.Runner().TraceModules = false;
  server_.Start();
  server_.Get("/echo.dll");
  server_.Get("/crash.dll?segv");
  EXPECT_THAT(Lines(), IsEmpty());
}

}  // namespace
}  // namespace quenby::test
