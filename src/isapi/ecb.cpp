#include "isapi/ecb.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <unordered_map>

#include "http/http_request_info.h"
#include "isapi/extension_callbacks.h"
#include "isapi/isapi_runner.h"
#include "isapi/server_variables.h"
#include "util/canonical_path.h"
#include "util/text.h"

namespace quenby {
namespace {

// Live blocks by ConnID. ConnIDs are serial numbers rather than addresses, so a ConnID
// kept from an ended request can never name a later block that reuses the memory.
struct TRegistry {
  std::mutex lock;
  std::unordered_map<std::uintptr_t, TECB*> blocks;
  std::uintptr_t last_id = 0;
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

char* TextField(std::string& text) {
  return text.data();
}

}  // namespace

TECB::TECB() {
  ecb_.cbSize = sizeof(EXTENSION_CONTROL_BLOCK);
  ecb_.dwVersion = ExtensionVersion;
  ecb_.dwHttpStatusCode = 0;
  std::strncpy(ecb_.lpszLogData, DefaultLogData, HSE_LOG_BUFFER_LEN - 1);
  ecb_.GetServerVariable = &GetServerVariable;
  ecb_.WriteClient = &WriteClient;
  ecb_.ReadClient = &ReadClient;
  ecb_.ServerSupportFunction = &ServerSupportFunction;
}

TECB::~TECB() {
  Unregister();
}

void TECB::Fill(TISAPIRunner* runner, TPeerThread* thread, THTTPRequestInfo* request,
                THTTPResponseInfo* response, const std::string& directory,
                const std::string& path_info) {
  Runner = runner;
  BaseDirectory = directory;
  ServerAdmin = runner != nullptr ? runner->ServerAdmin : std::string();
  Server = runner != nullptr ? runner->Server : nullptr;
  PeerThread = thread;
  RequestInfo = request;
  ResponseInfo = response;

  method_ = request->Method;
  query_ = SameText(request->Method, "GET") ? request->ParamText : request->QueryText;
  path_info_ = path_info;
  path_translated_ = CanonicalJoin(directory, request->Path);
  content_type_ = request->ContentType;
  ecb_.lpszMethod = TextField(method_);
  ecb_.lpszQueryString = TextField(query_);
  ecb_.lpszPathInfo = TextField(path_info_);
  ecb_.lpszPathTranslated = TextField(path_translated_);
  ecb_.lpszContentType = TextField(content_type_);

  const std::int32_t length = request->ContentLength();
  // Every method but GET and HEAD hands its body over as POST does (only POST arrives here
  // unless the server takes all methods).
  const bool takes_body = !SameText(request->Method, "GET") && !SameText(request->Method, "HEAD");
  if (takes_body && length > 0) {
    // One byte more than the body, zeroed, so a module may treat the body as a text.
    body_ = std::make_unique<BYTE[]>(static_cast<std::size_t>(length) + 1);
    const std::size_t copied =
        std::min(request->PostedText.size(), static_cast<std::size_t>(length));
    std::memcpy(body_.get(), request->PostedText.data(), copied);
    ecb_.lpbData = body_.get();
    ecb_.cbTotalBytes = static_cast<DWORD>(length);
    ecb_.cbAvailable = static_cast<DWORD>(length);
  }
}

void TECB::Register() {
  TRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  id_ = ++registry.last_id;
  registry.blocks[id_] = this;
  ecb_.ConnID = reinterpret_cast<HCONN>(id_);
}

void TECB::Unregister(bool wait_for_callbacks) {
  {
    TRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    if (id_ == 0)
      return;
    registry.blocks.erase(id_);
    id_ = 0;
  }
  if (!wait_for_callbacks)
    return;
  std::unique_lock<std::mutex> lock(state_mutex_);
  state_changed_.wait(lock, [this] { return active_calls_ == 0; });
}

void TECB::SignalDone() {
  std::lock_guard<std::mutex> guard(state_mutex_);
  done_ = true;
  state_changed_.notify_all();
}

bool TECB::WaitDone(const std::function<bool()>& abandoned) {
  std::unique_lock<std::mutex> lock(state_mutex_);
  while (!state_changed_.wait_for(lock, std::chrono::milliseconds(PendingCheckStep),
                                  [this] { return done_; })) {
    lock.unlock();
    const bool gone = abandoned();
    lock.lock();
    if (gone && !done_)
      return false;
  }
  done_ = false;
  return true;
}

TECBAccess::TECBAccess(HCONN conn_id) {
  TRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  const auto found = registry.blocks.find(reinterpret_cast<std::uintptr_t>(conn_id));
  if (found == registry.blocks.end())
    return;
  block_ = found->second;
  std::lock_guard<std::mutex> state(block_->state_mutex_);
  ++block_->active_calls_;
}

TECBAccess::~TECBAccess() {
  if (block_ == nullptr)
    return;
  std::lock_guard<std::mutex> state(block_->state_mutex_);
  --block_->active_calls_;
  block_->state_changed_.notify_all();
}

std::string CanonicalJoin(const std::string& directory, const std::string& path) {
  // Only "/" separates; a folder keeps its trailing "/". One text, so that without a directory
  // a relative path counts from the working directory.
  constexpr TPathRules MappedPathRules{.KeepFolderSlash = true};
  return CanonicalPath(EnsureTrailingBackslash(directory) + path, {}, MappedPathRules)
      .value_or(std::string());
}

}  // namespace quenby
