#pragma once

#include <quenby/isapi.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "isapi/module_guard.h"

namespace quenby {

class TECB;
class THTTPRequestInfo;

/// Most characters of a value a module reads that a trace line shows.
constexpr std::size_t TracedValueLength = 64;

/// The published name of a ServerSupportFunction request ("HSE_REQ_SEND_URL"), or
/// "request N" for a code the interface does not name.
std::string SupportRequestName(DWORD request);

/// The published name of an HttpExtensionProc result ("HSE_STATUS_SUCCESS"), or
/// "status N".
std::string ExtensionStatusName(DWORD status);

/// How a trace line shows the value of the server variable `name`: quoted and cut to
/// TracedValueLength characters ("..." after a cut), or "(value not shown)" for a
/// variable that carries credentials.
std::string TracedVariableValue(std::string_view name, std::string_view value);

/// Whether calls on `block` are traced: its runner traces modules.
bool Tracing(const TECB& block);

/// Writes one trace line for the run of `block`, when Tracing(block).
void TraceCall(const TECB& block, std::string_view text);

/// The first line of a traced run: the request line it answers and the client's address.
std::string TracedRequest(const THTTPRequestInfo& request);
/// The version call's outcome: its result and the version and description the module gave.
std::string TracedVersionCall(TGuardOutcome outcome, BOOL accepted, const HSE_VERSION_INFO& info);
/// HttpExtensionProc's outcome: the status it returned by name, or the fault.
std::string TracedProcResult(TGuardOutcome outcome, DWORD status);

/// " -> TRUE" or " -> FALSE, error N" for a callback's result; `error` is the errno the
/// callback left.
std::string TracedResult(BOOL result, int error);

/// Runs a callback's work `call` and, when calls on `block` are traced, writes the line
/// `describe(result, error)` after it, where error is the errno the work set (0 for none).
/// The module finds errno as the work alone would leave it.
template <typename Call, typename Describe>
BOOL TracedCallback(const TECB& block, Call call, Describe describe) {
  if (!Tracing(block))
    return call();
  const int before = errno;
  errno = 0;
  const BOOL result = call();
  const int error = errno;
  TraceCall(block, describe(result, error));
  errno = error != 0 ? error : before;
  return result;
}

}  // namespace quenby
