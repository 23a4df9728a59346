#pragma once

#include <quenby/isapi.h>

#include <span>
#include <string>
#include <string_view>

namespace quenby {

class TECB;

/// A variable a module may ask for by name (case-insensitive), and how its value is found.
struct TServerVariable {
  const char* Name;
  std::string (*Value)(const TECB& block);
};

/// Every named variable, in lookup order. Names not listed are looked up as request headers.
std::span<const TServerVariable> ServerVariables();

/// The value of a request header by name (case-insensitive); empty when absent.
std::string HeaderVariable(const TECB& block, std::string_view name);
/// The name without a leading "HTTP_" (capitals only); otherwise the name unchanged.
std::string StripHttpPrefix(std::string_view name);
/// HeaderVariable of the stripped name; when empty, retried with "_" replaced by "-".
std::string HttpHeaderVariable(const TECB& block, std::string_view name);

/// The GetServerVariable callback. Never writes beyond *lpdwSize bytes: a value that does
/// not fit with its zero byte gives FALSE, error 122 and the size needed. A ConnID that
/// names no live block gives FALSE and touches nothing.
BOOL WINAPI GetServerVariable(HCONN hConn, LPSTR lpszVariableName, LPVOID lpvBuffer,
                              LPDWORD lpdwSize);

}  // namespace quenby
