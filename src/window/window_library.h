#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "console/command_line.h"

namespace quenby {
class TStopSignals;
}  // namespace quenby

/// The window library's one entry point: runs the program with its window, as RunWindow does, and
/// returns the exit code. C linkage, so that the program finds it by this name; the program and
/// the library come from one build, which is what lets the C++ types pass.
extern "C" int QuenbyRunWindow(int* argc, char** argv, const quenby::TCommandLine* options,
                               quenby::TStopSignals* stop_signals);

namespace quenby {

/// File name of the shared object that holds the window and links Qt.
constexpr const char* WindowLibraryName = "quenby-window.so";
/// Name of the entry point in it.
constexpr const char* WindowEntryName = "QuenbyRunWindow";

/// Where the window library is looked for, in this order: beside the executable (a build tree),
/// then `PREFIX/lib/quenby/` for an executable in `PREFIX/bin/` (an install tree).
std::vector<std::string> WindowLibraryCandidates(const std::string& executable_path);

/// Loads the window library beside the running program and runs its entry point; the library
/// stays loaded until the process ends. When it cannot be loaded (missing, broken, without the
/// entry point), writes one line naming the file and the loader's reason to `err` and returns
/// FailureExitCode. Main thread only, once per process.
int RunWindowLibrary(int& argc, char** argv, const TCommandLine& options,
                     TStopSignals& stop_signals, std::ostream& err);

}  // namespace quenby
