#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quenby {

/// How CanonicalPath reads its texts and shapes its result.
struct TPathRules {
  /// "\" separates segments as "/" does, for paths that may be written with either.
  bool BackslashSeparates = false;
  /// A ".." of the path that would climb above the base fails the whole path; otherwise only
  /// "/" stops it.
  bool ConfineToBase = false;
  /// The result ends in "/" when the text it came from ends as a folder name does: in a
  /// separator, "." or "..".
  bool KeepFolderSlash = false;
};

/// The absolute, dot-free form of `base` followed by `path`: one "/" between segments, empty
/// and "." segments dropped, ".." taking off the segment before it; above "/" there is nothing,
/// so "/.." is "/". A base that does not start with a separator counts from the working
/// directory; an empty base is "/". Pure text: nothing on disk is looked at, links are not
/// followed and percent escapes are taken literally (callers decode first). Nothing when the
/// working directory cannot be read, or, with ConfineToBase, when the path climbs above the
/// base. Any thread; raises nothing but std::bad_alloc.
std::optional<std::string> CanonicalPath(std::string_view base, std::string_view path,
                                         const TPathRules& rules);

}  // namespace quenby
