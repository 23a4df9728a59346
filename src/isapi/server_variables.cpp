#include "isapi/server_variables.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <mutex>

#include "http/http_request_info.h"
#include "http/http_server.h"
#include "http/http_session.h"
#include "isapi/ecb.h"
#include "isapi/module_trace.h"
#include "net/peer_thread.h"
#include "net/socket_handle.h"
#include "net/socket_stack.h"
#include "net/ssl_io_handler_socket.h"
#include "net/tcp_connection.h"
#include "util/text.h"

namespace quenby {

namespace {

constexpr const char* AuthType = "Basic";
constexpr const char* GatewayInterface = "ISAPI";
constexpr const char* RedirectStatus = "200";
constexpr std::string_view HttpPrefix = "HTTP_";
constexpr std::string_view ModuleExtension = ".dll";

// The request path up to and including its first ".dll", keeping the path's own case.
std::string ScriptName(const std::string& path) {
  const std::size_t at = LowerCase(path).find(ModuleExtension);
  if (at == std::string::npos)
    return path;
  return path.substr(0, at + ModuleExtension.size());
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

}  // namespace

std::string HeaderVariable(const TECB& block, std::string_view name) {
  return block.RequestInfo->Headers.ValueByName(name);
}

std::string StripHttpPrefix(std::string_view name) {
  if (name.substr(0, HttpPrefix.size()) == HttpPrefix)
    name.remove_prefix(HttpPrefix.size());
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

namespace {

const THTTPRequestInfo& Request(const TECB& block) {
  return *block.RequestInfo;
}

// One line per variable, so a name and its value cannot drift apart.
const TServerVariable ServerVariableTable[] = {
    {"AUTH_TYPE", [](const TECB&) { return std::string(AuthType); }},
    {"AUTH_NAME", [](const TECB& b) { return Request(b).AuthorizationUser; }},
    {"AUTH_PASS", [](const TECB& b) { return Request(b).AuthorizationPassword; }},
    {"CONTENT_LENGTH", [](const TECB& b) { return HeaderVariable(b, "content-length"); }},
    {"CONTENT_TYPE", [](const TECB& b) { return HeaderVariable(b, "content-type"); }},
    {"GATEWAY_INTERFACE", [](const TECB&) { return std::string(GatewayInterface); }},
    {"PATH_INFO", [](const TECB& b) { return b.PathTranslated(); }},
    {"PATH_TRANSLATED", [](const TECB& b) { return Request(b).Path; }},
    {"QUERY_STRING", [](const TECB& b) { return Request(b).ParamText; }},
    {"REMOTE_ADDR", [](const TECB& b) { return Request(b).ClientAddress; }},
    {"REMOTE_HOST", [](const TECB& b) { return RemoteHost(Request(b).ClientAddress); }},
    {"REMOTE_USER", [](const TECB& b) { return Request(b).AuthorizationUser; }},
    {"REQUEST_METHOD", [](const TECB& b) { return Request(b).Method; }},
    {"SCRIPT_NAME", [](const TECB& b) { return ScriptName(Request(b).Path); }},
    {"SERVER_NAME", [](const TECB& b) { return Request(b).Host; }},
    {"SERVER_PORT", ServerPort},
    {"SERVER_PROTOCOL", [](const TECB& b) { return Request(b).HTTPVersion; }},
    {"SERVER_SOFTWARE",
     [](const TECB& b) { return b.Server != nullptr ? b.Server->ServerSoftware : std::string(); }},
    {"HTTP_COOKIE", [](const TECB& b) { return HeaderVariable(b, "cookie"); }},
    {"HTTP_USER_AGENT", [](const TECB& b) { return HeaderVariable(b, "User-Agent"); }},
    {"URL", [](const TECB& b) { return ScriptName(Request(b).Path); }},
    {"HTTP_CACHE_CONTROL", [](const TECB& b) { return HttpHeaderVariable(b, "CACHE_CONTROL"); }},
    {"HTTP_DATE", [](const TECB& b) { return HeaderVariable(b, "DATE"); }},
    {"HTTP_ACCEPT", [](const TECB& b) { return HeaderVariable(b, "ACCEPT"); }},
    {"HTTP_FROM", [](const TECB& b) { return HeaderVariable(b, "FROM"); }},
    {"HTTP_HOST", [](const TECB& b) { return HeaderVariable(b, "HOST"); }},
    {"HTTP_IF_MODIFIED_SINCE",
     [](const TECB& b) { return HttpHeaderVariable(b, "IF-MODIFIED-SINCE"); }},
    {"HTTP_REFERER", [](const TECB& b) { return HeaderVariable(b, "REFERER"); }},
    {"HTTP_CONTENT_ENCODING", [](const TECB& b) { return HeaderVariable(b, "CONTENT-ENCODING"); }},
    {"HTTP_CONTENT_VERSION", [](const TECB& b) { return HeaderVariable(b, "CONTENT-VERSION"); }},
    {"HTTP_DERIVED_FROM", [](const TECB& b) { return HeaderVariable(b, "DERIVED-FROM"); }},
    {"HTTP_EXPIRES", [](const TECB& b) { return HeaderVariable(b, "EXPIRES"); }},
    {"HTTP_TITLE", [](const TECB& b) { return HeaderVariable(b, "TITLE"); }},
    {"HTTP_CONNECTION", [](const TECB& b) { return HeaderVariable(b, "CONNECTION"); }},
    {"HTTP_AUTHORIZATION", [](const TECB& b) { return HeaderVariable(b, "AUTHORIZATION"); }},
    {"DOCUMENT_ROOT", [](const TECB& b) { return b.BaseDirectory; }},
    {"SERVER_ADMIN", [](const TECB& b) { return b.ServerAdmin; }},
    {"SERVER_ADDR", [](const TECB& b) { return Request(b).ClientAddress; }},
    {"HTTP_ACCEPT_LANGUAGE", [](const TECB& b) { return HeaderVariable(b, "ACCEPT-LANGUAGE"); }},
    {"HTTP_ACCEPT_ENCODING", [](const TECB& b) { return HeaderVariable(b, "ACCEPT-ENCODING"); }},
    {"HTTP_CLIENT_IP", [](const TECB& b) { return Request(b).ClientAddress; }},
    {"REDIRECT_STATUS", [](const TECB&) { return std::string(RedirectStatus); }},
    {"HTTP_REDIRECT_STATUS", [](const TECB&) { return std::string(RedirectStatus); }},
    {"REDIRECT_URL", [](const TECB& b) { return Request(b).Path; }},
    {"HTTP_SESSION", [](const TECB& b) { return SessionText(Request(b)); }},
};

// The TLS handler of the request's connection; nullptr on a plain connection.
const TSSLIOHandlerSocket* SecureHandler(const TECB& block) {
  TTCPServerConnection* connection = block.PeerThread->Connection();
  return connection != nullptr ? dynamic_cast<const TSSLIOHandlerSocket*>(connection->IOHandler())
                               : nullptr;
}

// Answered on TLS connections only; on plain ones these names are unknown like any other.
const TServerVariable SecureVariableTable[] = {
    {"HTTPS", [](const TECB&) { return std::string("on"); }},
    {"SERVER_PORT_SECURE", [](const TECB&) { return std::string("1"); }},
    {"HTTPS_KEYSIZE",
     [](const TECB& b) { return std::to_string(SecureHandler(b)->Cipher().Bits()); }},
};

const TServerVariable* FindVariable(std::span<const TServerVariable> table, std::string_view name) {
  for (const TServerVariable& variable : table)
    if (SameText(name, variable.Name))
      return &variable;
  return nullptr;
}

const TServerVariable* FindVariable(const TECB& block, std::string_view name) {
  if (const TServerVariable* variable = FindVariable(ServerVariableTable, name))
    return variable;
  return SecureHandler(block) != nullptr ? FindVariable(SecureVariableTable, name) : nullptr;
}

// The lookup behind GetServerVariable; `value` receives the variable's text for a trace.
BOOL LookUpVariable(TECB& block, const char* name, LPVOID buffer, LPDWORD size,
                    std::string& value) {
  try {
    if (const TServerVariable* variable = FindVariable(block, name)) {
      value = variable->Value(block);
      return CopyOut(value, buffer, size);
    }
    value = HttpHeaderVariable(block, name);
    if (!value.empty())
      return CopyOut(value, buffer, size);
    // Unknown or empty: an empty text where there is room for it, size 0, no error code.
    if (buffer != nullptr && *size >= 1)
      static_cast<char*>(buffer)[0] = '\0';
    *size = 0;
    return FALSE;
  } catch (...) {
    return FALSE;
  }
}

}  // namespace

std::span<const TServerVariable> ServerVariables() {
  return ServerVariableTable;
}

BOOL WINAPI GetServerVariable(HCONN hConn, LPSTR lpszVariableName, LPVOID lpvBuffer,
                              LPDWORD lpdwSize) {
  TECBAccess block(hConn);
  if (!block || block->PeerThread == nullptr || lpszVariableName == nullptr || lpdwSize == nullptr)
    return FALSE;
  std::string value;
  return TracedCallback(
      *block, [&] { return LookUpVariable(*block, lpszVariableName, lpvBuffer, lpdwSize, value); },
      [&](BOOL result, int error) {
        return "GetServerVariable " + std::string(lpszVariableName) + TracedResult(result, error) +
               ", " + std::to_string(*lpdwSize) + " bytes " +
               TracedVariableValue(lpszVariableName, value);
      });
}

}  // namespace quenby
