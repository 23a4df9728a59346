#pragma once

#include <quenby/isapi.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "util/file_system.h"

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
/// What became of a cached module whose file changed (ReloadModules).
enum class TReloadState {
  Reloading,    ///< unloaded; its next load maps the new file
  HeldBack,     ///< calls still run in the old copy, which serves until they end
  StaysLoaded,  ///< unloaded, but the loader keeps the old image (the module asked to stay)
};
/// Raised when a changed module is reloaded or cannot be yet.
using TOnModuleReload =
    std::function<void(TISAPIRunner& Sender, const std::string& AModuleName, TReloadState AState)>;
/// Raised with one line of a module trace; runs on the thread that made the call, so
/// handlers must be thread-safe.
using TOnModuleTrace = std::function<void(TISAPIRunner& Sender, const std::string& ALine)>;
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
  /// How long a request for a rebuilt module waits for the calls still running in its old
  /// copy, in ms, before the old copy serves it (and the reload waits for a later request).
  static constexpr int DefaultReloadWaitTime = 10000;

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
  /// Raised with the module's file path when a cached module whose file changed is unloaded
  /// to be loaded anew, or cannot be (ReloadModules); under the cache's lock, so it must not
  /// call back into the runner.
  TOnModuleReload OnModuleReload;
  /// Told every trace line while TraceModules is on.
  TOnModuleTrace OnModuleTrace;

  /// Whether a cached module whose file changed since its load (device, inode, size or
  /// modification time) is unloaded and loaded anew at its next request. Set while no run
  /// is in progress.
  std::atomic<bool> ReloadModules = false;
  /// See DefaultReloadWaitTime.
  int ReloadWaitTime = DefaultReloadWaitTime;
  /// Whether every call into a module and every callback is told to OnModuleTrace.
  std::atomic<bool> TraceModules = false;

  /// Tells OnModuleTrace the line `tag` + " " + `text`. Any thread.
  void Trace(std::string_view tag, std::string_view text);

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
    std::string Path;            // the file it was loaded from
    TFileIdentity Identity;      // of that file when it was loaded
    bool ReloadStalled = false;  // calls in the old copy held a reload back
  };
  using TCacheLock = std::unique_lock<std::recursive_mutex>;

  /// Finds or loads the module under CacheLock; a null Handle when it cannot be loaded.
  TModuleEntry AcquireModule(const std::string& module_path, const std::string& key,
                             bool drop_module_after_use, THTTPRequestInfo& request,
                             THTTPResponseInfo& response);
  /// Loads the module anew; a null Handle when it cannot be loaded (404 on `response`).
  TModuleEntry LoadModule(const std::string& module_path, const std::string& key,
                          bool drop_module_after_use, THTTPRequestInfo& request,
                          THTTPResponseInfo& response);
  /// With ReloadModules: unloads the cached module of `key` when its file changed, once the
  /// calls in its old copy have ended (waiting up to ReloadWaitTime for them). Leaves it
  /// cached when they have not.
  void UnloadIfChanged(TCacheLock& lock, const std::string& key);
  /// The run that acquired `handle` has ended.
  void ReleaseModule(void* handle);
  std::size_t RunsIn(void* handle) const;
  /// Asks the version and runs the module. True when anything reached the client during
  /// the run (a header block or a file).
  bool CallModule(const TModuleEntry& module, const std::string& module_path, TPeerThread& thread,
                  THTTPRequestInfo& request, THTTPResponseInfo& response,
                  const std::string& directory, const std::string& path_info,
                  const std::string& trace_tag);
  /// The version call; false (and the reply's status set) when it failed.
  bool AskVersion(const TModuleEntry& module, const std::string& module_path,
                  THTTPRequestInfo& request, THTTPResponseInfo& response,
                  const std::string& trace_tag);
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
  // Runs in progress by loaded image, and its signal when one ends; under CacheLock.
  std::vector<void*> running_;
  std::condition_variable_any run_ended_;
  std::atomic<std::uint64_t> last_run_ = 0;  // numbers runs in trace lines
  std::atomic<bool> destroying_ = false;
  std::mutex retired_lock_;
  std::vector<std::unique_ptr<TECB>> retired_blocks_;  // faulted and abandoned runs
};

/// The cache key of a module path: the text after its last "/", "\" or ":".
std::string ModuleCacheKey(std::string_view module_path);

}  // namespace quenby
