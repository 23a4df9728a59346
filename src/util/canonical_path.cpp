#include "util/canonical_path.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace quenby {
namespace {

constexpr char Delimiter = '/';
constexpr std::string_view CurrentFolder = ".";
constexpr std::string_view ParentFolder = "..";
// Room for the segments of a usual path, so that the walk allocates once.
constexpr std::size_t UsualSegmentCount = 16;

bool IsSeparator(char c, const TPathRules& rules) {
  return c == Delimiter || (rules.BackslashSeparates && c == '\\');
}

// Pushes the segments of `text` onto `segments`, empty and "." segments dropped and ".."
// taking one off. A ".." with only `floor` segments left fails the walk when `refuse` is set
// and is dropped otherwise.
bool WalkSegments(std::string_view text, const TPathRules& rules, std::size_t floor, bool refuse,
                  std::vector<std::string>& segments) {
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsSeparator(text[i], rules))
      ++i;
    const std::size_t start = i;
    while (i < text.size() && !IsSeparator(text[i], rules))
      ++i;
    const std::string_view segment = text.substr(start, i - start);
    if (segment.empty() || segment == CurrentFolder)
      continue;
    if (segment != ParentFolder) {
      segments.emplace_back(segment);
    } else if (segments.size() > floor) {
      segments.pop_back();
    } else if (refuse) {
      return false;
    }
  }
  return true;
}

// The segments of the base, absolute; nothing when it is relative and the working directory
// cannot be read.
std::optional<std::vector<std::string>> BaseSegments(std::string_view base,
                                                     const TPathRules& rules) {
  std::vector<std::string> segments;
  segments.reserve(UsualSegmentCount);
  if (!base.empty() && !IsSeparator(base.front(), rules)) {
    std::error_code error;
    const std::filesystem::path cwd = std::filesystem::current_path(error);
    if (error)
      return std::nullopt;
    WalkSegments(cwd.native(), rules, 0, false, segments);
  }
  WalkSegments(base, rules, 0, false, segments);
  return segments;
}

bool EndsAsFolder(std::string_view text, const TPathRules& rules) {
  if (text.empty())
    return false;
  if (IsSeparator(text.back(), rules))
    return true;
  std::size_t start = text.size();
  while (start > 0 && !IsSeparator(text[start - 1], rules))
    --start;
  const std::string_view last = text.substr(start);
  return last == CurrentFolder || last == ParentFolder;
}

std::string JoinAbsolute(const std::vector<std::string>& segments) {
  if (segments.empty())
    return std::string(1, Delimiter);
  std::size_t length = 0;
  for (const std::string& segment : segments)
    length += 1 + segment.size();
  std::string path;
  path.reserve(length);
  for (const std::string& segment : segments) {
    path += Delimiter;
    path += segment;
  }
  return path;
}

}  // namespace

std::optional<std::string> CanonicalPath(std::string_view base, std::string_view path,
                                         const TPathRules& rules) {
  std::optional<std::vector<std::string>> segments = BaseSegments(base, rules);
  if (!segments)
    return std::nullopt;
  const std::size_t floor = rules.ConfineToBase ? segments->size() : 0;
  if (!WalkSegments(path, rules, floor, rules.ConfineToBase, *segments))
    return std::nullopt;
  std::string result = JoinAbsolute(*segments);
  if (rules.KeepFolderSlash && !segments->empty() &&
      EndsAsFolder(path.empty() ? base : path, rules))
    result += Delimiter;
  return result;
}

}  // namespace quenby
