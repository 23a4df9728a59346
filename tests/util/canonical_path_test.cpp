#include "util/canonical_path.h"

#include <unistd.h>

#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace quenby {
namespace {

// The two ways the server reads paths: request paths under the document root, and paths the
// extension host maps for a module.
constexpr TPathRules RequestRules{.BackslashSeparates = true, .ConfineToBase = true};
constexpr TPathRules MappedRules{.KeepFolderSlash = true};

struct TCase {
  const char* Base;
  const char* Path;
  std::optional<std::string> Expected;
};

TEST(CanonicalPath, RequestPathsStayUnderTheirBase) {
  const TCase cases[] = {
      {"/srv/site", "/a/b.txt", "/srv/site/a/b.txt"},
      {"/srv/site/", "a/b.txt", "/srv/site/a/b.txt"},
      {"/srv/site", "//a///b.txt", "/srv/site/a/b.txt"},
      {"/srv/site", "/./a/./b.txt/.", "/srv/site/a/b.txt"},
      {"/srv/site", "/a/../b.txt", "/srv/site/b.txt"},
      {"/srv/site", "/a/b/", "/srv/site/a/b"},
      {"/srv/site", "\\a\\.\\b.txt", "/srv/site/a/b.txt"},
      {"/srv/site", "", "/srv/site"},
      {"/srv/site", "/a/..", "/srv/site"},
      // Names that only look like dots, and escapes the caller did not decode.
      {"/srv/site", "/.../..a/a..", "/srv/site/.../..a/a.."},
      {"/srv/site", "/%2e%2e/x", "/srv/site/%2e%2e/x"},
      // Climbing above the base, also on the way to a place under it, and "%2e%2e" decoded.
      {"/srv/site", "/..", std::nullopt},
      {"/srv/site", "/a/../../b", std::nullopt},
      {"/srv/site", "/../site/b.txt", std::nullopt},
      {"/srv/site", "/..\\secret.txt", std::nullopt},
      {"/srv/site", "..", std::nullopt},
      {"/", "/../etc/passwd", std::nullopt},
      // The base's own dots resolve, and stop at "/".
      {"/srv/site/../other/.", "/a", "/srv/other/a"},
      {"/../..", "/a", "/a"},
      {"\\srv\\site", "/a", "/srv/site/a"},
      {"", "/a", "/a"},
      {"", "", "/"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(CanonicalPath(c.Base, c.Path, RequestRules), c.Expected)
        << "base \"" << c.Base << "\", path \"" << c.Path << "\"";
  }
}

TEST(CanonicalPath, MappedPathsStopAtTheRootAndKeepAFolderSlash) {
  const TCase cases[] = {
      {"/srv/bin/", "/a/b", "/srv/bin/a/b"},
      {"/srv/bin/", "a/b/", "/srv/bin/a/b/"},
      {"/srv/bin/", "/a/.", "/srv/bin/a/"},
      {"/srv/bin/", "/a/..", "/srv/bin/"},
      {"/srv/bin/", "/a/b/../", "/srv/bin/a/"},
      {"/srv/bin/", "//", "/srv/bin/"},
      {"/srv/bin/", "", "/srv/bin/"},
      {"/srv/bin", "", "/srv/bin"},
      // Nothing but "/" stops a climb; "\" is an ordinary character of a name.
      {"/srv/bin/", "/../../../../etc", "/etc"},
      {"/srv/bin/", "/../../..", "/"},
      {"/srv/bin/", "a\\..\\b", "/srv/bin/a\\..\\b"},
      {"/", "/", "/"},
      {"//", "", "/"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(CanonicalPath(c.Base, c.Path, MappedRules), c.Expected)
        << "base \"" << c.Base << "\", path \"" << c.Path << "\"";
  }
}

TEST(CanonicalPath, RelativeBasesCountFromTheWorkingDirectory) {
  const std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(CanonicalPath("site", "/a", RequestRules), cwd + "/site/a");
  EXPECT_EQ(CanonicalPath("site/..", "a/", MappedRules), cwd + "/a/");
  // "\" starts an absolute base only where it separates.
  EXPECT_EQ(CanonicalPath("\\srv", "", MappedRules), cwd + "/\\srv");
}

// Restores the working directory the test found, whatever happens.
class TWorkingDirectoryGuard {
 public:
  TWorkingDirectoryGuard() : saved_(std::filesystem::current_path()) {}
  ~TWorkingDirectoryGuard() { std::filesystem::current_path(saved_); }
  TWorkingDirectoryGuard(const TWorkingDirectoryGuard&) = delete;
  TWorkingDirectoryGuard& operator=(const TWorkingDirectoryGuard&) = delete;

 private:
  std::filesystem::path saved_;
};

TEST(CanonicalPath, AnUnreadableWorkingDirectoryMapsRelativeBasesToNothing) {
  TWorkingDirectoryGuard guard;
  std::string gone;
  {
    test::TempDir dir;
    gone = dir.FilePath("gone");
    std::filesystem::create_directory(gone);
    ASSERT_EQ(chdir(gone.c_str()), 0);
  }
  ASSERT_FALSE(std::filesystem::exists(gone));
  EXPECT_EQ(CanonicalPath("site", "/a", RequestRules), std::nullopt);
  EXPECT_EQ(CanonicalPath("bin/", "a", MappedRules), std::nullopt);
  EXPECT_EQ(CanonicalPath("/srv", "/a", RequestRules), "/srv/a") << "absolute bases need none";
}

}  // namespace
}  // namespace quenby
