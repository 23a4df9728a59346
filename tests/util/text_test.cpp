#include "util/text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "util/exception.h"

namespace quenby {
namespace {

using ::testing::AllOf;
using ::testing::Property;
using ::testing::StrEq;
using ::testing::Throws;

TEST(Text, StrToIntAcceptsDecimalAndRejectsTheRestWithTheConsoleMessage) {
  EXPECT_EQ(StrToInt("8080"), 8080);
  EXPECT_EQ(StrToInt("  -12"), -12);
  EXPECT_EQ(StrToInt("$1F"), 31);
  for (const char* bad : {"", "12a", "1 ", "99999999999", "-"}) {
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
  }
  EXPECT_THAT([] { StrToInt(""); },
              Throws<EConvertError>(
                  AllOf(Property(&EConvertError::Message, "'' is not a valid integer value"),
                        Property(&EConvertError::ClassName, StrEq("EConvertError")))));
}

TEST(Text, PositionsCountFromOne) {
  EXPECT_EQ(Pos("b", "abcb"), 2u);
  EXPECT_EQ(Pos("b", "abcb", 3), 4u);
  EXPECT_EQ(Pos("x", "abc"), 0u);
  EXPECT_EQ(Pos("", "abc"), 0u);
  EXPECT_EQ(PosText(".DLL", "/bin/App.Dll/x"), 9u);
}

TEST(Text, TrimAndCase) {
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(UpperCase("héllo"), "HéLLO");
  EXPECT_TRUE(SameText("Content-Length", "content-length"));
  EXPECT_FALSE(SameText("abc", "abd"));
}

TEST(Text, PortDigitsOnlyKeepsDigitsBeforeTheFirstDot) {
  EXPECT_EQ(PortDigitsOnly("8a0"), "80");
  EXPECT_EQ(PortDigitsOnly("80.5"), "80");
  EXPECT_EQ(PortDigitsOnly(".80"), "");
  EXPECT_EQ(PortDigitsOnly("65536"), "65536");
}

TEST(Text, EnsureTrailingBackslashUsesThePlatformDelimiter) {
  EXPECT_EQ(EnsureTrailingBackslash(""), "");
  EXPECT_EQ(EnsureTrailingBackslash("/srv/site"), "/srv/site/");
  EXPECT_EQ(EnsureTrailingBackslash("/srv/site/"), "/srv/site/");
  EXPECT_EQ(EnsureTrailingBackslash("D:\\site\\"), "D:\\site\\");
}

}  // namespace
}  // namespace quenby

namespace quenby {
namespace {

TEST(Text, LinesRoundTripThroughTheTextForm) {
  EXPECT_EQ(LinesToText({"a", "", "b"}), "a\r\n\r\nb\r\n");
  EXPECT_EQ(TextToLines("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(TextToLines("a\nb\rc"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(TextToLines("").empty());
}

}  // namespace
}  // namespace quenby
