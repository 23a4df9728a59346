#pragma once

#include <quenby/isapi.h>

#include <array>
#include <string>
#include <string_view>

namespace quenby {

class TECB;

/// The names a module may ask for, in table order (the first case-insensitive match wins).
extern const std::array<const char*, 45> ServerVariableNames;

/// The value of a request header by name (case-insensitive); empty when absent.
std::string HeaderVariable(const TECB& block, std::string_view name);
/// The name without a leading "HTTP_" (capitals only); otherwise the name unchanged.
std::string StripHttpPrefix(std::string_view name);
/// HeaderVariable of the stripped name; when empty, retried with "_" replaced by "-".
std::string HttpHeaderVariable(const TECB& block, std::string_view name);
/// The value of a server variable of the table (index into ServerVariableNames).
std::string ServerVariableValue(const TECB& block, std::size_t index);

/// The GetServerVariable callback. Never writes beyond *lpdwSize bytes: a value that does
/// not fit with its zero byte gives FALSE, error 122 and the size needed. A ConnID that
/// names no live block gives FALSE and touches nothing.
BOOL WINAPI GetServerVariable(HCONN hConn, LPSTR lpszVariableName, LPVOID lpvBuffer,
                              LPDWORD lpdwSize);

}  // namespace quenby
