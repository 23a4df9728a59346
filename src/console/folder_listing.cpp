#include "console/folder_listing.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "util/text.h"

namespace quenby {
namespace {

constexpr char HiddenMark = '.';
constexpr const char* TimeFormat = "%Y-%m-%d %H:%M";
constexpr std::size_t TimeTextSize = 32;
constexpr const char* HexDigits = "0123456789ABCDEF";
constexpr int HighNibbleShift = 4;
constexpr unsigned LowNibbleMask = 0x0F;

bool Unreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

std::string LocalTime(std::time_t when) {
  std::tm parts{};
  localtime_r(&when, &parts);
  char text[TimeTextSize] = {};
  std::strftime(text, sizeof text, TimeFormat, &parts);
  return text;
}

bool ListedBefore(const TListingEntry& a, const TListingEntry& b) {
  if (a.IsFolder != b.IsFolder)
    return a.IsFolder;
  const std::string lower_a = LowerCase(a.Name);
  const std::string lower_b = LowerCase(b.Name);
  return lower_a != lower_b ? lower_a < lower_b : a.Name < b.Name;
}

std::string EntryRow(const TListingEntry& entry) {
  const std::string shown = entry.Name + (entry.IsFolder ? "/" : "");
  const std::string link = PercentEncoded(entry.Name) + (entry.IsFolder ? "/" : "");
  return "<tr><td><a href=\"" + link + "\">" + HTMLEscaped(shown) + "</a></td><td class=\"size\">" +
         (entry.IsFolder ? std::string("-") : std::to_string(entry.Size)) + "</td><td>" +
         LocalTime(entry.Modified) + "</td></tr>\n";
}

}  // namespace

std::string PercentEncoded(std::string_view text) {
  std::string encoded;
  encoded.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (Unreserved(byte)) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += HexDigits[byte >> HighNibbleShift];
      encoded += HexDigits[byte & LowNibbleMask];
    }
  }
  return encoded;
}

std::string HTMLEscaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::vector<TListingEntry> ListingEntries(const TListedFolder& folder) {
  std::vector<TListingEntry> entries;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder.Path, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    struct stat status {};
    if (name.empty() || name.front() == HiddenMark || stat(it->path().c_str(), &status) != 0)
      continue;
    const bool is_folder = S_ISDIR(status.st_mode);
    if ((!is_folder && !S_ISREG(status.st_mode)) || (is_folder && folder.IsAlias))
      continue;
    entries.push_back(
        {name, is_folder, static_cast<std::int64_t>(status.st_size), status.st_mtime});
  }
  std::sort(entries.begin(), entries.end(), ListedBefore);
  return entries;
}

std::string FolderListingPage(std::string_view request_path, const TListedFolder& folder,
                              const std::vector<TListingEntry>& entries) {
  const std::string title = "Index of " + HTMLEscaped(request_path);
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
      "</title>\n<style>body{font-family:sans-serif}td,th{padding:0 1em 0 0;text-align:left}"
      ".size{text-align:right}</style></head>\n<body>\n<h1>" +
      title + "</h1>\n<table>\n<tr><th>Name</th><th class=\"size\">Size</th><th>Modified</th></tr>\n";
  if (!folder.IsTop)
    page += "<tr><td><a href=\"../\">../</a></td><td></td><td></td></tr>\n";
  for (const TListingEntry& entry : entries)
    page += EntryRow(entry);
  page += "</table>\n</body></html>\n";
  return page;
}

}  // namespace quenby
