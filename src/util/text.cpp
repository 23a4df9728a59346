#include "util/text.h"

#include <cstdarg>
#include <cstdio>
#include <limits>

#include "util/exception.h"

namespace quenby {
namespace {

char LowerChar(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
char UpperChar(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  c = LowerChar(c);
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string LowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    c = LowerChar(c);
  return result;
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    c = UpperChar(c);
  return result;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerChar(a[i]) != LowerChar(b[i]))
      return false;
  }
  return true;
}

bool StartsText(std::string_view prefix, std::string_view text) {
  return text.size() >= prefix.size() && SameText(prefix, text.substr(0, prefix.size()));
}

std::string Trim(std::string_view text) {
  return TrimLeft(TrimRight(text));
}

std::string TrimLeft(std::string_view text) {
  std::size_t first = 0;
  while (first < text.size() && IsBlank(text[first]))
    ++first;
  return std::string(text.substr(first));
}

std::string TrimRight(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1]))
    --end;
  return std::string(text.substr(0, end));
}

std::size_t Pos(std::string_view sub, std::string_view text, std::size_t start) {
  if (sub.empty() || start < 1 || start > text.size())
    return 0;
  const auto found = text.find(sub, start - 1);
  return found == std::string_view::npos ? 0 : found + 1;
}

std::size_t PosText(std::string_view sub, std::string_view text, std::size_t start) {
  return Pos(LowerCase(sub), LowerCase(text), start);
}

bool TryStrToInt64(std::string_view text, std::int64_t& value) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && LowerChar(text[i + 1]) == 'x') {
    base = 16;
    i += 2;
  }
  if (i >= text.size())
    return false;
  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
  std::uint64_t result = 0;
  for (; i < text.size(); ++i) {
    const int digit =
        base == 10 ? (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1) : HexDigit(text[i]);
    if (digit < 0)
      return false;
    if (result > (limit - static_cast<std::uint64_t>(digit)) / static_cast<std::uint64_t>(base)) {
      return false;
    }
    result = result * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
  }
  value = negative ? static_cast<std::int64_t>(0 - result) : static_cast<std::int64_t>(result);
  return true;
}

bool TryStrToInt(std::string_view text, int& value) {
  std::int64_t wide = 0;
  if (!TryStrToInt64(text, wide) || wide < std::numeric_limits<int>::min() ||
      wide > std::numeric_limits<int>::max()) {
    return false;
  }
  value = static_cast<int>(wide);
  return true;
}

int StrToInt(std::string_view text) {
  int value = 0;
  if (!TryStrToInt(text, value)) {
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  }
  return value;
}

int StrToIntDef(std::string_view text, int fallback) {
  int value = 0;
  return TryStrToInt(text, value) ? value : fallback;
}

std::int64_t StrToInt64Def(std::string_view text, std::int64_t fallback) {
  std::int64_t value = 0;
  return TryStrToInt64(text, value) ? value : fallback;
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string result;
  if (needed > 0) {
    result.resize(static_cast<std::size_t>(needed));
    std::vsnprintf(result.data(), result.size() + 1, format, args);
  }
  va_end(args);
  return result;
}

std::string EnsureTrailingBackslash(std::string_view text) {
  if (text.empty() || text.back() == '\\' || text.back() == '/')
    return std::string(text);
  return std::string(text) + '/';
}

std::string PortDigitsOnly(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c == '.')
      break;
    if (c >= '0' && c <= '9')
      digits += c;
  }
  return digits;
}

std::string LinesToText(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::vector<std::string> TextToLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size())
    lines.emplace_back(text.substr(start));
  return lines;
}

}  // namespace quenby
