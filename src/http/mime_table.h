#pragma once

#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "net/net_exception.h"

namespace quenby {

/// Refused AddType: empty extension, empty type, or an extension already in the table.
QUENBY_DECLARE_EXCEPTION(EMIMETypeError, ENetException);

/// The host's file-type registry read by default: lines "type ext1 ext2 ...".
inline constexpr std::string_view DefaultMimeTypesPath = "/etc/mime.types";
/// Content type for a file whose extension the table does not know.
inline constexpr std::string_view UnknownFileMimeType = "application/octet-stream";
/// Separator of the fill lines extension "=" type.
inline constexpr char MimeFillSeparator = '=';

/// Maps a file name's extension to the content type of the Content-Type header.
///
/// Two parallel lists: lower-case extensions beginning with "." and their lower-case types,
/// no extension twice. Every member takes the table's own lock, so lookups may come from any
/// number of threads at once; a lookup on a filled table only reads. The owner keeps the
/// table alive while other threads use it.
class TMimeTable {
 public:
  /// An empty table that, when `fill_now` is true, fills itself at once. `registry_path`
  /// names the host registry file read while filling; where that file is missing or cannot
  /// be read, the compiled-in web registry is applied in its place. An empty path leaves the
  /// built-in lines alone. Raises nothing.
  explicit TMimeTable(bool fill_now, std::string registry_path = std::string(DefaultMimeTypesPath));
  TMimeTable(const TMimeTable&) = delete;
  TMimeTable& operator=(const TMimeTable&) = delete;

  /// Copies of the two lists, entry i of one belonging to entry i of the other.
  std::vector<std::string> Extensions() const;
  std::vector<std::string> Types() const;

  /// Adds one pair; the extension gets a leading "." when it lacks one, both are
  /// lower-cased. Raises EMIMETypeError "Extension is empty", "Mimetype is empty" or
  /// "Extension already exits"; the table is unchanged then.
  void AddType(std::string_view extension, std::string_view mime_type);

  /// The type for the extension of `file_name` (text from the last "." that follows every
  /// "/", "\" and ":"), compared without regard to case; UnknownFileMimeType when unknown.
  /// An empty table is filled first on a miss, once, even with concurrent callers.
  std::string TypeForFile(std::string_view file_name);

  /// Replaces the whole table by fill lines extension `separator` type. Lines without an
  /// extension and repeats of an extension already loaded are skipped. A line with nothing
  /// after the separator raises EMIMETypeError "Mimetype is empty", leaving the lines read
  /// before it in the table.
  void LoadFromLines(const std::vector<std::string>& lines, char separator);

  /// Fills the table from FillDefaultTypes when it is empty; otherwise does nothing.
  void EnsureFilled();

  /// Appends the built-in lines, then the registry file's lines (or the compiled-in web
  /// registry's, without a file), to `lines`, but only when
  /// `lines` is empty on entry. A registry entry replaces the first line of its extension in
  /// place or is appended; later registry lines win. Touches no table state.
  void FillDefaultTypes(std::vector<std::string>& lines) const;

  /// The registry file this table reads while filling.
  const std::string& RegistryPath() const noexcept { return registry_path_; }

 private:
  void AddTypeLocked(std::string_view extension, std::string_view mime_type);
  void LoadFromLinesLocked(const std::vector<std::string>& lines, char separator);
  // The type of a lower-case extension, or nullptr when it is not in the table.
  const std::string* FindLocked(const std::string& extension) const;

  const std::string registry_path_;
  mutable std::shared_mutex mutex_;
  std::vector<std::string> extensions_;
  std::vector<std::string> types_;
  // Derived view of extensions_ for constant-time lookups; rebuilt with the lists.
  std::unordered_map<std::string, std::size_t> index_;
};

}  // namespace quenby
