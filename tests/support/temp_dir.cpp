#include "support/temp_dir.h"

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace quenby::test {
namespace {

namespace fs = std::filesystem;

std::string TempRoot() {
  const char* from_env = std::getenv("TMPDIR");
  std::string root = (from_env != nullptr && *from_env != '\0') ? from_env : "/tmp";
  while (root.size() > 1 && root.back() == '/')
    root.pop_back();
  return root;
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = TempRoot() + "/quenby-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create temporary folder " + pattern + ": " +
                             std::strerror(errno));
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TempDir::FilePath(std::string_view name) const {
  return path_ + "/" + std::string(name);
}

std::string TempDir::Write(std::string_view name, std::string_view content) const {
  const fs::path file = FilePath(name);
  std::error_code error;
  fs::create_directories(file.parent_path(), error);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out)
    throw std::runtime_error("cannot write " + file.string());
  return file.string();
}

std::string TempDir::Read(std::string_view name) const {
  const std::string file = FilePath(name);
  std::ifstream in(file, std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot read " + file);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TempDir::Exists(std::string_view name) const {
  std::error_code error;
  return fs::exists(FilePath(name), error);
}

std::vector<std::string> TempDir::Names(std::string_view sub_folder) const {
  const std::string folder = sub_folder.empty() ? path_ : FilePath(sub_folder);
  std::error_code error;
  std::vector<std::string> names;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    names.push_back(it->path().filename().string());
  if (error)
    throw std::runtime_error("cannot list " + folder + ": " + error.message());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace quenby::test
