#include "isapi/isapi_runner.h"

#include <dlfcn.h>

#include <algorithm>

#include <quenby/isapi.h>

#include "http/http_request_info.h"
#include "http/http_response_info.h"
#include "http/status_text.h"
#include "isapi/ecb.h"
#include "isapi/module_guard.h"
#include "isapi/module_trace.h"
#include "net/peer_thread.h"
#include "net/tcp_connection.h"
#include "util/scope_guard.h"
#include "util/text.h"

namespace quenby {
namespace {

constexpr const char* NoVersionProc =
    "Internal server error. GetExtensionVersion procedure not assigned";
constexpr const char* NoExtensionProc =
    "Internal server error. HttpExtensionProc procedure not assigned";
// Modules of the server-side-include kind answer no version call.
constexpr std::string_view NoVersionCallMarker = "asp.dll";

// A failed dlopen or dlsym leaves an error record on the calling thread, which the C library
// frees only when the thread ends (a pooled peer thread may outlive the process's checks);
// the second read of the error frees it at once.
void DiscardLoaderError() {
  while (dlerror() != nullptr) {
  }
}

template <typename Proc>
Proc Resolve(void* handle, const char* name) {
  const auto proc = reinterpret_cast<Proc>(dlsym(handle, name));
  if (proc == nullptr)
    DiscardLoaderError();
  return proc;
}

// A module's reply that the engine must not frame: mark it sent and close the connection
// after it, because a module's body is not length-delimited. Only a header the module gave a
// length, on a kept connection, with a body of that length keeps the connection.
void MarkModuleReply(const THTTPRequestInfo& request, THTTPResponseInfo& response) {
  const bool header_written = response.HeaderSent;
  response.HeaderSent = true;
  if (response.FramedReply && header_written) {
    if (request.Method == "HEAD")
      response.BodyText.clear();
    else if (response.BodyText.size() != static_cast<std::size_t>(response.ContentLength()))
      response.SetCloseAfterReply(true);
    if (!response.CloseAfterReply() && response.ContentLength() >= 0)
      return;
  }
  response.SetCloseAfterReply(true);
}

}  // namespace

std::string ModuleCacheKey(std::string_view module_path) {
  const std::size_t at = module_path.find_last_of("/\\:");
  return std::string(at == std::string_view::npos ? module_path : module_path.substr(at + 1));
}

TISAPIRunner::TISAPIRunner() = default;

TISAPIRunner::~TISAPIRunner() {
  std::lock_guard<std::recursive_mutex> guard(CacheLock);
  destroying_ = true;
  for (TCachedModule& module : ModuleCache)
    dlclose(module.Entry.Handle);
  ModuleCache.clear();
  // Blocks left by faulted and abandoned runs go only after their modules, which may still
  // hold them.
  retired_blocks_.clear();
}

void TISAPIRunner::DoBeforeExecute() {
  if (BeforeExecute)
    BeforeExecute(*this);
}

void TISAPIRunner::DoAfterExecute() {
  if (AfterExecute)
    AfterExecute(*this);
}

void TISAPIRunner::DoModuleNotFound(THTTPRequestInfo& request, THTTPResponseInfo& response) {
  if (OnModuleNotFound)
    OnModuleNotFound(*this, request, response);
}

std::vector<TISAPIRunner::TCachedModule>::iterator TISAPIRunner::FindModule(std::string_view key) {
  for (auto it = ModuleCache.begin(); it != ModuleCache.end(); ++it)
    if (SameText(it->Key, key))
      return it;
  return ModuleCache.end();
}

std::size_t TISAPIRunner::ModuleCount() const {
  std::lock_guard<std::recursive_mutex> guard(CacheLock);
  return ModuleCache.size();
}

TISAPIRunner::TModuleEntry TISAPIRunner::AcquireModule(const std::string& module_path,
                                                       const std::string& key,
                                                       bool drop_module_after_use,
                                                       THTTPRequestInfo& request,
                                                       THTTPResponseInfo& response) {
  TCacheLock lock(CacheLock);
  if (ReloadModules)
    UnloadIfChanged(lock, key);
  TModuleEntry entry;
  const auto cached = FindModule(key);
  if (cached != ModuleCache.end()) {
    entry = cached->Entry;
    if (drop_module_after_use)  // the run takes over the cache's load reference
      ModuleCache.erase(cached);
  } else {
    entry = LoadModule(module_path, key, drop_module_after_use, request, response);
  }
  if (entry.Handle != nullptr)
    running_.push_back(entry.Handle);
  return entry;
}

TISAPIRunner::TModuleEntry TISAPIRunner::LoadModule(const std::string& module_path,
                                                    const std::string& key,
                                                    bool drop_module_after_use,
                                                    THTTPRequestInfo& request,
                                                    THTTPResponseInfo& response) {
  // Taken before the load: a file replaced in between is then reloaded once more, never
  // left stale.
  const TFileIdentity identity = ReloadModules ? FileIdentity(module_path) : TFileIdentity{};
  void* handle = dlopen(module_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    DiscardLoaderError();
    response.SetStatusCode(StatusNotFound);
    response.StatusText = "<H1>" + module_path + " not found</H1>";
    DoModuleNotFound(request, response);
    return {};
  }
  // A loaded image does not change, so its entry points are looked up once.
  const TModuleEntry entry{handle, Resolve<PFN_GETEXTENSIONVERSION>(handle, "GetExtensionVersion"),
                           Resolve<PFN_HTTPEXTENSIONPROC>(handle, "HttpExtensionProc")};
  if (!drop_module_after_use) {
    ModuleCache.push_back({key, entry, module_path, identity});
    if (OnModuleLoad)
      OnModuleLoad(*this, module_path);
  }
  return entry;
}

void TISAPIRunner::ReleaseModule(void* handle) {
  std::lock_guard<std::recursive_mutex> guard(CacheLock);
  const auto run = std::find(running_.begin(), running_.end(), handle);
  if (run != running_.end())
    running_.erase(run);
  run_ended_.notify_all();
}

std::size_t TISAPIRunner::RunsIn(void* handle) const {
  return static_cast<std::size_t>(std::count(running_.begin(), running_.end(), handle));
}

void TISAPIRunner::Trace(std::string_view tag, std::string_view text) {
  if (!OnModuleTrace)
    return;
  try {
    OnModuleTrace(*this, std::string(tag) + " " + std::string(text));
  } catch (...) {
    // A trace line that cannot be written must not change the run, nor reach a module
    // through its callback.
  }
}

void TISAPIRunner::RunExtension(const std::string& module_path, TPeerThread* thread,
                                THTTPRequestInfo* request, THTTPResponseInfo* response,
                                const std::string& directory, bool drop_module_after_use,
                                const std::string& path_info) {
  if (thread == nullptr || request == nullptr || response == nullptr)
    return;
  DoBeforeExecute();
  const std::string key = ModuleCacheKey(module_path);
  std::string trace_tag;
  if (TraceModules) {
    trace_tag = "[" + key + " #" + std::to_string(++last_run_) + "]";
    Trace(trace_tag, TracedRequest(*request));
  }
  const TModuleEntry module =
      AcquireModule(module_path, key, drop_module_after_use, *request, *response);
  if (module.Handle == nullptr) {
    if (TraceModules)
      Trace(trace_tag, "cannot be loaded: 404");
    return;
  }

  bool client_written = false;
  {
    TScopeGuard release([this, &module] { ReleaseModule(module.Handle); });
    client_written = CallModule(module, module_path, *thread, *request, *response, directory,
                                path_info, trace_tag);
  }
  if (drop_module_after_use) {
    UnloadModule(key);
    dlclose(module.Handle);  // the reference this run held; nothing else will give it back
  }

  // A failed run that sent nothing yet gets the engine's ordinary reply for its status.
  if (client_written || response->StatusCode() < FirstErrorStatus)
    MarkModuleReply(*request, *response);
  DoAfterExecute();
}

bool TISAPIRunner::AskVersion(const TModuleEntry& module, const std::string& module_path,
                              THTTPRequestInfo& request, THTTPResponseInfo& response,
                              const std::string& trace_tag) {
  if (module_path.find(NoVersionCallMarker) != std::string::npos)
    return true;
  HSE_VERSION_INFO info{};
  BOOL accepted = FALSE;
  const TGuardOutcome outcome = GuardedGetExtensionVersion(module.Version, &info, accepted);
  if (TraceModules)
    Trace(trace_tag, TracedVersionCall(outcome, accepted, info));
  if (outcome == TGuardOutcome::Returned && accepted != FALSE)
    return true;
  response.SetStatusCode(StatusInternalServerError);
  if (outcome == TGuardOutcome::Returned && OnVersionInfoError)
    OnVersionInfoError(*this, request, response);
  return false;
}

bool TISAPIRunner::CallModule(const TModuleEntry& module, const std::string& module_path,
                              TPeerThread& thread, THTTPRequestInfo& request,
                              THTTPResponseInfo& response, const std::string& directory,
                              const std::string& path_info, const std::string& trace_tag) {
  if (module.Version == nullptr || module.Proc == nullptr) {
    response.SetStatusCode(StatusInternalServerError);
    response.BodyText = module.Version == nullptr ? NoVersionProc : NoExtensionProc;
    if (TraceModules)
      Trace(trace_tag, response.BodyText);
    if (OnISAPIStructureError)
      OnISAPIStructureError(*this, request, response);
    return false;
  }
  if (!AskVersion(module, module_path, request, response, trace_tag))
    return false;

  auto block = std::make_unique<TECB>();
  block->Fill(this, &thread, &request, &response, directory, path_info);
  block->TraceTag = trace_tag;
  block->Register();
  if (TraceModules)
    Trace(trace_tag, "HttpExtensionProc called");
  DWORD status = 0;
  const TGuardOutcome outcome = GuardedExtensionProc(module.Proc, block->Block(), status);
  if (TraceModules)
    Trace(trace_tag, TracedProcResult(outcome, status));
  if (outcome != TGuardOutcome::Returned) {
    return FaultedRun(std::move(block), response);
  }
  if (status == HSE_STATUS_PENDING &&
      !block->WaitDone([&thread] { return thread.Connection()->PeerGone(); })) {
    if (TraceModules)
      Trace(trace_tag, "pending run abandoned: the client left or the server stopped");
    AbandonedRun(std::move(block));
    return true;
  }
  const bool client_written = block->ClientWritten();
  block->Unregister();
  return client_written;
}

bool TISAPIRunner::FaultedRun(std::unique_ptr<TECB> block, THTTPResponseInfo& response) {
  // The module may still hold the block (a thread of its own, say), so it is cut off
  // from the callbacks without waiting and kept until the runner goes.
  block->Unregister(false);
  const bool client_written = block->ClientWritten();
  response.SetStatusCode(StatusInternalServerError);
  response.BodyText.clear();  // half-written output is never sent
  RetireBlock(std::move(block));
  return client_written;
}

void TISAPIRunner::AbandonedRun(std::unique_ptr<TECB> block) {
  // Callbacks in progress end quickly on a dropped or closed socket; after this the
  // module's callbacks on the block get FALSE.
  block->Unregister();
  RetireBlock(std::move(block));
}

void TISAPIRunner::RetireBlock(std::unique_ptr<TECB> block) {
  std::lock_guard<std::mutex> guard(retired_lock_);
  retired_blocks_.push_back(std::move(block));
}

bool TISAPIRunner::UnloadModule(const std::string& key) {
  if (destroying_)
    return false;
  if (OnModuleUnload)
    OnModuleUnload(*this, key);
  std::lock_guard<std::recursive_mutex> guard(CacheLock);
  const auto cached = FindModule(key);
  if (cached == ModuleCache.end())
    return false;
  dlclose(cached->Entry.Handle);
  ModuleCache.erase(cached);
  return true;
}

void TISAPIRunner::UnloadAllModules() {
  std::size_t count = 0;
  {
    std::lock_guard<std::recursive_mutex> guard(CacheLock);
    count = ModuleCache.size();
  }
  for (std::size_t i = 0; i < count; ++i) {
    std::string key;
    {
      std::lock_guard<std::recursive_mutex> guard(CacheLock);
      if (ModuleCache.empty())
        return;
      key = ModuleCache.front().Key;
    }
    UnloadModule(key);
  }
}

}  // namespace quenby
