#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "console/command_line.h"
#include "util/stop_signals.h"  // TStopSignals, which a headless run waits on

namespace quenby {

class TServerConsole;

/// Exit code of a run whose server could not be started or stopped.
constexpr int kFailureExitCode = 1;

/// True when a window could be shown: DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM is set and not
/// empty.
bool DisplayAvailable();

/// Runs the console without a window: loads the settings with the options applied, starts at once,
/// prints every status line to `out` (one per line, flushed) and, after a successful start,
/// "Listening on http://HOST:PORT/" with the bound port. Then waits for `wait_for_stop` to return,
/// stops and returns 0. A start that leaves the server inactive returns kFailureExitCode, as do
/// settings that cannot be read. Errors that are not status lines (a status line that cannot be
/// logged) go to `err`. Never writes the settings file. Main thread only.
int RunHeadless(TServerConsole& console, const TCommandLine& options, std::ostream& out,
                std::ostream& err, const std::function<void()>& wait_for_stop);

/// The "Listening on" line for a host and port; an empty host listens on every address.
std::string ListeningLine(const std::string& host, int port);

}  // namespace quenby
