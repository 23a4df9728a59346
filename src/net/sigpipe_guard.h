#pragma once

#include <signal.h>

#include <ctime>

namespace quenby {

// sendfile(2) has no flag against SIGPIPE: the signal is blocked on this thread for the call
// and a SIGPIPE it raised is taken off the thread's pending set before unblocking.
class TSigPipeGuard {
 public:
  TSigPipeGuard() {
    sigemptyset(&pipe_set_);
    sigaddset(&pipe_set_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_set_, &old_mask_);
  }
  ~TSigPipeGuard() {
    if (!was_pending_) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        const timespec no_wait{0, 0};
        sigtimedwait(&pipe_set_, nullptr, &no_wait);
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
  }
  TSigPipeGuard(const TSigPipeGuard&) = delete;
  TSigPipeGuard& operator=(const TSigPipeGuard&) = delete;

 private:
  sigset_t pipe_set_;
  sigset_t old_mask_;
  bool was_pending_ = false;
};

}  // namespace quenby
