#include "http/http_text.h"

#include <gtest/gtest.h>

#include "http/http_request_info.h"

namespace quenby {
namespace {

TEST(HttpTextTest, SplitOffTakesTextBeforeDelimiter) {
  std::string text = "a=b=c";
  EXPECT_EQ(SplitOff(text, "="), "a");
  EXPECT_EQ(text, "b=c");
  EXPECT_EQ(SplitOff(text, "x"), "b=c");  // absent: everything, and the text is used up
  EXPECT_EQ(text, "");

  std::string kept = "GET / HTTP";
  EXPECT_EQ(SplitOff(kept, " ", false), "GET");
  EXPECT_EQ(kept, "GET / HTTP");

  std::string mixed = "oneANDtwo";
  EXPECT_EQ(SplitOff(mixed, "and"), "oneANDtwo");
  mixed = "oneANDtwo";
  EXPECT_EQ(SplitOff(mixed, "and", true, false), "one");
  EXPECT_EQ(mixed, "two");
}

TEST(HttpTextTest, LastPosFindsLastOccurrenceAtOrBeforeStart) {
  EXPECT_EQ(LastPos(" ", "GET /a b HTTP/1.1"), 9u);
  EXPECT_EQ(LastPos(" ", "GET /a b HTTP/1.1", 8), 7u);
  EXPECT_EQ(LastPos(" ", "nospace"), 0u);
  EXPECT_EQ(LastPos(" ", ""), 0u);
  EXPECT_EQ(LastPos("ab", "xABxab", -1), 5u);  // ignores case
  EXPECT_EQ(LastPos("ab", "xABxab", 4), 2u);
  EXPECT_EQ(LastPos("ab", "xABxab", 100), 5u);
  EXPECT_EQ(LastPos("ab", "ab", 0), 0u);
  EXPECT_EQ(LastPos("abc", "ab"), 0u);
}

TEST(HttpTextTest, PercentDecodeEdges) {
  EXPECT_EQ(PercentDecode("%zzA"), "A");
  EXPECT_EQ(PercentDecode("%00x"), "x");
  EXPECT_EQ(PercentDecode("%4"), std::string(1, '\x04'));
  EXPECT_EQ(PercentDecode("%"), "");
  EXPECT_EQ(PercentDecode("a%2fb%2E%FF+"), "a/b.\xFF+");
  EXPECT_EQ(PercentDecode("%4z!"), "!");
}

TEST(DecodeParamsTest, SplitsAtAmpersandAndDecodes) {
  THTTPRequestInfo request;
  request.DecodeParams("a=1&b=x+y%21&c=%2B");
  EXPECT_EQ(request.ParamList, (std::vector<std::string>{"a=1", "b=x y!", "c=+"}));
  request.DecodeParams("a&&b&");
  EXPECT_EQ(request.ParamList, (std::vector<std::string>{"a", "", "b", ""}));
  request.DecodeParams("x=1;y=2");
  EXPECT_EQ(request.ParamList, (std::vector<std::string>{"x=1;y=2"}));
  request.DecodeParams("");
  EXPECT_TRUE(request.ParamList.empty());
}

}  // namespace
}  // namespace quenby
