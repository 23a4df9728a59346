// Renders the real window to a PNG file for the README and for checking the layout at other scale
// factors (QT_SCALE_FACTOR). scripts/screenshot.sh runs it.
//   quenby_window_screenshot --output FILE [--state initial|running|stopped] [quenby options...]
// "running" presses Start, "stopped" Start and then Stop; both fail when the server cannot start.
#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <iostream>
#include <string>
#include <vector>

#include "console/command_line.h"
#include "console/console_settings.h"
#include "console/headless_runner.h"
#include "console/server_console.h"
#include "window/main_window.h"

int main(int argc, char** argv) {
  using namespace quenby;
  std::string output;
  std::string state = "initial";
  std::vector<std::string> quenby_arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--output" && i + 1 < argc) {
      output = argv[++i];
    } else if (argument == "--state" && i + 1 < argc) {
      state = argv[++i];
    } else {
      quenby_arguments.push_back(argument);
    }
  }
  const TCommandLineResult parsed = ParseCommandLine(quenby_arguments);
  if (output.empty() || !parsed.Ok() ||
      (state != "initial" && state != "running" && state != "stopped")) {
    std::cerr << "usage: quenby_window_screenshot --output FILE [--state initial|running|stopped]"
                 " [quenby options...]\n"
              << parsed.Error << "\n";
    return UsageExitCode;
  }
  int qt_argc = 1;
  QApplication application(qt_argc, argv);
  TServerConsole console(ExecutablePath());
  TdlgMain window(console, parsed.Options);
  window.show();
  QApplication::processEvents();
  if (state != "initial") {
    window.findChild<QPushButton*>(QStringLiteral("btnStart"))->click();
    if (!console.HTTPServer.Active()) {
      std::cerr << "quenby_window_screenshot: the server did not start: "
                << console.StatusLines().back() << "\n";
      return FailureExitCode;
    }
  }
  if (state == "stopped") {
    window.findChild<QPushButton*>(QStringLiteral("btnStop"))->click();
  }
  QApplication::processEvents();
  if (!window.grab().save(QString::fromStdString(output), "PNG")) {
    std::cerr << "quenby_window_screenshot: cannot write " << output << "\n";
    return FailureExitCode;
  }
  return 0;
}
