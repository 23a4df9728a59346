#include "console/file_validators.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "http/fixed_zone.h"

namespace quenby {
namespace {

constexpr std::int64_t Size = 1000;

TFileReplyPlan Partial(std::int64_t first, std::int64_t length) {
  return {TFileReplyKind::Partial, first, length};
}

void ExpectPlan(const TFileReplyPlan& actual, const TFileReplyPlan& expected,
                const std::string& what) {
  EXPECT_EQ(static_cast<int>(actual.Kind), static_cast<int>(expected.Kind)) << what;
  EXPECT_EQ(actual.First, expected.First) << what;
  EXPECT_EQ(actual.Length, expected.Length) << what;
}

TEST(FileRangeTest, SingleRangesAreClippedToTheFile) {
  ExpectPlan(PlanRange("bytes=0-0", Size), Partial(0, 1), "first byte");
  ExpectPlan(PlanRange("bytes=10-19", Size), Partial(10, 10), "middle");
  ExpectPlan(PlanRange("bytes=990-", Size), Partial(990, 10), "open end");
  ExpectPlan(PlanRange("bytes=-10", Size), Partial(990, 10), "suffix");
  ExpectPlan(PlanRange("bytes=-5000", Size), Partial(0, Size), "suffix longer than the file");
  ExpectPlan(PlanRange("bytes=500-5000", Size), Partial(500, 500), "end beyond the file");
  ExpectPlan(PlanRange("BYTES = 1-2 ", Size), Partial(1, 2), "unit in any case, blanks");
  ExpectPlan(PlanRange("bytes=999-999999999999999999999999999", Size), Partial(999, 1),
             "an end beyond 64 bits saturates");
}

TEST(FileRangeTest, UnsatisfiableRangesAreTold) {
  const TFileReplyPlan unsatisfiable{TFileReplyKind::Unsatisfiable, 0, 0};
  ExpectPlan(PlanRange("bytes=-0", Size), unsatisfiable, "empty suffix");
  ExpectPlan(PlanRange("bytes=1000-", Size), unsatisfiable, "start at the size");
  ExpectPlan(PlanRange("bytes=1000-2000", Size), unsatisfiable, "start beyond the size");
  ExpectPlan(PlanRange("bytes=99999999999999999999999-", Size), unsatisfiable,
             "a start beyond 64 bits saturates");
  ExpectPlan(PlanRange("bytes=0-0", 0), unsatisfiable, "empty file");
  ExpectPlan(PlanRange("bytes=-1", 0), unsatisfiable, "suffix of an empty file");
}

TEST(FileRangeTest, MalformedOrMultipleRangesGiveTheWholeFile) {
  for (const char* range :
       {"bytes=5-2", "bytes=", "bytes=-", "bytes=a-b", "bytes=1-2x", "bytes=0-1,5-6", "items=0-1",
        "bytes 0-1", "bytes=--1", "bytes=+1-2", "bytes=1"}) {
    ExpectPlan(PlanRange(range, Size), TFileReplyPlan{}, range);
  }
}

TEST(FileRangeTest, ContentRangeValues) {
  EXPECT_EQ(ContentRangeValue(Partial(0, 1), Size), "bytes 0-0/1000");
  EXPECT_EQ(ContentRangeValue(Partial(990, 10), Size), "bytes 990-999/1000");
  EXPECT_EQ(ContentRangeValue({TFileReplyKind::Unsatisfiable, 0, 0}, Size), "bytes */1000");
}

TEST(ETagListTest, MatchesAnyListedTagWeaklyOrTheStar) {
  const std::string etag = "\"3e8-5\"";
  EXPECT_TRUE(ETagListMatches("\"3e8-5\"", etag));
  EXPECT_TRUE(ETagListMatches("W/\"3e8-5\"", etag));
  EXPECT_TRUE(ETagListMatches("\"x\", \"y,z\" ,W/\"3e8-5\"", etag));
  EXPECT_TRUE(ETagListMatches(" * ", etag));
  EXPECT_FALSE(ETagListMatches("\"3e8-6\"", etag));
  EXPECT_FALSE(ETagListMatches("3e8-5", etag)) << "an unquoted tag is no tag";
  EXPECT_FALSE(ETagListMatches("\"3e8-5", etag));
  EXPECT_FALSE(ETagListMatches("\"a\" \"3e8-5\"", etag)) << "tags are separated by commas";
}

class FileValidatorsTest : public testing::FixedZoneTest {
 protected:
  // Sun, 06 Nov 1994 08:49:37 GMT
  static constexpr std::int64_t Modified = 784111777;
  const TFileValidators validators_ = MakeFileValidators(Size, Modified, 5);
  static constexpr std::int64_t Now = Modified + 3600;

  TFileReplyPlan Plan(std::string if_none_match, std::string if_modified_since = "",
                      std::string range = "", std::string if_range = "") const {
    const TFileRequestConditions conditions{std::move(if_none_match), std::move(if_modified_since),
                                            std::move(range), std::move(if_range)};
    return PlanFileReply(conditions, validators_, Size, Now);
  }
};

TEST_F(FileValidatorsTest, ValidatorsComeFromSizeAndTime) {
  EXPECT_EQ(validators_.ETag, "\"3e8-ae1b981bc490a05\"");
  EXPECT_EQ(validators_.LastModified, "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_NE(MakeFileValidators(Size, Modified, 6).ETag, validators_.ETag);
  EXPECT_NE(MakeFileValidators(Size + 1, Modified, 5).ETag, validators_.ETag);
  std::int64_t seconds = 0;
  ASSERT_TRUE(ParseHttpDateSeconds(validators_.LastModified, seconds));
  EXPECT_EQ(seconds, Modified) << "the local zone must not shift the date";
  EXPECT_FALSE(ParseHttpDateSeconds("yesterday", seconds));
}

TEST_F(FileValidatorsTest, ConditionalsGiveNotModified) {
  const TFileReplyPlan not_modified{TFileReplyKind::NotModified, 0, 0};
  ExpectPlan(Plan(validators_.ETag), not_modified, "same tag");
  ExpectPlan(Plan("\"old\""), TFileReplyPlan{}, "other tag");
  ExpectPlan(Plan("", validators_.LastModified), not_modified, "same date");
  ExpectPlan(Plan("", "Sun, 06 Nov 1994 09:00:00 GMT"), not_modified, "later");
  ExpectPlan(Plan("", "Sun, 06 Nov 1994 08:49:36 GMT"), TFileReplyPlan{},
             "a second before the change");
  ExpectPlan(Plan("", "Sun, 06 Nov 2050 08:49:37 GMT"), TFileReplyPlan{},
             "a date in the future is ignored");
  ExpectPlan(Plan("", "garbage"), TFileReplyPlan{}, "unreadable date");
  ExpectPlan(Plan("\"old\"", validators_.LastModified), TFileReplyPlan{},
             "If-None-Match decides alone");
  ExpectPlan(Plan(validators_.ETag, "", "bytes=0-1"), not_modified, "a fresh copy needs no range");
}

TEST_F(FileValidatorsTest, IfRangeMustNameThisVersion) {
  const std::string range = "bytes=0-1";
  ExpectPlan(Plan("", "", range, validators_.ETag), Partial(0, 2), "same tag");
  ExpectPlan(Plan("", "", range, validators_.LastModified), Partial(0, 2), "same date");
  ExpectPlan(Plan("", "", range, "\"old\""), TFileReplyPlan{}, "other tag");
  ExpectPlan(Plan("", "", range, "W/" + validators_.ETag), TFileReplyPlan{}, "a weak tag");
  ExpectPlan(Plan("", "", range, "Sun, 06 Nov 1994 09:00:00 GMT"), TFileReplyPlan{},
             "another date");
}

}  // namespace
}  // namespace quenby
