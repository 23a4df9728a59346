#include "console/settings_location.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace quenby {
namespace {

// A folder that takes no new files for the user running the test: permission bits stop an
// ordinary user, while root writes through them, but not into /proc.
class TReadOnlyFolder {
 public:
  explicit TReadOnlyFolder(const test::TempDir& dir) {
    if (geteuid() == 0) {
      path_ = "/proc";
      return;
    }
    path_ = dir.FilePath("readonly");
    mkdir(path_.c_str(), 0555);
  }
  ~TReadOnlyFolder() {
    if (path_ != "/proc") {
      rmdir(path_.c_str());
    }
  }
  TReadOnlyFolder(const TReadOnlyFolder&) = delete;
  TReadOnlyFolder& operator=(const TReadOnlyFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

TEST(SettingsLocation, BesideAWritableExecutableAndNoProbeLeftBehind) {
  test::TempDir dir;
  const TSettingsLocation location =
      ChooseSettingsLocation(dir.FilePath("quenby"), {dir.FilePath("c"), dir.FilePath("s"), ""});
  EXPECT_EQ(location.SettingsFile, dir.FilePath("quenby.ini"));
  EXPECT_EQ(location.LogFile, dir.FilePath("quenby.log"));
  EXPECT_TRUE(dir.Names().empty()) << "the write test removes its file, creates no folders";
}

TEST(SettingsLocation, ReadOnlyFolderFallsBackToThePerUserFoldersAndCreatesThem) {
  test::TempDir dir;
  const TReadOnlyFolder readonly(dir);
  ASSERT_FALSE(CanCreateFilesIn(readonly.Path() + "/"));
  const std::string program = readonly.Path() + "/quenby";

  TSettingsLocation location =
      ChooseSettingsLocation(program, {dir.FilePath("config"), dir.FilePath("state"), "/nowhere"});
  EXPECT_EQ(location.SettingsFile, dir.FilePath("config/quenby/quenby.ini"));
  EXPECT_EQ(location.LogFile, dir.FilePath("state/quenby/quenby.log"));
  EXPECT_TRUE(dir.Exists("config/quenby") && dir.Exists("state/quenby"));

  // Unset or relative base folders are replaced by the usual ones under the home folder.
  location = ChooseSettingsLocation(program, {"", "relative/state", dir.FilePath("home")});
  EXPECT_EQ(location.SettingsFile, dir.FilePath("home/.config/quenby/quenby.ini"));
  EXPECT_EQ(location.LogFile, dir.FilePath("home/.local/state/quenby/quenby.log"));

  // With no per-user folder known the files stay beside the executable.
  location = ChooseSettingsLocation(program, {"", "", ""});
  EXPECT_EQ(location.SettingsFile, readonly.Path() + "/quenby.ini");
}

}  // namespace
}  // namespace quenby
