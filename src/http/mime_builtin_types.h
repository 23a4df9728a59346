#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace quenby {

/// Number of built-in fill lines of the MIME type table.
inline constexpr std::size_t BuiltinMimeTypeLineCount = 136;

/// The built-in fill lines, extension "=" type, in the order the table loads them. Two
/// extensions (".xbm", ".xml") occur twice; the table keeps the first of each. Static data,
/// safe to read from any thread.
const std::array<std::string_view, BuiltinMimeTypeLineCount>& BuiltinMimeTypeLines();

}  // namespace quenby
