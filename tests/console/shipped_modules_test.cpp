// The quick start and an install ship sample modules only: a test module (one that crashes,
// hangs or sends any file named in its query) must never be reachable through the run
// script's /bin alias nor land in an install tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/temp_dir.h"

namespace quenby {
namespace {

namespace fs = std::filesystem;

// Module names ("crash") built from the C sources of a folder.
std::set<std::string> ModulesOf(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().extension() == ".c")
      names.insert(entry.path().stem().string());
  return names;
}

// Every "*.dll" under `tree`, by module name.
std::set<std::string> DllsUnder(const fs::path& tree) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(tree))
    if (entry.path().extension() == ".dll")
      names.insert(entry.path().stem().string());
  return names;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

const fs::path SourceDir = QUENBY_SOURCE_DIR;

TEST(ShippedModulesTest, TestModulesAreApartFromTheSamples) {
  const auto tests = ModulesOf(SourceDir / "tests/modules");
  const auto samples = ModulesOf(SourceDir / "modules");
  EXPECT_TRUE(tests.count("transmit") && tests.count("crash") && tests.count("pending"));
  EXPECT_TRUE(samples.count("hello") && samples.count("echo"));
  for (const auto& name : samples)
    EXPECT_EQ(tests.count(name), 0u) << name << " is both a sample and a test module";
}

TEST(ShippedModulesTest, RunScriptAliasesHoldNoTestModule) {
  const std::string script = ReadText(SourceDir / "scripts/run.sh");
  // Aliases of the run script name folders of the build tree: "/bin=$PWD/build/modules".
  const std::regex alias(R"re(--alias "?/[^=]+=\$PWD/build/([^" ]+))re");
  const auto tests = ModulesOf(SourceDir / "tests/modules");
  int aliases = 0;
  for (std::sregex_iterator it(script.begin(), script.end(), alias), end; it != end; ++it) {
    ++aliases;
    const fs::path folder = fs::path(QUENBY_BINARY_DIR) / (*it)[1].str();
    SCOPED_TRACE(folder.string());
    EXPECT_EQ(fs::weakly_canonical(folder), fs::weakly_canonical(QUENBY_SAMPLE_MODULE_DIR));
    ASSERT_TRUE(fs::is_directory(folder));
    const auto built = DllsUnder(folder);
    EXPECT_TRUE(built.count("hello"));
    for (const auto& name : built)
      EXPECT_EQ(tests.count(name), 0u) << name << ".dll is a test module";
  }
  EXPECT_GE(aliases, 1) << "the run script maps no module folder";
}

TEST(ShippedModulesTest, InstallTreeHoldsOnlySampleModules) {
  test::TempDir prefix;
  const std::string command = std::string("\"") + QUENBY_CMAKE_COMMAND + "\" --install \"" +
                              QUENBY_BINARY_DIR + "\" --prefix \"" + prefix.Path() +
                              "\" >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const auto installed = DllsUnder(prefix.Path());
  EXPECT_EQ(installed, ModulesOf(SourceDir / "modules"));
  EXPECT_TRUE(fs::exists(fs::path(prefix.Path()) / "include/quenby/isapi.h"));
}

}  // namespace
}  // namespace quenby
