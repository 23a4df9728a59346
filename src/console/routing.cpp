#include "console/routing.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "util/canonical_path.h"
#include "util/file_system.h"
#include "util/text.h"

namespace quenby {
namespace {

constexpr char PathDelimiter = '/';
constexpr char AliasNameEnd = '=';
constexpr std::string_view ModuleMark = ".dll";
constexpr std::string_view ServerSideIncludeMark = ".asp";

// Request paths may be written with "\" as well as "/", and never leave the document root.
constexpr TPathRules RequestPathRules{.BackslashSeparates = true, .ConfineToBase = true};

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

// The first alias whose "/name/" occurs in the lower-cased path; names with capitals
// therefore never match.
std::optional<TAlias> FindAlias(const std::string& path, const std::vector<std::string>& lines) {
  const std::string lower = LowerCase(path);
  for (const std::string& line : lines) {
    const std::optional<TAlias> alias = ParseAliasLine(line);
    if (!alias)
      continue;
    const std::string marker = PathDelimiter + alias->Name + PathDelimiter;
    if (lower.find(marker) != std::string::npos)
      return alias;
  }
  return std::nullopt;
}

// The path's file name appended to the directory of its alias.
std::string MapThroughAliases(const std::string& path, const std::vector<std::string>& lines) {
  const std::optional<TAlias> alias = FindAlias(path, lines);
  if (!alias)
    return {};
  const std::string file_name = path.substr(path.rfind(PathDelimiter) + 1);
  return EnsureTrailingBackslash(alias->Directory) + file_name;
}

bool IsFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

std::string WithoutTrailingDelimiter(std::string path) {
  while (path.size() > 1 && path.back() == PathDelimiter)
    path.pop_back();
  return path;
}

std::string DirectoryPart(const std::string& path) {
  const std::size_t last = path.rfind(PathDelimiter);
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

// As ResolveDocumentPath; `regular` holds the version of the result when it was found to be a
// regular file, so that the caller need not look again.
std::string ResolveDocumentPath(std::string_view root, std::string_view path,
                                const std::vector<std::string>& alias_lines,
                                std::optional<TFileVersion>& regular) {
  regular.reset();
  // A NUL would cut the name the file system sees short of the name that was checked.
  if (root.find('\0') != std::string_view::npos || path.find('\0') != std::string_view::npos)
    return {};
  const std::optional<std::string> mapped = CanonicalPath(root, path, RequestPathRules);
  if (!mapped)
    return {};
  regular = RegularFileVersion(*mapped);
  if (regular)
    return *mapped;
  return MapThroughAliases(*mapped, alias_lines);
}

}  // namespace

std::string ResolveDocumentPath(std::string_view root, std::string_view path,
                                const std::vector<std::string>& alias_lines) {
  std::optional<TFileVersion> regular;
  return ResolveDocumentPath(root, path, alias_lines, regular);
}

std::optional<TListedFolder> ResolveFolderPath(std::string_view root, std::string_view path,
                                               const std::vector<std::string>& alias_lines) {
  if (path.empty() || path.back() != PathDelimiter || root.find('\0') != std::string_view::npos ||
      path.find('\0') != std::string_view::npos)
    return std::nullopt;
  const std::optional<std::string> mapped = CanonicalPath(root, path, RequestPathRules);
  const std::optional<std::string> top = CanonicalPath(root, "/", RequestPathRules);
  if (!mapped || !top)
    return std::nullopt;
  const std::string folder = WithoutTrailingDelimiter(*mapped);
  if (IsFolder(folder))
    return TListedFolder{folder, folder == WithoutTrailingDelimiter(*top), false};
  const std::optional<TAlias> alias = FindAlias(folder + PathDelimiter, alias_lines);
  if (!alias)
    return std::nullopt;
  const std::optional<std::string> alias_folder = CanonicalPath(alias->Directory, "", {});
  if (!alias_folder || !IsFolder(*alias_folder))
    return std::nullopt;
  return TListedFolder{WithoutTrailingDelimiter(*alias_folder), true, true};
}

TRouteResult RouteRequest(std::string_view request_path, std::string_view document_root,
                          std::string_view index_document,
                          const std::vector<std::string>& alias_lines) {
  std::string path(request_path);
  if (!path.empty() && path.back() == PathDelimiter)
    path += index_document.empty() ? FallbackIndexDocument : index_document;

  TRouteResult route;
  route.FilePath = ResolveDocumentPath(document_root, path, alias_lines, route.RegularFile);
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
