#include "console/small_file_cache.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace quenby {
namespace {

using std::chrono::system_clock;

// A moment at which every file the test has written counts as settled.
system_clock::time_point Later() {
  return system_clock::now() + TSmallFileCache::SettleTime + std::chrono::seconds(1);
}

TFileVersion VersionOf(const std::string& path) {
  const std::optional<TFileVersion> version = RegularFileVersion(path);
  if (!version)
    throw std::runtime_error("not a regular file: " + path);
  return *version;
}

TSmallFileCache::TContents ReadAndKeep(TSmallFileCache& cache, const std::string& key,
                                       const std::string& path, const TFileVersion& version,
                                       system_clock::time_point now = Later()) {
  const TFileHandle file = OpenForReading(path);
  return cache.ReadAndKeep(key, file, version, now);
}

TEST(SmallFileCache, KeptContentsAnswerOnlyForTheVersionTheyWereReadFrom) {
  test::TempDir dir;
  const std::string path = dir.Write("page.htm", "first");
  const TFileVersion first = VersionOf(path);
  TSmallFileCache cache;
  const auto kept = ReadAndKeep(cache, path, path, first);
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(*kept, "first");
  ASSERT_NE(cache.Find(path, first), nullptr);
  EXPECT_EQ(*cache.Find(path, first), "first");
  EXPECT_EQ(cache.Find(dir.FilePath("other.htm"), first), nullptr);

  // Rewritten in place with as many bytes, and its modification time put back: only the
  // time of its status change tells the versions apart, and that is enough.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // past the clock's granularity
  dir.Write("page.htm", "again");
  const timespec times[2] = {{0, UTIME_OMIT},
                             {first.Identity.ModifiedNanoseconds / 1000000000,
                              first.Identity.ModifiedNanoseconds % 1000000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  const TFileVersion second = VersionOf(path);
  EXPECT_EQ(second.Identity, first.Identity);
  EXPECT_EQ(cache.Find(path, second), nullptr);

  const auto rekept = ReadAndKeep(cache, path, path, second);
  ASSERT_NE(rekept, nullptr);
  EXPECT_EQ(*rekept, "again");
  EXPECT_EQ(cache.Find(path, first), nullptr) << "the old contents were replaced";
  EXPECT_EQ(cache.EntryCount(), 1U);

  cache.Clear();
  EXPECT_EQ(cache.Find(path, second), nullptr);
}

TEST(SmallFileCache, KeepsOnlySettledSmallFilesReadWhole) {
  test::TempDir dir;
  TSmallFileCache cache;
  const std::string fresh = dir.Write("fresh.htm", "just written");
  EXPECT_EQ(ReadAndKeep(cache, fresh, fresh, VersionOf(fresh), system_clock::now()), nullptr)
      << "a file changed a moment ago may change again within the same time stamp";

  const std::string largest =
      dir.Write("largest.bin", std::string(TSmallFileCache::MaxFileSize, 'x'));
  EXPECT_NE(ReadAndKeep(cache, largest, largest, VersionOf(largest)), nullptr);
  const std::string large =
      dir.Write("large.bin", std::string(TSmallFileCache::MaxFileSize + 1, 'x'));
  EXPECT_EQ(ReadAndKeep(cache, large, large, VersionOf(large)), nullptr);

  // The file shrank after it was measured: what is left is not the version measured.
  const std::string shrunk = dir.Write("shrunk.htm", "0123456789");
  const TFileVersion measured = VersionOf(shrunk);
  dir.Write("shrunk.htm", "01234");
  EXPECT_EQ(ReadAndKeep(cache, shrunk, shrunk, measured), nullptr);

  EXPECT_EQ(cache.EntryCount(), 1U);
}

TEST(SmallFileCache, HoldsNoMoreThanItsTotal) {
  test::TempDir dir;
  const std::string path = dir.Write("page.bin", std::string(TSmallFileCache::MaxFileSize, 'x'));
  const TFileVersion version = VersionOf(path);
  TSmallFileCache cache;
  constexpr std::size_t Fit = TSmallFileCache::MaxTotalSize / TSmallFileCache::MaxFileSize;
  for (std::size_t i = 0; i < Fit + 10; ++i)
    ASSERT_NE(ReadAndKeep(cache, "key" + std::to_string(i), path, version), nullptr);
  EXPECT_EQ(cache.EntryCount(), Fit);
  EXPECT_NE(cache.Find("key" + std::to_string(Fit + 9), version), nullptr)
      << "the newest entry is kept";
}

}  // namespace
}  // namespace quenby
