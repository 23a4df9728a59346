#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "util/ini_document.h"

namespace quenby {

/// A settings file on disk, offering the five operations of the settings helpers. Every call
/// reads the file afresh; every change rewrites it at once and atomically (a temporary file
/// in the same folder, then a rename over the original), so a crash leaves either the old
/// or the new file, never half of one. The file's permissions are kept; a symbolic link is
/// followed and its target replaced. Syntax and what is kept byte for byte: TIniDocument.
///
/// A missing file (or folder) reads as a file without sections. A file that exists but cannot
/// be read raises EInOutError from the read operations. A change that cannot be written,
/// for whatever reason, raises EInOutError "Unable to write to %s" with the file name and the
/// operating system's error number; the file is then left as it was.
///
/// Holds only the file name: several objects may name the same file, but changes from
/// several threads or processes at once are not merged (the last rename wins).
class TIniFile {
 public:
  explicit TIniFile(std::string file_name);

  const std::string& FileName() const { return file_name_; }

  /// Section names in file order (see TIniDocument::ReadSections).
  std::vector<std::string> ReadSections() const;
  /// Key names of a section in file order (see TIniDocument::ReadSection).
  std::vector<std::string> ReadSection(std::string_view section) const;
  /// One key's whole value; empty when the key or the section is missing.
  std::string ReadString(std::string_view section, std::string_view key) const;
  /// Erases the section (see TIniDocument::EraseSection) and rewrites the file.
  void EraseSection(std::string_view section);
  /// Sets one key (see TIniDocument::WriteString) and rewrites the file.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);

  /// The whole file as one snapshot, for callers that read many keys.
  TIniDocument Read() const;
  /// Applies every change `change` makes to the document in one rewrite, so that readers
  /// of the file never see a part of them. Nothing is written when `change` raises (its
  /// exception passes through) or leaves the text as it was.
  void Update(const std::function<void(TIniDocument&)>& change);

 private:
  void WriteAtomically(const std::string& text) const;
  [[noreturn]] void RaiseUnableToWrite(int error_code) const;

  std::string file_name_;
};

}  // namespace quenby
