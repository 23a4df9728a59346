#include "util/stop_signals.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

#include "util/exception.h"

namespace quenby {

struct TStopSignals::TMasks {
  sigset_t stop_set;
  sigset_t previous_set;
};

TStopSignals::TStopSignals() : masks_(std::make_unique<TMasks>()) {
  sigemptyset(&masks_->stop_set);
  sigaddset(&masks_->stop_set, SIGINT);
  sigaddset(&masks_->stop_set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &masks_->stop_set, &masks_->previous_set);
}

TStopSignals::~TStopSignals() {
  pthread_sigmask(SIG_SETMASK, &masks_->previous_set, nullptr);
}

int TStopSignals::Wait() {
  int signal_number = 0;
  while (sigwait(&masks_->stop_set, &signal_number) != 0) {
  }
  return signal_number;
}

void TStopSignals::Release() {
  pthread_sigmask(SIG_UNBLOCK, &masks_->stop_set, nullptr);
}

TFileHandle TStopSignals::OpenDescriptor() {
  TFileHandle descriptor(signalfd(-1, &masks_->stop_set, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!descriptor.IsOpen()) {
    RaiseLastOSError("Cannot watch the stop signals");
  }
  return descriptor;
}

int TStopSignals::TakeFromDescriptor(int descriptor) {
  signalfd_siginfo info{};
  ssize_t got = 0;
  while ((got = read(descriptor, &info, sizeof info)) < 0 && errno == EINTR) {
  }
  return got == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
}

void TStopSignals::RaiseAgain(int signal_number) {
  raise(signal_number);
}

}  // namespace quenby
