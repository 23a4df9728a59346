#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenby {

// Small text helpers shared by every subsystem. Texts are 8-bit byte strings; case rules
// touch ASCII letters only. Positions, where a helper takes or returns one, count from 1 and
// 0 means "not found", as in the rest of the system.

std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);
/// Equal ignoring the case of ASCII letters.
bool SameText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view text);

/// Remove characters up to and including the blank (code 32 and all control codes).
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

/// 1-based position of `sub` in `text` at or after `start`, 0 when absent.
std::size_t Pos(std::string_view sub, std::string_view text, std::size_t start = 1);
/// The same ignoring the case of ASCII letters.
std::size_t PosText(std::string_view sub, std::string_view text, std::size_t start = 1);

/// Decimal integer with optional leading blanks and sign ("$" or "0x" hex also accepted).
/// Raises EConvertError "'%s' is not a valid integer value" for anything else or overflow.
int StrToInt(std::string_view text);
int StrToIntDef(std::string_view text, int fallback);
bool TryStrToInt(std::string_view text, int& value);
bool TryStrToInt64(std::string_view text, std::int64_t& value);
std::int64_t StrToInt64Def(std::string_view text, std::int64_t fallback);

/// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// The text with the platform delimiter "/" appended unless it is empty or already ends in
/// "\" or "/".
std::string EnsureTrailingBackslash(std::string_view text);
/// The digits of the text that stand before its first "." ("8a0" gives "80", "80.5" "80").
std::string PortDigitsOnly(std::string_view text);

/// A string list's text form: every line followed by CR LF.
std::string LinesToText(const std::vector<std::string>& lines);
/// Splits a text into lines at CR LF, LF or CR; a final line break adds no empty line.
std::vector<std::string> TextToLines(std::string_view text);

}  // namespace quenby
