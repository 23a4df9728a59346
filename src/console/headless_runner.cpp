#include "console/headless_runner.h"

#include <pthread.h>

#include <cstdlib>
#include <ostream>

#include "console/server_console.h"
#include "util/exception.h"

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

TStopSignals::TStopSignals() {
  sigemptyset(&stop_set_);
  sigaddset(&stop_set_, SIGINT);
  sigaddset(&stop_set_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_set_, &previous_set_);
}

TStopSignals::~TStopSignals() {
  pthread_sigmask(SIG_SETMASK, &previous_set_, nullptr);
}

int TStopSignals::Wait() {
  int signal_number = 0;
  while (sigwait(&stop_set_, &signal_number) != 0) {
  }
  return signal_number;
}

void TStopSignals::Release() {
  pthread_sigmask(SIG_UNBLOCK, &stop_set_, nullptr);
}

bool DisplayAvailable() {
  return VariableSet("DISPLAY") || VariableSet("WAYLAND_DISPLAY") || VariableSet("QT_QPA_PLATFORM");
}

std::string ListeningLine(const std::string& base_url) {
  return "Listening on " + base_url;
}

int RunHeadless(TServerConsole& console, const TCommandLine& options, std::ostream& out,
                std::ostream& err, const std::function<void()>& wait_for_stop) {
  console.OnStatus = [&out](const std::string& line) { out << line << std::endl; };
  try {
    console.FormCreate(options);
  } catch (const std::exception& e) {
    PrintError(err, e);
    return kFailureExitCode;
  }
  console.FormShow();
  try {
    console.btnStartClick();
  } catch (const std::exception& e) {
    // The status line could not be logged; a server that did start keeps running.
    PrintError(err, e);
  }
  if (!console.HTTPServer.Active()) {
    return kFailureExitCode;
  }
  out << ListeningLine(console.BaseURL()) << std::endl;
  if (!console.SelfSignedFingerprint().empty()) {
    out << FingerprintLabel << console.SelfSignedFingerprint() << std::endl;
  }
  wait_for_stop();
  try {
    console.btnStopClick();
  } catch (const std::exception& e) {
    PrintError(err, e);
  }
  return console.HTTPServer.Active() ? kFailureExitCode : 0;
}

}  // namespace quenby
