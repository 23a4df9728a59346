#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "util/exception.h"

namespace quenby {

/// A section, key or value that cannot be stored on one line of a settings file.
QUENBY_DECLARE_EXCEPTION(EIniFileError, Exception);

/// The text of a settings file held in memory, line by line, with the five operations the
/// settings helpers use. Syntax: "[Section]" header lines, "Key=value" lines (blanks around
/// "=" and around names are ignored when reading), blank lines and ";" comment lines; a line
/// without "=" is a key with an empty value. Section and key names compare without regard
/// to case; a section that appears under several headers is one section. Lines end with LF
/// or CR LF.
///
/// Every line an operation does not change keeps its bytes, its line end included (only a
/// last line without a line end gains one when a line is added after it). New lines take
/// the line end of the file's first line (LF for a file without one). Not thread-safe:
/// one owner at a time.
class TIniDocument {
 public:
  TIniDocument() = default;
  /// Parses a whole file's text; never fails.
  explicit TIniDocument(std::string_view text);

  /// The whole file's text.
  std::string Text() const;

  /// Section names in file order, each once, spelled as at its first header.
  std::vector<std::string> ReadSections() const;
  /// Key names of the section in file order, each once; empty for a missing section.
  std::vector<std::string> ReadSection(std::string_view section) const;
  /// The value of the key's first line, without surrounding blanks; empty when missing.
  std::string ReadString(std::string_view section, std::string_view key) const;

  /// Removes the section's headers, key lines and blank lines. Its comment lines stay where
  /// they stand, so nothing a person wrote as a note is lost.
  void EraseSection(std::string_view section);
  /// Sets the key's first line to "Key=value" in place (the key spelled as in the file),
  /// or adds that line after the
  /// section's last key line, or adds the section with it at the end of the file. A key
  /// that is empty after trimming is not written (it could never be read back). Raises
  /// EIniFileError, changing nothing, when the section, key or value holds a CR or LF, or
  /// when the line would read as a section header.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);

 private:
  struct Line {
    std::string text;  ///< without its line end
    std::string end;   ///< "\n", "\r\n", or empty for a last line without one
  };

  /// Index of the header line of each block of the section, in file order.
  std::vector<std::size_t> HeaderLines(std::string_view section) const;
  /// One past the last line of the block whose header is at `header`.
  std::size_t BlockEnd(std::size_t header) const;
  /// Index of the section's first key line named `key`, or lines_.size() when missing.
  std::size_t FindKeyLine(std::string_view section, std::string_view key) const;
  void InsertLine(std::size_t index, std::string text);
  std::string NewLineEnd() const;

  std::vector<Line> lines_;
};

}  // namespace quenby
