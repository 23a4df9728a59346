#include "util/activity_log.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <latch>
#include <map>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "util/exception.h"
#include "util/text.h"

namespace quenby {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Property;
using ::testing::Throws;

constexpr std::size_t StampLength = 19;  // "YYYY-MM-DD HH:NN:SS"

std::size_t OpenDescriptorCount() {
  const std::filesystem::directory_iterator fds("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(begin(fds), end(fds)));
}

// Control bytes are escaped, so that a text can never forge lines or entries of its own.
TEST(ActivityLog, EntryIsStampSeparatorThenEscapedTextAppendedAtTheEnd) {
  test::TempDir dir;
  const std::string log = dir.Write("quenby.log", "earlier entry\r\n");
  const TDateTime stamp = EncodeDateTime(2007, 3, 3, 8, 5, 9);
  AppendLogEntry("Command GET /index.htm received from 10.0.0.7:1041", log, stamp);
  AppendLogEntry(std::string("two\r\nlines, a tab\t, a NUL ") + '\0' + "\x7f\x1b end%0A", log,
                 stamp);
  EXPECT_EQ(dir.Read("quenby.log"),
            "earlier entry\r\n"
            "2007-03-03 08:05:09 ------------ \r\n"
            "Command GET /index.htm received from 10.0.0.7:1041\r\n"
            "2007-03-03 08:05:09 ------------ \r\n"
            "two%0D%0Alines, a tab%09, a NUL %00%7F%1B end%0A\r\n");

  const std::string before = FormatStamp(Now());
  AppendLogEntry("now", dir.FilePath("new.log"));
  const std::string after = FormatStamp(Now());
  const std::string written = dir.Read("new.log");
  const std::string stamp_text = written.substr(0, StampLength);
  EXPECT_LE(before, stamp_text);
  EXPECT_GE(after, stamp_text);
  EXPECT_EQ(written.substr(StampLength), " ------------ \r\nnow\r\n");
}

TEST(ActivityLog, FormatStampPadsFieldsAndNeverRoundsUpToTheNextSecond) {
  EXPECT_EQ(FormatStamp(EncodeDateTime(1999, 12, 31, 23, 59, 59, 999)), "1999-12-31 23:59:59");
  EXPECT_EQ(FormatStamp(EncodeDate(2024, 2, 29)), "2024-02-29 00:00:00");
}

TEST(ActivityLog, EmptyFileNameWritesNothingAndRaisesNothing) {
  EXPECT_NO_THROW(AppendLogEntry("lost", ""));
}

TEST(ActivityLog, FailureRaisesTheOsErrorClosesTheFileAndReleasesTheLock) {
  test::TempDir dir;
  dir.Write("folder/x", "");
  const std::size_t descriptors = OpenDescriptorCount();
  struct Case {
    std::string name;
    int error;
  };
  std::vector<Case> cases{{dir.FilePath("missing/quenby.log"), ENOENT},
                          {dir.FilePath("folder"), EISDIR}};
  if (std::filesystem::exists("/dev/full"))  // opens, then every write fails
    cases.push_back({"/dev/full", ENOSPC});
  for (const Case& c : cases) {
    EXPECT_THAT([&] { AppendLogEntry("entry", c.name); },
                Throws<EInOutError>(AllOf(Property(&EInOutError::Message, HasSubstr(c.name)),
                                          Property(&EInOutError::ErrorCode, c.error))));
    const std::unique_lock<std::mutex> held(LogLock(), std::try_to_lock);
    EXPECT_TRUE(held.owns_lock()) << c.name;
  }
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
  EXPECT_FALSE(dir.Exists("missing"));
}

TEST(ActivityLog, ConcurrentEntriesStayWhole) {
  constexpr int Threads = 8;
  constexpr int EntriesPerThread = 200;
  test::TempDir dir;
  const std::string log = dir.FilePath("quenby.log");
  std::latch start(Threads);
  std::vector<std::thread> writers;
  for (int t = 0; t < Threads; ++t) {
    writers.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < EntriesPerThread; ++i)
        AppendLogEntry(Format("thread %d entry %d", t, i), log);
    });
  }
  for (auto& writer : writers)
    writer.join();

  const std::vector<std::string> lines = TextToLines(dir.Read("quenby.log"));
  ASSERT_EQ(lines.size(), 2u * Threads * EntriesPerThread);
  std::map<int, int> next_entry;  // per thread: entries of one thread keep their order
  for (std::size_t i = 0; i < lines.size(); i += 2) {
    EXPECT_EQ(lines[i].size(), StampLength + LogStampSeparator.size()) << lines[i];
    EXPECT_TRUE(lines[i].ends_with(LogStampSeparator)) << lines[i];
    int thread = -1;
    int entry = -1;
    char rest = 0;
    ASSERT_EQ(std::sscanf(lines[i + 1].c_str(), "thread %d entry %d%c", &thread, &entry, &rest), 2)
        << lines[i + 1];
    EXPECT_EQ(entry, next_entry[thread]++);
  }
  for (int t = 0; t < Threads; ++t)
    EXPECT_EQ(next_entry[t], EntriesPerThread);
}

}  // namespace
}  // namespace quenby
