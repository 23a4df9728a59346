#pragma once

#include <string>
#include <string_view>

namespace quenby {

// Text helpers shared by the records, the request loop, the reply writer and the cookies.
// Positions count from 1; 0 means "not found".

/// Returns the part of `text` before the first `delimiter` (ignoring case when
/// `case_sensitive` is false). When `remove` is set, `text` keeps the part after the
/// delimiter, or becomes empty when the delimiter is absent (the whole text is returned).
std::string SplitOff(std::string& text, std::string_view delimiter, bool remove = true,
                     bool case_sensitive = true);

/// 1-based position of the last occurrence of `sub` in `text` that begins at or before
/// `start` (-1 = end of text), compared ignoring case; 0 when there is none.
std::size_t LastPos(std::string_view sub, std::string_view text, long start = -1);

/// Decodes "%hh" escapes: a valid number from 1 to 255 gives that byte, an invalid one or
/// 0 gives nothing; the "%" and up to two following characters are consumed either way.
/// "+" is left alone.
std::string PercentDecode(std::string_view text);

}  // namespace quenby
