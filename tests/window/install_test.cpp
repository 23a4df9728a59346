// What an install adds for the desktop: a menu entry that starts the installed program, and the
// icon it names.
#include <cstdlib>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace quenby::test {
namespace {

using ::testing::HasSubstr;

TEST(WindowInstall, AddsADesktopEntryForTheInstalledProgramAndItsIcon) {
  TempDir prefix;
  const std::string command = std::string("\"") + QUENBY_CMAKE_COMMAND + "\" --install \"" +
                              QUENBY_BINARY_DIR + "\" --prefix \"" + prefix.Path() +
                              "\" >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  ASSERT_TRUE(prefix.Exists("share/applications/quenby.desktop"));
  const std::string entry = prefix.Read("share/applications/quenby.desktop");
  EXPECT_THAT(entry, HasSubstr("\nExec=" + prefix.FilePath("bin/quenby") + "\n"));
  EXPECT_THAT(entry, HasSubstr("\nIcon=quenby\n"));
  EXPECT_TRUE(prefix.Exists("bin/quenby"));
  EXPECT_TRUE(prefix.Exists("share/icons/hicolor/16x16/apps/quenby.png"));
  EXPECT_TRUE(prefix.Exists("share/icons/hicolor/scalable/apps/quenby.svg"));
}

}  // namespace
}  // namespace quenby::test
