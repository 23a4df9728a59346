#include "isapi/fake_host.h"

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include <gtest/gtest.h>

namespace quenby::test {

namespace {

constexpr auto DoneTimeout = std::chrono::seconds(10);
constexpr std::size_t FileChunk = 4096;

std::string Text(const void* text) {
  return text != nullptr ? static_cast<const char*>(text) : "";
}

}  // namespace

FakeHost::FakeHost(std::string method, std::string query, std::string posted)
    : method_(std::move(method)), query_(std::move(query)), posted_(std::move(posted)) {
  block_.cbSize = sizeof block_;
  block_.dwVersion = HSE_VERSION;
  block_.ConnID = this;
  std::strcpy(block_.lpszLogData, "DEFAULT LOG DATA");
  block_.lpszMethod = method_.data();
  block_.lpszQueryString = query_.data();
  block_.lpszPathInfo = const_cast<char*>("");
  block_.lpszPathTranslated = const_cast<char*>("/srv/site/bin/module.dll");
  block_.lpszContentType = const_cast<char*>("");
  if (!posted_.empty()) {
    block_.cbTotalBytes = block_.cbAvailable = static_cast<DWORD>(posted_.size());
    block_.lpbData = reinterpret_cast<LPBYTE>(posted_.data());
  }
  block_.GetServerVariable = &FakeHost::GetServerVariable;
  block_.WriteClient = &FakeHost::WriteClient;
  block_.ReadClient = &FakeHost::ReadClient;
  block_.ServerSupportFunction = &FakeHost::ServerSupportFunction;
}

bool FakeHost::WaitDone() {
  std::unique_lock guard(lock_);
  return done_changed_.wait_for(guard, DoneTimeout, [this] { return done_; });
}

FakeHost& FakeHost::From(HCONN connection) {
  return *static_cast<FakeHost*>(connection);
}

BOOL FakeHost::GetServerVariable(HCONN connection, LPSTR name, LPVOID buffer, LPDWORD size) {
  FakeHost& host = From(connection);
  std::lock_guard guard(host.lock_);
  auto found = host.variables.find(Text(name));
  if (found == host.variables.end()) {
    *size = 0;
    return FALSE;
  }
  const std::string& value = found->second;
  const DWORD needed = static_cast<DWORD>(value.size() + 1);
  if (host.overrun_variables) {
    std::memcpy(buffer, value.c_str(), needed);
  }
  if (*size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    *size = needed;
    return FALSE;
  }
  std::memcpy(buffer, value.c_str(), needed);
  *size = needed;
  return TRUE;
}

BOOL FakeHost::WriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD) {
  FakeHost& host = From(connection);
  std::lock_guard guard(host.lock_);
  std::string data(static_cast<const char*>(buffer), *bytes);
  host.body += data;
  host.events.push_back("write " + data);
  return TRUE;
}

BOOL FakeHost::ReadClient(HCONN connection, LPVOID buffer, LPDWORD size) {
  FakeHost& host = From(connection);
  std::lock_guard guard(host.lock_);
  if (*size > host.client_bytes.size()) {
    *size = 0;
    return FALSE;
  }
  std::memcpy(buffer, host.client_bytes.data(), *size);
  host.client_bytes.erase(0, *size);
  return TRUE;
}

BOOL FakeHost::ServerSupportFunction(HCONN connection, DWORD request, LPVOID buffer, LPDWORD size,
                                     LPDWORD data_type) {
  FakeHost& host = From(connection);
  std::lock_guard guard(host.lock_);
  switch (request) {
    case HSE_REQ_SEND_URL_REDIRECT_RESP:
    case HSE_REQ_SEND_URL:
      host.events.push_back("redirect " + Text(buffer));
      return TRUE;
    case HSE_REQ_SEND_RESPONSE_HEADER:
      host.events.push_back("header 3 " + Text(buffer) + "|" + Text(data_type));
      return TRUE;
    case HSE_REQ_SEND_RESPONSE_HEADER_EX: {
      const auto& info = *static_cast<HSE_SEND_HEADER_EX_INFO*>(buffer);
      host.events.push_back("header 1016 " + std::string(info.pszStatus, info.cchStatus) + "|" +
                            std::string(info.pszHeader, info.cchHeader));
      return TRUE;
    }
    case HSE_REQ_DONE_WITH_SESSION:
      host.events.push_back("done");
      host.done_ = true;
      host.done_changed_.notify_all();
      return TRUE;
    case HSE_REQ_MAP_URL_TO_PATH:
    case HSE_REQ_MAP_URL_TO_PATH_EX:
      return host.MapUrl(request, buffer, size, data_type);
    case HSE_APPEND_LOG_PARAMETER:
      host.events.push_back("log " + Text(buffer));
      return TRUE;
    case HSE_REQ_EXTENSION_TRIGGER:
      host.events.push_back("trigger " + Text(buffer));
      return TRUE;
    case HSE_REQ_TRANSMIT_FILE:
      return host.TransmitFile(*static_cast<HSE_TF_INFO*>(buffer));
    case HSE_REQ_IS_KEEP_CONN:
      return TRUE;
    case HSE_REQ_ABORTIVE_CLOSE:
      host.events.push_back("close");
      return TRUE;
    default:
      return FALSE;
  }
}

BOOL FakeHost::MapUrl(DWORD request, LPVOID buffer, LPDWORD size, LPDWORD data_type) {
  const std::string path = map_base + Text(buffer);
  const DWORD needed = static_cast<DWORD>(path.size() + 1);
  char* target = static_cast<char*>(buffer);
  DWORD room = *size;
  if (request == HSE_REQ_MAP_URL_TO_PATH_EX) {
    target = reinterpret_cast<HSE_URL_MAPEX_INFO*>(data_type)->lpszPath;
    room = MAX_PATH;
  }
  if (room < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    if (request == HSE_REQ_MAP_URL_TO_PATH)
      *size = needed;
    return FALSE;
  }
  std::memcpy(target, path.c_str(), needed);
  if (request == HSE_REQ_MAP_URL_TO_PATH)
    *size = needed;
  return TRUE;
}

BOOL FakeHost::TransmitFile(const HSE_TF_INFO& info) {
  const int fd = HSE_FD_FROM_HANDLE(info.hFile);
  std::string sent;
  char chunk[FileChunk];
  for (;;) {
    std::size_t want = sizeof chunk;
    if (info.BytesToWrite != 0)
      want = std::min(want, info.BytesToWrite - sent.size());
    if (want == 0)
      break;
    const ssize_t got = read(fd, chunk, want);
    if (got <= 0)
      break;
    sent.append(chunk, static_cast<std::size_t>(got));
  }
  events.push_back("file " + sent);
  return TRUE;
}

std::string ModulePath(const std::string& name) {
  return std::string(QUENBY_TEST_MODULE_DIR) + "/" + name + ".dll";
}

TestModule::TestModule(const std::string& name)
    : handle_(dlopen(ModulePath(name).c_str(), RTLD_NOW | RTLD_LOCAL)) {
  if (handle_ == nullptr)
    ADD_FAILURE() << "cannot load " << name << ": " << dlerror();
}

TestModule::~TestModule() {
  if (handle_ != nullptr)
    dlclose(handle_);
}

void* TestModule::Symbol(const char* name) const {
  return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

BOOL TestModule::Version(HSE_VERSION_INFO& info) const {
  auto get_version = reinterpret_cast<PFN_GETEXTENSIONVERSION>(Symbol("GetExtensionVersion"));
  if (get_version == nullptr) {
    ADD_FAILURE() << "GetExtensionVersion missing";
    return FALSE;
  }
  return get_version(&info);
}

DWORD TestModule::Run(FakeHost& host) const {
  HSE_VERSION_INFO info{};
  if (!Version(info))
    return 0;
  auto proc = reinterpret_cast<PFN_HTTPEXTENSIONPROC>(Symbol("HttpExtensionProc"));
  if (proc == nullptr) {
    ADD_FAILURE() << "HttpExtensionProc missing";
    return 0;
  }
  return proc(host.Block());
}

}  // namespace quenby::test
