#include "util/settings_file.h"

#include <algorithm>

#include "util/ini_file.h"
#include "util/text.h"

namespace quenby {
namespace {

constexpr std::string_view LineBreak = "\r\n";
constexpr std::size_t NotFound = static_cast<std::size_t>(-1);

// Sections removed from the cache since the last load. Flushing must erase them from the
// file too, or a section whose lines were all removed would come back at the next load.
std::vector<std::string>& RemovedSections() {
  static std::vector<std::string> removed;
  return removed;
}

bool HasName(std::string_view line) {
  return line.find('=') != std::string_view::npos;
}

std::string NamePart(std::string_view line) {
  const auto equals = line.find('=');
  return equals == std::string_view::npos ? std::string() : std::string(line.substr(0, equals));
}

std::string ValuePart(std::string_view line) {
  const auto equals = line.find('=');
  return equals == std::string_view::npos ? std::string() : std::string(line.substr(equals + 1));
}

std::size_t IndexOfName(const std::vector<std::string>& list, std::string_view name) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (HasName(list[i]) && SameText(NamePart(list[i]), name))
      return i;
  }
  return NotFound;
}

std::string Encode(const std::vector<std::string>& lines) {
  std::string text = LinesToText(lines);
  ReplaceAllText(LineBreak, LineBreakMarker, text);
  return text;
}

std::string DecodeText(std::string_view encoded) {
  std::string text(encoded);
  ReplaceAllText(LineBreakMarker, LineBreak, text);
  return text;
}

std::string CachedText(std::string_view section) {
  const auto& cache = SettingsCache();
  const std::size_t index = IndexOfName(cache, section);
  return index == NotFound ? std::string() : ValuePart(cache[index]);
}

void StoreSection(std::string_view section, std::string_view encoded) {
  auto& cache = SettingsCache();
  const bool was_cached = IndexOfName(cache, section) != NotFound;
  SetListValue(cache, section, encoded);
  auto& removed = RemovedSections();
  std::erase_if(removed, [section](const std::string& name) { return SameText(name, section); });
  if (was_cached && encoded.empty())
    removed.emplace_back(section);
}

// One piece of a flushed section: a name=value line writes the value of the first piece of
// that name; a line without a name is written whole as a key without value.
void WritePiece(TIniDocument& document, const std::string& section,
                const std::vector<std::string>& pieces, const std::string& piece) {
  const std::string name = NamePart(piece);
  if (!name.empty()) {
    document.WriteString(section, name, ValuePart(pieces[IndexOfName(pieces, name)]));
  } else if (!piece.empty()) {
    document.WriteString(section, piece, "");
  }
}

void FlushSection(TIniFile& file, const std::string& section, std::string_view encoded) {
  std::vector<std::string> pieces;
  SplitBySeparator(encoded, LineBreakMarker, pieces);
  file.Update([&](TIniDocument& document) {
    document.EraseSection(section);
    for (const auto& piece : pieces)
      WritePiece(document, section, pieces, piece);
  });
}

void EraseRemovedSections(TIniFile& file, std::string_view section_names) {
  auto& removed = RemovedSections();
  const std::vector<std::string> names = removed;
  for (const auto& section : names) {
    if (section_names.find(section) == std::string_view::npos ||
        IndexOfName(SettingsCache(), section) != NotFound) {
      continue;
    }
    file.EraseSection(section);
    std::erase(removed, section);
  }
}

}  // namespace

std::vector<std::string>& SettingsCache() {
  static std::vector<std::string> cache;
  return cache;
}

void LoadSettingsFile(const std::string& file_name) {
  const TIniDocument document = TIniFile(file_name).Read();
  auto& cache = SettingsCache();
  cache.clear();
  RemovedSections().clear();
  for (const auto& section : document.ReadSections()) {
    if (section.empty() || HasName(section))
      continue;
    const std::vector<std::string> keys = document.ReadSection(section);
    std::vector<std::string> lines;
    for (const auto& key : keys)
      SetListValue(lines, key, document.ReadString(section, key));
    if (lines.empty())
      lines = keys;
    if (!lines.empty())
      SetListValue(cache, section, Encode(lines));
  }
}

std::string ReadSettingValue(std::string_view section, std::string_view key) {
  const std::vector<std::string> lines = TextToLines(DecodeText(CachedText(section)));
  const std::size_t index = IndexOfName(lines, key);
  return index == NotFound ? std::string() : ValuePart(lines[index]);
}

void WriteSettingValue(std::string_view section, std::string_view key, std::string_view value) {
  std::vector<std::string> lines = TextToLines(DecodeText(CachedText(section)));
  SetListValue(lines, key, value);
  StoreSection(section, Encode(lines));
}

void ReadSectionText(std::string_view section, std::vector<std::string>& lines) {
  const std::string text = DecodeText(CachedText(section));
  if (!text.empty())
    lines = TextToLines(text);
}

void WriteSectionText(std::string_view section, std::string_view text) {
  std::string encoded(text);
  ReplaceAllText(LineBreak, LineBreakMarker, encoded);
  StoreSection(section, encoded);
}

void FlushSettingsSections(const std::string& file_name, std::string_view section_names) {
  TIniFile file(file_name);
  const std::vector<std::string> entries = SettingsCache();
  for (const auto& entry : entries) {
    const std::string section = NamePart(entry);
    if (!section.empty() && section_names.find(section) != std::string_view::npos)
      FlushSection(file, section, ValuePart(entry));
  }
  EraseRemovedSections(file, section_names);
}

bool TextToBool(std::string_view text) {
  return UpperCase(text) == "TRUE";
}

std::string BoolToText(bool flag) {
  return flag ? "TRUE" : "FALSE";
}

void SetListValue(std::vector<std::string>& list, std::string_view name, std::string_view value) {
  std::string line = std::string(name) + "=" + std::string(value);
  const std::size_t index = IndexOfName(list, name);
  if (index != NotFound) {
    if (value.empty())
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
    else
      list[index] = std::move(line);
  } else if (!value.empty()) {
    list.push_back(std::move(line));
  }
}

void SplitBySeparator(std::string_view text, std::string_view separator,
                      std::vector<std::string>& pieces) {
  // Copies, because the arguments may view pieces that are about to be cleared.
  const std::string source(text);
  const std::string marker(separator);
  pieces.clear();
  std::string_view rest(source);
  if (!marker.empty()) {
    for (auto at = rest.find(marker); !rest.empty() && at != std::string_view::npos;
         at = rest.find(marker)) {
      pieces.emplace_back(rest.substr(0, at));
      rest.remove_prefix(at + marker.size());
    }
  }
  if (!rest.empty())
    pieces.push_back(TrimSpaces(rest));
}

std::string TrimSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos)
    return std::string();
  const auto last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

void ReplaceAllText(std::string_view old_text, std::string_view new_text, std::string& text) {
  if (old_text.empty())
    return;
  std::string result;
  std::size_t start = 0;
  for (auto at = text.find(old_text); at != std::string::npos; at = text.find(old_text, start)) {
    result.append(text, start, at - start);
    result.append(new_text);
    start = at + old_text.size();
  }
  result.append(text, start);
  text = std::move(result);
}

}  // namespace quenby
