// The program loads its window from quenby-window.so: beside itself in a build tree, from
// lib/quenby in an install tree, and a library it cannot load ends the run with one line.
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/net_loopback.h"
#include "support/quenby_process.h"
#include "support/temp_dir.h"
#include "window_fixture.h"

namespace quenby::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

std::vector<std::string> OffscreenEnvironment() {
  return InheritedEnvironment({"QT_QPA_PLATFORM=offscreen"});
}

// Runs `executable` with the window, waits for the auto start's log line, stops it with SIGTERM
// and returns the files it had mapped meanwhile.
std::vector<std::string> RunWindowUntilStarted(const std::string& executable) {
  TempDir dir;
  dir.Write("site/index.htm", "home");
  dir.Write("quenby.ini", "[Setup]\r\nAutoStart=TRUE\r\n");
  const std::vector<std::string> environment = OffscreenEnvironment();
  TQuenbyProcess quenby(
      {"--settings", dir.FilePath("quenby.ini"), "--host", "127.0.0.1", "--port", "0", "--root",
       dir.FilePath("site"), "--log", "--log-file", dir.FilePath("quenby.log")},
      &environment, executable);
  // The auto start logs its line about a second after start-up.
  EXPECT_TRUE(WaitUntil(
      [&] {
        return dir.Exists("quenby.log") &&
               dir.Read("quenby.log").find("Started at:") != std::string::npos;
      },
      std::chrono::milliseconds(WindowWaitMs)))
      << quenby.Err();
  const std::vector<std::string> files = quenby.MappedFiles();
  EXPECT_EQ(quenby.Stop(), 0) << quenby.Err();
  EXPECT_THAT(LogEntryTexts(dir.Read("quenby.log")),
              ElementsAre(StartsWith("Started at:"), StartsWith("Stopped at:")));
  return files;
}

TEST(WindowLibrary, TheInstalledProgramLoadsItFromLibQuenby) {
  TempDir prefix;
  const std::string command = std::string("\"") + QUENBY_CMAKE_COMMAND + "\" --install \"" +
                              QUENBY_BINARY_DIR + "\" --prefix \"" + prefix.Path() +
                              "\" >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  ASSERT_TRUE(prefix.Exists("lib/quenby/quenby-window.so"));
  EXPECT_FALSE(prefix.Exists("bin/quenby-window.so"));
  const std::vector<std::string> files = RunWindowUntilStarted(prefix.FilePath("bin/quenby"));
  EXPECT_THAT(files, Contains(prefix.FilePath("lib/quenby/quenby-window.so")));
  EXPECT_THAT(files, Contains(HasSubstr("libQt6Widgets")));
}

TEST(WindowLibrary, AMissingBrokenOrForeignLibraryIsOneLineAndExitCodeOne) {
  TempDir dir;
  std::filesystem::create_directories(dir.FilePath("bin"));
  std::filesystem::copy_file(QUENBY_EXECUTABLE, dir.FilePath("bin/quenby"));
  const std::vector<std::string> environment = OffscreenEnvironment();
  const std::vector<std::string> arguments = {"--settings", dir.FilePath("quenby.ini"), "--port",
                                              "0"};
  const auto expect_line = [&](const std::string& file, const std::string& reason) {
    TQuenbyProcess quenby(arguments, &environment, dir.FilePath("bin/quenby"));
    EXPECT_EQ(quenby.Wait(), 1);
    EXPECT_THAT(quenby.OutLines(), IsEmpty()) << "no server started";
    EXPECT_EQ(quenby.Err(), "quenby: cannot load the window library " + file + ": " + reason +
                                "; --headless runs without the window\n");
  };

  expect_line(dir.FilePath("bin/quenby-window.so"),
              "cannot open shared object file: No such file or directory (nor found at " +
                  dir.FilePath("lib/quenby/quenby-window.so") + ")");

  dir.Write("lib/quenby/quenby-window.so", "not a library");
  expect_line(dir.FilePath("lib/quenby/quenby-window.so"), "file too short");

  // A shared object without the entry point: a module stands in for a library of another build.
  std::filesystem::copy_file(std::string(QUENBY_SAMPLE_MODULE_DIR) + "/hello.dll",
                             dir.FilePath("bin/quenby-window.so"));
  expect_line(dir.FilePath("bin/quenby-window.so"), "undefined symbol: QuenbyRunWindow");
}

}  // namespace
}  // namespace quenby::test
