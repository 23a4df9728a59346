#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "net/net_thread.h"

namespace quenby {

/// Makes a new thread object, created suspended: the "thread class" of a manager.
using TThreadClass = std::function<std::unique_ptr<TNetThread>()>;

/// Source of peer threads. The threads it hands out are listed in ManagedThreads and owned
/// by the manager until they are returned. AcquireThread and ReturnThread may be called
/// from any thread. Shared ownership (std::shared_ptr) lets a thread that returns itself
/// keep its manager alive until it is done.
class TThreadMgr {
 public:
  TThreadMgr() = default;
  /// Ends (terminates and waits for) threads still listed, then frees them.
  virtual ~TThreadMgr();
  TThreadMgr(const TThreadMgr&) = delete;
  TThreadMgr& operator=(const TThreadMgr&) = delete;

  /// Set by the server at every activation, before any thread is acquired.
  TThreadClass ThreadClass;
  int NewThreadPriority = 0;

  /// A new thread of ThreadClass, created suspended. Raises EThreadClassNotSpecified.
  virtual std::unique_ptr<TNetThread> MakeThread();
  /// A thread to run a connection on, listed in ManagedThreads (the manager owns it).
  virtual TNetThread* AcquireThread() = 0;
  /// Takes a thread back; see TThreadMgrDefault.
  virtual void ReturnThread(TNetThread* thread) = 0;
  /// Hook for managers that keep idle threads; nothing here.
  virtual void TerminateThreads() {}

  /// Number of threads handed out and not yet returned.
  int ManagedCount() const;
  bool IsManaged(const TNetThread* thread) const;

 protected:
  /// Removes the thread from ManagedThreads and hands it over; null when it is not listed.
  /// Called with managed_lock_ held.
  std::unique_ptr<TNetThread> TakeManaged(TNetThread* thread);
  /// Frees a thread taken back: from the thread itself, it frees itself when its body ends;
  /// from another thread, a running thread is terminated and waited for, a suspended one
  /// is freed without running on.
  static void FreeReturned(std::unique_ptr<TNetThread> thread);

  mutable std::mutex managed_lock_;  // guards managed_threads_ (ManagedThreads)
  std::vector<std::unique_ptr<TNetThread>> managed_threads_;
};

/// One new OS thread per connection, never pooled: every thread returned is freed.
class TThreadMgrDefault : public TThreadMgr {
 public:
  TNetThread* AcquireThread() override;
  /// From the thread itself: it frees itself when its body ends. From another thread: a
  /// running thread is terminated and waited for, then freed; a suspended one is freed
  /// without running. Threads not listed are ignored.
  void ReturnThread(TNetThread* thread) override;
};

}  // namespace quenby
