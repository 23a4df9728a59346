#pragma once

#include <csignal>
#include <functional>
#include <iosfwd>
#include <string>

#include "console/command_line.h"

namespace quenby {

class TServerConsole;

/// Exit code of a run whose server could not be started or stopped.
constexpr int kFailureExitCode = 1;

/// Blocks SIGINT and SIGTERM for the calling thread and every thread it creates from now on, so
/// that they stay pending until Wait takes them. Create it on the main thread before any other
/// thread exists; the destructor restores the previous mask.
class TStopSignals {
 public:
  TStopSignals();
  ~TStopSignals();
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

  /// Waits until SIGINT or SIGTERM arrives and returns its number.
  int Wait();
  /// Unblocks both signals again on the calling thread, so that a further one ends the process
  /// at once instead of waiting for a stop that may never finish.
  void Release();

 private:
  sigset_t stop_set_;
  sigset_t previous_set_;
};

/// True when a window could be shown: DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM is set and not
/// empty.
bool DisplayAvailable();

/// Runs the console without a window: loads the settings with the options applied, starts at once,
/// prints every status line to `out` (one per line, flushed) and, after a successful start,
/// "Listening on http://HOST:PORT/" with the bound port. Then waits for `wait_for_stop` to return,
/// stops and returns 0. A start that leaves the server inactive returns kFailureExitCode, as do
/// settings that cannot be read. Errors that are not status lines (a status line that cannot be
/// logged) go to `err`. Never writes the settings file. Main thread only.
/// Serving TLS, the line says "https://"; a self-signed certificate's fingerprint follows it.
int RunHeadless(TServerConsole& console, const TCommandLine& options, std::ostream& out,
                std::ostream& err, const std::function<void()>& wait_for_stop);

/// The "Listening on" line for the server's address (TServerConsole::BaseURL).
std::string ListeningLine(const std::string& base_url);

}  // namespace quenby
