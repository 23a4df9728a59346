#include "http/header_list.h"

#include <stdexcept>

#include "util/text.h"

namespace quenby {
namespace {

// What folding puts between two pieces of a long line.
constexpr std::string_view FoldBreak = "\r\n ";
constexpr std::string_view LineEnd = "\r\n";
constexpr char Quote = '"';

bool IsFoldBreakChar(char c) {
  return c == '\t' || c == ' ' || c == ',';
}

bool IsSkippedAfterBreak(char c) {
  return IsFoldBreakChar(c) || c == '\r' || c == '\n';
}

// Pieces of a folded text: split at every CR LF, each right-trimmed.
std::vector<std::string> SplitFoldedText(std::string_view text) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(LineEnd, start);
    if (end == std::string_view::npos) {
      pieces.push_back(TrimRight(text.substr(start)));
      return pieces;
    }
    pieces.push_back(TrimRight(text.substr(start, end - start)));
    start = end + LineEnd.size();
  }
}

}  // namespace

bool IsContinuationLine(std::string_view line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// Positions below count from 1, as the folding rule is stated: `pos` is the next character
// to look at, `piece_start` the first character of the current piece, `break_pos` the latest
// place where a break may go (0 = none yet).
std::string FoldHeaderText(std::string_view text, int width) {
  const std::size_t length = text.size();
  std::string result;
  std::size_t pos = 1;
  std::size_t piece_start = 1;
  std::size_t break_pos = 0;
  long column = 1;
  bool quoted = false;
  bool existing_break = false;
  while (pos <= length) {
    const char current = text[pos - 1];
    if (current == FoldBreak[0]) {
      if (!quoted && text.substr(pos - 1, FoldBreak.size()) == FoldBreak) {
        existing_break = true;
        pos += FoldBreak.size() - 1;
        break_pos = pos;
      }
    } else if (IsFoldBreakChar(current)) {
      if (!quoted)
        break_pos = pos;
    } else if (current == Quote) {
      quoted = !quoted;
    }
    ++pos;
    ++column;
    if (quoted || !(existing_break || (column > width && break_pos > piece_start)))
      continue;
    result.append(text.substr(piece_start - 1, break_pos - piece_start + 1));
    while (pos <= length && IsSkippedAfterBreak(text[pos - 1]))
      ++pos;
    if (!existing_break && pos < length)
      result.append(FoldBreak);
    column = static_cast<long>(pos - break_pos);
    piece_start = break_pos + 1;
    existing_break = false;
  }
  if (piece_start <= length)
    result.append(text.substr(piece_start - 1));
  return result;
}

// Room for the lines of a usual request or reply head, so that it grows once.
constexpr std::size_t UsualLineCount = 16;

int THeaderList::Add(std::string line) {
  if (lines_.empty())
    lines_.reserve(UsualLineCount);
  lines_.push_back(std::move(line));
  return Count() - 1;
}

void THeaderList::Insert(int index, std::string line) {
  if (index < 0 || index > Count())
    throw std::out_of_range("THeaderList::Insert: index out of range");
  lines_.insert(lines_.begin() + index, std::move(line));
}

void THeaderList::Delete(int index) {
  if (index < 0 || index >= Count())
    throw std::out_of_range("THeaderList::Delete: index out of range");
  lines_.erase(lines_.begin() + index);
}

void THeaderList::Put(int index, std::string line) {
  lines_.at(Slot(index)) = std::move(line);
}

std::string THeaderList::Text() const {
  return LinesToText(lines_);
}

void THeaderList::SetText(std::string_view text) {
  lines_ = TextToLines(text);
}

std::string_view THeaderList::NameView(int index) const {
  if (index < 0 || index >= Count())
    return {};
  const std::string& line = lines_[Slot(index)];
  std::string_view separator = Separator;
  while (!separator.empty() && static_cast<unsigned char>(separator.back()) <= ' ')
    separator.remove_suffix(1);
  const std::size_t colon = Pos(separator, line);
  if (colon == 0)
    return {};
  return std::string_view(line).substr(0, colon - 1);
}

std::string THeaderList::NameOfLine(int index) const {
  const std::string_view name = NameView(index);
  return ExactNames ? std::string(name) : UpperCase(name);
}

std::string THeaderList::ValueOfLine(int index) const {
  if (index < 0 || index >= Count())
    return {};
  const std::string& line = lines_[Slot(index)];
  // The value starts after the name and the one character of the colon.
  const std::size_t value_start = NameView(index).size() + 1;
  std::string value = value_start < line.size() ? line.substr(value_start) : std::string();
  if (JoinContinuations) {
    for (int next = index + 1; IsContinuation(next); ++next)
      value = Trim(value) + " " + Trim(lines_[Slot(next)]);
  }
  return Trim(value);
}

int THeaderList::IndexOfHeader(std::string_view name) const {
  for (int index = 0; index < Count(); ++index) {
    if (SameText(NameView(index), name))
      return index;
  }
  return -1;
}

std::string THeaderList::ValueByName(std::string_view name) const {
  return ValueOfLine(IndexOfHeader(name));
}

void THeaderList::ValuesByName(std::string_view name, std::vector<std::string>* destination) const {
  if (destination == nullptr)
    return;
  for (int index = 0; index < Count(); ++index) {
    if (SameText(NameView(index), name))
      destination->push_back(ValueOfLine(index));
  }
}

std::vector<std::string> THeaderList::ValuesByName(std::string_view name) const {
  std::vector<std::string> values;
  ValuesByName(name, &values);
  return values;
}

void THeaderList::SetValue(std::string_view name, std::string_view value) {
  int index = IndexOfHeader(name);
  if (!value.empty()) {
    if (index < 0)
      index = Add({});
    std::string line;
    line.reserve(name.size() + Separator.size() + value.size());
    line.append(name).append(Separator).append(value);
    if (FoldOnSet) {
      DeleteContinuations(index);
      FoldAndPut(index, line);
    } else {
      Put(index, std::move(line));
    }
  } else if (index >= 0) {
    if (FoldOnSet)
      DeleteContinuations(index);
    Delete(index);
  }
}

bool THeaderList::IsContinuation(int index) const {
  return index >= 0 && index < Count() && IsContinuationLine(lines_[Slot(index)]);
}

void THeaderList::DeleteContinuations(int index) {
  while (IsContinuation(index + 1))
    Delete(index + 1);
}

void THeaderList::FoldAndPut(int index, const std::string& text) {
  std::vector<std::string> pieces = SplitFoldedText(FoldHeaderText(text, FoldWidth));
  Put(index, std::move(pieces[0]));
  for (std::size_t i = 1; i < pieces.size(); ++i)
    Insert(index + static_cast<int>(i), std::move(pieces[i]));
}

}  // namespace quenby
