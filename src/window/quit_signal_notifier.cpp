#include "window/quit_signal_notifier.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "util/exception.h"
#include "util/stop_signals.h"

namespace quenby {

TQuitSignalNotifier::TQuitSignalNotifier(TStopSignals& stop_signals, std::function<void()> on_quit)
    : stop_signals_(stop_signals), on_quit_(std::move(on_quit)) {
  sigset_t quit_set;
  sigemptyset(&quit_set);
  sigaddset(&quit_set, SIGINT);
  sigaddset(&quit_set, SIGTERM);
  fd_ = signalfd(-1, &quit_set, SFD_CLOEXEC | SFD_NONBLOCK);
  if (fd_ < 0) {
    RaiseLastOSError("Cannot watch the stop signals");
  }
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                   [this] { TakeSignal(); });
}

TQuitSignalNotifier::~TQuitSignalNotifier() {
  notifier_.reset();
  close(fd_);
}

void TQuitSignalNotifier::TakeSignal() {
  signalfd_siginfo info{};
  ssize_t got = 0;
  while ((got = read(fd_, &info, sizeof info)) < 0 && errno == EINTR) {
  }
  if (got != static_cast<ssize_t>(sizeof info)) {
    return;
  }
  if (quit_asked_) {
    // The default action of the signal ends the process once it is no longer blocked.
    stop_signals_.Release();
    raise(static_cast<int>(info.ssi_signo));
    return;
  }
  quit_asked_ = true;
  on_quit_();
}

}  // namespace quenby
