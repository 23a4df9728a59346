#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "console/routing.h"

namespace quenby {

/// Content type of a listing page.
inline constexpr std::string_view FolderListingType = "text/html; charset=utf-8";

/// One entry of a listing.
struct TListingEntry {
  std::string Name;
  bool IsFolder = false;
  std::int64_t Size = 0;
  std::time_t Modified = 0;
};

/// The entries of `folder` a listing shows, folders first, then by name: regular files and,
/// unless the folder is an alias folder, subfolders (links followed). Names starting with "."
/// and anything that is neither are left out. Empty when the folder cannot be read.
std::vector<TListingEntry> ListingEntries(const TListedFolder& folder);

/// The HTML page listing `entries` under the heading of the request path `request_path`
/// (ending in "/"): names escaped for HTML, links percent-encoded and relative, sizes in
/// bytes, local modification times, and a link up to "../" unless the folder is a top one.
std::string FolderListingPage(std::string_view request_path, const TListedFolder& folder,
                              const std::vector<TListingEntry>& entries);

/// `text` with every byte but letters, digits and "-._~" written as "%XX".
std::string PercentEncoded(std::string_view text);
/// `text` with "&", "<", ">", '"' and "'" written as character references.
std::string HTMLEscaped(std::string_view text);

}  // namespace quenby
