#include "util/stop_signals.h"

#include <pthread.h>
#include <signal.h>

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

}  // namespace quenby
