// Reloading a cached module whose file was rebuilt: the old copy is unloaded as a stop
// unloads it, once the calls running in it have ended, and the next load maps the new file.
#include <dlfcn.h>

#include <chrono>

#include "isapi/isapi_runner.h"

namespace quenby {
namespace {

// Whether the loader still holds an image for `path` (a module marked to stay loaded, or
// one that holds itself).
bool StillMapped(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) {
    while (dlerror() != nullptr) {
    }
    return false;
  }
  dlclose(handle);
  return true;
}

}  // namespace

void TISAPIRunner::UnloadIfChanged(TCacheLock& lock, const std::string& key) {
  auto cached = FindModule(key);
  if (cached == ModuleCache.end() || FileIdentity(cached->Path) == cached->Identity)
    return;
  void* const old_handle = cached->Entry.Handle;
  // The loader hands out the old image for the same path while anything holds it, so the
  // new file can be loaded only once the old copy is closed.
  if (!cached->ReloadStalled) {
    run_ended_.wait_for(lock, std::chrono::milliseconds(ReloadWaitTime), [&] {
      const auto now = FindModule(key);
      return now == ModuleCache.end() || now->Entry.Handle != old_handle || RunsIn(old_handle) == 0;
    });
  }
  cached = FindModule(key);
  if (cached == ModuleCache.end() || cached->Entry.Handle != old_handle)
    return;  // another request has reloaded it meanwhile
  const std::string path = cached->Path;
  if (RunsIn(old_handle) > 0) {
    if (!cached->ReloadStalled && OnModuleReload)
      OnModuleReload(*this, path, TReloadState::HeldBack);
    cached->ReloadStalled = true;
    return;
  }
  if (OnModuleReload)
    OnModuleReload(*this, path, TReloadState::Reloading);
  UnloadModule(key);
  if (StillMapped(path) && OnModuleReload)
    OnModuleReload(*this, path, TReloadState::StaysLoaded);
}

}  // namespace quenby
