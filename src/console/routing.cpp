#include "console/routing.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "util/file_system.h"
#include "util/text.h"

namespace quenby {
namespace {

constexpr char PathDelimiter = '/';
constexpr char AliasNameEnd = '=';
constexpr std::string_view ModuleMark = ".dll";
constexpr std::string_view ServerSideIncludeMark = ".asp";

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// Pushes the segments of `text` onto `segments`, both "/" and "\" separating them, empty and
// "." segments dropped and ".." taking one off. A ".." with only `floor` segments left is
// dropped when `clamp` is set and fails the whole walk otherwise.
bool WalkSegments(std::string_view text, std::size_t floor, bool clamp,
                  std::vector<std::string>& segments) {
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsSeparator(text[i]))
      ++i;
    const std::size_t start = i;
    while (i < text.size() && !IsSeparator(text[i]))
      ++i;
    const std::string_view segment = text.substr(start, i - start);
    if (segment.empty() || segment == ".")
      continue;
    if (segment != "..") {
      segments.emplace_back(segment);
    } else if (segments.size() > floor) {
      segments.pop_back();
    } else if (!clamp) {
      return false;
    }
  }
  return true;
}

// The document root as absolute segments; a relative root counts from the working
// directory, an empty one is the file system's root. Nothing when the working directory
// cannot be read.
std::optional<std::vector<std::string>> RootSegments(std::string_view root) {
  std::vector<std::string> segments;
  if (!root.empty() && !IsSeparator(root.front())) {
    std::error_code error;
    const std::filesystem::path cwd = std::filesystem::current_path(error);
    if (error)
      return std::nullopt;
    WalkSegments(cwd.native(), 0, true, segments);
  }
  // Above "/" there is nothing: "/.." is "/" again.
  WalkSegments(root, 0, true, segments);
  return segments;
}

std::string JoinAbsolute(const std::vector<std::string>& segments) {
  if (segments.empty())
    return std::string(1, PathDelimiter);
  std::string path;
  for (const std::string& segment : segments) {
    path += PathDelimiter;
    path += segment;
  }
  return path;
}

// Root followed by path in canonical absolute form, or nothing when the path's ".."
// segments would leave the root: such a request is never mapped outside it.
std::optional<std::string> CanonicalUnderRoot(std::string_view root, std::string_view path) {
  std::optional<std::vector<std::string>> segments = RootSegments(root);
  if (!segments || !WalkSegments(path, segments->size(), false, *segments))
    return std::nullopt;
  return JoinAbsolute(*segments);
}

struct TAlias {
  std::string Name;
  std::string Directory;
};

// "/name=dir": the first character is skipped whatever it is. A line without a name never
// matches; nor does one without a directory, which would map into the working directory.
std::optional<TAlias> ParseAliasLine(std::string_view line) {
  const std::size_t name_end = line.find(AliasNameEnd);
  if (name_end == std::string_view::npos || name_end < 2)
    return std::nullopt;
  TAlias alias{std::string(line.substr(1, name_end - 1)),
               std::string(line.substr(name_end + 1, MaxAliasDirectoryLength))};
  if (alias.Directory.empty())
    return std::nullopt;
  return alias;
}

// The first alias whose "/name/" occurs in the lower-cased path, with the path's file name
// appended to its directory; names with capitals therefore never match.
std::string MapThroughAliases(const std::string& path, const std::vector<std::string>& lines) {
  const std::string lower = LowerCase(path);
  const std::string file_name = path.substr(path.rfind(PathDelimiter) + 1);
  for (const std::string& line : lines) {
    const std::optional<TAlias> alias = ParseAliasLine(line);
    if (!alias)
      continue;
    const std::string marker = PathDelimiter + alias->Name + PathDelimiter;
    if (lower.find(marker) != std::string::npos)
      return EnsureTrailingBackslash(alias->Directory) + file_name;
  }
  return {};
}

std::string DirectoryPart(const std::string& path) {
  const std::size_t last = path.rfind(PathDelimiter);
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

}  // namespace

std::string ResolveDocumentPath(std::string_view root, std::string_view path,
                                const std::vector<std::string>& alias_lines) {
  // A NUL would cut the name the file system sees short of the name that was checked.
  if (root.find('\0') != std::string_view::npos || path.find('\0') != std::string_view::npos)
    return {};
  const std::optional<std::string> mapped = CanonicalUnderRoot(root, path);
  if (!mapped)
    return {};
  if (IsRegularFile(*mapped))
    return *mapped;
  return MapThroughAliases(*mapped, alias_lines);
}

TRouteResult RouteRequest(std::string_view request_path, std::string_view document_root,
                          std::string_view index_document,
                          const std::vector<std::string>& alias_lines) {
  std::string path(request_path);
  if (!path.empty() && path.back() == PathDelimiter)
    path += index_document.empty() ? FallbackIndexDocument : index_document;

  TRouteResult route;
  route.FilePath = ResolveDocumentPath(document_root, path, alias_lines);
  route.Directory = DirectoryPart(route.FilePath);
  // The module tests ignore case, but the module and its path information are cut from the
  // mapped path itself, because the file system is case-sensitive.
  const std::string lower = LowerCase(route.FilePath);
  if (const std::size_t at = lower.find(ModuleMark); at != std::string::npos) {
    route.ModulePath = route.FilePath.substr(0, at + ModuleMark.size());
    route.PathInfo = route.FilePath.substr(at + ModuleMark.size());
  } else if (const std::size_t at = lower.find(ServerSideIncludeMark); at != std::string::npos) {
    // The include module serves the mapped page itself; what follows ".asp" is its path
    // information, as what follows ".dll" is for a module named in the path.
    route.ModulePath = LowerCase(ServerSideIncludeModule);
    route.PathInfo = route.FilePath.substr(at + ServerSideIncludeMark.size());
  }
  return route;
}

}  // namespace quenby
