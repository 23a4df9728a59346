#pragma once

#include <quenby/isapi.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quenby {

class TCustomHTTPServer;
class THTTPRequestInfo;
class THTTPResponseInfo;
class TPeerThread;
class TISAPIRunner;
class TECB;

/// Raised before and after a run (`BeforeExecute`, `AfterExecute`).
using TNotifyEvent = std::function<void(TISAPIRunner& Sender)>;
/// Raised when a module enters the cache (`OnModuleLoad`) or is asked to leave it
/// (`OnModuleUnload`).
using TOnModuleState = std::function<void(TISAPIRunner& Sender, const std::string& AModuleName)>;
/// Raised on the failures of a run that concern one request.
using TOnExecuteEvent = std::function<void(TISAPIRunner& Sender, THTTPRequestInfo& RequestInfo,
                                           THTTPResponseInfo& ResponseInfo)>;
/// Raised when a module asks the server to log a text (HSE_APPEND_LOG_PARAMETER); runs on
/// the module's calling thread, so handlers must be thread-safe.
using TOnLogServerMessage =
    std::function<void(TISAPIRunner& Sender, THTTPRequestInfo& RequestInfo,
                       THTTPResponseInfo& ResponseInfo, const std::string& AMessage)>;

/// Loads ISAPI extension modules on first use, keeps them in a cache and runs them for
/// requests. Failures are reported as status codes on the reply record, never as
/// exceptions. RunExtension may be called from many peer threads at once; the events must
/// be assigned before the first run and not changed while runs are in progress. A module
/// that faults inside its call stays loaded and cached: its own state may be broken (locks
/// it held, half-built data), which only unloading it (Stop, UnloadModule) clears.
class TISAPIRunner {
 public:
  static constexpr const char* DefaultServerAdmin = "webmaster@localhost";

  TISAPIRunner();
  /// Releases every cached module (no events). No run may be in progress.
  virtual ~TISAPIRunner();
  TISAPIRunner(const TISAPIRunner&) = delete;
  TISAPIRunner& operator=(const TISAPIRunner&) = delete;

  /// Runs the module at `module_path` for one request on the calling peer thread and leaves
  /// the outcome in `response` (status, body, header fields, HeaderSent). `directory` is
  /// the folder of the mapped file path; `path_info` the text that followed the module
  /// name. With `drop_module_after_use` the module is not kept in the cache after the run.
  /// Missing thread, request or response: returns at once and touches nothing.
  virtual void RunExtension(const std::string& module_path, TPeerThread* thread,
                            THTTPRequestInfo* request, THTTPResponseInfo* response,
                            const std::string& directory, bool drop_module_after_use,
                            const std::string& path_info);

  /// Raises OnModuleUnload, then releases the cached module of `key` (a file name,
  /// compared without regard to case). True when a cached module was released; false
  /// when none was cached or while the runner is being destroyed.
  bool UnloadModule(const std::string& key);
  /// Releases every cached module, oldest first, each through UnloadModule. Call only
  /// when no run is in progress (after the HTTP server has been deactivated).
  void UnloadAllModules();

  /// Number of cached modules; for the console and for tests.
  std::size_t ModuleCount() const;

  /// Not owned; gives the modules SERVER_SOFTWARE. May be null.
  TCustomHTTPServer* Server = nullptr;
  /// Administrator address reported to modules as SERVER_ADMIN.
  std::string ServerAdmin = DefaultServerAdmin;

  TNotifyEvent BeforeExecute;
  TNotifyEvent AfterExecute;
  TOnModuleState OnModuleLoad;
  TOnModuleState OnModuleUnload;
  TOnExecuteEvent OnModuleNotFound;
  TOnExecuteEvent OnISAPIStructureError;
  TOnExecuteEvent OnVersionInfoError;
  TOnLogServerMessage OnLogServerMessage;

 protected:
  /// Hooks that only raise BeforeExecute, AfterExecute and OnModuleNotFound.
  virtual void DoBeforeExecute();
  virtual void DoAfterExecute();
  virtual void DoModuleNotFound(THTTPRequestInfo& request, THTTPResponseInfo& response);

 private:
  /// A loaded module and its entry points, looked up once at load (null when missing).
  struct TModuleEntry {
    void* Handle = nullptr;
    PFN_GETEXTENSIONVERSION Version = nullptr;
    PFN_HTTPEXTENSIONPROC Proc = nullptr;
  };
  struct TCachedModule {
    std::string Key;
    TModuleEntry Entry;
  };

  /// Finds or loads the module under CacheLock; a null Handle when it cannot be loaded.
  TModuleEntry AcquireModule(const std::string& module_path, const std::string& key,
                             bool drop_module_after_use, THTTPRequestInfo& request,
                             THTTPResponseInfo& response);
  /// Asks the version and runs the module. True when anything reached the client during
  /// the run (a header block or a file).
  bool CallModule(const TModuleEntry& module, const std::string& module_path, TPeerThread& thread,
                  THTTPRequestInfo& request, THTTPResponseInfo& response,
                  const std::string& directory, const std::string& path_info);
  /// A module faulted inside its call: 500, its output dropped, the block kept (never
  /// reused) until the runner goes. Returns whether anything had reached the client.
  bool FaultedRun(std::unique_ptr<TECB> block, THTTPResponseInfo& response);
  /// A pending run whose client went (or whose connection a stop dropped) before the module
  /// finished: the block is cut off from the callbacks once none is using it, and kept until
  /// the runner goes, since the module may still read it. Nothing more is sent.
  void AbandonedRun(std::unique_ptr<TECB> block);
  /// Keeps a block the module may still hold until the runner goes.
  void RetireBlock(std::unique_ptr<TECB> block);
  std::vector<TCachedModule>::iterator FindModule(std::string_view key);

  std::vector<TCachedModule> ModuleCache;
  mutable std::recursive_mutex CacheLock;
  std::atomic<bool> destroying_ = false;
  std::mutex retired_lock_;
  std::vector<std::unique_ptr<TECB>> retired_blocks_;  // faulted and abandoned runs
};

/// The cache key of a module path: the text after its last "/", "\" or ":".
std::string ModuleCacheKey(std::string_view module_path);

}  // namespace quenby
