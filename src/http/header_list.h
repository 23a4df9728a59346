#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quenby {

/// The header lines of one HTTP message: an ordered list of text lines ("Name: value"),
/// where a line that begins with a space or a TAB continues the line before it. Lookups by
/// name ignore case. Not locked: a list belongs to the one thread that uses its record.
/// Indexes count from 0; an index outside the list raises std::out_of_range from the plain
/// list operations and gives an empty result from the lookups.
class THeaderList {
 public:
  static constexpr int DefaultFoldWidth = 78;

  /// Placed between name and value by SetValue; its text before trailing blanks (":")
  /// ends a name.
  std::string Separator = ": ";
  /// When false, NameOfLine returns names upper-cased.
  bool ExactNames = false;
  /// ValueOfLine appends the continuation lines that follow a line.
  bool JoinContinuations = true;
  /// SetValue folds long lines and removes the old line's continuation lines.
  bool FoldOnSet = true;
  /// Column limit for folding.
  int FoldWidth = DefaultFoldWidth;

  // Plain list operations.
  int Count() const { return static_cast<int>(lines_.size()); }
  const std::string& operator[](int index) const { return lines_.at(Slot(index)); }
  /// Appends a raw line; returns its index.
  int Add(std::string line);
  void Insert(int index, std::string line);
  void Delete(int index);
  /// Replaces line `index` with `line`.
  void Put(int index, std::string line);
  void Clear() { lines_.clear(); }
  const std::vector<std::string>& Lines() const { return lines_; }
  /// Replaces the lines with those of `other`; the switches of this list stay as they are.
  void Assign(const THeaderList& other) { lines_ = other.lines_; }
  void Assign(std::vector<std::string> lines) { lines_ = std::move(lines); }
  /// Every line followed by CR LF.
  std::string Text() const;
  /// Replaces the lines with those of a text split at CR LF, LF or CR.
  void SetText(std::string_view text);

  /// Text of the line before the first ":" (upper-cased unless ExactNames); empty when the
  /// line has no colon or the index is outside the list.
  std::string NameOfLine(int index) const;
  /// Value of line `index` (after its name and the colon), trimmed, continuation lines joined
  /// by single spaces when JoinContinuations is set; empty outside the list.
  std::string ValueOfLine(int index) const;
  /// Index of the first line whose name equals `name` ignoring case, or -1.
  int IndexOfHeader(std::string_view name) const;
  /// ValueOfLine of the first line named `name`; empty when absent.
  std::string ValueByName(std::string_view name) const;
  /// Appends the value of every line named `name` to `destination`, in list order; does
  /// nothing when `destination` is null.
  void ValuesByName(std::string_view name, std::vector<std::string>* destination) const;
  std::vector<std::string> ValuesByName(std::string_view name) const;
  /// Sets header `name`: replaces its line in place (a new one goes to the end), folding it
  /// when FoldOnSet is set; an empty value deletes the line (and, when FoldOnSet is set, its
  /// continuation lines). An empty value for an absent name does nothing.
  void SetValue(std::string_view name, std::string_view value);

 private:
  /// The name part of a line, as written; empty outside the list or without a colon.
  std::string_view NameView(int index) const;
  static std::size_t Slot(int index) { return static_cast<std::size_t>(index); }
  bool IsContinuation(int index) const;
  void DeleteContinuations(int index);
  void FoldAndPut(int index, const std::string& text);

  std::vector<std::string> lines_;
};

/// A text that begins with a space or a TAB continues the header line before it.
bool IsContinuationLine(std::string_view line);

/// Wraps `text` at blanks and commas outside double quotes so that pieces stay within
/// `width` columns where possible, joining the pieces with CR LF and one space. A CR LF plus
/// space already in the text is kept as a break. A text no longer than `width` is unchanged.
std::string FoldHeaderText(std::string_view text, int width);

}  // namespace quenby
