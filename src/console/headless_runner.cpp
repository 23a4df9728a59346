#include "console/headless_runner.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <ostream>

#include "console/server_console.h"
#include "util/exception.h"
#include "util/text.h"

namespace quenby {

namespace {

constexpr const char* FingerprintLabel = "Certificate SHA-256 fingerprint: ";

bool VariableSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

void PrintError(std::ostream& err, const std::exception& e) {
  err << "quenby: " << ExceptionClassName(e) << ": " << e.what() << std::endl;
}

}  // namespace

int StopWaitTime(const char* value, int fallback) {
  int wait = 0;
  return value != nullptr && TryStrToInt(value, wait) && wait > 0 ? wait : fallback;
}

bool DisplayAvailable() {
  return VariableSet("DISPLAY") || VariableSet("WAYLAND_DISPLAY") || VariableSet("QT_QPA_PLATFORM");
}

std::string ListeningLine(const std::string& base_url) {
  return "Listening on " + base_url;
}

int RunHeadless(TServerConsole& console, const TCommandLine& options, std::ostream& out,
                std::ostream& err, const std::function<void()>& wait_for_stop) {
  // Status lines come from this thread, notes from peer threads: one line at a time.
  auto out_lock = std::make_shared<std::mutex>();
  const auto print = [&out, out_lock](const std::string& line) {
    std::lock_guard<std::mutex> guard(*out_lock);
    out << line << std::endl;
  };
  console.OnStatus = print;
  console.OnServerNote = print;
  console.OnWarning = [&err](const std::string& line) { err << "quenby: " << line << std::endl; };
  console.HTTPServer.TerminateWaitTime =
      StopWaitTime(std::getenv(StopWaitVariable), console.HTTPServer.TerminateWaitTime);
  try {
    console.FormCreate(options);
  } catch (const std::exception& e) {
    PrintError(err, e);
    return FailureExitCode;
  }
  console.FormShow();
  try {
    console.btnStartClick();
  } catch (const std::exception& e) {
    // The status line could not be logged; a server that did start keeps running.
    PrintError(err, e);
  }
  if (!console.HTTPServer.Active()) {
    return FailureExitCode;
  }
  print(ListeningLine(console.BaseURL()));
  if (!console.SelfSignedFingerprint().empty()) {
    print(FingerprintLabel + console.SelfSignedFingerprint());
  }
  wait_for_stop();
  try {
    console.btnStopClick();
  } catch (const std::exception& e) {
    PrintError(err, e);
  }
  return console.HTTPServer.Active() ? FailureExitCode : 0;
}

}  // namespace quenby
