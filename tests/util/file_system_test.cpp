#include "util/file_system.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "util/exception.h"

namespace quenby {
namespace {

TEST(FileSystem, OnlyRegularFilesAreFiles) {
  test::TempDir dir;
  const std::string file = dir.Write("a.txt", "abc");
  const std::string folder = dir.FilePath("sub");
  std::filesystem::create_directory(folder);
  std::filesystem::create_symlink(file, dir.FilePath("link"));
  std::filesystem::create_symlink(dir.FilePath("missing"), dir.FilePath("dangling"));

  EXPECT_TRUE(IsRegularFile(file));
  EXPECT_TRUE(IsRegularFile(dir.FilePath("link"))) << "a link to a file is followed";
  EXPECT_FALSE(IsRegularFile(dir.FilePath("dangling")));
  EXPECT_FALSE(IsRegularFile(folder));
  EXPECT_FALSE(IsRegularFile(dir.FilePath("missing")));
  EXPECT_FALSE(IsRegularFile("/dev/null")) << "a device is not a file";
  EXPECT_FALSE(IsRegularFile(""));
  EXPECT_FALSE(IsRegularFile(file + "/x")) << "a file used as a folder names nothing";
}

TEST(FileSystem, SizesBeyondThirtyTwoBitsAreExact) {
  test::TempDir dir;
  const std::string big = dir.Write("big.bin", "");
  // 4 GiB + 3 bytes, sparse: a size cut to 32 bits would read 3.
  constexpr std::int64_t BigSize = (std::int64_t{1} << 32) + 3;
  ASSERT_EQ(truncate(big.c_str(), BigSize), 0);
  EXPECT_EQ(FileSize(big), BigSize);
  EXPECT_EQ(FileSize(dir.Write("empty.txt", "")), 0);
  const TFileHandle open = OpenForReading(dir.Write("five.txt", "12345"));
  EXPECT_EQ(OpenFileSize(open, "five.txt"), 5);
}

TEST(FileSystem, FailuresRaiseEInOutErrorNamingTheFile) {
  test::TempDir dir;
  const std::string missing = dir.FilePath("missing.txt");
  try {
    FileSize(missing);
    FAIL() << "a missing file has no size";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.Message().rfind("Cannot open " + missing + ": ", 0), 0u) << e.Message();
    EXPECT_EQ(e.ErrorCode(), ENOENT);
  }
  try {
    OpenFileSize(TFileHandle(), "closed.txt");
    FAIL() << "a closed handle has no size";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.Message().rfind("Cannot read the size of closed.txt: ", 0), 0u) << e.Message();
    EXPECT_EQ(e.ErrorCode(), EBADF);
  }
}

TEST(FileSystem, ExecutablePathNamesThisProgram) {
  const std::string path = ExecutablePath();
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(std::filesystem::path(path).filename(), "quenby_util_tests");
  EXPECT_TRUE(IsRegularFile(path));
}

TEST(FileSystem, TheOpenFileLimitIsRaisedToTheHardLimit) {
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_max > 64) {
    rlimit lowered = limit;
    lowered.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  }
  EXPECT_EQ(RaiseOpenFileLimit(), limit.rlim_max);
  rlimit now{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &now), 0);
  EXPECT_EQ(now.rlim_cur, limit.rlim_max);
  EXPECT_EQ(RaiseOpenFileLimit(), limit.rlim_max);  // already there: unchanged
}

}  // namespace
}  // namespace quenby
