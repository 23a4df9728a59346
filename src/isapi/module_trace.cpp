#include "isapi/module_trace.h"

#include <array>
#include <cstring>
#include <utility>

#include "http/http_request_info.h"
#include "isapi/ecb.h"
#include "isapi/isapi_runner.h"
#include "util/text.h"

namespace quenby {
namespace {

using TCodeName = std::pair<DWORD, std::string_view>;

constexpr std::array<TCodeName, 31> SupportRequestNames = {{
    {HSE_REQ_SEND_URL_REDIRECT_RESP, "HSE_REQ_SEND_URL_REDIRECT_RESP"},
    {HSE_REQ_SEND_URL, "HSE_REQ_SEND_URL"},
    {HSE_REQ_SEND_RESPONSE_HEADER, "HSE_REQ_SEND_RESPONSE_HEADER"},
    {HSE_REQ_DONE_WITH_SESSION, "HSE_REQ_DONE_WITH_SESSION"},
    {HSE_REQ_END_RESERVED, "HSE_REQ_END_RESERVED"},
    {HSE_REQ_MAP_URL_TO_PATH, "HSE_REQ_MAP_URL_TO_PATH"},
    {HSE_REQ_GET_SSPI_INFO, "HSE_REQ_GET_SSPI_INFO"},
    {HSE_APPEND_LOG_PARAMETER, "HSE_APPEND_LOG_PARAMETER"},
    {HSE_REQ_IO_COMPLETION, "HSE_REQ_IO_COMPLETION"},
    {HSE_REQ_TRANSMIT_FILE, "HSE_REQ_TRANSMIT_FILE"},
    {HSE_REQ_REFRESH_ISAPI_ACL, "HSE_REQ_REFRESH_ISAPI_ACL"},
    {HSE_REQ_IS_KEEP_CONN, "HSE_REQ_IS_KEEP_CONN"},
    {HSE_REQ_ASYNC_READ_CLIENT, "HSE_REQ_ASYNC_READ_CLIENT"},
    {HSE_REQ_GET_IMPERSONATION_TOKEN, "HSE_REQ_GET_IMPERSONATION_TOKEN"},
    {HSE_REQ_MAP_URL_TO_PATH_EX, "HSE_REQ_MAP_URL_TO_PATH_EX"},
    {HSE_REQ_ABORTIVE_CLOSE, "HSE_REQ_ABORTIVE_CLOSE"},
    {HSE_REQ_GET_CERT_INFO_EX, "HSE_REQ_GET_CERT_INFO_EX"},
    {HSE_REQ_SEND_RESPONSE_HEADER_EX, "HSE_REQ_SEND_RESPONSE_HEADER_EX"},
    {HSE_REQ_CLOSE_CONNECTION, "HSE_REQ_CLOSE_CONNECTION"},
    {HSE_REQ_IS_CONNECTED, "HSE_REQ_IS_CONNECTED"},
    {HSE_REQ_EXTENSION_TRIGGER, "HSE_REQ_EXTENSION_TRIGGER"},
    {HSE_REQ_MAP_UNICODE_URL_TO_PATH, "HSE_REQ_MAP_UNICODE_URL_TO_PATH"},
    {HSE_REQ_MAP_UNICODE_URL_TO_PATH_EX, "HSE_REQ_MAP_UNICODE_URL_TO_PATH_EX"},
    {HSE_REQ_EXEC_UNICODE_URL, "HSE_REQ_EXEC_UNICODE_URL"},
    {HSE_REQ_EXEC_URL, "HSE_REQ_EXEC_URL"},
    {HSE_REQ_GET_EXEC_URL_STATUS, "HSE_REQ_GET_EXEC_URL_STATUS"},
    {HSE_REQ_SEND_CUSTOM_ERROR, "HSE_REQ_SEND_CUSTOM_ERROR"},
    {HSE_REQ_IS_IN_PROCESS, "HSE_REQ_IS_IN_PROCESS"},
    {HSE_REQ_REPORT_UNHEALTHY, "HSE_REQ_REPORT_UNHEALTHY"},
    {HSE_REQ_NORMALIZE_URL, "HSE_REQ_NORMALIZE_URL"},
    {HSE_REQ_VECTOR_SEND, "HSE_REQ_VECTOR_SEND"},
}};

constexpr std::array<TCodeName, 4> StatusNames = {{
    {HSE_STATUS_SUCCESS, "HSE_STATUS_SUCCESS"},
    {HSE_STATUS_SUCCESS_AND_KEEP_CONN, "HSE_STATUS_SUCCESS_AND_KEEP_CONN"},
    {HSE_STATUS_PENDING, "HSE_STATUS_PENDING"},
    {HSE_STATUS_ERROR, "HSE_STATUS_ERROR"},
}};

// Variables whose values are credentials, or hold them among the request's header lines.
constexpr std::array<std::string_view, 5> HiddenVariables = {"AUTH_PASSWORD", "HTTP_AUTHORIZATION",
                                                             "HTTP_COOKIE", "ALL_HTTP", "ALL_RAW"};
constexpr std::string_view PasswordMark = "PASSWORD";
// The major version is the high half of a version number, the minor the low half.
constexpr int VersionShift = 16;
constexpr DWORD MinorVersionMask = 0xFFFF;
// A request line longer than this is cut in the trace.
constexpr std::size_t TracedRequestLength = 200;

template <std::size_t Count>
std::string NameOf(const std::array<TCodeName, Count>& names, DWORD code,
                   std::string_view unnamed) {
  for (const TCodeName& entry : names) {
    if (entry.first == code)
      return std::string(entry.second);
  }
  return std::string(unnamed) + " " + std::to_string(code);
}

bool Hidden(std::string_view name) {
  const std::string upper = UpperCase(std::string(name));
  for (std::string_view hidden : HiddenVariables) {
    if (upper == hidden)
      return true;
  }
  return upper.find(PasswordMark) != std::string::npos;
}

std::string FaultText(TGuardOutcome outcome) {
  return outcome == TGuardOutcome::Faulted ? "faulted (signal)" : "faulted (exception)";
}

}  // namespace

std::string SupportRequestName(DWORD request) {
  return NameOf(SupportRequestNames, request, "request");
}

std::string ExtensionStatusName(DWORD status) {
  return NameOf(StatusNames, status, "status");
}

std::string TracedVariableValue(std::string_view name, std::string_view value) {
  if (Hidden(name))
    return "(value not shown)";
  if (value.size() <= TracedValueLength)
    return "\"" + std::string(value) + "\"";
  return "\"" + std::string(value.substr(0, TracedValueLength)) + "\"...";
}

bool Tracing(const TECB& block) {
  return block.Runner != nullptr && block.Runner->TraceModules;
}

void TraceCall(const TECB& block, std::string_view text) {
  if (Tracing(block))
    block.Runner->Trace(block.TraceTag, text);
}

std::string TracedRequest(const THTTPRequestInfo& request) {
  std::string line = request.RequestLine.substr(0, TracedRequestLength);
  if (line.size() < request.RequestLine.size())
    line += "...";
  return "request \"" + line + "\" from " + request.ClientAddress;
}

std::string TracedVersionCall(TGuardOutcome outcome, BOOL accepted, const HSE_VERSION_INFO& info) {
  if (outcome != TGuardOutcome::Returned)
    return "GetExtensionVersion " + FaultText(outcome);
  const std::string description(info.lpszExtensionDesc,
                                strnlen(info.lpszExtensionDesc, HSE_MAX_EXT_DLL_NAME_LEN));
  return std::string("GetExtensionVersion -> ") + (accepted != FALSE ? "TRUE" : "FALSE") +
         ", version " + std::to_string(info.dwExtensionVersion >> VersionShift) + "." +
         std::to_string(info.dwExtensionVersion & MinorVersionMask) + " \"" + description + "\"";
}

std::string TracedProcResult(TGuardOutcome outcome, DWORD status) {
  if (outcome != TGuardOutcome::Returned)
    return "HttpExtensionProc " + FaultText(outcome);
  return "HttpExtensionProc -> " + ExtensionStatusName(status);
}

std::string TracedResult(BOOL result, int error) {
  if (result != FALSE)
    return " -> TRUE";
  if (error == 0)
    return " -> FALSE";
  return " -> FALSE, error " + std::to_string(error);
}

}  // namespace quenby
