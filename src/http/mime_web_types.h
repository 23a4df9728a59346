#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace quenby {

/// Number of lines of the compiled-in file-type registry.
inline constexpr std::size_t WebMimeRegistryLineCount = 20;

/// The registry that stands in for the host's registry file where the host has none: the
/// current registered types of the common web formats, as lines "type ext1 ext2 ..." of the
/// host file's own syntax. Static data, safe to read from any thread.
const std::array<std::string_view, WebMimeRegistryLineCount>& WebMimeRegistryLines();

}  // namespace quenby
