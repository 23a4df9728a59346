#include "isapi/extension_headers.h"

#include <gtest/gtest.h>

namespace quenby {
namespace {

TEST(TextToDateTimeTest, ReadsDatesWithOptionalTimesAndRefusesTheRest) {
  TDateTime value = 0;
  ASSERT_TRUE(TryTextToDateTime("2030-01-02", value));
  EXPECT_DOUBLE_EQ(value, EncodeDate(2030, 1, 2));
  ASSERT_TRUE(TryTextToDateTime("2030-01-02 13:45:30", value));
  EXPECT_DOUBLE_EQ(value, EncodeDateTime(2030, 1, 2, 13, 45, 30, 0));
  ASSERT_TRUE(TryTextToDateTime("2030-01-02 13:45", value));
  EXPECT_DOUBLE_EQ(value, EncodeDateTime(2030, 1, 2, 13, 45, 0, 0));
  for (const char* bad : {"", "someday", "2030-13-01", "2030-02-30", "2030-01-02 25:00",
                          "2030-01-02T10:00", "Tue, 01 Jan 2030 00:00:00 GMT", "2030-01-02 "})
    EXPECT_FALSE(TryTextToDateTime(bad, value)) << bad;
}

}  // namespace
}  // namespace quenby
