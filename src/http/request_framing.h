#pragma once

#include <cstdint>
#include <string_view>

#include "http/header_list.h"

namespace quenby {

/// Whether a request of HTTP `version` with this "Connection" value may keep its connection:
/// HTTP/1.1 unless it asks for "close", HTTP/1.0 only when it asks for "keep-alive".
bool KeepsConnection(std::string_view version, std::string_view connection);

/// A "Content-Length" value: digits only (blanks around them allowed), within int32.
bool ParseContentLength(std::string_view text, std::int32_t& value);

/// The status that refuses a request whose body cannot be delimited on a kept connection, or
/// 0: 400 for "Content-Length" values that differ or are not numbers, 411 for a
/// "Transfer-Encoding" (bodies in chunks are not decoded, so their bytes must never be read
/// as the next request).
int RequestFramingFault(const THeaderList& headers);

}  // namespace quenby
