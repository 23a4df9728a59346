#include "isapi/server_variables.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <mutex>

#include "http/http_request_info.h"
#include "http/http_server.h"
#include "http/http_session.h"
#include "isapi/ecb.h"
#include "net/peer_thread.h"
#include "net/socket_handle.h"
#include "net/socket_stack.h"
#include "net/tcp_connection.h"
#include "util/text.h"

namespace quenby {

const std::array<const char*, 45> ServerVariableNames = {
    "AUTH_TYPE",
    "AUTH_NAME",
    "AUTH_PASS",
    "CONTENT_LENGTH",
    "CONTENT_TYPE",
    "GATEWAY_INTERFACE",
    "PATH_INFO",
    "PATH_TRANSLATED",
    "QUERY_STRING",
    "REMOTE_ADDR",
    "REMOTE_HOST",
    "REMOTE_USER",
    "REQUEST_METHOD",
    "SCRIPT_NAME",
    "SERVER_NAME",
    "SERVER_PORT",
    "SERVER_PROTOCOL",
    "SERVER_SOFTWARE",
    "HTTP_COOKIE",
    "HTTP_USER_AGENT",
    "URL",
    "HTTP_CACHE_CONTROL",
    "HTTP_DATE",
    "HTTP_ACCEPT",
    "HTTP_FROM",
    "HTTP_HOST",
    "HTTP_IF_MODIFIED_SINCE",
    "HTTP_REFERER",
    "HTTP_CONTENT_ENCODING",
    "HTTP_CONTENT_VERSION",
    "HTTP_DERIVED_FROM",
    "HTTP_EXPIRES",
    "HTTP_TITLE",
    "HTTP_CONNECTION",
    "HTTP_AUTHORIZATION",
    "DOCUMENT_ROOT",
    "SERVER_ADMIN",
    "SERVER_ADDR",
    "HTTP_ACCEPT_LANGUAGE",
    "HTTP_ACCEPT_ENCODING",
    "HTTP_CLIENT_IP",
    "REDIRECT_STATUS",
    "HTTP_REDIRECT_STATUS",
    "REDIRECT_URL",
    "HTTP_SESSION",
};

namespace {

constexpr const char* kAuthType = "Basic";
constexpr const char* kGatewayInterface = "ISAPI";
constexpr const char* kRedirectStatus = "200";
constexpr std::string_view kHttpPrefix = "HTTP_";
constexpr std::string_view kModuleExtension = ".dll";

// The request path up to and including its first ".dll", keeping the path's own case.
std::string ScriptName(const std::string& path) {
  const std::size_t at = LowerCase(path).find(kModuleExtension);
  if (at == std::string::npos)
    return path;
  return path.substr(0, at + kModuleExtension.size());
}

// A failed reverse lookup answers the address itself, which is what a module that shows
// or logs REMOTE_HOST can still use.
std::string RemoteHost(const std::string& address) {
  try {
    std::string host = SocketStack().HostByAddress(address);
    return host.empty() ? address : host;
  } catch (...) {
    return address;
  }
}

std::string ServerPort(const TECB& block) {
  TTCPServerConnection* connection = block.PeerThread->Connection();
  TSocketHandle* binding = connection != nullptr ? connection->SocketBinding() : nullptr;
  return binding != nullptr ? std::to_string(binding->Port) : std::string();
}

std::string SessionText(const THTTPRequestInfo& request) {
  THTTPSession* session = request.CurrentSession;
  if (session == nullptr)
    return {};
  std::lock_guard<std::mutex> guard(session->SessionLock);
  std::string text;
  for (const std::string& line : session->SessionValues)
    text += line + "\r\n";
  return text;
}

// Copies `value` and its zero byte into the module's buffer of *size bytes, or reports the
// size needed without writing.
BOOL CopyOut(const std::string& value, LPVOID buffer, LPDWORD size) {
  const std::size_t needed = value.size() + 1;
  if (buffer == nullptr || *size < needed) {
    *size = static_cast<DWORD>(needed);
    errno = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  std::memcpy(buffer, value.c_str(), needed);
  *size = static_cast<DWORD>(needed);
  return TRUE;
}

int FindName(std::string_view name) {
  for (std::size_t i = 0; i < ServerVariableNames.size(); ++i)
    if (SameText(name, ServerVariableNames[i]))
      return static_cast<int>(i);
  return -1;
}

}  // namespace

std::string HeaderVariable(const TECB& block, std::string_view name) {
  return block.RequestInfo->Headers.ValueByName(name);
}

std::string StripHttpPrefix(std::string_view name) {
  if (name.substr(0, kHttpPrefix.size()) == kHttpPrefix)
    name.remove_prefix(kHttpPrefix.size());
  return std::string(name);
}

std::string HttpHeaderVariable(const TECB& block, std::string_view name) {
  std::string header = StripHttpPrefix(name);
  std::string value = HeaderVariable(block, header);
  if (!value.empty())
    return value;
  for (char& c : header)
    if (c == '_')
      c = '-';
  return HeaderVariable(block, header);
}

std::string ServerVariableValue(const TECB& block, std::size_t index) {
  const THTTPRequestInfo& q = *block.RequestInfo;
  switch (index + 1) {  // numbered as in the table of names
    case 1:
      return kAuthType;
    case 2:
      return q.AuthorizationUser;
    case 3:
      return q.AuthorizationPassword;
    case 4:
      return HeaderVariable(block, "content-length");
    case 5:
      return HeaderVariable(block, "content-type");
    case 6:
      return kGatewayInterface;
    case 7:
      return block.ecb_.lpszPathTranslated != nullptr ? block.ecb_.lpszPathTranslated : "";
    case 8:
      return q.Path;
    case 9:
      return q.ParamText;
    case 10:
      return q.ClientAddress;
    case 11:
      return RemoteHost(q.ClientAddress);
    case 12:
      return q.AuthorizationUser;
    case 13:
      return q.Method;
    case 14:
      return ScriptName(q.Path);
    case 15:
      return q.Host;
    case 16:
      return ServerPort(block);
    case 17:
      return q.HTTPVersion;
    case 18:
      return block.Server != nullptr ? block.Server->ServerSoftware : std::string();
    case 19:
      return HeaderVariable(block, "cookie");
    case 20:
      return HeaderVariable(block, "User-Agent");
    case 21:
      return ScriptName(q.Path);
    case 22:
      return HttpHeaderVariable(block, "CACHE_CONTROL");
    case 23:
      return HeaderVariable(block, "DATE");
    case 24:
      return HeaderVariable(block, "ACCEPT");
    case 25:
      return HeaderVariable(block, "FROM");
    case 26:
      return HeaderVariable(block, "HOST");
    case 27:
      return HttpHeaderVariable(block, "IF-MODIFIED-SINCE");
    case 28:
      return HeaderVariable(block, "REFERER");
    case 29:
      return HeaderVariable(block, "CONTENT-ENCODING");
    case 30:
      return HeaderVariable(block, "CONTENT-VERSION");
    case 31:
      return HeaderVariable(block, "DERIVED-FROM");
    case 32:
      return HeaderVariable(block, "EXPIRES");
    case 33:
      return HeaderVariable(block, "TITLE");
    case 34:
      return HeaderVariable(block, "CONNECTION");
    case 35:
      return HeaderVariable(block, "AUTHORIZATION");
    case 36:
      return block.BaseDirectory;
    case 37:
      return block.ServerAdmin;
    case 38:
      return q.ClientAddress;
    case 39:
      return HeaderVariable(block, "ACCEPT-LANGUAGE");
    case 40:
      return HeaderVariable(block, "ACCEPT-ENCODING");
    case 41:
      return q.ClientAddress;
    case 42:
      return kRedirectStatus;
    case 43:
      return kRedirectStatus;
    case 44:
      return q.Path;
    case 45:
      return SessionText(q);
    default:
      return {};
  }
}

BOOL WINAPI GetServerVariable(HCONN hConn, LPSTR lpszVariableName, LPVOID lpvBuffer,
                              LPDWORD lpdwSize) {
  TECBAccess block(hConn);
  if (!block || block->PeerThread == nullptr || lpszVariableName == nullptr || lpdwSize == nullptr)
    return FALSE;
  try {
    const int index = FindName(lpszVariableName);
    if (index >= 0)
      return CopyOut(ServerVariableValue(*block, static_cast<std::size_t>(index)), lpvBuffer,
                     lpdwSize);
    const std::string value = HttpHeaderVariable(*block, lpszVariableName);
    if (!value.empty())
      return CopyOut(value, lpvBuffer, lpdwSize);
    // Unknown or empty: an empty text where there is room for it, size 0, no error code.
    if (lpvBuffer != nullptr && *lpdwSize >= 1)
      static_cast<char*>(lpvBuffer)[0] = '\0';
    *lpdwSize = 0;
    return FALSE;
  } catch (...) {
    return FALSE;
  }
}

}  // namespace quenby
