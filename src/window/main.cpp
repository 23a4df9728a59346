// quenby: the desktop web server. Opens its window where a display exists, else runs headless.
#include <cstdlib>
#include <iostream>

#include "console/command_line.h"
#include "console/console_settings.h"
#include "console/headless_runner.h"
#include "console/server_console.h"
#include "util/exception.h"
#include "util/file_system.h"
#include "window/window_library.h"

int main(int argc, char* argv[]) {
  using namespace quenby;
  // Before any thread exists, so that every thread inherits the blocked stop signals.
  TStopSignals stop_signals;
  // Every connection holds a descriptor: the usual soft limit of 1024 would refuse clients
  // long before memory or threads run out.
  RaiseOpenFileLimit();
  const TCommandLineResult parsed = ParseCommandLine(argc, argv);
  if (!parsed.Ok()) {
    std::cerr << "quenby: " << parsed.Error << "\n" << Usage();
    return UsageExitCode;
  }
  if (parsed.Options.Help) {
    std::cout << Usage();
    return 0;
  }
  if (!parsed.Options.Headless && DisplayAvailable()) {
    // Qt comes in with the window library, loaded here only: a headless server never maps it.
    return RunWindowLibrary(argc, argv, parsed.Options, stop_signals, std::cerr);
  }
  if (!parsed.Options.Headless) {
    std::cerr << "quenby: no display (DISPLAY, WAYLAND_DISPLAY and "
                 "QT_QPA_PLATFORM are unset);"
                 " running headless"
              << std::endl;
  }
  try {
    TServerConsole console(ExecutablePath());
    const int code = RunHeadless(console, parsed.Options, std::cout, std::cerr, [&stop_signals] {
      stop_signals.Wait();
      // A second stop signal ends a stop that hangs on a module.
      stop_signals.Release();
    });
    if (console.HTTPServer.Active()) {
      // The stop left peer threads behind (a module that never finishes): tearing the server
      // down would wait for them for good, and unloading their modules under them is unsafe.
      std::cout.flush();
      std::cerr.flush();
      std::_Exit(code);
    }
    return code;
  } catch (const std::exception& e) {
    std::cerr << "quenby: " << ExceptionClassName(e) << ": " << e.what() << std::endl;
    return FailureExitCode;
  }
}
