#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "console/command_line.h"
#include "util/stop_signals.h"  // TStopSignals, which a headless run waits on

namespace quenby {

class TServerConsole;

/// Exit code of a run whose server could not be started or stopped.
constexpr int FailureExitCode = 1;

/// Environment variable that replaces the stop's wait for the peer threads
/// (ConsoleTerminateWaitTime) in a headless run: a testing aid, so that a test of a stop that
/// cannot end need not wait for the whole default.
inline constexpr const char* StopWaitVariable = "QUENBY_STOP_WAIT_MS";

/// The stop wait in ms that `value` (the variable's text, null when unset) asks for: a whole
/// number above 0, else `fallback` (0 would end the stop at once and leave peer threads running).
int StopWaitTime(const char* value, int fallback);

/// True when a window could be shown: DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM is set and not
/// empty.
bool DisplayAvailable();

/// Runs the console without a window: loads the settings with the options applied, starts at once,
/// prints every status line to `out` (one per line, flushed) and, after a successful start,
/// "Listening on http://HOST:PORT/" with the bound port. Then waits for `wait_for_stop` to return,
/// stops and returns 0. A start that leaves the server inactive returns FailureExitCode, as do
/// settings that cannot be read and a stop that leaves it active. A wait in StopWaitVariable
/// replaces the server's stop wait. Errors that are not status lines (a status line that cannot
/// be logged) go to `err`. Never writes the settings file. Main thread only.
/// Serving TLS, the line says "https://"; a self-signed certificate's fingerprint follows it.
int RunHeadless(TServerConsole& console, const TCommandLine& options, std::ostream& out,
                std::ostream& err, const std::function<void()>& wait_for_stop);

/// The "Listening on" line for the server's address (TServerConsole::BaseURL).
std::string ListeningLine(const std::string& base_url);

}  // namespace quenby
