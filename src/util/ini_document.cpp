#include "util/ini_document.h"

#include <algorithm>

#include "util/text.h"

namespace quenby {
namespace {

enum class LineKind { Blank, Comment, Header, Key };

struct ParsedLine {
  LineKind kind = LineKind::Blank;
  std::string name;   ///< section name of a header, key name of a key line
  std::string value;  ///< value of a key line
};

bool IsLineBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// Only blanks around names and values are cut; other control bytes belong to the text.
std::string TrimBlanks(std::string_view text) {
  std::size_t first = 0;
  std::size_t end = text.size();
  while (first < end && IsLineBlank(text[first]))
    ++first;
  while (end > first && IsLineBlank(text[end - 1]))
    --end;
  return std::string(text.substr(first, end - first));
}

ParsedLine ParseLine(std::string_view text) {
  const std::string trimmed = TrimBlanks(text);
  if (trimmed.empty())
    return {LineKind::Blank, {}, {}};
  if (trimmed.front() == ';')
    return {LineKind::Comment, {}, {}};
  if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']')
    return {
        LineKind::Header, TrimBlanks(std::string_view(trimmed).substr(1, trimmed.size() - 2)), {}};
  const auto equals = trimmed.find('=');
  if (equals == std::string::npos)
    return {LineKind::Key, trimmed, {}};
  const std::string_view view(trimmed);
  return {LineKind::Key, TrimBlanks(view.substr(0, equals)), TrimBlanks(view.substr(equals + 1))};
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

void AddUnique(std::vector<std::string>& names, const std::string& name) {
  const auto same = [&name](const std::string& known) { return SameText(known, name); };
  if (std::none_of(names.begin(), names.end(), same))
    names.push_back(name);
}

}  // namespace

TIniDocument::TIniDocument(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    const auto lf = text.find('\n', start);
    if (lf == std::string_view::npos) {
      lines_.push_back({std::string(text.substr(start)), {}});
      break;
    }
    const bool crlf = lf > start && text[lf - 1] == '\r';
    const std::size_t end = crlf ? lf - 1 : lf;
    lines_.push_back({std::string(text.substr(start, end - start)), crlf ? "\r\n" : "\n"});
    start = lf + 1;
  }
}

std::string TIniDocument::Text() const {
  std::string text;
  for (const auto& line : lines_) {
    text += line.text;
    text += line.end;
  }
  return text;
}

std::vector<std::string> TIniDocument::ReadSections() const {
  std::vector<std::string> names;
  for (const auto& line : lines_) {
    const ParsedLine parsed = ParseLine(line.text);
    if (parsed.kind == LineKind::Header)
      AddUnique(names, parsed.name);
  }
  return names;
}

std::vector<std::string> TIniDocument::ReadSection(std::string_view section) const {
  std::vector<std::string> keys;
  for (const std::size_t header : HeaderLines(section)) {
    const std::size_t end = BlockEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
      const ParsedLine parsed = ParseLine(lines_[i].text);
      if (parsed.kind == LineKind::Key && !parsed.name.empty())
        AddUnique(keys, parsed.name);
    }
  }
  return keys;
}

std::string TIniDocument::ReadString(std::string_view section, std::string_view key) const {
  const std::size_t index = FindKeyLine(section, key);
  return index < lines_.size() ? ParseLine(lines_[index].text).value : std::string();
}

void TIniDocument::EraseSection(std::string_view section) {
  std::vector<bool> drop(lines_.size(), false);
  for (const std::size_t header : HeaderLines(section)) {
    const std::size_t end = BlockEnd(header);
    for (std::size_t i = header; i < end; ++i)
      drop[i] = ParseLine(lines_[i].text).kind != LineKind::Comment;
  }
  std::vector<Line> kept;
  kept.reserve(lines_.size());
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (!drop[i])
      kept.push_back(std::move(lines_[i]));
  }
  lines_ = std::move(kept);
}

void TIniDocument::WriteString(std::string_view section, std::string_view key,
                               std::string_view value) {
  const std::string section_name = TrimBlanks(section);
  const std::string key_name = TrimBlanks(key);
  std::string line = key_name + "=" + std::string(value);
  // A line break or a line that reads as a header would change the file's structure.
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) ||
      ParseLine(line).kind == LineKind::Header) {
    throw EIniFileError(Format("Settings entry [%s] %s cannot be stored in the file",
                               section_name.c_str(), key_name.c_str()));
  }
  if (key_name.empty())
    return;
  const std::size_t existing = FindKeyLine(section_name, key_name);
  if (existing < lines_.size()) {
    // The key keeps the spelling the file gave it.
    lines_[existing].text = ParseLine(lines_[existing].text).name + "=" + std::string(value);
    return;
  }
  const std::vector<std::size_t> headers = HeaderLines(section_name);
  if (headers.empty()) {
    InsertLine(lines_.size(), "[" + section_name + "]");
    InsertLine(lines_.size(), std::move(line));
    return;
  }
  std::size_t after = headers.front() + 1;
  const std::size_t end = BlockEnd(headers.front());
  for (std::size_t i = after; i < end; ++i) {
    if (ParseLine(lines_[i].text).kind == LineKind::Key)
      after = i + 1;
  }
  InsertLine(after, std::move(line));
}

std::vector<std::size_t> TIniDocument::HeaderLines(std::string_view section) const {
  const std::string name = TrimBlanks(section);
  std::vector<std::size_t> headers;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const ParsedLine parsed = ParseLine(lines_[i].text);
    if (parsed.kind == LineKind::Header && SameText(parsed.name, name))
      headers.push_back(i);
  }
  return headers;
}

std::size_t TIniDocument::BlockEnd(std::size_t header) const {
  std::size_t i = header + 1;
  while (i < lines_.size() && ParseLine(lines_[i].text).kind != LineKind::Header)
    ++i;
  return i;
}

std::size_t TIniDocument::FindKeyLine(std::string_view section, std::string_view key) const {
  const std::string name = TrimBlanks(key);
  for (const std::size_t header : HeaderLines(section)) {
    const std::size_t end = BlockEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
      const ParsedLine parsed = ParseLine(lines_[i].text);
      if (parsed.kind == LineKind::Key && !parsed.name.empty() && SameText(parsed.name, name))
        return i;
    }
  }
  return lines_.size();
}

void TIniDocument::InsertLine(std::size_t index, std::string text) {
  const std::string end = NewLineEnd();
  if (index > 0 && lines_[index - 1].end.empty())
    lines_[index - 1].end = end;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index), Line{std::move(text), end});
}

std::string TIniDocument::NewLineEnd() const {
  for (const auto& line : lines_) {
    if (!line.end.empty())
      return line.end;
  }
  return "\n";
}

}  // namespace quenby
