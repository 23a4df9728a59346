#include "http/http_text.h"

#include "util/text.h"

namespace quenby {
namespace {

constexpr std::size_t EscapeDigits = 2;

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// The value of one to two hex digits, or -1 when they are not a hexadecimal number.
int HexValue(std::string_view digits) {
  if (digits.empty())
    return -1;
  int value = 0;
  for (char c : digits) {
    const int digit = HexDigitValue(c);
    if (digit < 0)
      return -1;
    value = value * 16 + digit;
  }
  return value;
}

}  // namespace

std::string SplitOff(std::string& text, std::string_view delimiter, bool remove,
                     bool case_sensitive) {
  const std::size_t at = case_sensitive ? Pos(delimiter, text) : PosText(delimiter, text);
  if (at == 0) {
    std::string whole = text;
    if (remove)
      text.clear();
    return whole;
  }
  std::string before = text.substr(0, at - 1);
  if (remove)
    text.erase(0, at - 1 + delimiter.size());
  return before;
}

std::size_t LastPos(std::string_view sub, std::string_view text, long start) {
  if (sub.empty() || sub.size() > text.size())
    return 0;
  const std::size_t last_start = text.size() - sub.size() + 1;
  std::size_t candidate = start < 0 ? last_start : static_cast<std::size_t>(start);
  if (candidate > last_start)
    candidate = last_start;
  for (; candidate >= 1; --candidate) {
    if (SameText(text.substr(candidate - 1, sub.size()), sub))
      return candidate;
  }
  return 0;
}

std::string PercentDecode(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      result += text[i++];
      continue;
    }
    const std::string_view digits = text.substr(i + 1, EscapeDigits);
    const int value = HexValue(digits);
    if (value > 0)
      result += static_cast<char>(value);
    i += 1 + digits.size();
  }
  return result;
}

}  // namespace quenby
