#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quenby::test {

/// A fresh, empty folder under the system's temporary folder (TMPDIR, else /tmp), removed
/// with everything in it when the object goes. For one test at a time; not shared between
/// threads while files are written. Failures to create, write or read raise
/// std::runtime_error naming the path, so a test fails with a readable reason.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  /// The folder's absolute path, without a trailing "/".
  const std::string& Path() const { return path_; }
  /// Path() + "/" + name; `name` may hold sub-folders ("logs/a.log").
  std::string FilePath(std::string_view name) const;

  /// Creates or replaces the file with exactly these bytes, creating missing sub-folders.
  /// Returns the file's full path.
  std::string Write(std::string_view name, std::string_view content) const;
  /// The whole file's bytes.
  std::string Read(std::string_view name) const;
  bool Exists(std::string_view name) const;
  /// Names of the entries directly inside the folder (or a sub-folder), sorted.
  std::vector<std::string> Names(std::string_view sub_folder = {}) const;

 private:
  std::string path_;
};

}  // namespace quenby::test
