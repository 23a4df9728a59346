#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/file_system.h"

namespace quenby {

/// File name served for a request path ending in "/" when the index setting is empty.
inline constexpr std::string_view FallbackIndexDocument = "index.html";
/// Module run for every mapped path containing ".asp" (not found on this platform, so such
/// requests end in the handler's "Script not found" reply).
inline constexpr std::string_view ServerSideIncludeModule =
    "C:\\WINDOWS\\system32\\inetsrv\\ssinc.dll";
/// Characters of an alias line's directory that are taken; the rest is ignored.
inline constexpr std::size_t MaxAliasDirectoryLength = 9999;

/// Where one request goes. All four texts are empty when nothing could be mapped.
struct TRouteResult {
  std::string FilePath;    // the mapped file path
  std::string Directory;   // FilePath up to and including its last "/"
  std::string ModulePath;  // the module to run; empty for a plain file
  std::string PathInfo;    // the mapped path after the module name; empty for a plain file
  // Set when FilePath was found to be a regular file while it was mapped: its version then.
  std::optional<TFileVersion> RegularFile;
};

/// Routes a percent-decoded request path: appends the index document to a path ending in
/// "/", maps it with ResolveDocumentPath and picks the module road (".dll" or ".asp" in the
/// lower-cased mapped path) or the plain-file road. Paths keep their case. Pure apart from
/// file existence tests; safe from any thread. Raises nothing but std::bad_alloc.
TRouteResult RouteRequest(std::string_view request_path, std::string_view document_root,
                          std::string_view index_document,
                          const std::vector<std::string>& alias_lines);

/// Maps a request path onto a file: the root followed by the path, made absolute with "\"
/// and "/" both taken as separators and "." and ".." resolved, when that names an existing
/// regular file; otherwise the first alias line "/name=dir" whose "/name/" occurs in that
/// path gives dir "/" file name. Empty when neither applies, when the path's ".." segments
/// climb above the root, or when the path holds a NUL byte. An empty root stands for "/".
/// Safe from any thread. Raises nothing but std::bad_alloc.
std::string ResolveDocumentPath(std::string_view root, std::string_view path,
                                const std::vector<std::string>& alias_lines);

/// A folder a request may list.
struct TListedFolder {
  std::string Path;      // the folder on disk, canonical, without a trailing "/"
  bool IsTop = false;    // the document root or an alias folder: no parent to go up to
  bool IsAlias = false;  // an alias folder, whose subfolders no request path can reach
};

/// The folder a percent-decoded request path ending in "/" names, mapped as a file path
/// would be: the root's folder when it exists, otherwise the folder of the first alias whose
/// "/name/" occurs in the mapped path. None for any other path, for a path that climbs above
/// the root, or for a folder that does not exist. Safe from any thread.
std::optional<TListedFolder> ResolveFolderPath(std::string_view root, std::string_view path,
                                               const std::vector<std::string>& alias_lines);

}  // namespace quenby
