#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quenby {

// Settings file helpers: the whole settings file is kept in memory as one process-wide
// string list, one line per section, and chosen sections are written back on demand.
//
// Threads: these routines take no lock. They are meant for one thread, the console's main
// thread, which is the only one that loads, reads, changes or flushes settings.

/// Stands for each CR LF of a section's text inside its one cache line.
inline constexpr std::string_view LineBreakMarker = "##CR##";

/// The process-wide cache: one line per section, the section name, "=", then the section's
/// lines each followed by LineBreakMarker. Lives from first use to program end; empty until
/// LoadSettingsFile. Main thread only.
std::vector<std::string>& SettingsCache();

/// Replaces the cache with every section of the file (a missing file gives an empty cache).
/// Keys with empty values are left out; a section whose keys all lack values is kept as its
/// bare key names; a section without keys is not cached. Sections whose name is empty or
/// holds "=" cannot be told apart in the cache and stay in the file only. Raises
/// EInOutError when the file exists but cannot be read; the cache is then left as it was.
void LoadSettingsFile(const std::string& file_name);

/// The key's value in the cached section; empty when the section or the key is missing.
std::string ReadSettingValue(std::string_view section, std::string_view key);

/// Sets the key in the cached section, or removes it when `value` is empty (a section
/// left without lines leaves the cache). Memory only; FlushSettingsSections writes it.
void WriteSettingValue(std::string_view section, std::string_view key, std::string_view value);

/// Replaces `lines` by the cached section's lines; leaves it untouched when the section is
/// missing or empty.
void ReadSectionText(std::string_view section, std::vector<std::string>& lines);

/// Replaces the cached section by a multi-line text (lines separated by CR LF); an empty
/// text removes the section from the cache. Memory only.
void WriteSectionText(std::string_view section, std::string_view text);

/// Writes to the file every cached section whose name occurs in `section_names` as a
/// substring (case-sensitive, so "Setup" also flushes a section named "Set"): the section
/// is erased in the file and its lines written anew, in one atomic rewrite per section.
/// A section named there that this process removed from the cache is erased from the file,
/// so that removing all of a section's lines lasts. Other sections keep their place and
/// bytes. Raises EInOutError "Unable to write to %s" when the file cannot be written
/// (sections already written stay written) and EIniFileError for a line that cannot be
/// stored (that section is left as it was).
void FlushSettingsSections(const std::string& file_name, std::string_view section_names);

/// True exactly when the upper-cased text is "TRUE".
bool TextToBool(std::string_view text);
/// "TRUE" or "FALSE".
std::string BoolToText(bool flag);

/// Sets, replaces or deletes the first line of `list` whose name (text before its first
/// "=") equals `name` without regard to case; an empty value deletes, and a missing name is
/// appended as name=value. Lines without "=" have no name and are never matched.
void SetListValue(std::vector<std::string>& list, std::string_view name, std::string_view value);

/// Replaces `pieces` by the parts of `text` between occurrences of `separator`; the last
/// part, if any text remains after the last separator, is trimmed with TrimSpaces. An
/// empty separator gives the whole (trimmed) text as one piece.
void SplitBySeparator(std::string_view text, std::string_view separator,
                      std::vector<std::string>& pieces);

/// The text without leading and trailing spaces (character 32 only).
std::string TrimSpaces(std::string_view text);

/// Replaces every occurrence of `old_text` in `text` by `new_text`, case-sensitive, left to
/// right, never rescanning inserted text. An empty `old_text` changes nothing.
void ReplaceAllText(std::string_view old_text, std::string_view new_text, std::string& text);

}  // namespace quenby
