#pragma once

#include <memory>
#include <vector>

#include "net/thread_mgr.h"

namespace quenby {

/// Idle threads a pool keeps by default; a thread returned beyond that ends.
constexpr int DefaultPoolIdleLimit = 64;

/// A thread manager that keeps the threads whose connection ended parked, and hands them
/// out again, so that a new connection does not pay for creating an OS thread. Its threads
/// stop with skSuspend: a connection's end parks the thread instead of ending it. A reused
/// thread starts its next connection as a new thread would (PrepareRun with the new
/// connection, Data empty, stop flag clear). A thread that ended in an exception, one
/// returned by another thread, or one beyond the idle limit is freed as TThreadMgrDefault
/// frees it. TerminateThreads ends every idle thread and frees the threads returned after
/// it, until the next AcquireThread.
class TThreadMgrPool : public TThreadMgr {
 public:
  explicit TThreadMgrPool(int idle_limit = DefaultPoolIdleLimit);
  ~TThreadMgrPool() override;

  std::unique_ptr<TNetThread> MakeThread() override;
  TNetThread* AcquireThread() override;
  void ReturnThread(TNetThread* thread) override;
  void TerminateThreads() override;

  /// Parked threads waiting for a connection.
  int IdleCount() const;

 private:
  // Called with managed_lock_ held.
  bool KeepsIdle(const TNetThread& thread) const;

  const int idle_limit_;
  bool closing_ = false;                                   // guarded by managed_lock_
  std::vector<std::unique_ptr<TNetThread>> idle_threads_;  // guarded by managed_lock_
};

}  // namespace quenby
