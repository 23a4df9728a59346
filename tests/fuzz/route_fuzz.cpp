// Routing a decoded request path onto the document root and the alias folders of a small
// tree in a temporary folder. Whatever the path and the extra alias lines, the file it maps
// to lies in the root or directly in an alias folder.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "console/routing.h"
#include "fuzz_check.h"

namespace {

std::string g_base;  // holds root/, modules/, docs/ and outside.txt
std::string g_root;
std::vector<std::string> g_fixed_aliases;
std::vector<std::string> g_created;  // files and folders, removed in reverse at exit

void Make(const std::string& relative, bool folder) {
  const std::string path = g_base + "/" + relative;
  if (folder)
    mkdir(path.c_str(), 0700);
  else
    std::ofstream(path) << "x";
  g_created.push_back(path);
}

void RemoveTree() {
  for (auto it = g_created.rbegin(); it != g_created.rend(); ++it)
    std::remove(it->c_str());
  rmdir(g_base.c_str());
}

std::string WithSlash(std::string directory) {
  if (directory.empty() || (directory.back() != '/' && directory.back() != '\\'))
    directory += '/';
  return directory;
}

// Whether `path` is a file directly inside the folder of alias line `line`.
bool InAliasFolder(const std::string& path, const std::string& line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string::npos)
    return false;
  const std::string folder = WithSlash(line.substr(equals + 1, quenby::MaxAliasDirectoryLength));
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path.find('/', folder.size()) == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quenby-route-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    std::abort();
  g_base = pattern;
  g_root = g_base + "/root";
  for (const char* folder : {"root", "root/sub", "root/Case.Dll", "modules", "docs"})
    Make(folder, true);
  for (const char* file :
       {"root/index.htm", "root/a.txt", "root/sub/page.asp", "root/sub/index.htm",
        "root/Case.Dll/x", "modules/hello.dll", "docs/readme.txt", "outside.txt"})
    Make(file, false);
  g_fixed_aliases = {"/bin=" + g_base + "/modules", "/docs=" + g_base + "/docs/"};
  std::atexit(RemoveTree);
  return 0;
}

// The input: the request path, then alias lines, one per line, tried before the fixed ones.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::size_t path_end = text.find('\n');
  const std::string_view path = text.substr(0, path_end);
  std::vector<std::string> aliases;
  if (path_end != std::string_view::npos) {
    std::string_view rest = text.substr(path_end + 1);
    for (std::size_t end = rest.find('\n');; end = rest.find('\n')) {
      aliases.emplace_back(rest.substr(0, end));
      if (end == std::string_view::npos)
        break;
      rest.remove_prefix(end + 1);
    }
  }
  aliases.insert(aliases.end(), g_fixed_aliases.begin(), g_fixed_aliases.end());

  const quenby::TRouteResult route = quenby::RouteRequest(path, g_root, "index.htm", aliases);
  if (route.FilePath.empty()) {
    FUZZ_CHECK(route.Directory.empty() && route.ModulePath.empty() && route.PathInfo.empty());
    return 0;
  }
  const bool in_root = route.FilePath.compare(0, g_root.size() + 1, g_root + "/") == 0;
  if (in_root) {
    FUZZ_CHECK(route.FilePath.find("/../") == std::string::npos);
  } else {
    bool in_alias = false;
    for (const std::string& line : aliases)
      in_alias = in_alias || InAliasFolder(route.FilePath, line);
    FUZZ_CHECK(in_alias);
  }
  FUZZ_CHECK(route.FilePath.compare(0, route.Directory.size(), route.Directory) == 0);
  return 0;
}
