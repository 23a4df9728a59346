#include "http/mime_table.h"

#include <fstream>
#include <mutex>
#include <utility>

#include "http/mime_builtin_types.h"
#include "http/mime_web_types.h"
#include "util/file_system.h"
#include "util/text.h"

namespace quenby {
namespace {

constexpr char CommentStart = '#';
constexpr std::string_view NameSeparators = "/\\:";

// The lower-cased extension of a file name, "." included; empty when the last "." is not
// in the name's last component.
std::string ExtensionOf(std::string_view file_name) {
  const std::size_t dot = file_name.rfind('.');
  if (dot == std::string_view::npos)
    return {};
  const std::size_t separator = file_name.find_last_of(NameSeparators);
  if (separator != std::string_view::npos && separator > dot)
    return {};
  return LowerCase(file_name.substr(dot));
}

std::string WithLeadingDot(std::string extension) {
  if (extension.empty() || extension.front() == '.')
    return extension;
  return "." + extension;
}

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::vector<std::string_view> SplitAtBlanks(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i]))
      ++i;
    const std::size_t start = i;
    while (i < text.size() && !IsBlank(text[i]))
      ++i;
    if (i > start)
      words.push_back(text.substr(start, i - start));
  }
  return words;
}

struct TRegistryEntry {
  std::string Extension;  // with its leading "."
  std::string Type;
};

// Entries of one "type ext1 ext2 ..." line. An extension holding the fill separator would
// split its fill line in the wrong place, so it is left out.
void AddRegistryLine(std::string_view line, std::vector<TRegistryEntry>& entries) {
  line = line.substr(0, line.find(CommentStart));
  const std::vector<std::string_view> words = SplitAtBlanks(line);
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (words[i].find(MimeFillSeparator) != std::string_view::npos)
      continue;
    entries.push_back({WithLeadingDot(std::string(words[i])), std::string(words[0])});
  }
}

// The registry file's entries in file order; none for an empty path (no registry asked
// for). Where the path names no readable regular file (missing, a directory or a device,
// which is never read) the compiled-in web registry stands in for it.
std::vector<TRegistryEntry> ReadRegistry(const std::string& path) {
  std::vector<TRegistryEntry> entries;
  if (path.empty())
    return entries;
  std::ifstream file;
  if (IsRegularFile(path))
    file.open(path);
  if (!file.is_open()) {
    for (std::string_view line : WebMimeRegistryLines())
      AddRegistryLine(line, entries);
    return entries;
  }
  std::string line;
  while (std::getline(file, line))
    AddRegistryLine(line, entries);
  return entries;
}

// Geometric growth keeps a load linear; exact-size reserves would copy the list every time.
void ReserveOneMore(std::vector<std::string>& list) {
  constexpr std::size_t FirstCapacity = 16;
  if (list.size() == list.capacity())
    list.reserve(list.empty() ? FirstCapacity : list.size() * 2);
}

std::string FillLineKey(std::string_view line) {
  return LowerCase(line.substr(0, line.find(MimeFillSeparator)));
}

// Sets the line for each registry entry: the first line of that extension is replaced in
// place, or a new line is appended.
void MergeRegistry(const std::vector<TRegistryEntry>& entries, std::vector<std::string>& lines) {
  std::unordered_map<std::string, std::size_t> first_line;
  for (std::size_t i = 0; i < lines.size(); ++i)
    first_line.emplace(FillLineKey(lines[i]), i);
  for (const TRegistryEntry& entry : entries) {
    const std::string key = LowerCase(entry.Extension);
    const auto found = first_line.find(key);
    if (found == first_line.end()) {
      first_line.emplace(key, lines.size());
      lines.push_back(entry.Extension + MimeFillSeparator + entry.Type);
    } else {
      std::string& line = lines[found->second];
      line.replace(line.find(MimeFillSeparator) + 1, std::string::npos, entry.Type);
    }
  }
}

}  // namespace

TMimeTable::TMimeTable(bool fill_now, std::string registry_path)
    : registry_path_(std::move(registry_path)) {
  if (fill_now)
    EnsureFilled();
}

std::vector<std::string> TMimeTable::Extensions() const {
  std::shared_lock lock(mutex_);
  return extensions_;
}

std::vector<std::string> TMimeTable::Types() const {
  std::shared_lock lock(mutex_);
  return types_;
}

void TMimeTable::AddType(std::string_view extension, std::string_view mime_type) {
  std::unique_lock lock(mutex_);
  AddTypeLocked(extension, mime_type);
}

std::string TMimeTable::TypeForFile(std::string_view file_name) {
  const std::string extension = ExtensionOf(file_name);
  {
    std::shared_lock lock(mutex_);
    if (const std::string* type = FindLocked(extension))
      return *type;
    if (!extensions_.empty())
      return std::string(UnknownFileMimeType);
  }
  EnsureFilled();
  std::shared_lock lock(mutex_);
  if (const std::string* type = FindLocked(extension))
    return *type;
  return std::string(UnknownFileMimeType);
}

void TMimeTable::LoadFromLines(const std::vector<std::string>& lines, char separator) {
  std::unique_lock lock(mutex_);
  LoadFromLinesLocked(lines, separator);
}

void TMimeTable::EnsureFilled() {
  std::unique_lock lock(mutex_);
  if (!extensions_.empty())
    return;
  std::vector<std::string> lines;
  FillDefaultTypes(lines);
  LoadFromLinesLocked(lines, MimeFillSeparator);
}

void TMimeTable::FillDefaultTypes(std::vector<std::string>& lines) const {
  if (!lines.empty())
    return;
  const auto& builtin = BuiltinMimeTypeLines();
  lines.assign(builtin.begin(), builtin.end());
  MergeRegistry(ReadRegistry(registry_path_), lines);
}

void TMimeTable::AddTypeLocked(std::string_view extension, std::string_view mime_type) {
  std::string key = WithLeadingDot(LowerCase(extension));
  if (key.empty())
    throw EMIMETypeError("Extension is empty");
  std::string type = LowerCase(mime_type);
  if (type.empty())
    throw EMIMETypeError("Mimetype is empty");
  if (index_.count(key) != 0)
    throw EMIMETypeError("Extension already exits");
  // Room first, so that the two lists and the index change together or not at all.
  ReserveOneMore(extensions_);
  ReserveOneMore(types_);
  index_.emplace(key, extensions_.size());
  extensions_.push_back(std::move(key));
  types_.push_back(std::move(type));
}

void TMimeTable::LoadFromLinesLocked(const std::vector<std::string>& lines, char separator) {
  extensions_.clear();
  types_.clear();
  index_.clear();
  for (const std::string& line : lines) {
    const std::size_t position = line.find(separator);
    if (position == std::string::npos || position == 0)
      continue;
    const std::string extension = LowerCase(std::string_view(line).substr(0, position));
    if (index_.count(WithLeadingDot(extension)) != 0)
      continue;
    AddTypeLocked(extension, std::string_view(line).substr(position + 1));
  }
}

const std::string* TMimeTable::FindLocked(const std::string& extension) const {
  const auto found = index_.find(extension);
  return found == index_.end() ? nullptr : &types_[found->second];
}

}  // namespace quenby
