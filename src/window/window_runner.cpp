#include "window/window_runner.h"

#include <QApplication>
#include <QMessageBox>
#include <QSessionManager>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "console/console_settings.h"
#include "console/headless_runner.h"
#include "console/server_console.h"
#include "util/exception.h"
#include "window/main_window.h"
#include "window/quit_signal_notifier.h"
#include "window/window_icon.h"

namespace quenby {

namespace {

// Matches the installed .desktop file, so that desktops find the window's launcher and icon.
constexpr const char* DesktopFileName = "quenby";

std::string FailureText(const std::exception& e) {
  return ExceptionClassName(e) + ": " + e.what();
}

}  // namespace

int RunWindow(int& argc, char** argv, const TCommandLine& options, TStopSignals& stop_signals) {
  QApplication application(argc, argv);
  QGuiApplication::setDesktopFileName(QString::fromUtf8(DesktopFileName));
  QApplication::setWindowIcon(QuenbyIcon());
  TServerConsole console(ExecutablePath());
  std::unique_ptr<TdlgMain> window;
  try {
    window = std::make_unique<TdlgMain>(console, options);
  } catch (const std::exception& e) {
    std::cerr << "quenby: " << FailureText(e) << std::endl;
    QMessageBox::critical(nullptr, QString::fromUtf8(WindowCaption),
                          QString::fromStdString(e.what()));
    return FailureExitCode;
  }
  TQuitSignalNotifier quit_signals(stop_signals, [&window] { window->close(); });
  // The desktop ending the session closes the window as its close box does; a close refused
  // (the settings could not be saved) asks the desktop to wait while the user decides.
  QObject::connect(&application, &QGuiApplication::commitDataRequest, &application,
                   [&window](QSessionManager& manager) {
                     if (window->isVisible() && !window->close() && manager.allowsInteraction()) {
                       manager.cancel();
                     }
                   });
  window->show();
  const int code = QApplication::exec();
  window.reset();
  if (console.HTTPServer.Active()) {
    // The stop left peer threads behind (a module that never finishes): tearing the server down
    // would wait for them for good, and unloading their modules under them is unsafe.
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(FailureExitCode);
  }
  return code;
}

}  // namespace quenby
