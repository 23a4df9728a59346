// The probe module reports callback results exactly and sees writes outside its buffers.
#include <memory>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "isapi/fake_host.h"

namespace quenby::test {
namespace {

using ::testing::ElementsAre;
using namespace std::string_literals;

std::string Ask(FakeHost& host) {
  TestModule module("probe");
  module.Run(host);
  return host.body;
}

TEST(ProbeModule, VariableInBuffersAroundTheNeededSize) {
  struct Case {
    const char* query;
    const char* answer;
  };
  const Case cases[] = {
      {"var=REQUEST_METHOD&size=3",
       "result=0\nsize=4\nerror=122\nvalue=ZZZ\nterminated=no\nuntouched=yes\nguards=intact\n"},
      {"var=REQUEST_METHOD&size=4",
       "result=1\nsize=4\nerror=0\nvalue=GET\nterminated=yes\nuntouched=no\nguards=intact\n"},
      {"var=NO_SUCH&size=0",
       "result=0\nsize=0\nerror=0\nvalue=\nterminated=no\nuntouched=yes\nguards=intact\n"},
  };
  for (const Case& c : cases) {
    FakeHost host("GET", c.query);
    host.variables["REQUEST_METHOD"] = "GET";
    EXPECT_EQ(Ask(host), c.answer) << c.query;
  }
}

TEST(ProbeModule, ReportsAHostThatWritesPastTheBuffer) {
  FakeHost host("GET", "var=REQUEST_METHOD&size=2");
  host.variables["REQUEST_METHOD"] = "GET";
  host.overrun_variables = true;
  EXPECT_THAT(Ask(host), testing::EndsWith("guards=broken\n"));
}

TEST(ProbeModule, MapsDecodedUrlInPlaceAndReportsShortBuffers) {
  FakeHost fits("GET", "map=%2Fa+b&size=14");
  EXPECT_EQ(Ask(fits),
            "result=1\nsize=14\nerror=0\nvalue=/srv/site/a b\nterminated=yes\nguards=intact\n");
  FakeHost short_by_one("GET", "map=/a%20b&size=13");
  EXPECT_EQ(Ask(short_by_one),
            "result=0\nsize=14\nerror=122\nvalue=/a b\nterminated=yes\nguards=intact\n");
  FakeHost url_too_long("GET", "map=/abc&size=4");
  EXPECT_EQ(Ask(url_too_long), "probe: size too small for the url\n");
}

TEST(ProbeModule, MapExWritesOnlyThePath) {
  FakeHost host("GET", "mapex=/x");
  EXPECT_EQ(Ask(host),
            "result=1\nsize=3\nerror=0\nvalue=/srv/site/x\nterminated=yes\nothers=untouched\n"
            "guards=intact\n");
}

TEST(ProbeModule, SupportRequestsAndTheirResults) {
  FakeHost log("GET", "log=hello+world");
  EXPECT_EQ(Ask(log), "result=1\nerror=0\n");
  EXPECT_EQ(log.events.front(), "log hello world");
  FakeHost keep("GET", "keepconn");
  EXPECT_EQ(Ask(keep), "result=1\nvalue=7\nerror=0\n");
  FakeHost unknown("GET", "unknown");
  EXPECT_EQ(Ask(unknown), "result=0\nerror=4242\n");
  FakeHost trigger("GET", "trigger=a%0D%0Ab");
  EXPECT_EQ(Ask(trigger), "result=1\nerror=0\n");
  EXPECT_EQ(trigger.events.front(), "trigger a\r\nb");
}

TEST(ProbeModule, ReadClientReportsBytesOrFailure) {
  FakeHost enough("GET", "read=3");
  enough.client_bytes = "abcd";
  EXPECT_EQ(Ask(enough), "result=1\nsize=3\nerror=0\ndata=abc\nguards=intact\n");
  FakeHost short_input("GET", "read=5");
  short_input.client_bytes = "ab";
  EXPECT_EQ(Ask(short_input), "result=0\nsize=0\nerror=0\ndata=\nguards=intact\n");
}

TEST(ProbeModule, StaleConnectionIdIsKeptAcrossRequests) {
  TestModule module("probe");
  auto first = std::make_unique<FakeHost>("GET", "conn=stale");
  module.Run(*first);
  EXPECT_EQ(first->body, "stale=none\n");
  // The first host stays alive here, so the kept ID still answers.
  first->variables["REQUEST_METHOD"] = "PUT";
  FakeHost second("GET", "conn=stale");
  module.Run(second);
  EXPECT_EQ(second.body, "result=1\nsize=4\nerror=0\nvalue=PUT\nterminated=yes\nguards=intact\n");
}

TEST(ProbeModule, ZeroLengthAndZeroByteWrites) {
  FakeHost host("GET", "zero");
  EXPECT_EQ(Ask(host), "x\0y\nwrite=1,1\ncounts=0,4\n"s);
}

TEST(ProbeModule, ControlBlockDumpAndReturnValue) {
  FakeHost host("POST", "ecb&return=4", "k=v");
  TestModule module("probe");
  EXPECT_EQ(module.Run(host), static_cast<DWORD>(HSE_STATUS_ERROR));
  EXPECT_EQ(host.body,
            "cbSize=192\ndwVersion=0x00020000\ndwHttpStatusCode=0\n"
            "lpszLogData=DEFAULT LOG DATA\nlpszMethod=POST\nlpszQueryString=ecb&return=4\n"
            "lpszPathInfo=\nlpszPathTranslated=/srv/site/bin/module.dll\ncbTotalBytes=3\n"
            "cbAvailable=3\nlpszContentType=\nlpbData=k=v\n");
}

TEST(ProbeModule, AbortiveCloseAndUnknownQuestion) {
  FakeHost close("GET", "abortive");
  EXPECT_EQ(Ask(close), "probe: before close\nresult=1\n");
  EXPECT_THAT(close.events,
              ElementsAre("write probe: before close\n", "close", "write result=1\n"));
  FakeHost nothing("GET", "");
  EXPECT_EQ(Ask(nothing), "probe: unknown question\n");
}

}  // namespace
}  // namespace quenby::test
