#include "window/window_library.h"

#include <dlfcn.h>

#include <filesystem>
#include <ostream>

#include "console/headless_runner.h"
#include "util/file_system.h"

namespace quenby {

namespace {

using TWindowEntry = decltype(&QuenbyRunWindow);

// Takes the loader's error text, without the file name it starts with (the line names the file
// already). Reading it twice frees the C library's record at once.
std::string TakeLoaderError(const std::string& path) {
  const char* error = dlerror();
  std::string reason = error != nullptr ? error : "unknown error";
  while (dlerror() != nullptr) {
  }
  const std::string prefix = path + ": ";
  if (reason.starts_with(prefix)) {
    reason.erase(0, prefix.size());
  }
  return reason;
}

}  // namespace

std::vector<std::string> WindowLibraryCandidates(const std::string& executable_path) {
  const std::filesystem::path folder = std::filesystem::path(executable_path).parent_path();
  return {(folder / WindowLibraryName).string(),
          (folder.parent_path() / "lib" / "quenby" / WindowLibraryName).string()};
}

int RunWindowLibrary(int& argc, char** argv, const TCommandLine& options,
                     TStopSignals& stop_signals, std::ostream& err) {
  const std::vector<std::string> candidates = WindowLibraryCandidates(ExecutablePath());
  std::string path;
  for (const std::string& candidate : candidates) {
    if (IsRegularFile(candidate)) {
      path = candidate;
      break;
    }
  }
  // Loaded with the library missing too, so that the line carries the loader's own reason.
  const bool missing = path.empty();
  if (missing) {
    path = candidates.front();
  }
  // No fallback to a headless run: the window was asked for, and a program started from a menu
  // would then serve with nothing on screen to show or stop it. The line says how to run without.
  const auto fail = [&](const std::string& reason) {
    err << "quenby: cannot load the window library " << path << ": " << reason;
    if (missing) {
      err << " (nor found at " << candidates.back() << ")";
    }
    err << "; --headless runs without the window" << std::endl;
    return FailureExitCode;
  };
  // Never closed: Qt's exit handlers run after the window has returned.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    return fail(TakeLoaderError(path));
  }
  const auto entry = reinterpret_cast<TWindowEntry>(dlsym(library, WindowEntryName));
  if (entry == nullptr) {
    return fail(TakeLoaderError(path));
  }
  return entry(&argc, argv, &options, &stop_signals);
}

}  // namespace quenby
