#include "util/date_time.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "util/exception.h"

namespace quenby {
namespace {

TEST(DateTime, EncodeDecodeRoundTripAndWeekday) {
  const TDateTime value = EncodeDateTime(1994, 11, 6, 8, 49, 37);
  const DateParts parts = DecodeDateTime(value);
  EXPECT_EQ(parts.year, 1994);
  EXPECT_EQ(parts.month, 11);
  EXPECT_EQ(parts.day, 6);
  EXPECT_EQ(parts.hour, 8);
  EXPECT_EQ(parts.minute, 49);
  EXPECT_EQ(parts.second, 37);
  EXPECT_EQ(parts.day_of_week, 1);  // a Sunday
  EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDate(1970, 1, 1), UnixDateDelta);
  EXPECT_EQ(DecodeDateTime(EncodeDate(2000, 2, 29) + EncodeTime(23, 59, 59, 999)).msec, 999);
}

TEST(DateTime, InvalidPartsAreRefused) {
  TDateTime out = 0;
  EXPECT_FALSE(TryEncodeDate(2001, 2, 29, out));
  EXPECT_FALSE(TryEncodeDate(2001, 13, 1, out));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, out));
  EXPECT_THROW(EncodeDate(2001, 0, 1), EConvertError);
}

TEST(DateTime, NowIsLocalTimeAheadOfUtcByTheOffset) {
  const double difference = Now() - NowUTC() - LocalOffsetFromUTC();
  EXPECT_LT(std::abs(difference), 1.0 / 86400.0);
}

}  // namespace
}  // namespace quenby
