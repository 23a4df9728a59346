#pragma once

#include "console/command_line.h"

namespace quenby {

class TStopSignals;

/// Runs the program with its window: creates the application and the console, opens the window
/// with the options in its fields, and runs the event loop until the window has closed (which
/// stops the server and saves the settings). SIGINT and SIGTERM close the window the same way.
/// Returns the exit code: 0, or FailureExitCode when the settings cannot be loaded. `argc` and
/// `argv` go to the application, which may take its own options out of them. Main thread only,
/// once per process.
int RunWindow(int& argc, char** argv, const TCommandLine& options, TStopSignals& stop_signals);

}  // namespace quenby
