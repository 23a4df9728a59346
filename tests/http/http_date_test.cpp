#include "http/http_date.h"

#include <gtest/gtest.h>

#include "fixed_zone.h"
#include "util/date_time.h"

namespace quenby {
namespace {

// One second as a fraction of a day, for comparisons of date-times.
constexpr double Second = 1.0 / 86400.0;

class HttpDateTest : public testing::FixedZoneTest {};

TEST_F(HttpDateTest, ReadsTheThreeFormsAsTheSameInstantInLocalTime) {
  // 08:49:37 GMT is 09:49:37 one hour east.
  const TDateTime expected = EncodeDateTime(1994, 11, 6, 9, 49, 37);
  EXPECT_NEAR(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), expected, Second / 10);
  EXPECT_NEAR(ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), expected, Second / 10);
  EXPECT_NEAR(ParseHttpDate("Sun Nov  6 08:49:37 1994"), expected, Second / 10);
  EXPECT_NEAR(ParseHttpDate("sun,06 nov 1994 08:49:37 gmt"), expected, Second / 10);
}

TEST_F(HttpDateTest, NumericZonesAndTwoDigitYears) {
  EXPECT_NEAR(ParseHttpDate("Sun, 06 Nov 1994 10:49:37 +0200"),
              EncodeDateTime(1994, 11, 6, 9, 49, 37), Second / 10);
  EXPECT_NEAR(ParseHttpDate("Sun, 06 Nov 1994 03:19:37 -0530"),
              EncodeDateTime(1994, 11, 6, 9, 49, 37), Second / 10);
  // An unreadable offset counts as 0.
  EXPECT_NEAR(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 +zz99"),
              EncodeDateTime(1994, 11, 6, 9, 49, 37), Second / 10);
  EXPECT_NEAR(ParseHttpDate("Thursday, 01-Jan-70 00:00:00 GMT"),
              EncodeDateTime(2070, 1, 1, 1, 0, 0), Second / 10);
  EXPECT_NEAR(ParseHttpDate("06 Nov 1994"), EncodeDate(1994, 11, 6) + 1.0 / 24, Second / 10);
}

TEST_F(HttpDateTest, UnreadableTextGivesJustTheLocalOffset) {
  const TDateTime offset = 1.0 / 24;
  EXPECT_NEAR(ParseHttpDate(""), offset, Second / 10);
  EXPECT_NEAR(ParseHttpDate("yesterday"), offset, Second / 10);
  EXPECT_NEAR(ParseHttpDate("Sun, 06 Foo 1994 08:49:37 GMT"), offset, Second / 10);
  EXPECT_NEAR(ParseHttpDate("Sun, 31 Feb 1994 08:49:37 GMT"), offset, Second / 10);
  EXPECT_NEAR(ParseHttpDate("Sun, 06 Nov 1994 25:61:00 GMT"), offset, Second / 10);
  TDateTime untouched = 42;
  EXPECT_FALSE(TryParseHttpDate("garbage", untouched));
  EXPECT_EQ(untouched, 42);
}

TEST_F(HttpDateTest, FormatsGmtAndLocalTexts) {
  const TDateTime value = EncodeDateTime(1994, 11, 6, 8, 49, 37);
  EXPECT_EQ(HttpDateGMT(value), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(HttpDateLocal(value), "Sun, 6 Nov 1994 08:49:37 +0100");
  EXPECT_NEAR(ParseHttpDate(HttpDateLocal(value)), value, Second / 10);
}

class WestZoneDateTest : public testing::FixedZoneTest {
 protected:
  WestZoneDateTest() : FixedZoneTest("QNW+5:30") {}
};

TEST_F(WestZoneDateTest, NegativeOffsetIsWrittenWithMinus) {
  EXPECT_EQ(HttpDateLocal(EncodeDateTime(2001, 2, 3, 4, 5, 6)), "Sat, 3 Feb 2001 04:05:06 -0530");
}

}  // namespace
}  // namespace quenby
